// Minolta MRW writer of the raw test kit: the outer MRM/MRI block holding PRD (sizes and
// storage), WBG (balance) and TTW (a TIFF structure with make, model and an optional JPEG
// under tags 513/514), then the samples as 16-bit words or packed 12-bit pairs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

struct MrwSpec {
    bool bigEndian = true;  // MRM with an MM structure, or MRI with an II one
    int width = 0, height = 0;
    std::vector<uint16_t> frame;  // width * height, values below 4096
    bool packed = false;
    uint16_t wb[4] = {256, 256, 256, 256};  // R, G, G, B
    std::string model = "DiMAGE A2";
    std::vector<unsigned char> jpeg;  // carried in the TTW structure when not empty
};
// Also gives the file offset of the samples.
std::vector<unsigned char> writeMrw(const MrwSpec& spec, uint64_t* rawOffset = nullptr);

}  // namespace rawkit
