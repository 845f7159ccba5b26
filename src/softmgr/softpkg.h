// cSoftPkg: the payload of a package, an ordered list of file bodies, each kept
// stored or as a zlib stream together with the SHA-256 of its plain bytes.
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"

class cSoftPkg {
public:
    struct sPkgItem {
        unsigned int unpackedSize = 0;  // 0: data is the plain bytes; else a zlib stream of this many
        unsigned char digest[32] = {};  // SHA-256 of the plain bytes
        _typebuf<unsigned char> data;
        sPkgItem* next = nullptr;
    };

    // Most items a package carries: far beyond any real package, and it bounds the memory
    // a loaded payload takes (each item costs about a hundred bytes beyond its data).
    static constexpr unsigned int kMaxItems = 1000000;

    cSoftPkg() {}
    ~cSoftPkg() { newPackage(); }
    cSoftPkg(const cSoftPkg&) = delete;
    cSoftPkg& operator=(const cSoftPkg&) = delete;

    bool newPackage();
    // Appends the whole source; the new index, or -1. Fails unless exactly the
    // source's size was read, so a file that changes while read is not packed,
    // and when the package already holds kMaxItems.
    int addPkgItem(cFileIOTarget* source, bool compress);
    // A read stream of the plain bytes (owned by the caller), or null.
    cFileIOTarget* item(int index);
    unsigned long long sizeOf(int index) const;
    bool digest(int index, unsigned char out[32]) const;
    unsigned int count() const { return myCount; }
    // Stored length of an item (0 when there is no such item).
    unsigned long long storedSizeOf(int index) const;
    // The item itself, or null.
    const sPkgItem* itemAt(int index) const { return find(index); }

    // SHA-256 of the stream from its position to its end; false only for a null stream.
    static bool mkDigest(cFileIOTarget* source, unsigned char out[32]);

    // Wire form: records of u32 unpacked size, u32 stored length (> 0), digest, data;
    // then 8 zero bytes. False (nothing written) for an empty package or an empty item,
    // which the wire form cannot carry.
    bool savePackage(cFileIOTarget* target) const;
    // Replaces the list with the records read from the stream's position. Lengths are
    // checked against the bytes that remain, and the records counted (at most kMaxItems),
    // before anything is allocated.
    bool loadPackage(cFileIOTarget* source);

private:
    sPkgItem* find(int index) const;
    int append(sPkgItem* it);

    sPkgItem* myHead = nullptr;
    sPkgItem* myTail = nullptr;
    unsigned int myCount = 0;
    // Item by index: the file queries look items up once per file record, and a
    // walk of the list each time would make a crafted package take quadratic time.
    _typebuf<sPkgItem*> myIndex;
};
