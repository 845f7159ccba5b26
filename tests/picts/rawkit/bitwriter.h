// Bit writers of the raw test kit, the mirror images of the decoders' bit readers: most
// significant bit first (optionally with JPEG 0xFF00 stuffing), least significant bit first,
// most significant first into 32-bit words of either byte order, and 12-bit packing.
#pragma once

#include <cstdint>
#include <vector>

namespace rawkit {

// The n low bytes of v, most significant first when bigEndian.
inline void putBytes(std::vector<unsigned char>& o, uint64_t v, int n, bool bigEndian) {
    for (int i = 0; i < n; i++) o.push_back((unsigned char)(v >> (8 * (bigEndian ? n - 1 - i : i))));
}

class BitWriterMSB {
public:
    std::vector<unsigned char> out;
    explicit BitWriterMSB(bool stuffing = false) : myStuff(stuffing) {}
    void put(uint32_t bits, int n) {
        for (int i = n - 1; i >= 0; i--) {
            myAcc = myAcc << 1 | ((bits >> i) & 1);
            if (++myCount == 8) flushByte();
        }
    }
    // Pads the last byte with one bits (T.81 F.1.2.3) or zero bits.
    void align(bool ones = true) {
        while (myCount) put(ones ? 1 : 0, 1);
    }

private:
    void flushByte() {
        out.push_back((unsigned char)myAcc);
        if (myAcc == 0xFF && myStuff) out.push_back(0);
        myAcc = 0;
        myCount = 0;
    }
    bool myStuff;
    uint32_t myAcc = 0;
    int myCount = 0;
};

class BitWriterLSB {
public:
    std::vector<unsigned char> out;
    void put(uint32_t bits, int n) {
        for (int i = 0; i < n; i++) {
            myAcc |= ((bits >> i) & 1) << myCount;
            if (++myCount == 8) {
                out.push_back((unsigned char)myAcc);
                myAcc = 0;
                myCount = 0;
            }
        }
    }
    void align() {
        if (myCount) out.push_back((unsigned char)myAcc);
        myAcc = 0;
        myCount = 0;
    }

private:
    uint32_t myAcc = 0;
    int myCount = 0;
};

// Bits fill each 32-bit word from bit 31 down; a finished word is stored in the chosen order.
class BitWriter32 {
public:
    std::vector<unsigned char> out;
    explicit BitWriter32(bool bigEndianWords) : myBE(bigEndianWords) {}
    void put(uint32_t bits, int n) {
        for (int i = n - 1; i >= 0; i--) {
            myWord |= ((bits >> i) & 1u) << (31 - myCount);
            if (++myCount == 32) flush();
        }
    }
    void align() {
        if (myCount) flush();
    }

private:
    void flush() {
        for (int i = 0; i < 4; i++) out.push_back((unsigned char)(myWord >> (myBE ? 24 - 8 * i : 8 * i)));
        myWord = 0;
        myCount = 0;
    }
    bool myBE;
    uint32_t myWord = 0;
    int myCount = 0;
};

// Samples as 12-bit pairs in three bytes: big-endian aaaaaaaa aaaabbbb bbbbbbbb, or the
// little-endian order aaaaaaaa bbbbaaaa bbbbbbbb. An odd last sample is left out, or paired
// with 0 when padOdd.
inline void appendPacked12(std::vector<unsigned char>& out, const std::vector<uint16_t>& samples, bool bigEndian,
                           bool padOdd = false) {
    const size_t n = samples.size();
    for (size_t i = 0; i + 1 < n || (padOdd && i < n); i += 2) {
        unsigned a = samples[i] & 0xFFF, b = i + 1 < n ? samples[i + 1] & 0xFFF : 0;
        if (bigEndian) {
            out.push_back((unsigned char)(a >> 4));
            out.push_back((unsigned char)((a & 15) << 4 | b >> 8));
            out.push_back((unsigned char)b);
        } else {
            out.push_back((unsigned char)a);
            out.push_back((unsigned char)((a >> 8) | (b & 15) << 4));
            out.push_back((unsigned char)(b >> 4));
        }
    }
}

}  // namespace rawkit
