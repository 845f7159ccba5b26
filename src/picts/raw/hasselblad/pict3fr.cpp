// Hasselblad 3FR. The scan decoder checks every difference length (at most 16) and never
// writes the second sample of a pair past the end of an odd-width line; nested directories
// go through the saved-state walker.
#include "picts/raw/hasselblad/pict3fr.h"

#include <cstring>

#include "base/strings.h"
#include "compression/haffmantable.h"
#include "picts/byteorder.h"
#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawbits.h"
#include "picts/raw/rawpreview.h"
#include "picts/sizecheck.h"
#include "picts/tiff/pictdng.h"

namespace {

// One Huffman symbol from the word reader; -1 for bits that start no code.
int huffSymbol(cRawBits32& bits, const _typebuf<unsigned int>& table) {
    const int longest = (int)table.ptr[0];
    const unsigned int e = table.ptr[1 + bits.peek(longest)];
    if (!e) {
        bits.skip(longest);
        return -1;
    }
    bits.skip((int)(e >> 8));
    return (int)(e & 0xFF);
}

// A difference of `len` bits the JPEG way (T.81 F.2.2.1); 65535 stands for -32768.
int difference(uint32_t v, int len) {
    if (!len) return 0;
    int d = (int)v;
    if (!(v >> (len - 1))) d = d - (1 << len) + 1;
    return d == 65535 ? -32768 : d;
}

// The DNG decoder reading a 3FR: the file has no DNG version, so UniqueCameraModel puts a
// marker in its place that passes the DNG version test; a file that also carries a DNG
// version is refused here (it is the DNG decoder's own). IFD0 must name Hasselblad, and a
// one-sample frame without a CFA pattern gets the cameras' red-green / green-blue one.
class c3FRAsDng : public cPictDNG {
public:
    enum : unsigned int { kMarker = 0xFF000000u };

    bool onTag(int tag, int type, const void* data, int size) override {
        if (myDirKind == dkMain && !myRawMode) {
            if (tag == 271 && (!data || type != 2 || size < 10 || __memicmp(data, "Hasselblad", 10)))
                return false;
            if (tag == 50708) {
                if (!myVersion) myVersion = kMarker;
                return myVersion == kMarker && cPictDNG::onTag(tag, type, data, size);
            }
        }
        return cPictDNG::onTag(tag, type, data, size);
    }
    bool onBeforeDecodeStripes(int strips) override { return defaultPattern() && cPictDNG::onBeforeDecodeStripes(strips); }
    bool onBeforeDecodeTiles(int tiles) override { return defaultPattern() && cPictDNG::onBeforeDecodeTiles(tiles); }

private:
    bool defaultPattern() {
        if (myRawMode && mySamples == 1 && !myCFA.pattern.count && myVersion == kMarker) {
            static const unsigned char kRGGB[4] = {0, 1, 1, 2};
            myCFA.rows = myCFA.cols = 2;
            return myCFA.pattern.set(kRGGB, 4);
        }
        return true;
    }
};

}  // namespace

bool cPict3FR_LJPEG::decode(const unsigned char* data, long long size, long long width, long long height,
                            _typebuf<unsigned short>& out) {
    myComplete = false;
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8 || width < 1 || height < 1) return false;
    unsigned char desc[4][16 + 256];
    long long descSize[4] = {0, 0, 0, 0};
    long long frameW = 0, frameH = 0;
    long long pos = 2;
    int table = -1;
    while (table < 0) {
        if (pos + 4 > size || data[pos] != 0xFF) return false;
        const unsigned char m = data[pos + 1];
        if (m == 0xD8 || m == 0xFF) {
            pos += m == 0xFF ? 1 : 2;
            continue;
        }
        const long long len = be16(data + pos + 2);
        if (len < 2 || pos + 2 + len > size) return false;
        const unsigned char* seg = data + pos + 4;
        const long long segLen = len - 2;
        pos += 2 + len;
        switch (m) {
            case 0xC4:
                for (long long at = 0; at < segLen;) {
                    if (at + 17 > segLen) return false;
                    const int id = seg[at] & 15, cls = seg[at] >> 4;
                    long long total = 0;
                    for (int i = 0; i < 16; i++) total += seg[at + 1 + i];
                    if (total > 256 || at + 17 + total > segLen) return false;
                    if (!cls && id < 4) {
                        memcpy(desc[id], seg + at + 1, (size_t)(16 + total));
                        descSize[id] = 16 + total;
                    }
                    at += 17 + total;
                }
                break;
            case 0xC3:
                if (segLen < 6 || seg[5] != 1) return false;  // one component only
                frameH = be16(seg + 1);
                frameW = be16(seg + 3);
                // The one-component header is followed by a byte its length leaves out.
                if (pos < size && data[pos] != 0xFF) pos++;
                break;
            case 0xDA:
                if (segLen < 4 || seg[0] != 1) return false;
                table = seg[2] >> 4;
                if (table > 3) return false;
                break;
            case 0xD9: return false;
            default: break;
        }
    }
    if (!frameW || !frameH || frameW * frameH != width * height || !descSize[table]) return false;
    _typebuf<unsigned int> lookup;
    const unsigned char* d = desc[table];
    if (!cHaffmanTable::createIndexTable(d, lookup, descSize[table])) return false;
    if (!out.set(width * height)) return false;
    out.zero();
    cRawBits32 bits(data + pos, size - pos, false);
    for (long long r = 0; r < frameH; r++) {
        unsigned short* line = out.ptr + r * frameW;
        unsigned short p0 = 0x8000, p1 = 0x8000;
        bool broken = false;
        for (long long c = 0; c < frameW; c += 2) {
            const int l0 = huffSymbol(bits, lookup), l1 = huffSymbol(bits, lookup);
            if (l0 > 16 || l1 > 16) return false;
            if (l0 < 0 || l1 < 0) {
                broken = true;
                break;
            }
            const int d0 = difference(bits.get(l0), l0), d1 = difference(bits.get(l1), l1);
            if (bits.overrun()) {
                broken = true;
                break;
            }
            p0 = (unsigned short)(p0 + d0);
            line[c] = p0;
            if (c + 1 < frameW) {
                p1 = (unsigned short)(p1 + d1);
                line[c + 1] = p1;
            }
        }
        if (broken) {
            if (r != frameH - 1) return false;
            break;
        }
    }
    myComplete = true;
    return true;
}

void cPict3FR::reset() {
    close();
    myMakeOk = myUniqueModel = myDngVersion = false;
    myNeutral[0] = myNeutral[1] = myNeutral[2] = 0;
    mySubIfds.clear();
    myDir = sDir();
    myRaw = sDir();
    myHaveRaw = false;
    myPreviewOffset = myPreviewLength = 0;
    myNesting = 0;
}

bool cPict3FR::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPict3FR p;
    return p.isPicture(io, info);
}

bool cPict3FR::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    sDir& d = myDir;
    switch (tag) {
        case 254: return getValU32(p, d.subfile);
        case 256: return getValU32(p, d.width);
        case 257: return getValU32(p, d.height);
        case 258: {
            _typebuf<unsigned short> v;
            if (!getValsU16(p, v) || !v.count) return false;
            d.bits = v.ptr[0];
            return true;
        }
        case 259: return getValU32(p, d.compression);
        case 271:
            if (!data || type != 2 || size < 10 || __memicmp(data, "Hasselblad", 10)) return false;
            return myMakeOk = true;
        case 273:
        case 324:
            d.tiled = tag == 324;
            return getValsU32(p, d.offsets);
        case 277: return getValU32(p, d.samples);
        case 278: return getValU32(p, d.rowsPerStrip);
        case 279:
        case 325: return getValsU32(p, d.counts);
        case 322: return getValU32(p, d.tileWidth);
        case 323: return getValU32(p, d.tileHeight);
        case 330: return getValsU32(p, mySubIfds);
        case 339: {
            _typebuf<unsigned short> v;
            if (getValsU16(p, v) && v.count) d.format = v.ptr[0];
            return true;
        }
        case 513: return getValU32(p, d.jpegOffset);
        case 514: return getValU32(p, d.jpegLength);
        case 33421: {
            _typebuf<unsigned short> v;
            if (!getValsU16(p, v) || v.count != 2) return false;
            d.cfa.rows = v.ptr[0];
            d.cfa.cols = v.ptr[1];
            return true;
        }
        case 33422: return getValsU8(p, d.cfa.pattern);
        case 50706: myDngVersion = true; return true;
        case 50708: myUniqueModel = true; return true;
        case 50714: {
            _typebuf<unsigned int> v;
            if (getValsU32(p, v) && v.count) d.black = v.ptr[0];
            return true;
        }
        case 50717: {
            _typebuf<unsigned int> v;
            if (getValsU32(p, v) && v.count) d.white = v.ptr[0];
            return true;
        }
        case 50728: {
            _typebuf<double> v;
            if (type == 5 && data) {
                getDataRational(data, size, v);
                for (int c = 0; c < 3 && c < v.count; c++) myNeutral[c] = v.ptr[c];
            }
            return true;
        }
        default: return true;
    }
}

bool cPict3FR::walk(cFileIOTarget* io) {
    reset();
    if (!io || !processStream(io, ~0ULL)) return false;
    // A file with a DNG version is the DNG decoder's, which the factory probes next.
    if (!myMakeOk || !myUniqueModel || myDngVersion) return false;
    auto consider = [&]() {
        if (myDir.jpegOffset && myDir.jpegLength && !myPreviewOffset) {
            myPreviewOffset = myDir.jpegOffset;
            myPreviewLength = myDir.jpegLength;
        }
        if (myHaveRaw || myDir.subfile != 0 || !myDir.width || !myDir.height || !myDir.offsets.count ||
            myDir.counts.count != myDir.offsets.count)
            return;
        myRaw = myDir;
        myHaveRaw = true;
    };
    consider();
    _typebuf<unsigned int> subs = mySubIfds;
    for (long long i = 0; i < subs.count; i++) {
        myDir = sDir();
        if (!walkNested(subs.ptr[i])) return false;
        consider();
    }
    if (!myHaveRaw) return false;
    // The default pattern of a Hasselblad frame.
    if (myRaw.samples == 1 && !myRaw.cfa.pattern.count) {
        static const unsigned char kRGGB[4] = {0, 1, 1, 2};
        myRaw.cfa.rows = myRaw.cfa.cols = 2;
        myRaw.cfa.pattern.set(kRGGB, 4);
    }
    return true;
}

bool cPict3FR::dngShare() const {
    return myRaw.samples != 1 || myRaw.format >= 2 || (myRaw.compression != 7 && !(myRaw.compression == 1 && myRaw.bits == 16));
}

bool cPict3FR::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!walk(io)) return false;
    if (dngShare()) {
        c3FRAsDng dng;
        dng.setWantAlts(false);
        return dng.isPicture(io, info);
    }
    if (info) {
        info->width = myRaw.width;
        info->height = myRaw.height;
        info->hasPreview = myPreviewOffset != 0;
    }
    return true;
}

bool cPict3FR::handOverToDng(cFileIOTarget* io) {
    c3FRAsDng dng;
    dng.setWantAlts(wantAlts());
    const bool ok = dng.decode(io);
    reset();
    if (!ok || dng.width() <= 0) return false;
    dng.moveTo(*this);
    return true;
}

bool cPict3FR::readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame) {
    const sDir& d = myRaw;
    const long long width = d.width, height = d.height;
    const unsigned long long fileSize = io->size();
    unsigned long long total = 0;
    for (long long i = 0; i < d.offsets.count; i++) {
        if ((unsigned long long)d.offsets.ptr[i] + d.counts.ptr[i] > fileSize) return false;
        total += d.counts.ptr[i];
    }
    // A pair of the shortest codes takes at least two bits.
    long long bytes;
    if (!checkedImageBytes(width, height, 2, bytes) || total * 8 < (unsigned long long)(width * height)) return false;
    long long bw = width, bh = d.rowsPerStrip && d.rowsPerStrip < height ? d.rowsPerStrip : height;
    if (d.tiled) {
        if (!d.tileWidth || !d.tileHeight) return false;
        bw = d.tileWidth;
        bh = d.tileHeight;
    }
    const long long across = (width + bw - 1) / bw, down = (height + bh - 1) / bh;
    if (d.offsets.count < across * down) return false;
    if (!frame.set(width * height)) return false;
    frame.zero();
    for (long long i = 0; i < across * down; i++) {
        const long long x0 = (i % across) * bw, y0 = (i / across) * bh;
        const long long rows = d.tiled ? bh : (height - y0 < bh ? height - y0 : bh);
        _typebuf<unsigned char> in;
        const long long count = d.counts.ptr[i];
        if (!count || !in.set(count) || !io->set_fp(d.offsets.ptr[i]) || !io->readf(in.ptr, count)) return false;
        _typebuf<unsigned short> block;
        if (d.compression == 7) {
            cPict3FR_LJPEG scan;
            if (!scan.decode(in.ptr, count, bw, rows, block) || !scan.scanComplete()) return false;
        } else {
            if (count < bw * rows * 2 || !block.set(bw * rows)) return false;
            for (long long k = 0; k < bw * rows; k++) block.ptr[k] = (unsigned short)rawGet16(in.ptr + 2 * k, myBigEndian);
        }
        for (long long r = 0; r < rows && y0 + r < height; r++) {
            const long long n = x0 + bw <= width ? bw : width - x0;
            memcpy(frame.ptr + (y0 + r) * width + x0, block.ptr + r * bw, (size_t)n * 2);
        }
    }
    return true;
}

bool cPict3FR::decode(cFileIOTarget* io) {
    if (!walk(io)) return false;
    if (dngShare()) return handOverToDng(io);
    _typebuf<unsigned short> frame;
    if (!readFrame(io, frame)) {
        reset();
        return false;
    }
    const unsigned int white = myRaw.white ? myRaw.white : 65535;
    const unsigned int black = myRaw.black < white ? myRaw.black : 0;
    sRawBayerJob job;
    job.raw = frame.ptr;
    job.width = myRaw.width;
    job.height = myRaw.height;
    job.cfa = &myRaw.cfa;
    job.black = black;
    const double scale = 65535.0 / (white - black);
    double inv[3] = {1.0, 1.0, 1.0};
    if (myNeutral[0] > 0 && myNeutral[1] > 0 && myNeutral[2] > 0) {
        for (int c = 0; c < 3; c++) inv[c] = myNeutral[1] / myNeutral[c];
    }
    const double mul[4] = {inv[0], inv[1], inv[2], inv[1]};
    for (int c = 0; c < 4; c++) job.mul[c] = rawClampMul(mul[c] * scale);
    return rawBayerFinish(*this, job, io);
}

bool cPict3FR::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    if (!walk(io) || !myPreviewOffset || !myPreviewLength) return false;
    return rawJpegPreview(io, myPreviewOffset, myPreviewLength, target, maxWidth, maxHeight);
}
