// The MQ arithmetic decoder of ITU-T T.800 Annex C and the raw bit reader of the bypass
// passes (D.6). Both read past the end of their segment as if a marker stood there, so a
// short segment decodes to something without reading outside it.
#pragma once

#include <cstddef>
#include <cstdint>

// State transitions over (index, MPS) pairs of T.800 Table C.2: state s = index * 2 + MPS.
struct sJP2MQState {
    uint16_t qe;
    uint8_t nmps, nlps;  // next states after an MPS and an LPS
};
struct sJP2MQTables {
    sJP2MQState st[94];
};
extern const sJP2MQTables gJP2MQTables;

class cJP2MQCoder {
public:
    enum { kContexts = 19, kCtxUni = 18, kCtxRl = 17 };

    // The decoder's registers. Passes copy them into a local so that they stay in machine
    // registers, and put them back afterwards.
    struct sRegs {
        const uint8_t* data;
        size_t pos, len;  // positions, not pointers: reading past the end is never formed
        uint32_t a, c;
        int ct;
    };

    // T.800 C.3.5 INITDEC over len bytes.
    void initDec(const uint8_t* data, size_t len) {
        sRegs& r = myRegs;
        r.data = data;
        r.pos = 0;
        r.len = data ? len : 0;
        r.c = (uint32_t)byteAt(r, 0) << 16;
        byteIn(r);
        r.c <<= 7;
        r.ct -= 7;
        r.a = 0x8000;
    }
    // Every context back to the initial states of T.800 Table D.7.
    void resetStates() {
        for (int i = 0; i < kContexts; i++) myCtx[i] = 0;
        setState(kCtxUni, 0, 46);
        setState(kCtxRl, 0, 3);
        setState(0, 0, 4);
    }
    void setState(int ctx, int mps, int index) { myCtx[ctx] = (uint8_t)(index * 2 + mps); }
    sRegs& regs() { return myRegs; }
    uint8_t* contexts() { return myCtx; }
    int decode(int cx) { return decode(myRegs, myCtx, cx); }

    // T.800 C.3.2 DECODE, software conventions of C.3: the LPS sub-interval is the lower one.
    static inline int decode(sRegs& r, uint8_t* ctx, int cx) {
        uint8_t& s = ctx[cx];
        const sJP2MQState st = gJP2MQTables.st[s];
        const uint32_t qe = st.qe;
        int d;
        r.a -= qe;
        if ((r.c >> 16) < qe) {
            if (r.a < qe) {
                d = s & 1;
                s = st.nmps;
            } else {
                d = 1 - (s & 1);
                s = st.nlps;
            }
            r.a = qe;
            renorm(r);
        } else {
            r.c -= qe << 16;
            if (r.a & 0x8000) return s & 1;
            if (r.a < qe) {
                d = 1 - (s & 1);
                s = st.nlps;
            } else {
                d = s & 1;
                s = st.nmps;
            }
            renorm(r);
        }
        return d;
    }

private:
    static uint8_t byteAt(const sRegs& r, size_t p) { return p < r.len ? r.data[p] : 0xFF; }
    // T.800 C.3.4 BYTEIN: after 0xFF a byte above 0x8F is a marker, which is never passed.
    static inline void byteIn(sRegs& r) {
        if (byteAt(r, r.pos) == 0xFF) {
            if (byteAt(r, r.pos + 1) > 0x8F) {
                r.c += 0xFF00;
                r.ct = 8;
            } else {
                r.pos++;
                r.c += (uint32_t)byteAt(r, r.pos) << 9;
                r.ct = 7;
            }
        } else {
            r.pos++;
            r.c += (uint32_t)byteAt(r, r.pos) << 8;
            r.ct = 8;
        }
    }
    static inline void renorm(sRegs& r) {
        // Shift in bulk while the bits already in C suffice (A is below 0x8000 here).
        int n = __builtin_clz(r.a) - 16;
        if (n <= r.ct) {
            r.a <<= n;
            r.c <<= n;
            r.ct -= n;
            return;
        }
        do {
            if (r.ct == 0) byteIn(r);
            r.a <<= 1;
            r.c <<= 1;
            r.ct--;
        } while (!(r.a & 0x8000));
    }

    sRegs myRegs = {nullptr, 0, 0, 0, 0, 0};
    uint8_t myCtx[kContexts] = {};
};

// Raw bits of the bypass passes, most significant first; after 0xFF the next byte carries
// 7 bits; past the end (or at a marker) 0xFF bytes are read.
class cJP2Raw {
public:
    void init(const uint8_t* data, size_t len) {
        myData = data;
        myLen = data ? len : 0;
        myPos = 0;
        myC = 0;
        myCt = 0;
    }
    inline int bit() {
        if (myCt == 0) {
            if (myC == 0xFF) {
                if (byteAt(myPos) > 0x8F) {
                    myC = 0xFF;
                    myCt = 8;
                } else {
                    myC = byteAt(myPos++);
                    myCt = 7;
                }
            } else {
                myC = byteAt(myPos++);
                myCt = 8;
            }
        }
        myCt--;
        return (int)((myC >> myCt) & 1);
    }

private:
    uint8_t byteAt(size_t p) const { return p < myLen ? myData[p] : 0xFF; }
    const uint8_t* myData = nullptr;
    size_t myPos = 0, myLen = 0;
    uint32_t myC = 0;
    int myCt = 0;
};
