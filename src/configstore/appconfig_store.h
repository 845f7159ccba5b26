// The hive: one top-level section of the configuration store as a tree of typed values,
// its "QMXC" file format (checked on load), and its durable, merging save.
//
// File layout, integers little-endian:
//   0  "QMXC"
//   4  u16 version (1)
//   6  u16 header size (24)
//   8  u32 record count
//  12  u32 body length (the file's size - 24)
//  16  u32 CRC-32 of the body
//  20  u32 CRC-32 of bytes 0..19
// Body: records, each
//   u8 kind, u16 path length, path bytes ("/"-separated below the hive's top section),
//   and for a value: u32 data length, data bytes.
// Kinds: 0x01 section (it exists, perhaps empty), 0x11/0x12/0x14/0x18 an integer of
// 1/2/4/8 bytes, 0x20 text, 0x30 raw bytes. A valid file means the top section exists;
// a missing file means it does not.
#pragma once

#include "base/blockarena.h"
#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/stringkey.h"

class cConfigLock;
class cFileOps;

enum eConfigValueKinds {
    kCfgSection = 0x01,
    kCfgInt8 = 0x11,
    kCfgInt16 = 0x12,
    kCfgInt32 = 0x14,
    kCfgInt64 = 0x18,
    kCfgText = 0x20,
    kCfgBytes = 0x30
};

// Limits that bound what a hostile file can make us allocate or walk.
enum eConfigLimits {
    kCfgHeaderSize = 24,
    kCfgVersion = 1,
    kCfgMaxPath = 1024,        // bytes of a key below its hive
    kCfgMaxDepth = 64,         // sections on a key's path
    kCfgMaxTopName = 64,       // bytes of a top-level section name
    kCfgMaxFile = 64 << 20,    // bytes of a hive file
    kCfgMaxRecords = 1 << 20
};

struct sConfigValue {
    unsigned char kind = 0;
    _typebuf<unsigned char> data;
};

// A section: values and subsections by name (separate name spaces).
class cConfigSection {
public:
    cConfigSection() {}
    ~cConfigSection() { clear(); }
    cConfigSection(const cConfigSection&) = delete;
    cConfigSection& operator=(const cConfigSection&) = delete;

    void clear();
    bool empty() const { return myValues.empty() && mySubs.empty(); }
    void swap(cConfigSection& other) {
        myValues.swap(other.myValues);
        mySubs.swap(other.mySubs);
    }

    // The section at a relative path ("" is this one); with `create`, missing sections
    // are added. Null when absent (or out of memory).
    cConfigSection* walk(const char* path, long long length, bool create);
    cConfigSection* sub(const char* name, long long length, bool create);
    bool removeSub(const char* name, long long length);

    // With `create`, `isNew` (when given) tells whether the value was added.
    sConfigValue* value(const char* name, long long length, bool create, bool* isNew = nullptr);
    bool removeValue(const char* name, long long length);

    cFasterTreeList<cStringKey, sConfigValue>& values() { return myValues; }
    cFasterTreeList<cStringKey, cConfigSection*>& subs() { return mySubs; }

private:
    cFasterTreeList<cStringKey, sConfigValue> myValues;
    cFasterTreeList<cStringKey, cConfigSection*> mySubs;
};

// Splits a relative path "a/b/c" into its section part "a/b" and last name "c". False
// for an empty path, an empty component, too long or too deep a path, or a 0 byte.
bool cfgSplitPath(const char* path, long long length, long long& sectionLength, const char*& name,
                  long long& nameLength);
// Whether a relative section path is acceptable ("" is, meaning the hive's top).
bool cfgValidSectionPath(const char* path, long long length);

// Results of reading a hive file.
enum eHiveReadResults {
    kHiveOk = 0,       // read and valid
    kHiveAbsent = 1,   // no file
    kHiveDamaged = 2,  // present but not a valid hive (wrong magic, lengths, checksum, ...)
    kHiveNewer = 3,    // a later format version: left alone, never written over
    kHiveIOError = 4   // present but unreadable (rights, not a regular file, a link, ...)
};

// Parses hive bytes into `out` (cleared first). kHiveOk, kHiveDamaged or kHiveNewer.
int cfgParseHive(const unsigned char* data, long long size, cConfigSection& out);
// Encodes a top section (which exists) into file bytes.
bool cfgEncodeHive(cConfigSection& top, _typebuf<unsigned char>& out);

// The store's lock: a process-wide mutex (fcntl locks do not exclude threads or other
// store objects of one process) and an fcntl write lock on folder/.lock. Counted, so a
// holder may enter again.
class cConfigLock {
public:
    cConfigLock() {}
    ~cConfigLock();
    cConfigLock(const cConfigLock&) = delete;
    cConfigLock& operator=(const cConfigLock&) = delete;

    void setFolder(const char* folder);
    // False when the lock file cannot be opened or locked (nothing is then held).
    bool enter();
    void leave();

private:
    _guardchar<char> myPath;
    int myFd = -1;
    int myDepth = 0;
};

// One hive file: the loaded tree and the changes made since it was read.
class cConfigHive {
public:
    cConfigHive() {}
    ~cConfigHive();
    cConfigHive(const cConfigHive&) = delete;
    cConfigHive& operator=(const cConfigHive&) = delete;

    // The file is folder/<escaped name>.hive; the name is the top-level section. The
    // lock is the store's, taken to set a damaged file aside and to save.
    bool init(const char* folder, const char* name, cConfigLock* lock);
    const char* name() const { return myName.ptr; }
    const char* path() const { return myPath.ptr; }
    static bool fileNameOf(const char* name, _guardchar<char>& out);
    // The top-level name a file name stands for; false for files that are not hives.
    static bool nameOfFile(const char* fileName, _guardchar<char>& out);

    // Reads the file (once). A damaged file is set aside under the lock and reported in
    // `setAside`; the hive is then empty. Returns the eHiveReadResults of the read.
    int load(_guardchar<char>& setAside);
    bool loaded() const { return myLoaded; }
    int state() const { return myState; }

    bool exists() const { return myExists; }
    cConfigSection& top() { return myTop; }
    bool dirty() const { return myOpCount > 0; }

    // Changes: applied to the tree now and journaled for a merge at save time.
    bool setValue(const char* relPath, long long length, unsigned char kind, const void* data,
                  long long dataLength);
    bool removeValue(const char* relPath, long long length);
    bool removeSection(const char* relPath, long long length);

    // Writes the hive under the held lock: reads the file again and replays this
    // process's changes over what is there now (another process may have saved it).
    // False when the file could not be written (the changes are kept). `setAside`
    // reports a damaged file moved away.
    bool save(_guardchar<char>& setAside);

    // Forgets the tree and the changes; the next access reads the file again.
    void unload();

    // Test hook: called with the temporary file's path after it was written, before it
    // is flushed and renamed.
    typedef void (*tSaveHook)(const char* tempPath);
    static void setSaveHook(tSaveHook hook);
    // Test hook: the file operations that replace the hive and flush its folder (null: the
    // plain ones), so that a test can fail any of them.
    static void setFileOps(cFileOps* ops);

private:
    // What the file held when this process last read or wrote it: nothing, or its bytes'
    // size, header and checksum. A save that finds the same has no one else's change to
    // merge.
    struct sStamp {
        bool known = false;
        bool present = false;
        long long size = 0;
        unsigned char head[kCfgHeaderSize] = {};
        unsigned int adler = 0;
        bool same(const sStamp& o) const;
    };
    // The changes, oldest first: each names its key only (a set replays the value the
    // tree holds at save time: the last change of a key decides it).
    bool applyOp(cConfigSection& top, bool& exists, unsigned char op, const char* path, long long length);
    bool journal(unsigned char op, const char* path, long long length);
    int readBytes(_typebuf<unsigned char>& bytes, long long& got);
    bool readFile(cConfigSection& into, int& result, sStamp& stamp);
    bool setAsideFile(_guardchar<char>& setAside);
    void removeStaleTemps();
    bool writeFile(cConfigSection& top, bool exists, sStamp& stamp);
    void clearOps();

    _guardchar<char> myFolder, myName, myFile, myPath;
    cConfigSection myTop;
    bool myExists = false;
    bool myLoaded = false;
    int myState = kHiveAbsent;
    sStamp myStamp;
    // Each change is its kind, a u16 path length and the path; blocks double from 512 bytes
    // to 64 KiB, so a few changes cost little and many never move.
    cBlockArena<512, 65536> myOps;
    long long myOpCount = 0;
    cConfigLock* myLock = nullptr;
};
