// ORF layout written from the format's description.
#include "orfenc.h"

#include "bitwriter.h"
#include "tiffwriter.h"

namespace rawkit {

std::vector<unsigned char> encodeOlympus(const std::vector<uint16_t>& f, int width, int height) {
    BitWriterMSB w;
    for (int row = 0; row < height; row++) {
        int carry[2][3] = {{0, 0, 0}, {0, 0, 0}};
        const uint16_t* r = f.data() + (size_t)row * width;
        for (int x = 0; x < width; x++) {
            int* c = carry[x & 1];
            const int i = c[2] < 3 ? 2 : 0;
            int nbits = 2 + i;
            while (nbits < 16 && ((unsigned)c[0] & 0xFFFF) >> (nbits + i)) nbits++;
            int pred;
            if (row < 2 && x < 2) pred = 0;
            else if (row < 2) pred = r[x - 2];
            else if (x < 2) pred = r[x - 2 * width];
            else {
                const int wv = r[x - 2], n = r[x - 2 * width], nw = r[x - 2 * width - 2];
                const int dw = wv > nw ? wv - nw : nw - wv, dn = n > nw ? n - nw : nw - n;
                if ((wv < nw && nw < n) || (n < nw && nw < wv)) pred = dw > 32 || dn > 32 ? wv + n - nw : (wv + n) >> 1;
                else pred = dw > dn ? wv : n;
            }
            const int d = r[x] - pred, low = d & 3, diff = (d - low) / 4;
            const int t = diff - c[1];
            const int sign = t < 0 ? -1 : 0, c0 = t < 0 ? ~t : t;
            w.put((uint32_t)((sign ? 4 : 0) | low), 3);
            const int high = c0 >> nbits;
            if (high < 12) {
                w.put(1, high + 1);  // high zeros, then a one
            } else {
                w.put(0, 12);
                w.put((uint32_t)high << 1, 16 - nbits);
            }
            w.put((uint32_t)c0 & ((1u << nbits) - 1), nbits);
            c[0] = c0;
            c[1] = (diff * 3 + c[1]) >> 5;
            c[2] = c0 > 16 ? 0 : c[2] + 1;
        }
    }
    w.put(0, 32);
    w.align(false);
    std::vector<unsigned char> out(7, 0);
    out.insert(out.end(), w.out.begin(), w.out.end());
    return out;
}

std::vector<unsigned char> writeOrf(const OrfSpec& s) {
    const bool be = s.bigEndian;
    const int w = s.width, h = s.height;
    TiffWriter t(be, false);
    const int ifd = t.newIfd(), exif = t.newIfd();
    t.addLongs(ifd, 256, {(uint32_t)w});
    t.addLongs(ifd, 257, {(uint32_t)h});
    // Compressed frames carry 16 bits per sample, as the cameras write them.
    const bool words = s.layout == OrfSpec::Plain16 || s.layout == OrfSpec::Compressed;
    t.addShorts(ifd, 258, {s.bits ? (uint32_t)s.bits : words ? 16u : 12u});
    t.addShorts(ifd, 262, {s.layout == OrfSpec::Interlaced12 ? 2u : 1u});
    t.addAscii(ifd, 271, "OLYMPUS IMAGING CORP.  ");
    t.addAscii(ifd, 272, s.model);
    // Rows of the layout, in the order the strips hold them.
    std::vector<int> order;
    if (s.layout == OrfSpec::Interlaced12) {
        for (int r = 0; r < h; r += 2) order.push_back(r);
        for (int r = 1; r < h; r += 2) order.push_back(r);
    } else {
        for (int r = 0; r < h; r++) order.push_back(r);
    }
    auto rowsBytes = [&](size_t from, size_t to) {
        std::vector<unsigned char> o;
        std::vector<uint16_t> v;
        for (size_t k = from; k < to; k++)
            for (int x = 0; x < w; x++) v.push_back(s.frame[(size_t)order[k] * w + x] & 0xFFF);
        const size_t n = v.size();
        switch (s.layout) {
            case OrfSpec::Packed12: {
                BitWriter32 b(false);
                for (uint16_t x : v) b.put(x, 12);
                b.align();
                o = b.out;
                o.resize(n * 3 / 2);
                break;
            }
            case OrfSpec::Interlaced12:
                for (size_t i = 0; i < n; i += 2) {
                    const unsigned a = v[i], c = i + 1 < n ? v[i + 1] : 0;
                    o.push_back((unsigned char)(a >> 4));
                    o.push_back((unsigned char)((a & 15) << 4 | c >> 8));
                    o.push_back((unsigned char)c);
                }
                break;
            case OrfSpec::Padded12: {
                // Each row: pairs low nibble first, a zero byte after every fifth pair, the
                // row (w * 3 / 2 bytes) padded to 16 / 15 of its length; the strip w * h * 8 / 5.
                const size_t stride = (size_t)w * 3 / 2 * 16 / 15;
                for (size_t r0 = 0; r0 < n; r0 += (size_t)w) {
                    const size_t start = o.size();
                    for (size_t i = 0; i < (size_t)w; i += 2) {
                        const unsigned a = v[r0 + i], c = i + 1 < (size_t)w ? v[r0 + i + 1] : 0;
                        o.push_back((unsigned char)a);
                        o.push_back((unsigned char)(a >> 8 | (c & 15) << 4));
                        o.push_back((unsigned char)(c >> 4));
                        if (i % 10 == 8) o.push_back(0);
                    }
                    o.resize(start + stride);
                }
                o.resize(n * 8 / 5);
                break;
            }
            case OrfSpec::Groups12:
                for (size_t i = 0; i < n; i += 8) {
                    unsigned x[8];
                    for (int j = 0; j < 8; j++) x[j] = i + j < n ? v[i + j] : 0;
                    unsigned char b[12];
                    // The inverse of the reader's eight formulas.
                    b[3] = (unsigned char)(x[0] >> 4);
                    b[2] = (unsigned char)((x[0] & 15) << 4 | x[1] >> 8);
                    b[1] = (unsigned char)x[1];
                    b[0] = (unsigned char)(x[2] >> 4);
                    b[7] = (unsigned char)((x[2] & 15) << 4 | x[3] >> 8);
                    b[6] = (unsigned char)x[3];
                    b[5] = (unsigned char)(x[4] >> 4);
                    b[4] = (unsigned char)((x[4] & 15) << 4 | x[5] >> 8);
                    b[11] = (unsigned char)x[5];
                    b[10] = (unsigned char)(x[6] >> 4);
                    b[9] = (unsigned char)((x[6] & 15) << 4 | x[7] >> 8);
                    b[8] = (unsigned char)x[7];
                    o.insert(o.end(), b, b + 12);
                }
                o.resize(n * 3 / 2);
                break;
            case OrfSpec::Plain16:
                for (uint16_t x : v) putBytes(o, (unsigned)x << 4, 2, be);
                break;
            case OrfSpec::Compressed: {
                std::vector<uint16_t> part(v);
                o = encodeOlympus(part, w, (int)(to - from));
                break;
            }
        }
        return o;
    };
    std::vector<std::vector<unsigned char>> strips;
    int rps = s.rowsPerStrip;
    if (s.layout == OrfSpec::Interlaced12) {
        rps = (h + 1) / 2;
        strips.push_back(rowsBytes(0, (size_t)rps));
        strips.push_back(rowsBytes((size_t)rps, (size_t)h));
    } else {
        if (!rps) rps = h;
        for (int r0 = 0; r0 < h; r0 += rps) strips.push_back(rowsBytes((size_t)r0, (size_t)std::min(h, r0 + rps)));
    }
    t.addShorts(ifd, 278, {(uint32_t)rps});
    t.addBlocks(ifd, 273, 279, strips);
    t.addIfdPointers(ifd, 34665, {exif});
    if (s.withMakerNote) {
        // "OLYMPUS\0", byte order, 3, then a directory at 12; offsets from the note's start.
        std::vector<unsigned char> note = {'O', 'L', 'Y', 'M', 'P', 'U', 'S', 0};
        note.push_back(be ? 'M' : 'I');
        note.push_back(be ? 'M' : 'I');
        putBytes(note, 3, 2, be);
        struct E {
            int tag, type;
            uint32_t count;
            std::vector<unsigned char> data;
        };
        std::vector<E> main, settings;
        std::vector<unsigned char> v;
        putBytes(v, s.redBlue[0], 2, be);
        main.push_back({0x1017, 3, 1, v});
        v.clear();
        putBytes(v, s.redBlue[1], 2, be);
        main.push_back({0x1018, 3, 1, v});
        if (!s.jpeg.empty()) main.push_back({0x100, 7, (uint32_t)s.jpeg.size(), s.jpeg});
        if (s.withSettings) {
            v.clear();
            putBytes(v, s.settingsRB[0], 2, be);
            putBytes(v, s.settingsRB[1], 2, be);
            settings.push_back({0x100, 3, 2, v});
            v.clear();
            for (uint16_t b : s.black) putBytes(v, b, 2, be);
            settings.push_back({0x600, 3, 4, v});
            main.push_back({0x2040, 13, 1, {}});
        }
        // Layout: main directory at 12, its out-of-line data, the settings directory, its data.
        auto dirSize = [](size_t n) { return 2 + 12 * n + 4; };
        size_t at = 12 + dirSize(main.size());
        std::vector<size_t> mainData(main.size(), 0);
        for (size_t i = 0; i < main.size(); i++)
            if (main[i].data.size() > 4) {
                mainData[i] = at;
                at += main[i].data.size();
            }
        const size_t settingsAt = at;
        at += dirSize(settings.size());
        std::vector<size_t> setData(settings.size(), 0);
        for (size_t i = 0; i < settings.size(); i++)
            if (settings[i].data.size() > 4) {
                setData[i] = at;
                at += settings[i].data.size();
            }
        auto writeDir = [&](const std::vector<E>& d, const std::vector<size_t>& where) {
            putBytes(note, d.size(), 2, be);
            for (size_t i = 0; i < d.size(); i++) {
                putBytes(note, (uint64_t)d[i].tag, 2, be);
                putBytes(note, (uint64_t)d[i].type, 2, be);
                putBytes(note, d[i].count, 4, be);
                if (d[i].tag == 0x2040) {
                    putBytes(note, settingsAt, 4, be);
                } else if (d[i].data.size() > 4) {
                    putBytes(note, where[i], 4, be);
                } else {
                    std::vector<unsigned char> x = d[i].data;
                    x.resize(4, 0);
                    note.insert(note.end(), x.begin(), x.end());
                }
            }
            putBytes(note, 0, 4, be);
            for (size_t i = 0; i < d.size(); i++)
                if (d[i].data.size() > 4) note.insert(note.end(), d[i].data.begin(), d[i].data.end());
        };
        writeDir(main, mainData);
        writeDir(settings, setData);
        note.resize(note.size() + 16, 0);  // slack after the last value, as cameras leave
        t.addMakerNote(exif, note);
    }
    std::vector<unsigned char> file = t.write(ifd);
    // "IIRO" or "MMOR": the magic 0x4F52 in the file's byte order.
    file[2] = be ? 0x4F : 0x52;
    file[3] = be ? 0x52 : 0x4F;
    return file;
}

}  // namespace rawkit
