// Tile structure (T.800 B.5-B.7) and the tile decoding sequence: tier 2, tier 1 over every
// code-block (in parallel), inverse wavelet (the component transforms, DC level shift and
// output are in j2kdwt.cpp). All counts come from header values and are
// bounded before anything is allocated for them.
#include "picts/jpeg2000/j2ktile.h"

#include <cmath>
#include <cstring>

#include "picts/jpeg2000/j2kt1.h"
#include "picts/pictparallel.h"
#include "picts/sizecheck.h"

namespace {

// Structure caps per tile: far above what real codestreams use, low enough that hostile
// headers cannot make the structure itself huge.
const long long kMaxPrecinctsPerTile = 1LL << 20;
const long long kMaxCblksPerTile = 1LL << 21;

long long floorDivPow2(long long a, unsigned int e) { return a >> e; }
long long ceilDivPow2(long long a, unsigned int e) { return -((-a) >> e); }

}  // namespace

// --- tag tree ---

bool cJP2TgtTree::init(unsigned int w, unsigned int h) {
    myW = w, myH = h;
    myNodes.clear();
    if (!w || !h) return false;
    // Levels from the leaves up (T.800 B.10.2), each halving the grid, down to one root.
    unsigned int lw[32], lh[32];
    int levels = 0;
    size_t total = 0;
    unsigned int cw = w, ch = h;
    for (;;) {
        lw[levels] = cw, lh[levels] = ch;
        total += (size_t)cw * ch;
        levels++;
        if ((cw == 1 && ch == 1) || levels == 32) break;
        cw = (cw + 1) / 2, ch = (ch + 1) / 2;
    }
    if (!myNodes.set((long long)total)) return false;
    for (size_t k = 0; k < total; k++) myNodes.ptr[k] = sNode();
    size_t base = 0;
    for (int l = 0; l + 1 < levels; l++) {
        size_t next = base + (size_t)lw[l] * lh[l];
        for (unsigned int j = 0; j < lh[l]; j++)
            for (unsigned int i = 0; i < lw[l]; i++)
                myNodes.ptr[base + (size_t)j * lw[l] + i].parent = (int)(next + (size_t)(j / 2) * lw[l + 1] + i / 2);
        base = next;
    }
    return true;
}

void cJP2TgtTree::reset() {
    for (long long k = 0; k < myNodes.count; k++) {
        sNode& n = myNodes.ptr[k];
        n.value = 999, n.low = 0, n.known = false;
    }
}

// --- tile structure ---

void cJP2Tcd::tileBounds(const cJP2Image& img, const sJP2CodingParameters& cp, unsigned int tileno,
                         unsigned int& x0, unsigned int& y0, unsigned int& x1, unsigned int& y1) {
    unsigned int p = tileno % cp.tw, q = tileno / cp.tw;
    unsigned long long tx0 = (unsigned long long)cp.tx0 + (unsigned long long)p * cp.tdx;
    unsigned long long ty0 = (unsigned long long)cp.ty0 + (unsigned long long)q * cp.tdy;
    x0 = (unsigned int)(tx0 > img.x0 ? tx0 : img.x0);
    y0 = (unsigned int)(ty0 > img.y0 ? ty0 : img.y0);
    x1 = (unsigned int)(tx0 + cp.tdx < img.x1 ? tx0 + cp.tdx : img.x1);
    y1 = (unsigned int)(ty0 + cp.tdy < img.y1 ? ty0 + cp.tdy : img.y1);
}

bool cJP2Tcd::initDecodeTile(unsigned int tileno) {
    if (tileno >= myCp->tw * myCp->th) return false;
    myTileNo = tileno;
    myTcp = &myCp->tcps.ptr[tileno];
    if ((long long)myTcp->tccps.count != (long long)myImage->numcomps) return false;
    tileBounds(*myImage, *myCp, tileno, myX0, myY0, myX1, myY1);
    if (myX0 >= myX1 || myY0 >= myY1) return false;
    if (!myComps.set(myImage->numcomps)) return false;
    long long precincts = 0, cblks = 0;
    for (unsigned int c = 0; c < myImage->numcomps; c++) {
        const sJP2ImageComp& ic = myImage->comps.ptr[c];
        const sJP2Tccp& tccp = myTcp->tccps.ptr[c];
        sJP2TileComp& tc = myComps.ptr[c];
        // Samples are 32-bit: wider precisions (up to 38 bits are allowed) cannot be decoded.
        if (ic.prec > 31) return false;
        tc.x0 = (int)j2kCeilDiv(myX0, ic.dx);
        tc.y0 = (int)j2kCeilDiv(myY0, ic.dy);
        tc.x1 = (int)j2kCeilDiv(myX1, ic.dx);
        tc.y1 = (int)j2kCeilDiv(myY1, ic.dy);
        tc.numresTotal = tccp.numres;
        tc.numres = tccp.numres - myCp->reduce;
        long long n = 0;
        if (!checkedImagePixels(tc.w(), tc.h(), n) || !tc.data.set(n)) return false;
        memset(tc.data.ptr, 0, (size_t)n * sizeof(int));
        if (!tc.resolutions.set(tc.numresTotal)) return false;
        for (unsigned int r = 0; r < tc.numresTotal; r++) {
            sJP2Resolution& res = tc.resolutions.ptr[r];
            unsigned int l = tc.numresTotal - 1 - r;
            res.x0 = (int)ceilDivPow2(tc.x0, l);
            res.y0 = (int)ceilDivPow2(tc.y0, l);
            res.x1 = (int)ceilDivPow2(tc.x1, l);
            res.y1 = (int)ceilDivPow2(tc.y1, l);
            res.pdx = tccp.prcw[r];
            res.pdy = tccp.prch[r];
            // T.800 A.6.1: precinct exponents of 0 are only allowed for the lowest resolution.
            if (r > 0 && (!res.pdx || !res.pdy)) return false;
            res.pw = res.x0 == res.x1 ? 0 : (unsigned int)(ceilDivPow2(res.x1, res.pdx) - floorDivPow2(res.x0, res.pdx));
            res.ph = res.y0 == res.y1 ? 0 : (unsigned int)(ceilDivPow2(res.y1, res.pdy) - floorDivPow2(res.y0, res.pdy));
            long long np = (long long)res.pw * res.ph;
            res.numbands = r == 0 ? 1 : 3;
            precincts += np * res.numbands;
            if (precincts > kMaxPrecinctsPerTile) return false;
            unsigned int ppx = r ? res.pdx - 1 : res.pdx, ppy = r ? res.pdy - 1 : res.pdy;
            unsigned int cbw = tccp.cblkw < ppx ? tccp.cblkw : ppx, cbh = tccp.cblkh < ppy ? tccp.cblkh : ppy;
            long long prcx0 = floorDivPow2(res.x0, res.pdx) << ppx;  // precinct grid origin in band units
            long long prcy0 = floorDivPow2(res.y0, res.pdy) << ppy;
            for (unsigned int b = 0; b < res.numbands; b++) {
                sJP2Band& band = res.bands[b];
                band.bandno = r == 0 ? 0 : b + 1;
                if (r == 0) {
                    band.x0 = res.x0, band.y0 = res.y0, band.x1 = res.x1, band.y1 = res.y1;
                } else {
                    // T.800 B-15: band origin from the tile-component with the band's offset.
                    unsigned int nb = l + 1;
                    long long xo = (band.bandno & 1) ? (1LL << (nb - 1)) : 0;
                    long long yo = (band.bandno & 2) ? (1LL << (nb - 1)) : 0;
                    band.x0 = (int)ceilDivPow2(tc.x0 - xo, nb);
                    band.y0 = (int)ceilDivPow2(tc.y0 - yo, nb);
                    band.x1 = (int)ceilDivPow2(tc.x1 - xo, nb);
                    band.y1 = (int)ceilDivPow2(tc.y1 - yo, nb);
                }
                unsigned int si = r == 0 ? 0 : 3 * (r - 1) + b + 1;
                const sJP2StepSize& ss = tccp.steps[si];
                band.numbps = ss.expn + (int)tccp.numgbits - 1;
                // Irreversible bands: T.800 E.1, halved for the extra low bit of tier 1.
                band.stepsize = (float)((1.0 + ss.mant / 2048.0) * ldexp(1.0, (int)ic.prec - ss.expn) * 0.5);
                if (band.empty() || !np) continue;
                if (!band.precincts.set(np)) return false;
                size_t cbCount = 0;
                for (unsigned int pj = 0; pj < res.ph; pj++)
                    for (unsigned int pi = 0; pi < res.pw; pi++) {
                        sJP2Precinct& prc = band.precincts.ptr[(size_t)pj * res.pw + pi];
                        long long px0 = prcx0 + ((long long)pi << ppx), py0 = prcy0 + ((long long)pj << ppy);
                        long long px1 = px0 + (1LL << ppx), py1 = py0 + (1LL << ppy);
                        prc.x0 = (int)(px0 > band.x0 ? px0 : band.x0);
                        prc.y0 = (int)(py0 > band.y0 ? py0 : band.y0);
                        prc.x1 = (int)(px1 < band.x1 ? px1 : band.x1);
                        prc.y1 = (int)(py1 < band.y1 ? py1 : band.y1);
                        prc.firstCblk = (unsigned int)cbCount;
                        if (prc.x0 >= prc.x1 || prc.y0 >= prc.y1) continue;
                        prc.cw = (unsigned int)(ceilDivPow2(prc.x1, cbw) - floorDivPow2(prc.x0, cbw));
                        prc.ch = (unsigned int)(ceilDivPow2(prc.y1, cbh) - floorDivPow2(prc.y0, cbh));
                        cbCount += (size_t)prc.cw * prc.ch;
                        cblks += (long long)prc.cw * prc.ch;
                        if (cblks > kMaxCblksPerTile) return false;
                        if (!prc.incl.init(prc.cw, prc.ch) || !prc.imsb.init(prc.cw, prc.ch)) return false;
                    }
                if (!band.cblks.set((long long)cbCount)) return false;
                for (long long p = 0; p < band.precincts.count; p++) {
                    const sJP2Precinct& prc = band.precincts.ptr[p];
                    long long cbx0 = floorDivPow2(prc.x0, cbw), cby0 = floorDivPow2(prc.y0, cbh);
                    for (unsigned int j = 0; j < prc.ch; j++)
                        for (unsigned int i = 0; i < prc.cw; i++) {
                            sJP2Cblk& cb = band.cblks.ptr[prc.firstCblk + (size_t)j * prc.cw + i];
                            long long x0 = (cbx0 + i) << cbw, y0 = (cby0 + j) << cbh;
                            long long x1 = x0 + (1LL << cbw), y1 = y0 + (1LL << cbh);
                            cb.x0 = (int)(x0 > prc.x0 ? x0 : prc.x0);
                            cb.y0 = (int)(y0 > prc.y0 ? y0 : prc.y0);
                            cb.x1 = (int)(x1 < prc.x1 ? x1 : prc.x1);
                            cb.y1 = (int)(y1 < prc.y1 ? y1 : prc.y1);
                        }
                }
            }
        }
    }
    return true;
}

// --- decoding sequence ---

bool cJP2Tcd::decodeTile(unsigned int tileno, int threads) {
    if (tileno != myTileNo || !myTcp) return false;
    if (!t2Decode(myTcp->data.ptr, myTcp->dataLen)) return false;
    if (!t1Decode(threads)) return false;
    // The code-blocks are decoded: the tile's coded bytes are not read again, and the wavelet
    // stage and what follows should not carry them.
    myTcp->data.clear();
    myTcp->dataLen = 0;
    if (!dwtDecode(threads)) return false;
    // ISO/IEC 15444-2 array-based transform; the usual ones come with the output pass.
    if (myTcp->mct == 2 && myComps.count >= 3 && myTcp->mctMatrix.count == myComps.count * myComps.count)
        return customMctDecode();
    return true;
}

bool cJP2Tcd::t1Decode(int threads) {
    // One job per code-block; each writes only its own area of its tile component.
    struct sJob {
        unsigned int comp, res, band;
        long long cblk;
    };
    _typebuf<sJob> jobs;
    long long numJobs = 0;
    for (int pass = 0; pass < 2; pass++) {
        // The first pass counts, the second fills.
        if (pass && (!numJobs || !jobs.set(numJobs))) return !numJobs;
        numJobs = 0;
        for (unsigned int c = 0; c < myComps.count; c++) {
            sJP2TileComp& tc = myComps.ptr[c];
            for (unsigned int r = 0; r < tc.numres; r++) {
                sJP2Resolution& res = tc.resolutions.ptr[r];
                for (unsigned int b = 0; b < res.numbands; b++)
                    for (long long k = 0; k < res.bands[b].cblks.count; k++)
                        if (res.bands[b].cblks.ptr[k].numsegs) {
                            if (pass) jobs.ptr[numJobs] = {c, r, b, k};
                            numJobs++;
                        }
            }
        }
    }
    int n = threads < 1 ? 1 : threads;
    // A few code-blocks are decoded on the calling thread; threads start to pay from about
    // eight blocks each.
    long long most = numJobs / 8 + 1;
    if (n > most) n = (int)most;
    // Each thread has its own tier-1 working buffers.
    _classbuf<cJP2Tier1> workers;
    if (!workers.set(n)) return false;
    return pictParallelFor(numJobs, n, [&](long long i, int w) {
        const sJob& j = jobs.ptr[i];
        sJP2TileComp& tc = myComps.ptr[j.comp];
        sJP2Resolution& res = tc.resolutions.ptr[j.res];
        sJP2Band& band = res.bands[j.band];
        const sJP2Tccp& tccp = myTcp->tccps.ptr[j.comp];
        sJP2Cblk& cb = band.cblks.ptr[j.cblk];
        // Place of the code-block in the tile component: HL right of the lower resolution,
        // LH below it, HH both (T.800 F.3.1).
        long long x = cb.x0 - band.x0, y = cb.y0 - band.y0;
        if (band.bandno & 1) x += tc.resolutions.ptr[j.res - 1].x1 - tc.resolutions.ptr[j.res - 1].x0;
        if (band.bandno & 2) y += tc.resolutions.ptr[j.res - 1].y1 - tc.resolutions.ptr[j.res - 1].y0;
        int* dst = tc.data.ptr + y * tc.w() + x;
        return workers.ptr[w].decodeCblk(cb, myTcp->data.ptr, band.bandno, tccp.roishift, tccp.cblksty,
                                         tccp.qmfbid == 1, band.stepsize, dst, tc.w());
    });
}
