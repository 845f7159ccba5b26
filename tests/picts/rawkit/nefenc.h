// Nikon NEF writer of the raw test kit: IFD0 (Make, model, SubIFDs, EXIF), an EXIF directory
// whose maker note is the "Nikon\0" version-2 form (a TIFF structure of its own with the
// compression 0x93, linearization record 0x96 and balance record 0x97), an optional JPEG
// preview directory, and the raw directory (CFA tags, strips). Sample codes: the Nikon
// Huffman predictor code (lossless 'F' record, or lossy 'D ' record with a tone curve,
// optionally switching tables at a split row), packed (whole rows or 16-byte chunks),
// 16-bit words, the two 12-bit big-endian packings, and plain 8-bit TIFF strips.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

struct NefSpec {
    // cPlain8, cPackBits8: 8-bit samples as an ordinary TIFF stores them (uncompressed, or
    // PackBits in literal runs).
    enum eCode { cHuffLossless, cHuffLossy, cPacked, cChunked, cWords16, cBPack, cBPackTp2, cPlain8, cPackBits8 };
    bool bigEndian = true;
    int width = 0, height = 0;
    int bits = 12;
    eCode code = cHuffLossless;
    std::vector<uint16_t> frame;  // width * height, below 2^bits (Huffman: curve indexes)
    std::string make = "NIKON CORPORATION";
    std::string model = "NIKON KIT";
    std::string noteMagic = "Nikon";  // the maker note's first 5 bytes
    unsigned char cfa[4] = {2, 1, 1, 0};
    int rowsPerStrip = 0;          // 0: one strip; uncoded codes only
    int curvePoints = 257;         // lossy: points of the curve (csize)
    int splitRow = 0;              // lossy: table switch row (maker compression 4)
    std::vector<unsigned char> balance;  // 0x97 as given
    std::vector<unsigned char> linearizationOverride;  // 0x96 as given (not empty)
    std::vector<unsigned char> jpeg;     // preview directory when not empty
    uint16_t vpred[4] = {0, 0, 0, 0};
    int keepStrips = 0;           // write only the first strips (0: all)
    unsigned char makerVersion = 2;  // byte 6 of the maker note; 0: the headerless form
};

// `coded` receives what the decoder must give: the frame, or for the Huffman code the curve's
// value at each coded index (the lossy code's closed loop may move them).
std::vector<unsigned char> writeNef(const NefSpec& spec, std::vector<uint16_t>* coded = nullptr);
// The linearization record the writer stores for a spec.
std::vector<unsigned char> nefLinearization(const NefSpec& spec);
// The tone curve a 'D ' record describes (max + 1 points spaced evenly, the last at max).
std::vector<uint16_t> nefCurve(const NefSpec& spec);

}  // namespace rawkit
