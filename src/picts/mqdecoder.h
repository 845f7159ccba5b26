// cMQDecoder: the MQ binary arithmetic decoder that JPEG 2000 code-blocks (ITU-T T.800 Annex C)
// and JBIG2 arithmetic regions (ITU-T T.88 Annex E) share, decoding from bytes in memory.
#pragma once

class cMQDecoder {
public:
    // Starts decoding data[0..size) (INITDEC, T.800 C.3.5, T.88 E.3.5). Bytes past the end read
    // as 0xFF, so the end of the data acts as a marker: a short stream decodes to its end
    // without reading outside it. No data (null) decodes as an empty stream.
    void init(const unsigned char* data, long long size) {
        myData = data;
        mySize = data && size > 0 ? size : 0;
        myPos = 0;
        myC = ((mySize ? myData[0] : 0xFFu) ^ 0xFFu) << 16;
        byteIn();
        myC <<= 7;
        myCT -= 7;
        myA = 0x8000;
    }

    // A context's state is one word: its Qe in bits 0-15, its probability state index in bits
    // 16-22 and its more probable symbol in bit 23. Only decode changes it; keeping Qe in the
    // word saves a table lookup on the common path.
    static constexpr unsigned int context(int index, int mps = 0) {
        return kQe[index] | (unsigned int)(mps << 7 | index) << 16;
    }
    static constexpr unsigned int kContextStart = 0x5601;  // index 0, MPS 0: context(0)

    // One decision in the context. decode branches on the MPS/LPS outcome, which suits
    // bilevel regions, where most decisions are a well-predicted MPS; decodeFlat has one
    // branch (the common MPS without renormalisation) and selects the rest without branches,
    // which suits coefficient bit-planes, whose decisions are close to a coin toss. Both give
    // the same decisions and leave the same state.
    inline int decode(unsigned int& context);
    inline int decodeFlat(unsigned int& context);

    // How many decisions in a row in the context the coder can tell, without renormalising, are
    // each its MPS; takeMps takes n of them at once (the context's state stays as it is), as n
    // decode calls would. Long white runs of a bilevel page go this way.
    unsigned int mpsAhead(unsigned int context) const {
        const unsigned int qe = context & 0xFFFF, chigh = myC >> 16;
        const unsigned int low = chigh + 1 > 0x8000 ? chigh + 1 : 0x8000;  // A must stay at or above
        return myA < low + qe ? 0 : (myA - low) / qe;
    }
    void takeMps(unsigned int context, unsigned int n) { myA -= n * (context & 0xFFFF); }

    // Bytes of the data consumed so far (never more than its size).
    long long consumed() const { return myPos < mySize ? myPos : mySize; }

private:
    // T.800 Table C.2 = T.88 Table E.1: Qe by probability state index.
    static constexpr unsigned short kQe[47] = {
        0x5601, 0x3401, 0x1801, 0x0AC1, 0x0521, 0x0221, 0x5601, 0x5401, 0x4801, 0x3801, 0x3001, 0x2401,
        0x1C01, 0x1601, 0x5601, 0x5401, 0x5101, 0x4801, 0x3801, 0x3401, 0x3001, 0x2801, 0x2401, 0x2201,
        0x1C01, 0x1801, 0x1601, 0x1401, 0x1201, 0x1101, 0x0AC1, 0x09C1, 0x08A1, 0x0521, 0x0441, 0x02A1,
        0x0221, 0x0141, 0x0111, 0x0085, 0x0049, 0x0025, 0x0015, 0x0009, 0x0005, 0x0001, 0x5601};

    // For each context value (index and MPS, bits 16-23 of the word): the word after an MPS
    // and after an LPS decision (the rest of the same table, the MPS switch applied).
    struct sStates {
        unsigned int after[2][256];  // [0] after an MPS, [1] after an LPS
    };
    static constexpr sStates makeStates();
    static const sStates kStates;  // defined below, built at compile time

    inline void byteIn();
    // RENORMD (T.88 Figure E.18), all the shifts that need no new byte at once.
    void renorm() {
        for (;;) {
            if (myCT == 0) byteIn();
            int shift = __builtin_clz(myA) - 16;  // A is below 0x8000 and not 0 here
            if (shift > myCT) shift = myCT;
            myA <<= shift;
            myC <<= shift;
            myCT -= shift;
            if (myA & 0x8000) return;
        }
    }

    const unsigned char* myData = nullptr;
    long long mySize = 0;
    long long myPos = 0;  // the byte last taken into C
    unsigned int myC = 0;
    unsigned int myA = 0;
    int myCT = 0;
};

// The next index after an MPS and after an LPS, and the MPS switch, of the same table, spread
// over the 256 values of a context byte.
constexpr cMQDecoder::sStates cMQDecoder::makeStates() {
    constexpr unsigned char nmps[47] = {1,  2,  3,  4,  5,  38, 7,  8,  9,  10, 11, 12, 13, 29, 15, 16,
                                        17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32,
                                        33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 45, 46};
    constexpr unsigned char nlps[47] = {1,  6,  9,  12, 29, 33, 6,  14, 14, 14, 17, 18, 20, 21, 14, 14,
                                        15, 16, 17, 18, 19, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29,
                                        30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 46};
    sStates t = {};
    for (int cx = 0; cx < 256; cx++) {
        const int i = (cx & 0x7F) < 47 ? (cx & 0x7F) : 46, mps = cx >> 7;
        const bool swap = i == 0 || i == 6 || i == 14;
        t.after[0][cx] = context(nmps[i], mps);
        t.after[1][cx] = context(nlps[i], swap ? mps ^ 1 : mps);
    }
    return t;
}

inline constexpr cMQDecoder::sStates cMQDecoder::kStates = cMQDecoder::makeStates();

// DECODE (T.800 C.3.2, T.88 E.3.2) with the conditional MPS/LPS exchanges.
inline int cMQDecoder::decode(unsigned int& context) {
    const unsigned int qe = context & 0xFFFF, cx = context >> 16, mps = cx >> 7;
    myA -= qe;
    if (__builtin_expect((myC >> 16) < myA, 1)) {
        if (__builtin_expect(myA & 0x8000, 1)) return (int)mps;
        int d;
        if (myA < qe) {
            d = (int)(mps ^ 1);
            context = kStates.after[1][cx];
        } else {
            d = (int)mps;
            context = kStates.after[0][cx];
        }
        renorm();
        return d;
    }
    myC -= myA << 16;
    int d;
    if (myA < qe) {
        d = (int)mps;
        context = kStates.after[0][cx];
    } else {
        d = (int)(mps ^ 1);
        context = kStates.after[1][cx];
    }
    myA = qe;
    renorm();
    return d;
}

// DECODE as above: the exchange decides whether the decision is the LPS, and the new state
// and registers are selected from the two outcomes.
inline int cMQDecoder::decodeFlat(unsigned int& context) {
    const unsigned int qe = context & 0xFFFF, cx = context >> 16, mps = cx >> 7;
    const unsigned int a = myA - qe, chigh = myC >> 16;
    if (__builtin_expect((chigh < a) & (a >> 15), 1)) {
        myA = a;
        return (int)mps;
    }
    const unsigned int upper = chigh >= a;      // in the upper (Qe) sub-interval
    const unsigned int lps = upper ^ (a < qe);  // the exchange swaps the two symbols
    context = kStates.after[lps][cx];
    myC -= upper ? a << 16 : 0;
    myA = upper ? qe : a;
    renorm();
    return (int)(mps ^ lps);
}

// BYTEIN (T.800 C.3.4, T.88 Figure E.19). C holds the complement of the code bytes, so that
// DECODE compares its high half with A. A 0xFF followed by a byte above 0x8F is a marker, which
// is not passed: the coder then feeds 1-bits (nothing added to the complement), as it does past
// the end.
inline void cMQDecoder::byteIn() {
    const unsigned int b = myPos < mySize ? myData[myPos] : 0xFF;
    const unsigned int next = myPos + 1 < mySize ? myData[myPos + 1] : 0xFF;
    if (b == 0xFF) {
        if (next > 0x8F) {
            myCT = 8;
        } else {
            myPos++;
            myC += 0xFE00 - (next << 9);
            myCT = 7;
        }
    } else {
        myPos++;
        myC += 0xFF00 - (next << 8);
        myCT = 8;
    }
}
