// ARW layouts as Sony's compression 32767 stores them.
#include "arwenc.h"

#include <algorithm>
#include <cstdlib>

#include "bitwriter.h"
#include "tiffwriter.h"

namespace rawkit {

std::vector<uint32_t> sonyCurve(const std::vector<uint16_t>& values) {
    std::vector<uint32_t> c(0x10000);
    for (uint32_t i = 0; i < c.size(); i++) c[i] = i;
    if (values.size() < 4) return c;
    uint32_t knots[6] = {0, 0, 0, 0, 0, 4095};
    for (int i = 0; i < 4; i++) knots[i + 1] = (values[i] >> 2) & 0xFFF;
    for (int i = 0; i < 5; i++)
        for (uint32_t j = knots[i] + 1; j <= knots[i + 1]; j++) c[j] = c[j - 1] + (1u << i);
    return c;
}

namespace {

// One 16-byte block of 16 samples (11-bit), least significant bit first; the values the
// decoder will rebuild go to rec.
void arw2Block(const uint16_t* p, unsigned char* out, uint16_t* rec) {
    int imax = 0, imin = 0;
    for (int i = 1; i < 16; i++) {
        if (p[i] > p[imax]) imax = i;
        if (p[i] < p[imin]) imin = i;
    }
    if (imin == imax) imin = imax == 0 ? 1 : 0;
    const int mx = p[imax], mn = p[imin];
    int sh = 0;
    while (sh < 4 && !((128 << sh) > mx - mn)) sh++;
    std::fill(out, out + 16, 0);
    auto put = [&](uint32_t v, int bit, int n) {
        for (int k = 0; k < n; k++)
            if ((v >> k) & 1) out[(bit + k) >> 3] |= (unsigned char)(1 << ((bit + k) & 7));
    };
    put((uint32_t)mx, 0, 11);
    put((uint32_t)mn, 11, 11);
    put((uint32_t)imax, 22, 4);
    put((uint32_t)imin, 26, 4);
    int bit = 30;
    for (int i = 0; i < 16; i++) {
        if (i == imax) {
            rec[i] = (uint16_t)mx;
        } else if (i == imin) {
            rec[i] = (uint16_t)mn;
        } else {
            int k = std::min((p[i] - mn) >> sh, 127);
            put((uint32_t)k, bit, 7);
            rec[i] = (uint16_t)std::min((k << sh) + mn, 2047);
            bit += 7;
        }
    }
}

std::vector<unsigned char> arw2Strip(const ArwSpec& s, std::vector<uint16_t>& coded) {
    std::vector<unsigned char> o((size_t)s.width * s.height, 0);
    coded.assign((size_t)s.width * s.height, 0);
    for (int r = 0; r < s.height; r++) {
        unsigned char* dp = &o[(size_t)r * s.width];
        for (int col = 0; col < s.width - 30; dp += 16) {
            uint16_t p[16], rec[16];
            for (int i = 0; i < 16; i++) p[i] = (uint16_t)(s.frame[(size_t)r * s.width + col + 2 * i] & 0x7FF);
            arw2Block(p, dp, rec);
            for (int i = 0; i < 16; i++) coded[(size_t)r * s.width + col + 2 * i] = rec[i];
            col += (col & 1) ? 31 : 1;
        }
    }
    return o;
}

// ARW1: the code of each difference length is given by the order of its table entry.
std::vector<unsigned char> arw1Strip(const ArwSpec& s) {
    static const uint16_t kTab[18] = {0xF11, 0xF10, 0xE0F, 0xD0E, 0xC0D, 0xB0C, 0xA0B, 0x90A, 0x809,
                                      0x708, 0x607, 0x506, 0x405, 0x304, 0x303, 0x300, 0x202, 0x201};
    uint32_t code[18], clen[18];
    uint32_t slot = 0;
    for (int e = 0; e < 18; e++) {
        int len = kTab[e] >> 8, value = kTab[e] & 0xFF;
        code[value] = slot >> (15 - len);
        clen[value] = (uint32_t)len;
        slot += 32768u >> len;
    }
    BitWriterMSB bw;
    const int H = s.height;
    int sum = 0;  // runs on from column to column
    for (int col = s.width - 1; col >= 0; col--) {
        for (int row = 0; row < H + 9; row += 2) {
            if (row == H + 8) row = 1;
            int t = row < H ? s.frame[(size_t)row * s.width + col] : sum;
            int diff = t - sum;
            sum = t;
            int len = 0;
            while ((abs(diff) >> len) != 0) len++;
            bw.put(code[len], (int)clen[len]);
            if (len) bw.put((uint32_t)(diff > 0 ? diff : diff + (1 << len) - 1), len);
        }
    }
    bw.align(false);
    return bw.out;
}

}  // namespace

std::vector<unsigned char> mrwBalanceBlock(bool be, const uint16_t wb[4], bool withPad) {
    std::vector<unsigned char> o = {0, 'M', 'R', (unsigned char)(be ? 'M' : 'I'), 0, 0, 0, 0};
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; i++) o.push_back((unsigned char)(v >> (8 * (be ? n - 1 - i : i))));
    };
    if (withPad) {  // a sub-block before the balance, skipped by its length
        o.insert(o.end(), {0, 'P', 'A', 'D'});
        put(4, 4);
        put(0, 4);
    }
    o.insert(o.end(), {0, 'W', 'B', 'G'});
    put(12, 4);
    put(0x02020202, 4);
    for (int i = 0; i < 4; i++) put(wb[i], 2);
    uint32_t len = (uint32_t)o.size() - 8;
    for (int i = 0; i < 4; i++) o[4 + i] = (unsigned char)(len >> (8 * (be ? 3 - i : i)));
    return o;
}

std::vector<unsigned char> writeArw(const ArwSpec& s, std::vector<uint16_t>* coded, uint64_t* stripOffset) {
    std::vector<uint16_t> rec = s.frame;
    std::vector<unsigned char> strip;
    int bits = 12, compression = 32767;
    switch (s.layout) {
        case ArwSpec::lArw2:
            strip = arw2Strip(s, rec);
            bits = 8;
            break;
        case ArwSpec::lPacked12: appendPacked12(strip, s.frame, s.bigEndian); break;
        case ArwSpec::lArw1: strip = arw1Strip(s); break;
        case ArwSpec::lPlain16:
            for (uint16_t v : s.frame)
                for (int i = 0; i < 2; i++) strip.push_back((unsigned char)(v >> (8 * (s.bigEndian ? 1 - i : i))));
            bits = 16;
            compression = 1;
            break;
    }
    if (s.bits) bits = s.bits;
    if (coded) *coded = rec;
    TiffWriter t(s.bigEndian, false);
    int ifd0 = t.newIfd(), raw = t.newIfd(), ifd1 = t.newIfd(), exif = -1;
    t.addAscii(ifd0, 271, "SONY");
    t.addAscii(ifd0, 272, s.model);
    t.addIfdPointers(ifd0, 330, {raw});
    if (!s.jpeg.empty()) t.addBlocks(ifd0, 513, 514, {s.jpeg});
    if (!s.wbBlock.empty()) {
        // The private block sits behind IFD1's data: tag 50740 carries its offset, patched
        // after a first write has placed it.
        t.addBlocks(ifd1, 0xC6F0, 0xC6F1, {s.wbBlock});
        t.addBytes(ifd0, 50740, TiffWriter::tByte, t.u32(0));
    }
    t.chain(ifd0, ifd1);
    t.addLongs(ifd1, 256, {1});
    t.addShorts(raw, 256, {(uint32_t)s.width});
    t.addShorts(raw, 257, {(uint32_t)s.height});
    t.addShorts(raw, 258, {(uint32_t)bits});
    t.addShorts(raw, 259, {(uint32_t)compression});
    t.addShorts(raw, 262, {32803});
    t.addShorts(raw, 277, {1});
    t.addShorts(raw, 278, {(uint32_t)s.height});
    t.addBlocks(raw, 273, 279, {strip});
    if (s.cfaInExif) {
        exif = t.newIfd();
        std::vector<unsigned char> v = t.u16(2);
        auto r = t.u16(2);
        v.insert(v.end(), r.begin(), r.end());
        v.insert(v.end(), s.cfa, s.cfa + 4);
        t.addBytes(exif, 41730, TiffWriter::tUndefined, v);
        t.addIfdPointers(ifd0, 34665, {exif});
    } else {
        t.addShorts(raw, 33421, {2, 2});
        t.addBytes(raw, 33422, TiffWriter::tByte, std::vector<unsigned char>(s.cfa, s.cfa + 4));
    }
    if (!s.curve.empty()) {
        std::vector<uint32_t> c(s.curve.begin(), s.curve.end());
        t.addShorts(raw, 0x7010, c);
    }
    std::vector<unsigned char> f = t.write(ifd0);
    if (!s.wbBlock.empty()) {
        uint64_t at = t.blockOffset(ifd1, 0xC6F0, 0);
        // Tag 50740's value is inline in IFD0: patch the offset in.
        std::vector<unsigned char> f2 = f;
        uint32_t ifd0Off = s.bigEndian ? (uint32_t)f[4] << 24 | f[5] << 16 | f[6] << 8 | f[7]
                                       : (uint32_t)f[7] << 24 | f[6] << 16 | f[5] << 8 | f[4];
        auto rd16 = [&](size_t p) { return s.bigEndian ? f[p] << 8 | f[p + 1] : f[p + 1] << 8 | f[p]; };
        int n = rd16(ifd0Off);
        for (int e = 0; e < n; e++) {
            size_t p = ifd0Off + 2 + 12 * e;
            if (rd16(p) == 50740)
                for (int i = 0; i < 4; i++) f2[p + 8 + i] = (unsigned char)(at >> (8 * (s.bigEndian ? 3 - i : i)));
        }
        f = f2;
    }
    if (stripOffset) *stripOffset = t.blockOffset(raw, 273, 0);
    return f;
}

}  // namespace rawkit
