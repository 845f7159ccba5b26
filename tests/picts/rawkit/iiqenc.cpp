// IIQ layout written from the format's description; rows coded in groups of eight columns,
// lengths chosen per column parity.
#include "iiqenc.h"

#include <cstring>

#include "bitwriter.h"

namespace rawkit {

namespace {
const int kLengths[10] = {8, 7, 6, 9, 11, 10, 5, 12, 14, 13};
}  // namespace

std::vector<unsigned char> writeIiq(const IiqSpec& s) {
    const int w = s.width, h = s.height;
    std::vector<unsigned char> raw;
    std::vector<uint32_t> rowOffsets;
    for (int row = 0; row < h; row++) {
        rowOffsets.push_back((uint32_t)raw.size());
        BitWriter32 b(false);
        const uint16_t* v = s.values.data() + (size_t)row * w;
        long long value[2] = {0, 0};
        int len[2] = {0, 0};
        for (int x = 0; x < w; x++) {
            if (x >= (w & ~7)) {
                len[0] = len[1] = 14;
            } else if (!(x & 7)) {
                for (int i = 0; i < 2; i++) {
                    // The shortest length holding every step of this parity in the group.
                    int best = 8;  // index of 14
                    for (int k = 0; k < 10; k++) {
                        const int l = kLengths[k];
                        if (l == 14) continue;
                        long long p = value[i];
                        bool ok = true;
                        for (int t = x + i; t < x + 8; t += 2) {
                            const long long d = (long long)v[t] - p;
                            if (d < 1 - (1LL << (l - 1)) || d > (1LL << (l - 1))) ok = false;
                            p = v[t];
                        }
                        if (ok && (best == 8 || l < kLengths[best])) best = k;
                    }
                    const int zeros = best / 2 + 1;
                    b.put(0, zeros);
                    if (zeros < 5) b.put(1, 1);
                    b.put((uint32_t)(best & 1), 1);
                    len[i] = kLengths[best];
                }
            }
            const int l = len[x & 1];
            if (l == 14) {
                b.put(v[x], 16);
            } else {
                b.put((uint32_t)((long long)v[x] - value[x & 1] + (1LL << (l - 1)) - 1), l);
            }
            value[x & 1] = v[x];
        }
        b.align();
        raw.insert(raw.end(), b.out.begin(), b.out.end());
    }
    // The IIQ body; offsets are counted from byte 8.
    std::vector<unsigned char> f = {'I', 'I', 42, 0, 20, 0, 0, 0};
    f.insert(f.end(), {'I', 'I', 'I', 'I', 'C', 'w', 'a', 'R', 0, 0, 0, 0});
    f.insert(f.end(), {0, 0, 0, 0, 0, 0});  // an empty TIFF directory at 20
    auto rel = [&]() { return (uint32_t)(f.size() - 8); };
    const uint32_t rowTable = rel();
    for (uint32_t o : rowOffsets) putBytes(f, o, 4, false);
    uint32_t blackColAt = 0, blackRowAt = 0;
    if (!s.blackCols.empty()) {
        blackColAt = rel();
        for (int16_t v : s.blackCols) f.insert(f.end(), {(unsigned char)v, (unsigned char)((uint16_t)v >> 8)});
    }
    if (!s.blackRows.empty()) {
        blackRowAt = rel();
        for (int16_t v : s.blackRows) f.insert(f.end(), {(unsigned char)v, (unsigned char)((uint16_t)v >> 8)});
    }
    const uint32_t balanceAt = rel();
    for (float x : s.balance) {
        uint32_t u;
        memcpy(&u, &x, 4);
        putBytes(f, u, 4, false);
    }
    const uint32_t rawAt = rel();
    f.insert(f.end(), raw.begin(), raw.end());
    const uint32_t dir = rel();
    struct E {
        uint32_t tag, size, data;
    };
    std::vector<E> e = {{0x108, 4, (uint32_t)w},
                        {0x109, 4, (uint32_t)h},
                        {0x10A, 4, s.left},
                        {0x10B, 4, s.top},
                        {0x10C, 4, (uint32_t)(w - (int)s.left - (int)s.right)},
                        {0x10D, 4, (uint32_t)(h - (int)s.top - (int)s.bottom)},
                        {0x10E, 4, s.format},
                        {0x10F, (uint32_t)raw.size(), rawAt},
                        {0x107, 12, balanceAt},
                        {0x21C, 4 * (uint32_t)h, rowTable},
                        {0x21D, 4, s.black}};
    if (blackColAt) {
        e.push_back({0x222, 4, s.splitCol});
        e.push_back({0x223, 2 * (uint32_t)s.blackCols.size(), blackColAt});
    }
    if (blackRowAt) {
        e.push_back({0x224, 4, s.splitRow});
        e.push_back({0x225, 2 * (uint32_t)s.blackRows.size(), blackRowAt});
    }
    putBytes(f, (uint32_t)e.size(), 4, false);
    putBytes(f, 0, 4, false);
    for (const E& x : e) {
        putBytes(f, x.tag, 4, false);
        putBytes(f, 4, 4, false);
        putBytes(f, x.size, 4, false);
        putBytes(f, x.data, 4, false);
    }
    for (int i = 0; i < 4; i++) f[16 + i] = (unsigned char)(dir >> (8 * i));
    if (s.previewW > 0) {
        // An uncompressed RGB strip, its bits per sample and its directory, at the end; the
        // TIFF header points there instead of at the empty directory.
        auto put16 = [&](uint32_t v) { f.insert(f.end(), {(unsigned char)v, (unsigned char)(v >> 8)}); };
        const uint32_t strip = (uint32_t)f.size();
        f.insert(f.end(), s.previewRgb.begin(), s.previewRgb.end());
        const uint32_t bits = (uint32_t)f.size();
        put16(8), put16(8), put16(8);
        const uint32_t ifd = (uint32_t)f.size();
        const uint32_t n = (uint32_t)s.previewRgb.size();
        const uint32_t t[9][3] = {{256, 4, (uint32_t)s.previewW}, {257, 4, (uint32_t)s.previewH}, {258, 3, bits},
                                  {259, 3, 1}, {262, 3, 2}, {273, 4, strip}, {277, 3, 3},
                                  {278, 4, (uint32_t)s.previewH}, {279, 4, n}};
        put16(9);
        for (const auto& x : t) {
            put16(x[0]);
            put16(x[1]);
            putBytes(f, x[0] == 258 ? 3 : 1, 4, false);
            if (x[1] == 3 && x[0] != 258) {
                put16(x[2]);
                put16(0);
            } else {
                putBytes(f, x[2], 4, false);
            }
        }
        putBytes(f, 0, 4, false);
        for (int i = 0; i < 4; i++) f[4 + i] = (unsigned char)(ifd >> (8 * i));
    }
    if (!s.zip) return f;
    // A ZIP local file header storing "0.IIQ" uncompressed, 4 bytes of extra field.
    std::vector<unsigned char> z;
    putBytes(z, 0x04034B50, 4, false);
    z.insert(z.end(), {20, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // version, flags, method 0, time, date
    putBytes(z, 0, 4, false);                                          // CRC (not checked by readers here)
    putBytes(z, (uint32_t)f.size(), 4, false);
    putBytes(z, (uint32_t)f.size(), 4, false);
    z.insert(z.end(), {5, 0, 4, 0});
    z.insert(z.end(), {'0', '.', 'I', 'I', 'Q', 0, 0, 0, 0});
    z.insert(z.end(), f.begin(), f.end());
    return z;
}

}  // namespace rawkit
