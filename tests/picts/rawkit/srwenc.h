// Samsung SRW writer of the raw test kit: IFD0 (Make "SAMSUNG", model, two SubIFDs), the
// preview directory (a JPEG under 513/514, optionally the CFA tags) and the raw directory
// with one strip in one of the sample codes: plain 16-bit, packed 12-bit (either packing),
// the row-indexed code with its row-offset table (tag 40976), the Huffman predictor code
// (32772) or the predictive bit code (32773, written with every option bit set).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

struct SrwSpec {
    enum eCode { cPlain16, cPacked12, cRowIndexed, cHuffman, cPredictive };
    int width = 0, height = 0;
    eCode code = cRowIndexed;
    bool bePacking = false;       // packed 12-bit: most significant bits first
    std::vector<uint16_t> frame;  // width * height, values below 4096
    std::string model = "NX KIT";
    unsigned char cfa[4] = {0, 1, 1, 2};
    bool cfaInPreview = false;
    std::vector<unsigned char> jpeg;
    int bits = 0;                 // BitsPerSample; 0: 16 for plain samples, else 12
    int compression = 0;          // 0: 32769 for plain and packed, 32770 row-indexed, 32772, 32773
    int subIfds = 2;              // 3 to write an extra (empty) sub-directory
};

// `coded` receives what the decoder must give (columns the predictive code leaves out are 0).
std::vector<unsigned char> writeSrw(const SrwSpec& spec, std::vector<uint16_t>* coded = nullptr,
                                    uint64_t* stripOffset = nullptr);

}  // namespace rawkit
