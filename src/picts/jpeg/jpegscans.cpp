// Entropy decoding of DCT scans: sequential blocks (T.81 F.2.2) straight into the sample
// planes, and the four progressive procedures (G.1.2) into the coefficient buffers.
#include <cstring>

#include "picts/jpeg/jpegidct.h"
#include "picts/jpeg/jpegparser.h"

namespace {

enum eScanKind { kSeq = 0, kDCFirst, kDCRefine, kACFirst, kACRefine };

}  // namespace

void cJPEGParser::storeBlock(int c, int bx, int by, short* blk, bool ac) {
    sJComponent& comp = myComps[c];
    long long stride = (long long)comp.bw * 8;
    unsigned short* out = planeRow(comp, stride, (long long)by * 8) + bx * 8;
    if (ac) {
        jIdct8x8Clear(blk, comp.quant, out, stride, myPrecision);
    } else {
        jIdctDC(blk[0], comp.quant[0], out, stride, myPrecision);
        blk[0] = 0;
    }
}

void cJPEGParser::storeBlocks(int n, short (*blk)[64], const bool* ac, const int* comp, const int* bx,
                              const int* by, sHeldBlock& held) {
    // Blocks with AC terms go through the transform two at a time; an odd one waits in `held`
    // for the next MCU's (or for flushHeld at the end of the row).
    auto pair = [&](short* a, int ca, int xa, int ya, short* b, int cb, int xb, int yb) {
        const sJComponent& pa = myComps[ca];
        const sJComponent& pb = myComps[cb];
        const long long sa = (long long)pa.bw * 8, sb = (long long)pb.bw * 8;
        jIdct8x8PairClear(a, pa.quant, planeRow(pa, sa, ya * 8LL) + xa * 8, sa, b, pb.quant,
                          planeRow(pb, sb, yb * 8LL) + xb * 8, sb, myPrecision);
    };
    int pending = -1;
    for (int b = 0; b < n; b++) {
        if (!ac[b]) {
            storeBlock(comp[b], bx[b], by[b], blk[b], false);
        } else if (held.comp >= 0) {
            pair(held.coef, held.comp, held.bx, held.by, blk[b], comp[b], bx[b], by[b]);
            held.comp = -1;
        } else if (pending < 0) {
            pending = b;
        } else {
            pair(blk[pending], comp[pending], bx[pending], by[pending], blk[b], comp[b], bx[b], by[b]);
            pending = -1;
        }
    }
    if (pending >= 0) {
        memcpy(held.coef, blk[pending], sizeof(held.coef));
        memset(blk[pending], 0, sizeof(held.coef));
        held.comp = comp[pending];
        held.bx = bx[pending];
        held.by = by[pending];
    }
}

void cJPEGParser::flushHeld(sHeldBlock& held) {
    if (held.comp < 0) return;
    storeBlock(held.comp, held.bx, held.by, held.coef, true);
    held.comp = -1;
}

bool cJPEGParser::decodeBlockSeq(int sc, short* blk, bool& acCoded) {
    return myHuff.decodeBlock(myHuff.dcTable(sc), myHuff.acTable(sc), kJZigzag, myComps[myScanComp[sc]].dcPred, blk,
                              acCoded);
}

bool cJPEGParser::decodeDCFirst(int sc, short* blk) {
    int s = myHuff.decode(myHuff.dcTable(sc));
    if (s < 0 || s > 16) return false;
    sJComponent& comp = myComps[myScanComp[sc]];
    comp.dcPred = jToShort(comp.dcPred + myHuff.receiveExtend(s));
    blk[0] = jToShort(comp.dcPred * (1 << myAl));
    return true;
}

bool cJPEGParser::decodeDCRefine(short* blk) {
    if (myHuff.getBit()) blk[0] = (short)(blk[0] | (1 << myAl));
    return true;
}

bool cJPEGParser::decodeACFirst(int sc, short* blk) {
    return myHuff.firstAcBlock(myHuff.acTable(sc), kJZigzag, mySs, mySe, myAl, myEobRun, blk);
}

// G.1.2.3: correction bits for known coefficients, new coefficients of magnitude 1.
bool cJPEGParser::decodeACRefine(int sc, short* blk) {
    return myHuff.refineBlock(myHuff.acTable(sc), kJZigzag, mySs, mySe, myAl, myEobRun, blk);
}

bool cJPEGParser::handleRestart(int& expected) {
    myHuff.resetBits();
    int m = myHuff.findMarker();
    if (m < 0xD0 || m > 0xD7) {
        // Another marker (or the end): the scan stops here and the marker is parsed next.
        myDataError = true;
        return false;
    }
    if (m != 0xD0 + expected) myDataError = true;  // out of sequence: take it and go on
    expected = (m - 0xD0 + 1) & 7;
    myHuff.clearMarker();
    for (int i = 0; i < myNumComps; i++) myComps[i].dcPred = 0;
    myEobRun = 0;
    return true;
}

bool cJPEGParser::runDctScan() {
    int kind = kSeq;
    if (myProgressive) {
        if (mySs == 0)
            kind = myAh ? kDCRefine : kDCFirst;
        else
            kind = myAh ? kACRefine : kACFirst;
    }
    sJScanState st = scanState();
    if (!myHuff.create(st)) return fail(eJErrTable, "missing or bad Huffman table");
    myScanUsedHuff = true;
    for (int i = 0; i < myNumComps; i++) myComps[i].dcPred = 0;
    myEobRun = 0;

    // Units of the scan: whole MCUs when interleaved, single blocks otherwise.
    int unitsX, unitsY;
    if (myScanCount == 1) {
        const sJComponent& c = myComps[myScanComp[0]];
        unitsX = (c.sw + 7) / 8;
        unitsY = (c.sh + 7) / 8;
    } else {
        unitsX = myMcusX;
        unitsY = myMcusY;
    }
    // Progressive AC scans (one component) without restarts: block after block along the rows.
    if ((kind == kACFirst || kind == kACRefine) && !myRestart) {
        sJComponent& c = myComps[myScanComp[0]];
        const sJHuffLookup* ac = myHuff.acTable(0);
        for (int uy = 0; uy < unitsY; uy++) {
            short* b = c.coefs.ptr + (long long)uy * c.bw * 64;
            for (int ux = 0; ux < unitsX; ux++, b += 64) {
                bool ok = kind == kACFirst ? myHuff.firstAcBlock(ac, kJZigzag, mySs, mySe, myAl, myEobRun, b)
                                           : myHuff.refineBlock(ac, kJZigzag, mySs, mySe, myAl, myEobRun, b);
                if (!ok) {
                    myDataError = true;
                    return fail(eJErrData, "bad Huffman code");
                }
            }
            if (myHuff.overran()) {
                myDataError = true;
                return fail(eJErrData, "entropy-coded data ends early");
            }
        }
        return true;
    }
    // A sequential MCU is decoded whole before its IDCTs, so that the coefficient stores
    // have retired by the time the transform loads them.
    // The blocks start zero and are left zero by storeBlock.
    short mcu[10][64];
    memset(mcu, 0, sizeof(mcu));
    sHeldBlock held;
    memset(held.coef, 0, sizeof(held.coef));
    bool mcuAc[10];
    int mcuComp[10], mcuX[10], mcuY[10];
    int restartLeft = myRestart;
    int expected = 0;
    for (int uy = 0; uy < unitsY; uy++) {
        for (int ux = 0; ux < unitsX; ux++) {
            if (myRestart) {
                if (restartLeft == 0) {
                    if (!handleRestart(expected)) {
                        flushHeld(held);
                        return true;
                    }
                    restartLeft = myRestart;
                }
                restartLeft--;
            }
            int nblk = 0;
            for (int i = 0; i < myScanCount; i++) {
                int ci = myScanComp[i];
                sJComponent& c = myComps[ci];
                int nh = myScanCount == 1 ? 1 : c.h;
                int nv = myScanCount == 1 ? 1 : c.v;
                for (int yy = 0; yy < nv; yy++) {
                    for (int xx = 0; xx < nh; xx++) {
                        int bx = ux * nh + xx, by = uy * nv + yy;
                        bool ok;
                        if (kind == kSeq) {
                            short* blk = mcu[nblk];
                            mcuAc[nblk] = false;
                            ok = decodeBlockSeq(i, blk, mcuAc[nblk]);
                            mcuComp[nblk] = ci;
                            mcuX[nblk] = bx;
                            mcuY[nblk] = by;
                            if (ok) nblk++;  // at most 10: checked at the scan header
                        } else {
                            short* b = c.coefs.ptr + ((long long)by * c.bw + bx) * 64;
                            switch (kind) {
                                case kDCFirst: ok = decodeDCFirst(i, b); break;
                                case kDCRefine: ok = decodeDCRefine(b); break;
                                case kACFirst: ok = decodeACFirst(i, b); break;
                                default: ok = decodeACRefine(i, b); break;
                            }
                        }
                        if (!ok) {
                            storeBlocks(nblk, mcu, mcuAc, mcuComp, mcuX, mcuY, held);
                            flushHeld(held);
                            myDataError = true;
                            return fail(eJErrData, "bad Huffman code");
                        }
                    }
                }
            }
            storeBlocks(nblk, mcu, mcuAc, mcuComp, mcuX, mcuY, held);
        }
        if (kind == kSeq) {
            flushHeld(held);
            for (int i = 0; i < myScanCount; i++) {
                sJComponent& c = myComps[myScanComp[i]];
                int rows = (uy + 1) * (myScanCount == 1 ? 1 : c.v) * 8;
                if (rows > c.rowsDone) c.rowsDone = rows;
            }
            if (myStrips && !onStrip()) return fail(eJErrRefused, "picture refused its rows");
        }
        // Truncated data: stop instead of decoding zeros to the end.
        if (myHuff.overran()) {
            myDataError = true;
            return fail(eJErrData, "entropy-coded data ends early");
        }
    }
    if (myHuff.overran()) {
        myDataError = true;
        return fail(eJErrData, "entropy-coded data ends early");
    }
    return true;
}
