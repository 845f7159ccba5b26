// The hive file format and its durable save: write beside, fsync, rename, fsync the
// folder, all under the store's lock, merging with what another process saved.
#include "configstore/appconfig_store.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <new>

#include "base/byteorder.h"
#include "base/fileops.h"
#include "base/folders.h"
#include "base/strings.h"
#include "base/sync.h"

// ---------------------------------------------------------------------------------
// Helpers

namespace {

int valueWidth(unsigned char kind) {
    switch (kind) {
        case kCfgInt8: return 1;
        case kCfgInt16: return 2;
        case kCfgInt32: return 4;
        case kCfgInt64: return 8;
        case kCfgText:
        case kCfgBytes: return -1;  // any length
        default: return 0;         // not a value kind
    }
}

cCriticalSection& processSaveLock() {
    static cCriticalSection lock;
    return lock;
}

cConfigHive::tSaveHook gSaveHook = nullptr;
// What saves replace and flush with (null: the plain operations).
cFileOps* gFileOps = nullptr;

cFileOps* fileOps() { return gFileOps ? gFileOps : cFileOps::plain(); }

}  // namespace

// ---------------------------------------------------------------------------------
// Sections

void cConfigSection::clear() {
    for (auto* e = mySubs.first(); e; e = mySubs.next(e)) delete e->value();
    mySubs.destroy();
    myValues.destroy();
}

cConfigSection* cConfigSection::sub(const char* name, long long length, bool create) {
    cStringKey key(name, length);
    if (!create) {
        cConfigSection** s = mySubs.find(key);
        return s ? *s : nullptr;
    }
    cConfigSection** s = mySubs.insert(key);
    if (!s) return nullptr;
    if (!*s) {
        *s = new (std::nothrow) cConfigSection;
        if (!*s) {
            mySubs.dettach(key);
            return nullptr;
        }
    }
    return *s;
}

cConfigSection* cConfigSection::walk(const char* path, long long length, bool create) {
    cConfigSection* s = this;
    long long i = 0;
    while (s && i < length) {
        long long j = i;
        while (j < length && path[j] != '/') j++;
        s = s->sub(path + i, j - i, create);
        i = j + 1;
    }
    return s;
}

bool cConfigSection::removeSub(const char* name, long long length) {
    cStringKey key(name, length);
    auto* e = mySubs.findEntry(key);
    if (!e) return false;
    delete e->value();
    mySubs.dettach(e);
    return true;
}

sConfigValue* cConfigSection::value(const char* name, long long length, bool create, bool* isNew) {
    cStringKey key(name, length);
    if (!create) return myValues.find(key);
    bool n = false;
    sConfigValue* v = myValues.insert(key, n);
    if (isNew) *isNew = n;
    return v;
}

bool cConfigSection::removeValue(const char* name, long long length) {
    return myValues.dettach(cStringKey(name, length));
}

// ---------------------------------------------------------------------------------
// Paths

static bool checkComponents(const char* path, long long length, int maxComponents) {
    if (length < 0 || length > kCfgMaxPath) return false;
    if (length == 0) return true;
    int components = 1;
    if (path[0] == '/' || path[length - 1] == '/') return false;
    for (long long i = 0; i < length; i++) {
        if (path[i] == 0) return false;
        if (path[i] == '/') {
            if (path[i + 1] == '/') return false;  // i + 1 < length: the path does not end in '/'
            if (++components > maxComponents) return false;
        }
    }
    return true;
}

bool cfgValidSectionPath(const char* path, long long length) {
    return checkComponents(path, length, kCfgMaxDepth);
}

bool cfgSplitPath(const char* path, long long length, long long& sectionLength, const char*& name,
                  long long& nameLength) {
    if (length <= 0 || !checkComponents(path, length, kCfgMaxDepth + 1)) return false;
    long long slash = length - 1;
    while (slash >= 0 && path[slash] != '/') slash--;
    sectionLength = slash < 0 ? 0 : slash;
    name = path + slash + 1;
    nameLength = length - slash - 1;
    return true;
}

// ---------------------------------------------------------------------------------
// Parsing and encoding

int cfgParseHive(const unsigned char* data, long long size, cConfigSection& out) {
    out.clear();
    if (!data || size < kCfgHeaderSize || size > kCfgMaxFile) return kHiveDamaged;
    if (memcmp(data, "QMXC", 4) != 0) return kHiveDamaged;
    // Every version keeps this 24-byte header, so its checksum tells a newer file from a
    // damaged one.
    if ((unsigned int)crc32_z(0, data, 20) != le32(data + 20)) return kHiveDamaged;
    unsigned int version = le16(data + 4);
    if (version > kCfgVersion) return kHiveNewer;
    if (version == 0 || le16(data + 6) != kCfgHeaderSize) return kHiveDamaged;
    unsigned long long records = le32(data + 8);
    unsigned long long bodyLength = le32(data + 12);
    if (bodyLength != (unsigned long long)(size - kCfgHeaderSize)) return kHiveDamaged;
    // The smallest record is 4 bytes (kind, length, one path byte).
    if (records > kCfgMaxRecords || records > bodyLength / 4) return kHiveDamaged;
    const unsigned char* body = data + kCfgHeaderSize;
    if ((unsigned int)crc32_z(0, body, (z_size_t)bodyLength) != le32(data + 16)) return kHiveDamaged;

    unsigned long long pos = 0;
    for (unsigned long long r = 0; r < records; r++) {
        if (bodyLength - pos < 3) return kHiveDamaged;
        unsigned char kind = body[pos];
        unsigned long long pathLength = le16(body + pos + 1);
        pos += 3;
        if (pathLength == 0 || pathLength > kCfgMaxPath || bodyLength - pos < pathLength) return kHiveDamaged;
        const char* path = (const char*)body + pos;
        pos += pathLength;
        if (kind == kCfgSection) {
            if (!cfgValidSectionPath(path, (long long)pathLength)) return kHiveDamaged;
            if (!out.walk(path, (long long)pathLength, true)) return kHiveIOError;
            continue;
        }
        int width = valueWidth(kind);
        if (width == 0 || bodyLength - pos < 4) return kHiveDamaged;
        unsigned long long dataLength = le32(body + pos);
        pos += 4;
        if (bodyLength - pos < dataLength) return kHiveDamaged;
        if (width > 0 && dataLength != (unsigned long long)width) return kHiveDamaged;
        long long sectionLength, nameLength;
        const char* name;
        if (!cfgSplitPath(path, (long long)pathLength, sectionLength, name, nameLength)) return kHiveDamaged;
        cConfigSection* s = out.walk(path, sectionLength, true);
        if (!s) return kHiveIOError;
        bool isNew = false;
        sConfigValue* v = s->value(name, nameLength, true, &isNew);
        if (!v) return kHiveIOError;
        if (!isNew) return kHiveDamaged;  // one key twice
        v->kind = kind;
        if (dataLength && !v->data.set(body + pos, (long long)dataLength)) return kHiveIOError;
        pos += dataLength;
    }
    if (pos != bodyLength) return kHiveDamaged;
    return kHiveOk;
}

namespace {

void hiveHeader(unsigned char* h, unsigned int records, long long bodyLength, unsigned int bodyCrc) {
    memcpy(h, "QMXC", 4);
    putLe16(h + 4, kCfgVersion);
    putLe16(h + 6, kCfgHeaderSize);
    putLe32(h + 8, records);
    putLe32(h + 12, (unsigned int)bodyLength);
    putLe32(h + 16, bodyCrc);
    putLe32(h + 20, (unsigned int)crc32_z(0, h, 20));
}

// Encodes into its buffer, or with a descriptor streams the body to the file from byte
// 24 on in pieces (checksummed on the way), so that a large hive is never held twice.
class cHiveWriter {
public:
    enum { ePiece = 64 * 1024 };
    _typebuf<unsigned char> buf;
    long long used = 0;
    unsigned int records = 0;
    bool failed = false;
    int fd = -1;
    long long written = 0;  // body bytes out in the file
    unsigned int crc = 0, adler = 1;

    bool flush() {
        if (failed || fd < 0 || used == 0) return !failed;
        if (!pwriteAll(fd, buf.ptr, used, kCfgHeaderSize + written)) return failed = true, false;
        crc = (unsigned int)crc32_z(crc, buf.ptr, (z_size_t)used);
        adler = (unsigned int)adler32_z(adler, buf.ptr, (z_size_t)used);
        written += used;
        used = 0;
        return true;
    }
    unsigned char* grow(long long n) {
        if (failed) return nullptr;
        if (fd >= 0 && used + n > ePiece && !flush()) return nullptr;
        if (written + used + n > kCfgMaxFile) {
            failed = true;
            return nullptr;
        }
        if (used + n > buf.count) {
            long long cap = buf.count ? buf.count : 256;
            while (cap < used + n) cap *= 2;
            if (!buf.reset(cap)) {
                failed = true;
                return nullptr;
            }
        }
        unsigned char* p = buf.ptr + used;
        used += n;
        return p;
    }
    void record(unsigned char kind, const char* path, long long pathLength, const sConfigValue* v) {
        unsigned char* p = grow(3 + pathLength);
        if (!p) return;
        p[0] = kind;
        putLe16(p + 1, (unsigned int)pathLength);
        memcpy(p + 3, path, (size_t)pathLength);
        if (v) {
            p = grow(4 + v->data.count);
            if (!p) return;
            putLe32(p, (unsigned int)v->data.count);
            if (v->data.count) memcpy(p + 4, v->data.ptr, (size_t)v->data.count);
        }
        records++;
    }
    // Depth is bounded by the path checks every change passed (kCfgMaxDepth).
    void section(cConfigSection& s, char* path, long long prefix) {
        for (auto* e = s.values().first(); e && !failed; e = s.values().next(e)) {
            long long n = append(path, prefix, e->key());
            if (n < 0) return;
            record(e->value().kind, path, n, &e->value());
        }
        for (auto* e = s.subs().first(); e && !failed; e = s.subs().next(e)) {
            long long n = append(path, prefix, e->key());
            if (n < 0) return;
            record(kCfgSection, path, n, nullptr);
            section(*e->value(), path, n);
        }
    }
    long long append(char* path, long long prefix, const cStringKey& key) {
        long long n = prefix + (prefix ? 1 : 0) + key.length();
        _typebuf<char> text;
        if (n > kCfgMaxPath || !key.utf8(text)) {
            failed = true;
            return -1;
        }
        if (prefix) path[prefix] = '/';
        memcpy(path + prefix + (prefix ? 1 : 0), text.ptr, (size_t)key.length());
        return n;
    }
};

}  // namespace

bool cfgEncodeHive(cConfigSection& top, _typebuf<unsigned char>& out) {
    cHiveWriter w;
    w.grow(kCfgHeaderSize);
    char path[kCfgMaxPath + 1];
    w.section(top, path, 0);
    if (w.failed) return false;
    unsigned char* h = w.buf.ptr;
    hiveHeader(h, w.records, w.used - kCfgHeaderSize,
               (unsigned int)crc32_z(0, h + kCfgHeaderSize, (z_size_t)(w.used - kCfgHeaderSize)));
    if (!w.buf.reset(w.used)) return false;
    out.swap(w.buf);
    return true;
}

// ---------------------------------------------------------------------------------
// The lock

cConfigLock::~cConfigLock() {
    if (myFd >= 0) close(myFd);
}

void cConfigLock::setFolder(const char* folder) { joinPath(folder, ".lock", myPath); }

bool cConfigLock::enter() {
    processSaveLock().enter();
    if (myDepth == 0) {
        if (!myPath.ptr) {
            processSaveLock().leave();
            return false;
        }
        myFd = open(myPath.ptr, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (myFd < 0) {
            processSaveLock().leave();
            return false;
        }
        struct flock fl;
        memset(&fl, 0, sizeof(fl));
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        while (fcntl(myFd, F_SETLKW, &fl) == -1) {
            if (errno == EINTR) continue;
            close(myFd);
            myFd = -1;
            processSaveLock().leave();
            return false;
        }
    }
    myDepth++;
    return true;
}

void cConfigLock::leave() {
    if (myDepth <= 0) return;
    if (--myDepth == 0 && myFd >= 0) {
        // Closing the descriptor drops the fcntl lock.
        close(myFd);
        myFd = -1;
    }
    processSaveLock().leave();
}

// ---------------------------------------------------------------------------------
// The hive

void cConfigHive::setSaveHook(tSaveHook hook) { gSaveHook = hook; }

void cConfigHive::setFileOps(cFileOps* ops) { gFileOps = ops; }

cConfigHive::~cConfigHive() { clearOps(); }

void cConfigHive::clearOps() {
    myOps.clear();
    myOpCount = 0;
}

bool cConfigHive::sStamp::same(const sStamp& o) const {
    if (!known || !o.known || present != o.present) return false;
    return !present || (size == o.size && adler == o.adler && memcmp(head, o.head, sizeof head) == 0);
}

static bool plainNameChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

bool cConfigHive::fileNameOf(const char* name, _guardchar<char>& out) {
    if (!name) return false;
    long long n = (long long)strlen(name);
    if (n == 0 || n > kCfgMaxTopName || memchr(name, '/', (size_t)n)) return false;
    if (!out.set(n * 3 + 5)) return false;
    char* p = out.ptr;
    static const char hex[] = "0123456789ABCDEF";
    for (long long i = 0; i < n; i++) {
        unsigned char c = (unsigned char)name[i];
        if (plainNameChar(c)) {
            *p++ = (char)c;
        } else {
            *p++ = '%';
            *p++ = hex[c >> 4];
            *p++ = hex[c & 15];
        }
    }
    memcpy(p, ".hive", 6);
    return true;
}

bool cConfigHive::nameOfFile(const char* fileName, _guardchar<char>& out) {
    if (!fileName) return false;
    long long n = (long long)strlen(fileName);
    if (n <= 5 || n > kCfgMaxTopName * 3 + 5 || strcmp(fileName + n - 5, ".hive") != 0) return false;
    _guardchar<char> name;
    if (!name.set(n)) return false;
    long long k = 0;
    for (long long i = 0; i < n - 5; i++) {
        unsigned char c = (unsigned char)fileName[i];
        if (c == '%') {
            if (i + 2 >= n - 5) return false;
            int v = getHexb(fileName + i + 1);
            if (v <= 0) return false;
            name.ptr[k++] = (char)v;
            i += 2;
        } else if (plainNameChar(c)) {
            name.ptr[k++] = (char)c;
        } else {
            return false;
        }
    }
    name.ptr[k] = 0;
    // Only the canonical spelling names a hive (no two files for one section).
    _guardchar<char> again;
    if (!fileNameOf(name.ptr, again) || strcmp(again.ptr, fileName) != 0) return false;
    out.attach(name.dettach());
    return true;
}

bool cConfigHive::init(const char* folder, const char* name, cConfigLock* lock) {
    if (!folder || !fileNameOf(name, myFile)) return false;
    myLock = lock;
    return myFolder.set(folder) && myName.set(name) && joinPath(folder, myFile.ptr, myPath);
}

// The file's bytes (`got` of them, not yet checked) with kHiveOk; else kHiveAbsent,
// kHiveIOError, or kHiveDamaged for a size no hive has.
int cConfigHive::readBytes(_typebuf<unsigned char>& bytes, long long& got) {
    got = 0;
    // Non-blocking, so that a FIFO or a device in the hive's place cannot hold the open
    // (and every start-up) forever; anything but a regular file is refused below.
    int fd = open(myPath.ptr, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? kHiveAbsent : kHiveIOError;
    struct stat st;
    int result = kHiveOk;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        result = kHiveIOError;
    else if (st.st_size > kCfgMaxFile || st.st_size < kCfgHeaderSize)
        result = kHiveDamaged;
    else if (!bytes.set((long long)st.st_size))
        result = kHiveIOError;
    if (result == kHiveOk && (got = preadAll(fd, bytes.ptr, bytes.count, 0)) < 0) {
        got = 0;
        result = kHiveIOError;
    }
    close(fd);
    return result;
}

namespace {

void stampBytes(const unsigned char* data, long long size, bool& present, long long& length, unsigned char* head,
                unsigned int& adler) {
    present = true;
    length = size;
    memcpy(head, data, kCfgHeaderSize);
    adler = (unsigned int)adler32_z(1, data + kCfgHeaderSize, (z_size_t)(size - kCfgHeaderSize));
}

}  // namespace

bool cConfigHive::readFile(cConfigSection& into, int& result, sStamp& stamp) {
    into.clear();
    stamp = sStamp();
    _typebuf<unsigned char> bytes;
    long long got = 0;
    result = readBytes(bytes, got);
    if (result == kHiveAbsent) stamp.known = true;
    if (result != kHiveOk) return result == kHiveAbsent;
    result = cfgParseHive(bytes.ptr, got, into);
    if (result != kHiveOk) {
        into.clear();
        return false;
    }
    stamp.known = true;
    stampBytes(bytes.ptr, got, stamp.present, stamp.size, stamp.head, stamp.adler);
    return true;
}

bool cConfigHive::setAsideFile(_guardchar<char>& setAside) {
    char suffix[64];
    long long now = (long long)time(nullptr);
    _guardchar<char> target;
    for (int n = 0; n < 1000; n++) {
        if (n == 0)
            _sprintf_s(suffix, sizeof(suffix), ".damaged-%lld", now);
        else
            _sprintf_s(suffix, sizeof(suffix), ".damaged-%lld-%d", now, n);
        if (!joinPath(myFolder.ptr, myFile.ptr, target) || !concatText(target.ptr, suffix, target)) return false;
        struct stat st;
        if (lstat(target.ptr, &st) == 0) continue;
        if (rename(myPath.ptr, target.ptr) != 0) return false;
        fileOps()->syncFolder(myFolder.ptr);
        setAside.attach(target.dettach());
        return true;
    }
    return false;
}

int cConfigHive::load(_guardchar<char>& setAside) {
    if (myLoaded) return myState;
    int result = kHiveAbsent;
    readFile(myTop, result, myStamp);
    if (result == kHiveDamaged && myLock && myLock->enter()) {
        // Only under the lock: a writer may just have replaced the file with a good one.
        readFile(myTop, result, myStamp);
        if (result == kHiveDamaged && setAsideFile(setAside)) {
            result = kHiveAbsent;
            myStamp.known = true;
        }
        myLock->leave();
    }
    myState = result;
    myExists = result == kHiveOk;
    myLoaded = true;
    return result;
}

void cConfigHive::unload() {
    myTop.clear();
    clearOps();
    myStamp = sStamp();
    myLoaded = false;
    myExists = false;
    myState = kHiveAbsent;
}

bool cConfigHive::journal(unsigned char op, const char* path, long long length) {
    if (length < 0 || length > kCfgMaxPath) return false;
    unsigned char* p = (unsigned char*)myOps.alloc((size_t)(3 + length));
    if (!p) return false;
    p[0] = op;
    putLe16(p + 1, (unsigned int)length);
    if (length) memcpy(p + 3, path, (size_t)length);
    myOpCount++;
    return true;
}

// One change over `top`; a set takes its value from the tree of this process, which
// already holds it (an empty placeholder when a later change removed it again). Sets are
// only replayed over a freshly read tree: setValue changes this process's tree itself.
bool cConfigHive::applyOp(cConfigSection& top, bool& exists, unsigned char op, const char* path, long long length) {
    if (op == 3 && length == 0) {
        top.clear();
        exists = false;
        return true;
    }
    long long sectionLength, nameLength;
    const char* name;
    if (!cfgSplitPath(path, length, sectionLength, name, nameLength)) return false;
    if (op == 1) {
        cConfigSection* s = top.walk(path, sectionLength, true);
        sConfigValue* v = s ? s->value(name, nameLength, true) : nullptr;
        if (!v) return false;
        exists = true;
        cConfigSection* mine = myTop.walk(path, sectionLength, false);
        const sConfigValue* now = mine ? mine->value(name, nameLength, false) : nullptr;
        v->kind = now ? now->kind : (unsigned char)kCfgBytes;
        if (!now || now->data.count == 0) {
            v->data.clear();
            return true;
        }
        return v->data.set(now->data.ptr, now->data.count);
    }
    cConfigSection* s = top.walk(path, sectionLength, false);
    if (!s) return true;
    if (op == 2) s->removeValue(name, nameLength);
    else s->removeSub(name, nameLength);
    return true;
}

bool cConfigHive::setValue(const char* relPath, long long length, unsigned char kind, const void* data,
                           long long dataLength) {
    long long sl, nl;
    const char* name;
    if (valueWidth(kind) == 0 || dataLength < 0 || dataLength > kCfgMaxFile / 2 ||
        !cfgSplitPath(relPath, length, sl, name, nl))
        return false;
    if (!journal(1, relPath, length)) return false;
    cConfigSection* s = myTop.walk(relPath, sl, true);
    sConfigValue* v = s ? s->value(name, nl, true) : nullptr;
    if (!v) return false;
    myExists = true;
    v->kind = kind;
    if (dataLength == 0) {
        v->data.clear();
        return true;
    }
    return v->data.set((const unsigned char*)data, dataLength);
}

bool cConfigHive::removeValue(const char* relPath, long long length) {
    long long sl, nl;
    const char* name;
    if (!cfgSplitPath(relPath, length, sl, name, nl)) return false;
    if (!journal(2, relPath, length)) return false;
    return applyOp(myTop, myExists, 2, relPath, length);
}

bool cConfigHive::removeSection(const char* relPath, long long length) {
    if (!cfgValidSectionPath(relPath, length)) return false;
    if (!journal(3, relPath, length)) return false;
    return applyOp(myTop, myExists, 3, relPath, length);
}

void cConfigHive::removeStaleTemps() {
    // Under the lock nobody else is writing, so any temporary of this hive is left
    // over from a crash.
    DIR* d = opendir(myFolder.ptr);
    if (!d) return;
    char prefix[kCfgMaxTopName * 3 + 16];
    _sprintf_s(prefix, sizeof(prefix), ".%s.tmp-", myFile.ptr);
    size_t n = strlen(prefix);
    _guardchar<char> full;
    while (struct dirent* e = readdir(d)) {
        if (strncmp(e->d_name, prefix, n) == 0 && joinPath(myFolder.ptr, e->d_name, full)) unlink(full.ptr);
    }
    closedir(d);
}

bool cConfigHive::writeFile(cConfigSection& top, bool exists, sStamp& stamp) {
    removeStaleTemps();
    stamp = sStamp();
    // The folder's flush is the save as much as the rename (or removal) it makes durable.
    if (!exists) {
        if (unlink(myPath.ptr) != 0 && errno != ENOENT) return false;
        if (!fileOps()->syncFolder(myFolder.ptr)) return false;
        stamp.known = true;
        return true;
    }
    _guardchar<char> temp;
    char name[kCfgMaxTopName * 3 + 32];
    _sprintf_s(name, sizeof(name), ".%s.tmp-XXXXXX", myFile.ptr);
    if (!joinPath(myFolder.ptr, name, temp)) return false;
    // The body first, the header (its counts and checksums) last.
    cHiveWriter w;
    unsigned char head[kCfgHeaderSize];
    int r = replaceFile(myPath.ptr, temp, 0600, [&](int fd) {
        w.fd = fd;
        char path[kCfgMaxPath + 1];
        w.section(top, path, 0);
        if (!w.flush()) return false;
        hiveHeader(head, w.records, w.written, w.crc);
        if (!pwriteAll(fd, head, kCfgHeaderSize, 0)) return false;
        if (gSaveHook) gSaveHook(temp.ptr);
        return true;
    }, fileOps());
    if (r != eReplaceDone) return false;
    stamp.known = stamp.present = true;
    stamp.size = kCfgHeaderSize + w.written;
    memcpy(stamp.head, head, kCfgHeaderSize);
    stamp.adler = w.adler;
    return true;
}

bool cConfigHive::save(_guardchar<char>& setAside) {
    if (!myLoaded || !dirty()) return true;
    // Always read again: a file's inode, size and times cannot prove it unchanged on file
    // systems with coarse times; its bytes can. When they are what this process last read
    // or wrote, its tree is that plus its own changes: written as it is, not built twice.
    sStamp now, written;
    _typebuf<unsigned char> bytes;
    long long got = 0;
    int result = readBytes(bytes, got);
    if (result == kHiveAbsent) now.known = true;
    if (result == kHiveOk && got >= kCfgHeaderSize) {
        now.known = true;
        stampBytes(bytes.ptr, got, now.present, now.size, now.head, now.adler);
    }
    if (now.same(myStamp)) {
        bytes.clear();
        if (!writeFile(myTop, myExists, written)) return false;
    } else {
        cConfigSection fresh;
        if (result == kHiveOk) {
            result = cfgParseHive(bytes.ptr, got, fresh);
            if (result != kHiveOk) fresh.clear();
        }
        bytes.clear();
        if (result == kHiveNewer || result == kHiveIOError) return false;
        if (result == kHiveDamaged) {
            // Keep the damaged bytes for inspection; what we hold is the best we know.
            if (!setAsideFile(setAside) || !writeFile(myTop, myExists, written)) return false;
        } else {
            bool exists = result == kHiveOk;
            // The arena gives no change a block of its own: its blocks hold them in order.
            bool replayed = myOps.forEachBlock([&](const unsigned char* bytes, size_t used) {
                for (size_t at = 0; at < used;) {
                    const unsigned char* p = bytes + at;
                    long long length = le16(p + 1);
                    if (!applyOp(fresh, exists, p[0], (const char*)p + 3, length)) return false;
                    at += 3 + (size_t)length;
                }
                return true;
            });
            if (!replayed || !writeFile(fresh, exists, written)) return false;
            myTop.swap(fresh);
            myExists = exists;
        }
    }
    myStamp = written;
    myState = myExists ? kHiveOk : kHiveAbsent;
    clearOps();
    return true;
}
