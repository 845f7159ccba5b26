// Lossless JPEG encoder of the raw test kit, written from T.81 (Annex H for the process,
// Annex K.2 and K.3 for the Huffman code lengths) and nothing else.
#include "ljpegenc.h"

#include <algorithm>

#include "bitwriter.h"

namespace rawkit {

namespace {

int predict(int psv, int ra, int rb, int rc) {
    switch (psv) {
        case 1: return ra;
        case 2: return rb;
        case 3: return rc;
        case 4: return ra + rb - rc;
        case 5: return ra + ((rb - rc) >> 1);
        case 6: return rb + ((ra - rc) >> 1);
        default: return (ra + rb) >> 1;
    }
}

// Difference category (SSSS) and the extra bits of a difference (H.1.2.2).
void category(int d, int& s, uint32_t& extra) {
    d &= 0xFFFF;
    if (d >= 32768) d -= 65536;
    s = 0;
    if (d == -32768) {
        s = 16;
        extra = 0;
        return;
    }
    for (int a = d < 0 ? -d : d; a; a >>= 1) s++;
    extra = (uint32_t)(d < 0 ? d + (1 << s) - 1 : d);
}

// K.2: code sizes from frequencies, with one reserved symbol so that no code is all ones;
// K.3: lengths above 16 folded back. Gives BITS[1..16] and HUFFVAL in code order.
void buildTable(const std::vector<long>& freqIn, unsigned char bits[17], std::vector<unsigned char>& vals) {
    std::vector<long> freq(freqIn);
    freq.resize(257, 0);
    freq[256] = 1;
    std::vector<int> codesize(257, 0), others(257, -1);
    for (;;) {
        int c1 = -1, c2 = -1;
        for (int i = 0; i < 257; i++)
            if (freq[i] > 0 && (c1 < 0 || freq[i] <= freq[c1])) c1 = i;
        for (int i = 0; i < 257; i++)
            if (freq[i] > 0 && i != c1 && (c2 < 0 || freq[i] <= freq[c2])) c2 = i;
        if (c2 < 0) break;
        freq[c1] += freq[c2];
        freq[c2] = 0;
        codesize[c1]++;
        while (others[c1] >= 0) {
            c1 = others[c1];
            codesize[c1]++;
        }
        others[c1] = c2;
        codesize[c2]++;
        while (others[c2] >= 0) {
            c2 = others[c2];
            codesize[c2]++;
        }
    }
    std::vector<int> count(64, 0);
    for (int i = 0; i < 257; i++)
        if (codesize[i]) count[codesize[i]]++;
    for (int i = 63; i > 16; i--) {
        while (count[i] > 0) {
            int j = i - 2;
            while (count[j] == 0) j--;
            count[i] -= 2;
            count[i - 1]++;
            count[j + 1] += 2;
            count[j]--;
        }
    }
    int i = 16;
    while (count[i] == 0) i--;
    count[i]--;  // the reserved symbol's code
    for (int l = 1; l <= 16; l++) bits[l] = (unsigned char)count[l];
    vals.clear();
    for (int l = 1; l < 64; l++)
        for (int s = 0; s < 256; s++)
            if (codesize[s] == l) vals.push_back((unsigned char)s);
    vals.resize(std::min<size_t>(vals.size(), 17));
}

}  // namespace

std::vector<unsigned char> encodeLossless(const std::vector<LjComp>& comps, int width, int height,
                                          const LjOptions& o) {
    const size_t nc = comps.size();
    int hmax = 1, vmax = 1;
    for (auto& c : comps) hmax = std::max(hmax, c.h), vmax = std::max(vmax, c.v);
    const bool single = nc == 1;
    const int mcusX = single ? comps[0].w : (width + hmax - 1) / hmax;
    const int mcusY = single ? comps[0].hgt : (height + vmax - 1) / vmax;
    // Source samples >> pt on each component's MCU-padded grid (padding repeats edges).
    std::vector<std::vector<int>> rec(nc);
    std::vector<int> gw(nc), hf(nc), vf(nc);
    for (size_t i = 0; i < nc; i++) {
        const LjComp& c = comps[i];
        hf[i] = single ? 1 : c.h;
        vf[i] = single ? 1 : c.v;
        gw[i] = mcusX * hf[i];
        int gh = mcusY * vf[i];
        rec[i].resize((size_t)gw[i] * gh);
        for (int y = 0; y < gh; y++)
            for (int x = 0; x < gw[i]; x++)
                rec[i][(size_t)y * gw[i] + x] =
                    c.px[(size_t)std::min(y, c.hgt - 1) * c.w + std::min(x, c.w - 1)] >> o.pt;
    }
    // Pass 1 gathers (category, extra) per sample in coding order; pass 2 writes them.
    std::vector<std::pair<int, uint32_t>> coded;
    std::vector<int> codedComp;
    std::vector<long> freq(257, 0);
    std::vector<size_t> restartAt;
    int left = o.restart;
    const bool decodeOrder = o.decodeOrder && o.psv == 1 && nc > 1;
    std::vector<int> last(nc, 0), rowFirst(nc, 0);
    std::vector<bool> fresh(nc, true);  // decode order: next sample starts from the initial value
    for (int my = 0; my < mcusY; my++) {
        bool rowIsReset = my == 0;
        std::vector<bool> firstAfter(nc, my == 0);
        for (int mx = 0; mx < mcusX; mx++) {
            if (o.restart) {
                if (left == 0) {
                    restartAt.push_back(coded.size());
                    left = o.restart;
                    rowIsReset = true;
                    firstAfter.assign(nc, true);
                    fresh.assign(nc, true);
                }
                left--;
            }
            for (size_t i = 0; i < nc; i++) {
                for (int yy = 0; yy < vf[i]; yy++)
                    for (int xx = 0; xx < hf[i]; xx++) {
                        int x = mx * hf[i] + xx, y = my * vf[i] + yy;
                        auto R = [&](int xr, int yr) { return rec[i][(size_t)yr * gw[i] + xr]; };
                        int pred;
                        const bool rowStart = mx == 0 && yy == 0 && xx == 0;
                        if (decodeOrder) {
                            pred = fresh[i] ? 1 << (o.precision - o.pt - 1) : rowStart ? rowFirst[i] : last[i];
                            fresh[i] = false;
                            last[i] = R(x, y);
                            if (rowStart) rowFirst[i] = R(x, y);
                        } else if (rowIsReset && yy == 0) {
                            pred = (firstAfter[i] || x == 0) ? 1 << (o.precision - o.pt - 1) : R(x - 1, y);
                            firstAfter[i] = false;
                        } else if (x == 0) {
                            pred = R(x, y - 1);
                        } else {
                            pred = predict(o.psv, R(x - 1, y), R(x, y - 1), R(x - 1, y - 1));
                        }
                        int s;
                        uint32_t extra;
                        category(R(x, y) - pred, s, extra);
                        coded.push_back({s, extra});
                        codedComp.push_back((int)i);
                        freq[s]++;
                    }
            }
        }
    }
    unsigned char bits[17] = {};
    std::vector<unsigned char> vals;
    buildTable(freq, bits, vals);
    // Canonical codes (C.2).
    std::vector<uint32_t> code(17, 0);
    std::vector<int> len(17, 0);
    uint32_t c = 0;
    size_t k = 0;
    for (int l = 1; l <= 16; l++) {
        for (int n = 0; n < bits[l]; n++, k++) {
            code[vals[k]] = c++;
            len[vals[k]] = l;
        }
        c <<= 1;
    }

    std::vector<unsigned char> out = {0xFF, 0xD8, 0xFF, 0xC3};
    putBytes(out, 8 + 3 * (int)nc, 2, true);
    out.push_back((unsigned char)o.precision);
    putBytes(out, height, 2, true);
    putBytes(out, width, 2, true);
    out.push_back((unsigned char)nc);
    for (size_t i = 0; i < nc; i++) {
        out.push_back((unsigned char)(i + 1));
        out.push_back((unsigned char)(comps[i].h << 4 | comps[i].v));
        out.push_back(0);
    }
    out.insert(out.end(), {0xFF, 0xC4});
    putBytes(out, 2 + 1 + 16 + (int)vals.size(), 2, true);
    out.push_back(0x00);
    for (int l = 1; l <= 16; l++) out.push_back(bits[l]);
    out.insert(out.end(), vals.begin(), vals.end());
    if (o.restart) {
        out.insert(out.end(), {0xFF, 0xDD});
        putBytes(out, 4, 2, true);
        putBytes(out, o.restart, 2, true);
    }
    out.insert(out.end(), {0xFF, 0xDA});
    putBytes(out, 6 + 2 * (int)nc, 2, true);
    out.push_back((unsigned char)nc);
    for (size_t i = 0; i < nc; i++) {
        out.push_back((unsigned char)(i + 1));
        out.push_back(0x00);
    }
    out.push_back((unsigned char)o.psv);
    out.push_back(0);
    out.push_back((unsigned char)o.pt);
    BitWriterMSB bw(o.stuff);
    size_t nextRestart = 0;
    int rst = 0;
    for (size_t n = 0; n < coded.size(); n++) {
        if (nextRestart < restartAt.size() && restartAt[nextRestart] == n) {
            bw.align();
            bw.out.push_back(0xFF);
            bw.out.push_back((unsigned char)(0xD0 + rst));
            rst = (rst + 1) & 7;
            nextRestart++;
        }
        int s = coded[n].first;
        bw.put(code[s], len[s]);
        if (s && s < 16) bw.put(coded[n].second, s);
        if (s == 16 && o.diff16Bits) bw.put(32768, 16);  // the difference 32768 as 16 plain bits
    }
    bw.align();
    out.insert(out.end(), bw.out.begin(), bw.out.end());
    if (o.eoi) out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

std::vector<unsigned char> encodeRawSequence(const std::vector<uint16_t>& order, int jpegWidth, int jpegHeight,
                                             int nc, const LjOptions& o) {
    std::vector<LjComp> comps(nc);
    for (int i = 0; i < nc; i++) {
        comps[i].w = jpegWidth;
        comps[i].hgt = jpegHeight;
        comps[i].px.assign((size_t)jpegWidth * jpegHeight, 0);
    }
    for (size_t k = 0; k < order.size() && k < (size_t)jpegWidth * jpegHeight * nc; k++) {
        size_t line = k / ((size_t)jpegWidth * nc), in = k % ((size_t)jpegWidth * nc);
        comps[in % nc].px[line * jpegWidth + in / nc] = order[k];
    }
    return encodeLossless(comps, jpegWidth, jpegHeight, o);
}

std::vector<uint16_t> sliceOrder(const std::vector<uint16_t>& frame, int width, int height, int sliceCount,
                                 int sliceWidth) {
    std::vector<uint16_t> out;
    out.reserve(frame.size());
    for (int s = 0; s <= sliceCount; s++) {
        int x0 = s * sliceWidth, x1 = s < sliceCount ? x0 + sliceWidth : width;
        for (int y = 0; y < height; y++)
            for (int x = x0; x < x1; x++) out.push_back(frame[(size_t)y * width + x]);
    }
    return out;
}

std::vector<uint16_t> interleavedOrder(const std::vector<uint16_t>& frame, int width, int height) {
    std::vector<uint16_t> out;
    out.reserve(frame.size());
    for (int s = 0; s < height; s++) {
        int row = (s & 1) ? height - 1 - s / 2 : s / 2;
        out.insert(out.end(), frame.begin() + (size_t)row * width, frame.begin() + (size_t)(row + 1) * width);
    }
    return out;
}

std::vector<uint16_t> rampNoiseFrame(int width, int height, int precision, unsigned seed) {
    std::vector<uint16_t> f((size_t)width * height);
    const unsigned maxv = (1u << precision) - 1;
    unsigned s = seed * 2654435761u + 1;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            s = s * 1103515245u + 12345u;
            unsigned ramp = (unsigned)(((unsigned long long)(x * 3 + y * 5) * maxv) / (unsigned)(3 * width + 5 * height));
            unsigned noise = (s >> 16) & 63;
            unsigned v = ramp + noise;
            f[(size_t)y * width + x] = (uint16_t)(v > maxv ? (ramp > noise ? ramp - noise : 0) : v);
        }
    return f;
}

}  // namespace rawkit
