// Panasonic and Leica RW2/RWL. Every size is checked in 64 bits before anything is
// allocated; the compressed stream is read in whole blocks through a bounded bit position,
// and a stream that ends early leaves at most a few black rows.
#include "picts/raw/panasonic/pictrwl.h"

#include <cstring>
#include <initializer_list>

#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawbits.h"

namespace {

struct sPanaModel {
    unsigned int left, right, top, bottom;
    bool rawOffset, noSplit;
    unsigned int black;
    const char* names;  // '|'-separated, each matched exactly
};
const sPanaModel kModels[] = {
    {2, 14, 0, 3, false, false, 0, "V-LUX 1"},
    {18, 64, 14, 24, false, false, 0, "D-LUX 3"},
    {0, 195, 0, 0, false, false, 96,
     "D-LUX 5|DMC-FZ70|DMC-FZ72|DMC-GX85|DMC-FZ100|DMC-FZ150|DMC-FZ200|DMC-G80|DC-GX850"},
    {0, 79, 0, 0, false, false, 96, "D-LUX (Typ 109)"},
    {0, 28, 0, 4, true, true, 0, "DMC-L10"},
    {4, 29, 0, 0, false, false, 0, "DMC-FZ8"},
    {10, 30, 0, 0, false, false, 0, "DMC-FZ18"},
    {0, 56, 0, 0, false, false, 0, "DMC-FZ28|DC-G9"},
    {0, 16, 0, 0, false, false, 0, "DMC-FZ30|DMC-LX1"},
    {0, 51, 0, 0, false, false, 40, "DMC-FZ38"},
    {0, 56, 0, 6, false, false, 0, "DMC-FZ45"},
    {0, 14, 0, 3, false, false, 0, "DMC-FZ50"},
    {0, 41, 0, 0, false, false, 0, "DMC-G2|DMC-GF1|DMC-G10|DMC-FZ35|DMC-GH1"},
    {0, 41, 0, 0, true, false, 0, "DMC-G1"},
    {0, 0, 0, 0, false, false, 0, "DC-GH5S"},
    {0, 167, 0, 0, false, false, 90, "DMC-G3"},
    {0, 181, 0, 0, false, false, 90, "DMC-G5|DMC-G6|DMC-GH3|DMC-GH4"},
    {0, 100, 0, 0, false, false, 148, "DC-TZ90"},
    {0, 69, 0, 0, false, false, 120, "DMC-GF3"},
    {0, 126, 0, 0, false, false, 120, "DMC-FZ330|DMC-FZ300|DMC-TZ71|DMC-TZ70|DC-FZ80|DMC-TZ80"},
    {0, 127, 0, 0, false, false, 90, "DMC-GF5|DMC-LF1|DMC-TZ60|DMC-ZS40|DMC-ZS50|C (Typ 112)"},
    {0, 127, 0, 0, false, false, 125, "DC-FZ82"},
    {0, 151, 0, 0, false, false, 90, "DMC-GX1"},
    {0, 207, 0, 0, false, false, 90, "DMC-GF6|DMC-GM1|DMC-GX7|DMC-GM5|DMC-GF7|DMC-G7|DC-GX800"},
    {0, 207, 0, 0, false, false, 120, "DMC-GX80"},
    {0, 204, 0, 0, false, false, 0, "DMC-GH2"},
    {0, 38, 0, 0, false, false, 0, "DMC-LX2"},
    {0, 77, 0, 0, false, false, 0, "DMC-LX3"},
    {0, 196, 0, 0, false, false, 90, "DMC-LX5"},
    {0, 95, 0, 0, false, false, 120, "D-Lux 7"},
    {0, 63, 0, 0, false, false, 96, "DMC-GX8|DC-ZS70"},
    {0, 63, 0, 0, false, false, 120, "DC-GX9"},
    {0, 27, 0, 0, false, false, 90, "DMC-LX7|D-LUX 6"},
    {0, 56, 0, 0, false, false, 120, "DC-GH5"},
    {0, 9, 0, 0, false, false, 0, "DMC-L1"},
    {0, 72, 0, 0, false, false, 90, "DMC-GF2"},
    {0, 13, 0, 0, false, false, 90, "DMC-LX100"},
    {0, 0, 0, 0, false, false, 120,
     "DMC-FZ1000|V-LUX (Typ 114)|DMC-CM1|DMC-TZ100|DC-TZ200|DMC-LX15|DMC-LX10|DMC-ZS100|DMC-FZ2000|DMC-FZ2500"},
};

// Whether `name` (size bytes, possibly NUL-terminated) is one of the '|'-separated names.
bool nameIn(const char* name, int size, const char* names) {
    int len = 0;
    while (len < size && name[len]) len++;
    for (const char* p = names; *p;) {
        const char* e = strchr(p, '|');
        const int n = e ? (int)(e - p) : (int)strlen(p);
        if (n == len && !memcmp(p, name, (size_t)n)) return true;
        if (!e) break;
        p = e + 1;
    }
    return false;
}

// The compressed stream's bit reader: 16 KiB blocks (stored split in two for most models)
// consumed from their top bit position down.
struct sPanaBits {
    cFileIOTarget* io = nullptr;
    unsigned char buf[cPictRWL::kBlockSize + 1] = {};
    unsigned int pos = 0;
    bool split = true;
    bool error = false;

    unsigned int get(int count) {
        if (error) return 0;
        if (!pos) {
            bool ok = split ? io->readf(buf + cPictRWL::kSplitAt, cPictRWL::kBlockSize - cPictRWL::kSplitAt) &&
                                  io->readf(buf, cPictRWL::kSplitAt)
                            : io->readf(buf, cPictRWL::kBlockSize);
            if (!ok) {
                error = true;
                return 0;
            }
        }
        pos = (pos - (unsigned int)count) & 0x1FFFF;
        const unsigned int byte = (pos >> 3) ^ 0x3FF0;
        return ((unsigned int)(buf[byte] | buf[byte + 1] << 8) >> (pos & 7)) & ((1u << count) - 1);
    }
};

}  // namespace

void cPictRWL::reset() {
    close();
    myStripOffsets.clear();
    myStripCounts.clear();
    myRowsPerStrip = 0;
    for (double& b : myBalance) b = 1.0;
    myMargins = sMarginInfo();
    myRawOffsetMode = false;
    mySplitBlocks = true;
    myPattern = 4;
    myBlack = 0;
    myFrameWidth = myFrameHeight = 0;
    myNesting = 0;
}

bool cPictRWL::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictRWL p;
    return p.isPicture(io, info);
}

cTiffGeneric::eHeaderLayout cPictRWL::headerLayout(bool bigEndian, unsigned short version) const {
    // "IIU\0": little-endian only, 0x55 in place of TIFF's 42.
    return !bigEndian && version == 0x55 ? hlClassic : hlRefused;
}

void cPictRWL::applyModel(const char* model, int size) {
    for (const sPanaModel& m : kModels) {
        if (!nameIn(model, size, m.names)) continue;
        myMargins.left = m.left;
        myMargins.right = m.right;
        myMargins.top = m.top;
        myMargins.bottom = m.bottom;
        if (m.rawOffset) myRawOffsetMode = true;
        if (m.noSplit) mySplitBlocks = false;
        myBlack = m.black;
        return;
    }
}

bool cPictRWL::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    unsigned int v = 0;
    switch (tag) {
        case 2:
        case 3:
            if (!getValU32(p, v) || !v) return false;
            (tag == 2 ? myFrameWidth : myFrameHeight) = v;
            return true;
        case 9: return getValU32(p, myPattern);
        case 0x11:
        case 0x12:
        case 0x24:
        case 0x25:
        case 0x26: {
            if (!getValU32(p, v) || !v) return false;
            const double d = tag < 0x20 ? v / 256.0 : (double)v;
            if (tag == 0x11 || tag == 0x24) myBalance[2] = d;
            else if (tag == 0x12 || tag == 0x26) myBalance[0] = d;
            else myBalance[1] = myBalance[3] = d;
            return true;
        }
        case 272:
            if (data && size > 0) applyModel((const char*)data, size);
            return true;
        case 273: return getValsU32(p, myStripOffsets);
        case 278: return getValU32(p, myRowsPerStrip) && myRowsPerStrip;
        case 279: return getValsU32(p, myStripCounts);
        case 280:
            if (myStripOffsets.count == 1 && myStripOffsets.ptr[0] == 0xFFFFFFFFu) {
                if (!getValU32(p, v) || v >= streamSize()) return false;
                myStripOffsets.ptr[0] = v;
                if (!myStripCounts.set(1)) return false;
                const unsigned long long rest = streamSize() - v;
                myStripCounts.ptr[0] = (unsigned int)(rest > 0xFFFFFFFFULL ? 0xFFFFFFFFULL : rest);
                myRawOffsetMode = true;
            }
            return true;
        default: return true;
    }
}

bool cPictRWL::walk(cFileIOTarget* io) {
    reset();
    if (!io || !processStream(io, ~0ULL)) return false;
    if (!myFrameWidth || !myFrameHeight || !myStripOffsets.count || myStripOffsets.count != myStripCounts.count)
        return false;
    // Margins that leave nothing of the frame are refused here rather than at the demosaic.
    return myMargins.leaveRoom(myFrameWidth, myFrameHeight);
}

bool cPictRWL::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!walk(io)) return false;
    if (info) {
        info->width = myFrameWidth - myMargins.left - myMargins.right;
        info->height = myFrameHeight - myMargins.top - myMargins.bottom;
        info->hasPreview = false;
    }
    return true;
}

bool cPictRWL::readCompressed(cFileIOTarget* io, unsigned short* frame) {
    const long long width = myFrameWidth, height = myFrameHeight;
    if (!io->set_fp(myStripOffsets.ptr[0])) return false;
    sPanaBits* bits = new sPanaBits;
    bits->io = io;
    bits->split = mySplitBlocks;
    int pred[2] = {0, 0}, nonz[2] = {0, 0};
    int sh = 0;
    long long row = 0;
    for (; row < height && !bits->error; row++) {
        unsigned short* out = frame + row * width;
        for (long long x = 0; x < width; x++) {
            const int i = (int)(x % 14);
            if (!i) {
                pred[0] = pred[1] = nonz[0] = nonz[1] = 0;
            } else if (i % 3 == 2) {
                sh = 4 >> (3 - (int)bits->get(2));
            }
            const int k = i & 1;
            if (nonz[k]) {
                const int j = (int)bits->get(8);
                if (j) {
                    pred[k] -= 0x80 << sh;
                    if (pred[k] < 0 || sh == 4) pred[k] &= (int)((1u << sh) - 1);
                    pred[k] += j << sh;
                }
            } else {
                nonz[k] = (int)bits->get(8);
                if (nonz[k] || i > 11) pred[k] = nonz[k] << 4 | (int)bits->get(4);
            }
            if (bits->error) break;
            out[x] = (unsigned short)pred[x & 1];
        }
    }
    const long long missing = bits->error ? height - (row - 1) : 0;
    delete bits;
    return missing <= kMaxMissingRows;
}

bool cPictRWL::readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame) {
    const long long width = myFrameWidth, height = myFrameHeight;
    const unsigned long long fileSize = io->size();
    if (!myRowsPerStrip) {
        if (myStripOffsets.count != 1) return false;
        myRowsPerStrip = (unsigned int)height;
    }
    if (myStripOffsets.count == 1 && !myStripCounts.ptr[0]) {
        const unsigned long long off = myStripOffsets.ptr[0];
        if (!off || off >= fileSize) return false;
        const unsigned long long rest = fileSize - off;
        myStripCounts.ptr[0] = (unsigned int)(rest > 0xFFFFFFFFULL ? 0xFFFFFFFFULL : rest);
    }
    long long n;
    if (!checkedImagePixels(width, height, n)) return false;
    // Every layout needs some bytes of the file per sample before the frame is allocated:
    // 12 bits for the packings, at least 4 bits less the rows allowed to go missing for the
    // compressed stream.
    const unsigned long long off0 = myStripOffsets.ptr[0];
    if (off0 >= fileSize) return false;
    const unsigned long long avail = fileSize - off0;
    if (myRawOffsetMode) {
        // Every sample takes at least 8 bits of the stream.
        const long long needRows = height > kMaxMissingRows ? height - kMaxMissingRows : 0;
        if ((unsigned long long)needRows * width > avail) return false;
    } else {
        // The packings take 12 or 16 bits a sample: strips inside the file and holding at
        // least a byte a sample between them.
        unsigned long long total = 0;
        for (long long s = 0; s < myStripOffsets.count; s++) {
            if ((unsigned long long)myStripOffsets.ptr[s] + myStripCounts.ptr[s] > fileSize) return false;
            total += myStripCounts.ptr[s];
        }
        if (total < (unsigned long long)n) return false;
    }
    if (!frame.set(n)) return false;
    frame.zero();
    if (myRawOffsetMode) return readCompressed(io, frame.ptr);
    // The packed size in 64 bits: width x height x 8 overflows 32 bits for large sensors.
    if (myStripOffsets.count == 1 && (unsigned long long)myStripCounts.ptr[0] * 5 == (unsigned long long)n * 8) {
        const long long bytes = myStripCounts.ptr[0];
        _typebuf<unsigned char> packed;
        if (!bytes || !packed.set(bytes + 16) || !io->set_fp(off0) || !io->readf(packed.ptr, bytes)) return false;
        memset(packed.ptr + bytes, 0, 16);
        long long k = 0;
        for (long long at = 0; at < bytes && k < n; at += 16) {
            const unsigned char* b = packed.ptr + at;
            for (int g = 0; g < 5 && k < n; g++, b += 3) {
                frame.ptr[k++] = (unsigned short)(b[0] | (b[1] & 0x0F) << 8);
                if (k < n) frame.ptr[k++] = (unsigned short)(b[1] >> 4 | b[2] << 4);
            }
        }
        return true;
    }
    long long row0 = 0;
    _typebuf<unsigned char> data;
    for (long long s = 0; s < myStripOffsets.count && row0 < height; s++) {
        const long long rows = myRowsPerStrip < (unsigned long long)(height - row0) ? myRowsPerStrip : height - row0;
        const unsigned long long count = myStripCounts.ptr[s];
        if (count > (unsigned long long)(rows * width * 2)) return false;
        if (count && (!data.set((long long)count) || !io->set_fp(myStripOffsets.ptr[s]) ||
                      !io->readf(data.ptr, (long long)count)))
            return false;
        unsigned short* out = frame.ptr + row0 * width;
        // 12-bit sensors store their samples in the high bits of 16-bit words.
        for (unsigned long long k = 0; k + 1 < count; k += 2)
            out[k / 2] = (unsigned short)(rawGet16(data.ptr + k, false) >> 4);
        row0 += rows;
    }
    return true;
}

bool cPictRWL::decode(cFileIOTarget* io) {
    if (!walk(io)) return false;
    _typebuf<unsigned short> frame;
    if (!readFrame(io, frame)) {
        reset();
        return false;
    }
    static const unsigned char kPatterns[4][4] = {{0, 1, 1, 2}, {1, 0, 2, 1}, {1, 2, 0, 1}, {2, 1, 1, 0}};
    if (myPattern < 1 || myPattern > 4) {
        reset();
        return false;
    }
    sCFAData cfa;
    cfa.rows = cfa.cols = 2;
    cfa.pattern.set(kPatterns[myPattern - 1], 4);
    double b[4];
    for (int c = 0; c < 4; c++) b[c] = myBalance[0] != 0.0 ? myBalance[c] / myBalance[0] : 1.0;
    sRawBayerJob job;
    job.raw = frame.ptr;
    job.width = myFrameWidth;
    job.height = myFrameHeight;
    job.cfa = &cfa;
    job.mul[0] = 1.0;
    job.mul[1] = b[1];
    job.mul[2] = b[2];
    job.mul[3] = b[1];
    job.black = myBlack;
    job.margins = myMargins;
    // White point: the largest raw sample scaled by the weakest over the strongest of the
    // red and green multipliers.
    double hi = 1.0, lo = 1.0;
    for (double m : {rawClampMul(b[1]), rawClampMul(b[2])}) {
        if (m > hi) hi = m;
        if (m < lo) lo = m;
    }
    job.whiteFromMaxRaw = true;
    job.whiteFraction = lo / hi;
    return rawBayerFinish(*this, job, io);
}
