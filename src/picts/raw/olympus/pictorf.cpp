// Olympus ORF. Strips are read whole into memory no larger than the file; the compressed
// code's bit counts stay within 16, a sample outside 0-4095 is corrupt data, and the maker
// note's directories are walked by separate, depth-bounded walks.
#include "picts/raw/olympus/pictorf.h"

#include <cstring>
#include <initializer_list>

#include "base/memio.h"
#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawbits.h"
#include "picts/raw/rawpreview.h"

namespace {

struct sOlyModel {
    const char* name;
    bool exact;  // the terminating zero must match too
    unsigned int left, right, top;
    bool groups12;
};
const sOlyModel kModels[] = {
    {"E-P1 ", false, 0, 4, 0, false},     {"E-P2 ", false, 0, 4, 0, false},     {"E-PL1 ", false, 0, 4, 0, false},
    {"E-330 ", false, 0, 30, 0, false},   {"E-300 ", false, 0, 24, 0, false},   {"E-500 ", false, 0, 24, 0, false},
    {"E-P3 ", false, 0, 24, 0, false},    {"E-PM1 ", false, 0, 24, 0, false},   {"E-30 ", false, 1, 4, 1, false},
    {"E-5 ", false, 1, 4, 1, false},      {"E-600 ", false, 1, 4, 1, false},    {"E-620 ", false, 1, 4, 1, false},
    {"SP500UZ", true, 0, 0, 1, false},    {"TG-5", false, 1, 23, 0, false},     {"E-1 ", false, 1, 0, 0, false},
    {"TG-4", false, 1, 0, 0, false},      {"C5050Z", true, 1, 0, 1, false},     {"C8080WZ", true, 1, 0, 1, false},
    {"E-M1 ", false, 1, 0, 1, false},     {"SP570UZ", false, 1, 0, 1, false},   {"XZ-10", false, 0, 0, 0, true},
    {"XZ-2", false, 0, 0, 0, true},       {"SH-2", false, 1, 0, 0, true},
};

// The camera-settings directory of the maker note: balance and black levels, offsets
// in the stream of the maker note.
class cExtORFProps : public cTiffGeneric {
public:
    double balance[2] = {0, 0};
    unsigned int black = 0;

    bool onRawTag(int tag, int type, const void* data, int size, unsigned int offset) override {
        if (tag != 0x100 && tag != 0x600) return true;
        unsigned char v[8];
        if (size == 4 && data && tag == 0x100) {
            memcpy(v, data, 4);
        } else if (size == 8) {
            if (!data) {
                if (!myIO->set_fp(offset) || !myIO->readf(v, 8)) return false;
            } else {
                memcpy(v, data, 8);
            }
        } else {
            return tag != 0x600;
        }
        if (tag == 0x100) {
            balance[0] = getU16(v) / 256.0;
            balance[1] = getU16(v + 2) / 256.0;
            return true;
        }
        for (int i = 0; i < 4; i++) {
            const unsigned int b = getU16(v + 2 * i);
            if (b > black) black = b;
        }
        return false;  // the black levels end the walk
    }
};

// Olympus's compressed code reads bits most significant first, without stuffing; counts
// outside 1-25 give 0, and running out of data sets the error flag.
struct sOlyBits {
    const unsigned char* data;
    long long size, pos = 0;
    unsigned int buf = 0;
    int held = 0;
    bool error = false;

    unsigned int peekFill(int count) {
        while (held < count && pos < size) {
            buf = buf << 8 | data[pos++];
            held += 8;
        }
        if (held < count) {
            error = true;
            return 0;
        }
        return (buf >> (held - count)) & ((1u << count) - 1);
    }
    unsigned int get(int count) {
        if (count <= 0 || count > 25) return 0;
        const unsigned int v = peekFill(count);
        if (!error) held -= count;
        return v;
    }
    // The number of leading zeros of the next 12 bits (12 for none), consumed with the 1
    // that ends them, as the cameras' code table gives it.
    int zeros() {
        const unsigned int p = peekFill(12);
        if (error) {
            // Fewer than 12 bits left: count within what is held.
            for (int z = 0; z < held; z++)
                if ((buf >> (held - 1 - z)) & 1) {
                    error = false;
                    held -= z + 1;
                    return z;
                }
            return 0;
        }
        int z = 0;
        while (z < 12 && !((p >> (11 - z)) & 1)) z++;
        held -= z == 12 ? 12 : z + 1;
        return z;
    }
};

}  // namespace

void cPictORF::reset() {
    close();
    myStripOffsets.clear();
    myStripCounts.clear();
    myRowsPerStrip = myBits = myPhotometric = 0;
    memset(myExifPattern, 0, 4);
    myExifPatternSize = 0;
    for (double& b : myBalance) b = 1.0;
    myMargins = sMarginInfo();
    myBlack = 0;
    myPreviewOffset = myPreviewLength = 0;
    myInterlaced = myHighNibbleFirst = myGroups12 = myMakerNoteMode = false;
    myFrameWidth = myFrameHeight = 0;
    myNesting = 0;
}

bool cPictORF::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictORF p;
    return p.isPicture(io, info);
}

cTiffGeneric::eHeaderLayout cPictORF::headerLayout(bool, unsigned short version) const {
    // "IIRO", "MMOR" and "IIRS" (and "MMSR") in place of TIFF's 42; never BigTIFF.
    return version == 0x4F52 || version == 0x5352 ? hlClassic : hlRefused;
}

void cPictORF::applyModel(const char* model, int size) {
    for (const sOlyModel& m : kModels) {
        const int n = (int)strlen(m.name) + (m.exact ? 1 : 0);
        if (size < n || memcmp(model, m.name, (size_t)n)) continue;
        myMargins.left = m.left;
        myMargins.right = m.right;
        myMargins.top = m.top;
        myGroups12 = m.groups12;
        return;
    }
}

bool cPictORF::onRawTag(int tag, int type, const void* data, int size, unsigned int offset) {
    if (myMakerNoteMode) {
        if (tag == 0x100) {
            myPreviewOffset = data ? 0 : offset;
            myPreviewLength = data ? 0 : (unsigned int)size;
            return true;
        }
        if (tag == 0x2040 && size != 4) return true;
        return cTiffGeneric::onRawTag(tag, type, data, size, offset);
    }
    if (tag != 37500) return cTiffGeneric::onRawTag(tag, type, data, size, offset);
    if (data || size < 12) return true;  // too short for either form
    unsigned char h[12];
    if (!myIO->set_fp(offset) || !myIO->readf(h, 12)) return false;
    bool ok = true;
    myMakerNoteMode = true;
    if (!memcmp(h, "OLYMPUS", 8)) {
        // Its own TIFF stream, its directory at byte 12 and every offset in it counted from
        // the maker note's start: a window from that start reads them all where they are.
        cFileIOSubRange window(myIO, offset, (unsigned long long)size);
        ok = walkNested(&window, myBigEndian, 12, window.size());
        if (ok && myPreviewOffset) myPreviewOffset += offset;
    } else if (!memcmp(h, "OLYMP", 6)) {
        ok = walkNested(offset + 8);
    }
    myMakerNoteMode = false;
    return ok;
}

bool cPictORF::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    unsigned int v = 0;
    if (myMakerNoteMode) {
        switch (tag) {
            case 0x1017:
            case 0x1018: {
                unsigned short s;
                if (size != 2 || !getValU16(p, s)) return false;
                myBalance[tag == 0x1017 ? 0 : 2] = s / 256.0;
                return true;
            }
            case 0x2040: {
                // A separate walker: its directory cannot lead back into this walk.
                if (!getValU32(p, v)) return true;
                cExtORFProps props;
                props.processStream(myIO, myBigEndian, false, v, streamSize());
                if (props.balance[0] != 0.0 && props.balance[1] != 0.0) {
                    myBalance[0] = props.balance[0];
                    myBalance[2] = props.balance[1];
                    myBlack = props.black;
                }
                return true;
            }
            default: return true;
        }
    }
    switch (tag) {
        case 256:
        case 257:
            if (!getValU32(p, v) || !v) return false;
            (tag == 256 ? myFrameWidth : myFrameHeight) = v;
            return true;
        case 258: return getValU32(p, myBits) && myBits >= 1 && myBits <= 16;
        case 262: return getValU32(p, myPhotometric);
        case 272:
            if (myBits == 16) myHighNibbleFirst = myBigEndian;
            else if (myBits == 12) {
                myInterlaced = myPhotometric == 2;
                myHighNibbleFirst = true;
            }
            if (data && size > 0) applyModel((const char*)data, size);
            return true;
        case 273: return getValsU32(p, myStripOffsets);
        case 278: return getValU32(p, myRowsPerStrip) && myRowsPerStrip;
        case 279: return getValsU32(p, myStripCounts);
        case 34665: return getValU32(p, v) && walkNested(v);
        case 41730: {
            const unsigned char* d = (const unsigned char*)data;
            if (size == 8 && d && getU16(d) == 2 && getU16(d + 2) == 2) {
                memcpy(myExifPattern, d + 4, 4);
                myExifPatternSize = 4;
            }
            return true;
        }
        default: return true;
    }
}

bool cPictORF::walk(cFileIOTarget* io) {
    reset();
    if (!io || !processStream(io, ~0ULL)) return false;
    if (!myFrameWidth || !myFrameHeight || !myStripOffsets.count || myStripOffsets.count != myStripCounts.count)
        return false;
    return myMargins.leaveRoom(myFrameWidth, myFrameHeight);
}

bool cPictORF::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!walk(io)) return false;
    if (info) {
        info->width = myFrameWidth - myMargins.left - myMargins.right;
        info->height = myFrameHeight - myMargins.top - myMargins.bottom;
        info->hasPreview = myPreviewOffset && myPreviewLength;
    }
    return true;
}

bool cPictORF::decodeCompressed(const unsigned char* data, long long size, unsigned short* frame, long long firstRow,
                                long long rows, long long step) {
    const long long width = myFrameWidth;
    sOlyBits bits{data, size};
    for (long long r = 0; r < rows; r++) {
        const long long row = firstRow + r * step;
        unsigned short* out = frame + row * width;
        int carry[2][3] = {{0, 0, 0}, {0, 0, 0}};
        for (long long x = 0; x < width; x++) {
            int* c = carry[x & 1];
            const int i = c[2] < 3 ? 2 : 0;
            // The carry's low 16 bits bound the count: at most 16 bits a value.
            int nbits = 2 + i;
            while (nbits < 16 && ((unsigned int)c[0] & 0xFFFF) >> (nbits + i)) nbits++;
            const unsigned int s = bits.get(3);
            const int low = (int)(s & 3), sign = (s & 4) ? -1 : 0;
            int high = bits.zeros();
            if (high == 12) high = (int)(bits.get(16 - nbits) >> 1);
            c[0] = high << nbits | (int)bits.get(nbits);
            const int diff = (c[0] ^ sign) + c[1];
            c[1] = (diff * 3 + c[1]) >> 5;
            c[2] = c[0] > 16 ? 0 : c[2] + 1;
            if (bits.error) return r == rows - 1;  // only the strip's last row may run short
            int pred;
            if (row < 2 * step && x < 2) pred = 0;
            else if (row < 2 * step) pred = out[x - 2];
            else if (x < 2) pred = out[x - 2 * step * width];
            else {
                const int w = out[x - 2], n = out[x - 2 * step * width], nw = out[x - 2 * step * width - 2];
                const int dw = w > nw ? w - nw : nw - w, dn = n > nw ? n - nw : nw - n;
                if ((w < nw && nw < n) || (n < nw && nw < w)) pred = dw > 32 || dn > 32 ? w + n - nw : (w + n) >> 1;
                else pred = dw > dn ? w : n;
            }
            const long long v = (long long)pred + diff * 4LL + low;
            if (v < 0 || v > 4095) return false;  // negative or above 12 bits: corrupt data
            out[x] = (unsigned short)v;
        }
    }
    return true;
}

bool cPictORF::readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame) {
    const long long width = myFrameWidth, height = myFrameHeight;
    const unsigned long long fileSize = io->size();
    const long long strips = myStripOffsets.count;
    if (!myRowsPerStrip) {
        if (strips != 1) return false;
        myRowsPerStrip = (unsigned int)height;
    }
    if (strips == 1 && !myStripCounts.ptr[0]) {
        const unsigned long long off = myStripOffsets.ptr[0];
        if (!off || off >= fileSize) return false;
        const unsigned long long rest = fileSize - off;
        myStripCounts.ptr[0] = (unsigned int)(rest > 0xFFFFFFFFULL ? 0xFFFFFFFFULL : rest);
    }
    // Strips inside the file, holding at least 4 bits a sample between them (the densest
    // code spends 5 bits a sample at least) before the frame is allocated.
    unsigned long long total = 0, largest = 0;
    for (long long s = 0; s < strips; s++) {
        if ((unsigned long long)myStripOffsets.ptr[s] + myStripCounts.ptr[s] > fileSize) return false;
        total += myStripCounts.ptr[s];
        if (myStripCounts.ptr[s] > largest) largest = myStripCounts.ptr[s];
    }
    long long n;
    if (!checkedImagePixels(width, height, n) || total * 2 < (unsigned long long)n) return false;
    _typebuf<unsigned char> data;
    if (!frame.set(n) || !data.set((long long)largest + 16)) return false;
    frame.zero();
    // Interlaced frames: the even rows first, then every odd row (all of them, also the
    // last one of an even height).
    const long long step = myInterlaced ? 2 : 1;
    long long pass = 0, done = 0;  // rows written in this pass
    for (long long s = 0; s < strips && pass < step; s++) {
        const long long passRows = (height - pass + step - 1) / step;
        const long long rows = myRowsPerStrip < (unsigned long long)(passRows - done) ? myRowsPerStrip : passRows - done;
        const long long bytes = myStripCounts.ptr[s];
        if (!io->set_fp(myStripOffsets.ptr[s]) || !io->readf(data.ptr, bytes)) return false;
        memset(data.ptr + bytes, 0, 16);
        const unsigned char* b = data.ptr;
        const long long firstRow = pass + done * step;
        const bool hi = myHighNibbleFirst;
        auto put = [&](long long k, unsigned int v) {
            frame.ptr[(firstRow + k / width * step) * width + k % width] = (unsigned short)v;
        };
        const long long count = rows * width;
        if (bytes * 2 == count * 3) {
            if (myGroups12) {
                for (long long k = 0; k < count; k += 8, b += 12) {
                    const unsigned int v[8] = {
                        (unsigned)(b[2] >> 4 | b[3] << 4), (unsigned)(b[1] | (b[2] & 15) << 8),
                        (unsigned)(b[7] >> 4 | b[0] << 4), (unsigned)(b[6] | (b[7] & 15) << 8),
                        (unsigned)(b[4] >> 4 | b[5] << 4), (unsigned)(b[11] | (b[4] & 15) << 8),
                        (unsigned)(b[9] >> 4 | b[10] << 4), (unsigned)(b[8] | (b[9] & 15) << 8)};
                    for (int j = 0; j < 8 && k + j < count; j++) put(k + j, v[j] & 0xFFF);
                }
            } else if (!myInterlaced) {
                // Samples most significant bit first through little-endian 32-bit words, as
                // the cameras write them and both peers read them.
                cRawBits32 bits32(b, bytes, false);
                for (long long k = 0; k < count; k++) put(k, bits32.get(12));
            } else {
                for (long long k = 0; k < count; k += 2, b += 3) {
                    put(k, hi ? (unsigned)(b[0] << 4 | b[1] >> 4) : (unsigned)(b[0] | (b[1] & 15) << 8));
                    if (k + 1 < count) put(k + 1, hi ? (unsigned)((b[1] & 15) << 8 | b[2]) : (unsigned)(b[1] >> 4 | b[2] << 4));
                }
            }
        } else if (bytes == count * 2) {
            // 12-bit sensors store their samples in the high bits of 16-bit words.
            for (long long k = 0; k < count; k++) put(k, rawGet16(b + 2 * k, hi) >> 4);
        } else if (bytes == count * 8 / 5) {
            // Padded rows: a byte after every fifth pair, each row (width * 3 / 2 bytes)
            // padded to 16 / 15 of its length, the pairs low nibble first, as both peers
            // read them whatever the file's byte order or bit count; only interlaced fields
            // keep the high-nibble-first pairs of their unpadded form.
            const bool padHi = myInterlaced;
            const long long stride = width * 3 / 2 * 16 / 15;
            for (long long r = 0; r < rows; r++) {
                const unsigned char* p = b + r * stride;
                for (long long x = 0, g = 0; x < width; x += 2, p += 3) {
                    const long long k = r * width + x;
                    put(k, padHi ? (unsigned)(p[0] << 4 | p[1] >> 4) : (unsigned)(p[0] | (p[1] & 15) << 8));
                    if (x + 1 < width)
                        put(k + 1, padHi ? (unsigned)((p[1] & 15) << 8 | p[2]) : (unsigned)(p[1] >> 4 | p[2] << 4));
                    if (++g % 5 == 0) p++;
                }
            }
        } else {
            if (bytes < 7 || !decodeCompressed(b + 7, bytes - 7, frame.ptr, firstRow, rows, step)) return false;
        }
        done += rows;
        if (done >= passRows) {
            pass++;
            done = 0;
        }
    }
    return true;
}

bool cPictORF::decode(cFileIOTarget* io) {
    if (!walk(io)) return false;
    _typebuf<unsigned short> frame;
    if (!readFrame(io, frame)) {
        reset();
        return false;
    }
    double b[4];
    for (int c = 0; c < 4; c++) b[c] = myBalance[0] != 0.0 ? myBalance[c] / myBalance[0] : 1.0;
    static const unsigned char kCodes[4] = {0, 1, 1, 2};
    sCFAData cfa;
    cfa.rows = cfa.cols = 2;
    cfa.pattern.set(kCodes, 4);
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
    double hi = 1.0, lo = 1.0;
    for (double m : {rawClampMul(b[1]), rawClampMul(b[2])}) {
        if (m > hi) hi = m;
        if (m < lo) lo = m;
    }
    job.whiteFromMaxRaw = true;
    job.whiteFraction = lo / hi;
    return rawBayerFinish(*this, job, io);
}

bool cPictORF::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    if (!walk(io) || !myPreviewOffset || !myPreviewLength) return false;
    return rawJpegPreview(io, myPreviewOffset, myPreviewLength, target, maxWidth, maxHeight);
}
