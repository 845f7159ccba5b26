// The MQ arithmetic decoder of ITU-T T.800 Annex C and the raw bit reader of the bypass
// passes (D.6). Both read past the end of their segment as if a marker stood there, so a
// short segment decodes to something without reading outside it.
#pragma once

#include <cstddef>
#include <cstdint>

// State transitions over (index, MPS) pairs of T.800 Table C.2: state s = index * 2 + MPS.
struct sJP2MQTables {
    uint16_t qe[47];
    uint8_t nmps[94], nlps[94];
};
extern const sJP2MQTables gJP2MQTables;

class cJP2MQCoder {
public:
    enum { kContexts = 19, kCtxUni = 18, kCtxRl = 17 };

    // T.800 C.3.5 INITDEC over len bytes.
    void initDec(const uint8_t* data, size_t len) {
        myBp = data;
        myEnd = data + len;
        myC = (uint32_t)byteAt(myBp) << 16;
        byteIn();
        myC <<= 7;
        myCt -= 7;
        myA = 0x8000;
    }
    // Every context back to the initial states of T.800 Table D.7.
    void resetStates() {
        for (int i = 0; i < kContexts; i++) myCtx[i] = 0;
        setState(kCtxUni, 0, 46);
        setState(kCtxRl, 0, 3);
        setState(0, 0, 4);
    }
    void setState(int ctx, int mps, int index) { myCtx[ctx] = (uint8_t)(index * 2 + mps); }

    // T.800 C.3.2 DECODE, software conventions of C.3: the LPS sub-interval is the lower one.
    inline int decode(int cx) {
        uint8_t& s = myCtx[cx];
        uint32_t qe = kQe[s >> 1];
        int d;
        myA -= qe;
        if ((myC >> 16) < qe) {
            if (myA < qe) {
                d = s & 1;
                s = kNmps[s];
            } else {
                d = 1 - (s & 1);
                s = kNlps[s];
            }
            myA = qe;
            renorm();
        } else {
            myC -= qe << 16;
            if (myA & 0x8000) return s & 1;
            if (myA < qe) {
                d = 1 - (s & 1);
                s = kNlps[s];
            } else {
                d = s & 1;
                s = kNmps[s];
            }
            renorm();
        }
        return d;
    }

private:
    uint8_t byteAt(const uint8_t* p) const { return p < myEnd ? *p : 0xFF; }
    // T.800 C.3.4 BYTEIN: after 0xFF a byte above 0x8F is a marker, which is never passed.
    inline void byteIn() {
        if (byteAt(myBp) == 0xFF) {
            if (byteAt(myBp + 1) > 0x8F) {
                myC += 0xFF00;
                myCt = 8;
            } else {
                myBp++;
                myC += (uint32_t)byteAt(myBp) << 9;
                myCt = 7;
            }
        } else {
            myBp++;
            myC += (uint32_t)byteAt(myBp) << 8;
            myCt = 8;
        }
    }
    inline void renorm() {
        do {
            if (myCt == 0) byteIn();
            myA <<= 1;
            myC <<= 1;
            myCt--;
        } while (!(myA & 0x8000));
    }

    static constexpr const uint16_t* kQe = gJP2MQTables.qe;
    static constexpr const uint8_t* kNmps = gJP2MQTables.nmps;
    static constexpr const uint8_t* kNlps = gJP2MQTables.nlps;

    const uint8_t* myBp = nullptr;
    const uint8_t* myEnd = nullptr;
    uint32_t myA = 0, myC = 0;
    int myCt = 0;
    uint8_t myCtx[kContexts] = {};
};

// Raw bits of the bypass passes, most significant first; after 0xFF the next byte carries
// 7 bits; past the end (or at a marker) 0xFF bytes are read.
class cJP2Raw {
public:
    void init(const uint8_t* data, size_t len) {
        myBp = data;
        myEnd = data + len;
        myC = 0;
        myCt = 0;
    }
    inline int bit() {
        if (myCt == 0) {
            if (myC == 0xFF) {
                if (byteAt(myBp) > 0x8F) {
                    myC = 0xFF;
                    myCt = 8;
                } else {
                    myC = byteAt(myBp++);
                    myCt = 7;
                }
            } else {
                myC = byteAt(myBp++);
                myCt = 8;
            }
        }
        myCt--;
        return (int)((myC >> myCt) & 1);
    }

private:
    uint8_t byteAt(const uint8_t* p) const { return p < myEnd ? *p : 0xFF; }
    const uint8_t* myBp = nullptr;
    const uint8_t* myEnd = nullptr;
    uint32_t myC = 0;
    int myCt = 0;
};
