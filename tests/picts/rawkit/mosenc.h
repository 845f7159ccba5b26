// Leaf MOS writer of the raw test kit: IFD0 (Make "Leaf", the frame as 16-bit strips, tiles
// or lossless-JPEG strips) with tag 34310 holding a packet tree (camera_profile >
// CamProf_capture_profile > back type, rotation, mosaic pattern; Rows_data; an optional JPEG
// preview), optionally wrapped in a ZIP archive as the member "0.MOS".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

// One packet: a 52-byte header ("PKTS", name, data length at 48) and its data.
std::vector<unsigned char> mosPacket(const std::string& name, const std::vector<unsigned char>& data, bool be);

struct MosSpec {
    bool bigEndian = true;
    int width = 0, height = 0;
    std::vector<uint16_t> frame;
    enum eCode { cPlain16, cLjpeg, cTiles16 } code = cPlain16;
    int rowsPerStrip = 0;
    bool interleavedRows = false;  // Rows_data odd: lossless JPEG rows from both ends
    std::string rotation = "0";
    std::string mosaic = "00000000";  // 8 characters; '1' at 2, 4 or 6 chooses the pattern
    bool captureProfile = true;
    std::vector<unsigned char> jpeg;
    enum eZip { zNone, zStored, zDeflated } zip = zNone;
    std::vector<unsigned char> packetsOverride;  // tag 34310 as given, when not empty
};

std::vector<unsigned char> writeMos(const MosSpec& spec);

}  // namespace rawkit
