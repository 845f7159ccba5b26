// Phase One IIQ writer of the raw test kit: a TIFF header (an empty directory, or an RGB
// preview's), the Phase
// One block ("IIII", "CwaR", directory offset) at byte 8 with its 16-byte entries, the row
// offsets, optional black-level tables, the balance as three floats and the compressed rows;
// optionally stored as the entry "0.IIQ" of a ZIP archive.
#pragma once

#include <cstdint>
#include <vector>

namespace rawkit {

struct IiqSpec {
    int width = 0, height = 0;
    std::vector<uint16_t> values;  // width * height coded values (before curve, x 4, black)
    uint32_t format = 3;
    uint32_t black = 0;
    unsigned left = 0, top = 0, right = 0, bottom = 0;  // margins
    std::vector<int16_t> blackCols;  // per row: left of splitCol, from it on; or empty
    std::vector<int16_t> blackRows;  // per column: above splitRow, from it on; or empty
    uint32_t splitCol = 0, splitRow = 0;
    float balance[3] = {2.0f, 1.0f, 1.5f};  // stored order: red, green, blue multipliers
    bool zip = false;
    // A preview for the leading TIFF (8-bit RGB, previewW * previewH * 3 bytes); none when empty.
    std::vector<unsigned char> previewRgb;
    int previewW = 0, previewH = 0;
};
std::vector<unsigned char> writeIiq(const IiqSpec& spec);

}  // namespace rawkit
