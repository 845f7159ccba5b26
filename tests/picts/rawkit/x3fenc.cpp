// X3F layout: little-endian throughout.
#include "x3fenc.h"

#include <cstdlib>

#include "bitwriter.h"

namespace rawkit {

namespace {
void sectionHeader(std::vector<unsigned char>& o, uint32_t type, uint32_t format, uint32_t cols, uint32_t rows) {
    o.insert(o.end(), {'S', 'E', 'C', 'i'});
    putBytes(o, 0x20000, 4, false);  // version 2.0
    putBytes(o, type, 4, false);
    putBytes(o, format, 4, false);
    putBytes(o, cols, 4, false);
    putBytes(o, rows, 4, false);
    putBytes(o, 0, 4, false);  // row size (not used by compressed formats)
}
// Lengths 2..7 of a prefix code for diff lengths 0..12 (Kraft sum below 1).
const unsigned char kLen[13] = {2, 3, 3, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7};

std::vector<unsigned char> format5(const X3fSpec& s) {
    // Table: index i gives difference i - 512, so any step of -512..511 is one index.
    std::vector<unsigned char> o;
    for (int i = 0; i < 1024; i++) putBytes(o, (uint16_t)(int16_t)(i - 512), 2, false);
    for (uint32_t y = 0; y < s.height; y++) {
        int sum[3] = {0, 0, 0};  // blue, green, red
        for (uint32_t x = 0; x < s.width; x++) {
            uint32_t w = 0;
            for (int c = 0; c < 3; c++) {
                int target = s.rgb[((size_t)y * s.width + x) * 3 + (2 - c)];
                int d = target - sum[c];
                if (d > 511) d = 511;
                if (d < -512) d = -512;
                sum[c] += d;
                w |= (uint32_t)(d + 512) << (10 * c);
            }
            putBytes(o, w, 4, false);
        }
    }
    return o;
}
}  // namespace

void x3fCodePairs(unsigned char pairs[26]) {
    unsigned code = 0, len = kLen[0];
    for (int i = 0; i < 13; i++) {
        if (i) {
            code = (code + 1) << (kLen[i] - kLen[i - 1]);
            len = kLen[i];
        }
        pairs[2 * i] = (unsigned char)len;
        pairs[2 * i + 1] = (unsigned char)(code << (8 - len));
    }
}

namespace {
std::vector<unsigned char> format30(const X3fSpec& s) {
    unsigned char pairs[26];
    x3fCodePairs(pairs);
    std::vector<std::vector<unsigned char>> planes;
    for (int c = 0; c < 3; c++) {
        BitWriterMSB bw;
        int v[2][2] = {{512, 512}, {512, 512}};
        for (uint32_t r = 0; r < s.height; r++) {
            int h[2] = {0, 0};
            for (uint32_t k = 0; k < s.width; k++) {
                int t = s.rgb[((size_t)r * s.width + k) * 3 + c];
                int& ref = k < 2 ? v[r & 1][k] : h[k & 1];
                int diff = t - ref;
                ref = t;
                if (k < 2) h[k] = t;
                int len = 0;
                while ((abs(diff) >> len) != 0) len++;
                bw.put((uint32_t)pairs[2 * len + 1] >> (8 - pairs[2 * len]), pairs[2 * len]);
                if (len) bw.put((uint32_t)(diff > 0 ? diff : diff + (1 << len) - 1), len);
            }
        }
        bw.align(false);
        planes.push_back(bw.out);
    }
    // After the 28-byte section header: 8 bytes, the table at 36, the lengths, planes from 76.
    std::vector<unsigned char> o(8, 0);
    o.insert(o.end(), pairs, pairs + 26);
    for (auto& p : planes) putBytes(o, p.size(), 4, false);
    while (o.size() < 48) o.push_back(0);
    for (auto& p : planes) {
        o.insert(o.end(), p.begin(), p.end());
        while (o.size() % 16) o.push_back(0);
    }
    return o;
}
}  // namespace

std::vector<unsigned char> writeX3f(const X3fSpec& s) {
    std::vector<unsigned char> f = {'F', 'O', 'V', 'b'};
    putBytes(f, 0x20002, 4, false);
    while (f.size() < 40) f.push_back(0);
    struct Dir {
        uint32_t off, len;
    };
    std::vector<Dir> dir;
    auto addSection = [&](uint32_t type, uint32_t format, uint32_t cols, uint32_t rows,
                          const std::vector<unsigned char>& data) {
        Dir d{(uint32_t)f.size(), 0};
        sectionHeader(f, type, format, cols, rows);
        f.insert(f.end(), data.begin(), data.end());
        d.len = (uint32_t)f.size() - d.off;
        dir.push_back(d);
        while (f.size() % 4) f.push_back(0);
    };
    for (const X3fPreview& p : s.previews) addSection(2, p.format, p.columns, p.rows, p.jpeg);
    std::vector<unsigned char> raw = s.format == 5 ? format5(s) : s.format == 30 ? format30(s)
                                                                                : std::vector<unsigned char>(16, 0);
    addSection(3, s.format, s.width, s.height, raw);
    const uint32_t dirOff = (uint32_t)f.size();
    f.insert(f.end(), {'S', 'E', 'C', 'd'});
    putBytes(f, 0x20000, 4, false);
    putBytes(f, dir.size(), 4, false);
    for (const Dir& d : dir) {
        putBytes(f, d.off, 4, false);
        putBytes(f, d.len, 4, false);
        f.insert(f.end(), {'I', 'M', 'A', 'G'});
    }
    putBytes(f, dirOff, 4, false);
    return f;
}

}  // namespace rawkit
