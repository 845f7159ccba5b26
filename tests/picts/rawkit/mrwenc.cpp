// MRW layout: 8-byte block headers (NUL, three letters, length of what follows).
#include "mrwenc.h"

#include "bitwriter.h"
#include "tiffwriter.h"

namespace rawkit {

namespace {
void block(std::vector<unsigned char>& o, const char* tag, const std::vector<unsigned char>& data, bool be) {
    o.push_back(0);
    o.insert(o.end(), tag, tag + 3);
    putBytes(o, data.size(), 4, be);
    o.insert(o.end(), data.begin(), data.end());
}
}  // namespace

std::vector<unsigned char> writeMrw(const MrwSpec& s, uint64_t* rawOffset) {
    const bool be = s.bigEndian;
    std::vector<unsigned char> prd = {'2', '7', '8', '2', '0', '0', '0', '1'};
    putBytes(prd, s.height, 2, be);  // sensor
    putBytes(prd, s.width, 2, be);
    putBytes(prd, s.height, 2, be);  // image
    putBytes(prd, s.width, 2, be);
    prd.push_back(12);                   // data size
    prd.push_back(12);                   // pixel size
    prd.push_back(s.packed ? 0x52 : 0x59);  // storage: packed or unpacked
    prd.push_back(0);
    putBytes(prd, 0, 2, be);
    putBytes(prd, 1, 2, be);  // RGGB
    std::vector<unsigned char> wbg = {2, 2, 2, 2};
    for (int i = 0; i < 4; i++) putBytes(wbg, s.wb[i], 2, be);
    TiffWriter t(be, false);
    int ifd = t.newIfd();
    t.addAscii(ifd, 271, "MINOLTA");
    t.addAscii(ifd, 272, s.model);
    if (!s.jpeg.empty()) t.addBlocks(ifd, 513, 514, {s.jpeg});
    std::vector<unsigned char> ttw = t.write(ifd);
    std::vector<unsigned char> inner;
    block(inner, "PRD", prd, be);
    block(inner, "WBG", wbg, be);
    block(inner, "TTW", ttw, be);
    std::vector<unsigned char> file;
    block(file, be ? "MRM" : "MRI", inner, be);
    if (rawOffset) *rawOffset = file.size();
    if (!s.packed) {
        for (uint16_t v : s.frame) putBytes(file, v, 2, be);
    } else {
        appendPacked12(file, s.frame, be, true);
    }
    return file;
}

}  // namespace rawkit
