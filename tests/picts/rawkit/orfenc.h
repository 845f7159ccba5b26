// Olympus ORF writer of the raw test kit: the "IIRO"/"MMOR" header, a first directory with
// sizes, bits, photometric, make, model and strips, an EXIF directory holding an "OLYMPUS"
// maker note (balance 0x1017/0x1018, a camera-settings directory 0x2040 with balance 0x100
// and black levels 0x600, a JPEG under 0x100), and the samples in any of the layouts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

struct OrfSpec {
    enum Layout { Packed12, Interlaced12, Groups12, Plain16, Padded12, Compressed };
    Layout layout = Packed12;
    bool bigEndian = false;
    int width = 0, height = 0;
    std::vector<uint16_t> frame;  // width * height, 12-bit values
    std::string model = "E-KIT";
    int rowsPerStrip = 0;         // 0: one strip (interlaced files: one strip per field)
    int bits = 0;                 // bits per sample stated; 0: the layout's own
    bool withMakerNote = true;
    uint16_t redBlue[2] = {512, 384};   // 0x1017, 0x1018
    bool withSettings = true;           // the 0x2040 directory
    uint16_t settingsRB[2] = {640, 320};
    uint16_t black[4] = {60, 64, 62, 61};
    std::vector<unsigned char> jpeg;    // maker-note preview when not empty
};
// Olympus's compressed code for a frame (12-bit values, small steps), after the 7 bytes the
// reader skips.
std::vector<unsigned char> encodeOlympus(const std::vector<uint16_t>& frame, int width, int height);
std::vector<unsigned char> writeOrf(const OrfSpec& spec);

}  // namespace rawkit
