// Pentax PEF writer of the raw test kit: IFD0 (Make, model, the strips), an EXIF directory with
// the CFA pattern (41730) and the maker note ("AOC\0", a byte-order mark, then a directory with
// offsets into the file: balance 0x201, crop 0x38/0x39, the Huffman table 0x220 or 0x22A), and
// optionally a second directory with a JPEG preview. Samples are Pentax Huffman-coded
// (65535, predictors as the decoder's), packed 12-bit (32773) or plain 16-bit (1).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

struct PefSpec {
    enum eCode { cHuffman, cPacked12, cPlain16 };
    bool bigEndian = true;
    int width = 0, height = 0;
    eCode code = cHuffman;
    int bits = 12;
    std::vector<uint16_t> frame;  // width * height, below 2^bits
    std::string make = "PENTAX Corporation", model = "PENTAX KIT";
    unsigned char cfa[4] = {0, 1, 1, 2};
    bool cfaTag = true;
    std::vector<uint32_t> balance;            // 0x201 (4 values) when not empty
    std::vector<uint32_t> cropOrigin, cropSize;
    int tableTag = 0x220;                     // 0x22A: the table after 226 leading bytes
    bool extraTable220 = false;               // with 0x22A: a second, wrong table under 0x220 too
    std::vector<unsigned char> tableOverride; // the table value as given, when not empty
    std::vector<unsigned char> jpeg;          // second directory when not empty
};

// The Huffman table value the writer codes with (13 categories, canonical codes).
std::vector<unsigned char> pefTable(bool bigEndian);
// `makerNote` receives the maker note's file offset.
std::vector<unsigned char> writePef(const PefSpec& spec, uint64_t* makerNote = nullptr);

}  // namespace rawkit
