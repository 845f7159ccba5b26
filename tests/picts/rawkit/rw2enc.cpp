// RW2 layout written from the format's description: a TIFF structure under "IIU", the
// compressed blocks filled from their top bit position down.
#include "rw2enc.h"

#include "tiffwriter.h"

namespace rawkit {

namespace {

class PanaWriter {
public:
    explicit PanaWriter(bool split) : mySplit(split), myBlock(0x4000, 0) {}
    void put(uint32_t v, int n) {
        myPos = (myPos - (uint32_t)n) & 0x1FFFF;
        for (int i = 0; i < n; i++) {
            const uint32_t b = myPos + (uint32_t)i, byte = (b >> 3) ^ 0x3FF0;
            if ((v >> i) & 1) myBlock[byte] |= (unsigned char)(1 << (b & 7));
        }
        if (!myPos) flush();
    }
    std::vector<unsigned char> finish() {
        while (myPos) put(0, 8);
        return out;
    }
    std::vector<unsigned char> out;

private:
    void flush() {
        if (mySplit) {
            out.insert(out.end(), myBlock.begin() + 0x2008, myBlock.end());
            out.insert(out.end(), myBlock.begin(), myBlock.begin() + 0x2008);
        } else {
            out.insert(out.end(), myBlock.begin(), myBlock.end());
        }
        std::fill(myBlock.begin(), myBlock.end(), 0);
    }
    bool mySplit;
    std::vector<unsigned char> myBlock;
    uint32_t myPos = 0;
};

// The value the decoder's step gives from pred with byte j and shift sh (j not 0).
int step(int pred, int j, int sh) {
    pred -= 0x80 << sh;
    if (pred < 0 || sh == 4) pred &= (1 << sh) - 1;
    return pred + (j << sh);
}
// The byte j (0 keeps pred) whose value comes nearest v with shift sh.
int nearestByte(int pred, int v, int sh, int& got) {
    int best = 0, err = pred > v ? pred - v : v - pred;
    got = pred;
    for (int j = 1; j < 256 && err; j++) {
        const int g = step(pred, j, sh), e = g > v ? g - v : v - g;
        if (e < err) {
            err = e;
            best = j;
            got = g;
        }
    }
    return best;
}

}  // namespace

std::vector<unsigned char> encodePanasonic(std::vector<uint16_t>& f, int width, int height, bool split) {
    PanaWriter w(split);
    int pred[2] = {0, 0}, nonz[2] = {0, 0}, sh = 0;
    for (int row = 0; row < height; row++) {
        uint16_t* r = f.data() + (size_t)row * width;
        for (int x = 0; x < width; x++) {
            const int i = x % 14;
            if (!i) {
                pred[0] = pred[1] = nonz[0] = nonz[1] = 0;
            } else if (i % 3 == 2) {
                // The shift whose steps come nearest the samples it governs.
                static const int kShift[4] = {0, 1, 2, 4};
                int code = 0;
                long long bestErr = -1;
                for (int c = 0; c < 4; c++) {
                    int p[2] = {pred[0], pred[1]};
                    long long err = 0;
                    for (int t = x; t < x + 3 && t < width && t % 14; t++) {
                        if (!nonz[t & 1]) continue;
                        int got;
                        nearestByte(p[t & 1], r[t], kShift[c], got);
                        err += got > r[t] ? got - r[t] : r[t] - got;
                        p[t & 1] = got;
                    }
                    if (bestErr < 0 || err < bestErr) {
                        bestErr = err;
                        code = c;
                    }
                }
                sh = kShift[code];
                w.put((uint32_t)code, 2);  // sh = 4 >> (3 - code)
            }
            const int k = i & 1, v = r[x];
            if (nonz[k]) {
                int got;
                const int j = nearestByte(pred[k], v, sh, got);
                w.put((uint32_t)j, 8);
                pred[k] = got;
            } else if (v < 8 && i <= 11) {
                w.put(0, 8);  // stays 0 (pred is 0 while nonz is clear)
            } else {
                const int q = v < 16 ? 16 : v > 4095 ? 4095 : v;
                nonz[k] = q >> 4;
                w.put((uint32_t)(q >> 4), 8);
                w.put((uint32_t)(q & 15), 4);
                pred[k] = q;
            }
            r[x] = (uint16_t)pred[k];
        }
    }
    return w.finish();
}

std::vector<unsigned char> writeRw2(Rw2Spec& s, uint64_t* rawOffset) {
    TiffWriter t(false, false);
    const int ifd = t.newIfd();
    t.addShorts(ifd, 2, {(uint32_t)s.width});
    t.addShorts(ifd, 3, {(uint32_t)s.height});
    // Sensor borders (top, left, bottom, right) and bits per sample, as cameras write them.
    t.addShorts(ifd, 4, {0});
    t.addShorts(ifd, 5, {0});
    t.addShorts(ifd, 6, {(uint32_t)s.height});
    t.addShorts(ifd, 7, {(uint32_t)s.width});
    t.addShorts(ifd, 9, {s.pattern});
    t.addShorts(ifd, 10, {12});
    t.addShorts(ifd, 0x24, {s.wb[0]});
    t.addShorts(ifd, 0x25, {s.wb[1]});
    t.addShorts(ifd, 0x26, {s.wb[2]});
    t.addAscii(ifd, 271, "Panasonic");
    t.addAscii(ifd, 272, s.model);
    const size_t n = (size_t)s.width * s.height;
    std::vector<unsigned char> raw;
    if (s.layout == Rw2Spec::Compressed) {
        raw = encodePanasonic(s.frame, s.width, s.height, s.splitBlocks);
        t.addLongs(ifd, 273, {0xFFFFFFFFu});
        t.addLongs(ifd, 279, {(uint32_t)raw.size()});
        t.addLongs(ifd, 280, {0x0BADF00Du});  // patched below
        t.addShorts(ifd, 278, {(uint32_t)s.height});
    } else {
        std::vector<std::vector<unsigned char>> strips;
        if (s.layout == Rw2Spec::Packed12) {
            std::vector<unsigned char> p;
            for (size_t i = 0; i < n; i += 2) {
                const unsigned a = s.frame[i] & 0xFFF, b = i + 1 < n ? s.frame[i + 1] & 0xFFF : 0;
                p.push_back((unsigned char)a);
                p.push_back((unsigned char)(a >> 8 | (b & 15) << 4));
                p.push_back((unsigned char)(b >> 4));
                if (i % 10 == 8) p.push_back(0);  // a pad byte after five pairs
            }
            p.resize(n * 8 / 5);
            strips.push_back(p);
        } else {
            const int rps = s.rowsPerStrip ? s.rowsPerStrip : s.height;
            for (int r0 = 0; r0 < s.height; r0 += rps) {
                std::vector<unsigned char> p;
                for (int r = r0; r < r0 + rps && r < s.height; r++)
                    for (int x = 0; x < s.width; x++) {
                        const unsigned v = (unsigned)s.frame[(size_t)r * s.width + x] << 4;
                        p.push_back((unsigned char)v);
                        p.push_back((unsigned char)(v >> 8));
                    }
                strips.push_back(p);
            }
            t.addShorts(ifd, 278, {(uint32_t)rps});
        }
        t.addBlocks(ifd, 273, 279, strips);
    }
    std::vector<unsigned char> file = t.write(ifd);
    file[2] = 0x55;
    file[3] = 0;
    if (s.layout == Rw2Spec::Compressed) {
        const uint32_t at = (uint32_t)file.size();
        for (size_t i = 8; i + 12 <= file.size(); i++)
            if (file[i] == 0x18 && file[i + 1] == 1 && file[i + 8] == 0x0D && file[i + 9] == 0xF0 &&
                file[i + 10] == 0xAD && file[i + 11] == 0x0B) {
                for (int b = 0; b < 4; b++) file[i + 8 + b] = (unsigned char)(at >> (8 * b));
                break;
            }
        file.insert(file.end(), raw.begin(), raw.end());
        if (rawOffset) *rawOffset = at;
    } else if (rawOffset) {
        *rawOffset = t.blockOffset(ifd, 273, 0);
    }
    return file;
}

}  // namespace rawkit
