// RAF layout written from the format's description.
#include "rafenc.h"

#include <cstring>

#include "bitwriter.h"
#include "tiffwriter.h"

namespace rawkit {

namespace {
void setBe(std::vector<unsigned char>& o, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) o[at + i] = (unsigned char)(v >> (24 - 8 * i));
}
}  // namespace

std::vector<unsigned char> writeRaf(const RafSpec& s) {
    const int w = s.width, h = s.height;
    std::vector<unsigned char> samples;
    if (s.bits == 16) {
        for (uint16_t v : s.frame) {
            samples.push_back((unsigned char)v);
            samples.push_back((unsigned char)(v >> 8));
        }
    } else {
        size_t rowBytes = ((size_t)w * 3 + 1) / 2;
        if (s.groups12) rowBytes = (rowBytes + 11) / 12 * 12;
        for (int y = 0; y < h; y++) {
            std::vector<unsigned> x((size_t)w + 16, 0);
            for (int i = 0; i < w; i++) x[i] = s.frame[(size_t)y * w + i] & 0xFFF;
            std::vector<unsigned char> row;
            if (s.groups12) {
                for (int i = 0; i < w; i += 8) {
                    const unsigned* v = &x[i];
                    unsigned char b[12];
                    b[3] = (unsigned char)(v[0] >> 4);
                    b[2] = (unsigned char)((v[0] & 15) << 4 | v[1] >> 8);
                    b[1] = (unsigned char)v[1];
                    b[0] = (unsigned char)(v[2] >> 4);
                    b[7] = (unsigned char)((v[2] & 15) << 4 | v[3] >> 8);
                    b[6] = (unsigned char)v[3];
                    b[5] = (unsigned char)(v[4] >> 4);
                    b[4] = (unsigned char)((v[4] & 15) << 4 | v[5] >> 8);
                    b[11] = (unsigned char)v[5];
                    b[10] = (unsigned char)(v[6] >> 4);
                    b[9] = (unsigned char)((v[6] & 15) << 4 | v[7] >> 8);
                    b[8] = (unsigned char)v[7];
                    row.insert(row.end(), b, b + 12);
                }
            } else {
                for (int i = 0; i < w; i += 2) {
                    row.push_back((unsigned char)x[i]);
                    row.push_back((unsigned char)(x[i] >> 8 | (x[i + 1] & 15) << 4));
                    row.push_back((unsigned char)(x[i + 1] >> 4));
                }
            }
            row.resize(rowBytes, 0);
            samples.insert(samples.end(), row.begin(), row.end());
        }
    }
    std::vector<unsigned char> raw;
    if (s.directory) {
        uint32_t dataAt = 0;
        for (int pass = 0; pass < 2; pass++) {
            TiffWriter t(true, false);
            const int root = t.newIfd(), sub = t.newIfd();
            t.addIfdPointers(root, 0xF000, {sub});
            t.addLongs(sub, 0xF001, {(uint32_t)w});
            t.addLongs(sub, 0xF002, {(uint32_t)h});
            t.addLongs(sub, 0xF003, {(uint32_t)s.bits});
            t.addLongs(sub, 0xF007, {dataAt ? dataAt : 1u});
            t.addLongs(sub, 0xF008, {(uint32_t)samples.size()});
            raw = t.write(root);
            dataAt = (uint32_t)raw.size();
        }
        raw.insert(raw.end(), samples.begin(), samples.end());
    } else {
        raw = samples;
    }
    std::vector<unsigned char> props;
    putBytes(props, 4, 4, true);
    for (int tag : {0x100, 0x121}) {
        putBytes(props, (uint64_t)tag, 2, true);
        putBytes(props, 4, 2, true);
        putBytes(props, (uint64_t)h, 2, true);
        putBytes(props, (uint64_t)w, 2, true);
    }
    putBytes(props, 0x130, 2, true);
    putBytes(props, 2, 2, true);
    props.push_back(s.layoutFlag ? 0x80 : 0);
    props.push_back(s.rotated ? 0 : 8);
    putBytes(props, 0x2FF0, 2, true);
    putBytes(props, 8, 2, true);
    for (uint16_t v : s.grgb) putBytes(props, v, 2, true);
    std::vector<unsigned char> f(124, 0);
    memcpy(f.data(), "FUJIFILMCCD-RAW 0201FF383501", 28);
    memcpy(f.data() + 28, s.camera.data(), std::min<size_t>(32, s.camera.size()));
    if (!s.jpeg.empty()) {
        setBe(f, 84, (uint32_t)f.size());
        setBe(f, 88, (uint32_t)s.jpeg.size());
        f.insert(f.end(), s.jpeg.begin(), s.jpeg.end());
    }
    setBe(f, 92, (uint32_t)f.size());
    setBe(f, 96, (uint32_t)props.size());
    f.insert(f.end(), props.begin(), props.end());
    setBe(f, 100, (uint32_t)f.size());
    setBe(f, 104, (uint32_t)raw.size());
    f.insert(f.end(), raw.begin(), raw.end());
    return f;
}

}  // namespace rawkit
