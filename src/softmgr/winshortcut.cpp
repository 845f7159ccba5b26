// The shell link writer: the link is built in memory in the order of the Shell Link Binary
// File Format (header, LinkTargetIDList, LinkInfo, StringData; all integers little-endian),
// then written beside its path and renamed into place, so a refused link leaves no file.
#include "softmgr/winshortcut.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/buffers.h"
#include "base/fileops.h"
#include "base/memio.h"
#include "base/strings.h"

namespace {

// LinkFlags and FileAttributes.
const unsigned kHasLinkTargetIDList = 0x1, kHasLinkInfo = 0x2, kHasName = 0x4, kHasWorkingDir = 0x10,
               kHasArguments = 0x20, kHasIconLocation = 0x40, kIsUnicode = 0x80, kRunAsUser = 0x2000,
               kEnableTargetMetadata = 0x80000;
const unsigned kAttrDirectory = 0x10, kAttrArchive = 0x20;
// The ID list and every StringData carry their length in 16 bits.
const long long kMaxU16 = 65535;

// 00021401-0000-0000-C000-000000000046 (the link) and 20D04FE0-3AEA-1069-A2D8-08002B30309D
// (My Computer), stored with their first three groups little-endian.
const unsigned char kLinkCLSID[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const unsigned char kMyComputer[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                       0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};

struct sOut {
    cMemIOTarget mem;
    bool ok = true;
    void bytes(const void* p, long long n) {
        if (ok && n > 0 && mem.write(p, n) != n) ok = false;
    }
    void u8(unsigned v) {
        unsigned char b = (unsigned char)v;
        bytes(&b, 1);
    }
    void u16(unsigned v) {
        u8(v & 0xFF);
        u8((v >> 8) & 0xFF);
    }
    void u32(unsigned v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void u64(unsigned long long v) {
        u32((unsigned)v);
        u32((unsigned)(v >> 32));
    }
    void zeros(long long n) {
        for (; n > 0; n--) u8(0);
    }
    void utf16(const _guardchar<unsigned short>& w, long long n) {
        for (long long i = 0; i < n; i++) u16(w.ptr[i]);
    }
    long long size() { return (long long)mem.size(); }
};

// A text as the file holds it: UTF-16, and the 8-bit form of the non-Unicode fields.
struct sText {
    _guardchar<unsigned short> w;
    long long units = 0;
    _guardchar<char> narrow;

    // `slashes`: "/" becomes "\" in both forms.
    bool set(const char* text, long long n, bool slashes) {
        units = _pc2w(text, n, w);
        if (units < 0 || !narrow.set(units)) return false;
        long long k = 0;
        for (long long i = 0; i < units; i++) {
            unsigned short c = w.ptr[i];
            if (slashes && c == '/') c = w.ptr[i] = '\\';
            // ASCII and Latin-1 stand for themselves (Windows-1252 agrees with Latin-1 from
            // 0xA0 up); anything else, a surrogate pair included, becomes one "?".
            if (c >= 0xDC00 && c < 0xE000 && i > 0 && w.ptr[i - 1] >= 0xD800 && w.ptr[i - 1] < 0xDC00) continue;
            narrow.ptr[k++] = (char)(c < 0x80 || (c >= 0xA0 && c < 0x100) ? c : '?');
        }
        narrow.ptr[k] = 0;
        return true;
    }
    long long narrowLen() const { return (long long)strlen(narrow.ptr); }
};

bool given(const char* s) { return s && *s; }

// The kind of object at a path written with either separator: 1 file, 2 folder, 0 neither.
int kindOf(const char* path, unsigned long long* size = nullptr) {
    _guardchar<char> p;
    if (!p.set(path)) return 0;
    for (char* c = p.ptr; *c; c++)
        if (*c == '\\') *c = '/';
    struct stat st;
    if (stat(p.ptr, &st) != 0) return 0;
    if (size) *size = S_ISREG(st.st_mode) ? (unsigned long long)st.st_size : 0;
    return S_ISDIR(st.st_mode) ? 2 : S_ISREG(st.st_mode) ? 1 : 0;
}

// Now as a FILETIME: 100-nanosecond steps since 1 January 1601.
unsigned long long fileTimeNow() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return ((unsigned long long)tv.tv_sec + 11644473600ULL) * 10000000ULL + (unsigned long long)tv.tv_usec * 10;
}

// One file-entry item of the ID list: a folder, or the target file when `fileSize` is given.
void fileEntryItem(sOut& o, const char* name, long long n, bool isFile, unsigned long long fileSize) {
    sText t;
    if (!t.set(name, n, false)) {
        o.ok = false;
        return;
    }
    long long narrow = t.narrowLen();
    // The 8-bit name with its terminator, padded to an even offset.
    long long extAt = 14 + narrow + 1;
    if (extAt & 1) extAt++;
    long long item = extAt + 2 * t.units + 46;
    if (item > kMaxU16) {
        o.ok = false;
        return;
    }
    o.u16((unsigned)item);
    o.u8(isFile ? 0x32 : 0x31);
    o.u8(0);
    o.u32(isFile ? (unsigned)fileSize : 0);
    o.u32(0);  // DOS date and time
    o.u16(isFile ? kAttrArchive : kAttrDirectory);
    o.bytes(t.narrow.ptr, narrow + 1);
    o.zeros(extAt - (14 + narrow + 1));
    // The BEEF0004 extension block (version 8) with the long name at its offset 0x2A.
    o.u16((unsigned)(2 * t.units + 46));
    o.u16(8);
    o.u32(0xBEEF0004);
    o.u32(0);  // creation date and time
    o.u32(0);  // access date and time
    o.u16(0x2A);
    o.zeros(42 - 18);
    o.utf16(t.w, t.units);
    o.u16(0);
    o.u16((unsigned)extAt);
}

// My Computer, the drive, then one item per part of the path after "X:".
bool idList(sOut& o, const char* target, bool isFile, unsigned long long fileSize) {
    o.u16(0x14);
    o.u8(0x1F);
    o.u8(0x50);
    o.bytes(kMyComputer, 16);
    o.u16(0x19);
    o.u8(0x2F);
    o.u8((unsigned char)target[0]);
    o.u8(':');
    o.u8('\\');
    o.zeros(25 - 6);
    const char* p = target + 2;
    while (*p && o.ok) {
        while (*p == '/' || *p == '\\') p++;
        if (!*p) break;
        const char* end = p;
        while (*end && *end != '/' && *end != '\\') end++;
        const char* rest = end;
        while (*rest == '/' || *rest == '\\') rest++;
        bool last = !*rest;
        fileEntryItem(o, p, end - p, isFile && last, fileSize);
        p = end;
    }
    o.u16(0);  // the terminal ID
    return o.ok && o.size() <= kMaxU16;
}

// A StringData entry: a count and UTF-16 units without terminator.
bool stringData(sOut& o, const char* text, bool slashes) {
    sText t;
    if (!t.set(text, -1, slashes) || t.units > kMaxU16) return false;
    o.u16((unsigned)t.units);
    o.utf16(t.w, t.units);
    return o.ok;
}

bool writeBeside(const char* path, const _typebuf<unsigned char>& bytes) {
    _guardchar<char> tmp;
    const char* slash = strrchr(path, '/');
    long long folder = slash ? slash - path + 1 : 0;
    if (!tmp.set(path, folder) || !concatText(tmp.ptr, ".qmx-XXXXXX", tmp)) return false;
    int r = replaceFile(path, tmp, 0644, [&](int fd) { return writeAll(fd, bytes.ptr, bytes.count); });
    return r == eReplaceDone || r == eReplaceNotFlushed;
}

}  // namespace

bool createWinShortcut(const char* path, const char* target, const char* workDir, const char* iconFile,
                       int iconIndex, const char* description, bool runAsAdmin, const char* arguments) {
    if (!given(path) || !given(target)) return false;
    char drive = target[0];
    if (!((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) || target[1] != ':') return false;
    unsigned long long fileSize = 0;
    int kind = kindOf(target, &fileSize);
    if (kind == 0) return false;
    if (given(workDir) && kindOf(workDir) != 2) return false;
    if (given(iconFile) && kindOf(iconFile) != 1) return false;
    bool isFile = kind == 1;

    sOut ids;
    if (!idList(ids, target, isFile, fileSize)) return false;
    _typebuf<unsigned char> idBytes;
    if (!ids.mem.toBuffer(idBytes)) return false;

    sOut o;
    unsigned flags = kHasLinkTargetIDList | kHasLinkInfo | kIsUnicode | kEnableTargetMetadata;
    if (runAsAdmin) flags |= kRunAsUser;
    if (given(description)) flags |= kHasName;
    if (given(workDir)) flags |= kHasWorkingDir;
    if (given(arguments)) flags |= kHasArguments;
    if (given(iconFile)) flags |= kHasIconLocation;
    unsigned long long now = fileTimeNow();
    o.u32(0x4C);
    o.bytes(kLinkCLSID, 16);
    o.u32(flags);
    o.u32(isFile ? kAttrArchive : kAttrDirectory);
    o.u64(now);  // creation
    o.u64(now);  // access
    o.u64(now);  // write
    o.u32(isFile ? (unsigned)fileSize : 0);  // the low 32 bits of a larger file
    o.u32((unsigned)iconIndex);
    o.u32(1);  // SW_SHOWNORMAL
    o.u16(0);  // hot key
    o.zeros(10);

    o.u16((unsigned)idBytes.count);
    o.bytes(idBytes.ptr, idBytes.count);

    // LinkInfo: a fixed drive of no name and serial, and the local path.
    sText local;
    if (!local.set(target, -1, true)) return false;
    long long n = local.narrowLen();
    o.u32((unsigned)(n + 47));
    o.u32(0x1C);
    o.u32(1);  // VolumeIDAndLocalBasePath
    o.u32(0x1C);
    o.u32(45);
    o.u32(0);
    o.u32((unsigned)(n + 46));
    o.u32(17);
    o.u32(3);  // DRIVE_FIXED
    o.u32(0);
    o.u32(0x10);
    o.u8(0);
    o.bytes(local.narrow.ptr, n + 1);
    o.u8(0);  // an empty common path suffix

    if (given(description) && !stringData(o, description, false)) return false;
    if (given(workDir) && !stringData(o, workDir, true)) return false;
    if (given(arguments) && !stringData(o, arguments, false)) return false;
    if (given(iconFile) && !stringData(o, iconFile, true)) return false;

    _typebuf<unsigned char> bytes;
    return o.ok && o.mem.toBuffer(bytes) && writeBeside(path, bytes);
}
