// cPictBase: pixel buffers, properties, pages and previews shared by every decoder.
#include "picts/pictbase.h"

#include <cstring>

namespace {

// A whole-frame buffer is written page after page once, so it is offered huge pages. They
// come on first touch, as rows are written: faulting the whole frame in up front stalled on
// loaded machines.
const long long kFrameHugePagesMin = 8LL << 20;

}  // namespace

bool __bmp_res_inversed = false;

cPictBase::sExtPictDef::sExtPictDef(cPictBase* picture) {
    if (!picture) return;
    pixels = picture->raw8Bpp();
    width = picture->myWidth;
    height = picture->myHeight;
}

cPictBase::cPictBase() {}

cPictBase::~cPictBase() {
    // endExtRender frees the render state; a decoder that stopped half-way leaves it here.
    if (myExtState) {
        myHasExt = false;
        endExtRender();
    }
}

int cPictBase::typeOf() { return pkNone; }
bool cPictBase::is16Bpp() { return my16Bpp; }
bool cPictBase::isPicture(cFileIOTarget* io, sPictInfo* info) { return false; }
bool cPictBase::decode(cFileIOTarget* io) { return false; }
long long cPictBase::width() { return myWidth; }
long long cPictBase::height() { return myHeight; }
bool cPictBase::supportsExtRendering() { return false; }
bool cPictBase::supportsMultipage() { return false; }
int cPictBase::getNumPages(cFileIOTarget* io) { return 1; }

bool cPictBase::getColorData(_typebuf<unsigned int>& out) {
    if (!holdsPixels()) return false;
    const long long n = myWidth * myHeight;
    if (pageKind() == pgArgb32) return out.set(myPixels.ptr, n);
    if (!out.set(n)) return false;
    for (long long y = 0; y < myHeight; y++) pixelRow32(y, out.ptr + y * myWidth);
    return true;
}

namespace {
// The eight 32-bit pixels of each byte of a 1-bit page where a 1 bit is black.
struct sBitsToPixels {
    unsigned int px[256][8];
    constexpr sBitsToPixels() : px() {
        for (int b = 0; b < 256; b++)
            for (int k = 0; k < 8; k++) px[b][k] = (b >> (7 - k)) & 1 ? 0xFF000000u : 0xFFFFFFFFu;
    }
};
constexpr sBitsToPixels kBitsToPixels;

inline unsigned int grey16To32(unsigned int v) { return 0xFF000000u | (v >> 8) * 0x010101u; }
inline unsigned long long grey16To64(unsigned long long v) { return 0xFFFFULL << 48 | v * 0x100010001ULL; }
}  // namespace

cPictBase::ePageKind cPictBase::pageKind() const {
    if (myPage == pgBits1 || myPage == pgGrey16) return (ePageKind)myPage;
    if (my16Bpp) return myPixels16.ptr ? pgArgb64 : pgNone;
    return myPixels.ptr ? pgArgb32 : pgNone;
}

bool cPictBase::holdsPixels() const {
    if (myWidth <= 0 || myHeight <= 0) return false;
    const long long n = myWidth * myHeight;
    switch (pageKind()) {
        case pgArgb32: return myPixels.count >= n;
        case pgArgb64: return myPixels16.count >= n;
        case pgBits1: return myCompact.count >= bitsStride() * myHeight;
        case pgGrey16: return myCompact.count >= n * 2;
        default: return false;
    }
}

bool cPictBase::pixelRow32(long long y, unsigned int* out) const {
    if (!out || y < 0 || y >= myHeight || !holdsPixels()) return false;
    const long long w = myWidth;
    switch (pageKind()) {
        case pgArgb32: memcpy(out, myPixels.ptr + y * w, (size_t)w * sizeof(unsigned int)); break;
        case pgArgb64: {
            const unsigned long long* in = myPixels16.ptr + y * w;
            for (long long x = 0; x < w; x++) out[x] = to8Bpp(in[x]);
            break;
        }
        case pgBits1: {
            const unsigned char* in = myCompact.ptr + y * bitsStride();
            // White is all ones, black only alpha: inverting the colour bits swaps them.
            const unsigned int flip = myBitsOneWhite ? 0xFFFFFFu : 0u;
            long long x = 0;
            for (; x + 8 <= w; x += 8) {
                const unsigned int* e = kBitsToPixels.px[in[x >> 3]];
                for (int k = 0; k < 8; k++) out[x + k] = e[k] ^ flip;
            }
            for (; x < w; x++) out[x] = kBitsToPixels.px[in[x >> 3]][x & 7] ^ flip;
            break;
        }
        default: {
            const unsigned short* in = (const unsigned short*)myCompact.ptr + y * w;
            for (long long x = 0; x < w; x++) out[x] = grey16To32(in[x]);
            break;
        }
    }
    return true;
}

bool cPictBase::pixelRow64(long long y, unsigned long long* out) const {
    if (!out || y < 0 || y >= myHeight || !holdsPixels()) return false;
    const long long w = myWidth;
    switch (pageKind()) {
        case pgArgb32: {
            const unsigned int* in = myPixels.ptr + y * w;
            for (long long x = 0; x < w; x++) out[x] = to16Bpp(in[x]);
            break;
        }
        case pgArgb64: memcpy(out, myPixels16.ptr + y * w, (size_t)w * sizeof(unsigned long long)); break;
        case pgBits1: {
            const unsigned char* in = myCompact.ptr + y * bitsStride();
            const unsigned int one = myBitsOneWhite ? 0u : 1u;  // the bit value that is black
            for (long long x = 0; x < w; x++)
                out[x] = ((in[x >> 3] >> (7 - (x & 7))) & 1) == one ? 0xFFFFULL << 48 : ~0ULL;
            break;
        }
        default: {
            const unsigned short* in = (const unsigned short*)myCompact.ptr + y * w;
            for (long long x = 0; x < w; x++) out[x] = grey16To64(in[x]);
            break;
        }
    }
    return true;
}

bool cPictBase::widenPage() {
    if (myPage != pgBits1 && myPage != pgGrey16) return true;
    if (!holdsPixels()) return false;
    const bool wide = myPage == pgGrey16;
    long long bytes;
    if (!checkedImageBytes(myWidth, myHeight, wide ? 8 : 4, bytes)) return false;
    _typebuf<unsigned int> p32;
    _typebuf<unsigned long long> p64;
    if (wide ? !p64.set(myWidth * myHeight) : !p32.set(myWidth * myHeight)) return false;
    for (long long y = 0; y < myHeight; y++) {
        if (wide)
            pixelRow64(y, p64.ptr + y * myWidth);
        else
            pixelRow32(y, p32.ptr + y * myWidth);
    }
    myCompact.clear();
    myPage = pgNone;
    myPixels.swap(p32);
    myPixels16.swap(p64);
    my16Bpp = wide;
    return true;
}

bool cPictBase::allocCompact(long long w, long long h, int bitsPerPixel, int kind) {
    long long bytes;
    freePixels();
    myWidth = myHeight = 0;
    my16Bpp = kind == pgGrey16;
    if (!checkedPageBytes(w, h, bitsPerPixel, bytes) || !myCompact.set(bytes)) {
        my16Bpp = false;
        return false;
    }
    pictAdviseHugePages(myCompact.ptr, bytes, kFrameHugePagesMin);
    myPage = kind;
    myWidth = w;
    myHeight = h;
    return true;
}

bool cPictBase::allocBits(long long w, long long h, bool oneWhite) {
    if (!allocCompact(w, h, 1, pgBits1)) return false;
    myBitsOneWhite = oneWhite;
    return true;
}

bool cPictBase::allocGrey16(long long w, long long h) { return allocCompact(w, h, 16, pgGrey16); }

void cPictBase::freePixels() {
    myPixels.clear();
    myPixels16.clear();
    myCompact.clear();
    myPage = pgNone;
    myBitsOneWhite = false;
}

bool cPictBase::getPageSize(cFileIOTarget* io, int page, long long& w, long long& h) {
    sPictInfo info;
    if (page != 0 || !io || !isPicture(io, &info)) return false;
    w = info.width;
    h = info.height;
    return true;
}

bool cPictBase::decodePage(cFileIOTarget* io, int page) { return page == 0 && io && decode(io); }

namespace {
// Size of a w x h picture fitted within maxW x maxH, never enlarged, at least 1 x 1.
void fitSize(long long w, long long h, long long maxW, long long maxH, long long& fw, long long& fh) {
    if (w <= maxW && h <= maxH) {
        fw = w;
        fh = h;
        return;
    }
    double f = (double)maxW / (double)w;
    double fy = (double)maxH / (double)h;
    if (fy < f) f = fy;
    fw = (long long)(w * f + 0.5);
    fh = (long long)(h * f + 0.5);
    if (fw < 1) fw = 1;
    if (fh < 1) fh = 1;
    if (fw > maxW) fw = maxW;
    if (fh > maxH) fh = maxH;
}
}  // namespace

bool cPictBase::decodePagePreview(cFileIOTarget* io, cPictBase* target, long long width, long long height,
                                  int page, bool allowFull, unsigned int background) {
    if (!io || !target || page != 0 || !allowFull || width < 1 || height < 1) return false;
    unsigned long long start = io->get_fp();
    if (supportsExtRendering()) {
        sPictInfo info;
        if (!isPicture(io, &info) || info.width < 1 || info.height < 1) return false;
        long long fw, fh;
        fitSize(info.width, info.height, width, height, fw, fh);
        if (!target->allocPixels(fw, fh, false)) return false;
        for (long long i = 0; i < target->myPixels.count; i++) target->myPixels.ptr[i] = background;
        sExtPictDef def(target);
        def.background = background;
        if (!setExtTarget(&def) || !io->set_fp(start)) {
            setExtTarget(nullptr);
            return false;
        }
        bool ok = decode(io);
        setExtTarget(nullptr);
        return ok;
    }
    if (!decode(io)) return false;
    return imgToPreview(this, target, width, height, background);
}

bool cPictBase::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    return false;
}

int cPictBase::getPreview(cFileIOTarget* io, cPictDummy& holder, long long width, long long height,
                          bool fullDecode, unsigned int background) {
    if (!io || width < 1 || height < 1) return 1;
    unsigned long long start = io->get_fp();
    long long mw = width, mh = height;
    cPictDummy embedded;
    if (getPreview(io, &embedded, &mw, &mh) && embedded.width() > 0 && embedded.height() > 0) {
        if (embedded.width() <= width && embedded.height() <= height) {
            embedded.moveTo(holder);
            return 0;
        }
        if (imgToPreview(&embedded, &holder, width, height, background)) return 0;
    }
    if (!fullDecode) return 2;
    if (!io->set_fp(start)) return 3;
    return decodePagePreview(io, &holder, width, height, 0, true, background) ? 0 : 3;
}

void cPictBase::moveTo(cPictBase& target) {
    if (&target == this) return;
    target.freePixels();
    target.myPixels.swap(myPixels);
    target.myPixels16.swap(myPixels16);
    target.myCompact.swap(myCompact);
    target.myPage = myPage;
    target.myBitsOneWhite = myBitsOneWhite;
    target.myWidth = myWidth;
    target.myHeight = myHeight;
    target.my16Bpp = my16Bpp;
    myPage = pgNone;
    myWidth = myHeight = 0;
    my16Bpp = false;
}

void cPictBase::close() {
    if (myExtState) endExtRender();
    myHasExt = false;
    myExt = sExtPictDef();
    freePixels();
    myWidth = myHeight = 0;
    my16Bpp = false;
    myProps.clear();
}

void cPictBase::flip() {
    if (myWidth <= 0 || myHeight <= 0) return;
    long long w = myWidth;
    if (myPage == pgBits1 || myPage == pgGrey16) {
        if (!holdsPixels()) return;
        const long long rb = myPage == pgBits1 ? bitsStride() : w * 2;
        unsigned char* p = myCompact.ptr;
        for (long long a = 0, b = myHeight - 1; a < b; a++, b--)
            for (long long x = 0; x < rb; x++) {
                unsigned char t = p[a * rb + x];
                p[a * rb + x] = p[b * rb + x];
                p[b * rb + x] = t;
            }
    } else if (my16Bpp) {
        if (myPixels16.count < myWidth * myHeight) return;
        unsigned long long* p = myPixels16.ptr;
        for (long long a = 0, b = myHeight - 1; a < b; a++, b--)
            for (long long x = 0; x < w; x++) {
                unsigned long long t = p[a * w + x];
                p[a * w + x] = p[b * w + x];
                p[b * w + x] = t;
            }
    } else {
        if (myPixels.count < myWidth * myHeight) return;
        unsigned int* p = myPixels.ptr;
        for (long long a = 0, b = myHeight - 1; a < b; a++, b--)
            for (long long x = 0; x < w; x++) {
                unsigned int t = p[a * w + x];
                p[a * w + x] = p[b * w + x];
                p[b * w + x] = t;
            }
    }
}

unsigned int* cPictBase::raw8Bpp() {
    if (my16Bpp || (myPage == pgBits1 && !widenPage())) return nullptr;
    return myPixels.ptr;
}

unsigned long long* cPictBase::raw16Bpp() {
    if (!my16Bpp || (myPage == pgGrey16 && !widenPage())) return nullptr;
    return myPixels16.ptr;
}

bool cPictBase::moveToColorData(_typebuf<unsigned int>& out) {
    if (myPage == pgBits1 || myPage == pgGrey16) {
        if (!getColorData(out)) return false;
        myCompact.clear();
        myPage = pgNone;
        return true;
    }
    if (!my16Bpp) {
        if (!myPixels.ptr) return false;
        out.clear();
        out.swap(myPixels);
        return true;
    }
    if (!getColorData(out)) return false;
    myPixels16.clear();
    return true;
}

bool cPictBase::allocPixels(long long w, long long h, bool sixteenBits) {
    long long bytes;
    freePixels();
    myWidth = myHeight = 0;
    my16Bpp = sixteenBits;
    if (!checkedImageBytes(w, h, sixteenBits ? 8 : 4, bytes)) return false;
    if (!(sixteenBits ? myPixels16.set(w * h) : myPixels.set(w * h))) return false;
    pictAdviseHugePages(sixteenBits ? (void*)myPixels16.ptr : (void*)myPixels.ptr, bytes, kFrameHugePagesMin);
    myWidth = w;
    myHeight = h;
    return true;
}

cPictProp* cPictBase::getProp(int id, bool create) { return create ? myProps.findOrCreate(id) : myProps.find(id); }

const long long* cPictBase::getPropInt(int id) {
    cPictProp* p = myProps.find(id);
    return p && p->type() == cPictProp::tInt ? &p->intValue : nullptr;
}

const double* cPictBase::getPropDouble(int id) {
    cPictProp* p = myProps.find(id);
    return p && p->type() == cPictProp::tDouble ? &p->doubleValue : nullptr;
}

const sTimestamp* cPictBase::getPropTime(int id) {
    cPictProp* p = myProps.find(id);
    return p && p->type() == cPictProp::tTime ? &p->timeValue : nullptr;
}

const char* cPictBase::getPropString(int id) {
    cPictProp* p = myProps.find(id);
    return p && p->type() == cPictProp::tString ? p->stringValue.ptr : nullptr;
}

cPictBase* cPictBase::getPropImage(int id) {
    cPictProp* p = myProps.find(id);
    return p && p->type() == cPictProp::tImage ? p->image() : nullptr;
}

const cPictProp* cPictBase::getPropRaw(int id) {
    cPictProp* p = myProps.find(id);
    return p && p->type() == cPictProp::tRaw ? p : nullptr;
}

bool cPictBase::removeProp(int id) { return myProps.remove(id); }
