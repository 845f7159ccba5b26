// Sony ARW writer of the raw test kit: IFD0 (Make "SONY", model, SubIFD, JPEG preview tags,
// a next directory), the raw sub-directory (sizes, compression, one strip, CFA tags, an
// optional tone-curve tag 0x7010) and the strip in one of the layouts of compression 32767
// (ARW2 16-byte blocks, packed 12-bit, ARW1 column-wise Huffman differences) or plain 16-bit
// samples (compression 1).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

struct ArwSpec {
    enum eLayout { lArw2, lPacked12, lArw1, lPlain16 };
    bool bigEndian = false;
    int width = 0, height = 0;
    eLayout layout = lArw2;
    // ARW2: 11-bit block values (0-2047) per photosite, quantised by the block coding (see
    // `coded`); ARW1 and packed: 12-bit samples; plain: 16-bit samples.
    std::vector<uint16_t> frame;
    std::string model = "ILCE-KIT";
    unsigned char cfa[4] = {0, 1, 1, 2};
    bool cfaInExif = false;         // EXIF CFAPattern (41730) instead of tags 33421/33422
    std::vector<uint16_t> curve;    // tag 0x7010 values when not empty (4 values)
    std::vector<unsigned char> jpeg;
    std::vector<unsigned char> wbBlock;  // a 0x00 'M' 'R' block behind tag 50740 when not empty
    int bits = 0;  // bits per sample declared when not 0; else 8 (ARW2), 12 (packed, ARW1) or 16 (plain)
};

// The file; `coded` receives the values the strip actually holds (ARW2 block coding is lossy,
// the others give the frame back).
std::vector<unsigned char> writeArw(const ArwSpec& spec, std::vector<uint16_t>* coded = nullptr,
                                    uint64_t* stripOffset = nullptr);

// The Sony tone curve of tag 0x7010: 4096 entries, slopes 1, 2, 4, 8, 16 between the knots
// 0, v0 / 4, v1 / 4, v2 / 4, v3 / 4 (12 bits each) and 4095; entries past it stay the identity.
std::vector<uint32_t> sonyCurve(const std::vector<uint16_t>& values);

// A 0x00 'M' 'R' block holding a WBG sub-block of four balance values.
std::vector<unsigned char> mrwBalanceBlock(bool bigEndian, const uint16_t wb[4], bool withPad = true);

}  // namespace rawkit
