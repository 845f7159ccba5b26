// The codestream reader: marker segments of the main and tile-part headers (T.800 A.4-A.9),
// tile-part data, and the tile loop. Every length and index from the file is checked before
// it is used; tile-part data is read before memory is taken for it.
#include "picts/jpeg2000/j2kcodestream.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "base/sync.h"
#include "picts/byteorder.h"
#include "picts/jpeg2000/j2ktile.h"
#include "picts/pictparallel.h"
#include "picts/sizecheck.h"

namespace {

std::atomic<int> gThreads{0};

// Where each marker may stand (T.800 Table A.1).
struct sMarkerRow {
    unsigned int marker;
    unsigned int states;
};
const unsigned int kMH = cJ2KDecode::stMain, kTPH = cJ2KDecode::stTPH;
const sMarkerRow kMarkers[] = {
    {0xFF90, kMH | cJ2KDecode::stTPHSot},  // SOT
    {0xFF52, kMH | kTPH}, {0xFF53, kMH | kTPH}, {0xFF5E, kMH | kTPH}, {0xFF5C, kMH | kTPH},
    {0xFF5D, kMH | kTPH}, {0xFF5F, kMH | kTPH},  // COD COC RGN QCD QCC POC
    {0xFF51, cJ2KDecode::stSiz},                 // SIZ
    {0xFF55, kMH}, {0xFF57, kMH}, {0xFF58, kTPH},  // TLM PLM PLT
    {0xFF60, kMH}, {0xFF61, kTPH},                 // PPM PPT
    {0xFF63, kMH}, {0xFF64, kMH | kTPH},           // CRG COM
    {0xFF74, kMH | kTPH}, {0xFF78, kMH}, {0xFF75, kMH | kTPH}, {0xFF77, kMH | kTPH},  // MCT CBD MCC MCO
    {0xFF68, kMH | kTPH}, {0xFF66, kMH | kTPH}, {0xFF67, kMH | kTPH}, {0xFF69, kMH | kTPH},  // ISO/IEC 15444-11
};

const sMarkerRow* findMarker(unsigned int m) {
    for (const sMarkerRow& r : kMarkers)
        if (r.marker == m) return &r;
    return nullptr;
}

// Images larger than this many samples per byte of codestream are refused before any sample
// memory is taken: even an all-zero picture costs some packet header bits per precinct.
const long long kMaxSamplesPerByte = 1024;
const long long kMinSampleAllowance = 1LL << 24;
// Tile-component parameter records held at once (tiles seen times components).
const long long kMaxTileComponents = 1LL << 18;

}  // namespace

// --- cJP2Image ---

void cJP2Image::destroy() {
    comps.clear();
    icc.clear();
    numcomps = 0;
}

void cJP2Image::compHeaderUpdate() {
    for (long long i = 0; i < comps.count; i++) {
        sJP2ImageComp& c = comps.ptr[i];
        unsigned int cx0 = j2kCeilDiv(x0, c.dx), cy0 = j2kCeilDiv(y0, c.dy);
        unsigned int cx1 = j2kCeilDiv(x1, c.dx), cy1 = j2kCeilDiv(y1, c.dy);
        c.x0 = j2kCeilDivPow2(cx0, c.factor);
        c.y0 = j2kCeilDivPow2(cy0, c.factor);
        c.w = j2kCeilDivPow2(cx1, c.factor) - c.x0;
        c.h = j2kCeilDivPow2(cy1, c.factor) - c.y0;
    }
}

bool cJP2Image::copyHeader(cJP2Image& d) const {
    d.destroy();
    d.x0 = x0, d.y0 = y0, d.x1 = x1, d.y1 = y1;
    d.numcomps = numcomps;
    d.colorSpace = colorSpace;
    memcpy(d.cielab, cielab, sizeof cielab);
    if (!d.comps.set(comps.count)) return false;
    for (long long i = 0; i < comps.count; i++) {
        const sJP2ImageComp& s = comps.ptr[i];
        sJP2ImageComp& t = d.comps.ptr[i];
        t.dx = s.dx, t.dy = s.dy, t.w = s.w, t.h = s.h, t.x0 = s.x0, t.y0 = s.y0;
        t.prec = s.prec, t.sgnd = s.sgnd, t.resnoDecoded = s.resnoDecoded, t.factor = s.factor;
    }
    if (icc.count && (!d.icc.set(icc.count) || !memcpy(d.icc.ptr, icc.ptr, (size_t)icc.count))) return false;
    return true;
}

// --- cJP2Tcp ---

bool cJP2Tcp::copyFrom(const cJP2Tcp& o) {
    csty = o.csty, prg = o.prg, numlayers = o.numlayers, layersToDecode = o.layersToDecode, mct = o.mct;
    for (int i = 0; i < kJ2KMaxPocs; i++) pocs[i] = o.pocs[i];
    numpocs = o.numpocs;
    pocSeen = o.pocSeen;
    if (!tccps.set(o.tccps.count)) return false;
    for (long long i = 0; i < o.tccps.count; i++) {
        tccps.ptr[i] = o.tccps.ptr[i];
        tccps.ptr[i].cocSeen = tccps.ptr[i].qccSeen = false;
    }
    mcts.clear();
    numMcts = 0;
    if (o.numMcts) {
        if (!mcts.set(kJ2KMaxMctRecords)) return false;
        for (unsigned int i = 0; i < o.numMcts; i++) mcts.ptr[i] = o.mcts.ptr[i];
        numMcts = o.numMcts;
    }
    mccs = o.mccs;
    numMccs = o.numMccs;
    if (mccs.count != o.mccs.count) return false;
    mctMatrix = o.mctMatrix;
    if (mctMatrix.count != o.mctMatrix.count) return false;
    // POC records of the main header are replaced, not extended, by those of a tile.
    pocInherited = o.pocSeen;
    return true;
}

// --- cJ2KDecode ---

cJ2KDecode::cJ2KDecode() {}

cJ2KDecode::~cJ2KDecode() {}

void cJ2KDecode::setThreads(int n) { gThreads = n < 0 ? 0 : n; }

int cJ2KDecode::threads() {
    int n = gThreads;
    if (n > 0) return n;
    const int cores = usableCores();
    return cores > 64 ? 64 : cores;
}

bool cJ2KDecode::readMarker(unsigned int& marker) {
    unsigned char b[2];
    if (!myIO->readf(b, 2)) return false;
    marker = be16(b);
    return true;
}

bool cJ2KDecode::readSegment(unsigned int& len) {
    unsigned char b[2];
    if (!myIO->readf(b, 2)) return false;
    unsigned int l = be16(b);
    if (l < 2) return false;  // a length counts its own two bytes
    len = l - 2;
    if ((long long)len + 1 > myHeader.count && !myHeader.reset((long long)len + 1)) return false;
    return len == 0 || myIO->readf(myHeader.ptr, len);
}

cJP2Tcp& cJ2KDecode::currentTcp() {
    return (myState & stTPH) ? myCp.tcps.ptr[myCurTile] : myDefault;
}

bool cJ2KDecode::handleMarker(unsigned int m, const unsigned char* b, unsigned int len) {
    switch (m) {
        case 0xFF51: return readSiz(b, len);
        case 0xFF52: return readCod(b, len);
        case 0xFF53: return readCoc(b, len);
        case 0xFF5C: return readQcd(b, len);
        case 0xFF5D: return readQcc(b, len);
        case 0xFF5E: return readRgn(b, len);
        case 0xFF5F: return readPoc(b, len);
        case 0xFF55: return readTlm(b, len);
        case 0xFF57: return len > 0;  // PLM: lengths are not needed to decode
        case 0xFF58: return readPlt(b, len);
        case 0xFF60: return readPpm(b, len);
        case 0xFF61: return readPpt(b, len);
        case 0xFF63: return readCrg(b, len);
        case 0xFF64: return len > 0;  // COM
        case 0xFF78: return readCbd(b, len);
        case 0xFF74: return readMct(b, len);
        case 0xFF75: return readMcc(b, len);
        case 0xFF77: return readMco(b, len);
        default: return true;  // error-resilience markers of 15444-11
    }
}

bool cJ2KDecode::readSiz(const unsigned char* b, unsigned int len) {
    if (len < 36 || (len - 36) % 3) return false;
    myCp.rsiz = be16(b);
    myImage.x1 = be32(b + 2);
    myImage.y1 = be32(b + 6);
    myImage.x0 = be32(b + 10);
    myImage.y0 = be32(b + 14);
    myCp.tdx = be32(b + 18);
    myCp.tdy = be32(b + 22);
    myCp.tx0 = be32(b + 26);
    myCp.ty0 = be32(b + 30);
    unsigned int csiz = be16(b + 34);
    if (csiz == 0 || csiz > 16384 || csiz != (len - 36) / 3) return false;
    // T.800 A.5.1: a non-empty image, non-zero tiles whose grid covers the image origin.
    if (myImage.x0 >= myImage.x1 || myImage.y0 >= myImage.y1 || !myCp.tdx || !myCp.tdy) return false;
    if (myCp.tx0 > myImage.x0 || myCp.ty0 > myImage.y0) return false;
    if ((unsigned long long)myCp.tx0 + myCp.tdx <= myImage.x0 || (unsigned long long)myCp.ty0 + myCp.tdy <= myImage.y0)
        return false;
    if (!myImage.comps.set(csiz)) return false;
    myImage.numcomps = csiz;
    long long samples = 0;
    for (unsigned int i = 0; i < csiz; i++) {
        sJP2ImageComp& c = myImage.comps.ptr[i];
        const unsigned char* p = b + 36 + 3 * i;
        c.prec = (p[0] & 0x7F) + 1;
        c.sgnd = p[0] >> 7;
        c.dx = p[1];
        c.dy = p[2];
        c.factor = myCp.reduce;
        if (c.prec > 38 || !c.dx || !c.dy) return false;
        long long cw = j2kCeilDiv(myImage.x1, c.dx) - (long long)j2kCeilDiv(myImage.x0, c.dx);
        long long ch = j2kCeilDiv(myImage.y1, c.dy) - (long long)j2kCeilDiv(myImage.y0, c.dy);
        long long px = 0;
        if (!checkedImagePixels(cw, ch, px) || !checkedAdd(samples, px, samples)) return false;
    }
    // Every sample is held once in the output and once in a tile's working buffers, as 32 bits.
    long long bytes;
    if (!checkedWorkBytes(samples, 4, bytes)) return false;
    unsigned long long tw = ((unsigned long long)myImage.x1 - myCp.tx0 + myCp.tdx - 1) / myCp.tdx;
    unsigned long long th = ((unsigned long long)myImage.y1 - myCp.ty0 + myCp.tdy - 1) / myCp.tdy;
    // T.800 A.4.2: Isot is 16 bits, so at most 65535 tiles.
    if (tw * th > 65535 || !tw || !th) return false;
    myCp.tw = (unsigned int)tw;
    myCp.th = (unsigned int)th;
    if (!myCp.tcps.set((long long)(tw * th)) || !myDefault.tccps.set(csiz)) return false;
    for (unsigned int i = 0; i < csiz; i++) {
        const sJP2ImageComp& c = myImage.comps.ptr[i];
        myDefault.tccps.ptr[i].dcShift = c.sgnd ? 0 : (c.prec <= 31 ? (int)(1u << (c.prec - 1)) : 0);
    }
    myImage.compHeaderUpdate();
    return true;
}

bool cJ2KDecode::readSPCodSPCoc(unsigned int comp, const unsigned char* b, unsigned int len, unsigned int& used) {
    if (len < 5) return false;
    sJP2Tccp& t = currentTcp().tccps.ptr[comp];
    t.numres = (unsigned int)b[0] + 1;
    if (t.numres > (unsigned int)kJ2KMaxResolutions || myCp.reduce >= t.numres) return false;
    t.cblkw = (unsigned int)b[1] + 2;
    t.cblkh = (unsigned int)b[2] + 2;
    // T.800 A.6.1: exponents 2..10 and at most 4096 samples a code-block.
    if (t.cblkw > 10 || t.cblkh > 10 || t.cblkw + t.cblkh > 12) return false;
    t.cblksty = b[3];
    t.qmfbid = b[4];
    used = 5;
    if (t.csty & 1) {
        if (len < 5 + t.numres) return false;
        for (unsigned int r = 0; r < t.numres; r++) {
            t.prcw[r] = (unsigned char)(b[5 + r] & 15);
            t.prch[r] = (unsigned char)(b[5 + r] >> 4);
        }
        used += t.numres;
    } else {
        for (unsigned int r = 0; r < t.numres; r++) t.prcw[r] = t.prch[r] = 15;
    }
    return true;
}

bool cJ2KDecode::readCod(const unsigned char* b, unsigned int len) {
    if (len < 5) return false;
    cJP2Tcp& tcp = currentTcp();
    tcp.csty = b[0];
    tcp.prg = b[1];
    tcp.numlayers = be16(b + 2);
    if (!tcp.numlayers) return false;
    tcp.layersToDecode = myCp.layers && myCp.layers < tcp.numlayers ? myCp.layers : tcp.numlayers;
    tcp.mct = b[4];
    // Components with a COC of the same header keep it (T.800 A.6: COC takes precedence).
    long long n = tcp.tccps.count;
    long long first = -1;
    for (long long i = 0; i < n; i++)
        if (!tcp.tccps.ptr[i].cocSeen) {
            first = i;
            break;
        }
    if (first < 0) {
        // Every component has its own COC; still check the body.
        sJP2Tccp keep = tcp.tccps.ptr[0];
        tcp.tccps.ptr[0].csty = tcp.csty & 1;
        unsigned int used;
        bool ok = readSPCodSPCoc(0, b + 5, len - 5, used) && used == len - 5;
        tcp.tccps.ptr[0] = keep;
        return ok;
    }
    sJP2Tccp& f = tcp.tccps.ptr[first];
    f.csty = tcp.csty & 1;
    unsigned int used;
    if (!readSPCodSPCoc((unsigned int)first, b + 5, len - 5, used) || used != len - 5) return false;
    for (long long i = 0; i < n; i++) {
        sJP2Tccp& t = tcp.tccps.ptr[i];
        if (i == first || t.cocSeen) continue;
        t.csty = f.csty, t.numres = f.numres, t.cblkw = f.cblkw, t.cblkh = f.cblkh, t.cblksty = f.cblksty;
        t.qmfbid = f.qmfbid;
        memcpy(t.prcw, f.prcw, sizeof t.prcw);
        memcpy(t.prch, f.prch, sizeof t.prch);
    }
    return true;
}

bool cJ2KDecode::readCoc(const unsigned char* b, unsigned int len) {
    unsigned int n = myImage.numcomps <= 256 ? 1 : 2;
    if (len < n + 1) return false;
    unsigned int comp = n == 1 ? b[0] : be16(b);
    if (comp >= myImage.numcomps) return false;
    sJP2Tccp& t = currentTcp().tccps.ptr[comp];
    t.csty = b[n];
    unsigned int used;
    if (!readSPCodSPCoc(comp, b + n + 1, len - n - 1, used) || used != len - n - 1) return false;
    t.cocSeen = true;
    return true;
}

bool cJ2KDecode::readSQcdSQcc(unsigned int comp, const unsigned char* b, unsigned int len, unsigned int& used) {
    if (len < 1) return false;
    sJP2Tccp& t = currentTcp().tccps.ptr[comp];
    t.qntsty = b[0] & 0x1F;
    t.numgbits = b[0] >> 5;
    unsigned int bands;
    if (t.qntsty == 0) {
        bands = len - 1;
        for (unsigned int i = 0; i < bands; i++)
            if (i < (unsigned int)kJ2KMaxBands) t.steps[i].expn = (unsigned char)(b[1 + i] >> 3), t.steps[i].mant = 0;
        used = len;
    } else if (t.qntsty == 1) {
        if (len < 3) return false;
        unsigned int v = be16(b + 1);
        for (int i = 0; i < kJ2KMaxBands; i++) {
            int e = (int)(v >> 11) - (i == 0 ? 0 : (i - 1) / 3);
            t.steps[i].expn = (unsigned char)(e < 0 ? 0 : e);
            t.steps[i].mant = (unsigned short)(v & 0x7FF);
        }
        used = 3;
    } else {
        if ((len - 1) % 2) return false;
        bands = (len - 1) / 2;
        for (unsigned int i = 0; i < bands && i < (unsigned int)kJ2KMaxBands; i++) {
            unsigned int v = be16(b + 1 + 2 * i);
            t.steps[i].expn = (unsigned char)(v >> 11);
            t.steps[i].mant = (unsigned short)(v & 0x7FF);
        }
        used = len;
    }
    return true;
}

bool cJ2KDecode::readQcd(const unsigned char* b, unsigned int len) {
    cJP2Tcp& tcp = currentTcp();
    long long first = -1;
    for (long long i = 0; i < tcp.tccps.count; i++)
        if (!tcp.tccps.ptr[i].qccSeen) {
            first = i;
            break;
        }
    unsigned int used;
    if (first < 0) {
        sJP2Tccp keep = tcp.tccps.ptr[0];
        bool ok = readSQcdSQcc(0, b, len, used) && used == len;
        tcp.tccps.ptr[0] = keep;
        return ok;
    }
    if (!readSQcdSQcc((unsigned int)first, b, len, used) || used != len) return false;
    const sJP2Tccp& f = tcp.tccps.ptr[first];
    for (long long i = 0; i < tcp.tccps.count; i++) {
        sJP2Tccp& t = tcp.tccps.ptr[i];
        if (i == first || t.qccSeen) continue;
        t.qntsty = f.qntsty, t.numgbits = f.numgbits;
        memcpy(t.steps, f.steps, sizeof t.steps);
    }
    return true;
}

bool cJ2KDecode::readQcc(const unsigned char* b, unsigned int len) {
    unsigned int n = myImage.numcomps <= 256 ? 1 : 2;
    if (len < n + 1) return false;
    unsigned int comp = n == 1 ? b[0] : be16(b);
    if (comp >= myImage.numcomps) return false;
    unsigned int used;
    if (!readSQcdSQcc(comp, b + n, len - n, used) || used != len - n) return false;
    currentTcp().tccps.ptr[comp].qccSeen = true;
    return true;
}

bool cJ2KDecode::readRgn(const unsigned char* b, unsigned int len) {
    unsigned int n = myImage.numcomps <= 256 ? 1 : 2;
    if (len != n + 2) return false;
    unsigned int comp = n == 1 ? b[0] : be16(b);
    if (comp >= myImage.numcomps) return false;
    // Srgn 0 (implicit, maxshift) is the only style T.800 defines.
    if (b[n] != 0) return false;
    currentTcp().tccps.ptr[comp].roishift = b[n + 1];
    return true;
}

bool cJ2KDecode::readPoc(const unsigned char* b, unsigned int len) {
    unsigned int n = myImage.numcomps <= 256 ? 1 : 2;
    unsigned int rec = 5 + 2 * n;
    if (!len || len % rec) return false;
    cJP2Tcp& tcp = currentTcp();
    // A tile's first POC replaces the records it inherited from the main header.
    if (tcp.pocInherited) {
        tcp.pocInherited = false;
        tcp.numpocs = 0;
        tcp.pocSeen = false;
    }
    unsigned int count = len / rec;
    unsigned int old = tcp.pocSeen ? tcp.numpocs : 0;
    if (old + count > (unsigned int)kJ2KMaxPocs - 1) return false;
    for (unsigned int i = 0; i < count; i++) {
        const unsigned char* p = b + i * rec;
        sJP2Poc& r = tcp.pocs[old + i];
        r.resS = p[0];
        r.compS = n == 1 ? p[1] : be16(p + 1);
        r.layE = be16(p + 1 + n);
        r.resE = p[3 + n];
        r.compE = n == 1 ? p[4 + n] : be16(p + 4 + n);
        if (r.compE == 0 && n == 1) r.compE = 256;  // CEpoc 0 stands for 256 (T.800 A.6.6)
        if (r.compE > myImage.numcomps) r.compE = myImage.numcomps;
        r.prg = p[4 + 2 * n];
    }
    tcp.numpocs = old + count;
    tcp.pocSeen = true;
    return true;
}

bool cJ2KDecode::readTlm(const unsigned char* b, unsigned int len) {
    if (len < 2) return false;
    unsigned int st = (b[1] >> 4) & 3, sp = (b[1] >> 6) & 1;
    if (st == 3) return false;
    unsigned int entry = st + (sp ? 4 : 2);
    return (len - 2) % entry == 0;
}

bool cJ2KDecode::readPlt(const unsigned char* b, unsigned int len) {
    // Zplt, then packet lengths in 7-bit groups: the last byte must end a length.
    return len > 0 && (len == 1 || !(b[len - 1] & 0x80));
}

bool cJ2KDecode::readPpt(const unsigned char* b, unsigned int len) {
    if (!len || myPpmSegments) return false;  // packed headers in PPM or PPT, not both
    cJP2Tcp& tcp = currentTcp();
    if (!tcp.pptSeen) tcp.pptLen = 0;
    long long need = tcp.pptLen + len - 1;
    if (need > tcp.ppt.count && !tcp.ppt.reset(need > 2 * tcp.ppt.count ? need : 2 * tcp.ppt.count)) return false;
    if (len > 1) memcpy(tcp.ppt.ptr + tcp.pptLen, b + 1, len - 1);
    tcp.pptLen = need;
    tcp.pptSeen = true;
    return true;
}

bool cJ2KDecode::readPpm(const unsigned char* b, unsigned int len) {
    // T.800 A.7.4: Zppm numbers the segments in order; their data runs on across them.
    if (!len || b[0] != myPpmSegments) return false;
    myPpmSegments++;
    long long need = myPpmLen + len - 1;
    if (need > myPpm.count && !myPpm.reset(need > 2 * myPpm.count ? need : 2 * myPpm.count)) return false;
    if (len > 1) memcpy(myPpm.ptr + myPpmLen, b + 1, len - 1);
    myPpmLen = need;
    return true;
}

bool cJ2KDecode::takePpmHeaders(cJP2Tcp& tcp) {
    // Each tile-part takes the next Nppm bytes, in codestream order; PPT cannot come too.
    if (tcp.pptSeen && !tcp.fromPpm) return false;
    if (myPpmPos + 4 > myPpmLen) return false;
    const unsigned char* p = myPpm.ptr + myPpmPos;
    long long n = be32(p);
    if (n > myPpmLen - myPpmPos - 4) return false;
    if (!tcp.pptSeen) tcp.pptLen = 0;
    long long need = tcp.pptLen + n;
    if (need > tcp.ppt.count && !tcp.ppt.reset(need > 2 * tcp.ppt.count ? need : 2 * tcp.ppt.count)) return false;
    if (n) memcpy(tcp.ppt.ptr + tcp.pptLen, p + 4, (size_t)n);
    tcp.pptLen = need;
    tcp.pptSeen = tcp.fromPpm = true;
    myPpmPos += 4 + n;
    return true;
}

// --- ISO/IEC 15444-2 array-based multiple component transform ---

namespace {

const unsigned int kMctElemSize[4] = {2, 4, 4, 8};

// Element k of an MCT record's array, big-endian, as a double.
double mctElement(const sJP2MctRecord& r, size_t k) {
    const unsigned char* p = r.data.ptr + k * kMctElemSize[r.elemType];
    switch (r.elemType) {
        case 0: return (double)(int16_t)be16(p);
        case 1: return (double)(int32_t)be32(p);
        case 2: {
            uint32_t u = be32(p);
            float f;
            memcpy(&f, &u, 4);
            return f;
        }
        default: {
            uint64_t u = ((uint64_t)be32(p) << 32) | be32(p + 4);
            double d;
            memcpy(&d, &u, 8);
            return d;
        }
    }
}

}  // namespace

bool cJ2KDecode::readMct(const unsigned char* b, unsigned int len) {
    if (len < 2) return false;
    if (be16(b)) return true;  // Zmct: continuation segments are not used
    if (len < 6) return false;
    unsigned int imct = be16(b + 2);
    cJP2Tcp& tcp = currentTcp();
    sJP2MctRecord* r = nullptr;
    for (unsigned int i = 0; i < tcp.numMcts; i++)
        if (tcp.mcts.ptr[i].index == (imct & 0xFF)) r = &tcp.mcts.ptr[i];
    if (!r) {
        if (tcp.numMcts >= kJ2KMaxMctRecords) return false;
        if (!tcp.mcts.ptr && !tcp.mcts.set(kJ2KMaxMctRecords)) return false;
        r = &tcp.mcts.ptr[tcp.numMcts++];
    }
    r->index = imct & 0xFF;
    r->elemType = (imct >> 10) & 3;
    r->data.clear();
    // Ymct 0: the array is here.
    if (!be16(b + 4) && len > 6 && !r->data.set(b + 6, len - 6)) return false;
    return true;
}

bool cJ2KDecode::readMcc(const unsigned char* b, unsigned int len) {
    if (len < 2) return false;
    if (be16(b)) return true;  // Zmcc: continuation segments are not used
    if (len < 7) return false;
    cJP2Tcp& tcp = currentTcp();
    unsigned int imcc = b[2];
    if (be16(b + 3)) return true;  // Ymcc
    unsigned int qmcc = be16(b + 5);
    if (qmcc > 1) return true;  // several collections: not used
    sJP2MccRecord rec;
    rec.index = imcc;
    if (qmcc == 1) {
        unsigned int pos = 7;
        if (len < pos + 3) return false;
        if (b[pos] != 1) return true;  // only array-based decorrelation (Xmcc 1)
        unsigned int n = be16(b + pos + 1), count = n & 0x7FFF, isz = (n >> 15) ? 2 : 1;
        pos += 3;
        if ((unsigned long long)len < pos + (unsigned long long)count * isz + 2) return false;
        bool inOrder = true;
        for (unsigned int i = 0; i < count; i++, pos += isz)
            if ((isz == 2 ? be16(b + pos) : b[pos]) != i) inOrder = false;
        unsigned int m = be16(b + pos), mcount = m & 0x7FFF, msz = (m >> 15) ? 2 : 1;
        pos += 2;
        if ((unsigned long long)len < pos + (unsigned long long)mcount * msz + 3) return false;
        for (unsigned int i = 0; i < mcount; i++, pos += msz)
            if ((msz == 2 ? be16(b + pos) : b[pos]) != i) inOrder = false;
        if (!inOrder || mcount != count) return true;
        unsigned int t = ((unsigned int)b[pos] << 16) | (b[pos + 1] << 8) | b[pos + 2];
        pos += 3;
        if (pos != len) return false;
        // Index 0 names no array.
        auto find = [&](unsigned int idx) -> int {
            for (unsigned int i = 0; i < tcp.numMcts; i++)
                if (tcp.mcts.ptr[i].index == idx) return (int)i;
            return -2;
        };
        rec.decorrelation = (t & 0xFF) ? find(t & 0xFF) : -1;
        rec.offsets = ((t >> 8) & 0xFF) ? find((t >> 8) & 0xFF) : -1;
        if (rec.decorrelation == -2 || rec.offsets == -2) return false;
        rec.count = count;
    } else if (len != 7) {
        return false;
    }
    for (unsigned int i = 0; i < tcp.numMccs; i++)
        if (tcp.mccs.ptr[i].index == imcc) {
            tcp.mccs.ptr[i] = rec;
            return true;
        }
    if (tcp.numMccs >= kJ2KMaxMctRecords || !j2kRoom(tcp.mccs, tcp.numMccs + 1LL)) return false;
    tcp.mccs.ptr[tcp.numMccs++] = rec;
    return true;
}

bool cJ2KDecode::readMco(const unsigned char* b, unsigned int len) {
    if (len < 1) return false;
    unsigned int stages = b[0];
    if (stages > 1) return true;  // more than one stage: not used
    if (len != stages + 1) return false;
    cJP2Tcp& tcp = currentTcp();
    const unsigned int nc = myImage.numcomps;
    for (long long c = 0; c < tcp.tccps.count; c++) tcp.tccps.ptr[c].dcShift = 0;
    tcp.mctMatrix.clear();
    for (unsigned int s = 0; s < stages; s++) {
        const sJP2MccRecord* rec = nullptr;
        for (unsigned int i = 0; i < tcp.numMccs; i++)
            if (tcp.mccs.ptr[i].index == b[1 + s]) rec = &tcp.mccs.ptr[i];
        if (!rec || rec->count != nc) continue;  // a collection of other components: not used
        if (rec->decorrelation >= 0) {
            const sJP2MctRecord& m = tcp.mcts.ptr[rec->decorrelation];
            if (m.data.count != (long long)kMctElemSize[m.elemType] * nc * nc) return false;
            if (!tcp.mctMatrix.set((long long)nc * nc)) return false;
            for (size_t k = 0; k < (size_t)nc * nc; k++) tcp.mctMatrix.ptr[k] = (float)mctElement(m, k);
        }
        if (rec->offsets >= 0) {
            const sJP2MctRecord& o = tcp.mcts.ptr[rec->offsets];
            if (o.data.count != (long long)kMctElemSize[o.elemType] * nc) return false;
            for (unsigned int c = 0; c < nc; c++) {
                double v = mctElement(o, c);
                if (!(v > -2147483648.0 && v < 2147483647.0)) return false;
                tcp.tccps.ptr[c].dcShift = (int)v;
            }
        }
    }
    return true;
}

bool cJ2KDecode::readCrg(const unsigned char* b, unsigned int len) { return len == 4 * myImage.numcomps; }

bool cJ2KDecode::readCbd(const unsigned char* b, unsigned int len) {
    if (len != myImage.numcomps + 2 || be16(b) != myImage.numcomps) return false;
    for (unsigned int i = 0; i < myImage.numcomps; i++) {
        unsigned int prec = (b[2 + i] & 0x7F) + 1;
        if (prec > 38) return false;
        myImage.comps.ptr[i].sgnd = b[2 + i] >> 7;
        myImage.comps.ptr[i].prec = prec;
    }
    return true;
}

bool cJ2KDecode::readHeader(cFileIOTarget* io, cPtr<cJP2Image>& out) {
    if (myState != stFresh || !io) return false;
    myIO = io;
    if (!myHeader.set(1000)) return false;
    myState = stSoc;
    unsigned int m;
    if (!readMarker(m) || m != 0xFF4F) return fail();
    myState = stSiz;
    if (!readMarker(m)) return fail();
    while (m != 0xFF90) {
        if (m < 0xFF00) return fail();
        // SIZ must come right after SOC.
        if (myState == stSiz && m != 0xFF51) return fail();
        unsigned int len;
        if (!readSegment(len)) return fail();
        const sMarkerRow* row = findMarker(m);
        if (row) {
            if (!(row->states & myState)) return fail();
            if (!handleMarker(m, myHeader.ptr, len)) return fail();
            if (m == 0xFF51) myState = stMain;
        }
        if (!readMarker(m)) return fail();
    }
    if (myState != stMain) return fail();
    // A QCD is required (T.800 A.6.4); without it the bands have no step sizes.
    myState = stTPHSot;
    // Each tile takes its copy of these defaults when its first tile-part comes.
    cJP2Image* copy = new (std::nothrow) cJP2Image;
    if (!copy || !myImage.copyHeader(*copy)) {
        delete copy;
        return fail();
    }
    out = copy;
    return true;
}

bool cJ2KDecode::setDecodeArea(cJP2Image* img, long long x0, long long y0, long long x1, long long y1) {
    if (myState != stTPHSot || !img) return false;
    if (!x0 && !y0 && !x1 && !y1) return true;
    if (x0 < 0 || y0 < 0 || x0 > img->x1 || y0 > img->y1 || x1 <= 0 || y1 <= 0 || x1 < img->x0 || y1 < img->y0)
        return false;
    // This decoder always decodes the whole image; only the image's own area is accepted.
    if (x0 > img->x0 || y0 > img->y0 || x1 < img->x1 || y1 < img->y1) return false;
    return true;
}

bool cJ2KDecode::readSot(const unsigned char* b, unsigned int len) {
    if (len != 8) return false;
    unsigned int isot = be16(b);
    unsigned int psot = be32(b + 2);
    unsigned int tpsot = b[6], tnsot = b[7];
    if (isot >= myCp.tw * myCp.th) return false;
    if ((psot >= 1 && psot <= 11) || psot == 13) return false;
    cJP2Tcp& tcp = myCp.tcps.ptr[isot];
    if (!tcp.partsSeen) {
        // Parameters per tile and component are taken only for tiles that come, and only so
        // many: a small file cannot make the reader hold millions of them.
        if ((long long)++myTilesSeen * myImage.numcomps > kMaxTileComponents || !tcp.copyFrom(myDefault))
            return false;
    }
    if (tnsot) {
        // Some encoders announce one tile-part too few, or change the count: the count is
        // then not trusted. Tiles are decoded once everything has been read, so every part
        // counts either way.
        if (tpsot >= tnsot || tcp.countBroken || (tcp.numTileParts && tcp.numTileParts != tnsot)) {
            tcp.countBroken = true;
            tcp.numTileParts = 0;
        } else {
            tcp.numTileParts = tnsot;
        }
    }
    myCurTile = isot;
    myPartLen = psot;
    myLastPart = psot == 0;
    tcp.partsSeen++;
    return true;
}

bool cJ2KDecode::readSod() {
    cJP2Tcp& tcp = myCp.tcps.ptr[myCurTile];
    unsigned long long pos = myIO->get_fp(), size = myIO->size();
    long long avail = pos < size ? (long long)(size - pos) : 0;
    long long want;
    if (myPartLen == 0) {
        // The last tile-part runs to the end of the codestream; a final EOC is not data.
        want = avail;
        if (want >= 2) {
            unsigned char e[2];
            myIO->set_fp(size - 2);
            if (myIO->readf(e, 2) && e[0] == 0xFF && e[1] == 0xD9) want -= 2;
            myIO->set_fp(pos);
        }
    } else {
        want = myPartStart + myPartLen - (long long)pos;
        if (want < 0) return false;
    }
    // Read what is there before taking memory for it.
    long long got = want < avail ? want : avail;
    long long need = tcp.dataLen + got;
    if (need > tcp.data.count) {
        long long grow = tcp.data.count * 2;
        if (!tcp.data.reset(need > grow ? need : grow)) return false;
    }
    if (got && !myIO->readf(tcp.data.ptr + tcp.dataLen, got)) return false;
    tcp.dataLen += got;
    tcp.hasData = true;
    myState = got < want ? stNoEoc : stTPHSot;
    return true;
}

bool cJ2KDecode::decodeTiles(cJP2Image* img) {
    _typebuf<unsigned int> tiles;
    long long numTiles = 0;
    if (myCp.tw && myCp.th && !tiles.set((long long)myCp.tw * myCp.th)) return fail();
    for (unsigned int t = 0; t < myCp.tw * myCp.th; t++)
        if (myCp.tcps.ptr[t].hasData) tiles.ptr[numTiles++] = t;
    if (!numTiles) return true;
    int n = threads();
    if (n <= 1 || numTiles < 2 || numTiles < n) {
        // One tile (or a few) at a time, the code-blocks and wavelet lines of each in parallel.
        cJP2Tcd tcd(&myImage, &myCp);
        for (long long i = 0; i < numTiles; i++) {
            unsigned int t = tiles.ptr[i];
            if (!tcd.initDecodeTile(t) || !tcd.decodeTile(t, n) || !tcd.updateImageData(img, true, n)) return fail();
        }
        return true;
    }
    // Many tiles: whole tiles in parallel, each on one thread, into components allocated
    // beforehand (tiles write disjoint areas).
    for (unsigned int c = 0; c < img->numcomps; c++) {
        sJP2ImageComp& d = img->comps.ptr[c];
        long long count = (long long)d.w * d.h;
        if (!d.data.ptr && (!d.data.set(count) || !memset(d.data.ptr, 0, (size_t)count * sizeof(int)))) return fail();
    }
    _classbuf<cJP2Tcd> tcds;
    if (!tcds.set(n)) return fail();
    for (int w = 0; w < n; w++) tcds.ptr[w].setup(&myImage, &myCp);
    bool ok = pictParallelFor(numTiles, n, [&](long long i, int w) {
        cJP2Tcd& tcd = tcds.ptr[w];
        unsigned int t = tiles.ptr[i];
        return tcd.initDecodeTile(t) && tcd.decodeTile(t, 1) && tcd.updateImageData(img, false);
    });
    if (!ok) return fail();
    // What the serial walk leaves: the resolution count of the last tile, noted on one thread.
    const cJP2Tcp& last = myCp.tcps.ptr[tiles.ptr[numTiles - 1]];
    for (unsigned int c = 0; c < img->numcomps; c++)
        img->comps.ptr[c].resnoDecoded = last.tccps.ptr[c].numres - myCp.reduce - 1;
    return true;
}

bool cJ2KDecode::decode(cFileIOTarget* io, cJP2Image* img) {
    if (myState != stTPHSot || !img || io != myIO) return false;
    // Refuse pictures that the codestream is far too small to describe (see kMaxSamplesPerByte).
    long long samples = 0;
    for (unsigned int c = 0; c < myImage.numcomps; c++)
        samples += (long long)myImage.comps.ptr[c].w * myImage.comps.ptr[c].h;
    long long bytes = (long long)myIO->size();
    if (samples > kMinSampleAllowance && samples / kMaxSamplesPerByte > bytes) return fail();
    if (!myImage.copyHeader(*img)) return fail();

    // The marker after the main header (SOT) was read by readHeader.
    unsigned int m = 0xFF90;
    for (;;) {
        if (m == 0xFF90) {
            myPartStart = (long long)myIO->get_fp() - 2;
            unsigned int len;
            if (!readSegment(len) || !readSot(myHeader.ptr, len)) return fail();
            myState = stTPH;
            if (!readMarker(m)) return fail();
            // Tile-part header up to SOD.
            while (m != 0xFF93) {
                const sMarkerRow* row = findMarker(m);
                if (!row || !(row->states & stTPH)) return fail();
                if (!readSegment(len)) return fail();
                cJP2Tcp& tcp = myCp.tcps.ptr[myCurTile];
                if (m == 0xFF52) tcp.codSeen = true;
                if (m == 0xFF5C) tcp.qcdSeen = true;
                if (!handleMarker(m, myHeader.ptr, len)) return fail();
                if (!readMarker(m)) return fail();
            }
            if (myPpmSegments && !takePpmHeaders(myCp.tcps.ptr[myCurTile])) return fail();
            if (!readSod()) return fail();
            if (myState == stNoEoc || myLastPart) break;
        } else if (m == 0xFFD9 || m == 0x0000) {
            // EOC, or zero padding where the next SOT would stand.
            myState = stEoc;
            break;
        } else {
            return fail();
        }
        if (!readMarker(m)) break;  // the stream ended between tile-parts
    }
    // Every tile read, in tile order (or in parallel).
    if (!decodeTiles(img)) return false;
    // Move the samples; components of tiles never seen stay zero.
    for (unsigned int c = 0; c < img->numcomps; c++) {
        sJP2ImageComp& d = img->comps.ptr[c];
        if (!d.data.ptr) {
            long long n = (long long)d.w * d.h;
            if (!d.data.set(n)) return fail();
            memset(d.data.ptr, 0, (size_t)n * sizeof(int));
        }
    }
    return true;
}
