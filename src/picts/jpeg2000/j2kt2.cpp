// Tier 2 (T.800 Annex B): the packets of one tile in every progression order with its
// progression order changes (B.12), packet headers with tag trees, bit stuffing, Lblock and
// codeword segments (B.9, B.10), SOP and EPH markers, packed headers from PPT, and the
// packet bodies gathered per code-block. Code-block data grows as packets add to it.
#include <cstring>

#include "picts/jpeg2000/j2kt1.h"
#include "picts/jpeg2000/j2ktile.h"

namespace {

// Packet header bits with T.800 B.10.1 bit stuffing: after 0xFF a byte carries 7 bits.
// Reading past the end gives 0 bits.
struct sBio {
    const unsigned char* p;
    const unsigned char* end;
    unsigned int buf = 0;
    int ct = 0;
    bool lastFF = false;
    sBio(const unsigned char* s, const unsigned char* e) : p(s), end(e) {}
    int bit() {
        if (ct == 0) {
            bool ff = lastFF;
            buf = p < end ? *p++ : 0;
            lastFF = buf == 0xFF;
            ct = ff ? 7 : 8;
        }
        ct--;
        return (int)((buf >> ct) & 1);
    }
    unsigned int bits(int n) {
        unsigned int v = 0;
        for (int i = 0; i < n; i++) v = (v << 1) | (unsigned int)bit();
        return v;
    }
    // The header ends on a byte boundary; a final 0xFF is followed by a stuffed byte.
    void align() {
        ct = 0;
        if (lastFF) {
            if (p < end) p++;
            lastFF = false;
        }
    }
};

// T.800 Table B.4: the number of coding passes.
unsigned int readNumPasses(sBio& bio) {
    if (!bio.bit()) return 1;
    if (!bio.bit()) return 2;
    unsigned int n = bio.bits(2);
    if (n != 3) return 3 + n;
    n = bio.bits(5);
    if (n != 31) return 6 + n;
    return 37 + bio.bits(7);
}

unsigned int floorLog2(unsigned int v) {
    unsigned int l = 0;
    while (v > 1) v >>= 1, l++;
    return l;
}

// T.800 B.10.7: passes a segment may hold.
unsigned int segMaxPasses(const sJP2Cblk& cb, unsigned int segno, unsigned int cblksty) {
    if (cblksty & cJP2Tier1::kTermAll) return 1;
    if (!(cblksty & cJP2Tier1::kBypass)) return 109;
    if (segno == 0) return 10;
    const sJP2Seg& prev = cb.segs[segno - 1];
    return (prev.maxpasses == 1 || prev.maxpasses == 10) ? 2 : 1;
}

sJP2Seg& openSeg(sJP2Cblk& cb, unsigned int cblksty) {
    if (cb.segs.size() <= cb.numsegs) cb.segs.resize(cb.numsegs + 10);
    sJP2Seg& s = cb.segs[cb.numsegs];
    s = sJP2Seg();
    s.maxpasses = segMaxPasses(cb, cb.numsegs, cblksty);
    cb.numsegs++;
    return s;
}

struct sPacketCtx {
    const unsigned char* data;
    long long len;
    long long pos = 0;
    const unsigned char* ppt = nullptr;  // packed headers, when the tile has them
    long long pptLen = 0;
    long long pptPos = 0;
    unsigned int csty = 0;
};

}  // namespace

namespace {

// Reads one packet (header and body) of precinct prcno of resolution res.
bool readPacket(sPacketCtx& ctx, sJP2Resolution& res, unsigned int prcno, unsigned int layno,
                const sJP2Tccp& tccp) {
    // SOP (T.800 A.8.1): skipped when present.
    if ((ctx.csty & 2) && ctx.pos + 6 <= ctx.len && ctx.data[ctx.pos] == 0xFF && ctx.data[ctx.pos + 1] == 0x91)
        ctx.pos += 6;
    const bool packed = ctx.ppt != nullptr;
    const unsigned char* hs = packed ? ctx.ppt + ctx.pptPos : ctx.data + ctx.pos;
    const unsigned char* he = packed ? ctx.ppt + ctx.pptLen : ctx.data + ctx.len;
    sBio bio(hs, he);
    std::vector<sJP2Cblk*> included;
    bool present = bio.bit() != 0;
    if (present) {
        for (unsigned int b = 0; b < res.numbands; b++) {
            sJP2Band& band = res.bands[b];
            if (band.empty() || band.precincts.empty()) continue;
            sJP2Precinct& prc = band.precincts[prcno];
            unsigned int n = prc.cw * prc.ch;
            for (unsigned int i = 0; i < n; i++) {
                sJP2Cblk& cb = band.cblks[prc.firstCblk + i];
                bool inc;
                if (!cb.included)
                    inc = prc.incl.decode(bio, i, (int)layno + 1);
                else
                    inc = bio.bit() != 0;
                if (!inc) continue;
                if (!cb.included) {
                    // Zero bit-planes (T.800 B.10.5).
                    int zbp = 0;
                    while (!prc.imsb.decode(bio, i, zbp + 1)) {
                        if (++zbp > 74) return false;
                    }
                    if (zbp > band.numbps) return false;
                    cb.numbps = (unsigned int)(band.numbps - zbp);
                    cb.lblock = 3;
                    cb.included = true;
                }
                unsigned int passes = readNumPasses(bio);
                while (bio.bit()) {
                    if (++cb.lblock > 32) return false;
                }
                // T.800 B.10.7: lengths per codeword segment.
                if (!cb.numsegs || cb.segs[cb.numsegs - 1].numpasses + cb.segs[cb.numsegs - 1].newpasses >=
                                       cb.segs[cb.numsegs - 1].maxpasses)
                    openSeg(cb, tccp.cblksty);
                unsigned int segno = cb.numsegs - 1;
                unsigned int left = passes;
                for (;;) {
                    sJP2Seg& s = cb.segs[segno];
                    unsigned int room = s.maxpasses - s.numpasses - s.newpasses;
                    unsigned int take = left < room ? left : room;
                    unsigned int nbits = cb.lblock + floorLog2(take);
                    if (nbits > 32) return false;
                    s.newpasses += take;
                    s.newlen += nbits == 32 ? bio.bits(32) : bio.bits((int)nbits);
                    left -= take;
                    if (!left) break;
                    openSeg(cb, tccp.cblksty);
                    segno = cb.numsegs - 1;
                }
                cb.totalPasses += passes;
                included.push_back(&cb);
            }
        }
    }
    bio.align();
    long long used = bio.p - hs;
    if (packed) {
        ctx.pptPos += used;
        if (ctx.pptPos > ctx.pptLen) ctx.pptPos = ctx.pptLen;
    } else {
        ctx.pos += used;
        if (ctx.pos > ctx.len) {
            if (present) return false;
            ctx.pos = ctx.len;
        }
    }
    // EPH (T.800 A.8.2).
    const unsigned char* e = packed ? ctx.ppt : ctx.data;
    long long& ep = packed ? ctx.pptPos : ctx.pos;
    long long el = packed ? ctx.pptLen : ctx.len;
    if ((ctx.csty & 4) && ep + 2 <= el && e[ep] == 0xFF && e[ep + 1] == 0x92) ep += 2;

    // Packet body: each included code-block's new bytes, segment by segment.
    for (sJP2Cblk* cb : included) {
        for (unsigned int s = 0; s < cb->numsegs; s++) {
            sJP2Seg& seg = cb->segs[s];
            if (!seg.newpasses && !seg.newlen) continue;
            if ((long long)seg.newlen > ctx.len - ctx.pos) return false;
            if (seg.newlen) {
                // Segments fill in order, so each one's chunks follow each other.
                if (!seg.numChunks) seg.firstChunk = (unsigned int)cb->chunks.size();
                cb->chunks.push_back({ctx.pos, seg.newlen});
                seg.numChunks++;
            }
            ctx.pos += seg.newlen;
            seg.len += seg.newlen;
            seg.numpasses += seg.newpasses;
            seg.newlen = seg.newpasses = 0;
        }
    }
    return true;
}

}  // namespace

bool cJP2Tcd::t2Decode(const unsigned char* data, long long len) {
    sPacketCtx ctx;
    ctx.data = data;
    ctx.len = data ? len : 0;
    ctx.csty = myTcp->csty;
    if (myTcp->pptSeen) {
        ctx.ppt = myTcp->ppt.ptr;
        ctx.pptLen = myTcp->pptLen;
    }
    const unsigned int numcomps = (unsigned int)myComps.size();
    unsigned int maxres = 0;
    for (const sJP2TileComp& tc : myComps)
        if (tc.numresTotal > maxres) maxres = tc.numresTotal;

    // Progressions: the POC records, or one over everything.
    sJP2Poc all;
    all.resS = 0, all.resE = maxres, all.compS = 0, all.compE = numcomps, all.layE = myTcp->numlayers;
    all.prg = myTcp->prg;
    const sJP2Poc* pocs = myTcp->pocSeen ? myTcp->pocs : &all;
    unsigned int npocs = myTcp->pocSeen ? myTcp->numpocs : 1;

    // With several progressions a packet may be named twice; the first one reads it.
    // Offsets of each (component, resolution) in a per-layer table of precincts.
    std::vector<long long> base((size_t)numcomps * maxres, 0);
    long long perLayer = 0;
    for (unsigned int c = 0; c < numcomps; c++)
        for (unsigned int r = 0; r < myComps[c].numresTotal; r++) {
            base[(size_t)c * maxres + r] = perLayer;
            perLayer += (long long)myComps[c].resolutions[r].pw * myComps[c].resolutions[r].ph;
        }
    std::vector<bool> seen;
    if (npocs > 1) {
        long long n = perLayer * myTcp->numlayers;
        if (n > (1LL << 30)) return false;
        seen.assign((size_t)n, false);
    }
    auto packet = [&](unsigned int l, unsigned int r, unsigned int c, unsigned int p) -> bool {
        if (npocs > 1) {
            size_t k = (size_t)(l * perLayer + base[(size_t)c * maxres + r] + p);
            if (seen[k]) return true;
            seen[k] = true;
        }
        return readPacket(ctx, myComps[c].resolutions[r], p, l, myTcp->tccps.ptr[c]);
    };
    // Once every byte is used (and no packed headers remain) the remaining packets are empty.
    auto exhausted = [&]() { return ctx.pos >= ctx.len && (!ctx.ppt || ctx.pptPos >= ctx.pptLen); };

    // Position-driven orders (T.800 B.12.1.3-B.12.1.5): positions on the reference grid,
    // stepping to the next precinct corner of any component and resolution.
    const long long tx0 = myX0, ty0 = myY0, tx1 = myX1, ty1 = myY1;
    // The precinct of component c, resolution r at (x, y), or -1 when no precinct starts there.
    auto precinctAt = [&](unsigned int c, unsigned int r, long long x, long long y) -> long long {
        const sJP2TileComp& tc = myComps[c];
        const sJP2Resolution& res = tc.resolutions[r];
        if (!res.pw || !res.ph) return -1;
        const sJP2ImageComp& ic = myImage->comps.ptr[c];
        unsigned int lev = tc.numresTotal - 1 - r;
        unsigned int rpx = res.pdx + lev, rpy = res.pdy + lev;
        long long sx = (long long)ic.dx << rpx, sy = (long long)ic.dy << rpy;
        bool okY = (y % sy == 0) || (y == ty0 && (((long long)res.y0 << lev) % (1LL << rpy)) != 0);
        bool okX = (x % sx == 0) || (x == tx0 && (((long long)res.x0 << lev) % (1LL << rpx)) != 0);
        if (!okX || !okY) return -1;
        long long cx = ((x + ((long long)ic.dx << lev) - 1) / ((long long)ic.dx << lev));
        long long cy = ((y + ((long long)ic.dy << lev) - 1) / ((long long)ic.dy << lev));
        long long pi = (cx >> res.pdx) - ((long long)res.x0 >> res.pdx);
        long long pj = (cy >> res.pdy) - ((long long)res.y0 >> res.pdy);
        if (pi < 0 || pj < 0 || pi >= res.pw || pj >= res.ph) return -1;
        return pi + pj * res.pw;
    };
    auto steps = [&](unsigned int c0, unsigned int c1, long long& sx, long long& sy) {
        sx = sy = 1LL << 62;
        for (unsigned int c = c0; c < c1; c++) {
            const sJP2TileComp& tc = myComps[c];
            const sJP2ImageComp& ic = myImage->comps.ptr[c];
            for (unsigned int r = 0; r < tc.numresTotal; r++) {
                unsigned int lev = tc.numresTotal - 1 - r;
                const sJP2Resolution& res = tc.resolutions[r];
                long long x = (long long)ic.dx << (res.pdx + lev), y = (long long)ic.dy << (res.pdy + lev);
                if (x < sx) sx = x;
                if (y < sy) sy = y;
            }
        }
    };
    // Hostile precinct sizes could make the position grid enormous.
    auto tooMany = [&](long long sx, long long sy, unsigned int inner) {
        long long nx = (tx1 - tx0) / sx + 2, ny = (ty1 - ty0) / sy + 2;
        return nx > (1LL << 28) || ny > (1LL << 28) || nx * ny * inner > (1LL << 28);
    };
    auto layers = [&](unsigned int r, unsigned int c, long long p, unsigned int layE) {
        for (unsigned int l = 0; l < layE; l++)
            if (!packet(l, r, c, (unsigned int)p)) return false;
        return true;
    };
    auto nextPos = [](long long v, long long step) { return v + step - v % step; };
    auto position = [&](const sJP2Poc& poc, unsigned int resE, unsigned int compE, unsigned int layE) -> bool {
        long long sx, sy;
        if (poc.compS >= compE) return true;
        if (poc.prg == 2) {  // RPCL
            steps(0, numcomps, sx, sy);
            if (tooMany(sx, sy, (compE - poc.compS) * (resE > poc.resS ? resE - poc.resS : 0))) return false;
            for (unsigned int r = poc.resS; r < resE; r++)
                for (long long y = ty0; y < ty1; y = nextPos(y, sy))
                    for (long long x = tx0; x < tx1; x = nextPos(x, sx))
                        for (unsigned int c = poc.compS; c < compE; c++) {
                            if (r >= myComps[c].numresTotal) continue;
                            long long p = precinctAt(c, r, x, y);
                            if (p >= 0 && !layers(r, c, p, layE)) return false;
                            if (exhausted()) return true;
                        }
        } else if (poc.prg == 3) {  // PCRL
            steps(0, numcomps, sx, sy);
            if (tooMany(sx, sy, (compE - poc.compS) * maxres)) return false;
            for (long long y = ty0; y < ty1; y = nextPos(y, sy))
                for (long long x = tx0; x < tx1; x = nextPos(x, sx))
                    for (unsigned int c = poc.compS; c < compE; c++) {
                        unsigned int re = resE < myComps[c].numresTotal ? resE : myComps[c].numresTotal;
                        for (unsigned int r = poc.resS; r < re; r++) {
                            long long p = precinctAt(c, r, x, y);
                            if (p >= 0 && !layers(r, c, p, layE)) return false;
                            if (exhausted()) return true;
                        }
                    }
        } else {  // CPRL
            for (unsigned int c = poc.compS; c < compE; c++) {
                steps(c, c + 1, sx, sy);
                if (tooMany(sx, sy, maxres)) return false;
                unsigned int re = resE < myComps[c].numresTotal ? resE : myComps[c].numresTotal;
                for (long long y = ty0; y < ty1; y = nextPos(y, sy))
                    for (long long x = tx0; x < tx1; x = nextPos(x, sx))
                        for (unsigned int r = poc.resS; r < re; r++) {
                            long long p = precinctAt(c, r, x, y);
                            if (p >= 0 && !layers(r, c, p, layE)) return false;
                            if (exhausted()) return true;
                        }
            }
        }
        return true;
    };

    for (unsigned int pi = 0; pi < npocs; pi++) {
        const sJP2Poc& poc = pocs[pi];
        unsigned int resE = poc.resE < maxres ? poc.resE : maxres;
        unsigned int compE = poc.compE < numcomps ? poc.compE : numcomps;
        unsigned int layE = poc.layE < myTcp->numlayers ? poc.layE : myTcp->numlayers;
        bool ok = true;
        switch (poc.prg) {
            case 0:  // LRCP
                for (unsigned int l = 0; l < layE && ok; l++)
                    for (unsigned int r = poc.resS; r < resE && ok; r++)
                        for (unsigned int c = poc.compS; c < compE && ok; c++) {
                            if (r >= myComps[c].numresTotal) continue;
                            const sJP2Resolution& res = myComps[c].resolutions[r];
                            for (unsigned int p = 0; p < res.pw * res.ph && ok; p++) ok = packet(l, r, c, p);
                            if (exhausted()) return true;
                        }
                break;
            case 1:  // RLCP
                for (unsigned int r = poc.resS; r < resE && ok; r++)
                    for (unsigned int l = 0; l < layE && ok; l++)
                        for (unsigned int c = poc.compS; c < compE && ok; c++) {
                            if (r >= myComps[c].numresTotal) continue;
                            const sJP2Resolution& res = myComps[c].resolutions[r];
                            for (unsigned int p = 0; p < res.pw * res.ph && ok; p++) ok = packet(l, r, c, p);
                            if (exhausted()) return true;
                        }
                break;
            case 2:  // RPCL
            case 3:  // PCRL
            case 4:  // CPRL
                ok = position(poc, resE, compE, layE);
                break;
            default:  // not a progression: no packets
                break;
        }
        if (!ok) return false;
    }
    return true;
}
