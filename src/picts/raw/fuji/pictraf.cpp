// Fujifilm RAF. Every block lies inside the file before it is read; the frame is as large as
// the raw data can fill; packed rows never give more samples than a row holds; the turned
// sensor's plane and the output mapping stay inside the raw row width and the plane; X-Trans
// frames demosaic at the size of the buffer that holds them.
#include "picts/raw/fuji/pictraf.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "base/memio.h"
#include "picts/byteorder.h"
#include "picts/rawcore/rawhook.h"
#include "picts/raw/rawpreview.h"
#include "picts/rawcore/rawtone.h"
#include "picts/tone.h"

namespace {

struct sFujiModel {
    const char* names;  // '|'-separated, each compared on 8 bytes padded with NULs
    int at;             // 28 or 36
    int left, right, top;  // -1 keeps the default
    int black;             // -1 keeps the default
    bool xTrans, groups12, altCodes, s2pro;
};
const sFujiModel kModels[] = {
    {"X-Pro2", 28, 1, 127, 2, 900, true, false, false, false},
    {"X100F", 28, 7, 127, 2, 1000, true, false, false, false},
    {"X-T30", 28, 1, 132, 1, 1000, true, false, false, false},
    {"X-T20", 28, 7, 126, 2, 800, true, false, false, false},
    {"X70", 28, 7, 51, 2, 900, true, false, false, false},
    {"X100T|X-E2S|X-E2|X-E3|X-T1|X-T10|X100S", 28, 7, 51, 2, 800, true, false, false, false},
    {"X-Pro1|X-E1|X-M1", 28, 1, 167, 1, -1, true, false, false, false},
    {"X-A1|X-A2", 28, -1, 167, -1, -1, false, false, false, false},
    {"X-A10", 28, 0, -1, 0, -1, false, true, false, false},
    {"XQ1|XQ2|X20|X30", 28, -1, 63, -1, -1, true, false, false, false},
    {"X10|XF1|X-S1", 28, 48, 47, -1, -1, false, false, true, false},
    {"X100", 36, 68, 69, -1, -1, false, false, false, false},
    {"2Pro", 36, -1, -1, -1, -1, false, false, false, true},
    {"F700  ", 36, 22, -1, -1, -1, false, false, false, false},
    {"S5000 ", 36, 36, -1, 4, -1, false, false, false, false},
    {"S9500  |S5600  |S100FS |E900   |S6500fd", 36, 46, -1, -1, -1, false, false, false, false},
    {"HS50EXR", 36, -1, 63, -1, -1, false, false, true, false},
    {"F550EXR|HS30EXR|HS20EXR|F770EXR|F600EXR|F800EXR", 36, 34, 32, -1, -1, false, false, false, false},
    {"S3Pro  ", 36, 23, -1, -1, -1, false, false, false, false},
    {"S5Pro  ", 36, 24, -1, 4, -1, false, false, false, false},
    {"S200EXR", 36, 34, 32, -1, 300, false, false, false, false},
    {"F900EXR", 36, -1, 63, -1, -1, false, false, false, false},
    {"SL1000|S1", 36, -1, -1, -1, -1, false, true, false, false},
    {"HS10 HS1", 36, -1, -1, -1, 90, false, true, true, false},
    {"GFX 50S", 28, -1, 935, -1, -1, false, false, false, false},
};

}  // namespace

void cPictRAF::reset() {
    close();
    myMargins = sMarginInfo();
    for (double& b : myBalance) b = 1.0;
    memset(myHeader, 0, sizeof myHeader);
    myRotated = myLayout = myGroups12 = myXTrans = mySwapBytes = false;
    myBlack = 240;
    myImageWidth = myImageHeight = 0;
    myBits = 16;
    myRawDataOffset = myRawDataLength = 0;
    static const unsigned char kCodes[4] = {0, 1, 1, 2};
    memcpy(myCodes, kCodes, 4);
    myFrameWidth = myFrameHeight = 0;
    myRawOffset = myRawLength = 0;
    myNesting = 0;
}

bool cPictRAF::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictRAF p;
    return p.isPicture(io, info);
}

bool cPictRAF::loadVerifyHeader(cFileIOTarget* io) {
    if (!io || !io->set_fp(0) || !io->readf(myHeader, kHeaderSize) || memcmp(myHeader, "FUJIFILMCCD-RAW ", 16))
        return false;
    if (be32(myHeader + 84) < kHeaderSize || be32(myHeader + 92) < kHeaderSize || be32(myHeader + 100) < kHeaderSize)
        memset(myHeader + 120, 0, 4);
    myRawOffset = be32(myHeader + 100);
    myRawLength = be32(myHeader + 104);
    return be32(myHeader + 92) && be32(myHeader + 96) && myRawOffset && myRawLength;
}

bool cPictRAF::loadProps(cFileIOTarget* io) {
    const unsigned int off = be32(myHeader + 92), len = be32(myHeader + 96);
    if (!off || !len || (unsigned long long)off + len > io->size()) return false;
    cFileIOSubRange block(io, off, len);
    unsigned char b[8];
    if (!block.set_fp(0) || !block.readf(b, 4)) return false;
    const unsigned int count = be32(b);
    if (!count) return false;
    unsigned long long pos = 4;
    for (unsigned int i = 0; i < count && i < kMaxProps; i++) {
        if (!block.set_fp(pos) || !block.readf(b, 4)) return false;
        const unsigned int tag = be16(b), size = be16(b + 2);
        unsigned char d[8];
        const unsigned int want = tag == 0x100 || tag == 0x121 ? 4 : tag == 0x130 ? 2 : tag == 0x2FF0 ? 8 : 0;
        if (want && size >= want) {
            if (!block.readf(d, want)) return false;
            if (tag == 0x100) {
                myFrameHeight = be16(d);
                myFrameWidth = be16(d + 2);
            } else if (tag == 0x121) {
                myImageHeight = be16(d);
                myImageWidth = be16(d + 2);
            } else if (tag == 0x130) {
                myLayout = (d[0] & 0x80) != 0;
                myRotated = !(d[1] & 8);
            } else {
                const double a = be16(d), bb = be16(d + 2), c = be16(d + 4), dd = be16(d + 6);
                if (!bb) {
                    for (double& v : myBalance) v = 1.0;
                } else {
                    myBalance[0] = 1.0;
                    myBalance[1] = a / bb;
                    myBalance[2] = dd / bb;
                    myBalance[3] = c / bb;
                }
            }
        }
        pos += 4 + size;
    }
    return true;
}

void cPictRAF::initModelSpecificInfo() {
    if (myRotated) {
        static const unsigned char kRot[4] = {1, 2, 0, 1};
        memcpy(myCodes, kRot, 4);
    }
    for (const sFujiModel& m : kModels) {
        const char first = (char)myHeader[28];
        if (m.at == 28 && first != 'X' && first != 'G') continue;
        if (m.at == 36 && !(myHeader[28] == 'F' && myHeader[29] == 'i')) continue;
        bool hit = false;
        for (const char* p = m.names; *p && !hit;) {
            const char* e = strchr(p, '|');
            const size_t n = e ? (size_t)(e - p) : strlen(p);
            char name[8] = {};
            memcpy(name, p, n < 8 ? n : 8);
            hit = !memcmp(myHeader + m.at, name, 8);
            p = e ? e + 1 : p + n;
        }
        if (!hit) continue;
        if (m.left >= 0) myMargins.left = (unsigned)m.left;
        if (m.right >= 0) myMargins.right = (unsigned)m.right;
        if (m.top >= 0) myMargins.top = (unsigned)m.top;
        if (m.black >= 0) myBlack = (unsigned)m.black;
        myXTrans = m.xTrans;
        myGroups12 = m.groups12;
        if (m.altCodes) {
            static const unsigned char kAlt[4] = {2, 1, 1, 0};
            memcpy(myCodes, kAlt, 4);
        }
        if (m.s2pro) {
            myImageWidth = 2880;
            myImageHeight = 2144;
            mySwapBytes = true;
        }
        return;
    }
}

bool cPictRAF::onTag(int tag, int type, const void* data, int size) {
    if (tag < 0xF000 || tag > 0xF00E) return true;
    sTagProcessParam p = {tag, type, data, size};
    unsigned int v = 0;
    switch (tag) {
        case 0xF000:
            // A nested directory: walked with the walker's position saved, bounded in depth
            // and never twice.
            return getValU32(p, v) && walkNested(v);
        case 0xF001:
        case 0xF002:
            if (!getValU32(p, v) || !v) return false;
            (tag == 0xF001 ? myFrameWidth : myFrameHeight) = v;
            if (tag == 0xF001 && !myImageWidth) myImageWidth = v;
            if (tag == 0xF002 && !myImageHeight) myImageHeight = v;
            return true;
        case 0xF003: return getValU32(p, myBits) && myBits;
        case 0xF007: return getValU32(p, myRawDataOffset) && myRawDataOffset;
        case 0xF008: return getValU32(p, myRawDataLength) && myRawDataLength;
        case 0xF00E: {
            _typebuf<unsigned int> w;
            if (!getValsU32(p, w) || w.count < 3) return false;
            if (w.ptr[2]) {
                myBalance[0] = 1.0;
                myBalance[1] = (double)w.ptr[0] / w.ptr[2];
                myBalance[2] = (double)w.ptr[1] / w.ptr[2];
                myBalance[3] = (double)w.ptr[0] / w.ptr[2];
            } else {
                for (double& b : myBalance) b = 1.0;
            }
            return true;
        }
        default: return true;
    }
}

bool cPictRAF::load(cFileIOTarget* io) {
    reset();
    if (!loadVerifyHeader(io) || !loadProps(io)) return false;
    const unsigned long long fileSize = io->size();
    if (myRawOffset > fileSize) return false;
    if (myRawLength > fileSize - myRawOffset) myRawLength = fileSize - myRawOffset;
    if (myRawLength != (unsigned long long)(myFrameWidth * myFrameHeight * 2)) {
        cFileIOSubRange block(io, myRawOffset, myRawLength);
        if (!processStream(&block, ~0ULL) || !myRawDataOffset || myRawDataOffset > myRawLength) return false;
        myRawOffset += myRawDataOffset;
        myRawLength -= myRawDataOffset;
    }
    if (!myFrameWidth && !myFrameHeight) return false;
    initModelSpecificInfo();
    return true;
}

bool cPictRAF::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!load(io)) return false;
    unsigned long long iw = myImageWidth, ih = myImageHeight;
    if (myRotated) {
        iw = (unsigned long long)(iw / 2 * std::sqrt(2.0));
        ih = (unsigned long long)(ih * std::sqrt(2.0));
    }
    // Margins are checked against the frame.
    if (iw <= (unsigned long long)myMargins.left + myMargins.right ||
        ih <= (unsigned long long)myMargins.top + myMargins.bottom)
        return false;
    if (info) {
        info->width = (long long)(iw - myMargins.left - myMargins.right);
        info->height = (long long)(ih - myMargins.top - myMargins.bottom);
        info->hasPreview = be32(myHeader + 84) && be32(myHeader + 88);
    }
    return true;
}

// The byte order of the 16-bit samples: the one of the preview's EXIF structure, as the
// cameras write both; little-endian without one.
bool cPictRAF::samplesBigEndian(cFileIOTarget* io) {
    const unsigned int off = be32(myHeader + 84), len = be32(myHeader + 88);
    unsigned char b[64];
    if (!off || len < sizeof b || !io->set_fp(off) || !io->readf(b, sizeof b)) return false;
    for (size_t i = 0; i + 8 <= sizeof b; i++)
        if (!memcmp(b + i, "Exif\0\0", 6)) return b[i + 6] == 'M' && b[i + 7] == 'M';
    return false;
}

bool cPictRAF::readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame) {
    long long width = myFrameWidth, height = myFrameHeight;
    if (!width) return false;
    if (myBits == 16 || myBits == 14) {
        if (myBits == 14 && myRawLength == (unsigned long long)(width * height * 14 / 8)) return false;
        if ((myHeader[120] | myHeader[121] | myHeader[122] | myHeader[123]) && myRotated) {
            width *= 2;
        } else if (myRawLength != (unsigned long long)(width * height * 2)) {
            return false;
        }
        long long n;
        // The samples must all be in the raw block.
        if (!checkedImageBytes(width, height, 2, n) || (unsigned long long)n > myRawLength) return false;
        if (!frame.set(width * height) || !io->set_fp(myRawOffset) || !io->readf(frame.ptr, n)) return false;
        const bool be = samplesBigEndian(io);
        const unsigned char* b = (const unsigned char*)frame.ptr;
        for (long long i = 0; i < width * height; i++) frame.ptr[i] = (unsigned short)rawGet16(b + 2 * i, be);
    } else if (myBits == 12) {
        long long n;
        if (!checkedImagePixels(width, height, n) || myRawLength < (unsigned long long)(n * 3 / 2)) return false;
        long long rowBytes = (width * 3 + 1) / 2;
        if (myGroups12) rowBytes = (rowBytes + 11) / 12 * 12;
        _typebuf<unsigned char> row;
        if (!frame.set(n) || !row.set(rowBytes + 12) || !io->set_fp(myRawOffset)) return false;
        frame.zero();
        for (long long y = 0; y < height; y++) {
            if (!io->readf(row.ptr, rowBytes)) return false;
            memset(row.ptr + rowBytes, 0, 12);
            unsigned short* out = frame.ptr + y * width;
            const unsigned char* b = row.ptr;
            if (myGroups12) {
                // Eight samples a 12-byte group; a row's last group gives only what fits.
                for (long long x = 0; x < width; x += 8, b += 12) {
                    const unsigned int v[8] = {
                        (unsigned)(b[2] >> 4 | b[3] << 4), (unsigned)((b[2] & 15) << 8 | b[1]),
                        (unsigned)(b[7] >> 4 | b[0] << 4), (unsigned)((b[7] & 15) << 8 | b[6]),
                        (unsigned)(b[4] >> 4 | b[5] << 4), (unsigned)((b[4] & 15) << 8 | b[11]),
                        (unsigned)(b[9] >> 4 | b[10] << 4), (unsigned)((b[9] & 15) << 8 | b[8])};
                    for (int j = 0; j < 8 && x + j < width; j++) out[x + j] = (unsigned short)(v[j] & 0xFFF);
                }
            } else {
                for (long long x = 0; x < width; x += 2, b += 3) {
                    out[x] = (unsigned short)((b[1] & 15) << 8 | b[0]);
                    if (x + 1 < width) out[x + 1] = (unsigned short)(b[1] >> 4 | b[2] << 4);
                }
            }
        }
    } else {
        return false;
    }
    myFrameWidth = width;
    return true;
}

bool cPictRAF::finish(unsigned long long* pixels, long long count, unsigned int maxRaw, cFileIOTarget* io) {
    double hi = 1.0, lo = 1.0;
    for (double m : {rawClampMul(myBalance[1]), rawClampMul(myBalance[2])}) {
        if (m > hi) hi = m;
        if (m < lo) lo = m;
    }
    const unsigned int limit = (unsigned int)(lo * maxRaw / hi + 0.5);
    cStreamGuardProgressTarget guard(io);
    sHystogram h;
    if (!buildHystogram(pixels, count, h, 4096, &guard)) return false;
    unsigned int low, middle, high;
    _typebuf<unsigned int> curve;
    if (!getHystogramParams(h.combined, 16, low, middle, high, 0.99)) return true;  // flat: stays linear
    if (high > limit) high = limit;
    if (!makeDeCurveFromGamma(curve, 16, 8.0, low, high)) return true;
    if (!adjustToCurve(pixels, pixels, count, curve, &guard)) return false;
    setSaturation(pixels, pixels, count, 1.2, nullptr);
    return true;
}

bool cPictRAF::decode(cFileIOTarget* io) {
    if (!load(io)) return false;
    _typebuf<unsigned short> frame;
    if (!readFrame(io, frame)) {
        reset();
        return false;
    }
    cBayerFilter* filter;
    if (myXTrans) {
        filter = cFujiXTransFilter::newFilter();
    } else {
        sCFAData cfa;
        cfa.rows = cfa.cols = 2;
        cfa.pattern.set(myCodes, 4);
        filter = cBayerFilter::newFilter(cfa);
    }
    if (!filter) {
        reset();
        return false;
    }
    cStreamGuardProgressTarget guard(io);
    sInterpolateInfo info;
    info.filter = filter;
    info.progress = &guard;
    for (int c = 0; c < 4; c++) info.mul[c] = myBalance[c];
    info.black = myBlack > 65535 ? 65535 : myBlack;
    bool ok = false;
    if (!myRotated) {
        const long long cw = myFrameWidth - (long long)myMargins.left - myMargins.right;
        const long long ch = myFrameHeight - (long long)myMargins.top - myMargins.bottom;
        if (cw >= 1 && ch >= 1 && allocPixels(cw, ch, true)) {
            // Demosaiced at the size of the buffer that holds the samples.
            info.raw = frame.ptr;
            info.width = myFrameWidth;
            info.height = myFrameHeight;
            info.pixels = raw16Bpp();
            info.flip = true;
            ok = myXTrans ? interpolateLinear(info, &myMargins) : interpolatePPG(info, &myMargins);
        }
    } else {
        // The turned sensor: each raw row is laid along a diagonal of a plane W wide and
        // W - 1 high, demosaiced there, and read back turned by 45 degrees.
        const long long h2 = (long long)(myImageWidth / 2), W = (long long)myImageHeight + h2;
        long long planeN, outW = (long long)(h2 * std::sqrt(2.0)) - myMargins.left - myMargins.right,
                          outH = (long long)(myImageHeight * std::sqrt(2.0)) - myMargins.top - myMargins.bottom;
        _typebuf<unsigned short> plane;
        _typebuf<unsigned long long> planePx;
        // The plane (and the picture) may not outgrow the samples that fill it several times over.
        const long long samples = myFrameWidth * myFrameHeight;
        if (h2 >= 1 && W >= 2 && outW >= 1 && outH >= 1 && checkedImageBytes(W, W - 1, 8, planeN) &&
            W * (W - 1) / 8 <= samples && outW * outH / 8 <= samples &&
            plane.set(W * (W - 1)) && planePx.set(W * (W - 1)) && allocPixels(outW, outH, true)) {
            plane.zero();
            // Raw columns beyond the row's width are never read.
            const long long cols = myLayout ? h2 : 2 * h2, usable = cols < myFrameWidth ? cols : myFrameWidth;
            for (long long r = 0; r < myFrameHeight; r++) {
                const unsigned short* src = frame.ptr + r * myFrameWidth;
                for (long long c = 0; c < usable; c++) {
                    long long pr, pc;
                    if (myLayout) {
                        pr = r / 2 + h2 - 1 - c;
                        pc = (r + 1) / 2 + c;
                    } else {
                        pr = h2 - 1 + r - c / 2;
                        pc = (c + 1) / 2 + r;
                    }
                    if (pr < 0 || pr >= W - 1 || pc < 0 || pc >= W) continue;
                    unsigned short v = src[c];
                    if (mySwapBytes) v = (unsigned short)(v >> 8 | v << 8);
                    plane.ptr[pr * W + pc] = v;
                }
            }
            info.raw = plane.ptr;
            info.width = W;
            info.height = W - 1;
            info.pixels = planePx.ptr;
            info.flip = false;
            ok = myXTrans ? interpolateLinear(info, nullptr) : interpolatePPG(info, nullptr);
            if (ok) {
                const double s2 = std::sqrt(2.0);
                const long long left = myMargins.left, bottom = myMargins.bottom;
                unsigned long long* out = raw16Bpp();
                for (long long y = 0; y < outH; y++)
                    for (long long x = 0; x < outW; x++) {
                        const long long pr = (long long)((y + left + bottom + x) / s2 + 0.5);
                        const long long pc = (long long)((left + (outH - y) - bottom + x) / s2 + 0.5);
                        // Places outside the plane stay black.
                        const bool in = pr >= 0 && pr < W - 1 && pc >= 0 && pc < W;
                        out[(outH - 1 - y) * outW + x] = in ? planePx.ptr[pr * W + pc] : 0xFFFF000000000000ULL;
                    }
            }
        }
    }
    delete filter;
    if (!ok || !finish(raw16Bpp(), width() * height(), info.maxRaw, io)) {
        reset();
        return false;
    }
    return true;
}

bool cPictRAF::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    reset();
    if (!loadVerifyHeader(io)) return false;
    const unsigned int off = be32(myHeader + 84), len = be32(myHeader + 88);
    if (!off || !len) return false;
    return rawJpegPreview(io, off, len, target, maxWidth, maxHeight);
}
