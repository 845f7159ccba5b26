// Leaf MOS writer of the raw test kit.
#include "mosenc.h"

#include <cstring>

#include "ljpegenc.h"
#include "tiffwriter.h"

namespace rawkit {

std::vector<unsigned char> mosPacket(const std::string& name, const std::vector<unsigned char>& data, bool be) {
    std::vector<unsigned char> p(52, 0);
    memcpy(p.data(), "PKTS", 4);
    memcpy(p.data() + 8, name.data(), name.size() < 40 ? name.size() : 40);
    const uint32_t n = (uint32_t)data.size();
    for (int i = 0; i < 4; i++) p[48 + i] = (unsigned char)(be ? n >> (24 - 8 * i) : n >> (8 * i));
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

std::vector<unsigned char> writeMos(const MosSpec& s) {
    auto text = [](const std::string& t) { return std::vector<unsigned char>(t.begin(), t.end()); };
    std::vector<unsigned char> packets = s.packetsOverride;
    if (packets.empty()) {
        std::vector<unsigned char> capture;
        for (auto& p : {mosPacket("CamProf_back_type", text("12"), s.bigEndian),
                        mosPacket("CaptProf_raw_data_rotation", text(s.rotation), s.bigEndian),
                        mosPacket("CaptProf_mosaic_pattern", text(s.mosaic), s.bigEndian)})
            capture.insert(capture.end(), p.begin(), p.end());
        std::vector<unsigned char> profile =
            mosPacket(s.captureProfile ? "CamProf_capture_profile" : "CamProf_other_profile", capture, s.bigEndian);
        packets = mosPacket("camera_profile", profile, s.bigEndian);
        std::vector<unsigned char> rows(4, 0);
        rows[s.bigEndian ? 3 : 0] = s.interleavedRows ? 1 : 2;
        std::vector<unsigned char> r = mosPacket("Rows_data", rows, s.bigEndian);
        packets.insert(packets.end(), r.begin(), r.end());
        if (!s.jpeg.empty()) {
            std::vector<unsigned char> j = mosPacket("JPEG_preview_data", s.jpeg, s.bigEndian);
            packets.insert(packets.end(), j.begin(), j.end());
        }
    }
    TiffWriter t(s.bigEndian, false);
    int ifd0 = t.newIfd();
    t.addLongs(ifd0, 256, {(uint32_t)s.width});
    t.addLongs(ifd0, 257, {(uint32_t)s.height});
    t.addShorts(ifd0, 258, {16});
    t.addShorts(ifd0, 259, {s.code == MosSpec::cLjpeg ? 7u : 1u});
    t.addShorts(ifd0, 262, {32803});
    t.addAscii(ifd0, 271, "Leaf");
    t.addShorts(ifd0, 277, {1});
    t.addBytes(ifd0, 34310, TiffWriter::tUndefined, packets);
    const int rps = s.rowsPerStrip ? s.rowsPerStrip : s.height;
    auto samples16 = [&](int x0, int y0, int bw, int bh) {
        std::vector<unsigned char> o;
        for (int r = 0; r < bh; r++)
            for (int c = 0; c < bw; c++) {
                const uint16_t v = x0 + c < s.width && y0 + r < s.height ? s.frame[(size_t)(y0 + r) * s.width + x0 + c] : 0;
                o.push_back((unsigned char)(s.bigEndian ? v >> 8 : v));
                o.push_back((unsigned char)(s.bigEndian ? v : v >> 8));
            }
        return o;
    };
    if (s.code == MosSpec::cTiles16) {
        std::vector<std::vector<unsigned char>> tiles;
        for (int y = 0; y < s.height; y += 16)
            for (int x = 0; x < s.width; x += 16) tiles.push_back(samples16(x, y, 16, 16));
        t.addLongs(ifd0, 322, {16});
        t.addLongs(ifd0, 323, {16});
        t.addBlocks(ifd0, 324, 325, tiles);
    } else {
        std::vector<std::vector<unsigned char>> strips;
        for (int y = 0; y < s.height; y += rps) {
            const int rows = s.height - y < rps ? s.height - y : rps;
            if (s.code == MosSpec::cLjpeg) {
                std::vector<uint16_t> part(s.frame.begin() + (size_t)y * s.width,
                                           s.frame.begin() + (size_t)(y + rows) * s.width);
                if (s.interleavedRows) part = interleavedOrder(part, s.width, rows);
                LjOptions o;
                strips.push_back(encodeRawSequence(part, s.width, rows, 1, o));
            } else {
                strips.push_back(samples16(0, y, s.width, rows));
            }
        }
        t.addLongs(ifd0, 278, {(uint32_t)rps});
        t.addBlocks(ifd0, 273, 279, strips);
    }
    std::vector<unsigned char> tiff = t.write(ifd0);
    if (s.zip == MosSpec::zNone) return tiff;
    // A local file header (30 bytes), the name "0.MOS" and a 4-byte extra field: the member
    // starts at 39.
    std::vector<unsigned char> z = {'P', 'K', 3, 4, 20, 0, 0, 0, (unsigned char)(s.zip == MosSpec::zStored ? 0 : 8), 0};
    z.resize(26, 0);
    const uint32_t n = (uint32_t)tiff.size();
    for (int i = 0; i < 4; i++) z[18 + i] = z[22 + i] = (unsigned char)(n >> (8 * i));
    z.push_back(5);
    z.push_back(0);
    z.push_back(4);
    z.push_back(0);
    for (char c : std::string("0.MOS")) z.push_back((unsigned char)c);
    z.insert(z.end(), 4, 0);
    z.insert(z.end(), tiff.begin(), tiff.end());
    return z;
}

}  // namespace rawkit
