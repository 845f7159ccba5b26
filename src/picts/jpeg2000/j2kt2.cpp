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
class cJP2Bio {
public:
    cJP2Bio(const unsigned char* s, const unsigned char* e) : myPos(s), myEnd(e) {}
    int bit() {
        if (myCt == 0) {
            bool ff = myLastFF;
            myBuf = myPos < myEnd ? *myPos++ : 0;
            myLastFF = myBuf == 0xFF;
            myCt = ff ? 7 : 8;
        }
        myCt--;
        return (int)((myBuf >> myCt) & 1);
    }
    unsigned int bits(int n) {
        unsigned int v = 0;
        for (int i = 0; i < n; i++) v = (v << 1) | (unsigned int)bit();
        return v;
    }
    // The header ends on a byte boundary; a final 0xFF is followed by a stuffed byte.
    void align() {
        myCt = 0;
        if (myLastFF) {
            if (myPos < myEnd) myPos++;
            myLastFF = false;
        }
    }
    // Bytes taken so far, the stuffed byte of align() included.
    long long used(const unsigned char* start) const { return myPos - start; }

private:
    const unsigned char* myPos;
    const unsigned char* myEnd;
    unsigned int myBuf = 0;
    int myCt = 0;
    bool myLastFF = false;
};

// T.800 Table B.4: the number of coding passes.
unsigned int readNumPasses(cJP2Bio& bio) {
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
    const sJP2Seg& prev = cb.segs.ptr[segno - 1];
    return (prev.maxpasses == 1 || prev.maxpasses == 10) ? 2 : 1;
}

// False when there is no memory for the segment.
bool openSeg(sJP2Cblk& cb, unsigned int cblksty) {
    if (cb.segs.count <= cb.numsegs && !cb.segs.reset(cb.numsegs + 10LL)) return false;
    sJP2Seg& s = cb.segs.ptr[cb.numsegs];
    s = sJP2Seg();
    s.maxpasses = segMaxPasses(cb, cb.numsegs, cblksty);
    cb.numsegs++;
    return true;
}

// The packet iterator of one tile (T.800 B.12): each progression of the tile (its POC
// records, or one over everything) walked in its order, each packet handed to a visitor.
// With several progressions a packet may be named twice; the include table lets only the
// first one through.
class cJP2PiIterator {
public:
    // How a progression's walk ended: a packet failed, every packet was visited, or the
    // tile's data ran out in a layer- or resolution-driven order (which ends the tile).
    enum eWalk { wkFailed, wkDone, wkDataUsed };

    cJP2PiIterator(const cJP2Image& image, const cJP2Tcp& tcp, const _classbuf<sJP2TileComp>& comps, long long x0,
                   long long y0, long long x1, long long y1);
    cJP2PiIterator(const cJP2PiIterator&) = delete;  // myPocs may point at myAll
    cJP2PiIterator& operator=(const cJP2PiIterator&) = delete;
    // The include table, when there are several progressions; false when it is too large.
    bool create();
    unsigned int progressions() const { return myNpocs; }
    // Progression i. visit(layer, resolution, component, precinct) reads one packet, false
    // failing the walk; used() tells that every byte is used, so the remaining packets are empty.
    template <class Visit, class Used>
    eWalk walk(unsigned int i, Visit& visit, Used& used);

private:
    template <class Visit>
    bool include(unsigned int l, unsigned int r, unsigned int c, unsigned int p, Visit& visit);
    // The precinct of component c, resolution r at (x, y), or -1 when no precinct starts there.
    long long precinctAt(unsigned int c, unsigned int r, long long x, long long y) const;
    // The smallest precinct steps on the reference grid over components c0 .. c1 - 1.
    void steps(unsigned int c0, unsigned int c1, long long& sx, long long& sy) const;
    // Hostile precinct sizes could make the position grid enormous.
    bool tooMany(long long sx, long long sy, unsigned int inner) const;
    static long long nextPos(long long v, long long step) { return v + step - v % step; }
    template <class Visit>
    bool layers(unsigned int r, unsigned int c, long long p, unsigned int layE, Visit& visit) {
        for (unsigned int l = 0; l < layE; l++)
            if (!include(l, r, c, (unsigned int)p, visit)) return false;
        return true;
    }
    template <class Visit, class Used>
    eWalk walkLRCP(const sJP2Poc& poc, unsigned int resE, unsigned int compE, unsigned int layE, Visit& visit,
                   Used& used);
    template <class Visit, class Used>
    eWalk walkRLCP(const sJP2Poc& poc, unsigned int resE, unsigned int compE, unsigned int layE, Visit& visit,
                   Used& used);
    template <class Visit, class Used>
    eWalk walkRPCL(const sJP2Poc& poc, unsigned int resE, unsigned int compE, unsigned int layE, Visit& visit,
                   Used& used);
    template <class Visit, class Used>
    eWalk walkPCRL(const sJP2Poc& poc, unsigned int resE, unsigned int compE, unsigned int layE, Visit& visit,
                   Used& used);
    template <class Visit, class Used>
    eWalk walkCPRL(const sJP2Poc& poc, unsigned int resE, unsigned int compE, unsigned int layE, Visit& visit,
                   Used& used);

    const cJP2Image& myImage;
    const cJP2Tcp& myTcp;
    const _classbuf<sJP2TileComp>& myComps;
    const long long myX0, myY0, myX1, myY1;
    unsigned int myNumcomps = 0;
    unsigned int myMaxres = 0;
    sJP2Poc myAll;  // the one progression without POC records
    const sJP2Poc* myPocs = nullptr;
    unsigned int myNpocs = 1;
    // Offsets of each (component, resolution) in a per-layer table of precincts.
    _typebuf<long long> myBase;
    long long myPerLayer = 0;
    _typebuf<uint32_t> myIncluded;  // one bit per (layer, precinct)
};

cJP2PiIterator::cJP2PiIterator(const cJP2Image& image, const cJP2Tcp& tcp, const _classbuf<sJP2TileComp>& comps,
                               long long x0, long long y0, long long x1, long long y1)
    : myImage(image), myTcp(tcp), myComps(comps), myX0(x0), myY0(y0), myX1(x1), myY1(y1) {
    myNumcomps = (unsigned int)comps.count;
    for (unsigned int c = 0; c < myNumcomps; c++)
        if (comps.ptr[c].numresTotal > myMaxres) myMaxres = comps.ptr[c].numresTotal;
    myAll.resS = 0, myAll.resE = myMaxres, myAll.compS = 0, myAll.compE = myNumcomps, myAll.layE = tcp.numlayers;
    myAll.prg = tcp.prg;
    myPocs = tcp.pocSeen ? tcp.pocs : &myAll;
    myNpocs = tcp.pocSeen ? tcp.numpocs : 1;
}

bool cJP2PiIterator::create() {
    if (!myNumcomps || !myMaxres || !myBase.set((long long)myNumcomps * myMaxres)) return false;
    myBase.zero();
    myPerLayer = 0;
    for (unsigned int c = 0; c < myNumcomps; c++)
        for (unsigned int r = 0; r < myComps.ptr[c].numresTotal; r++) {
            const sJP2Resolution& res = myComps.ptr[c].resolutions.ptr[r];
            myBase.ptr[(size_t)c * myMaxres + r] = myPerLayer;
            myPerLayer += (long long)res.pw * res.ph;
        }
    if (myNpocs > 1) {
        long long n = myPerLayer * myTcp.numlayers;
        if (n > (1LL << 30)) return false;
        if (!myIncluded.set(n / 32 + 1)) return false;
        myIncluded.zero();
    }
    return true;
}

template <class Visit>
bool cJP2PiIterator::include(unsigned int l, unsigned int r, unsigned int c, unsigned int p, Visit& visit) {
    if (myNpocs > 1) {
        size_t k = (size_t)(l * myPerLayer + myBase.ptr[(size_t)c * myMaxres + r] + p);
        uint32_t& word = myIncluded.ptr[k / 32];
        const uint32_t bit = 1u << (k % 32);
        if (word & bit) return true;
        word |= bit;
    }
    return visit(l, r, c, p);
}

// Position-driven orders (T.800 B.12.1.3-B.12.1.5): positions on the reference grid,
// stepping to the next precinct corner of any component and resolution.
long long cJP2PiIterator::precinctAt(unsigned int c, unsigned int r, long long x, long long y) const {
    const sJP2TileComp& tc = myComps.ptr[c];
    const sJP2Resolution& res = tc.resolutions.ptr[r];
    if (!res.pw || !res.ph) return -1;
    const sJP2ImageComp& ic = myImage.comps.ptr[c];
    unsigned int lev = tc.numresTotal - 1 - r;
    unsigned int rpx = res.pdx + lev, rpy = res.pdy + lev;
    long long sx = (long long)ic.dx << rpx, sy = (long long)ic.dy << rpy;
    bool okY = (y % sy == 0) || (y == myY0 && (((long long)res.y0 << lev) % (1LL << rpy)) != 0);
    bool okX = (x % sx == 0) || (x == myX0 && (((long long)res.x0 << lev) % (1LL << rpx)) != 0);
    if (!okX || !okY) return -1;
    long long cx = ((x + ((long long)ic.dx << lev) - 1) / ((long long)ic.dx << lev));
    long long cy = ((y + ((long long)ic.dy << lev) - 1) / ((long long)ic.dy << lev));
    long long pi = (cx >> res.pdx) - ((long long)res.x0 >> res.pdx);
    long long pj = (cy >> res.pdy) - ((long long)res.y0 >> res.pdy);
    if (pi < 0 || pj < 0 || pi >= res.pw || pj >= res.ph) return -1;
    return pi + pj * res.pw;
}

void cJP2PiIterator::steps(unsigned int c0, unsigned int c1, long long& sx, long long& sy) const {
    sx = sy = 1LL << 62;
    for (unsigned int c = c0; c < c1; c++) {
        const sJP2TileComp& tc = myComps.ptr[c];
        const sJP2ImageComp& ic = myImage.comps.ptr[c];
        for (unsigned int r = 0; r < tc.numresTotal; r++) {
            unsigned int lev = tc.numresTotal - 1 - r;
            const sJP2Resolution& res = tc.resolutions.ptr[r];
            long long x = (long long)ic.dx << (res.pdx + lev), y = (long long)ic.dy << (res.pdy + lev);
            if (x < sx) sx = x;
            if (y < sy) sy = y;
        }
    }
}

bool cJP2PiIterator::tooMany(long long sx, long long sy, unsigned int inner) const {
    long long nx = (myX1 - myX0) / sx + 2, ny = (myY1 - myY0) / sy + 2;
    return nx > (1LL << 28) || ny > (1LL << 28) || nx * ny * inner > (1LL << 28);
}

template <class Visit, class Used>
cJP2PiIterator::eWalk cJP2PiIterator::walkLRCP(const sJP2Poc& poc, unsigned int resE, unsigned int compE,
                                               unsigned int layE, Visit& visit, Used& used) {
    bool ok = true;
    for (unsigned int l = 0; l < layE && ok; l++)
        for (unsigned int r = poc.resS; r < resE && ok; r++)
            for (unsigned int c = poc.compS; c < compE && ok; c++) {
                if (r >= myComps.ptr[c].numresTotal) continue;
                const sJP2Resolution& res = myComps.ptr[c].resolutions.ptr[r];
                for (unsigned int p = 0; p < res.pw * res.ph && ok; p++) ok = include(l, r, c, p, visit);
                if (used()) return wkDataUsed;
            }
    return ok ? wkDone : wkFailed;
}

template <class Visit, class Used>
cJP2PiIterator::eWalk cJP2PiIterator::walkRLCP(const sJP2Poc& poc, unsigned int resE, unsigned int compE,
                                               unsigned int layE, Visit& visit, Used& used) {
    bool ok = true;
    for (unsigned int r = poc.resS; r < resE && ok; r++)
        for (unsigned int l = 0; l < layE && ok; l++)
            for (unsigned int c = poc.compS; c < compE && ok; c++) {
                if (r >= myComps.ptr[c].numresTotal) continue;
                const sJP2Resolution& res = myComps.ptr[c].resolutions.ptr[r];
                for (unsigned int p = 0; p < res.pw * res.ph && ok; p++) ok = include(l, r, c, p, visit);
                if (used()) return wkDataUsed;
            }
    return ok ? wkDone : wkFailed;
}

template <class Visit, class Used>
cJP2PiIterator::eWalk cJP2PiIterator::walkRPCL(const sJP2Poc& poc, unsigned int resE, unsigned int compE,
                                               unsigned int layE, Visit& visit, Used& used) {
    long long sx, sy;
    steps(0, myNumcomps, sx, sy);
    if (tooMany(sx, sy, (compE - poc.compS) * (resE > poc.resS ? resE - poc.resS : 0))) return wkFailed;
    for (unsigned int r = poc.resS; r < resE; r++)
        for (long long y = myY0; y < myY1; y = nextPos(y, sy))
            for (long long x = myX0; x < myX1; x = nextPos(x, sx))
                for (unsigned int c = poc.compS; c < compE; c++) {
                    if (r >= myComps.ptr[c].numresTotal) continue;
                    long long p = precinctAt(c, r, x, y);
                    if (p >= 0 && !layers(r, c, p, layE, visit)) return wkFailed;
                    if (used()) return wkDone;
                }
    return wkDone;
}

template <class Visit, class Used>
cJP2PiIterator::eWalk cJP2PiIterator::walkPCRL(const sJP2Poc& poc, unsigned int resE, unsigned int compE,
                                               unsigned int layE, Visit& visit, Used& used) {
    long long sx, sy;
    steps(0, myNumcomps, sx, sy);
    if (tooMany(sx, sy, (compE - poc.compS) * myMaxres)) return wkFailed;
    for (long long y = myY0; y < myY1; y = nextPos(y, sy))
        for (long long x = myX0; x < myX1; x = nextPos(x, sx))
            for (unsigned int c = poc.compS; c < compE; c++) {
                unsigned int re = resE < myComps.ptr[c].numresTotal ? resE : myComps.ptr[c].numresTotal;
                for (unsigned int r = poc.resS; r < re; r++) {
                    long long p = precinctAt(c, r, x, y);
                    if (p >= 0 && !layers(r, c, p, layE, visit)) return wkFailed;
                    if (used()) return wkDone;
                }
            }
    return wkDone;
}

template <class Visit, class Used>
cJP2PiIterator::eWalk cJP2PiIterator::walkCPRL(const sJP2Poc& poc, unsigned int resE, unsigned int compE,
                                               unsigned int layE, Visit& visit, Used& used) {
    long long sx, sy;
    for (unsigned int c = poc.compS; c < compE; c++) {
        steps(c, c + 1, sx, sy);
        if (tooMany(sx, sy, myMaxres)) return wkFailed;
        unsigned int re = resE < myComps.ptr[c].numresTotal ? resE : myComps.ptr[c].numresTotal;
        for (long long y = myY0; y < myY1; y = nextPos(y, sy))
            for (long long x = myX0; x < myX1; x = nextPos(x, sx))
                for (unsigned int r = poc.resS; r < re; r++) {
                    long long p = precinctAt(c, r, x, y);
                    if (p >= 0 && !layers(r, c, p, layE, visit)) return wkFailed;
                    if (used()) return wkDone;
                }
    }
    return wkDone;
}

template <class Visit, class Used>
cJP2PiIterator::eWalk cJP2PiIterator::walk(unsigned int i, Visit& visit, Used& used) {
    const sJP2Poc& poc = myPocs[i];
    unsigned int resE = poc.resE < myMaxres ? poc.resE : myMaxres;
    unsigned int compE = poc.compE < myNumcomps ? poc.compE : myNumcomps;
    unsigned int layE = poc.layE < myTcp.numlayers ? poc.layE : myTcp.numlayers;
    // The position-driven orders have nothing to walk without components.
    if (poc.prg >= 2 && poc.prg <= 4 && poc.compS >= compE) return wkDone;
    switch (poc.prg) {
        case 0: return walkLRCP(poc, resE, compE, layE, visit, used);
        case 1: return walkRLCP(poc, resE, compE, layE, visit, used);
        case 2: return walkRPCL(poc, resE, compE, layE, visit, used);
        case 3: return walkPCRL(poc, resE, compE, layE, visit, used);
        case 4: return walkCPRL(poc, resE, compE, layE, visit, used);
        default: return wkDone;  // not a progression: no packets
    }
}

// Tier 2 of one tile: its packets in the progression orders of the tile's parameters, each
// packet's header read and its body's bytes handed to the code-blocks the header names.
class cJP2Tier2 {
public:
    cJP2Tier2(const cJP2Image& image, const cJP2Tcp& tcp) : myImage(image), myTcp(tcp) {}

    // Every packet of the tile in data (len bytes) whose bounds on the reference grid are
    // x0, y0, x1, y1 and whose components are comps.
    bool decodePackets(_classbuf<sJP2TileComp>& comps, long long x0, long long y0, long long x1, long long y1,
                       const unsigned char* data, long long len);

private:
    // One packet (header and body) of precinct prcno of resolution res.
    bool decodePacket(sJP2Resolution& res, unsigned int prcno, unsigned int layno, const sJP2Tccp& tccp);
    // The header: lists in myIncluded the code-blocks that have bytes in the body.
    bool readPacketHeader(sJP2Resolution& res, unsigned int prcno, unsigned int layno, const sJP2Tccp& tccp);
    bool readPacketData();

    const cJP2Image& myImage;
    const cJP2Tcp& myTcp;
    const unsigned char* myData = nullptr;
    long long myLen = 0;
    long long myPos = 0;
    const unsigned char* myPpt = nullptr;  // packed headers, when the tile has them
    long long myPptLen = 0;
    long long myPptPos = 0;
    unsigned int myCsty = 0;
    _typebuf<sJP2Cblk*> myIncluded;  // of the packet being read, kept from packet to packet
    long long myNumIncluded = 0;
};

bool cJP2Tier2::decodePacket(sJP2Resolution& res, unsigned int prcno, unsigned int layno, const sJP2Tccp& tccp) {
    myNumIncluded = 0;
    return readPacketHeader(res, prcno, layno, tccp) && readPacketData();
}

bool cJP2Tier2::readPacketHeader(sJP2Resolution& res, unsigned int prcno, unsigned int layno, const sJP2Tccp& tccp) {
    // SOP (T.800 A.8.1): skipped when present.
    if ((myCsty & 2) && myPos + 6 <= myLen && myData[myPos] == 0xFF && myData[myPos + 1] == 0x91)
        myPos += 6;
    const bool packed = myPpt != nullptr;
    const unsigned char* hs = packed ? myPpt + myPptPos : myData + myPos;
    const unsigned char* he = packed ? myPpt + myPptLen : myData + myLen;
    cJP2Bio bio(hs, he);
    bool present = bio.bit() != 0;
    if (present) {
        for (unsigned int b = 0; b < res.numbands; b++) {
            sJP2Band& band = res.bands[b];
            if (band.empty() || !band.precincts.count) continue;
            sJP2Precinct& prc = band.precincts.ptr[prcno];
            unsigned int n = prc.cw * prc.ch;
            for (unsigned int i = 0; i < n; i++) {
                sJP2Cblk& cb = band.cblks.ptr[prc.firstCblk + i];
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
                if ((!cb.numsegs || cb.segs.ptr[cb.numsegs - 1].numpasses + cb.segs.ptr[cb.numsegs - 1].newpasses >=
                                        cb.segs.ptr[cb.numsegs - 1].maxpasses) &&
                    !openSeg(cb, tccp.cblksty))
                    return false;
                unsigned int segno = cb.numsegs - 1;
                unsigned int left = passes;
                for (;;) {
                    sJP2Seg& s = cb.segs.ptr[segno];
                    unsigned int room = s.maxpasses - s.numpasses - s.newpasses;
                    unsigned int take = left < room ? left : room;
                    unsigned int nbits = cb.lblock + floorLog2(take);
                    if (nbits > 32) return false;
                    s.newpasses += take;
                    s.newlen += nbits == 32 ? bio.bits(32) : bio.bits((int)nbits);
                    left -= take;
                    if (!left) break;
                    if (!openSeg(cb, tccp.cblksty)) return false;
                    segno = cb.numsegs - 1;
                }
                cb.totalPasses += passes;
                if (!j2kRoom(myIncluded, myNumIncluded + 1)) return false;
                myIncluded.ptr[myNumIncluded++] = &cb;
            }
        }
    }
    bio.align();
    long long used = bio.used(hs);
    if (packed) {
        myPptPos += used;
        if (myPptPos > myPptLen) myPptPos = myPptLen;
    } else {
        myPos += used;
        if (myPos > myLen) {
            if (present) return false;
            myPos = myLen;
        }
    }
    // EPH (T.800 A.8.2).
    const unsigned char* e = packed ? myPpt : myData;
    long long& ep = packed ? myPptPos : myPos;
    long long el = packed ? myPptLen : myLen;
    if ((myCsty & 4) && ep + 2 <= el && e[ep] == 0xFF && e[ep + 1] == 0x92) ep += 2;
    return true;
}

// The body: each included code-block's new bytes, segment by segment.
bool cJP2Tier2::readPacketData() {
    for (long long i = 0; i < myNumIncluded; i++) {
        sJP2Cblk* cb = myIncluded.ptr[i];
        for (unsigned int s = 0; s < cb->numsegs; s++) {
            sJP2Seg& seg = cb->segs.ptr[s];
            if (!seg.newpasses && !seg.newlen) continue;
            if ((long long)seg.newlen > myLen - myPos) return false;
            if (seg.newlen) {
                // Segments fill in order, so each one's chunks follow each other.
                if (!seg.numChunks) seg.firstChunk = cb->numChunks;
                if (!j2kRoom(cb->chunks, cb->numChunks + 1LL)) return false;
                cb->chunks.ptr[cb->numChunks++] = {myPos, seg.newlen};
                seg.numChunks++;
            }
            myPos += seg.newlen;
            seg.len += seg.newlen;
            seg.numpasses += seg.newpasses;
            seg.newlen = seg.newpasses = 0;
        }
    }
    return true;
}

bool cJP2Tier2::decodePackets(_classbuf<sJP2TileComp>& comps, long long x0, long long y0, long long x1,
                              long long y1, const unsigned char* data, long long len) {
    myData = data;
    myLen = data ? len : 0;
    myCsty = myTcp.csty;
    if (myTcp.pptSeen) {
        myPpt = myTcp.ppt.ptr;
        myPptLen = myTcp.pptLen;
    }
    cJP2PiIterator pi(myImage, myTcp, comps, x0, y0, x1, y1);
    if (!pi.create()) return false;
    auto visit = [&](unsigned int l, unsigned int r, unsigned int c, unsigned int p) {
        return decodePacket(comps.ptr[c].resolutions.ptr[r], p, l, myTcp.tccps.ptr[c]);
    };
    // Once every byte is used (and no packed headers remain) the remaining packets are empty.
    auto used = [&]() { return myPos >= myLen && (!myPpt || myPptPos >= myPptLen); };
    for (unsigned int i = 0; i < pi.progressions(); i++) {
        cJP2PiIterator::eWalk w = pi.walk(i, visit, used);
        if (w == cJP2PiIterator::wkFailed) return false;
        if (w == cJP2PiIterator::wkDataUsed) return true;
    }
    return true;
}

}  // namespace

bool cJP2Tcd::t2Decode(const unsigned char* data, long long len) {
    cJP2Tier2 t2(*myImage, *myTcp);
    return t2.decodePackets(myComps, myX0, myY0, myX1, myY1, data, len);
}
