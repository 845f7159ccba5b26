// Lossless (predictive) scans, T.81 Annex H: Huffman-coded differences, the seven
// predictors, the point transform and restart intervals; lines go out through onScanLine.
#include "picts/jpeg/jpegparser.h"

namespace {

struct sLosslessComp {
    int h = 1, v = 1;
    int width = 0;  // samples per component row in this scan
    _typebuf<unsigned short> rows;  // row 0: the row above, rows 1..v: the current MCU row
    _typebuf<unsigned short> line;  // the MCU row in MCU order, point transform applied
    bool firstAfterReset = true;
    int last = 0;      // decode-order prediction: the sample decoded last
    int rowFirst = 0;  // and the first sample of the MCU row before
};

// H.1.2.1, Table H.1.
inline int predict(int psv, int ra, int rb, int rc) {
    switch (psv) {
        case 1: return ra;
        case 2: return rb;
        case 3: return rc;
        case 4: return ra + rb - rc;
        case 5: return ra + ((rb - rc) >> 1);
        case 6: return rb + ((ra - rc) >> 1);
        case 7: return (ra + rb) >> 1;
        default: return 0;
    }
}

// One difference of a lossless scan (H.1.2.2) with the bit buffer in the caller's registers;
// false on a code that is not in the table or an impossible SSSS.
inline bool losslessDiff(cJHuffDecoder& huff, const sJHuffLookup* tab, unsigned long long& acc, int& bits,
                         int& diff) {
    // A code and its extra bits take at most 32 bits: one refill check for both.
    if (bits < 32) {
        huff.giveBits(acc, bits);
        huff.fill();
        huff.takeBits(acc, bits);
    }
    unsigned int e = tab->look[acc >> (64 - sJHuffLookup::kLookBits)];
    int s;
    if (e) {
        acc <<= e >> 8;
        bits -= (int)(e >> 8);
        s = (int)(e & 0xFF);
    } else {
        huff.giveBits(acc, bits);
        s = huff.decode(tab);
        if (s > 0 && s < 16 && huff.bitCount() < s) huff.fill();
        huff.takeBits(acc, bits);
    }
    if (s > 0 && s < 16) {
        int v = (int)(acc >> (64 - s));
        acc <<= s;
        bits -= s;
        diff = v < (1 << (s - 1)) ? v - (1 << s) + 1 : v;
        return true;
    }
    diff = s == 16 ? 32768 : 0;  // SSSS 16 is the difference 32768 without extra bits
    return s == 0 || s == 16;
}

// One component without restart intervals (the usual layout of medical and camera frames):
// a row at a time with the predictor fixed at compile time. 0 done, 1 bad code, 2 refused
// by the line callback, 3 data ended early.
template <int PSV, class LineFn>
int decodeSingleComponent(cJHuffDecoder& huff, const sJHuffLookup* tab, unsigned short* rows, unsigned short* line,
                          int width, int height, int initial, int pt, LineFn&& deliver) {
    unsigned short* up = rows;
    unsigned short* cur = rows + width;
    unsigned long long acc;
    int bits, diff;
    huff.takeBits(acc, bits);
    for (int y = 0; y < height; y++) {
        // The first column is predicted from above (the first row from the initial value),
        // the first row from the left.
        int left = y == 0 ? initial : up[0];
        if (!losslessDiff(huff, tab, acc, bits, diff)) {
            huff.giveBits(acc, bits);
            return 1;
        }
        left = (left + diff) & 0xFFFF;
        cur[0] = (unsigned short)left;
        for (int x = 1; x < width; x++) {
            int pred = y == 0 ? left : predict(PSV, left, up[x], up[x - 1]);
            if (!losslessDiff(huff, tab, acc, bits, diff)) {
                huff.giveBits(acc, bits);
                return 1;
            }
            left = (pred + diff) & 0xFFFF;
            cur[x] = (unsigned short)left;
        }
        huff.giveBits(acc, bits);
        unsigned short* out = cur;
        if (pt) {
            for (int x = 0; x < width; x++) line[x] = (unsigned short)((cur[x] << pt) & 0xFFFF);
            out = line;
        }
        bool overran = huff.overran();
        if (!deliver(out, y)) return 2;
        if (overran) return 3;
        unsigned short* t = up;
        up = cur;
        cur = t;
    }
    return 0;
}

}  // namespace

bool cJPEGParser::processHuffmanLosslessScan() {
    sJScanState st = scanState();
    if (!myHuff.create(st)) return fail(eJErrHuffTables, "missing or bad Huffman table");
    myScanUsedHuff = true;
    const int psv = mySs;
    const int pt = myAl;
    const int initial = 1 << (myPrecision - pt - 1);
    const bool decodeOrder = myDecodeOrderPred && psv == 1 && myScanCount > 1;
    int unitsX, unitsY, samples;
    sLosslessComp lc[4];
    if (myScanCount == 1) {
        const sJComponent& c = myComps[myScanComp[0]];
        unitsX = c.sw;
        unitsY = c.sh;
        samples = c.sw;
    } else {
        unitsX = myMcusX;
        unitsY = myMcusY;
        int hmax = 1;
        for (int i = 0; i < myScanCount; i++)
            if (myComps[myScanComp[i]].h > hmax) hmax = myComps[myScanComp[i]].h;
        samples = unitsX * hmax;
    }
    unsigned short* lines[4] = {};
    for (int i = 0; i < myScanCount; i++) {
        const sJComponent& c = myComps[myScanComp[i]];
        lc[i].h = myScanCount == 1 ? 1 : c.h;
        lc[i].v = myScanCount == 1 ? 1 : c.v;
        lc[i].width = unitsX * lc[i].h;
        if (!lc[i].rows.set((long long)lc[i].width * (lc[i].v + 1)) ||
            !lc[i].line.set((long long)lc[i].width * lc[i].v))
            return fail(eJErrMemory, "no memory for lines");
        lc[i].rows.zero();
        lines[i] = lc[i].line.ptr;
    }
    // The fast path codes category 16 as T.81 does; the DNG 1.0 reading takes the slow one.
    if (myScanCount == 1 && myRestart == 0 && !myDiff16Bits) {
        auto deliver = [&](unsigned short* out, int y) {
            lines[0] = out;
            return onScanLine(lines, y, samples);
        };
        const sJHuffLookup* tab = myHuff.dcTable(0);
        unsigned short* rows = lc[0].rows.ptr;
        unsigned short* line = lc[0].line.ptr;
        int r;
        switch (psv) {
            case 1: r = decodeSingleComponent<1>(myHuff, tab, rows, line, unitsX, unitsY, initial, pt, deliver); break;
            case 2: r = decodeSingleComponent<2>(myHuff, tab, rows, line, unitsX, unitsY, initial, pt, deliver); break;
            case 3: r = decodeSingleComponent<3>(myHuff, tab, rows, line, unitsX, unitsY, initial, pt, deliver); break;
            case 4: r = decodeSingleComponent<4>(myHuff, tab, rows, line, unitsX, unitsY, initial, pt, deliver); break;
            case 5: r = decodeSingleComponent<5>(myHuff, tab, rows, line, unitsX, unitsY, initial, pt, deliver); break;
            case 6: r = decodeSingleComponent<6>(myHuff, tab, rows, line, unitsX, unitsY, initial, pt, deliver); break;
            case 7: r = decodeSingleComponent<7>(myHuff, tab, rows, line, unitsX, unitsY, initial, pt, deliver); break;
            default: r = decodeSingleComponent<0>(myHuff, tab, rows, line, unitsX, unitsY, initial, pt, deliver); break;
        }
        if (r == 2) return fail(eJErrRefused, "scan line refused");
        if (r != 0) myDataError = true;
        if (r == 1) return fail(eJErrData, "bad Huffman code");
        if (r == 3) return fail(eJErrData, "entropy-coded data ends early");
        return true;
    }
    int restartLeft = myRestart;
    int expected = 0;
    for (int uy = 0; uy < unitsY; uy++) {
        bool resetRow = uy == 0;
        for (int ux = 0; ux < unitsX; ux++) {
            if (myRestart) {
                if (restartLeft == 0) {
                    if (!handleRestart(expected)) return fail(eJErrData, "lossless scan cut short");
                    restartLeft = myRestart;
                    // H.1.2.1: after a restart the next line is predicted as the first one.
                    resetRow = true;
                    for (int i = 0; i < myScanCount; i++) lc[i].firstAfterReset = true;
                }
                restartLeft--;
            }
            for (int i = 0; i < myScanCount; i++) {
                sLosslessComp& c = lc[i];
                const sJHuffLookup* tab = myHuff.dcTable(i);
                for (int yy = 0; yy < c.v; yy++) {
                    unsigned short* cur = c.rows.ptr + (long long)(yy + 1) * c.width;
                    const unsigned short* up = cur - c.width;
                    unsigned short* out = c.line.ptr + (long long)ux * c.h * c.v + yy * c.h;
                    for (int xx = 0; xx < c.h; xx++) {
                        int x = ux * c.h + xx;
                        int pred;
                        const bool rowStart = ux == 0 && yy == 0 && xx == 0;
                        if (decodeOrder) {
                            pred = c.firstAfterReset ? initial : rowStart ? c.rowFirst : c.last;
                            c.firstAfterReset = false;
                        } else if (resetRow && yy == 0) {
                            pred = c.firstAfterReset || x == 0 ? initial : cur[x - 1];
                            c.firstAfterReset = false;
                        } else if (x == 0) {
                            pred = up[0];
                        } else {
                            pred = predict(psv, cur[x - 1], up[x], up[x - 1]);
                        }
                        int s = myHuff.decode(tab);
                        if (s < 0 || s > 16) {
                            myDataError = true;
                            return fail(eJErrData, "bad Huffman code");
                        }
                        // H.1.2.2: SSSS 16 is the difference 32768 without extra bits
                        // (unless the stream comes from a writer that added them).
                        int diff = s == 16 && !myDiff16Bits ? 32768 : myHuff.receiveExtend(s);
                        unsigned short val = (unsigned short)((pred + diff) & 0xFFFF);
                        cur[x] = val;
                        out[xx] = (unsigned short)((val << pt) & 0xFFFF);
                        c.last = val;
                        if (rowStart) c.rowFirst = val;
                    }
                }
            }
        }
        bool overran = myHuff.overran();
        if (!onScanLine(lines, uy, samples)) return fail(eJErrRefused, "scan line refused");
        if (overran) {
            myDataError = true;
            return fail(eJErrData, "entropy-coded data ends early");
        }
        for (int i = 0; i < myScanCount; i++) {
            sLosslessComp& c = lc[i];
            for (int x = 0; x < c.width; x++) c.rows.ptr[x] = c.rows.ptr[(long long)c.v * c.width + x];
        }
    }
    return true;
}
