// Nikon NEF writer of the raw test kit.
#include "nefenc.h"

#include <algorithm>
#include <cstdlib>

#include "bitwriter.h"
#include "tiffwriter.h"

namespace rawkit {

namespace {

const unsigned char kHuffmanCodes[6][32] = {
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 5, 4, 3, 6, 2, 7, 1, 0, 8, 9, 11, 10, 12},
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 57, 90, 56, 39, 22, 5, 4, 3, 2, 1, 0, 11, 12, 12},
    {0, 1, 4, 2, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 4, 6, 3, 7, 2, 8, 1, 9, 0, 10, 11, 12},
    {0, 1, 4, 3, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 5, 6, 4, 7, 8, 3, 9, 2, 1, 0, 10, 11, 12, 13, 14},
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 8, 92, 75, 58, 41, 7, 6, 5, 4, 3, 2, 1, 0, 13, 14},
    {0, 1, 4, 2, 2, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 7, 6, 8, 5, 9, 4, 10, 3, 11, 12, 2, 0, 1, 13, 14},
};

struct Code {
    int sym, len;
    uint32_t bits;
};

// Canonical codes of a description (T.81 Annex C order).
std::vector<Code> canonical(int row) {
    std::vector<Code> out;
    uint32_t code = 0;
    int k = 16;
    for (int len = 1; len <= 16; len++) {
        for (int i = 0; i < kHuffmanCodes[row][len - 1]; i++) out.push_back({kHuffmanCodes[row][k++], len, code++});
        code <<= 1;
    }
    return out;
}

// The difference a symbol and its value bits decode to.
int recon(int sym, uint32_t x) {
    const int len = sym & 15, shl = sym >> 4;
    int diff = (int)((((long long)x * 2 + 1) << shl) >> 1);
    if (len == 0 && shl == 0) return 0;
    if (len && !(diff & (1 << (len - 1)))) diff -= (1 << len) - (shl == 0 ? 1 : 0);
    return diff;
}

unsigned curveMax(const NefSpec& s) { return (1u << s.bits) & 0x7FFF; }

}  // namespace

std::vector<uint16_t> nefCurve(const NefSpec& s) {
    const unsigned max = curveMax(s), step = max / (s.curvePoints - 1);
    std::vector<uint16_t> pts(max + step + 1);
    for (unsigned i = 0; i < pts.size(); i++) pts[i] = (uint16_t)i;
    // A rising curve: 3 x index at the bottom, flattening towards the top.
    for (int i = 0; i < s.curvePoints; i++) pts[i * step] = (uint16_t)(i * step * 3 / 2 + i);
    std::vector<uint16_t> c(max);
    for (unsigned i = 0; i < max; i++) {
        const unsigned k = i % step, a = i - k;
        c[i] = (uint16_t)((pts[a] * (step - k) + pts[a + step] * k) / step);
    }
    return c;
}

std::vector<unsigned char> nefLinearization(const NefSpec& s) {
    if (!s.linearizationOverride.empty()) return s.linearizationOverride;
    const bool lossy = s.code == NefSpec::cHuffLossy;
    std::vector<unsigned char> d = {(unsigned char)(lossy ? 'D' : 'F'), (unsigned char)(lossy ? ' ' : 0x10)};
    for (uint16_t v : s.vpred) putBytes(d, v, 2, s.bigEndian);
    if (!lossy) {
        putBytes(d, 0, 2, s.bigEndian);
        return d;
    }
    putBytes(d, (uint32_t)s.curvePoints, 2, s.bigEndian);
    const unsigned max = curveMax(s), step = max / (s.curvePoints - 1);
    for (int i = 0; i < s.curvePoints; i++) putBytes(d, (uint32_t)(i * step * 3 / 2 + i), 2, s.bigEndian);
    if (d.size() < 564) d.resize(564, 0);
    d[562] = (unsigned char)(s.bigEndian ? s.splitRow >> 8 : s.splitRow);
    d[563] = (unsigned char)(s.bigEndian ? s.splitRow : s.splitRow >> 8);
    return d;
}

namespace {

std::vector<unsigned char> huffmanStrip(const NefSpec& s, std::vector<uint16_t>& coded) {
    const bool lossy = s.code == NefSpec::cHuffLossy;
    const int t = (lossy ? 0 : 2) + (s.bits == 14 ? 3 : 0);
    std::vector<uint16_t> curve;
    if (lossy) curve = nefCurve(s);
    const int clampMax = (1 << s.bits) - 1;
    long long limit = lossy ? (long long)curve.size() : (long long)(curveMax(s)), offset = 0;
    std::vector<Code> codes = canonical(t);
    BitWriterMSB bw;
    uint16_t v[2][2] = {{s.vpred[0], s.vpred[1]}, {s.vpred[2], s.vpred[3]}};
    coded.assign((size_t)s.width * s.height, 0);
    for (int r = 0; r < s.height; r++) {
        if (s.splitRow && r == s.splitRow) {
            codes = canonical(t + 1);
            limit += 32;
            offset = 16;
        }
        uint16_t h[2] = {0, 0};
        for (int c = 0; c < s.width; c++) {
            const int pred = c < 2 ? v[r & 1][c] : h[c & 1];
            const int want = s.frame[(size_t)r * s.width + c];
            // The symbol and value whose reconstruction lands nearest the sample, staying
            // inside the curve (shortest code on a tie).
            long long bestErr = -1;
            Code best{};
            uint32_t bestX = 0;
            int bestVal = 0;
            for (const Code& k : codes) {
                const int len = k.sym & 15, shl = k.sym >> 4, m = len - shl;
                if (m < 0) continue;
                // Value bits run over 0 .. 2^m - 1; recon rises within each half.
                const uint32_t n = m ? 1u << m : 1;
                const uint32_t halves[2][2] = {{0, m ? n / 2 - 1 : 0}, {m ? n / 2 : 0, n - 1}};
                for (auto& hv : halves) {
                    uint32_t lo = hv[0], hi = hv[1];
                    while (lo < hi) {
                        const uint32_t mid = lo + (hi - lo) / 2;
                        if (pred + recon(k.sym, mid) < want) lo = mid + 1;
                        else hi = mid;
                    }
                    for (uint32_t x : {lo, lo ? lo - 1 : lo}) {
                        if (x < hv[0] || x > hv[1]) continue;
                        const int val = (int16_t)(uint16_t)(pred + recon(k.sym, x));
                        if (val < 0 || val + offset >= limit || val > clampMax) continue;
                        const long long err = std::llabs((long long)val - want);
                        if (bestErr < 0 || err < bestErr || (err == bestErr && k.len < best.len)) {
                            bestErr = err;
                            best = k;
                            bestX = x;
                            bestVal = val;
                        }
                    }
                }
            }
            bw.put(best.bits, best.len);
            const int m = (best.sym & 15) - (best.sym >> 4);
            if (m > 0) bw.put(bestX, m);
            if (c < 2) {
                v[r & 1][c] = (uint16_t)bestVal;
                h[c] = (uint16_t)bestVal;
            } else {
                h[c & 1] = (uint16_t)bestVal;
            }
            coded[(size_t)r * s.width + c] = lossy ? curve[bestVal] : (uint16_t)bestVal;
        }
    }
    bw.align(false);
    std::vector<unsigned char> o = bw.out;
    o.resize(o.size() + 8, 0);
    return o;
}

// Packed rows (or chunks) of `count` samples from `from`: 32-bit words of the file's order,
// bits from the top.
std::vector<unsigned char> packRun(const uint16_t* from, int count, int bits, bool be, size_t bytes) {
    BitWriter32 w(be);
    for (int i = 0; i < count; i++) w.put(from[i], bits);
    w.align();
    std::vector<unsigned char> o = w.out;
    o.resize(bytes, 0);
    return o;
}

}  // namespace

std::vector<unsigned char> writeNef(const NefSpec& s, std::vector<uint16_t>* codedOut) {
    std::vector<uint16_t> coded = s.frame;
    std::vector<std::vector<unsigned char>> strips;
    unsigned compression = 34713, makerCompression = 0;
    int rowsPerStrip = s.rowsPerStrip ? s.rowsPerStrip : s.height;
    const int w = s.width;
    switch (s.code) {
        case NefSpec::cHuffLossless:
        case NefSpec::cHuffLossy:
            makerCompression = s.code == NefSpec::cHuffLossy ? (s.splitRow ? 4 : 3) : 1;
            strips.push_back(huffmanStrip(s, coded));
            rowsPerStrip = s.height;
            break;
        default:
            if (s.code == NefSpec::cPacked || s.code == NefSpec::cWords16 || s.code == NefSpec::cPlain8) compression = 1;
            if (s.code == NefSpec::cPackBits8) compression = 32773;
            makerCompression = s.code == NefSpec::cChunked ? 2 : s.code == NefSpec::cBPack ? 7 : s.code == NefSpec::cBPackTp2 ? 9 : 0;
            for (int r0 = 0; r0 < s.height; r0 += rowsPerStrip) {
                std::vector<unsigned char> st;
                for (int r = r0; r < s.height && r < r0 + rowsPerStrip; r++) {
                    const uint16_t* row = &s.frame[(size_t)r * w];
                    std::vector<unsigned char> o;
                    if (s.code == NefSpec::cPacked) {
                        o = packRun(row, w, s.bits, true, (size_t)(w * s.bits + 7) / 8);  // MSB first in either order
                    } else if (s.code == NefSpec::cChunked) {
                        const int k = (16 * 8 - 8) / s.bits;
                        for (int c = 0; c < w; c += k) {
                            std::vector<unsigned char> ch = packRun(row + c, w - c < k ? w - c : k, s.bits, s.bigEndian, 16);
                            o.insert(o.end(), ch.begin(), ch.end());
                        }
                    } else if (s.code == NefSpec::cWords16) {
                        for (int c = 0; c < w; c++) putBytes(o, row[c], 2, s.bigEndian);
                    } else if (s.code == NefSpec::cPlain8 || s.code == NefSpec::cPackBits8) {
                        // PackBits: literal runs of up to 128 bytes, each after its count - 1.
                        for (int c = 0; c < w; c++) {
                            if (s.code == NefSpec::cPackBits8 && c % 128 == 0)
                                o.push_back((unsigned char)((w - c < 128 ? w - c : 128) - 1));
                            o.push_back((unsigned char)row[c]);
                        }
                    } else if (s.code == NefSpec::cBPack) {
                        for (int c = 0; c < w; c++) putBytes(o, (uint32_t)row[c] << 4 | 0x5, 2, true);
                    } else {
                        for (int c = 0; c + 1 < w; c += 2) {
                            o.push_back((unsigned char)(row[c] >> 4));
                            o.push_back((unsigned char)((row[c] & 15) << 4 | row[c + 1] >> 8));
                            o.push_back((unsigned char)row[c + 1]);
                        }
                    }
                    st.insert(st.end(), o.begin(), o.end());
                }
                strips.push_back(st);
            }
    }
    // The maker note's own TIFF structure.
    TiffWriter mn(s.bigEndian, false);
    int mi = mn.newIfd();
    mn.addAscii(mi, 0x1D, "1234567");
    if (makerCompression) mn.addShorts(mi, 0x93, {makerCompression});
    if (s.code == NefSpec::cHuffLossless || s.code == NefSpec::cHuffLossy || !s.linearizationOverride.empty())
        mn.addBytes(mi, 0x96, TiffWriter::tUndefined, nefLinearization(s));
    if (!s.balance.empty()) mn.addBytes(mi, 0x97, TiffWriter::tUndefined, s.balance);
    std::vector<unsigned char> note(s.noteMagic.begin(), s.noteMagic.begin() + std::min<size_t>(5, s.noteMagic.size()));
    note.resize(5, 0);
    note.insert(note.end(), {0, s.makerVersion, 0x10, 0, 0});
    if (s.keepStrips && (size_t)s.keepStrips < strips.size()) strips.resize((size_t)s.keepStrips);
    std::vector<unsigned char> inner = mn.write(mi);
    note.insert(note.end(), inner.begin(), inner.end());
    if (!s.makerVersion) {
        // Headerless: the directory itself at the maker note's offset, one inline entry (the
        // serial number), so that no offset needs the note's place in the file.
        note.clear();
        putBytes(note, 1, 2, s.bigEndian);
        putBytes(note, 0x1D, 2, s.bigEndian);
        putBytes(note, 2, 2, s.bigEndian);
        std::vector<unsigned char> count = s.bigEndian ? std::vector<unsigned char>{0, 0, 0, 3}
                                                       : std::vector<unsigned char>{3, 0, 0, 0};
        note.insert(note.end(), count.begin(), count.end());
        note.insert(note.end(), {'1', '2', 0, 0, 0, 0, 0, 0});
    }

    TiffWriter t(s.bigEndian, false);
    int ifd0 = t.newIfd(), exif = t.newIfd(), raw = t.newIfd();
    std::vector<int> subs;
    if (!s.jpeg.empty()) {
        int prev = t.newIfd();
        t.addLongs(prev, 254, {1});
        t.addBlocks(prev, 513, 514, {s.jpeg});
        subs.push_back(prev);
    }
    subs.push_back(raw);
    t.addLongs(ifd0, 254, {1});
    t.addAscii(ifd0, 271, s.make);
    t.addAscii(ifd0, 272, s.model);
    t.addIfdPointers(ifd0, 330, subs);
    t.addIfdPointers(ifd0, 34665, {exif});
    t.addMakerNote(exif, note);
    t.addLongs(raw, 254, {0});
    t.addLongs(raw, 256, {(uint32_t)w});
    t.addLongs(raw, 257, {(uint32_t)s.height});
    t.addShorts(raw, 258, {(uint32_t)s.bits});
    t.addShorts(raw, 259, {compression});
    t.addShorts(raw, 262, {32803});
    t.addShorts(raw, 277, {1});
    t.addLongs(raw, 278, {(uint32_t)rowsPerStrip});
    t.addBlocks(raw, 273, 279, strips);
    t.addShorts(raw, 33421, {2, 2});
    t.addBytes(raw, 33422, TiffWriter::tByte, {s.cfa[0], s.cfa[1], s.cfa[2], s.cfa[3]});
    if (codedOut) *codedOut = coded;
    return t.write(ifd0);
}

}  // namespace rawkit
