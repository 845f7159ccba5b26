// Hasselblad 3FR writer of the raw test kit.
#include "h3frenc.h"

#include "bitwriter.h"
#include "tiffwriter.h"

namespace rawkit {

namespace {

// Difference lengths 0-16 (and 17 for the hostile table): counts of codes of lengths 1-16.
const unsigned char kCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};

struct Code {
    uint32_t bits;
    int len;
};

std::vector<Code> canonical(std::vector<int>& symbols) {
    std::vector<Code> bySym(32, Code{0, 0});
    uint32_t code = 0;
    size_t k = 0;
    for (int len = 1; len <= 16; len++) {
        for (int i = 0; i < kCounts[len - 1]; i++) bySym[(size_t)symbols[k++]] = {code++, len};
        code <<= 1;
    }
    return bySym;
}

}  // namespace

std::vector<unsigned char> h3frScan(const std::vector<uint16_t>& block, int w, int h, bool extraSofByte, int cutBits,
                                    bool length17) {
    std::vector<int> symbols;
    for (int s = 0; s <= 16; s++) symbols.push_back(s);
    symbols.push_back(length17 ? 17 : 0);  // the last code: length 17, or an unused duplicate
    std::vector<Code> codes = canonical(symbols);
    std::vector<unsigned char> o = {0xFF, 0xD8, 0xFF, 0xC4};
    const int dhtLen = 2 + 1 + 16 + (int)symbols.size();
    o.push_back((unsigned char)(dhtLen >> 8));
    o.push_back((unsigned char)dhtLen);
    o.push_back(0x00);
    o.insert(o.end(), kCounts, kCounts + 16);
    for (int s : symbols) o.push_back((unsigned char)s);
    const unsigned char sof[] = {0xFF, 0xC3, 0, 11, 16, (unsigned char)(h >> 8), (unsigned char)h,
                                 (unsigned char)(w >> 8), (unsigned char)w, 1, 1, 0x11, 0};
    o.insert(o.end(), sof, sof + sizeof(sof));
    if (extraSofByte) o.push_back(0x00);
    const unsigned char sos[] = {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 1, 0, 0};
    o.insert(o.end(), sos, sos + sizeof(sos));
    // Bits first (MSB first), then packed into little-endian words.
    std::vector<int> bits;
    auto put = [&](uint32_t v, int n) {
        for (int i = n - 1; i >= 0; i--) bits.push_back((int)((v >> i) & 1));
    };
    bool used17 = false;
    for (int r = 0; r < h; r++) {
        int p[2] = {0x8000, 0x8000};
        for (int c = 0; c < w; c += 2) {
            int d[2], len[2];
            for (int k = 0; k < 2; k++) {
                const int v = c + k < w ? block[(size_t)r * w + c + k] : p[k];
                d[k] = (int16_t)(uint16_t)(v - p[k]);
                len[k] = 0;
                for (int a = d[k] < 0 ? -d[k] : d[k]; a; a >>= 1) len[k]++;
                p[k] = v;
            }
            if (length17 && !used17) {
                len[0] = 17;
                used17 = true;
            }
            put(codes[(size_t)len[0]].bits, codes[(size_t)len[0]].len);
            put(codes[(size_t)len[1]].bits, codes[(size_t)len[1]].len);
            for (int k = 0; k < 2; k++) {
                if (!len[k] || len[k] > 16) continue;
                put((uint32_t)(d[k] < 0 ? d[k] + (1 << len[k]) - 1 : d[k]), len[k]);
            }
        }
    }
    if (cutBits) bits.resize(bits.size() > (size_t)cutBits ? bits.size() - (size_t)cutBits : 0);
    BitWriter32 w32(false);
    for (int b : bits) w32.put((uint32_t)b, 1);
    w32.align();
    o.insert(o.end(), w32.out.begin(), w32.out.end());
    if (!cutBits) {
        o.push_back(0xFF);
        o.push_back(0xD9);
    }
    return o;
}

std::vector<unsigned char> write3fr(const H3frSpec& s) {
    TiffWriter t(s.bigEndian, false);
    int ifd0 = t.newIfd();
    t.addLongs(ifd0, 254, {0});
    t.addLongs(ifd0, 256, {(uint32_t)s.width});
    t.addLongs(ifd0, 257, {(uint32_t)s.height});
    const bool plain = s.uncompressed || s.bits != 16 || s.samples != 1;
    t.addShorts(ifd0, 258, std::vector<uint32_t>((size_t)s.samples, (uint32_t)s.bits));
    t.addShorts(ifd0, 259, {plain ? 1u : 7u});
    t.addShorts(ifd0, 262, {s.samples == 3 ? 34892u : 32803u});
    t.addAscii(ifd0, 271, s.make);
    t.addAscii(ifd0, 272, s.model);
    t.addShorts(ifd0, 277, {(uint32_t)s.samples});
    if (s.uniqueModel) t.addAscii(ifd0, 50708, s.make + " " + s.model);
    if (s.dngVersion) t.addBytes(ifd0, 50706, TiffWriter::tByte, {1, 4, 0, 0});
    if (s.cfaTags) {
        t.addShorts(ifd0, 33421, {2, 2});
        t.addBytes(ifd0, 33422, TiffWriter::tByte, {s.cfa[0], s.cfa[1], s.cfa[2], s.cfa[3]});
    }
    if (plain && (s.bits != 16 || s.samples != 1)) {
        // Rows of samples from the top bit, each row starting on a byte (16-bit samples in the
        // file's byte order).
        std::vector<unsigned char> o;
        const size_t perRow = (size_t)s.width * s.samples;
        for (int r = 0; r < s.height; r++) {
            uint64_t acc = 0;
            int n = 0;
            for (size_t c = 0; c < perRow; c++) {
                const uint16_t v = s.frame[r * perRow + c];
                if (s.bits == 16) {
                    o.push_back((unsigned char)(s.bigEndian ? v >> 8 : v));
                    o.push_back((unsigned char)(s.bigEndian ? v : v >> 8));
                    continue;
                }
                acc = acc << s.bits | (s.frame[r * perRow + c] & ((1u << s.bits) - 1));
                for (n += s.bits; n >= 8; n -= 8) o.push_back((unsigned char)(acc >> (n - 8)));
            }
            if (n) o.push_back((unsigned char)(acc << (8 - n)));
        }
        t.addLongs(ifd0, 278, {(uint32_t)s.height});
        t.addBlocks(ifd0, 273, 279, {o});
        return t.write(ifd0);
    }
    auto block = [&](int x0, int y0, int bw, int bh) {
        std::vector<uint16_t> b((size_t)bw * bh, 0);
        for (int r = 0; r < bh; r++)
            for (int c = 0; c < bw; c++)
                if (x0 + c < s.width && y0 + r < s.height) b[(size_t)r * bw + c] = s.frame[(size_t)(y0 + r) * s.width + x0 + c];
        if (s.uncompressed) {
            std::vector<unsigned char> o;
            for (uint16_t v : b) {
                o.push_back((unsigned char)(s.bigEndian ? v >> 8 : v));
                o.push_back((unsigned char)(s.bigEndian ? v : v >> 8));
            }
            return o;
        }
        return h3frScan(b, bw, bh, s.extraSofByte, s.cutLastRowBits, s.length17);
    };
    if (s.tileWidth) {
        std::vector<std::vector<unsigned char>> tiles;
        for (int y = 0; y < s.height; y += s.tileHeight)
            for (int x = 0; x < s.width; x += s.tileWidth) tiles.push_back(block(x, y, s.tileWidth, s.tileHeight));
        t.addLongs(ifd0, 322, {(uint32_t)s.tileWidth});
        t.addLongs(ifd0, 323, {(uint32_t)s.tileHeight});
        t.addBlocks(ifd0, 324, 325, tiles);
    } else {
        t.addLongs(ifd0, 278, {(uint32_t)s.height});
        t.addBlocks(ifd0, 273, 279, {block(0, 0, s.width, s.height)});
    }
    return t.write(ifd0);
}

}  // namespace rawkit
