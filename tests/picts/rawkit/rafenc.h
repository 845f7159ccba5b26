// Fujifilm RAF writer of the raw test kit: the 124-byte header, an optional JPEG preview, the
// property block (sizes 0x100/0x121, layout 0x130, balance 0x2FF0) and the raw block, bare
// 16-bit samples or a big-endian TIFF whose directory 0xF000 gives sizes, bits, the data
// offset and length and a balance (0xF00E), then 16-bit or packed 12-bit samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

struct RafSpec {
    std::string camera = "FinePix KIT";  // bytes 28-59
    int width = 0, height = 0;
    std::vector<uint16_t> frame;
    int bits = 16;         // 16 or 12
    bool groups12 = false; // 12-bit rows in 12-byte groups
    bool directory = true; // false: bare samples (16-bit only)
    bool rotated = false;  // 0x130: turned sensor
    bool layoutFlag = false;
    uint16_t grgb[4] = {302, 256, 302, 400};  // 0x2FF0: G R G B levels
    std::vector<unsigned char> jpeg;
};
std::vector<unsigned char> writeRaf(const RafSpec& spec);

}  // namespace rawkit
