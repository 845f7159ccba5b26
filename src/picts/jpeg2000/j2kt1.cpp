// Tier 1: the coding passes of T.800 D.3-D.5 over stripes of four rows. Each column of a
// stripe has one state word: the significance of its four samples and of the rows just above
// and below, each beside its west and east neighbours', so that a sample's neighbourhood is
// one shift and mask of its column's word; then the signs, the visited and the refined flags.
// A border of one column and one stripe on each side takes the neighbour updates without
// bounds tests. Coefficients are kept column by column, four to a stripe column.
#include "picts/jpeg2000/j2kt1.h"

#include <cstring>

namespace {

// The column word. Row r of the stripe (-1 .. 4) has three significance bits at 3 * (r + 1):
// its west neighbour's, its own and its east neighbour's; so rows k - 1 .. k + 1 around
// sample k are the nine bits at 3 * k (NW N NE, W self E, SW S SE from bit 0).
enum : uint32_t {
    kSigAll = 0x3FFFF,                                // every significance bit, rows -1 .. 4
    kSelfAll = 0x2490,                                // the column's own four samples
    kSouthRow = 7u << 15 | 1u << 23,                  // row 4 and its sign (dropped by VSC)
    kVisitAll = 0xFu << 24,
};
constexpr uint32_t selfSig(int k) { return 2u << (3 * (k + 1)); }
constexpr int signShift(int r) { return 19 + r; }  // sign of row r (-1 .. 4): bits 18-23
constexpr uint32_t visited(int k) { return 1u << (24 + k); }
constexpr uint32_t refined(int k) { return 1u << (28 + k); }

// Neighbourhood bits of a window: N, W, E, S significance.
enum : uint32_t { wN = 1u << 1, wW = 1u << 3, wSelf = 1u << 4, wE = 1u << 5, wS = 1u << 7 };

struct sT1Luts {
    uint8_t zc[4][512];  // zero-coding context by orientation and the nine-bit window
    uint8_t sc[256];     // sign context (9..13) and, in bit 7, the sign prediction
    sT1Luts() {
        for (int o = 0; o < 4; o++)
            for (int f = 0; f < 512; f++) {
                auto b = [&](int i) { return (f >> i) & 1; };
                int h = b(3) + b(5), v = b(1) + b(7), d = b(0) + b(2) + b(6) + b(8);
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
        // Index: the window's N, W, E, S significance (bits 1, 3, 5, 7) with the signs of N
        // and S in bits 0 and 2, of W in bit 4 and of E in bit 6.
        for (int i = 0; i < 256; i++) {
            auto contrib = [&](int sigBit, int negBit) { return (i & sigBit) ? ((i & negBit) ? -1 : 1) : 0; };
            int h = contrib(wW, 1 << 4) + contrib(wE, 1 << 6), v = contrib(wN, 1 << 0) + contrib(wS, 1 << 2);
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

// The sign-context index of sample k of the column c (its word w, VSC already applied).
inline unsigned int signIndex(const uint32_t* c, uint32_t w, int k) {
    return ((w >> (3 * k)) & (wN | wW | wE | wS)) | ((w >> (signShift(k) - 1)) & 5) |
           ((c[-1] >> signShift(k)) & 1) << 4 | ((c[1] >> signShift(k)) & 1) << 6;
}

}  // namespace

// A local view of the MQ decoder for one pass: registers by value, contexts in place.
struct sMq {
    cMQDecoder mq;
    unsigned int* ctx;
    sMq(const cMQDecoder& m, unsigned int* contexts) : mq(m), ctx(contexts) {}
    int decode(int cx) { return mq.decodeFlat(ctx[cx]); }
    void store(cMQDecoder& m) const { m = mq; }
};

// The sign of a sample that just became significant (T.800 D.3.2).
inline int mqSign(sMq& mq, const uint32_t* c, uint32_t w, int k) {
    uint8_t s = kLuts.sc[signIndex(c, w, k)];
    return mq.decode(s & 0x7F) ^ (s >> 7);
}

void cJP2Tier1::becomeSignificant(uint32_t* c, int* v, int k, int neg, int bp, int fs) {
    // T.800 E.1.1.2: the reconstruction starts mid-way in the bit-plane; values carry one
    // extra low bit, so 1.5 * 2^bp is stored as 3 << bp.
    const int mag = 3 << bp;
    v[k] = neg ? -mag : mag;
    const int sh = 3 * (k + 1);
    c[-1] |= 4u << sh;
    c[0] |= 2u << sh | (uint32_t)neg << signShift(k);
    c[1] |= 1u << sh;
    // Rows 0 and 3 are also the row below the stripe above and the row above the one below.
    if (k == 0) {
        uint32_t* u = c - fs;
        u[-1] |= 4u << 15;
        u[0] |= 2u << 15 | (uint32_t)neg << signShift(4);
        u[1] |= 1u << 15;
    } else if (k == 3) {
        uint32_t* d = c + fs;
        d[-1] |= 4u;
        d[0] |= 2u | (uint32_t)neg << signShift(-1);
        d[1] |= 1u;
    }
}

// The passes work on a local copy of the MQ decoder so that its registers stay in
// registers; the copy goes back at the end of the pass. Members are read into locals:
// context writes are stores through a pointer, which the compiler must assume could change
// any member.
template <bool Vsc, bool Raw>
void cJP2Tier1::sigPass(int bp) {
    const uint8_t* zc = kLuts.zc[myOrient];
    sMq mq(myMq.regs(), myMq.contexts());
    const int W = myW, H = myH, FS = myFs;
    for (int y0 = 0, s = 0; y0 < H; y0 += 4, s++) {
        const int rows = H - y0 < 4 ? H - y0 : 4;
        uint32_t* c = myFlags.ptr + (size_t)(s + 1) * FS + 1;
        int* v = myData.ptr + (size_t)s * W * 4;
        for (int x = 0; x < W; x++, c++, v += 4) {
            uint32_t w = *c;
            // Nothing significant around, or all four samples significant already.
            if (!(w & kSigAll) || (w & kSelfAll) == kSelfAll) continue;
            auto step = [&](int k) {
                const uint32_t wk = Vsc && k == 3 ? w & ~kSouthRow : w;
                const uint32_t win = (wk >> (3 * k)) & 0x1FF;
                // Insignificant, with a significant neighbour.
                if ((win & wSelf) || !win) return;
                if (Raw ? myRaw.bit() : mq.decode(zc[win])) {
                    const int neg = Raw ? myRaw.bit() : mqSign(mq, c, wk, k);
                    becomeSignificant(c, v, k, neg, bp, FS);
                }
                w = *c |= visited(k);
            };
            if (rows == 4) {
                step(0), step(1), step(2), step(3);
            } else {
                for (int k = 0; k < rows; k++) step(k);
            }
        }
    }
    mq.store(myMq.regs());
}

template <bool Vsc, bool Raw>
void cJP2Tier1::refPass(int bp) {
    sMq mq(myMq.regs(), myMq.contexts());
    const int W = myW, H = myH, FS = myFs;
    const int half = 1 << bp;
    for (int y0 = 0, s = 0; y0 < H; y0 += 4, s++) {
        const int rows = H - y0 < 4 ? H - y0 : 4;
        uint32_t* c = myFlags.ptr + (size_t)(s + 1) * FS + 1;
        int* v = myData.ptr + (size_t)s * W * 4;
        for (int x = 0; x < W; x++, c++, v += 4) {
            uint32_t w = *c;
            if (!(w & kSelfAll)) continue;
            // T.800 D.3.3: significant samples not visited by this bit-plane's significance
            // pass; the bit moves the value half a step up or down.
            auto step = [&](int k) {
                if ((w & (selfSig(k) | visited(k))) != selfSig(k)) return;
                const uint32_t wk = Vsc && k == 3 ? w & ~kSouthRow : w;
                const int cx = (w & refined(k)) ? 16 : ((wk >> (3 * k)) & (0x1FF & ~wSelf)) ? 15 : 14;
                const int bit = Raw ? myRaw.bit() : mq.decode(cx);
                const int d = bit ? half : -half;
                v[k] += v[k] < 0 ? -d : d;
                w |= refined(k);
            };
            if (rows == 4) {
                step(0), step(1), step(2), step(3);
            } else {
                for (int k = 0; k < rows; k++) step(k);
            }
            *c = w;
        }
    }
    mq.store(myMq.regs());
}

template <bool Vsc>
void cJP2Tier1::clnPass(int bp, bool segsym) {
    const uint8_t* zc = kLuts.zc[myOrient];
    sMq mq(myMq.regs(), myMq.contexts());
    const int W = myW, H = myH, FS = myFs;
    for (int y0 = 0, s = 0; y0 < H; y0 += 4, s++) {
        const int rows = H - y0 < 4 ? H - y0 : 4;
        uint32_t* c = myFlags.ptr + (size_t)(s + 1) * FS + 1;
        int* v = myData.ptr + (size_t)s * W * 4;
        for (int x = 0; x < W; x++, c++, v += 4) {
            uint32_t w = *c;
            int k = 0;
            if (rows == 4) {
                // T.800 D.3.4: run-length mode when the whole column and its neighbourhood
                // are insignificant (and none of it was visited).
                const uint32_t wm = Vsc ? w & ~kSouthRow : w;
                if (!(wm & (kSigAll | kVisitAll))) {
                    if (!mq.decode(kCtxRl)) continue;
                    k = mq.decode(kCtxUni) << 1;
                    k |= mq.decode(kCtxUni);
                    const uint32_t wk = Vsc && k == 3 ? w & ~kSouthRow : w;
                    becomeSignificant(c, v, k, mqSign(mq, c, wk, k), bp, FS);
                    w = *c;
                    k++;
                }
            }
            for (; k < rows; k++) {
                if (w & (selfSig(k) | visited(k))) continue;
                const uint32_t wk = Vsc && k == 3 ? w & ~kSouthRow : w;
                if (mq.decode(zc[(wk >> (3 * k)) & 0x1FF])) {
                    becomeSignificant(c, v, k, mqSign(mq, c, wk, k), bp, FS);
                    w = *c;
                }
            }
            *c = w & ~kVisitAll;
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
    const int stripes = (myH + 3) / 4;
    const long long nData = (long long)myW * stripes * 4, nFlags = (long long)myFs * (stripes + 2);
    if (!j2kRoom(myData, nData) || !j2kRoom(myFlags, nFlags)) return false;
    memset(myData.ptr, 0, (size_t)nData * sizeof(int));
    memset(myFlags.ptr, 0, (size_t)nFlags * sizeof(uint32_t));
    myMq.resetStates();
    myRawMode = false;

    // Coefficients carry one extra low bit, so the planes a block codes (its band's planes less
    // its zero planes, raised by the region shift) must leave magnitudes within 31 bits. The
    // band's maximum may pass that: only a block that does is refused.
    if (roishift + cb.numbps > 30) return false;
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

    // ROI de-scaling (T.800 H.1, maxshift), then dequantisation, from the stripe columns to
    // the rows of the tile component.
    const int W = myW, H = myH;
    const int thresh = roishift ? (1 << roishift) : 0;
    for (int y = 0; y < H; y++) {
        const int* src = myData.ptr + (size_t)(y >> 2) * W * 4 + (y & 3);
        int* out = dst + y * stride;
        if (reversible && !roishift) {
            for (int x = 0; x < W; x++) out[x] = src[4 * x] / 2;
            continue;
        }
        for (int x = 0; x < W; x++) {
            int v = src[4 * x];
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
