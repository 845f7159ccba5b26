// Leaf MOS. Packet lists nest (a camera profile holds a capture profile holds the mosaic
// pattern); the walk is bounded in depth, and every packet's length is checked against the
// bytes that remain before it is read.
#include "picts/raw/leaf/pictmos.h"

#include <cstdlib>
#include <cstring>

#include "base/memio.h"
#include "base/strings.h"
#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawljpeg.h"
#include "picts/raw/rawpreview.h"
#include "picts/rawcore/rawtone.h"
#include "picts/sizecheck.h"

namespace {

unsigned int decimal(const unsigned char* d, long long n) {
    char text[16];
    const long long k = n < 15 ? n : 15;
    memcpy(text, d, (size_t)k);
    text[k] = 0;
    return (unsigned int)strtoul(text, nullptr, 10);
}

}  // namespace

void cPictMOS::reset() {
    close();
    myCfa.pattern.clear();
    myCfa.rows = myCfa.cols = 0;
    myBackType = myRowsValue = myRotation = 0;
    myHavePreview = myCaptureProfile = false;
    myPreview.clear();
    myWidth = myHeight = myBits = myRowsPerStrip = myTileWidth = myTileHeight = 0;
    myCompression = mySamples = 1;
    myTiled = false;
    myOffsets.clear();
    myCounts.clear();
    myNesting = 0;
}

bool cPictMOS::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictMOS p;
    return p.isPicture(io, info);
}

unsigned long long cPictMOS::tiffStart(cFileIOTarget* io) {
    unsigned char h[34];
    if (!io || io->size() < 34 || !io->set_fp(0) || !io->readf(h, 34)) return 0;
    if (h[0] != 'P' || h[1] != 'K' || h[2] != 3 || h[3] != 4 || __memicmp(h + 30, "0.MO", 4)) return 0;
    return (h[8] | h[9] << 8) == 0 ? 39 : 0;
}

bool cPictMOS::processLeafData(const unsigned char* data, long long size, int depth) {
    if (depth > kMaxPacketDepth) return false;
    long long at = 0;
    while (size - at >= 52) {
        const unsigned char* h = data + at;
        if (memcmp(h, "PKTS", 4)) return false;
        const unsigned long long len = rawGet32(h + 48, myBigEndian);
        if (len > (unsigned long long)(size - at - 52)) return false;
        char name[41];
        memcpy(name, h + 8, 40);
        name[40] = 0;
        const unsigned char* d = h + 52;
        const long long n = (long long)len;
        if (!strcmp(name, "CaptProf_raw_data_rotation")) {
            myRotation = decimal(d, n);
            if (myRotation % 90) myRotation = 0;
        } else if (!strcmp(name, "Rows_data")) {
            if (n < 4) return false;
            myRowsValue = rawGet32(d, myBigEndian);
        } else if (!strcmp(name, "JPEG_preview_data")) {
            // Kept after one byte of padding: the preview window starts at offset 1.
            if (myWantPreview) {
                myHavePreview = n > 0 && myPreview.set(n + 1);
                if (myHavePreview) {
                    myPreview.ptr[0] = 0;
                    memcpy(myPreview.ptr + 1, d, (size_t)n);
                }
            } else {
                myHavePreview = true;
            }
        } else if (!strcmp(name, "camera_profile")) {
            if (!processLeafData(d, n, depth + 1)) return false;
        } else if (!strcmp(name, "CamProf_capture_profile")) {
            myCaptureProfile = true;
            if (!processLeafData(d, n, depth + 1)) return false;
        } else if (!strcmp(name, "CamProf_back_type")) {
            myBackType = decimal(d, n);
        } else if (!strcmp(name, "CaptProf_mosaic_pattern")) {
            if (n != 8) return false;
            const int k = d[2] == '1' ? 1 : d[4] == '1' ? 3 : d[6] == '1' ? 2 : 0;
            static const unsigned char kPatterns[4][4] = {{0, 1, 1, 2}, {1, 0, 2, 1}, {2, 1, 1, 0}, {1, 2, 0, 1}};
            myCfa.rows = myCfa.cols = 2;
            myCfa.pattern.set(kPatterns[(myRotation / 90 + k) % 4], 4);
        }
        at += 52 + n;
    }
    return true;
}

bool cPictMOS::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    switch (tag) {
        case 256: return getValU32(p, myWidth);
        case 257: return getValU32(p, myHeight);
        case 258: {
            _typebuf<unsigned short> v;
            if (!getValsU16(p, v) || !v.count) return false;
            myBits = v.ptr[0];
            return true;
        }
        case 259: return getValU32(p, myCompression);
        case 273:
        case 324:
            myTiled = tag == 324;
            return getValsU32(p, myOffsets);
        case 277: return getValU32(p, mySamples);
        case 278: return getValU32(p, myRowsPerStrip);
        case 279:
        case 325: return getValsU32(p, myCounts);
        case 322: return getValU32(p, myTileWidth);
        case 323: return getValU32(p, myTileHeight);
        case 34310: return !data || processLeafData((const unsigned char*)data, size);
        default: return true;
    }
}

bool cPictMOS::walk(cFileIOTarget* io) {
    const bool wantPreview = myWantPreview;
    reset();
    myWantPreview = wantPreview;
    if (!io) return false;
    const unsigned long long start = tiffStart(io);
    if (start >= io->size()) return false;
    cFileIOSubRange tiff(io, start, io->size() - start);
    if (!processStream(&tiff, ~0ULL)) return false;
    myIO = nullptr;  // the window lives on this stack only
    return myCaptureProfile;
}

bool cPictMOS::isPicture(cFileIOTarget* io, sPictInfo* info) {
    myWantPreview = false;
    if (!walk(io)) return false;
    if (info) {
        info->width = myWidth;
        info->height = myHeight;
        info->hasPreview = myHavePreview;
    }
    return true;
}

bool cPictMOS::readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame) {
    const long long width = myWidth, height = myHeight;
    const unsigned long long fileSize = io->size();
    if (myCounts.count != myOffsets.count) return false;
    unsigned long long total = 0;
    for (long long i = 0; i < myOffsets.count; i++) {
        if ((unsigned long long)myOffsets.ptr[i] + myCounts.ptr[i] > fileSize) return false;
        total += myCounts.ptr[i];
    }
    // Lossless JPEG spends at least a bit a sample, plain samples two bytes.
    long long bytes;
    if (!checkedImageBytes(width, height, 2, bytes) || total * 8 < (unsigned long long)(width * height)) return false;
    long long bw = width, bh = myRowsPerStrip && myRowsPerStrip < height ? myRowsPerStrip : height;
    if (myTiled) {
        if (!myTileWidth || !myTileHeight) return false;
        bw = myTileWidth;
        bh = myTileHeight;
    }
    const long long across = (width + bw - 1) / bw, down = (height + bh - 1) / bh;
    if (myOffsets.count < across * down || myCounts.count != myOffsets.count) return false;
    if (!frame.set(width * height)) return false;
    frame.zero();
    for (long long i = 0; i < across * down; i++) {
        const long long x0 = (i % across) * bw, y0 = (i / across) * bh;
        const long long rows = myTiled ? bh : (height - y0 < bh ? height - y0 : bh);
        const long long count = myCounts.ptr[i];
        _typebuf<unsigned char> in;
        if (!count || !in.set(count) || !io->set_fp(myOffsets.ptr[i]) || !io->readf(in.ptr, count)) return false;
        _typebuf<unsigned short> block;
        if (myCompression == 7 || myCompression == 99) {
            cRAWLosslessJpeg lj;
            lj.init((unsigned int)bw, (unsigned int)rows,
                    (myRowsValue & 1) ? cRAWLosslessJpeg::stInterleaved : cRAWLosslessJpeg::stInOrder);
            cBufWrapperIO mem(in.ptr, count);
            if (!lj.decodeFrame(&mem) || !lj.getData(block) || block.count < bw * rows) return false;
        } else if (myCompression == 1 && myBits == 16) {
            if (count < bw * rows * 2 || !block.set(bw * rows)) return false;
            for (long long k = 0; k < bw * rows; k++) block.ptr[k] = (unsigned short)rawGet16(in.ptr + 2 * k, myBigEndian);
        } else {
            return false;
        }
        for (long long r = 0; r < rows && y0 + r < height; r++) {
            const long long n = x0 + bw <= width ? bw : width - x0;
            memcpy(frame.ptr + (y0 + r) * width + x0, block.ptr + r * bw, (size_t)n * 2);
        }
    }
    return true;
}

bool cPictMOS::decode(cFileIOTarget* io) {
    myWantPreview = false;
    if (!walk(io) || mySamples != 1 || myCfa.pattern.count != 4 || !myWidth || !myHeight || !myOffsets.count)
        return false;
    const unsigned long long start = tiffStart(io);
    cFileIOSubRange tiff(io, start, io->size() - start);
    _typebuf<unsigned short> frame;
    if (!readFrame(&tiff, frame)) {
        reset();
        return false;
    }
    sRawBayerJob job;
    job.raw = frame.ptr;
    job.width = myWidth;
    job.height = myHeight;
    job.cfa = &myCfa;
    const double mul[4] = {1.1, 1.0, 1.33, 1.0};
    for (int c = 0; c < 4; c++) job.mul[c] = mul[c];
    if (!rawBayerFinish(*this, job, io)) return false;
    cStreamGuardProgressTarget guard(io);
    unsigned long long* px = raw16Bpp();
    if (!setSaturation(px, px, width() * height(), 1.5, &guard)) {
        close();
        return false;
    }
    return true;
}

bool cPictMOS::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    myWantPreview = true;
    const bool ok = walk(io);
    myWantPreview = false;
    if (!ok || !myHavePreview || myPreview.count < 2) return false;
    cBufWrapperIO mem(myPreview.ptr, (long long)myPreview.count);
    return rawJpegPreview(&mem, 1, myPreview.count - 1, target, maxWidth, maxHeight);
}
