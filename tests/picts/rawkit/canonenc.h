// Canon raw files of the raw test kit: CR2 (TIFF with an EXIF directory and a Canon maker
// note whose out-of-line values use file offsets, the lossless-JPEG frame in the fourth
// directory), CRW (CIFF heaps with the 10-bit block code) and CR3 (ISO base-media boxes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

// One maker-note entry: tag, TIFF type and the value's bytes in the file's byte order.
struct NoteEntry {
    int tag = 0, type = 0;
    uint32_t count = 0;
    std::vector<unsigned char> data;
};

struct CanonCr2Spec {
    bool bigEndian = false;
    int width = 0, height = 0;       // the sensor frame
    std::vector<uint16_t> frame;     // width * height (plain frames)
    int components = 2;
    int sliceCount = 0, sliceWidth = 0, lastWidth = 0;
    int precision = 12;
    std::string make = "Canon", model = "Canon EOS KIT";
    uint32_t modelId = 0x80000999;
    uint16_t leftBorder = 0, mask[4] = {0, 0, 0, 0};  // mask left, top, right, bottom
    uint16_t levels[4] = {2000, 1000, 1000, 1500};    // stored red, green, second green, blue
    std::vector<unsigned char> jpeg;                   // a ready frame stream instead of `frame`
    std::vector<unsigned char> preview;                // IFD0's strip, when not empty
    std::vector<NoteEntry> extraNote;                  // more maker-note entries (or replacements)
    std::vector<uint32_t> sliceTag;                    // tag 50752's values (empty: from the slices)
    int sliceTagType = 3;                              // SHORT, or LONG (4)
    uint32_t oldFrameOffsetTag = 0;                    // write tag 129 pointing at the frame (old models)
};
// Also gives the frame's offset and length.
std::vector<unsigned char> writeCanonCr2(const CanonCr2Spec& spec, uint64_t* frameOffset = nullptr,
                                         uint64_t* frameLength = nullptr);

// Values in a byte order.
std::vector<unsigned char> bytesOf(const std::vector<uint32_t>& v, int size, bool bigEndian);

struct CrwSpec {
    bool bigEndian = false;
    int sensorWidth = 0, sensorHeight = 0;     // the coded frame
    int width = 0, height = 0;                 // the picture (image info)
    int leftBorder = 0, topBorder = 0;
    std::vector<uint16_t> frame;               // sensorWidth * sensorHeight, 10 bits (12 with low bits)
    bool lowBits = false;
    int table = 0;                             // Huffman table set 0-2
    uint32_t modelId = 0x80000999;
    uint16_t levels[4] = {1200, 1000, 1000, 1400};  // stored red, green, second green, blue
    int wbIndex = 0;
    int balanceLength = 82;                    // bytes of the colour-balance record (0: none)
    std::vector<unsigned char> preview;        // JPEG record, when not empty
    int codeOffset = 514;                      // start of the code inside the sensor block
};
std::vector<unsigned char> writeCrw(const CrwSpec& spec);
// The block code alone (no low bits): 64-sample blocks over `count` samples of a row width.
std::vector<unsigned char> encodeCrwBlocks(const std::vector<uint16_t>& samples, int width, int table);

struct Cr3Spec {
    int width = 0, height = 0;                 // CMT1's tags 256 and 257
    std::vector<unsigned char> jpeg;           // the full-size JPEG at the start of "mdat"
    std::vector<unsigned char> preview;        // the "PRVW" JPEG, when not empty
    bool longMdatSize = false;                 // "mdat" with a 64-bit size
    int uuidNesting = 0;                       // extra "uuid" levels around CMT1 inside "moov"
};
std::vector<unsigned char> writeCr3(const Cr3Spec& spec);

}  // namespace rawkit
