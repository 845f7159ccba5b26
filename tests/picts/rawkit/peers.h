// The peers of the raw test kit (black boxes): the raw frame `dcraw -D -4` or LibRaw's
// `unprocessed_raw` reads from a file, and a raw decoder's frame as the frame hook shows it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class cPictBase;
class cFileIOTarget;

namespace rawkit {

// The 16-bit grey frame a peer ("dcraw" or "unprocessed_raw") reads from the file at path;
// empty when the peer is absent or refused the file.
std::vector<uint16_t> peerFrame(const std::string& tool, const std::string& path, int& w, int& h);

// What the frame hook saw during one decode.
struct SeenFrame {
    std::vector<uint16_t> samples;
    long long width = 0, height = 0;
    int channels = 0;
    unsigned int black = 0;
    double mul[4] = {0, 0, 0, 0};
    unsigned int margins[4] = {0, 0, 0, 0};  // left, right, top, bottom
    int cfa[4] = {-1, -1, -1, -1};          // colour of (0,0), (1,0), (0,1), (1,1)
    int calls = 0;
};
// Decodes with `picture` while the hook records the frame; the decode's result.
bool decodeSeeingFrame(cPictBase& picture, cFileIOTarget* io, SeenFrame& seen);

}  // namespace rawkit
