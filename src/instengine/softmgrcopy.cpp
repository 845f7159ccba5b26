// The command block and the Software Manager copy.
#include "instengine/softmgrcopy.h"

#include <cstring>

#include "base/byteorder.h"
#include "base/buffers.h"
#include "base/fileio.h"
#include "base/fileops.h"
#include "base/folders.h"
#include "base/strings.h"
#include "softmgr/bundlelayout.h"
#include "instengine/installfs.h"
#include "instengine/version.h"

// Kept in writable data so that a post-build tool can find and fill it.
volatile unsigned char _cmdBlock[kCmdBlockSize] = {'<', 'I', 'C', 'M', 'D', 'B', 'L', 'O', 'C', 'K', '>'};

namespace {

const char kMarker[] = "<ICMDBLOCK>";
const int kRecordArea = 7924;
const long long kCopyChunk = 65536;

void ownBlock(unsigned char* out) {
    for (int i = 0; i < kCmdBlockSize; i++) out[i] = _cmdBlock[i];
}

bool copyRange(cFileIOTarget* from, cFileIOTarget* to, unsigned long long n, unsigned char* buf) {
    while (n > 0) {
        long long c = n > (unsigned long long)kCopyChunk ? kCopyChunk : (long long)n;
        if (!from->readf(buf, c) || !to->writef(buf, c)) return false;
        n -= (unsigned long long)c;
    }
    return true;
}

// Writes a file as "<to>.tmp" beside it (a leftover of that name is ours) and replaces
// `to` with it.
bool writeBeside(const char* to, const unsigned char* data, long long n, cFileIOTarget* from) {
    cInstallFS* fs = cInstallFS::plain();
    _guardchar<char> tmp;
    if (!concatText(to, ".tmp", tmp)) return false;
    auto fill = [&](int fd) {
        if (data && !fs->write(fd, data, n)) return false;
        unsigned char buf[4096];
        long long got = 0;
        while (from && (got = from->read(buf, sizeof buf)) > 0)
            if (!fs->write(fd, buf, got)) return false;
        return got == 0;
    };
    return replaceFile(to, tmp, 0644, fill, fs) == eReplaceDone;
}

bool writeText(const char* path, const char* text) {
    return writeBeside(path, (const unsigned char*)text, (long long)strlen(text), nullptr);
}

// The files of the manager's bundle beside its executable, refreshed each beside its
// place (the copy may be running); `targetFolder` is the executable's folder.
bool writeBundleFiles(const char* source, const char* targetFolder) {
    _guardchar<char> dst, src, p, q;
    // Not both in bundles: the executable only.
    if (!folderAbove(targetFolder, 1, dst) || !bundleContentsOf(source, src)) return true;
    if (!contentsPath(dst.ptr, eBundleResources, p) || !makeFolderChain(p.ptr)) return false;
    cFileIO icon;
    if (!contentsPath(src.ptr, eBundleIcon, p) || !contentsPath(dst.ptr, eBundleIcon, q) ||
        !icon.open(p.ptr, cFileIO::eRead) || !writeBeside(q.ptr, nullptr, 0, &icon))
        return false;
    if (!contentsPath(dst.ptr, eBundlePkgInfo, p) || !writeText(p.ptr, kBundlePkgInfo)) return false;
    unsigned long long v = getCurrVerID();
    _guardchar<char> plist;
    if (!managerInfoPlist((int)(v >> 48), (int)((v >> 32) & 0xFFFF), plist)) return false;
    // Each write flushed its folder: Resources (the icon) and Contents (which holds Resources).
    return contentsPath(dst.ptr, eBundleInfoPlist, p) && writeText(p.ptr, plist.ptr);
}

}  // namespace

bool isPureICmd(const unsigned char* b) {
    if (!b || memcmp(b, kMarker, 11) != 0) return false;
    for (int i = 11; i < kCmdBlockSize; i++)
        if (b[i]) return false;
    return true;
}

bool isPureICmd() {
    unsigned char b[kCmdBlockSize];
    ownBlock(b);
    return isPureICmd(b);
}

long long findICmd(cFileIOTarget* stream) {
    if (!stream || !isPureICmd() || stream->size() <= (unsigned long long)kCmdBlockSize) return -1;
    // A window of the stream slides over the data; a match starts with "<" and must be
    // pristine over all 8192 bytes.
    const long long chunk = 1 << 20;
    _typebuf<unsigned char> buf;
    if (!buf.set(chunk + kCmdBlockSize) || !stream->set_fp(0)) return -1;
    long long have = 0, base = 0;
    for (;;) {
        long long got = stream->read(buf.ptr + have, chunk + kCmdBlockSize - have);
        if (got < 0) return -1;
        have += got;
        long long last = have - kCmdBlockSize;
        for (long long i = 0; i <= last; i++)
            if (buf.ptr[i] == '<' && isPureICmd(buf.ptr + i)) return base + i;
        if (got == 0) return -1;
        if (last > 0) {
            memmove(buf.ptr, buf.ptr + last + 1, (size_t)(have - last - 1));
            base += last + 1;
            have -= last + 1;
        }
    }
}

bool writePristine(cFileIOTarget* in, const unsigned char* block, cFileIOTarget* output) {
    _typebuf<unsigned char> buf;
    if (!in || !output || !buf.set(kCopyChunk) || !in->set_fp(0)) return false;
    unsigned long long size = in->size();
    if (block[0] == '<') return copyRange(in, output, size, buf.ptr);
    if (block[0] != 1 && block[0] != 2) return false;
    unsigned long long pristine = le32(block + 264), own = le32(block + 260);
    if (pristine > size) return false;
    unsigned long long pos = 0;
    int at = 268, left = kRecordArea;
    for (;;) {
        if (left < 6) return false;
        unsigned long long offset = le32(block + at);
        if (offset == 0xFFFFFFFFULL)
            return in->set_fp(pos) && (pos >= pristine || copyRange(in, output, pristine - pos, buf.ptr));
        int len = (int)le16(block + at + 4);
        if (6 + len > left || offset < pos) return false;
        if (offset > pristine) return false;
        if (!in->set_fp(pos) || !copyRange(in, output, offset - pos, buf.ptr)) return false;
        pos = offset;
        if (offset == own) {
            unsigned char pure[kCmdBlockSize] = {};
            memcpy(pure, kMarker, 11);
            if (len != 0 || !output->writef(pure, kCmdBlockSize)) return false;
            pos += kCmdBlockSize;
        } else {
            if (!output->writef(block + at + 6, len)) return false;
            pos += (unsigned long long)len;
        }
        at += 6 + len;
        left -= 6 + len;
    }
}

bool saveSoftMgr(const char* source, cFileIOTarget* output, const char* targetFolder) {
    if (!source || !*source || !output) return false;
    if (targetFolder && strchr(targetFolder, '/') && !writeBundleFiles(source, targetFolder)) return false;
    cFileIO in;
    if (!in.open(source, cFileIO::eRead)) return false;
    unsigned char block[kCmdBlockSize];
    ownBlock(block);
    return writePristine(&in, block, output);
}
