// DICOM pixel data to pixels (PS3.3 C.7.6.3): native samples (8 or 16 bits allocated, bits
// stored below a high bit, signed or not, one grey or three colour samples, interleaved
// or planar), and encapsulated frames (PS3.5 A.4), whose fragments are joined and handed
// to the JPEG decoder, or to the JPEG 2000 entry.
#include <cstring>

#include "base/memio.h"
#include "picts/byteorder.h"
#include "picts/dicom/pictdicom.h"
#include "picts/jpeg/pictjpeg.h"
#include "picts/jpeg2000/pictjp2.h"

bool decodeEncapsulatedJ2K(const unsigned char* data, long long size, cPictBase& out) {
    // The joined frame is a codestream, or a JP2 file as some writers store it.
    cBufWrapperIO s(data, size);
    cPictJ2K j2k;
    if (j2k.decode(&s)) {
        j2k.moveTo(out);
        return true;
    }
    s.set_fp(0);
    cPictJP2 jp2;
    if (!jp2.decode(&s)) return false;
    jp2.moveTo(out);
    return true;
}

namespace {
// How the stored bits of one sample become a value (PS3.5 8.1.1).
struct sSampleLayout {
    unsigned int bytes;  // 1 or 2
    bool big;
    unsigned int shift;  // high bit + 1 - bits stored
    unsigned int mask;   // bits stored ones
    unsigned int bitsStored;
    bool isSigned;

    unsigned int raw(const unsigned char* p) const {
        unsigned int v = bytes == 2 ? rawGet16(p, big) : p[0];
        return (v >> shift) & mask;
    }
    // Two's complement in bits stored.
    int value(unsigned int r) const {
        if (isSigned && (r >> (bitsStored - 1)) & 1) return (int)r - (int)(mask + 1);
        return (int)r;
    }
};

// Writes pixels into the picture's buffer or the registered target; y is the file's row.
struct sPixelOut {
    cPictBase* pict;
    bool ext;
    bool sixteen;
    unsigned int* px32;
    unsigned long long* px64;
    long long w, h;

    void put(long long x, long long y, unsigned long long p) {
        long long sy = h - 1 - y;
        if (ext) {
            if (sixteen)
                pict->setExtPix16(x, sy, p);
            else
                pict->setExtPix(x, sy, (unsigned int)p);
        } else if (sixteen) {
            px64[sy * w + x] = p;
        } else {
            px32[sy * w + x] = (unsigned int)p;
        }
    }
};

inline unsigned long long greyPixel(unsigned int v, bool sixteen) {
    return sixteen ? 0xFFFFULL << 48 | (unsigned long long)v * 0x100010001ULL : 0xFF000000u | v * 0x010101u;
}
}  // namespace

bool cPictDICOM::decodeImage(cFileIOTarget* io, sDicomInfo* rec) {
    if (!rec || !io) return false;
    freePixels();
    my16Bpp = false;
    myWidth = rec->columns;
    myHeight = rec->rows;
    if ((rec->bitsAllocated != 8 && rec->bitsAllocated != 16) || rec->bitsStored < 1 ||
        rec->bitsStored > rec->bitsAllocated)
        return false;
    return rec->encapsulated ? decodeEncapsulated(io, *rec) : decodeNative(io, *rec);
}

bool cPictDICOM::decodeNative(cFileIOTarget* io, const sDicomInfo& rec) {
    const long long w = rec.columns, h = rec.rows;
    const unsigned int ba = rec.bitsAllocated, bs = rec.bitsStored, bytes = ba / 8;
    if (rec.samples != 1 && rec.samples != 3) return false;
    long long pixels, rowBytes, frameBytes;
    if (!checkedImagePixels(w, h, pixels) || !checkedRowBytes(w, rec.samples, ba, rowBytes) ||
        !checkedMul(rowBytes, h, frameBytes))
        return false;
    // The frame must be there in full; a padding byte after it is allowed.
    if ((unsigned long long)frameBytes > rec.length || rec.offset > io->size() ||
        (unsigned long long)frameBytes > io->size() - rec.offset)
        return false;
    sSampleLayout lay;
    lay.bytes = bytes;
    lay.big = rec.bigEndian && bytes == 2;
    // A high bit that does not hold bits stored is ignored: the bits are taken from the bottom.
    unsigned int hb = rec.hasHighBit ? rec.highBit : bs - 1;
    if (hb < bs - 1 || hb >= ba) hb = bs - 1;
    lay.shift = hb + 1 - bs;
    lay.mask = bs >= 32 ? 0xFFFFFFFFu : (1u << bs) - 1;
    lay.bitsStored = bs;
    lay.isSigned = rec.pixelRep == 1 && rec.samples == 1;

    const bool sixteen = ba == 16;
    const unsigned int maxv = sixteen ? 0xFFFF : 0xFF;
    const double defScale = ((double)(1ull << ba) - 1) / ((double)(1ull << bs) - 1);
    const bool planar = rec.samples == 3 && rec.planar != 0;
    const long long planeRow = w * bytes;  // planar: one row of one plane
    _typebuf<unsigned char> row;
    if (!row.set(rowBytes)) return false;
    auto readRow = [&](long long y) -> bool {
        if (!planar) return io->set_fp(rec.offset + y * rowBytes) && io->readf(row.ptr, rowBytes);
        for (int p = 0; p < 3; p++) {
            unsigned long long at = rec.offset + (unsigned long long)p * planeRow * h + y * planeRow;
            if (!io->set_fp(at) || !io->readf(row.ptr + p * planeRow, planeRow)) return false;
        }
        return true;
    };

    // Grey: a look-up table from the stored bits to the output, after a min/max pass.
    _typebuf<unsigned int> lut;
    if (rec.samples == 1) {
        int lo = 0x7FFFFFFF, hi = -0x7FFFFFFF;
        for (long long y = 0; y < h; y++) {
            if (!readRow(y)) return false;
            for (long long x = 0; x < w; x++) {
                int v = lay.value(lay.raw(row.ptr + x * bytes));
                if (v < lo) lo = v;
                if (v > hi) hi = v;
            }
        }
        double scale = defScale;
        if (hi > lo)
            scale = (double)maxv / (hi - lo);
        else
            lo = 0;
        // 8-bit data of full depth is only shifted down by its minimum.
        const bool stretch = sixteen || bs != ba || hi <= lo;
        if (!lut.set((long long)lay.mask + 1)) return false;
        for (unsigned int r = 0; r <= lay.mask; r++) {
            double d = (double)(lay.value(r) - lo);
            if (stretch) d *= scale;
            long long v = d < 0 ? 0 : (long long)d;
            if (v > maxv) v = maxv;
            lut.ptr[r] = rec.mono1 ? maxv - (unsigned int)v : (unsigned int)v;
        }
    }
    // Colour: stored bits scaled to the channel width only when they are fewer.
    auto chan = [&](unsigned int r) -> unsigned long long {
        if (bs == ba) return r;
        unsigned long long v = (unsigned long long)(r * defScale);
        return v > maxv ? maxv : v;
    };

    sPixelOut out;
    out.pict = this;
    out.sixteen = sixteen;
    out.w = w;
    out.h = h;
    out.ext = startExtRender();
    // 16-bit grey is kept as its samples, two bytes a pixel.
    const bool greyPage = !out.ext && sixteen && rec.samples == 1;
    if (!out.ext && !(greyPage ? allocGrey16(w, h) : allocPixels(w, h, sixteen))) return false;
    out.px32 = myPixels.ptr;
    out.px64 = myPixels16.ptr;
    unsigned short* grey = rawGrey16();
    const int cs = sixteen ? 16 : 8;
    const unsigned long long alpha = (unsigned long long)maxv << (3 * cs);
    bool ok = true;
    for (long long y = 0; y < h && ok; y++) {
        if (out.ext && !canExtRender(0, w, h - 1 - y, h - y)) continue;
        if (!(ok = readRow(y))) break;
        if (greyPage) {
            unsigned short* o = grey + (h - 1 - y) * w;
            for (long long x = 0; x < w; x++) o[x] = (unsigned short)lut.ptr[lay.raw(row.ptr + x * bytes)];
            continue;
        }
        if (rec.samples == 1) {
            for (long long x = 0; x < w; x++) out.put(x, y, greyPixel(lut.ptr[lay.raw(row.ptr + x * bytes)], sixteen));
            continue;
        }
        for (long long x = 0; x < w; x++) {
            const unsigned char* r = planar ? row.ptr + x * bytes : row.ptr + x * 3 * bytes;
            const long long step = planar ? planeRow : bytes;
            unsigned long long p = alpha | chan(lay.raw(r)) << (2 * cs) | chan(lay.raw(r + step)) << cs |
                                   chan(lay.raw(r + 2 * step));
            out.put(x, y, p);
        }
    }
    if (out.ext) endExtRender();
    if (!ok && !out.ext) freePixels();
    return ok;
}

namespace {
// A JPEG frame decoded into its sample planes only: grey frames are mapped from the plane
// straight into the picture, without a picture of their own in between. Given a picture, a
// lossless grey frame skips the plane too: its lines go as raw samples straight into the
// picture's frame (a grey 16-bit page above 8 bits of precision), which the caller then maps
// in place, so the samples are held once.
class cDicomJpegFrame : public cPictJPEG {
public:
    explicit cDicomJpegFrame(cPictBase* direct = nullptr) : myDirect(direct) {}
    // Decodes the stream; true when it is intact and its one grey plane (or the frame) is ready.
    bool decodeGreyPlane(cFileIOTarget* io) {
        if (!processStream(io, eJModeDecode) || !frameSeen() || componentCount() != 1) return false;
        if (myInFrame) return finishFrame();
        return planesReady() && finishPlanes();
    }
    // Lossless lines of the one component go into its plane (or the frame) as they are; values
    // above the precision's range are left for the caller's table.
    bool onScanLine(unsigned short** lines, int line, int samples) override {
        if (componentCount() != 1 || scanComponents() != 1) return cPictJPEG::onScanLine(lines, line, samples);
        const unsigned short* in = lines[0];
        sJComponent& c = componentRef(0);
        if (myDirect && !planesReady()) {
            if (!myInFrame && !startFrame()) return false;
            if (line < 0 || line >= frameHeight() || c.sw != frameWidth()) return false;
            // Rows a scan skipped show mid-grey, as finishPlanes leaves them.
            while (myNextLine < line) putRow(nullptr, myNextLine++);
            putRow(in, line);
            if (line + 1 > myNextLine) myNextLine = line + 1;
        } else {
            if (!allocPlanes()) return false;
            if (line >= c.bh || c.sw > c.bw) return false;
            memcpy(c.plane.ptr + (long long)line * c.bw, in, (size_t)c.sw * sizeof(unsigned short));
            if (line + 1 > c.rowsDone) c.rowsDone = line + 1;
            noteRange(in, c.sw);
        }
        return true;
    }
    // The smallest and largest sample of a lossless frame whose lines all came through here.
    bool range(unsigned int& lo, unsigned int& hi) const {
        lo = myLo, hi = myHi;
        return myRanged && myLo <= myHi && (myInFrame || componentRef0Done());
    }
    // Whether the samples are in the picture's frame (raw, rows bottom-up) instead of the plane.
    bool inFrame() const { return myInFrame; }
    const unsigned short* row(long long y) {
        sJComponent& c = componentRef(0);
        return c.plane.ptr + y * (long long)c.bw * (isLossless() ? 1 : 8);
    }

private:
    bool componentRef0Done() const { return isLossless() && component(0).rowsDone >= frameHeight(); }
    bool startFrame() {
        if (!isLossless()) return false;
        if (precision() > 8 ? !myDirect->allocGrey16(frameWidth(), frameHeight())
                            : !myDirect->allocPixels(frameWidth(), frameHeight(), false))
            return false;
        myInFrame = true;
        myNextLine = 0;
        return true;
    }
    // One line of raw samples (null: mid-grey) into the frame's stored row, bottom-up.
    void putRow(const unsigned short* in, long long line) {
        const long long w = frameWidth(), y = frameHeight() - 1 - line;
        const unsigned short mid = (unsigned short)(1 << (precision() - 1));
        if (unsigned short* o = myDirect->rawGrey16()) {
            if (in)
                memcpy(o + y * w, in, (size_t)w * sizeof(unsigned short));
            else
                for (long long x = 0; x < w; x++) o[y * w + x] = mid;
        } else if (unsigned int* o = myDirect->raw8Bpp())
            for (long long x = 0; x < w; x++) o[y * w + x] = in ? in[x] : mid;
        if (in) {
            noteRange(in, w);
        } else {
            noteRange(&mid, 1);
        }
    }
    bool finishFrame() {
        while (myNextLine < frameHeight()) putRow(nullptr, myNextLine++);
        return true;
    }
    // The range comes with the line while it is in the cache.
    void noteRange(const unsigned short* in, long long n) {
        unsigned int lo = myLo, hi = myHi;
        for (long long x = 0; x < n; x++) {
            lo = in[x] < lo ? in[x] : lo;
            hi = in[x] > hi ? in[x] : hi;
        }
        myLo = lo, myHi = hi;
        myRanged = true;
    }
    cPictBase* myDirect;
    bool myInFrame = false;
    long long myNextLine = 0;
    unsigned int myLo = 0xFFFF, myHi = 0;
    bool myRanged = false;
};

enum eFrameKind { fkUnknown, fkJPEG, fkJ2K };
// What an encapsulated frame holds, from its first bytes.
eFrameKind frameKind(const unsigned char* d, unsigned long long n) {
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return fkJPEG;
    if ((n >= 4 && d[0] == 0xFF && d[1] == 0x4F && d[2] == 0xFF && d[3] == 0x51) ||
        (n >= 8 && !memcmp(d, "\0\0\0\x0CjP  ", 8)))
        return fkJ2K;
    return fkUnknown;
}

// The range of the mapped values of one stored row of raw samples in a picture's frame.
void rawFrameRange(cPictBase& p, long long y, const unsigned int* lut, unsigned int& lo, unsigned int& hi) {
    const long long w = p.width();
    const unsigned short* px16 = p.rawGrey16();
    const unsigned int* px8 = px16 ? nullptr : p.raw8Bpp();
    for (long long x = 0; x < w; x++) {
        unsigned int v = lut[(unsigned short)(px16 ? px16[y * w + x] : px8[y * w + x])];
        if (v < lo) lo = v;
        if (v > hi) hi = v;
    }
}

void invertColours(cPictBase& p) {
    const long long n = p.width() * p.height();
    if (p.raw16Bpp())
        for (long long i = 0; i < n; i++) p.raw16Bpp()[i] ^= 0xFFFFFFFFFFFFULL;
    else if (p.raw8Bpp())
        for (long long i = 0; i < n; i++) p.raw8Bpp()[i] ^= 0xFFFFFFu;
}
}  // namespace

// The display mapping of a grey JPEG frame, as one look-up table over its sample values:
// the decoder's scaling of precision P to 8 or 16 bits, signed samples taken as two's
// complement in bits stored and shifted up by half the range (so their order is kept), a
// min/max stretch over the frame (cPictBase::autoScaleFrom's rounding), MONOCHROME1 inverted.
bool cPictDICOM::greyFromJpeg(cPictJPEG& jpeg, const sDicomInfo& rec) {
    cDicomJpegFrame& jp = static_cast<cDicomJpegFrame&>(jpeg);
    const long long w = jp.frameWidth(), h = jp.frameHeight();
    const int precision = jp.precision();
    if (precision < 1 || precision > 16) return false;
    const bool sixteen = precision > 8;
    const unsigned long long maxP = (1ull << precision) - 1, outMax = sixteen ? 0xFFFF : 0xFF;
    const bool isSigned = rec.pixelRep == 1 && rec.bitsStored >= 1 && rec.bitsStored <= 16;
    const unsigned long long mask = isSigned ? (1ull << rec.bitsStored) - 1 : 0, half = isSigned ? (mask + 1) / 2 : 0;
    // Every 16-bit value has an entry: lossless samples past the precision count as its maximum.
    _typebuf<unsigned int> lut;
    if (!lut.set(0x10000)) return false;
    for (unsigned long long r = 0; r <= 0xFFFF; r++) {
        const unsigned long long rr = r > maxP ? maxP : r;
        unsigned long long v = (rr * outMax + maxP / 2) / maxP;
        if (isSigned) v = (((rr & mask) ^ half) * outMax + mask / 2) / mask;
        lut.ptr[r] = (unsigned int)v;
    }
    unsigned int lo = (unsigned int)outMax, hi = 0, rawLo, rawHi;
    // Unsigned samples map in order, so the range of the samples gives the range of the values.
    const bool known = !isSigned && jp.range(rawLo, rawHi);
    if (known) {
        lo = lut.ptr[rawLo];
        hi = lut.ptr[rawHi];
    }
    for (long long y = 0; y < h && !known; y++) {
        const unsigned short* in = jp.inFrame() ? nullptr : jp.row(y);
        if (!in) {
            rawFrameRange(*this, y, lut.ptr, lo, hi);
            continue;
        }
        for (long long x = 0; x < w; x++) {
            unsigned int v = lut.ptr[in[x]];
            if (v < lo) lo = v;
            if (v > hi) hi = v;
        }
    }
    for (unsigned long long r = 0; r <= 0xFFFF; r++) {
        unsigned long long v = lut.ptr[r];
        if (hi > lo) v = v < lo ? 0 : v > hi ? outMax : ((v - lo) * outMax + (hi - lo) / 2) / (hi - lo);
        lut.ptr[r] = (unsigned int)(rec.mono1 ? outMax - v : v);
    }
    if (jp.inFrame()) {
        // The raw samples are in the frame already: mapped where they lie.
        const long long n = w * h;
        if (unsigned short* o = rawGrey16())
            for (long long i = 0; i < n; i++) o[i] = (unsigned short)lut.ptr[o[i]];
        else if (unsigned int* o = raw8Bpp())
            for (long long i = 0; i < n; i++) o[i] = (unsigned int)greyPixel(lut.ptr[(unsigned short)o[i]], false);
        return true;
    }
    myWidth = w;
    myHeight = h;
    sPixelOut out;
    out.pict = this;
    out.sixteen = sixteen;
    out.w = w;
    out.h = h;
    out.ext = startExtRender();
    if (!out.ext && !(sixteen ? allocGrey16(w, h) : allocPixels(w, h, false))) return false;
    out.px32 = myPixels.ptr;
    out.px64 = nullptr;
    unsigned short* grey = rawGrey16();
    for (long long y = 0; y < h; y++) {
        const unsigned short* in = jp.row(y);
        if (out.ext) {
            if (canExtRender(0, w, h - 1 - y, h - y))
                for (long long x = 0; x < w; x++) out.put(x, y, greyPixel(lut.ptr[in[x]], sixteen));
        } else if (sixteen) {
            unsigned short* o = grey + (h - 1 - y) * w;
            for (long long x = 0; x < w; x++) o[x] = (unsigned short)lut.ptr[in[x]];
        } else {
            unsigned int* o = out.px32 + (h - 1 - y) * w;
            for (long long x = 0; x < w; x++) o[x] = (unsigned int)greyPixel(lut.ptr[in[x]], false);
        }
    }
    if (out.ext) endExtRender();
    return true;
}

bool cPictDICOM::decodeEncapsulated(cFileIOTarget* io, const sDicomInfo& rec) {
    // The frame is its fragments joined (PS3.5 A.4); each lies inside the stream.
    if (!rec.fragCount || rec.fragFirst + rec.fragCount > myFragCount) return false;
    const sFragment& first = myFrags.ptr[rec.fragFirst];
    unsigned long long total = 0;
    for (unsigned int i = 0; i < rec.fragCount; i++) total += myFrags.ptr[rec.fragFirst + i].length;
    if (total < 4 || total > io->size()) return false;
    // One fragment is read where it lies; several are joined in memory.
    _typebuf<unsigned char> data;
    cFileIOSubRange window;
    cBufWrapperIO joined;
    cFileIOTarget* frame = &window;
    eFrameKind kind = frameKind(first.head, first.length < 8 ? first.length : 8);
    if (rec.fragCount == 1 && kind == fkJPEG) {
        if (!window.wrap(io, first.offset, first.length)) return false;
    } else {
        if (!data.set((long long)total)) return false;
        unsigned long long at = 0;
        for (unsigned int i = 0; i < rec.fragCount; i++) {
            const sFragment& f = myFrags.ptr[rec.fragFirst + i];
            if (!io->set_fp(f.offset) || !io->readf(data.ptr + at, f.length)) return false;
            at += f.length;
        }
        kind = frameKind(data.ptr, total);
        joined.wrap(data.ptr, (long long)total);
        frame = &joined;
    }
    cPictDummy pic;
    if (kind == fkJPEG) {
        if (rec.samples == 1) {
            // Without a target the samples go straight into this picture's frame.
            cDicomJpegFrame jp(myHasExt ? nullptr : this);
            if (!jp.decodeGreyPlane(frame)) {
                freePixels();
                return false;
            }
            data.clear();
            if (greyFromJpeg(jp, rec)) return true;
            freePixels();
            return false;
        }
        cPictJPEG jp;
        if (!jp.decode(frame)) return false;
        if (!pic.autoScaleFrom(jp)) return false;
    } else if (kind == fkJ2K) {
        if (!decodeEncapsulatedJ2K(data.ptr, (long long)total, pic) || pic.width() < 1) return false;
    } else {
        return false;
    }
    data.clear();
    if (rec.mono1) invertColours(pic);
    if (myHasExt) {
        bool ok = pic.toExtTarget(&myExt);
        setExtTarget(nullptr);
        return ok;
    }
    pic.moveTo(*this);
    return true;
}
