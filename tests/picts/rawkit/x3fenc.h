// Sigma X3F writer of the raw test kit: "FOVb" header, image sections ("SECi" headers) for the
// raw frame and JPEG previews, and the "SECd" directory whose offset ends the file. Raw
// format 5 (a 1024-entry difference table and one 32-bit word of three 10-bit indexes a
// pixel) and format 30 (three Huffman-coded planes with per-row-parity predictors) are
// encoded; any other format is written as an opaque section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

struct X3fPreview {
    uint32_t columns = 0, rows = 0;
    std::vector<unsigned char> jpeg;
    uint32_t format = 18;
};

struct X3fSpec {
    uint32_t width = 0, height = 0;
    uint32_t format = 30;          // 5, 30 or anything else (no data then)
    std::vector<uint16_t> rgb;     // width * height * 3, red, green, blue; values below 4096
    std::vector<X3fPreview> previews;
};
std::vector<unsigned char> writeX3f(const X3fSpec& spec);

// The 13 (length, left-aligned code) pairs of the format-30 code table the writer uses.
void x3fCodePairs(unsigned char pairs[26]);

}  // namespace rawkit
