// CCITT fax decoding (ITU-T T.4 and T.6), used by TIFF compressions 3 and 4. Rows are decoded
// into lists of changing elements, then painted; every position is checked against the
// row width, so no coding mode can write outside the row.
#include "picts/fax/faxdecoder.h"

#include <cstring>

#include "picts/sizecheck.h"

namespace {
// T.4 tables 2 and 3: {run length, code as a bit string}.
struct sCode {
    short run;
    const char* bits;
};
const sCode kWhite[] = {
    {0, "00110101"}, {1, "000111"}, {2, "0111"}, {3, "1000"}, {4, "1011"}, {5, "1100"}, {6, "1110"},
    {7, "1111"}, {8, "10011"}, {9, "10100"}, {10, "00111"}, {11, "01000"}, {12, "001000"}, {13, "000011"},
    {14, "110100"}, {15, "110101"}, {16, "101010"}, {17, "101011"}, {18, "0100111"}, {19, "0001100"},
    {20, "0001000"}, {21, "0010111"}, {22, "0000011"}, {23, "0000100"}, {24, "0101000"}, {25, "0101011"},
    {26, "0010011"}, {27, "0100100"}, {28, "0011000"}, {29, "00000010"}, {30, "00000011"}, {31, "00011010"},
    {32, "00011011"}, {33, "00010010"}, {34, "00010011"}, {35, "00010100"}, {36, "00010101"},
    {37, "00010110"}, {38, "00010111"}, {39, "00101000"}, {40, "00101001"}, {41, "00101010"},
    {42, "00101011"}, {43, "00101100"}, {44, "00101101"}, {45, "00000100"}, {46, "00000101"},
    {47, "00001010"}, {48, "00001011"}, {49, "01010010"}, {50, "01010011"}, {51, "01010100"},
    {52, "01010101"}, {53, "00100100"}, {54, "00100101"}, {55, "01011000"}, {56, "01011001"},
    {57, "01011010"}, {58, "01011011"}, {59, "01001010"}, {60, "01001011"}, {61, "00110010"},
    {62, "00110011"}, {63, "00110100"}, {64, "11011"}, {128, "10010"}, {192, "010111"}, {256, "0110111"},
    {320, "00110110"}, {384, "00110111"}, {448, "01100100"}, {512, "01100101"}, {576, "01101000"},
    {640, "01100111"}, {704, "011001100"}, {768, "011001101"}, {832, "011010010"}, {896, "011010011"},
    {960, "011010100"}, {1024, "011010101"}, {1088, "011010110"}, {1152, "011010111"}, {1216, "011011000"},
    {1280, "011011001"}, {1344, "011011010"}, {1408, "011011011"}, {1472, "010011000"}, {1536, "010011001"},
    {1600, "010011010"}, {1664, "011000"}, {1728, "010011011"},
};
const sCode kBlack[] = {
    {0, "0000110111"}, {1, "010"}, {2, "11"}, {3, "10"}, {4, "011"}, {5, "0011"}, {6, "0010"}, {7, "00011"},
    {8, "000101"}, {9, "000100"}, {10, "0000100"}, {11, "0000101"}, {12, "0000111"}, {13, "00000100"},
    {14, "00000111"}, {15, "000011000"}, {16, "0000010111"}, {17, "0000011000"}, {18, "0000001000"},
    {19, "00001100111"}, {20, "00001101000"}, {21, "00001101100"}, {22, "00000110111"}, {23, "00000101000"},
    {24, "00000010111"}, {25, "00000011000"}, {26, "000011001010"}, {27, "000011001011"},
    {28, "000011001100"}, {29, "000011001101"}, {30, "000001101000"}, {31, "000001101001"},
    {32, "000001101010"}, {33, "000001101011"}, {34, "000011010010"}, {35, "000011010011"},
    {36, "000011010100"}, {37, "000011010101"}, {38, "000011010110"}, {39, "000011010111"},
    {40, "000001101100"}, {41, "000001101101"}, {42, "000011011010"}, {43, "000011011011"},
    {44, "000001010100"}, {45, "000001010101"}, {46, "000001010110"}, {47, "000001010111"},
    {48, "000001100100"}, {49, "000001100101"}, {50, "000001010010"}, {51, "000001010011"},
    {52, "000000100100"}, {53, "000000110111"}, {54, "000000111000"}, {55, "000000100111"},
    {56, "000000101000"}, {57, "000001011000"}, {58, "000001011001"}, {59, "000000101011"},
    {60, "000000101100"}, {61, "000001011010"}, {62, "000001100110"}, {63, "000001100111"},
    {64, "0000001111"}, {128, "000011001000"}, {192, "000011001001"}, {256, "000001011011"},
    {320, "000000110011"}, {384, "000000110100"}, {448, "000000110101"}, {512, "0000001101100"},
    {576, "0000001101101"}, {640, "0000001001010"}, {704, "0000001001011"}, {768, "0000001001100"},
    {832, "0000001001101"}, {896, "0000001110010"}, {960, "0000001110011"}, {1024, "0000001110100"},
    {1088, "0000001110101"}, {1152, "0000001110110"}, {1216, "0000001110111"}, {1280, "0000001010010"},
    {1344, "0000001010011"}, {1408, "0000001010100"}, {1472, "0000001010101"}, {1536, "0000001011010"},
    {1600, "0000001011011"}, {1664, "0000001100100"}, {1728, "0000001100101"},
};
// T.4 table 3b: extended make-up codes shared by both colours.
const sCode kExtended[] = {
    {1792, "00000001000"}, {1856, "00000001100"}, {1920, "00000001101"}, {1984, "000000010010"},
    {2048, "000000010011"}, {2112, "000000010100"}, {2176, "000000010101"}, {2240, "000000010110"},
    {2304, "000000010111"}, {2368, "000000011100"}, {2432, "000000011101"}, {2496, "000000011110"},
    {2560, "000000011111"},
};

const int kLookBits = 13;
struct sEntry {
    short run;          // -1: no code starts with these bits
    unsigned char len;
};
struct sTables {
    sEntry white[1 << kLookBits];
    sEntry black[1 << kLookBits];
    sTables() {
        for (int i = 0; i < (1 << kLookBits); i++) white[i] = black[i] = {-1, 0};
        for (const sCode& c : kWhite) add(white, c);
        for (const sCode& c : kBlack) add(black, c);
        for (const sCode& c : kExtended) add(white, c), add(black, c);
    }
    static void add(sEntry* t, const sCode& c) {
        int len = (int)strlen(c.bits), code = 0;
        for (int i = 0; i < len; i++) code = code << 1 | (c.bits[i] - '0');
        int first = code << (kLookBits - len), n = 1 << (kLookBits - len);
        for (int i = 0; i < n; i++) t[first + i] = {c.run, (unsigned char)len};
    }
};
const sTables& tables() {
    static const sTables t;
    return t;
}

// T.4 table 4 / T.6 table 1: two-dimensional modes.
enum eMode { mPass, mHorz, mV0, mVR1, mVR2, mVR3, mVL1, mVL2, mVL3, mExt, mZeros, mBad };

unsigned char gReverse[256];
bool gReverseReady = [] {
    for (int i = 0; i < 256; i++) {
        int r = 0;
        for (int b = 0; b < 8; b++) r |= ((i >> b) & 1) << (7 - b);
        gReverse[i] = (unsigned char)r;
    }
    return true;
}();
}  // namespace

cFaxDecoder::cFaxDecoder(long long width, long long rows, int coding, bool twoD, bool lsbFirst, bool whiteIsOne)
    : myWidth(width), myRows(rows), myCoding(coding), myTwoD(twoD), myLsbFirst(lsbFirst), myWhiteIsOne(whiteIsOne) {}

unsigned cFaxDecoder::peek(int n) {
    // Up to 24 bits from any position; bytes past the end read as 0.
    long long byte = myBit >> 3;
    int off = (int)(myBit & 7);
    unsigned v = 0;
    for (int i = 0; i < 4; i++) {
        long long k = byte + i;
        unsigned b = k < (myBits >> 3) ? myData[k] : 0;
        if (myLsbFirst) b = gReverse[b];
        v = v << 8 | b;
    }
    return (v << off) >> (32 - n);
}

int cFaxDecoder::decodeRun(bool black) {
    const sEntry* t = black ? tables().black : tables().white;
    int total = 0;
    for (;;) {
        if (myBit >= myBits) return -4;
        sEntry e = t[peek(kLookBits)];
        if (e.run < 0) return peek(12) == 1 ? -3 : -1;  // an EOL, or no code at all
        consume(e.len);
        if (overrun()) return -4;
        total += e.run;
        if (e.run < 64) return total;
        if (total > (1 << 24)) return -1;
    }
}

bool cFaxDecoder::skipEOL() {
    // Fill zeros, then the 11 zeros and the one of an EOL (T.4 4.1.2).
    long long start = myBit, zeros = 0;
    while (myBit < myBits && peek(1) == 0) {
        consume(1);
        zeros++;
    }
    if (zeros >= 11 && myBit < myBits) {
        consume(1);
        return true;
    }
    myBit = start;
    return false;
}

void cFaxDecoder::paintRow(unsigned char* row) {
    const long long bytes = (myWidth + 7) / 8;
    memset(row, 0, (size_t)bytes);
    // Changes alternate white->black, black->white; black spans lie between pairs.
    for (long long i = 0; i + 1 <= myCurCount; i += 2) {
        long long a = myCur.ptr[i], b = i + 1 < myCurCount ? myCur.ptr[i + 1] : myWidth;
        if (b > myWidth) b = myWidth;
        if (a < 0) a = 0;
        for (long long x = a; x < b;) {
            if ((x & 7) == 0 && x + 8 <= b) {
                long long n = (b - x) >> 3;
                memset(row + (x >> 3), 0xFF, (size_t)n);
                x += n * 8;
            } else {
                row[x >> 3] |= (unsigned char)(0x80 >> (x & 7));
                x++;
            }
        }
    }
    if (myWhiteIsOne)
        for (long long i = 0; i < bytes; i++) row[i] = (unsigned char)~row[i];
}

bool cFaxDecoder::cutAtEOL(long long pos) {
    // The run that would have started at pos was never coded: the rest of the row is white.
    myEOLSeen = true;
    if (!(myCurCount & 1)) return true;
    if (myCurCount >= myCur.count) return false;
    myCur.ptr[myCurCount++] = (int)(pos < 0 ? 0 : pos);
    return true;
}

bool cFaxDecoder::decodeRow1D() {
    long long pos = 0;
    bool black = false;
    myCurCount = 0;
    while (pos < myWidth) {
        int run = decodeRun(black);
        if (run == -3) return cutAtEOL(pos);
        if (run < 0) return false;
        pos += run;
        if (pos > myWidth) pos = myWidth;
        if (myCurCount >= myCur.count) return false;
        myCur.ptr[myCurCount++] = (int)pos;
        black = !black;
    }
    return pos == myWidth;
}

bool cFaxDecoder::decodeRow2D() {
    long long a0 = -1, bi = 0;
    int colour = 0;  // 0 white, 1 black
    myCurCount = 0;
    const int* ref = myRef.ptr;
    while (a0 < myWidth) {
        if (myBit >= myBits) return false;
        // b1: the first change on the reference row right of a0 to the colour opposite a0's.
        if (bi > 0) bi--;
        while (bi < myRefCount - 2 && ref[bi] <= a0) bi++;
        if ((bi & 1) != colour && bi < myRefCount - 2) bi++;
        long long b1 = ref[bi], b2 = ref[bi + 1 < myRefCount ? bi + 1 : bi];
        unsigned c = peek(7);
        int mode, len;
        if (c & 0x40) mode = mV0, len = 1;
        else if ((c >> 4) == 3) mode = mVR1, len = 3;
        else if ((c >> 4) == 2) mode = mVL1, len = 3;
        else if ((c >> 4) == 1) mode = mHorz, len = 3;
        else if ((c >> 3) == 1) mode = mPass, len = 4;
        else if ((c >> 1) == 3) mode = mVR2, len = 6;
        else if ((c >> 1) == 2) mode = mVL2, len = 6;
        else if (c == 3) mode = mVR3, len = 7;
        else if (c == 2) mode = mVL3, len = 7;
        else if (c == 1) mode = mExt, len = 7;
        else mode = mZeros, len = 0;
        consume(len);
        if (overrun()) return false;
        long long start = a0 < 0 ? 0 : a0;
        switch (mode) {
            case mPass:
                if (b2 < start || b2 > myWidth) return false;
                a0 = b2;
                break;
            case mHorz: {
                int r1 = decodeRun(colour == 1);
                if (r1 < 0) return false;
                int r2 = decodeRun(colour == 0);
                if (r2 < 0) return false;
                long long a1 = start + r1, a2 = a1 + r2;
                if (a1 > myWidth) a1 = myWidth;
                if (a2 > myWidth) a2 = myWidth;
                if (myCurCount + 2 > myCur.count) return false;
                myCur.ptr[myCurCount++] = (int)a1;
                myCur.ptr[myCurCount++] = (int)a2;
                a0 = a2;
                break;
            }
            case mExt: {
                // Only the extension 111, uncompressed mode, is defined.
                if (myBit + 3 > myBits || peek(3) != 7) return false;
                consume(3);
                int r = uncompressedMode(a0, colour);
                if (r == 0) return false;
                if (r == 2) return myCoding == fcT4 ? cutAtEOL(a0) : a0 >= myWidth;
                break;
            }
            case mZeros:
                // The start of an EOL: the row ends here (T.4), or the page does (T.6 EOFB).
                if (myCoding == fcT4) {
                    skipEOL();
                    return cutAtEOL(a0);
                }
                return a0 >= myWidth;
            default: {
                static const int kDelta[] = {0, 0, 0, 1, 2, 3, -1, -2, -3};
                long long a1 = b1 + kDelta[mode];
                if (a1 < start || a1 > myWidth || myCurCount + 1 > myCur.count) return false;
                myCur.ptr[myCurCount++] = (int)a1;
                colour ^= 1;
                a0 = a1;
                break;
            }
        }
    }
    return true;
}

// T.4 4.2.3 (T.6 2.2.6): uncompressed mode. Every code is a run of zeros ended by a one:
// 0-4 zeros give that many white pixels and one black, 5 zeros five white pixels; 6-10
// zeros leave the mode after (zeros - 6) white pixels, the next bit giving the colour to
// resume with; 11 or more are an EOL. Pixels past the row are refused, not cut: no encoder
// writes them. 1 when the mode was left, 2 at an EOL, 0 for a malformed or cut code.
int cFaxDecoder::uncompressedMode(long long& a0, int& colour) {
    long long pos = a0 < 0 ? 0 : a0;
    // One pixel at pos: a change wherever it differs from the colour the changes reached.
    auto put = [&](int black) {
        if (pos >= myWidth) return false;
        if ((int)(myCurCount & 1) != black) {
            if (myCurCount >= myCur.count) return false;
            myCur.ptr[myCurCount++] = (int)pos;
        }
        pos++;
        return true;
    };
    for (;;) {
        int zeros = 0;
        while (zeros < 11 && myBit < myBits && peek(1) == 0) {
            consume(1);
            zeros++;
        }
        if (zeros == 11) {
            while (myBit < myBits && peek(1) == 0) consume(1);  // fill before the EOL's one
        }
        if (myBit >= myBits) return 0;
        consume(1);
        if (zeros == 11) {
            a0 = pos;
            return 2;
        }
        int whites = zeros <= 5 ? zeros : zeros - 6;
        for (int i = 0; i < whites; i++)
            if (!put(0)) return 0;
        if (zeros < 5 && !put(1)) return 0;
        if (zeros <= 5) continue;
        if (myBit >= myBits) return 0;
        int resume = (int)peek(1);
        consume(1);
        if (resume != (int)(myCurCount & 1)) {
            if (myCurCount >= myCur.count) return 0;
            myCur.ptr[myCurCount++] = (int)pos;
        }
        colour = resume;
        // Left where it was entered at the start of a row, a0 still stands before the row.
        if (pos > 0) a0 = pos;
        return 1;
    }
}

bool cFaxDecoder::decode(const unsigned char* data, long long size, _typebuf<unsigned char>& out) {
    const long long rowBytes = (myWidth + 7) / 8;
    long long total;
    out.clear();
    if (!data || size <= 0 || myWidth < 1 || myRows < 1 || myWidth > (1 << 24) ||
        !checkedMul(rowBytes, myRows, total) || !out.set(total))
        return false;
    out.zero();
    if (myWhiteIsOne) memset(out.ptr, 0xFF, (size_t)total);
    // Changes of a row: a bounded list (a row may code more changes than pixels, with runs of
    // zero length); the reference keeps room for the two sentinels at the width.
    if (!myRef.set(myWidth + 8) || !myCur.set(myWidth + 4)) return false;
    myData = data;
    myBits = size * 8;
    myBit = 0;
    myRefCount = 2;
    myRef.ptr[0] = myRef.ptr[1] = (int)myWidth;
    for (myRowsDone = 0; myRowsDone < myRows; myRowsDone++) {
        myEOLSeen = false;
        bool twoD = myCoding == fcT6;
        if (myCoding == fcT4) {
            skipEOL();
            if (myTwoD) {
                twoD = peek(1) == 0;
                consume(1);
            }
        }
        if (myBit >= myBits) return false;
        bool ok = twoD ? decodeRow2D() : decodeRow1D();
        if (!ok || overrun()) return false;
        paintRow(out.ptr + myRowsDone * rowBytes);
        // This row is the next one's reference, closed by two sentinels at the width.
        memcpy(myRef.ptr, myCur.ptr, (size_t)myCurCount * sizeof(int));
        myRefCount = myCurCount;
        myRef.ptr[myRefCount++] = (int)myWidth;
        myRef.ptr[myRefCount++] = (int)myWidth;
    }
    return true;
}
