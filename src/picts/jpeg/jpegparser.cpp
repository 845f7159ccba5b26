// The JPEG marker parser (T.81 B.2): segments, tables, frame and scan headers, and the
// dispatch of each scan to the DCT or lossless decoding.
#include "picts/jpeg/jpegparser.h"

#include <cstdlib>
#include <cstring>

#include "picts/jpeg/jpegidct.h"
#include "picts/sizecheck.h"

namespace {

// Sample planes and coefficients we agree to hold for one frame.
const long long kMaxPlaneSamples = 1LL << 30;
// Real files have a few dozen scans at most; each scan walks the whole frame, so a stream of
// thousands of tiny scan headers must not keep us busy for minutes.
const int kMaxScans = 1000;
// A frame is refused when the rest of the stream holds fewer than 1/kMinDataShare of the bits
// its complete picture needs at the very least.
const long long kMinDataShare = 8;

inline int ceilDiv(long long a, long long b) { return (int)((a + b - 1) / b); }

}  // namespace

cJPEGParser::cJPEGParser() { resetParser(); }

cJPEGParser::~cJPEGParser() {}

void cJPEGParser::resetParser() {
    for (int i = 0; i < 4; i++) {
        myDcTab[i] = sJHuffTable();
        myAcTab[i] = sJHuffTable();
        myQuantDefined[i] = false;
        memset(myQuant[i], 0, sizeof(myQuant[i]));
        sJComponent& c = myComps[i];
        c.id = 0;
        c.h = c.v = 1;
        c.tq = 0;
        c.sw = c.sh = c.bw = c.bh = 0;
        c.quantTaken = false;
        c.rowsDone = 0;
        c.codedFull = 0;
        c.plane.clear();
        c.ringRows = 0;
        c.coefs.clear();
        c.dcPred = 0;
    }
    myNumComps = 0;
    myPrecision = 0;
    myFrameW = myFrameH = 0;
    myMaxH = myMaxV = 1;
    myMcusX = myMcusY = 0;
    myProgressive = myLossless = myFrameSeen = false;
    myPlanesReady = myCoefsReady = myStrips = false;
    myEOI = myDataError = false;
    mySawJFIF = false;
    myAdobeTransform = -1;
    myRestart = 0;
    myError = 0;
    myPendingMarker = -1;
    myScanCount = 0;
    mySs = 0;
    mySe = 63;
    myAh = myAl = 0;
    myEobRun = 0;
    myScanUsedHuff = false;
}

bool cJPEGParser::fail(int code, const char* what) {
    if (!myError) myError = code;
    onGeneralError(code, what);
    return false;
}

void cJPEGParser::onGeneralError(int code, const char* what) {}

bool cJPEGParser::onScanLine(unsigned short** lines, int line, int samples) { return true; }

int cJPEGParser::colorModel() const {
    if (myNumComps == 3) {
        if (mySawJFIF) return eJColorYCbCr;
        if (myAdobeTransform >= 0) return myAdobeTransform == 0 ? eJColorRGB : eJColorYCbCr;
        if (myComps[0].id == 'R' && myComps[1].id == 'G' && myComps[2].id == 'B') return eJColorRGB;
        // Lossless streams without a colour marker hold the samples as they were (RGB).
        return myLossless ? eJColorRGB : eJColorYCbCr;
    }
    if (myNumComps == 4) return myAdobeTransform == 2 ? eJColorYCCK : eJColorCMYK;
    return eJColorGrey;
}

sJScanState cJPEGParser::scanState() {
    sJScanState s;
    s.source = &mySrc;
    s.components = myScanCount;
    s.ignoreFFEsc = myIgnoreFF;
    s.acPairs = !myLossless;
    for (int i = 0; i < myScanCount; i++) {
        // Lossless and DC scans use the DC selector; AC tables only where AC data is coded.
        bool needDc = myLossless || (mySs == 0 && myAh == 0) || !myProgressive;
        bool needAc = !myLossless && mySe > 0;
        s.dc[i] = needDc ? &myDcTab[myScanTd[i] & 3] : nullptr;
        s.ac[i] = needAc ? &myAcTab[myScanTa[i] & 3] : nullptr;
    }
    return s;
}

int cJPEGParser::nextMarker() {
    if (myPendingMarker >= 0) {
        int m = myPendingMarker;
        myPendingMarker = -1;
        return m;
    }
    // B.1.1.2: any number of 0xFF fill bytes may precede a marker; other bytes between
    // segments are skipped (the way damaged files are read best).
    for (;;) {
        int b = mySrc.byte();
        if (b < 0) return -1;
        if (b != 0xFF) continue;
        int n;
        do {
            n = mySrc.byte();
        } while (n == 0xFF);
        if (n < 0) return -1;
        if (n != 0) return n;
    }
}

bool cJPEGParser::processStream(cFileIOTarget* stream, int mode) {
    bool ignoreFF = myIgnoreFF;
    resetParser();
    myIgnoreFF = ignoreFF;
    if (!mySrc.open(stream)) return fail(eJErrSyntax, "no stream");
    if (mySrc.byte() != 0xFF || mySrc.byte() != 0xD8) return fail(eJErrSyntax, "no SOI marker");
    bool anyScan = false;
    bool lastScanClean = false;
    int scans = 0;
    // Every marker consumes at least two bytes, so the loop ends with the stream.
    for (;;) {
        int m = nextMarker();
        if (m < 0) break;
        if (m == 0xD9) {
            myEOI = true;
            break;
        }
        if (m == 0xD8 || m == 0x01 || (m >= 0xD0 && m <= 0xD7)) continue;
        bool stop = false;
        if (m == 0xDA && mode == eJModeDecode) {
            if (++scans > kMaxScans) return fail(eJErrData, "too many scans");
            if (!readSegment(m, mode, stop)) return false;
            bool dataErrorBefore = myDataError;
            myDataError = false;
            bool ok = decodeScan();
            if (myError && !ok && myError != eJErrData) return false;
            lastScanClean = ok && !myDataError;
            myDataError = myDataError || dataErrorBefore || !ok;
            anyScan = true;
            continue;
        }
        if (!readSegment(m, mode, stop)) return false;
        if (stop) return true;
    }
    mySrc.close();
    if (mode == eJModeHeader) return myFrameSeen || fail(eJErrSyntax, "no frame header");
    if (mode == eJModePreview) return myFrameSeen || fail(eJErrSyntax, "no frame header");
    if (!myFrameSeen) return fail(eJErrSyntax, "no frame header");
    if (!anyScan) return fail(eJErrData, "no scan");
    if (myDataError) return fail(eJErrData, "damaged or truncated data");
    // A stream whose scans stop before every component (every coefficient, in a progressive
    // frame down to its last approximation bit) is coded is cut short, EOI or not.
    for (int i = 0; i < myNumComps; i++)
        if (myComps[i].codedFull != ~0ULL) return fail(eJErrData, "scans missing");
    // Lossless streams from cameras often end without EOI once their scan is complete.
    if (!myEOI && !(myLossless && lastScanClean)) return fail(eJErrData, "truncated stream");
    return true;
}

bool cJPEGParser::readSegment(int m, int mode, bool& stop) {
    int hi = mySrc.byte(), lo = mySrc.byte();
    if (hi < 0 || lo < 0) return fail(eJErrData, "truncated segment");
    long long len = ((long long)hi << 8 | lo) - 2;
    if (len < 0) return fail(eJErrSyntax, "bad segment length");
    if ((unsigned long long)len > mySrc.remaining()) return fail(eJErrData, "segment longer than the stream");
    switch (m) {
        case 0xC0:
        case 0xC1:
        case 0xC2:
        case 0xC3:
            if (!readSOF(m, len)) return false;
            if (mode == eJModeHeader) stop = true;
            return true;
        case 0xC4:
            return readDHT(len);
        case 0xC5: case 0xC6: case 0xC7: case 0xC9: case 0xCA: case 0xCB: case 0xCD: case 0xCE: case 0xCF:
            return fail(eJErrUnsupported, "arithmetic or hierarchical JPEG");
        case 0xDB:
            return readDQT(len);
        case 0xDD:
            return readDRI(len);
        case 0xDA:
            if (mode != eJModeDecode) {
                stop = true;
                return myFrameSeen || fail(eJErrSyntax, "scan before the frame header");
            }
            return readSOS(len);
        default:
            if (m >= 0xE0 && m <= 0xEF) return readApp(m - 0xE0, len);
            // COM, DNL, DAC, JPGn and the rest carry nothing we use.
            if (!mySrc.skip(len)) return fail(eJErrData, "truncated segment");
            return true;
    }
}

bool cJPEGParser::readSOF(int m, long long len) {
    if (myFrameSeen) return fail(eJErrSyntax, "second frame header");
    unsigned char b[6 + 3 * 255];
    if (len < 6 || len > (long long)sizeof(b) || !mySrc.readf(b, len)) return fail(eJErrSyntax, "bad frame header");
    myPrecision = b[0];
    myFrameH = b[1] << 8 | b[2];
    myFrameW = b[3] << 8 | b[4];
    int n = b[5];
    myProgressive = m == 0xC2;
    myLossless = m == 0xC3;
    if (n < 1 || n > 4) return fail(eJErrUnsupported, "component count");
    if (len < 6 + 3 * n) return fail(eJErrSyntax, "short frame header");
    if (myLossless) {
        if (myPrecision < 1 || myPrecision > 16) return fail(eJErrUnsupported, "sample precision");
    } else if (myPrecision != 8 && !(myPrecision == 12 && m != 0xC0)) {
        return fail(eJErrUnsupported, "sample precision");
    }
    // Height 0 would need a DNL segment; nobody writes those.
    long long pixels;
    if (!checkedImagePixels(myFrameW, myFrameH, pixels)) return fail(eJErrSize, "picture size");
    if (pixels * n > kMaxPlaneSamples) return fail(eJErrSize, "picture size");
    myNumComps = n;
    myMaxH = myMaxV = 1;
    for (int i = 0; i < n; i++) {
        sJComponent& c = myComps[i];
        c.id = b[6 + 3 * i];
        c.h = b[7 + 3 * i] >> 4;
        c.v = b[7 + 3 * i] & 15;
        c.tq = b[8 + 3 * i];
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4) return fail(eJErrSyntax, "sampling factor");
        if (c.tq > 3) return fail(eJErrSyntax, "quantisation table selector");
        for (int j = 0; j < i; j++)
            if (myComps[j].id == c.id) return fail(eJErrSyntax, "duplicate component id");
        if (c.h > myMaxH) myMaxH = c.h;
        if (c.v > myMaxV) myMaxV = c.v;
    }
    const int unit = myLossless ? 1 : 8;
    myMcusX = ceilDiv(myFrameW, (long long)unit * myMaxH);
    myMcusY = ceilDiv(myFrameH, (long long)unit * myMaxV);
    for (int i = 0; i < n; i++) {
        sJComponent& c = myComps[i];
        c.sw = ceilDiv((long long)myFrameW * c.h, myMaxH);
        c.sh = ceilDiv((long long)myFrameH * c.v, myMaxV);
        if (n == 1) {
            // A single component is never interleaved: its MCU is one unit.
            c.bw = ceilDiv(c.sw, unit);
            c.bh = ceilDiv(c.sh, unit);
        } else {
            c.bw = myMcusX * c.h;
            c.bh = myMcusY * c.v;
        }
    }
    if (n == 1) {
        myMcusX = myComps[0].bw;
        myMcusY = myComps[0].bh;
    }
    myFrameSeen = true;
    if (!onFrame()) return fail(eJErrRefused, "frame refused");
    return true;
}

bool cJPEGParser::readDHT(long long len) {
    while (len > 0) {
        unsigned char head[17];
        if (len < 17 || !mySrc.readf(head, 17)) return fail(eJErrTable, "bad Huffman table");
        len -= 17;
        int tc = head[0] >> 4, th = head[0] & 15;
        if (tc > 1 || th > 3) return fail(eJErrTable, "bad Huffman table class or id");
        int total = 0;
        for (int i = 1; i <= 16; i++) total += head[i];
        if (total > 256 || total > len) return fail(eJErrTable, "bad Huffman table counts");
        sJHuffTable& t = tc ? myAcTab[th] : myDcTab[th];
        memcpy(t.bits, head, 17);
        t.bits[0] = 0;
        memset(t.vals, 0, sizeof(t.vals));
        if (!mySrc.readf(t.vals, total)) return fail(eJErrData, "truncated Huffman table");
        len -= total;
        // Refuse over-subscribed code lengths now rather than in the middle of a scan.
        sJHuffLookup check;
        if (!check.build(t)) {
            t.defined = false;
            return fail(eJErrTable, "over-subscribed Huffman table");
        }
        t.defined = true;
    }
    return true;
}

bool cJPEGParser::readDQT(long long len) {
    while (len > 0) {
        int pq = mySrc.byte();
        if (pq < 0) return fail(eJErrData, "truncated quantisation table");
        len--;
        int bits = pq >> 4, id = pq & 15;
        if (bits > 1 || id > 3) return fail(eJErrTable, "bad quantisation table");
        int size = bits ? 128 : 64;
        if (len < size) return fail(eJErrTable, "short quantisation table");
        unsigned char raw[128];
        if (!mySrc.readf(raw, size)) return fail(eJErrData, "truncated quantisation table");
        len -= size;
        for (int k = 0; k < 64; k++) {
            int q = bits ? (raw[2 * k] << 8 | raw[2 * k + 1]) : raw[k];
            myQuant[id][kJZigzag[k]] = (unsigned short)q;
        }
        myQuantDefined[id] = true;
    }
    return true;
}

bool cJPEGParser::readDRI(long long len) {
    if (len < 2) return fail(eJErrSyntax, "bad restart interval");
    int hi = mySrc.byte(), lo = mySrc.byte();
    if (hi < 0 || lo < 0 || !mySrc.skip(len - 2)) return fail(eJErrData, "truncated segment");
    myRestart = hi << 8 | lo;
    return true;
}

bool cJPEGParser::readApp(int n, long long len) {
    // A segment holds at most 65533 bytes (its length is 16 bits) and was checked against
    // what remains of the stream.
    _typebuf<unsigned char> data;
    if (len > 0 && !data.set(len)) return fail(eJErrMemory, "no memory");
    if (len > 0 && !mySrc.readf(data.ptr, len)) return fail(eJErrData, "truncated segment");
    const unsigned char* d = data.ptr;
    if (n == 0 && len >= 5 && !memcmp(d, "JFIF\0", 5)) mySawJFIF = true;
    if (n == 14 && len >= 12 && !memcmp(d, "Adobe", 5)) myAdobeTransform = d[11];
    if (!onAppMarker(n, d, (int)data.count)) return fail(eJErrRefused, "segment refused");
    return true;
}

bool cJPEGParser::readSOS(long long len) {
    if (!myFrameSeen) return fail(eJErrSyntax, "scan before the frame header");
    unsigned char b[1 + 2 * 4 + 3];
    int n = mySrc.byte();
    if (n < 1 || n > 4 || n > myNumComps) return fail(eJErrSyntax, "bad scan header");
    if (len != 1 + 2 * n + 3 || !mySrc.readf(b, len - 1)) return fail(eJErrSyntax, "bad scan header");
    myScanCount = n;
    for (int i = 0; i < n; i++) {
        int id = b[2 * i], t = b[2 * i + 1];
        int idx = -1;
        for (int j = 0; j < myNumComps; j++)
            if (myComps[j].id == id) idx = j;
        if (idx < 0) return fail(eJErrSyntax, "scan names an unknown component");
        for (int j = 0; j < i; j++)
            if (myScanComp[j] == idx) return fail(eJErrSyntax, "component twice in a scan");
        myScanComp[i] = idx;
        myScanTd[i] = t >> 4;
        myScanTa[i] = t & 15;
        if (myScanTd[i] > 3 || myScanTa[i] > 3) return fail(eJErrTable, "bad table selector");
    }
    mySs = b[2 * n];
    mySe = b[2 * n + 1];
    myAh = b[2 * n + 2] >> 4;
    myAl = b[2 * n + 2] & 15;
    // B.2.3: an interleaved scan holds at most 10 blocks an MCU.
    if (n > 1 && !myLossless) {
        int blocks = 0;
        for (int i = 0; i < n; i++) blocks += myComps[myScanComp[i]].h * myComps[myScanComp[i]].v;
        if (blocks > 10) return fail(eJErrSyntax, "too many blocks in an MCU");
    }
    if (myLossless) {
        if (mySs > 7 || myAl >= myPrecision) return fail(eJErrSyntax, "bad lossless scan parameters");
    } else if (myProgressive) {
        // G.1.1.1.1: DC scans alone, AC scans of one component, approximation steps of one bit.
        if (mySs == 0 ? mySe != 0 : (mySe < mySs || mySe > 63 || n != 1))
            return fail(eJErrSyntax, "bad spectral selection");
        if (myAl > 13 || (myAh && myAh != myAl + 1)) return fail(eJErrSyntax, "bad successive approximation");
    } else {
        mySs = 0;
        mySe = 63;
        myAh = myAl = 0;
    }
    return true;
}

bool cJPEGParser::allocPlanes() {
    if (myPlanesReady) return true;
    const int unit = myLossless ? 1 : 8;
    long long total = 0;
    for (int i = 0; i < myNumComps; i++) {
        sJComponent& c = myComps[i];
        long long n;
        if (!checkedMul((long long)c.bw * unit, (long long)c.bh * unit, n)) return fail(eJErrSize, "picture size");
        total += n;
        if (total > kMaxPlaneSamples * 2) return fail(eJErrSize, "picture size");
    }
    long long bytes;
    if (!checkedWorkBytes(total, sizeof(unsigned short), bytes)) return fail(eJErrSize, "picture size");
    // Strips: the whole frame is decoded MCU row after MCU row, by the first scan (sequential)
    // or from the coefficients at the end (progressive).
    myStrips = !myLossless && (myProgressive || myScanCount == myNumComps) && acceptsStrips();
    for (int i = 0; i < myNumComps; i++) {
        sJComponent& c = myComps[i];
        // Rows no scan reaches are filled when the planes are finished.
        long long rows = (long long)c.bh * unit;
        c.ringRows = 0;
        // A power of two of at least three MCU rows, so that a row's place is a mask away.
        int ring = 8;
        while (ring < 3 * mcuRowHeight(c)) ring *= 2;
        if (myStrips && ring < rows) {
            c.ringRows = ring;
            rows = ring;
        }
        if (!c.plane.set((long long)c.bw * unit * rows)) return fail(eJErrMemory, "no memory for samples");
        c.rowsDone = 0;
    }
    myPlanesReady = true;
    return true;
}

bool cJPEGParser::allocCoefs() {
    if (myCoefsReady) return true;
    // Every coefficient of the frame is held until the last scan: the whole set within the budget.
    long long total = 0, bytes;
    for (int i = 0; i < myNumComps; i++) {
        long long blocks;
        if (!checkedMul(myComps[i].bw, myComps[i].bh, blocks) || !checkedAdd(total, blocks * 64, total))
            return fail(eJErrSize, "picture size");
    }
    if (!checkedWorkBytes(total, sizeof(short), bytes)) return fail(eJErrSize, "picture size");
    for (int i = 0; i < myNumComps; i++) {
        sJComponent& c = myComps[i];
        long long blocks;
        if (!checkedMul(c.bw, c.bh, blocks) || blocks * 64 > kMaxPlaneSamples * 2)
            return fail(eJErrSize, "picture size");
        // calloc: fresh pages are zero already, so a big buffer is not written twice.
        short* zeroed = (short*)calloc((size_t)blocks * 64, sizeof(short));
        if (!zeroed) return fail(eJErrMemory, "no memory for coefficients");
        c.coefs.attach(zeroed, blocks * 64);
        // Written all over, scan after scan.
        pictAdviseHugePages(zeroed, blocks * 64 * (long long)sizeof(short));
    }
    myCoefsReady = true;
    return true;
}

int cJPEGParser::markerAfterScan() {
    if (myScanUsedHuff) return myHuff.findMarker();
    // Another decoder read the scan: look for the next marker from where it stopped.
    return nextMarker();
}

bool cJPEGParser::decodeScan() {
    myScanUsedHuff = false;
    // Before the planes exist: a complete picture codes at least one bit per block (per
    // sample when lossless) of every component, so a header naming a frame far beyond what
    // the rest of the stream could fill must not make us allocate and fill gigabytes.
    if (!myPlanesReady) {
        long long units = 0;
        for (int i = 0; i < myNumComps; i++) {
            const sJComponent& c = myComps[i];
            units += myLossless ? (long long)c.sw * c.sh : (long long)ceilDiv(c.sw, 8) * ceilDiv(c.sh, 8);
        }
        unsigned long long left = mySrc.remaining();
        if (left < (1ULL << 40) && (long long)left * 8 * kMinDataShare < units)
            return fail(eJErrSize, "picture larger than its data");
    }
    bool ok;
    if (myLossless) {
        ok = processHuffmanLosslessScan();
        if (!ok && !myError) fail(eJErrData, "lossless scan failed");
    } else {
        for (int i = 0; i < myScanCount; i++) {
            sJComponent& c = myComps[myScanComp[i]];
            if (!c.quantTaken) {
                if (!myQuantDefined[c.tq]) return fail(eJErrTable, "missing quantisation table");
                memcpy(c.quant, myQuant[c.tq], sizeof(c.quant));
                c.quantTaken = true;
            }
        }
        if (!allocPlanes()) return false;
        if (myProgressive && !allocCoefs()) return false;
        ok = runDctScan();
    }
    myPendingMarker = markerAfterScan();
    if (ok && !myDataError) {
        // T.81 G.1.1.1.1: a band is at full precision after its scan with Al = 0.
        unsigned long long band = ~0ULL;
        if (myProgressive && !myLossless)
            band = myAl ? 0 : (mySe == 63 ? ~0ULL : (1ULL << (mySe + 1)) - 1) & ~((1ULL << mySs) - 1);
        for (int i = 0; i < myScanCount; i++) myComps[myScanComp[i]].codedFull |= band;
    }
    return ok;
}

int cJPEGParser::mcuRowHeight(const sJComponent& c) const { return (myNumComps == 1 ? 1 : c.v) * 8; }

bool cJPEGParser::finishStrips() {
    const unsigned short mid = (unsigned short)(1 << (myPrecision - 1));
    unsigned long long released[4] = {};
    for (int m = 0; m < myMcusY; m++) {
        bool more = false;
        for (int i = 0; i < myNumComps; i++) {
            sJComponent& c = myComps[i];
            const int rh = mcuRowHeight(c);
            const long long first = (long long)m * rh, end = first + rh;
            if (end <= c.rowsDone) continue;
            more = true;
            const long long stride = (long long)c.bw * 8;
            if (myProgressive && myCoefsReady && c.quantTaken) {
                for (int by = (int)(first / 8); by < end / 8; by++) {
                    unsigned short* row = planeRow(c, stride, by * 8LL);
                    const short* blk = c.coefs.ptr + (long long)by * c.bw * 64;
                    int pending = -1;  // blocks with AC terms go through the IDCT in pairs
                    for (int bx = 0; bx < c.bw; bx++, blk += 64) {
                        bool dcOnly = true;
                        for (int k = 1; k < 64 && dcOnly; k++) dcOnly = blk[k] == 0;
                        if (dcOnly) {
                            jIdctDC(blk[0], c.quant[0], row + bx * 8, stride, myPrecision);
                        } else if (pending < 0) {
                            pending = bx;
                        } else {
                            jIdct8x8Pair(blk - (bx - pending) * 64, c.quant, row + pending * 8, stride, blk, c.quant,
                                         row + bx * 8, stride, myPrecision);
                            pending = -1;
                        }
                    }
                    if (pending >= 0)
                        jIdct8x8(blk - (c.bw - pending) * 64, c.quant, row + pending * 8, stride, myPrecision);
                }
                pictReleaseConsumed(c.coefs.ptr, end / 8 * c.bw * 64 * (long long)sizeof(short), released[i]);
            } else {
                // Parts no scan reached show mid-grey, as other decoders do.
                for (long long r = c.rowsDone > first ? c.rowsDone : first; r < end; r++) {
                    unsigned short* row = planeRow(c, stride, r);
                    for (long long k = 0; k < stride; k++) row[k] = mid;
                }
            }
            c.rowsDone = (int)end;
        }
        if (more && !onStrip()) return false;
    }
    return true;
}

bool cJPEGParser::finishPlanes() {
    if (!myFrameSeen || !myPlanesReady) return false;
    if (myStrips) return finishStrips();
    for (int i = 0; i < myNumComps; i++) {
        sJComponent& c = myComps[i];
        if (myProgressive && myCoefsReady && c.quantTaken) {
            long long stride = (long long)c.bw * 8;
            for (int by = 0; by < c.bh; by++) {
                for (int bx = 0; bx < c.bw; bx++) {
                    const short* blk = c.coefs.ptr + ((long long)by * c.bw + bx) * 64;
                    unsigned short* out = c.plane.ptr + (long long)by * 8 * stride + bx * 8;
                    bool dcOnly = true;
                    for (int k = 1; k < 64 && dcOnly; k++) dcOnly = blk[k] == 0;
                    if (dcOnly)
                        jIdctDC(blk[0], c.quant[0], out, stride, myPrecision);
                    else
                        jIdct8x8(blk, c.quant, out, stride, myPrecision);
                }
            }
            c.rowsDone = c.bh * 8;
        }
        // Parts no scan reached show mid-grey, as other decoders do.
        const int unit = myLossless ? 1 : 8;
        long long stride = (long long)c.bw * unit, rows = (long long)c.bh * unit;
        unsigned short mid = (unsigned short)(1 << (myPrecision - 1));
        for (long long k = (long long)c.rowsDone * stride; k < rows * stride; k++) c.plane.ptr[k] = mid;
    }
    return true;
}
