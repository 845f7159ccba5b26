// SRW sample codes, written from their descriptions.
#include "srwenc.h"

#include <algorithm>
#include <cstdlib>

#include "bitwriter.h"
#include "tiffwriter.h"

namespace rawkit {

namespace {

// Bits for a signed difference in two's complement.
int signedBits(int d) {
    if (!d) return 0;
    int n = 1;
    while (n < 16 && !(d >= -(1 << (n - 1)) && d < (1 << (n - 1)))) n++;
    return n;
}

// Row-indexed code: 16-sample groups, even samples then odd, four running lengths.
std::vector<unsigned char> rowIndexed(const SrwSpec& s, std::vector<unsigned char>& table) {
    std::vector<unsigned char> o;
    const int w = s.width;
    // Coded rows hold each 2 x 2 block with its top-right and bottom-left samples exchanged.
    std::vector<uint16_t> f = s.frame;
    for (int r = 0; r + 1 < s.height; r += 2)
        for (int c = 0; c + 1 < w; c += 2) std::swap(f[(size_t)r * w + c + 1], f[(size_t)(r + 1) * w + c]);
    auto at = [&](int r, int x) { return (int)f[(size_t)r * w + x]; };
    for (int r = 0; r < s.height; r++) {
        uint32_t off = (uint32_t)o.size();
        for (int i = 0; i < 4; i++) table.push_back((unsigned char)(off >> (8 * i)));
        BitWriter32 bw(false);
        for (int col = 0; col < w; col += 16) {
            const bool dir = r >= 2 && ((col / 16) & 1);
            int d[16];
            for (int c = 0; c < 16; c++) {
                const int x = col + c;
                if (x >= w) {
                    d[c] = 0;
                    continue;
                }
                // Vertical: the row above (even) or two above (odd); horizontal: the previous
                // group's last sample of the same parity, 128 in the first group.
                int pred = dir ? at(r - ((x & 1) ? 2 : 1), x) : col ? at(r, col - 2 + (x & 1)) : 128;
                d[c] = at(r, x) - pred;
            }
            int len[4] = {0, 0, 0, 0};
            for (int c = 0; c < 16; c++) {
                int k = (c >> 3) | ((c & 1) << 1);
                len[k] = std::max(len[k], signedBits(d[c]));
            }
            bw.put(dir ? 1 : 0, 1);
            for (int k = 0; k < 4; k++) bw.put(3, 2);
            for (int k = 0; k < 4; k++) bw.put((uint32_t)len[k], 4);
            for (int c = 0; c < 16; c += 2) {
                int n = len[(c >> 3) | ((c & 1) << 1)];
                if (n) bw.put((uint32_t)d[c] & ((1u << n) - 1), n);
                if (c == 14) c = -1;
            }
        }
        bw.align();
        o.insert(o.end(), bw.out.begin(), bw.out.end());
    }
    return o;
}

std::vector<unsigned char> huffman(const SrwSpec& s) {
    static const uint16_t kTab[14] = {0x304, 0x307, 0x206, 0x205, 0x403, 0x600, 0x709,
                                      0x80A, 0x90B, 0xA0C, 0xA0D, 0x501, 0x408, 0x402};
    uint32_t code[17] = {}, clen[17] = {};
    uint32_t slot = 0;
    for (uint16_t e : kTab) {
        int len = e >> 8, value = e & 0xFF;
        code[value] = slot >> (10 - len);
        clen[value] = (uint32_t)len;
        slot += 1024u >> len;
    }
    BitWriterMSB bw;
    int v[2][2] = {{0, 0}, {0, 0}};
    for (int r = 0; r < s.height; r++) {
        int h[2] = {0, 0};
        for (int c = 0; c < s.width; c++) {
            int t = s.frame[(size_t)r * s.width + c];
            int& ref = c < 2 ? v[r & 1][c] : h[c & 1];
            int diff = t - ref;
            ref = t;
            if (c < 2) h[c] = t;
            int len = 0;
            while ((abs(diff) >> len) != 0) len++;
            bw.put(code[len], (int)clen[len]);
            if (len) bw.put((uint32_t)(diff > 0 ? diff : diff + (1 << len) - 1), len);
        }
    }
    bw.align(false);
    return bw.out;
}

// Predictive code with option bits 0-2 set: no magnitude, a one-bit predictor choice (7: the
// previous group's sample of the same parity, 3: from the rows above), explicit lengths.
std::vector<unsigned char> predictive(const SrwSpec& s, std::vector<uint16_t>& coded) {
    const int w = s.width;
    const long long size = (long long)w * s.height;
    coded.assign((size_t)size, 0);
    const int init = 1000;
    std::vector<unsigned char> o(16, 0);
    o[9] = 7;
    o[12] = (unsigned char)(init & 0xFF);
    o[13] = (unsigned char)(init >> 8);
    auto at = [&](long long i) { return (int)coded[(size_t)(i < 0 ? 0 : i >= size ? size - 1 : i)]; };
    for (int r = 0; r < s.height; r++) {
        BitWriter32 bw(false);
        long long prow[2] = {0, 0};
        if (r >= 2) {
            prow[r & 1] = (long long)(r - 1) * w + 1 - 2 * (r & 1);
            prow[1 - (r & 1)] = (long long)(r - 2) * w;
        }
        for (int tab = 0; tab + 15 < w; tab += 16) {
            const int pmode = r >= 2 && ((tab / 16) & 1) ? 3 : 7;
            int col[16], d[16];
            for (int c = 0; c < 16; c++) {
                col[c] = tab + (((c & 7) * 2) ^ (c >> 3) ^ (r & 1));
                int pred;
                if (pmode == 7 || r < 2)
                    pred = tab ? coded[(size_t)r * w + tab - 2 + (col[c] & 1)] : init;
                else {
                    long long p = prow[col[c] & 1] + col[c] - 4;
                    pred = (at(p + 4) + at(p + 4) + 1) >> 1;
                }
                d[c] = (int)s.frame[(size_t)r * w + col[c]] - pred;
                coded[(size_t)r * w + col[c]] = s.frame[(size_t)r * w + col[c]];
            }
            int len[4] = {0, 0, 0, 0};
            for (int c = 0; c < 16; c++) len[c >> 2] = std::max(len[c >> 2], signedBits(d[c]));
            bw.put(pmode == 7 ? 0 : 1, 1);
            for (int k = 0; k < 4; k++) bw.put(3, 2);
            for (int k = 0; k < 4; k++) bw.put((uint32_t)len[k], 4);
            for (int c = 0; c < 16; c++)
                if (len[c >> 2]) bw.put((uint32_t)d[c] & ((1u << len[c >> 2]) - 1), len[c >> 2]);
        }
        bw.align();
        std::vector<unsigned char> row = bw.out;
        while (row.size() % 16) row.push_back(0);
        if (row.empty()) row.resize(16, 0);  // a row always moves the next one on
        o.insert(o.end(), row.begin(), row.end());
    }
    return o;
}

}  // namespace

std::vector<unsigned char> writeSrw(const SrwSpec& s, std::vector<uint16_t>* coded, uint64_t* stripOffset) {
    std::vector<uint16_t> rec = s.frame;
    std::vector<unsigned char> strip, table;
    int compression = 32769;
    switch (s.code) {
        case SrwSpec::cPlain16:
            for (uint16_t v : s.frame) {
                strip.push_back((unsigned char)v);
                strip.push_back((unsigned char)(v >> 8));
            }
            break;
        case SrwSpec::cPacked12: appendPacked12(strip, s.frame, s.bePacking); break;
        case SrwSpec::cRowIndexed:
            strip = rowIndexed(s, table);
            compression = 32770;
            break;
        case SrwSpec::cHuffman:
            strip = huffman(s);
            compression = 32772;
            break;
        case SrwSpec::cPredictive:
            strip = predictive(s, rec);
            compression = 32773;
            break;
    }
    if (coded) *coded = rec;
    TiffWriter t(false, false);
    int ifd0 = t.newIfd(), prev = t.newIfd(), raw = t.newIfd();
    std::vector<int> subs = {prev, raw};
    if (s.subIfds == 3) {
        int extra = t.newIfd();
        t.addShorts(extra, 254, {1});
        subs.push_back(extra);
    }
    t.addAscii(ifd0, 271, "SAMSUNG");
    t.addAscii(ifd0, 272, s.model);
    t.addIfdPointers(ifd0, 330, subs);
    t.addLongs(prev, 254, {1});
    t.addShorts(prev, 256, {4});
    t.addShorts(prev, 257, {3});
    t.addShorts(prev, 259, {6});
    if (!s.jpeg.empty()) t.addBlocks(prev, 513, 514, {s.jpeg});
    const int cfaIfd = s.cfaInPreview ? prev : raw;
    t.addShorts(cfaIfd, 33421, {2, 2});
    t.addBytes(cfaIfd, 33422, TiffWriter::tByte, std::vector<unsigned char>(s.cfa, s.cfa + 4));
    t.addLongs(raw, 254, {0});
    t.addShorts(raw, 256, {(uint32_t)s.width});
    t.addShorts(raw, 257, {(uint32_t)s.height});
    t.addShorts(raw, 258, {(uint32_t)(s.bits ? s.bits : s.code == SrwSpec::cPlain16 ? 16 : 12)});
    t.addShorts(raw, 259, {(uint32_t)(s.compression ? s.compression : compression)});
    t.addShorts(raw, 262, {32803});
    t.addShorts(raw, 277, {1});
    t.addShorts(raw, 278, {(uint32_t)s.height});
    t.addBlocks(raw, 273, 279, {strip});
    if (!table.empty()) t.addBlocks(raw, 40976, 40977, {table});
    std::vector<unsigned char> f = t.write(ifd0);
    if (stripOffset) *stripOffset = t.blockOffset(raw, 273, 0);
    return f;
}

}  // namespace rawkit
