// Panasonic RW2 writer of the raw test kit: the "IIU" header, the first directory with the
// sensor size (tags 2, 3), the pattern code (9), the balance levels (0x24-0x26), make and
// model, and the samples as 16-bit words (12-bit values in the high bits), padded 12-bit
// packing (ten samples in 16 bytes) or Panasonic's compressed stream (offset under tag 280,
// 16 KiB blocks stored in two parts).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

struct Rw2Spec {
    enum Layout { Plain16, Packed12, Compressed };
    Layout layout = Plain16;
    int width = 0, height = 0;
    std::vector<uint16_t> frame;  // width * height, 12-bit values
    uint32_t pattern = 1;
    uint32_t wb[3] = {512, 256, 384};  // red, green, blue levels (tags 0x24-0x26)
    std::string model = "DMC-KIT";
    bool splitBlocks = true;  // compressed: blocks stored in two parts
    int rowsPerStrip = 0;     // plain 16-bit: 0 for one strip
};
// The compressed stream for a frame, in whole blocks. The code is lossy, as the cameras'
// is: each sample becomes the nearest value the code reaches from its predictor, and the
// frame is updated to what a reader must decode.
std::vector<unsigned char> encodePanasonic(std::vector<uint16_t>& frame, int width, int height, bool split);
// The compressed layout updates spec.frame as above.
std::vector<unsigned char> writeRw2(Rw2Spec& spec, uint64_t* rawOffset = nullptr);

}  // namespace rawkit
