// Pentax PEF writer of the raw test kit.
#include "pefenc.h"

#include <cstring>

#include "bitwriter.h"
#include "tiffwriter.h"

namespace rawkit {

namespace {

const int kLens[13] = {3, 3, 3, 2, 3, 3, 4, 5, 6, 7, 8, 9, 9};

// Canonical codes, shortest first, ties by category.
void codes(uint32_t code[13]) {
    uint32_t next = 0;
    int prevLen = 0;
    for (int len = 1; len <= 12; len++)
        for (int c = 0; c < 13; c++) {
            if (kLens[c] != len) continue;
            next <<= (len - prevLen);
            prevLen = len;
            code[c] = next++;
        }
}


std::vector<unsigned char> makerNote(const PefSpec& s, uint64_t base) {
    // One directory at base + 6; values placed after it, offsets relative to the file.
    struct E {
        int tag, type;
        uint32_t count;
        std::vector<unsigned char> data;
    };
    std::vector<E> es;
    auto longs = [&](int tag, const std::vector<uint32_t>& v) {
        E e{tag, 4, (uint32_t)v.size(), {}};
        for (uint32_t x : v)
            for (int i = 0; i < 4; i++) e.data.push_back((unsigned char)(s.bigEndian ? x >> (24 - 8 * i) : x >> (8 * i)));
        es.push_back(e);
    };
    if (!s.cropOrigin.empty()) longs(0x38, s.cropOrigin);
    if (!s.cropSize.empty()) longs(0x39, s.cropSize);
    if (!s.balance.empty()) longs(0x201, s.balance);
    std::vector<unsigned char> table = s.tableOverride.empty() ? pefTable(s.bigEndian) : s.tableOverride;
    if (s.code == PefSpec::cHuffman || !s.tableOverride.empty()) {
        if (s.tableTag == 0x22A) {
            std::vector<unsigned char> t(226, 0);
            t.insert(t.end(), table.begin(), table.end());
            t.resize(t.size() < 241 ? 241 : t.size(), 0);
            if (s.extraTable220) {
                std::vector<unsigned char> wrong = table;
                for (size_t i = 14; i + 1 < 14 + 26 && i < wrong.size(); i++) wrong[i] ^= 0x55;
                es.push_back({0x220, 7, (uint32_t)wrong.size(), wrong});
            }
            es.push_back({0x22A, 7, (uint32_t)t.size(), t});
        } else {
            es.push_back({0x220, 7, (uint32_t)table.size(), table});
        }
    }
    // Ricoh-made files open with "PENTAX \0", four bytes longer than "AOC\0".
    const bool ricoh = s.make.compare(0, 6, "RICOH ") == 0;
    std::vector<unsigned char> out;
    for (const char* h = ricoh ? "PENTAX " : "AOC"; *h; h++) out.push_back((unsigned char)*h);
    out.push_back(0);
    out.push_back((unsigned char)(s.bigEndian ? 'M' : 'I'));
    out.push_back((unsigned char)(s.bigEndian ? 'M' : 'I'));
    const uint64_t dirAt = base + out.size();
    uint64_t valueAt = dirAt + 2 + 12 * es.size() + 4;
    putBytes(out, (uint32_t)es.size(), 2, s.bigEndian);
    std::vector<unsigned char> values;
    for (const E& e : es) {
        putBytes(out, (uint32_t)e.tag, 2, s.bigEndian);
        putBytes(out, (uint32_t)e.type, 2, s.bigEndian);
        for (int i = 0; i < 4; i++) out.push_back((unsigned char)(s.bigEndian ? e.count >> (24 - 8 * i) : e.count >> (8 * i)));
        if (e.data.size() <= 4) {
            std::vector<unsigned char> d = e.data;
            d.resize(4, 0);
            out.insert(out.end(), d.begin(), d.end());
        } else {
            const uint32_t at = (uint32_t)(valueAt + values.size());
            for (int i = 0; i < 4; i++) out.push_back((unsigned char)(s.bigEndian ? at >> (24 - 8 * i) : at >> (8 * i)));
            values.insert(values.end(), e.data.begin(), e.data.end());
            if (values.size() & 1) values.push_back(0);
        }
    }
    for (int i = 0; i < 4; i++) out.push_back(0);
    out.insert(out.end(), values.begin(), values.end());
    return out;
}

std::vector<unsigned char> strip(const PefSpec& s) {
    const int w = s.width, h = s.height;
    std::vector<unsigned char> o;
    if (s.code == PefSpec::cPlain16) {
        for (uint16_t v : s.frame) putBytes(o, v, 2, s.bigEndian);
    } else if (s.code == PefSpec::cPacked12) {
        appendPacked12(o, s.frame, s.bigEndian);
    } else {
        uint32_t code[13];
        codes(code);
        BitWriterMSB bw;
        int vpred[2][2] = {{0, 0}, {0, 0}};
        for (int r = 0; r < h; r++) {
            int hpred[2] = {0, 0};
            for (int c = 0; c < w; c++) {
                const int v = s.frame[(size_t)r * w + c];
                const int pred = c < 2 ? vpred[r & 1][c] : hpred[c & 1];
                const int diff = v - pred;
                int len = 0;
                for (int a = diff < 0 ? -diff : diff; a; a >>= 1) len++;
                bw.put(code[len], kLens[len]);
                if (len) bw.put((uint32_t)(diff < 0 ? diff + (1 << len) - 1 : diff), len);
                if (c < 2) {
                    vpred[r & 1][c] = v;
                    hpred[c] = v;
                } else {
                    hpred[c & 1] = v;
                }
            }
        }
        bw.align(false);
        o = bw.out;
        o.resize(o.size() + 4, 0);
    }
    return o;
}

}  // namespace

std::vector<unsigned char> pefTable(bool be) {
    uint32_t code[13];
    codes(code);
    std::vector<unsigned char> t;
    putBytes(t, 1, 2, be);  // depth (1 + 12) & 15 = 13
    t.resize(14, 0);
    for (int c = 0; c < 13; c++) putBytes(t, code[c] << (12 - kLens[c]), 2, be);
    for (int c = 0; c < 13; c++) t.push_back((unsigned char)kLens[c]);
    return t;
}

std::vector<unsigned char> writePef(const PefSpec& s, uint64_t* makerNoteAt) {
    uint64_t base = 0;
    std::vector<unsigned char> file;
    // Twice: the maker note's offsets need its place in the file, which the first pass finds.
    for (int pass = 0; pass < 2; pass++) {
        TiffWriter t(s.bigEndian, false);
        int ifd0 = t.newIfd(), exif = t.newIfd();
        t.addLongs(ifd0, 256, {(uint32_t)s.width});
        t.addLongs(ifd0, 257, {(uint32_t)s.height});
        t.addShorts(ifd0, 258, {(uint32_t)s.bits});
        t.addShorts(ifd0, 259, {s.code == PefSpec::cHuffman ? 65535u : s.code == PefSpec::cPacked12 ? 32773u : 1u});
        t.addShorts(ifd0, 262, {32803});
        t.addAscii(ifd0, 271, s.make);
        t.addAscii(ifd0, 272, s.model);
        t.addShorts(ifd0, 277, {1});
        t.addLongs(ifd0, 278, {(uint32_t)s.height});
        t.addBlocks(ifd0, 273, 279, {strip(s)});
        t.addIfdPointers(ifd0, 34665, {exif});
        if (s.cfaTag) {
            std::vector<unsigned char> pat;
            std::vector<unsigned char> two = t.u16(2);
            pat.insert(pat.end(), two.begin(), two.end());
            pat.insert(pat.end(), two.begin(), two.end());
            pat.insert(pat.end(), s.cfa, s.cfa + 4);
            t.addBytes(exif, 41730, TiffWriter::tUndefined, pat);
        }
        t.addMakerNote(exif, makerNote(s, base));
        if (!s.jpeg.empty()) {
            int prev = t.newIfd();
            t.addBlocks(prev, 513, 514, {s.jpeg});
            t.chain(ifd0, prev);
        }
        file = t.write(ifd0);
        const bool ricoh = s.make.compare(0, 6, "RICOH ") == 0;
        const char* sig = ricoh ? "PENTAX " : "AOC";
        const size_t n = strlen(sig) + 1;
        for (size_t i = 0; i + n <= file.size(); i++)
            if (!memcmp(&file[i], sig, n)) {
                base = i;
                break;
            }
    }
    if (makerNoteAt) *makerNoteAt = base;
    return file;
}

}  // namespace rawkit
