// Nikon NEF. The linearization record is read only within its length; strips are read into
// memory no larger than the file and decoded into a frame allocated once for the whole
// picture, so a strip (or a single strip) that does not cover its rows fails instead of
// leaving the frame short; nested directories go through the saved-state walker.
#include "picts/raw/nikon/pictnef.h"

#include <cstring>
#include <initializer_list>

#include "base/memio.h"
#include "base/strings.h"
#include "compression/haffmantable.h"
#include "picts/pictdummy.h"
#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawbits.h"
#include "picts/raw/rawpreview.h"
#include "picts/rawcore/rawtone.h"
#include "picts/sizecheck.h"
#include "picts/tiff/picttiff.h"

namespace {

// Row i carries model index i, except the last: the P7800 shares the P7700's values.
const char* const kNikonCameras[70] = {
    "NIKON 1 AW1",   "NIKON 1 J1",    "NIKON 1 J2",    "NIKON 1 J3",    "NIKON 1 J4",    "NIKON 1 J5",
    "NIKON 1 S1",    "NIKON 1 S2",    "NIKON 1 V1",    "NIKON 1 V2",    "NIKON 1 V3",    "NIKON D1 ",
    "NIKON D1X",     "NIKON D100 ",   "NIKON D200",    "NIKON D2X",     "NIKON D2Xs",    "NIKON D3",
    "NIKON D3S",     "NIKON D3X",     "NIKON D300",    "NIKON D300s",   "NIKON D3000",   "NIKON D3100",
    "NIKON D3200",   "NIKON D3300",   "NIKON D3400",   "NIKON D3500",   "NIKON D4",      "NIKON D4S",
    "NIKON D40",     "NIKON D40X",    "NIKON D5",      "NIKON D50",     "NIKON D500",    "NIKON D5000",
    "NIKON D5100",   "NIKON D5200",   "NIKON D5300",   "NIKON D5500",   "NIKON D5600",   "NIKON D60",
    "NIKON D600",    "NIKON D610",    "NIKON D70",     "NIKON D700",    "NIKON D750",    "NIKON D7000",
    "NIKON D7100",   "NIKON D7200",   "NIKON D7500",   "NIKON D80",     "NIKON D800",    "NIKON D800E",
    "NIKON D810",    "NIKON D850",    "NIKON D90",     "NIKON Df",      "E5400",         "E5700",
    "NIKON E950",    "COOLPIX A",     "COOLPIX B700",  "COOLPIX P330",  "COOLPIX P340",  "COOLPIX P6000",
    "COOLPIX P7000", "COOLPIX P7100", "COOLPIX P7700", "COOLPIX P7800",
};

// Code descriptions: 16 counts of codes of lengths 1-16, then the symbols in code order.
const unsigned char kHuffmanCodes[6][32] = {
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 5, 4, 3, 6, 2, 7, 1, 0, 8, 9, 11, 10, 12},
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 57, 90, 56, 39, 22, 5, 4, 3, 2, 1, 0, 11, 12, 12},
    {0, 1, 4, 2, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 4, 6, 3, 7, 2, 8, 1, 9, 0, 10, 11, 12},
    {0, 1, 4, 3, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 5, 6, 4, 7, 8, 3, 9, 2, 1, 0, 10, 11, 12, 13, 14},
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 8, 92, 75, 58, 41, 7, 6, 5, 4, 3, 2, 1, 0, 13, 14},
    {0, 1, 4, 2, 2, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 7, 6, 8, 5, 9, 4, 10, 3, 11, 12, 2, 0, 1, 13, 14},
};

bool buildTable(int row, _typebuf<unsigned int>& table) {
    const unsigned char* d = kHuffmanCodes[row];
    return cHaffmanTable::createIndexTable(d, table, 32);
}

bool oneOf(unsigned int v, std::initializer_list<unsigned int> l) {
    for (unsigned int x : l)
        if (x == v) return true;
    return false;
}

// Packed samples of one run of bytes: 32-bit words (of the given order) appended to a 64-bit
// accumulator, each sample the next `bits` bits below the unread ones. Bytes past `end`
// read as zero.
struct sPackedReader {
    const unsigned char* data;
    long long pos, end;
    bool be;
    uint64_t acc = 0;
    int held = 0;
    unsigned int take(unsigned int bits) {
        while (held < (int)bits) {
            unsigned char b[4];
            for (int i = 0; i < 4; i++) b[i] = pos + i < end ? data[pos + i] : 0;
            pos += 4;
            acc = acc << 32 | rawGet32(b, be);
            held += 32;
        }
        held -= (int)bits;
        return (unsigned int)((acc >> held) & ((1ull << bits) - 1));
    }
};

}  // namespace

// --- maker note ---

void cNEFProps::reset() {
    compression = 0;
    haveNrwBalance = false;
    linearization.clear();
    balance.clear();
    preview.clear();
    shutterCount = serial = 0;
}

bool cNEFProps::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    const unsigned char* d = (const unsigned char*)data;
    switch (tag) {
        case 0x14:
            if (type == 7 && d && size >= 9 && !memcmp(d, "NRW ", 4)) {
                const bool v100 = !memcmp(d + 4, "0100", 4);
                const int need = v100 ? 1572 : 72, at = v100 ? 1556 : 56;
                if (size >= need) {
                    unsigned int w[4];
                    memcpy(w, d + at, sizeof(w));
                    nrwBalance[0] = 4.0 * w[0];
                    nrwBalance[1] = (double)w[1] + w[3];
                    nrwBalance[2] = 4.0 * w[2];
                    nrwBalance[3] = 0;
                    haveNrwBalance = true;
                }
            }
            return true;
        case 0x1D:
            for (int i = 0; d && i < size && d[i]; i++)
                serial = serial * 10 + (d[i] >= '0' && d[i] <= '9' ? d[i] - '0' : d[i] % 10);
            return true;
        case 0x93: return type == 3 && size == 2 && getValU16(p, compression);
        case 0x96:
            if (!size) return linearization.clear(), true;
            return d && linearization.set(d, size);
        case 0x97:
            if (!size) return balance.clear(), true;
            return d && balance.set(d, size);
        case 0xA7: return size == 4 && getValU32(p, shutterCount);
        case 0x100:
            if (type == 7 && d && size > 0) return preview.set(d, size);
            return true;
        default: return true;
    }
}

bool cNEFJpegPreview::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    if (tag == 513) return getValU32(p, offset);
    if (tag == 514) return getValU32(p, length);
    return true;
}

// --- model rules ---

unsigned int cPictNEF::getModel(const char* model) {
    if (!model) return kUnknownModel;
    for (unsigned int i = 0; i < 70; i++)
        if (!__stricmp(model, kNikonCameras[i])) return i == 69 ? 68 : i;
    return kUnknownModel;
}

unsigned int cPictNEF::blackLevel() const {
    const unsigned int m = myModel;
    if (oneOf(m, {4, 5, 7, 10, 68, 69})) return 200;
    if (oneOf(m, {25, 26, 27, 64})) return 150;
    if (m == 29) return 768;
    if (oneOf(m, {32, 46})) return 350;
    if (oneOf(m, {38, 39, 40, 54})) return 596;
    if (m == 55) return 450;
    if (oneOf(m, {62, 63})) return 207;
    return 0;
}

unsigned int cPictNEF::whiteLevel() const {
    switch (myModel) {
        case 14: return 4028;
        case 24: return 4025;
        case 35:
        case 56: return 3840;
        case 36: return 15846;
        case 42: return 15879;
        case 60: return 989;
        default: return 0;
    }
}

bool cPictNEF::getCropInfo(sMarginInfo& c) const {
    c = sMarginInfo();
    const unsigned int m = myModel;
    if (m == 12) c.right = 4;
    else if (m == 14) c.left = 2, c.right = 4;
    else if (oneOf(m, {15, 16})) c.right = 8;
    else if (oneOf(m, {17, 18, 45})) c.left = 2, c.right = 2;
    else if (oneOf(m, {20, 21})) c.right = 32;
    else if (oneOf(m, {22, 31, 41, 51})) c.right = 4, c.bottom = 3;
    else if (m == 23) c.left = 6, c.right = 22;
    else if (oneOf(m, {24, 42, 43, 52, 53})) c.right = 46;
    else if (oneOf(m, {28, 57})) c.left = 2, c.right = 50;
    else if (oneOf(m, {30, 33, 44})) c.right = 1;
    else if (oneOf(m, {35, 56})) c.right = 42;
    else if (oneOf(m, {36, 47, 61})) c.right = 44;
    else return false;
    return true;
}

bool cPictNEF::getScale(double& h, double& v) const {
    if (myModel == 12) {
        h = 0.7475149105367793;
        v = 1.48036253776435;
        return true;
    }
    h = v = 1.0;
    return false;
}

bool cPictNEF::defWhiteBalance(double (&b)[4]) const {
    if (myModel == 11) {
        const double d1[4] = {1.0, 1.16, 1.04, 1.16};
        memcpy(b, d1, sizeof(b));
        return true;
    }
    const double def[4] = {2.0, 1.0, 1.5, 1.0};
    memcpy(b, def, sizeof(b));
    return false;
}

bool cPictNEF::getNonRGBColorMix(double (&mix)[3][4]) const {
    memset(mix, 0, sizeof(mix));
    if (myModel == 59) {
        const double m[3][4] = {{0, 1, 0, 1}, {1, 1, 1, -0.5}, {0, 0, 1, 0.5}};
        memcpy(mix, m, sizeof(mix));
        return true;
    }
    mix[0][0] = mix[1][1] = mix[1][3] = mix[2][2] = 1.0;
    return false;
}

bool cPictNEF::decryptWhiteBalance(double (&b)[4]) const {
    const _typebuf<unsigned char>& r = myProps.balance;
    if (r.count >= 4) {
        int version = 0;
        for (int i = 0; i < 4; i++) version = version * 10 + (r.ptr[i] - '0');
        struct sForm {
            int version, need, at;
            int slot[4];
        };
        static const sForm kForms[] = {
            {100, 80, 72, {0, 2, 1, 3}},
            {102, 34, 10, {0, 1, 3, 2}},
            {103, 28, 20, {0, 1, 2, 3}},
            {500, 12, 4, {1, 0, 2, 3}},
        };
        // The encrypted records (200-216) need the camera's key tables, which we do not
        // carry: they fall back like unknown versions.
        for (const sForm& f : kForms) {
            if (f.version != version || r.count < f.need) continue;
            for (int i = 0; i < 4; i++) b[f.slot[i]] = rawGet16(r.ptr + f.at + 2 * i, myBigEndian);
            return true;
        }
    }
    if (myProps.haveNrwBalance) {
        memcpy(b, myProps.nrwBalance, sizeof(b));
        return true;
    }
    return defWhiteBalance(b);
}

// --- walking ---

void cPictNEF::resetImage() {
    myWidth = myHeight = myBits = myRowsPerStrip = 0;
    myCompression = mySamples = 1;
    myStripOffsets.clear();
    myStripCounts.clear();
    myCfa.pattern.clear();
    myCfa.rows = myCfa.cols = 0;
}

void cPictNEF::reset() {
    close();
    myProps.reset();
    myModel = kUnknownModel;
    myMode = mIfd0;
    resetImage();
    mySubIfds.clear();
    myMake[0] = myModelName[0] = 0;
    myMakerNote = myMakerNoteSize = 0;
    myMakerNoteForm = 0;
    myIfd0Complete = false;
    myThumbOffset = myThumbLength = 0;
    myNesting = 0;
}

bool cPictNEF::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictNEF p;
    return p.isPicture(io, info);
}

bool cPictNEF::onRawTag(int tag, int type, const void* data, int size, unsigned int offset) {
    if (myMode == mExif && tag == 37500) {
        myMakerNote = data ? 0 : offset;
        myMakerNoteSize = data ? 0 : (unsigned int)size;
        return true;
    }
    return cRawTiffWalker::onRawTag(tag, type, data, size, offset);
}

bool cPictNEF::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    if (myMode == mExif || myMode == mOther) return true;
    if (myMode == mIfd0) {
        switch (tag) {
            case 271:
            case 272: {
                char* out = tag == 271 ? myMake : myModelName;
                const int n = data && type == 2 ? (size < 63 ? size : 63) : 0;
                memcpy(out, data, (size_t)n);
                out[n] = 0;
                return true;
            }
            case 330: return getValsU32(p, mySubIfds);
            case 513: return getValU32(p, myThumbOffset);
            case 514: return getValU32(p, myThumbLength);
            case 34665: {
                unsigned int at = 0;
                if (!getValU32(p, at)) return false;
                myMode = mExif;
                const bool ok = walkNested(at);
                myMode = mIfd0;
                return ok;
            }
            default: break;
        }
    }
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
        case 273: return getValsU32(p, myStripOffsets);
        case 277: return getValU32(p, mySamples);
        case 278: return getValU32(p, myRowsPerStrip);
        case 279: return getValsU32(p, myStripCounts);
        case 33421: {
            _typebuf<unsigned short> v;
            if (type != 3 || !getValsU16(p, v) || v.count != 2) return false;
            myCfa.rows = v.ptr[0];
            myCfa.cols = v.ptr[1];
            return true;
        }
        case 33422: return getValsU8(p, myCfa.pattern);
        default: return true;
    }
}

bool cPictNEF::imageComplete() const {
    return myWidth && myHeight && myBits && myBits <= 32 && myStripOffsets.count &&
           myStripCounts.count == myStripOffsets.count;
}

bool cPictNEF::walk(cFileIOTarget* io, bool allowHeaderless) {
    reset();
    if (!io || !processStream(io, ~0ULL)) return false;
    myIfd0Complete = imageComplete();
    if (!myMakerNote || myMakerNoteSize < 6) return false;
    if ((unsigned long long)myMakerNote + myMakerNoteSize > io->size()) return false;
    _typebuf<unsigned char> note;
    if (!note.set(myMakerNoteSize) || !io->set_fp(myMakerNote) || !io->readf(note.ptr, myMakerNoteSize)) return false;
    if (!__memicmp(note.ptr, "Nikon", 5) && !note.ptr[5]) {
        if (note.count < 10) return false;
        if (note.ptr[6] == 2) {
            // A TIFF structure of its own, offsets relative to its header.
            cBufWrapperIO mem(note.ptr + 10, (long long)note.count - 10);
            myMakerNoteForm = 2;
            return myProps.processStream(&mem, ~0ULL);
        }
        if (note.ptr[6] != 1) return false;
        myMakerNoteForm = 1;
        return myProps.processStream(io, myBigEndian, false, myMakerNote + 8, ~0ULL);
    }
    if (!allowHeaderless) return false;
    myMakerNoteForm = 3;
    return myProps.processStream(io, myBigEndian, false, myMakerNote, ~0ULL);
}

namespace {
// The raw directory as the ordinary TIFF picture it is (8-bit samples, other compressions).
class cNEFPlainTiff : public cPictTIFF {
public:
    bool decodeDirectory(cFileIOTarget* io, unsigned int offset, bool bigEndian, bool bigTiff) {
        myLoading = true;
        reset();
        myProps.clear();
        return decodeDirect(this, io, dkMain, offset, bigEndian, bigTiff, ~0ULL) && isFullConfig() &&
               decodeIntFinal(io);
    }
};

// Raw and preview directories by the sub-directory count.
void chooseDirs(const _typebuf<unsigned int>& subs, unsigned int& raw, unsigned int& preview) {
    raw = preview = 0;
    const long long n = subs.count;
    if (n == 1) {
        raw = subs.ptr[0];
    } else if (n == 3) {
        raw = subs.ptr[1];
        preview = subs.ptr[2];
    } else if (n == 4) {
        raw = subs.ptr[3];
        preview = subs.ptr[2];
    } else if (n >= 2) {
        raw = subs.ptr[1];
        preview = subs.ptr[0];
    }
}
}  // namespace

bool cPictNEF::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!walk(io, false) || __stricmp(myMake, "NIKON", 5)) return false;
    unsigned int raw, preview;
    chooseDirs(mySubIfds, raw, preview);
    const bool hasPreview = myIfd0Complete || myThumbOffset || preview || myProps.preview.count;
    if (myMakerNoteForm != 1) {
        if (!raw) return false;
        resetImage();
        myMode = mRaw;
        const bool ok = walkNested(raw);
        myMode = mIfd0;
        if (!ok) return false;
    }
    if (!imageComplete() || !myCfa.rows || !myCfa.cols || myCfa.pattern.count != (long long)myCfa.rows * myCfa.cols)
        return false;
    if (info) {
        info->width = myWidth;
        info->height = myHeight;
        info->hasPreview = hasPreview;
    }
    return true;
}

// --- strips ---

bool cPictNEF::getCurveTblFromLinearizationData(const _typebuf<unsigned char>& data, bool be,
                                                _typebuf<unsigned short>& curve, unsigned int bits) {
    const unsigned int max = bits >= 31 ? 0 : (1u << bits) & 0x7FFF;
    auto identity = [&]() {
        if (!curve.set(max ? max : 1)) return false;
        for (unsigned int i = 0; i < max; i++) curve.ptr[i] = (unsigned short)i;
        if (!max) curve.clear();
        return true;
    };
    if (!data.count || data.ptr[0] == 'F') return identity();
    if (data.count < 12) return false;
    const unsigned char* d = data.ptr;
    const unsigned int csize = rawGet16(d + 10, be);
    const unsigned int step = csize >= 2 ? max / (csize - 1) : 0;
    if (d[0] == 'D' && d[1] == ' ' && step >= 1) {
        // Points at every step up to the one at index max (csize - 1 steps); the last segment
        // is filled up to that point too. Beyond the points the curve reads as identity.
        _typebuf<unsigned short> pts;
        if (!pts.set(max + step + 1)) return false;
        for (unsigned int i = 0; i < max + step + 1; i++) pts.ptr[i] = (unsigned short)i;
        for (unsigned int i = 0; i < csize && i * step <= max; i++) {
            if (12 + 2ull * i + 2 > (unsigned long long)data.count) return false;
            pts.ptr[i * step] = (unsigned short)rawGet16(d + 12 + 2 * i, be);
        }
        if (!curve.set(max)) return false;
        for (unsigned int i = 0; i < max; i++) {
            const unsigned int k = i % step, at = i - k;
            curve.ptr[i] = (unsigned short)((pts.ptr[at] * (step - k) + pts.ptr[at + step] * k) / step);
        }
        return true;
    }
    if (csize < 16386) {
        if (12 + 2ull * csize > (unsigned long long)data.count) return false;
        if (!csize) return curve.clear(), true;
        if (!curve.set(csize)) return false;
        for (unsigned int i = 0; i < csize; i++) curve.ptr[i] = (unsigned short)rawGet16(d + 12 + 2 * i, be);
        return true;
    }
    return identity();
}

bool cPictNEF::decompressHaffman(const _typebuf<unsigned char>& in, sStrip& s) {
    const _typebuf<unsigned char>& lin = myProps.linearization;
    // The predictors sit at bytes 2-9 and the curve's size at 10: a shorter record is refused.
    if (lin.count < 12 || s.bits < 1 || s.bits > 16) return false;
    const bool be = myBigEndian;
    const unsigned char v0 = lin.ptr[0], v1 = lin.ptr[1];
    long long split = 0;
    if (myProps.compression == 4 && v0 == 'D' && v1 == ' ') {
        if (lin.count < 564) return false;
        split = rawGet16(lin.ptr + 562, be);
    }
    unsigned short v[2][2] = {{(unsigned short)rawGet16(lin.ptr + 2, be), (unsigned short)rawGet16(lin.ptr + 4, be)},
                              {(unsigned short)rawGet16(lin.ptr + 6, be), (unsigned short)rawGet16(lin.ptr + 8, be)}};
    _typebuf<unsigned short> curve;
    if (!getCurveTblFromLinearizationData(lin, be, curve, s.bits)) return false;
    long long limit = curve.count, offset = 0;
    const int clampMax = (int)((1u << s.bits) - 1);
    const int t = (v0 == 'F' ? 2 : 0) + (s.bits == 14 ? 3 : 0);
    _typebuf<unsigned int> table;
    if (!buildTable(t, table)) return false;
    const long long n = s.rowBytes * 8 / s.bits;
    if (!s.out.set(s.rows * n)) return false;
    s.samples = n;
    cRawBitsMSB bits(in.ptr, in.count);
    for (long long r = 0; r < s.rows; r++) {
        if (split && r == split) {
            if (!buildTable(t + 1, table)) return false;
            limit += 32;
            offset = 16;
        }
        unsigned short h[2] = {0, 0};
        for (long long c = 0; c < n; c++) {
            const int sym = bits.huff(table);
            if (sym < 0) return false;
            const int len = sym & 15, shl = sym >> 4;
            if (len < shl) return false;
            int diff = (int)((((long long)bits.get(len - shl) * 2 + 1) << shl) >> 1);
            if (len == 0 && shl == 0) diff = 0;
            else if (len && !(diff & (1 << (len - 1)))) diff -= (1 << len) - (shl == 0 ? 1 : 0);
            if (c < 2) {
                v[r & 1][c] = (unsigned short)(v[r & 1][c] + diff);
                h[c] = v[r & 1][c];
            } else {
                h[c & 1] = (unsigned short)(h[c & 1] + diff);
            }
            const int p = (short)h[c & 1];
            if (p + offset >= limit) return false;
            const int q = p < 0 ? 0 : p > clampMax ? clampMax : p;
            s.out.ptr[r * n + c] = q < curve.count ? curve.ptr[q] : 65535;
        }
        if (bits.overrun()) return false;
    }
    return true;
}

bool cPictNEF::decompressPacked(const _typebuf<unsigned char>& in, sStrip& s, bool interlaced) {
    if (s.bits < 1 || s.bits > 32) return false;
    const long long B = s.rowBytes, n = B * 8 / s.bits;
    if (in.count < s.rows * B || !s.out.set(s.rows * n)) return false;
    s.samples = n;
    for (long long r = 0; r < s.rows; r++) {
        // Interlaced strips hold the even rows, then the odd ones.
        const long long src = !interlaced ? r : (r & 1) ? r / 2 + s.rows / 2 : r / 2;
        sPackedReader rd{in.ptr, src * B, (long long)in.count, s.bigEndian};
        for (long long c = 0; c < n; c++) {
            const unsigned int v = rd.take(s.bits);
            s.out.ptr[r * n + c] = (unsigned short)(v > 0xFFFF ? 0xFFFF : v);
        }
    }
    return true;
}

bool cPictNEF::decompressPackedChunked(const _typebuf<unsigned char>& in, sStrip& s, long long chunk) {
    if (!chunk || s.bits < 1 || s.bits > 16) return false;
    const long long n = s.rowBytes * 8 / s.bits, k = (chunk * 8 - 8) / s.bits;
    if (k < 1) return false;
    const long long m = (n + k - 1) / k;
    if (in.count < s.rows * m * chunk || !s.out.set(s.rows * n)) return false;
    s.samples = n;
    for (long long r = 0; r < s.rows; r++)
        for (long long j = 0; j < m; j++) {
            sPackedReader rd{in.ptr, (r * m + j) * chunk, (long long)in.count, s.bigEndian};
            for (long long c = j * k; c < n && c < (j + 1) * k; c++) s.out.ptr[r * n + c] = (unsigned short)rd.take(s.bits);
        }
    return true;
}

bool cPictNEF::decompressAs16BPP(const _typebuf<unsigned char>& in, sStrip& s, long long width) {
    const long long n = width;
    if (in.count < s.rows * n * 2 || !s.out.set(s.rows * n)) return false;
    for (long long i = 0; i < s.rows * n; i++) s.out.ptr[i] = (unsigned short)rawGet16(in.ptr + 2 * i, s.bigEndian);
    s.samples = n;
    s.bits = 16;
    return true;
}

bool cPictNEF::decompressBPack(const _typebuf<unsigned char>& in, sStrip& s) {
    const long long n = s.samples;
    if (in.count != s.rows * n * 2 || !s.out.set(s.rows * n)) return false;
    for (long long i = 0; i < s.rows * n; i++)
        s.out.ptr[i] = (unsigned short)(((in.ptr[2 * i] << 8 | in.ptr[2 * i + 1]) & 0xFFF0) >> 4);
    s.bits = 12;
    return true;
}

bool cPictNEF::decompressBPackTp2(const _typebuf<unsigned char>& in, sStrip& s) {
    const long long n = s.samples;
    if ((n & 1) || in.count != s.rows * n / 2 * 3 || !s.out.set(s.rows * n)) return false;
    for (long long i = 0, j = 0; i < s.rows * n; i += 2, j += 3) {
        const unsigned char* b = in.ptr + j;
        s.out.ptr[i] = (unsigned short)(b[0] << 4 | b[1] >> 4);
        s.out.ptr[i + 1] = (unsigned short)((b[1] & 15) << 8 | b[2]);
    }
    s.bits = 12;
    return true;
}

bool cPictNEF::decodeStrip(const _typebuf<unsigned char>& in, unsigned int compression, sStrip& s) {
    if (!s.bits) return false;
    if (compression == 34713) {
        switch (myProps.compression) {
            case 1:
            case 3:
            case 4: return decompressHaffman(in, s);
            case 2: return decompressPackedChunked(in, s, 16);
            case 7: s.samples = myWidth; return decompressBPack(in, s);
            case 9: s.samples = myWidth; return decompressBPackTp2(in, s);
            default: return false;
        }
    }
    if (compression == 1 && s.bits > 8) {
        if (myModel == 32 || myModel == 34) return decompressAs16BPP(in, s, myWidth);
        if (myModel == 58 || myModel == 59) {
            s.bigEndian = true;
            return decompressPacked(in, s, true);
        }
        // Packed rows are most significant bit first in files of either byte order, as both
        // peers read the cameras' files.
        s.bigEndian = true;
        return decompressPacked(in, s, false);
    }
    // Ordinary TIFF images (8-bit and other compressions) are the TIFF decoder's (decodePlain).
    return false;
}

bool cPictNEF::plainStrips() const { return myCompression != 34713 && !(myCompression == 1 && myBits > 8); }

bool cPictNEF::decodePlain(cFileIOTarget* io, unsigned int rawDir) {
    cNEFPlainTiff plain;
    plain.setWantAlts(false);
    const bool ok = rawDir ? plain.decodeDirectory(io, rawDir, myBigEndian, myBigTiff) : plain.decodePage(io, 0);
    close();
    if (!ok || plain.width() <= 0) return false;
    plain.moveTo(*this);
    return true;
}

bool cPictNEF::readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame, unsigned int& bits) {
    const long long width = myWidth, height = myHeight;
    const unsigned long long fileSize = io->size();
    const long long strips = myStripOffsets.count;
    unsigned long long total = 0;
    for (long long i = 0; i < strips; i++) {
        if ((unsigned long long)myStripOffsets.ptr[i] + myStripCounts.ptr[i] > fileSize) return false;
        total += myStripCounts.ptr[i];
    }
    // No code here spends fewer than two bits a sample.
    long long bytes;
    if (mySamples != 1 || !checkedImageBytes(width, height, 2, bytes) ||
        total * 4 < (unsigned long long)(width * height))
        return false;
    if (!frame.set(width * height)) return false;
    frame.zero();
    const long long perStrip = myRowsPerStrip ? myRowsPerStrip : height;
    long long row0 = 0;
    for (long long i = 0; i < strips && row0 < height; i++) {
        const long long rows = perStrip < height - row0 ? perStrip : height - row0;
        _typebuf<unsigned char> in;
        const long long count = myStripCounts.ptr[i];
        if (!in.set(count ? count : 1) || (count && (!io->set_fp(myStripOffsets.ptr[i]) || !io->readf(in.ptr, count))))
            return false;
        in.count = count;
        sStrip s;
        s.bits = myBits;
        s.rows = rows;
        s.bigEndian = myBigEndian;
        s.rowBytes = (width * myBits + 7) / 8;
        s.samples = width;
        if (!decodeStrip(in, myCompression, s)) return false;
        if (s.samples < width || s.out.count < rows * s.samples) return false;
        for (long long r = 0; r < rows; r++)
            memcpy(frame.ptr + (row0 + r) * width, s.out.ptr + r * s.samples, (size_t)width * 2);
        bits = s.bits;
        row0 += rows;
    }
    // The strips (a single one included) must cover the whole frame.
    return row0 == height;
}

bool cPictNEF::decode(cFileIOTarget* io) {
    if (!walk(io, true)) return false;
    if (myMake[0] && myModelName[0]) {
        if (__stricmp(myMake, "NIKON", 5)) return false;
        myModel = getModel(myModelName);
    }
    unsigned int raw = 0;
    if (myMakerNoteForm != 1) {
        unsigned int preview;
        chooseDirs(mySubIfds, raw, preview);
        if (!raw) return false;
        resetImage();
        myMode = mRaw;
        const bool ok = walkNested(raw);
        myMode = mIfd0;
        if (!ok) return false;
    }
    if (!imageComplete() || !myCfa.rows || !myCfa.cols || myCfa.pattern.count != (long long)myCfa.rows * myCfa.cols)
        return false;
    // Strips of an ordinary TIFF image: the picture is that image, without the raw pipeline.
    if (plainStrips()) return decodePlain(io, raw);
    _typebuf<unsigned short> frame;
    unsigned int bits = myBits;
    if (!readFrame(io, frame, bits)) return false;

    sCFAData cfa;
    if (myModel == 59 || myModel == 65) {
        static const unsigned char kE5700[4] = {0, 3, 1, 2}, kP6000[4] = {0, 1, 1, 2};
        cfa.rows = cfa.cols = 2;
        cfa.pattern.set(myModel == 59 ? kE5700 : kP6000, 4);
    } else {
        cfa.rows = myCfa.rows;
        cfa.cols = myCfa.cols;
        cfa.pattern.set(myCfa.pattern.ptr, myCfa.pattern.count);
    }
    const unsigned int black = blackLevel();
    unsigned int white = whiteLevel();
    if (!white) white = (unsigned int)(((1ull << (bits > 16 ? 16 : bits)) - 1) & 0xFFFF);
    if (black >= white) return false;
    sMarginInfo margins;
    getCropInfo(margins);
    const long long cw = (long long)myWidth - margins.left - margins.right;
    const long long ch = (long long)myHeight - margins.top - margins.bottom;
    cBayerFilter* filter = cBayerFilter::newFilter(cfa);
    if (!filter || cw < 1 || ch < 1 || !allocPixels(cw, ch, true)) {
        delete filter;
        close();
        return false;
    }
    cStreamGuardProgressTarget guard(io);
    sInterpolateInfo info;
    info.raw = frame.ptr;
    info.pixels = raw16Bpp();
    info.width = myWidth;
    info.height = myHeight;
    info.filter = filter;
    info.progress = &guard;
    info.flip = true;
    info.black = black;
    bool ok;
    if (isBayerRGB()) {
        double b[4];
        decryptWhiteBalance(b);
        const double scale = 65535.0 / (white - black);
        double m = b[0];
        for (int c = 1; c < 4; c++)
            if (b[c] != 0 && (m == 0 || b[c] < m)) m = b[c];
        if (b[0] == 0) m = 0;
        for (int c = 0; c < 4; c++) info.mul[c] = m != 0 ? rawClampMul(b[c] * scale / m) : scale;
        ok = interpolatePPG(info, &margins);
    } else {
        double mix[3][4];
        getNonRGBColorMix(mix);
        ok = interpolateLinearNonRGB(info, mix, &margins);
    }
    delete filter;
    frame.clear();
    if (ok) ok = rawToneFinish(*this, 2.2, 0, io);
    if (ok) {
        unsigned long long* px = raw16Bpp();
        ok = setSaturation(px, px, width() * height(), 1.5, &guard);
    }
    double sh, sv;
    if (ok && getScale(sh, sv)) {
        cPictDummy holder;
        ok = stretchTo((long long)(width() * sh), (long long)(height() * sv), holder);
        if (ok) holder.moveTo(*this);
    }
    if (!ok) close();
    return ok;
}

bool cPictNEF::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    if (!walk(io, true)) return false;
    unsigned int raw, preview;
    chooseDirs(mySubIfds, raw, preview);
    if (preview) {
        cNEFJpegPreview dir;
        if (dir.processStream(io, myBigEndian, myBigTiff, preview, ~0ULL) && dir.offset && dir.length &&
            rawJpegPreview(io, dir.offset, dir.length, target, maxWidth, maxHeight))
            return true;
    }
    if (myProps.preview.count) {
        // The window of the preview reader starts after one byte of padding.
        _typebuf<unsigned char> padded;
        if (padded.set(myProps.preview.count + 1)) {
            padded.ptr[0] = 0;
            memcpy(padded.ptr + 1, myProps.preview.ptr, (size_t)myProps.preview.count);
            cBufWrapperIO mem(padded.ptr, (long long)padded.count);
            if (rawJpegPreview(&mem, 1, myProps.preview.count, target, maxWidth, maxHeight)) return true;
        }
    }
    if (myThumbOffset && myThumbLength) return rawJpegPreview(io, myThumbOffset, myThumbLength, target, maxWidth, maxHeight);
    return false;
}
