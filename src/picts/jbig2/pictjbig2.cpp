// cPictJBIG2: the T.88 file header (Annex D), segment headers (7.2), page information (7.4.8),
// end-of-stripe (7.4.9) and immediate generic region segments (7.4.6); each page is painted
// into the picture's 1-bit page, or into a 1-bit canvas rendered into a caller's target.
#include "picts/jbig2/pictjbig2.h"

#include <cstdint>
#include <cstring>

#include "picts/byteorder.h"

namespace {

const unsigned char kFileId[8] = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A};
const unsigned int kUnknown = 0xFFFFFFFFu;

enum eSegType { kRegionImmediate = 38, kRegionLossless = 39, kPageInfo = 48, kEndOfStripe = 50, kEndOfFile = 51 };

bool readAt(cFileIOTarget* io, long long pos, void* buf, long long n) {
    return pos >= 0 && io->set_fp((unsigned long long)pos) && io->readf(buf, n);
}

// The region information field (7.4.1), the flags and the AT pixels of a generic region.
bool readRegionHeader(cFileIOTarget* io, long long offset, long long length, sJB2GenRegion& g) {
    unsigned char b[26];
    if (length < 18 || !readAt(io, offset, b, 18)) return false;
    g.width = be32(b);
    g.height = be32(b + 4);
    g.x = be32(b + 8);
    g.y = be32(b + 12);
    g.combOp = b[16];
    g.flags = b[17];
    const int atBytes = g.headerBytes() - 18;
    if (length < g.headerBytes() || !io->readf(b + 18, atBytes)) return false;
    memcpy(g.at, b + 18, (size_t)atBytes);
    return true;
}

// The combination operators of 7.4.1.5 (0 OR, 1 AND, 2 XOR, 3 XNOR, 4 REPLACE) on any width.
template <int op, typename T>
inline T combine(T d, T s) {
    return op == 0 ? d | s : op == 1 ? d & s : op == 2 ? d ^ s : op == 3 ? ~(d ^ s) : s;
}

// Combines one region row (`stride` bytes, `cols` columns used) with the canvas row from its
// byte `dst`, the region starting `shift` bits into that byte. Canvas byte i takes the region's
// bits from source bytes i - 1 and i; the first and last bytes keep the canvas's bits outside
// the region, the bytes between are combined eight at a time.
template <int op>
void combineRowOp(unsigned char* dst, const unsigned char* src, long long stride, unsigned int shift, long long cols) {
    const long long n = (shift + cols + 7) >> 3;
    auto edge = [&](long long i) {
        const unsigned int hi = i > 0 ? src[i - 1] : 0, lo = i < stride ? src[i] : 0;
        const unsigned int s8 = ((hi << 8 | lo) >> shift) & 0xFF;
        const long long first = i * 8 - (long long)shift, last = first + 8;  // region columns of this byte
        unsigned int keep = 0;
        if (first < 0) keep |= 0xFFu << (8 + first) & 0xFF;
        if (last > cols) keep |= 0xFFu >> (8 - (last - cols));
        const unsigned int d = dst[i];
        dst[i] = (unsigned char)((d & keep) | (combine<op>(d, s8) & ~keep));
    };
    edge(0);
    if (n < 2) return;
    // Bytes 1 .. n - 2 lie wholly inside the region and read source bytes 0 .. n - 2 < stride.
    long long i = 1;
    for (; i + 8 <= n - 1; i += 8) {
        uint64_t a, d;
        memcpy(&a, src + i - 1, 8);
        memcpy(&d, dst + i, 8);
#if !(defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__)
        a = __builtin_bswap64(a);
#endif
        uint64_t s = a << (8 - shift) | (uint64_t)(src[i + 7] >> shift);
#if !(defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__)
        s = __builtin_bswap64(s);
#endif
        d = combine<op>(d, s);
        memcpy(dst + i, &d, 8);
    }
    for (; i < n - 1; i++) {
        const unsigned int s8 = ((unsigned int)src[i - 1] << 8 | src[i]) >> shift;
        dst[i] = (unsigned char)combine<op>((unsigned int)dst[i], s8);
    }
    edge(n - 1);
}

typedef void (*tCombineRow)(unsigned char*, const unsigned char*, long long, unsigned int, long long);
const tCombineRow combineRow[5] = {combineRowOp<0>, combineRowOp<1>, combineRowOp<2>, combineRowOp<3>,
                                   combineRowOp<4>};

// A region decoded from a few bytes can stand for a page's worth of pixels, but the regions of
// a page together never stand for much more than the page they are painted on: the pixels
// decoded for one page are bounded by four times its area (and a little for small pages).
const long long kPageWorkFactor = 4;
const long long kPageWorkSlack = 1LL << 20;

}  // namespace

cPictJBIG2::cPictJBIG2() : myPages(512) {}

cPictJBIG2::~cPictJBIG2() { myPages.destroy(); }

bool cPictJBIG2::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictJBIG2 probe;
    return probe.isPicture(io, info);
}

long long cPictJBIG2::sPageCtx::finalHeight() const {
    if (height != kUnknown) return height;
    return stripeEnd ? stripeEnd : regionsEnd;
}

cPictJBIG2::sPageCtx* cPictJBIG2::pageOf(int page, cFileIOTarget* io) {
    if (!load(io)) return nullptr;
    return myPages.find(page + 1);
}

bool cPictJBIG2::load(cFileIOTarget* io) {
    myPages.destroy();
    myPageCount = 0;
    if (!io) return false;
    const long long base = (long long)io->get_fp(), end = (long long)io->size();
    unsigned char h[13];
    const long long got = io->read(h, sizeof(h));
    long long pos = base;
    bool countKnown = true, ok = true;
    if (got >= 9 && !memcmp(h, kFileId, 8)) {
        // D.4.2: bit 0 set for the sequential organisation, bit 1 set when the page count is
        // not given. Random-access files keep their headers apart from the data: refused.
        if (!(h[8] & 1)) {
            ok = false;
        } else if (h[8] & 2) {
            countKnown = false;
            pos = base + 9;
        } else {
            myPageCount = got >= 13 ? be32(h + 9) : 0;
            ok = myPageCount != 0;
            pos = base + 13;
        }
    } else {
        myPageCount = 1;
    }
    ok = ok && readSegments(io, pos, end);
    if (ok && !countKnown) {
        auto* last = myPages.last();
        myPageCount = last && last->key() > 0 ? (unsigned int)last->key() : 0;
    }
    io->set_fp((unsigned long long)base);
    return ok && isFullConfig();
}

bool cPictJBIG2::readSegments(cFileIOTarget* io, long long pos, long long end) {
    // Segment numbers run 0, 1, 2, ...; the walk ends quietly at the first one out of order or
    // at a header that cannot be read.
    for (unsigned int expect = 0;; expect++) {
        unsigned char b[9];
        if (!readAt(io, pos, b, 6)) return true;
        const unsigned int number = be32(b);
        if (number != expect) return true;
        const int type = b[4] & 63;
        const bool page4 = (b[4] & 0x40) != 0;
        // 7.2.4: up to four referred-to segments in the short form; the long form (7) gives a
        // 29-bit count followed by its retention bits.
        long long refs = b[5] >> 5, p = pos + 6;
        if (refs == 7) {
            if (!readAt(io, pos + 5, b, 4)) return true;
            refs = be32(b) & 0x1FFFFFFF;
            p = pos + 9 + (refs + 8) / 8;
        } else if (refs > 4) {
            return true;
        }
        // 7.2.5: referred-to numbers take 1, 2 or 4 bytes as this segment's number requires.
        p += refs * (number <= 256 ? 1 : number <= 65536 ? 2 : 4);
        if (p > end || !readAt(io, p, b, page4 ? 8 : 5)) return true;
        const unsigned int page = page4 ? be32(b) : b[0];
        long long length = be32(b + (page4 ? 4 : 1));
        p += page4 ? 8 : 5;
        if (myPageCount && page > myPageCount) return false;
        if (page == 0) {
            if (type == kEndOfFile) return true;
            if (type != 0) return false;
        }
        if (type == kEndOfFile) return true;
        if (page > 0x7FFFFFFF) return false;
        // 7.2.7: an immediate generic region may leave its length open; it then ends at its
        // end marker and row count.
        const bool lengthOpen = length == kUnknown;
        if (lengthOpen) {
            if ((type != kRegionImmediate && type != kRegionLossless) || !regionEnd(io, p, end, length)) return true;
        }
        if (!processSegment(io, type, page, p, length, lengthOpen)) return false;
        if (length > end - p) return true;  // the data runs past the end: nothing follows
        pos = p + length;
    }
}

// Finds the end of a generic region of unknown length: after its header, 0xFF 0xAC and the
// 4-byte row count (7.4.6.4). The length found includes both.
bool cPictJBIG2::regionEnd(cFileIOTarget* io, long long offset, long long end, long long& length) {
    sJB2GenRegion g;
    if (!readRegionHeader(io, offset, end - offset, g) || (g.flags & 1)) return false;
    unsigned char buf[4096];
    long long pos = offset + g.headerBytes();
    bool afterFF = false;
    while (pos < end) {
        long long n = end - pos < (long long)sizeof(buf) ? end - pos : (long long)sizeof(buf);
        if (!readAt(io, pos, buf, n)) return false;
        for (long long i = 0; i < n; i++) {
            if (afterFF && buf[i] == 0xAC) {
                length = pos + i + 1 + 4 - offset;
                return pos + i + 1 + 4 <= end;
            }
            afterFF = buf[i] == 0xFF;
        }
        pos += n;
    }
    return false;
}

bool cPictJBIG2::processSegment(cFileIOTarget* io, int type, unsigned int page, long long offset, long long length,
                                bool lengthOpen) {
    if (type == kPageInfo) {
        // 7.4.8: width, height, two resolutions, the flags. Of the flags only the default
        // pixel value (bit 2) shapes the page: the default combination operator (bits 3-4) and
        // whether regions may override it (bit 6) promise what the regions' own operators
        // say, and each region is combined by its own one, as jbig2dec does.
        unsigned char b[17];
        if (length != 19 || !readAt(io, offset, b, 17)) return false;
        const unsigned int w = be32(b), h = be32(b + 4);
        if (!w || !h) return false;
        sPageCtx* pc = myPages.insert((int)page);
        if (!pc) return false;
        pc->width = w;
        pc->height = h;
        pc->defaultBlack = (b[16] & 4) != 0;
        return true;
    }
    if (type == kEndOfStripe) {
        unsigned char b[4];
        sPageCtx* pc = myPages.insert((int)page);
        if (length < 4 || !pc || !readAt(io, offset, b, 4)) return false;
        const long long rows = (long long)be32(b) + 1;
        if (rows > pc->stripeEnd) pc->stripeEnd = rows;
        return true;
    }
    if (type != kRegionImmediate && type != kRegionLossless) return true;
    sJB2GenRegion g;
    if (!readRegionHeader(io, offset, length, g)) return false;
    sPageCtx* pc = myPages.insert((int)page);
    if (!pc) return false;
    if (pc->regionCount == pc->regions.count &&
        !pc->regions.reset(pc->regions.count ? pc->regions.count * 2 : 4))
        return false;
    sRegionInfo& r = pc->regions.ptr[pc->regionCount++];
    r.offset = offset;
    r.length = length;
    r.rowCountAtEnd = lengthOpen;
    if (g.height != kUnknown && (long long)g.y + g.height > pc->regionsEnd) pc->regionsEnd = (long long)g.y + g.height;
    return true;
}

bool cPictJBIG2::isFullConfig() {
    if (!myPageCount || (unsigned long long)myPages.count() < myPageCount) return false;
    for (unsigned int n = 1; n <= myPageCount; n++) {
        const sPageCtx* pc = myPages.find((int)n);
        // The decode budget is left to decodePage: a page over it is still a picture of its size.
        long long px;
        if (!pc || !pc->regionCount || !pc->width || !checkedMul(pc->width, pc->finalHeight(), px) ||
            !px || px > kMaxImagePixels)
            return false;
    }
    return true;
}

bool cPictJBIG2::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!load(io)) return false;
    const auto* first = myPages.first();
    if (!first) return false;
    if (info) {
        info->width = first->value().width;
        info->height = first->value().finalHeight();
        info->hasPreview = false;
    }
    return true;
}

int cPictJBIG2::getNumPages(cFileIOTarget* io) {
    if (!load(io)) return 0;
    return myPageCount > 0x7FFFFFFF ? 0x7FFFFFFF : (int)myPageCount;
}

bool cPictJBIG2::getPageSize(cFileIOTarget* io, int page, long long& w, long long& h) {
    const sPageCtx* pc = pageOf(page, io);
    if (!pc) return false;
    w = pc->width;
    h = pc->finalHeight();
    return true;
}

bool cPictJBIG2::decode(cFileIOTarget* io) { return decodePage(io, 0); }

bool cPictJBIG2::decodeRegion(cFileIOTarget* io, const sRegionInfo& r, const sPageCtx& page,
                              unsigned char* top, long long rowStep, long long canvasHeight, long long& budget) {
    sJB2GenRegion g;
    if (!readRegionHeader(io, r.offset, r.length, g)) return false;
    const long long hb = g.headerBytes();
    long long coded = r.length - hb;
    if (r.rowCountAtEnd) {
        // Length left open (7.4.6.4): the row count after the end marker is the height.
        unsigned char rc[4];
        if (coded < 6 || !readAt(io, r.offset + r.length - 4, rc, 4) || be32(rc) > g.height) return false;
        g.height = be32(rc);
        coded -= 6;
    }
    if (!g.width || !g.height || g.x >= page.width || g.y >= canvasHeight) return false;
    // Operators 5-7 are reserved: such a region leaves the page as it is (as in jbig2dec).
    if ((g.combOp & 7) > 4) return true;
    // Rows below the page are never painted and no row above depends on them.
    const long long rows = g.height < canvasHeight - g.y ? g.height : canvasHeight - g.y;
    long long work;
    if (!checkedMul(rows, g.width, work) || work > budget) return false;
    budget -= work;
    _typebuf<unsigned char> data, bitmap;
    if (coded < 0 || coded > (long long)io->size() || !data.set(coded ? coded : 1)) return false;
    if (coded && !readAt(io, r.offset + hb, data.ptr, coded)) return false;
    g.height = (unsigned int)rows;
    cJbig2Arith arith;
    if (!arith.decode(g, data.ptr, coded, bitmap)) return false;
    // The region is combined with what lies under it (7.4.1.5: 0 OR, 1 AND, 2 XOR, 3 XNOR,
    // 4 REPLACE); columns beyond the page are cut.
    const long long stride = ((long long)g.width + 7) / 8;
    const long long cols = (long long)g.width < (long long)page.width - g.x ? g.width : page.width - g.x;
    const int op = g.combOp & 7;
    const unsigned int shift = g.x & 7;
    for (long long y = 0; y < rows; y++)
        combineRow[op](top + (g.y + y) * rowStep + (g.x >> 3), bitmap.ptr + y * stride, stride, shift, cols);
    return true;
}

bool cPictJBIG2::decodePage(cFileIOTarget* io, int page) {
    startRows();
    const sPageCtx* pc = pageOf(page, io);
    if (!pc) return endRows(false);
    const long long w = pc->width, h = pc->finalHeight(), stride = (w + 7) / 8;
    // The page is checked against the decode budget at its true size before anything is
    // allocated for it: a few bytes of file can declare any page. Without a target it is the
    // picture's own page (rows bottom-up); a target gets it from a canvas of the same size.
    _typebuf<unsigned char> canvas;
    long long bytes;
    if (hasExtTarget() ? !checkedPageBytes(w, h, 1, bytes) || !canvas.set(bytes) : !allocBits(w, h, !myOneIsBlack))
        return endRows(false);
    unsigned char* bits = canvas.ptr ? canvas.ptr : rawBits();
    memset(bits, pc->defaultBlack ? 0xFF : 0, (size_t)(stride * h));
    unsigned char* top = canvas.ptr ? bits : bits + (h - 1) * stride;
    const long long rowStep = canvas.ptr ? stride : -stride;
    bool ok = true;
    long long budget = kPageWorkFactor * w * h + kPageWorkSlack;
    for (long long i = 0; i < pc->regionCount; i++)
        if (!decodeRegion(io, pc->regions.ptr[i], *pc, top, rowStep, h, budget)) ok = false;
    if (!canvas.ptr) return endRows(ok);
    // Into the target: the canvas's rows as pixels, black and white as the page's own read.
    _typebuf<unsigned int> line;
    if (!line.set(w) || !begin(w, h, false)) return endRows(false);
    const unsigned int white = 0xFFFFFFFFu, black = 0xFF000000u;
    const unsigned int one = myOneIsBlack ? black : white, zero = myOneIsBlack ? white : black;
    for (long long y = 0; y < h; y++) {
        const unsigned char* s = canvas.ptr + y * stride;
        for (long long x = 0; x < w; x++) line.ptr[x] = (s[x >> 3] >> (7 - (x & 7))) & 1 ? one : zero;
        row32(y, line.ptr);
    }
    return endRows(ok);
}

bool cPictJBIG2::decodePagePreview(cFileIOTarget* io, cPictBase* target, long long width, long long height,
                                   int page, bool allowFull, unsigned int background) {
    long long pw, ph;
    if (!io || !target || width < 1 || height < 1 || !getPageSize(io, page, pw, ph)) return false;
    if (pw <= width && ph <= height) {
        if (!decodePage(io, page)) return false;
        moveTo(*target);
        return true;
    }
    double fit = (double)width / (double)pw;
    if ((double)height / (double)ph < fit) fit = (double)height / (double)ph;
    long long fw = (long long)(pw * fit + 0.5), fh = (long long)(ph * fit + 0.5);
    if (fw < 1) fw = 1;
    if (fh < 1) fh = 1;
    if (!target->allocPixels(fw, fh, false)) return false;
    for (long long i = 0; i < fw * fh; i++) target->raw8Bpp()[i] = background;
    sExtPictDef def(target);
    def.background = background;
    if (!setExtTarget(&def)) return false;
    bool ok = decodePage(io, page);
    setExtTarget(nullptr);
    return ok;
}
