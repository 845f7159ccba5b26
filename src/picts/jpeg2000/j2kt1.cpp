// Tier 1: the coding passes of T.800 D.3-D.5 over stripes of four rows. Each sample's flag
// word holds its neighbours' significance and signs, kept up to date when a sample becomes
// significant, so contexts come from small tables (T.800 Tables D.1, D.3) without bounds
// tests: the flag array has a one-sample border.
#include "picts/jpeg2000/j2kt1.h"

#include <cstring>

namespace {

enum : uint32_t {
    fNW = 1u << 0, fN = 1u << 1, fNE = 1u << 2, fW = 1u << 3, fE = 1u << 4, fSW = 1u << 5, fS = 1u << 6,
    fSE = 1u << 7,
    fNegN = 1u << 8, fNegS = 1u << 9, fNegW = 1u << 10, fNegE = 1u << 11,
    fSig = 1u << 12, fRefined = 1u << 13, fVisit = 1u << 14,
    fNeighbours = 0xFF,
    fSouth = fSW | fS | fSE | fNegS
};

struct sT1Luts {
    uint8_t zc[4][256];    // zero-coding context by orientation and neighbour significance
    uint8_t sc[256];       // sign context (9..13) and, in bit 7, the sign prediction
    sT1Luts() {
        for (int o = 0; o < 4; o++)
            for (int f = 0; f < 256; f++) {
                int h = !!(f & fW) + !!(f & fE), v = !!(f & fN) + !!(f & fS);
                int d = !!(f & fNW) + !!(f & fNE) + !!(f & fSW) + !!(f & fSE);
                int ctx;
                if (o == 3) {  // HH
                    int hv = h + v;
                    if (d >= 3) ctx = 8;
                    else if (d == 2) ctx = hv >= 1 ? 7 : 6;
                    else if (d == 1) ctx = hv >= 2 ? 5 : hv == 1 ? 4 : 3;
                    else ctx = hv >= 2 ? 2 : hv == 1 ? 1 : 0;
                } else {
                    if (o == 1) {  // HL: horizontal and vertical swap roles
                        int t = h;
                        h = v;
                        v = t;
                    }
                    if (h == 2) ctx = 8;
                    else if (h == 1) ctx = v >= 1 ? 7 : d >= 1 ? 6 : 5;
                    else if (v == 2) ctx = 4;
                    else if (v == 1) ctx = 3;
                    else ctx = d >= 2 ? 2 : d == 1 ? 1 : 0;
                }
                zc[o][f] = (uint8_t)ctx;
            }
        // Index bits: W, E, N, S significant; W, E, N, S negative.
        for (int i = 0; i < 256; i++) {
            auto contrib = [&](int sigBit, int negBit) { return (i & sigBit) ? ((i & negBit) ? -1 : 1) : 0; };
            int h = contrib(1, 16) + contrib(2, 32), v = contrib(4, 64) + contrib(8, 128);
            h = h < -1 ? -1 : h > 1 ? 1 : h;
            v = v < -1 ? -1 : v > 1 ? 1 : v;
            int ctx, x = 0;
            if (h == 0 && v == 0) ctx = 9;
            else if (h == 0) ctx = 10, x = v < 0;
            else {
                ctx = v == 0 ? 12 : (v == h ? 13 : 11);
                x = h < 0;
            }
            sc[i] = (uint8_t)(ctx | (x << 7));
        }
    }
};
const sT1Luts kLuts;

inline unsigned int signIndex(uint32_t f) {
    return ((f >> 3) & 1) | (((f >> 4) & 1) << 1) | (((f >> 1) & 1) << 2) | (((f >> 6) & 1) << 3) |
           (((f >> 10) & 1) << 4) | (((f >> 11) & 1) << 5) | (((f >> 8) & 1) << 6) | (((f >> 9) & 1) << 7);
}

}  // namespace

// A local view of the MQ decoder for one pass: registers by value, contexts in place.
struct sMq {
    cMQDecoder mq;
    unsigned int* ctx;
    sMq(const cMQDecoder& m, unsigned int* contexts) : mq(m), ctx(contexts) {}
    int decode(int cx) { return mq.decode(ctx[cx]); }
    void store(cMQDecoder& m) const { m = mq; }
};

// The sign of a sample that just became significant (T.800 D.3.2).
inline int mqSign(sMq& mq, uint32_t f) {
    uint8_t s = kLuts.sc[signIndex(f)];
    return mq.decode(s & 0x7F) ^ (s >> 7);
}

void cJP2Tier1::becomeSignificant(uint32_t* f, int* v, int neg, int bp, int s) {
    // T.800 E.1.1.2: the reconstruction starts mid-way in the bit-plane; values carry one
    // extra low bit, so 1.5 * 2^bp is stored as 3 << bp.
    int mag = 3 << bp;
    *v = neg ? -mag : mag;
    f[0] |= fSig;
    f[-s - 1] |= fSE;
    f[-s] |= fS | (neg ? (uint32_t)fNegS : 0u);
    f[-s + 1] |= fSW;
    f[-1] |= fE | (neg ? (uint32_t)fNegE : 0u);
    f[1] |= fW | (neg ? (uint32_t)fNegW : 0u);
    f[s - 1] |= fNE;
    f[s] |= fN | (neg ? (uint32_t)fNegN : 0u);
    f[s + 1] |= fNW;
}

// The passes work on a local copy of the MQ decoder so that its registers stay in
// registers; the copy goes back at the end of the pass.
template <bool Vsc, bool Raw>
void cJP2Tier1::sigPass(int bp) {
    const uint8_t* zc = kLuts.zc[myOrient];
    sMq mq(myMq.regs(), myMq.contexts());
    // Members in locals: context writes are stores through a pointer, which the compiler must
    // assume could change any member.
    const int W = myW, H = myH, FS = myFs;
    int* const data = myData.ptr;
    uint32_t* const flags = myFlags.ptr;
    for (int y0 = 0; y0 < H; y0 += 4) {
        int rows = H - y0 < 4 ? H - y0 : 4;
        for (int x = 0; x < W; x++) {
            uint32_t* f = flags + (size_t)(y0 + 1) * FS + x + 1;
            int* v = data + (size_t)y0 * W + x;
#define QMX_SIG_STEP(F, V, LAST)                                                          \
    do {                                                                                  \
        uint32_t fl = *(F);                                                               \
        if (Vsc && (LAST)) fl &= ~fSouth;                                                 \
        if ((fl & (fSig | fNeighbours)) != 0 && !(fl & fSig)) {                           \
            int bit = Raw ? myRaw.bit() : mq.decode(zc[fl & fNeighbours]);                \
            if (bit) becomeSignificant((F), (V), Raw ? myRaw.bit() : mqSign(mq, fl), bp, FS); \
            *(F) |= fVisit;                                                               \
        }                                                                                 \
    } while (0)
            if (rows == 4) {
                // A whole stripe column, unrolled; a column with no insignificant sample next
                // to a significant one has nothing to decode.
                const uint32_t f0 = f[0], f1 = f[FS], f2 = f[2 * FS], f3 = f[3 * FS];
                if (!((f0 | f1 | f2 | f3) & fNeighbours) || (f0 & f1 & f2 & f3 & fSig)) continue;
                QMX_SIG_STEP(f, v, false);
                QMX_SIG_STEP(f + FS, v + W, false);
                QMX_SIG_STEP(f + 2 * FS, v + 2 * W, false);
                QMX_SIG_STEP(f + 3 * FS, v + 3 * W, true);
            } else {
                for (int k = 0; k < rows; k++, f += FS, v += W) QMX_SIG_STEP(f, v, k == 3);
            }
#undef QMX_SIG_STEP
        }
    }
    mq.store(myMq.regs());
}

template <bool Vsc, bool Raw>
void cJP2Tier1::refPass(int bp) {
    sMq mq(myMq.regs(), myMq.contexts());
    // Members in locals: context writes are stores through a pointer, which the compiler must
    // assume could change any member.
    const int W = myW, H = myH, FS = myFs;
    int* const data = myData.ptr;
    uint32_t* const flags = myFlags.ptr;
    for (int y0 = 0; y0 < H; y0 += 4) {
        int rows = H - y0 < 4 ? H - y0 : 4;
        for (int x = 0; x < W; x++) {
            uint32_t* f = flags + (size_t)(y0 + 1) * FS + x + 1;
            int* v = data + (size_t)y0 * W + x;
            // T.800 D.3.3: the bit moves the value half a step up or down.
#define QMX_REF_STEP(F, V, LAST)                                                              \
    do {                                                                                      \
        uint32_t fl = *(F);                                                                   \
        if ((fl & (fSig | fVisit)) == fSig) {                                                 \
            if (Vsc && (LAST)) fl &= ~fSouth;                                                 \
            int bit = Raw ? myRaw.bit() : mq.decode((fl & fRefined) ? 16 : (fl & fNeighbours) ? 15 : 14); \
            int d = bit ? (1 << bp) : -(1 << bp);                                             \
            *(V) += *(V) < 0 ? -d : d;                                                        \
            *(F) |= fRefined;                                                                 \
        }                                                                                     \
    } while (0)
            if (rows == 4) {
                if (!((f[0] | f[FS] | f[2 * FS] | f[3 * FS]) & fSig)) continue;
                QMX_REF_STEP(f, v, false);
                QMX_REF_STEP(f + FS, v + W, false);
                QMX_REF_STEP(f + 2 * FS, v + 2 * W, false);
                QMX_REF_STEP(f + 3 * FS, v + 3 * W, true);
            } else {
                for (int k = 0; k < rows; k++, f += FS, v += W) QMX_REF_STEP(f, v, k == 3);
            }
#undef QMX_REF_STEP
        }
    }
    mq.store(myMq.regs());
}

template <bool Vsc>
void cJP2Tier1::clnPass(int bp, bool segsym) {
    const uint8_t* zc = kLuts.zc[myOrient];
    sMq mq(myMq.regs(), myMq.contexts());
    // Members in locals: context writes are stores through a pointer, which the compiler must
    // assume could change any member.
    const int W = myW, H = myH, FS = myFs;
    int* const data = myData.ptr;
    uint32_t* const flags = myFlags.ptr;
    for (int y0 = 0; y0 < H; y0 += 4) {
        int rows = H - y0 < 4 ? H - y0 : 4;
        for (int x = 0; x < W; x++) {
            uint32_t* f = flags + (size_t)(y0 + 1) * FS + x + 1;
            int* v = data + (size_t)y0 * W + x;
            int k = 0;
            if (rows == 4) {
                // Every sample already significant or visited: only the visits are cleared.
                const uint32_t done = fSig | fVisit;
                if ((f[0] & done) && (f[FS] & done) && (f[2 * FS] & done) && (f[3 * FS] & done)) {
                    f[0] &= ~fVisit, f[FS] &= ~fVisit, f[2 * FS] &= ~fVisit, f[3 * FS] &= ~fVisit;
                    continue;
                }
                // T.800 D.3.4: run-length mode when the whole column and its neighbourhood
                // are insignificant.
                uint32_t f3 = f[3 * FS];
                if (Vsc) f3 &= ~fSouth;
                const uint32_t busy = fSig | fVisit | fNeighbours;
                if (!(f[0] & busy) && !(f[FS] & busy) && !(f[2 * FS] & busy) && !(f3 & busy)) {
                    if (!mq.decode(kCtxRl)) continue;
                    k = mq.decode(kCtxUni) << 1;
                    k |= mq.decode(kCtxUni);
                    uint32_t* fk = f + (size_t)k * FS;
                    uint32_t fl = *fk;
                    if (Vsc && k == 3) fl &= ~fSouth;
                    becomeSignificant(fk, v + (size_t)k * W, mqSign(mq, fl), bp, FS);
                    k++;
                }
            }
            f += (size_t)k * FS;
            v += (size_t)k * W;
            for (; k < rows; k++, f += FS, v += W) {
                uint32_t fl = *f;
                if (fl & (fSig | fVisit)) {
                    *f &= ~fVisit;
                    continue;
                }
                if (Vsc && k == 3) fl &= ~fSouth;
                if (mq.decode(zc[fl & fNeighbours])) becomeSignificant(f, v, mqSign(mq, fl), bp, FS);
            }
        }
    }
    if (segsym) {
        // T.800 D.5: four uniform symbols (1010) end the pass; their value is not checked.
        for (int i = 0; i < 4; i++) mq.decode(kCtxUni);
    }
    mq.store(myMq.regs());
}

bool cJP2Tier1::decodeCblk(const sJP2Cblk& cb, const uint8_t* tileData, unsigned int bandno, unsigned int roishift,
                           unsigned int cblksty, bool reversible, float stepsize, int* dst, long long stride) {
    myW = cb.x1 - cb.x0;
    myH = cb.y1 - cb.y0;
    if (myW <= 0 || myH <= 0 || myW > 1024 || myH > 1024) return false;
    myFs = myW + 2;
    myOrient = bandno;
    const long long nData = (long long)myW * myH, nFlags = (long long)myFs * (myH + 2);
    if (!j2kRoom(myData, nData) || !j2kRoom(myFlags, nFlags)) return false;
    memset(myData.ptr, 0, (size_t)nData * sizeof(int));
    memset(myFlags.ptr, 0, (size_t)nFlags * sizeof(uint32_t));
    myMq.resetStates();
    myRawMode = false;

    int bp = (int)roishift + (int)cb.numbps - 1;
    int passtype = 2;  // 0 significance, 1 refinement, 2 cleanup
    unsigned int passno = 0;
    const bool vsc = (cblksty & kVsc) != 0;
    for (unsigned int s = 0; s < cb.numsegs && bp >= 0; s++) {
        const sJP2Seg& seg = cb.segs.ptr[s];
        if (!seg.numpasses) continue;
        // A segment that came in one packet is read in place; one spread over several packets
        // is gathered first.
        const uint8_t* d = nullptr;
        if (seg.numChunks == 1) {
            d = tileData + cb.chunks.ptr[seg.firstChunk].offset;
        } else if (seg.numChunks > 1) {
            const sJP2Chunk* chunks = cb.chunks.ptr + seg.firstChunk;
            long long total = 0;
            for (unsigned int c = 0; c < seg.numChunks; c++) total += chunks[c].len;
            if (!j2kRoom(myBytes, total)) return false;
            long long at = 0;
            for (unsigned int c = 0; c < seg.numChunks; c++) {
                if (chunks[c].len) memcpy(myBytes.ptr + at, tileData + chunks[c].offset, chunks[c].len);
                at += chunks[c].len;
            }
            d = myBytes.ptr;
        }
        // T.800 D.6: with bypass, significance and refinement passes after the first ten
        // are raw.
        myRawMode = (cblksty & kBypass) && passno >= 10 && passtype != 2;
        if (myRawMode)
            myRaw.init(d, seg.len);
        else
            myMq.initDec(d, seg.len);
        for (unsigned int p = 0; p < seg.numpasses && bp >= 0; p++, passno++) {
            if (passtype == 0) {
                if (vsc)
                    myRawMode ? sigPass<true, true>(bp) : sigPass<true, false>(bp);
                else
                    myRawMode ? sigPass<false, true>(bp) : sigPass<false, false>(bp);
            } else if (passtype == 1) {
                if (vsc)
                    myRawMode ? refPass<true, true>(bp) : refPass<true, false>(bp);
                else
                    myRawMode ? refPass<false, true>(bp) : refPass<false, false>(bp);
            } else {
                if (vsc)
                    clnPass<true>(bp, (cblksty & kSegSym) != 0);
                else
                    clnPass<false>(bp, (cblksty & kSegSym) != 0);
            }
            if ((cblksty & kReset) && !myRawMode) myMq.resetStates();
            if (++passtype == 3) {
                passtype = 0;
                bp--;
            }
        }
    }

    // ROI de-scaling (T.800 H.1, maxshift), then dequantisation.
    const int thresh = roishift ? (1 << roishift) : 0;
    for (int y = 0; y < myH; y++) {
        const int* src = myData.ptr + (size_t)y * myW;
        int* out = dst + y * stride;
        for (int x = 0; x < myW; x++) {
            int v = src[x];
            if (roishift) {
                int mag = v < 0 ? -v : v;
                if (mag >= thresh) v = v < 0 ? -(mag >> roishift) : (mag >> roishift);
            }
            if (reversible) {
                out[x] = v / 2;
            } else {
                float fv = (float)v * stepsize;
                memcpy(&out[x], &fv, sizeof fv);
            }
        }
    }
    return true;
}
