// The hive file format and its durable save: write beside, fsync, rename, fsync the
// folder, all under the store's lock, merging with what another process saved.
#include "ui/appconfig_store.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <new>

#include "base/folders.h"
#include "base/strings.h"
#include "base/sync.h"

// ---------------------------------------------------------------------------------
// Helpers

namespace {

unsigned int rd16(const unsigned char* p) { return p[0] | (p[1] << 8); }
unsigned int rd32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | ((unsigned int)p[3] << 24);
}
void wr16(unsigned char* p, unsigned int v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}
void wr32(unsigned char* p, unsigned int v) {
    for (int i = 0; i < 4; i++) p[i] = (unsigned char)(v >> (8 * i));
}

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

bool fsyncFolder(const char* folder) {
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

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
    if ((unsigned int)crc32_z(0, data, 20) != rd32(data + 20)) return kHiveDamaged;
    unsigned int version = rd16(data + 4);
    if (version > kCfgVersion) return kHiveNewer;
    if (version == 0 || rd16(data + 6) != kCfgHeaderSize) return kHiveDamaged;
    unsigned long long records = rd32(data + 8);
    unsigned long long bodyLength = rd32(data + 12);
    if (bodyLength != (unsigned long long)(size - kCfgHeaderSize)) return kHiveDamaged;
    // The smallest record is 4 bytes (kind, length, one path byte).
    if (records > kCfgMaxRecords || records > bodyLength / 4) return kHiveDamaged;
    const unsigned char* body = data + kCfgHeaderSize;
    if ((unsigned int)crc32_z(0, body, (z_size_t)bodyLength) != rd32(data + 16)) return kHiveDamaged;

    unsigned long long pos = 0;
    for (unsigned long long r = 0; r < records; r++) {
        if (bodyLength - pos < 3) return kHiveDamaged;
        unsigned char kind = body[pos];
        unsigned long long pathLength = rd16(body + pos + 1);
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
        unsigned long long dataLength = rd32(body + pos);
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

class cHiveWriter {
public:
    _typebuf<unsigned char> buf;
    long long used = 0;
    unsigned int records = 0;
    bool failed = false;

    unsigned char* grow(long long n) {
        if (failed) return nullptr;
        if (used + n > buf.count) {
            long long cap = buf.count ? buf.count : 256;
            while (cap < used + n) cap *= 2;
            if (cap > kCfgMaxFile || !buf.reset(cap)) {
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
        wr16(p + 1, (unsigned int)pathLength);
        memcpy(p + 3, path, (size_t)pathLength);
        if (v) {
            p = grow(4 + v->data.count);
            if (!p) return;
            wr32(p, (unsigned int)v->data.count);
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
    memcpy(h, "QMXC", 4);
    wr16(h + 4, kCfgVersion);
    wr16(h + 6, kCfgHeaderSize);
    wr32(h + 8, w.records);
    wr32(h + 12, (unsigned int)(w.used - kCfgHeaderSize));
    wr32(h + 16, (unsigned int)crc32_z(0, h + kCfgHeaderSize, (z_size_t)(w.used - kCfgHeaderSize)));
    wr32(h + 20, (unsigned int)crc32_z(0, h, 20));
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

cConfigHive::~cConfigHive() { clearOps(); }

void cConfigHive::clearOps() {
    for (long long i = 0; i < myOpCount; i++) delete myOps.ptr[i];
    myOps.clear();
    myOpCount = 0;
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

bool cConfigHive::readFile(cConfigSection& into, int& result) {
    into.clear();
    // Non-blocking, so that a FIFO or a device in the hive's place cannot hold the open
    // (and every start-up) forever; anything but a regular file is refused below.
    int fd = open(myPath.ptr, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        result = errno == ENOENT ? kHiveAbsent : kHiveIOError;
        return result == kHiveAbsent;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        result = kHiveIOError;
        return false;
    }
    if (st.st_size > kCfgMaxFile || st.st_size < kCfgHeaderSize) {
        close(fd);
        result = kHiveDamaged;
        return false;
    }
    _typebuf<unsigned char> bytes;
    if (!bytes.set((long long)st.st_size)) {
        close(fd);
        result = kHiveIOError;
        return false;
    }
    long long got = 0;
    while (got < bytes.count) {
        ssize_t r = ::read(fd, bytes.ptr + got, (size_t)(bytes.count - got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += r;
    }
    close(fd);
    result = cfgParseHive(bytes.ptr, got, into);
    if (result != kHiveOk) into.clear();
    return result == kHiveOk;
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
        fsyncFolder(myFolder.ptr);
        setAside.attach(target.dettach());
        return true;
    }
    return false;
}

int cConfigHive::load(_guardchar<char>& setAside) {
    if (myLoaded) return myState;
    int result = kHiveAbsent;
    readFile(myTop, result);
    if (result == kHiveDamaged && myLock && myLock->enter()) {
        // Only under the lock: a writer may just have replaced the file with a good one.
        readFile(myTop, result);
        if (result == kHiveDamaged && setAsideFile(setAside)) result = kHiveAbsent;
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
    myLoaded = false;
    myExists = false;
    myState = kHiveAbsent;
}

bool cConfigHive::journal(unsigned char op, unsigned char kind, const char* path, long long length,
                          const void* data, long long dataLength) {
    if (myOpCount == myOps.count) {
        long long cap = myOps.count ? myOps.count * 2 : 16;
        if (!myOps.reset(cap)) return false;
    }
    sConfigOp* o = new (std::nothrow) sConfigOp;
    if (!o) return false;
    o->op = op;
    o->kind = kind;
    if (!o->path.set(path ? path : "", path ? length : 0) ||
        (dataLength > 0 && !o->data.set((const unsigned char*)data, dataLength))) {
        delete o;
        return false;
    }
    myOps.ptr[myOpCount++] = o;
    return true;
}

bool cConfigHive::applyOp(cConfigSection& top, bool& exists, const sConfigOp& op) {
    long long length = op.path.length();
    const char* path = op.path.ptr ? op.path.ptr : "";
    if (op.op == 3 && length == 0) {
        top.clear();
        exists = false;
        return true;
    }
    long long sectionLength, nameLength;
    const char* name;
    if (!cfgSplitPath(path, length, sectionLength, name, nameLength)) return false;
    if (op.op == 1) {
        cConfigSection* s = top.walk(path, sectionLength, true);
        sConfigValue* v = s ? s->value(name, nameLength, true) : nullptr;
        if (!v) return false;
        exists = true;
        v->kind = op.kind;
        if (op.data.count == 0) {
            v->data.clear();
            return true;
        }
        return v->data.set(op.data.ptr, op.data.count);
    }
    cConfigSection* s = top.walk(path, sectionLength, false);
    if (!s) return true;
    if (op.op == 2) s->removeValue(name, nameLength);
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
    if (!journal(1, kind, relPath, length, data, dataLength)) return false;
    return applyOp(myTop, myExists, *myOps.ptr[myOpCount - 1]);
}

bool cConfigHive::removeValue(const char* relPath, long long length) {
    long long sl, nl;
    const char* name;
    if (!cfgSplitPath(relPath, length, sl, name, nl)) return false;
    if (!journal(2, 0, relPath, length, nullptr, 0)) return false;
    return applyOp(myTop, myExists, *myOps.ptr[myOpCount - 1]);
}

bool cConfigHive::removeSection(const char* relPath, long long length) {
    if (!cfgValidSectionPath(relPath, length)) return false;
    if (!journal(3, 0, relPath, length, nullptr, 0)) return false;
    return applyOp(myTop, myExists, *myOps.ptr[myOpCount - 1]);
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

bool cConfigHive::writeFile(cConfigSection& top, bool exists) {
    removeStaleTemps();
    if (!exists) {
        if (unlink(myPath.ptr) != 0 && errno != ENOENT) return false;
        fsyncFolder(myFolder.ptr);
        return true;
    }
    _typebuf<unsigned char> bytes;
    if (!cfgEncodeHive(top, bytes)) return false;
    _guardchar<char> temp;
    char name[kCfgMaxTopName * 3 + 32];
    _sprintf_s(name, sizeof(name), ".%s.tmp-XXXXXX", myFile.ptr);
    if (!joinPath(myFolder.ptr, name, temp)) return false;
    int fd = mkostemp(temp.ptr, O_CLOEXEC);  // O_EXCL, mode 0600
    if (fd < 0) return false;
    long long done = 0;
    bool ok = true;
    while (done < bytes.count) {
        ssize_t w = ::write(fd, bytes.ptr + done, (size_t)(bytes.count - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            ok = false;
            break;
        }
        done += w;
    }
    if (ok) ok = fsync(fd) == 0;
    if (ok && gSaveHook) gSaveHook(temp.ptr);
    if (ok) ok = rename(temp.ptr, myPath.ptr) == 0;
    if (!ok) {
        unlink(temp.ptr);
        close(fd);
        return false;
    }
    close(fd);
    fsyncFolder(myFolder.ptr);
    return true;
}

bool cConfigHive::save(_guardchar<char>& setAside) {
    if (!myLoaded || !dirty()) return true;
    // Always read again: a stamp (inode, size, times) cannot prove a file unchanged on
    // file systems with coarse times, and hives are small.
    cConfigSection fresh;
    int result = kHiveAbsent;
    readFile(fresh, result);
    if (result == kHiveNewer || result == kHiveIOError) return false;
    if (result == kHiveDamaged) {
        // Keep the damaged bytes for inspection; what we hold is the best we know.
        if (!setAsideFile(setAside) || !writeFile(myTop, myExists)) return false;
    } else {
        bool exists = result == kHiveOk;
        for (long long i = 0; i < myOpCount; i++)
            if (!applyOp(fresh, exists, *myOps.ptr[i])) return false;
        if (!writeFile(fresh, exists)) return false;
        myTop.swap(fresh);
        myExists = exists;
    }
    myState = myExists ? kHiveOk : kHiveAbsent;
    clearOps();
    return true;
}
