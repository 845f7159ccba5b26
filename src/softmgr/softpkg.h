// cSoftPkg: the payload of a package, an ordered list of file bodies, each kept
// stored or as a zlib stream together with the SHA-256 of its plain bytes.
//
// An item's bytes live in one of three places: in memory; in the package's spool, a
// private unlinked temporary file that "make" fills so a payload of any size costs no
// memory; or in the packed body of a loaded scenario data file (cPkgBody), read only
// when the item is streamed. Streams of an item check its length and its digest.
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"
#include "base/lists.h"

class cPkgBody;
class cPkgBodyReader;

class cSoftPkg {
public:
    enum eWhere { eInMemory = 0, eInSpool = 1, eInBody = 2 };

    // 64 bytes: a package of a hundred thousand small files keeps one for each.
    struct sPkgItem {
        unsigned char digest[32] = {};  // SHA-256 of the plain bytes
        unsigned long long at = 0;      // offset of the stored bytes in the spool or the plain body
        unsigned long long stored = 0;  // stored length, wherever the bytes are
        unsigned char* data = nullptr;  // the `stored` bytes of an item in memory (malloc'ed, the package's)
        unsigned int unpackedSize = 0;  // 0: data is the plain bytes; else a zlib stream of this many
        unsigned char where = eInMemory;
        bool hashed = true;  // false for a spooled item until its digest is taken from the spool
    };

    // Most items a package carries: far beyond any real package, and it bounds the memory
    // a loaded payload takes (each item costs 64 bytes).
    static constexpr unsigned int kMaxItems = 1000000;
    // The index a file record gives an empty file: it has no item, reads as no bytes and
    // has the digest of no bytes. Never a real index (items stop at kMaxItems).
    static constexpr unsigned int kEmptyItem = 0x7FFFFFFF;
    // Most bytes the spool takes, record heads included: the scenario data file counts
    // its body in 32 bits, and its other sections need room too.
    static constexpr unsigned long long kMaxSpoolBytes = 0xFFFFFFFFULL - (64ULL << 20);

    cSoftPkg() {}
    ~cSoftPkg();
    cSoftPkg(const cSoftPkg&) = delete;
    cSoftPkg& operator=(const cSoftPkg&) = delete;

    // Frees every item, the spool and the loaded body.
    bool newPackage();
    // Appends the whole source; the new index, or -1. Fails unless exactly the
    // source's size was read, so a file that changes while read is not packed,
    // when the package already holds kMaxItems, or when the item would not fit the
    // wire form (over 4 GiB - 1) or the spool (kMaxSpoolBytes in all). An empty source
    // adds nothing and gives kEmptyItem. Stored items go to the spool, compressed ones
    // stay in memory.
    int addPkgItem(cFileIOTarget* source, bool compress);
    // Appends the file at `path` as a stored item, with the refusals of addPkgItem. A file
    // that fits goes with one read (its size and one byte more, so growth shows) into the
    // spool's piece in memory, which is written out whole when full. -1 on failure, with
    // `openError` the errno of a file that could not be opened, else 0.
    int addPkgFile(const char* path, int& openError);
    // The folder of the spool (default: $TMPDIR, else /tmp); set before the first item.
    void setSpoolFolder(const char* folder);

    // A read stream of the plain bytes (owned by the caller), or null. It yields exactly
    // the item's size; once it has, valid() tells whether the bytes had the item's digest.
    // A zlib item need not end its stream there. kEmptyItem gives an empty stream.
    cFileIOTarget* item(int index);
    // The plain bytes of an item kept as they are, as a window that starts near any
    // position it is set to (owned by the caller), with no check of length or digest: for
    // a caller that reads an item in pieces and takes its digest itself. Null for a zlib
    // item, an empty one or no item.
    cFileIOTarget* storedItem(int index);
    unsigned long long sizeOf(int index) const;
    // The plain bytes a reader started for the item inflates for nothing before its first
    // byte (from the body's nearest access point); 0 for an item that is not in the body.
    unsigned long long leadIn(int index) const;
    bool digest(int index, unsigned char out[32]) const;
    unsigned int count() const { return myCount; }
    // Stored length of an item (0 when there is no such item).
    unsigned long long storedSizeOf(int index) const;
    // The item itself (its digest taken), or null.
    const sPkgItem* itemAt(int index) const;

    // SHA-256 of the stream from its position to its end; false only for a null stream.
    static bool mkDigest(cFileIOTarget* source, unsigned char out[32]);

    // Wire form: records of u32 unpacked size, u32 stored length (> 0), digest, data;
    // then 8 zero bytes. False for an empty package, or when a stored byte cannot be read.
    bool savePackage(cFileIOTarget* target);
    // Replaces the list with the records read from the stream's position, into memory.
    // Lengths are checked against the bytes that remain, and the records counted (at most
    // kMaxItems), before anything is allocated.
    bool loadPackage(cFileIOTarget* source);

    // --- the loader of the scenario data file ---
    // The body the next appendBodyItem calls refer to (the package shares it).
    void useBody(cPkgBody* body);
    // Appends an item whose stored bytes are at plain offset `at` of that body.
    bool appendBodyItem(unsigned int unpackedSize, const unsigned char digest[32], unsigned long long at,
                        unsigned long long stored);

private:
    // The slot of the next item, empty (null without memory): append takes it in and
    // gives its index, dropItem empties it again for the next try.
    sPkgItem* newItem();
    void dropItem(sPkgItem* it);
    int append() { return (int)myCount++; }
    sPkgItem* slot(unsigned int i) const { return myBlocks.ptr[i / kBlockItems] + i % kBlockItems; }
    sPkgItem* find(int index) const {
        return index >= 0 && (unsigned int)index < myCount ? slot((unsigned int)index) : nullptr;
    }
    bool openSpool();
    // Writes the spool's piece out; every read of the spool comes after it.
    bool flushPiece() const;
    // Records a stored item whose `size` bytes now lie in the spool at `at`.
    void placedInSpool(sPkgItem* it, unsigned long long at, unsigned long long size);
    // A reader of an item's stored bytes (owned by the caller), or null.
    cFileIOTarget* storedBytes(const sPkgItem* it);
    // Takes a spooled item's digest from the spool when it has none yet (make reads each
    // file once into the spool and leaves hashing to the writer, whose pipeline has the
    // time to spare); false when the spool cannot be read.
    bool settle(sPkgItem* it) const;

    // The items in blocks of kBlockItems, item i in block i / kBlockItems: looked up by
    // index (the file queries ask once per file record) and never moved.
    static constexpr unsigned int kBlockItems = 256;
    _typebuf<sPkgItem*> myBlocks;
    unsigned int myBlockCount = 0;
    unsigned int myCount = 0;
    int mySpool = -1;  // descriptor of the unlinked spool file
    unsigned long long mySpoolSize = 0;
    unsigned long long mySpoolUsed = 0;  // stored bytes and record heads
    // The end of the spool, [mySpoolSize - myPieceLen, mySpoolSize), gathered in memory.
    mutable _typebuf<unsigned char> myPiece;
    mutable long long myPieceLen = 0;
    mutable bool myPieceFailed = false;
    _guardchar<char> mySpoolFolder;
    cPkgBody* myBody = nullptr;
};
