// JPEG entropy-coded data: a buffered byte source over a stream, and the Huffman decoder
// (bit reader with 0xFF00 unstuffing and marker detection, lookahead decoding tables).
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"

// A coefficient held within 16 bits (hostile streams can push one past).
inline short jToShort(int v) { return (short)(v < -32768 ? -32768 : (v > 32767 ? 32767 : v)); }

// Reads a stream through a 64 KiB buffer; `p` and `end` are public for the bit reader.
class cJByteSource {
public:
    const unsigned char* p = nullptr;
    const unsigned char* end = nullptr;

    // Starts at the stream's current position.
    bool open(cFileIOTarget* stream);
    void close();
    // Refills the buffer; false at the end of the stream.
    bool refill();
    // One byte, -1 at the end.
    int byte() {
        if (p == end && !refill()) return -1;
        return *p++;
    }
    bool readf(void* out, long long n);
    bool skip(long long n);
    // Bytes left in the stream from the read position.
    unsigned long long remaining() const;

private:
    cFileIOTarget* myStream = nullptr;
    _typebuf<unsigned char> myBuf;
    unsigned long long mySize = 0;  // of the stream
    unsigned long long myPos = 0;   // stream position just after the buffered bytes
};

// One Huffman table as DHT carries it: counts of codes per length 1..16 and the symbols.
struct sJHuffTable {
    bool defined = false;
    unsigned char bits[17] = {};
    unsigned char vals[256] = {};
};

// What a scan's entropy decoder needs from the parser.
struct sJScanState {
    cJByteSource* source = nullptr;
    const sJHuffTable* dc[4] = {};  // per scan component: its DC (or lossless) table
    const sJHuffTable* ac[4] = {};  // per scan component: its AC table (null when unused)
    int components = 0;
    bool ignoreFFEsc = false;
    bool acPairs = false;  // AC tables get their pair lookahead (decodeBlock, firstAcBlock)
};

// A table prepared for decoding: 10-bit lookahead plus the canonical limits for longer codes.
struct sJHuffLookup {
    enum { kLookBits = 10, kPairBits = 12 };
    unsigned short look[1 << kLookBits];  // (length << 8) | symbol, 0 for longer codes
    // AC decoding (sequential blocks, progressive first scans) two coefficients at a time:
    // what the next kPairBits bits hold when a first run/size symbol with its extra bits, and
    // perhaps a second one (or an end of block), fit in them; 0 when not even the first fits.
    // Fields, low bits first:
    // total length (4 bits), run before the first value (4), positions from the first value
    // to the second (5; 0 when there is no second, the second value then repeats the first;
    // 1 with a second value 0 when an end of block follows the first value), end of block
    // follows (1), first value (9, signed), second value (9, signed).
    // ZRL is a run of 15 before a value 0. Built only when asked for (pairs = true).
    unsigned int pairAc[1 << kPairBits];
    int maxcode[18];                      // largest code of each length, -1 when none
    int valoffset[18];                    // symbol index minus code for each length
    unsigned char vals[256];
    int count = 0;
    // False for over-subscribed tables or impossible counts.
    bool build(const sJHuffTable& t, bool pairs = false);
    // Whether the last build was of a table with these codes (and its pairs, when asked):
    // a scan whose tables did not change since the previous one reuses them.
    bool builtFrom(const sJHuffTable& t, bool pairs) const;
    unsigned char builtBits[17] = {};  // the code counts of the last build
    bool built = false, builtPairs = false;
    enum { kPairEob = 1 << 13 };
    static int pairLength(unsigned e) { return (int)(e & 15); }
    static int pairRun(unsigned e) { return (int)(e >> 4) & 15; }
    static int pairStep(unsigned e) { return (int)(e >> 8) & 31; }
    static int pairFirst(unsigned e) { return (int)(e << 9) >> 23; }
    static int pairSecond(unsigned e) { return (int)e >> 23; }
};

class cJHuffDecoder {
public:
    cJHuffDecoder() {}
    cJHuffDecoder(const cJHuffDecoder&) = delete;
    cJHuffDecoder& operator=(const cJHuffDecoder&) = delete;

    // Prepares the tables of the scan's components and starts reading at the source.
    bool create(const sJScanState& scan);
    void setIgnoreFFEsc(bool ignore) { myIgnoreFF = ignore; }
    // One symbol with the first table of the scan; negative on failure.
    int simpleDecodeU32();
    // `count` raw bits (up to 32), most significant first; 0 once the data has run out.
    unsigned int simpleReadU32(int count);

    // Tables by scan component.
    const sJHuffLookup* dcTable(int c) const { return myDc[c]; }
    const sJHuffLookup* acTable(int c) const { return myAc[c]; }

    // --- bit reader, inline for the block decoders ---
    void fill() {
        while (myBits <= 56) {
            const unsigned char* p = mySrc->p;
            unsigned long long b;
            if (p < mySrc->end && *p != 0xFF && myMarker < 0) {
                b = *p;
                mySrc->p = p + 1;
            } else {
                b = (unsigned long long)nextByte();
            }
            myAcc |= b << (56 - myBits);
            myBits += 8;
        }
    }
    unsigned int peek(int n) {
        if (myBits < n) fill();
        return (unsigned int)(myAcc >> (64 - n));
    }
    void skipBits(int n) {
        myAcc <<= n;
        myBits -= n;
    }
    unsigned int getBits(int n) {
        if (n == 0) return 0;
        unsigned int v = peek(n);
        skipBits(n);
        return v;
    }
    int getBit() { return (int)getBits(1); }
    // T.81 F.2.2.1: `n` bits as a signed difference.
    int receiveExtend(int n) {
        if (n == 0 || n > 16) return 0;
        int v = (int)getBits(n);
        return v < (1 << (n - 1)) ? v - (1 << n) + 1 : v;
    }
    // The bit buffer for loops that keep it in registers between refills: take it, work on
    // the copies, and give it back before any other call on the decoder.
    void takeBits(unsigned long long& acc, int& bits) const {
        acc = myAcc;
        bits = myBits;
    }
    void giveBits(unsigned long long acc, int bits) {
        myAcc = acc;
        myBits = bits;
    }
    // Peeks kLookBits bits (the buffer must hold at least that many).
    unsigned int lookBits() const { return (unsigned int)(myAcc >> (64 - sJHuffLookup::kLookBits)); }
    int bitCount() const { return myBits; }
    // One symbol; -1 for a code that is not in the table.
    int decode(const sJHuffLookup* t) {
        if (myBits < 16) fill();
        unsigned int look = (unsigned int)(myAcc >> (64 - sJHuffLookup::kLookBits));
        unsigned int e = t->look[look];
        if (e) {
            skipBits((int)(e >> 8));
            return (int)(e & 0xFF);
        }
        return decodeSlow(t);
    }

    // T.81 F.2.2.1 and F.2.2.2: one sequential block in zig-zag order `zigzag`, its DC
    // difference added to dcPred (kept within 16 bits); acCoded is set when an AC
    // coefficient is coded. False on a code missing from the tables.
    bool decodeBlock(const sJHuffLookup* dc, const sJHuffLookup* ac, const unsigned char* zigzag, int& dcPred,
                     short* blk, bool& acCoded);

    // T.81 G.1.2.2: one block of a progressive first AC scan over zig-zag positions ss..se,
    // values scaled by 1 << al; eobRun as for refineBlock. False on a code missing from the table.
    bool firstAcBlock(const sJHuffLookup* ac, const unsigned char* zigzag, int ss, int se, int al, int& eobRun,
                      short* blk);
    // T.81 G.1.2.3: one block of a progressive AC refinement scan over zig-zag positions
    // ss..se with point transform al: correction bits for the known coefficients, new ones of
    // magnitude 1 << al; eobRun counts the blocks of the current end-of-band run still to go.
    // False on a code missing from the table.
    bool refineBlock(const sJHuffLookup* ac, const unsigned char* zigzag, int ss, int se, int al, int& eobRun,
                     short* blk);

    // Drops the bits left of the current byte (before a restart marker).
    void resetBits();
    // The marker met in the data (its code), -1 while none; clearMarker lets reading go on.
    int marker() const { return myMarker; }
    void clearMarker() { myMarker = -1; }
    // True when decoding used bits past the end of the data (a marker or the stream's end).
    bool overran() const { return myPadBits > myBits; }
    bool atEnd() const { return myEnded; }
    // Scans the source up to the next marker (when none was met yet); its code or -1.
    int findMarker();

private:
    // The bit buffer held in locals by the block decoders: at least 32 bits afterwards, whole
    // bytes straight from the source while none of the next eight is 0xFF, else through fill.
    // The buffer may then hold, below its count, bits of the bytes that follow (fill ORs the
    // same bits in again).
    inline void refillLocal(unsigned long long& acc, int& bits);
    template <bool kDeposit>
    bool refineBlockT(const sJHuffLookup* ac, const unsigned char* zigzag, int ss, int se, int al, int& eobRun,
                      short* blk);
    int nextByte();
    int decodeSlow(const sJHuffLookup* t);

    cJByteSource* mySrc = nullptr;
    sJHuffLookup myTables[8];
    const sJHuffLookup* myDc[4] = {};
    const sJHuffLookup* myAc[4] = {};
    unsigned long long myAcc = 0;
    int myBits = 0;
    int myPadBits = 0;  // zero bits appended after the data ended
    int myMarker = -1;
    bool myEnded = false;
    bool myIgnoreFF = false;
};
