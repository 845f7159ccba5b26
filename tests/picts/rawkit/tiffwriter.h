// TIFF, BigTIFF and DNG writer of the raw test kit: directories with typed entries in either
// byte order, sub-directories (SubIFDs, EXIF), maker-note blobs, strips and tiles placed
// after their directory with their offsets filled in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

class TiffWriter {
public:
    enum { tByte = 1, tAscii = 2, tShort = 3, tLong = 4, tRational = 5, tUndefined = 7, tSRational = 10,
           tIfd = 13, tLong8 = 16 };

    TiffWriter(bool bigEndian, bool bigTiff) : myBE(bigEndian), myBig(bigTiff) {}

    // A new, empty directory; its id.
    int newIfd();
    void addShorts(int ifd, int tag, const std::vector<uint32_t>& v);
    void addLongs(int ifd, int tag, const std::vector<uint32_t>& v);
    void addAscii(int ifd, int tag, const std::string& s);  // NUL added
    void addBytes(int ifd, int tag, int type, const std::vector<unsigned char>& v);
    void addRationals(int ifd, int tag, const std::vector<std::pair<uint32_t, uint32_t>>& v, bool isSigned = false);
    // Entry whose value is the offset(s) of child directories (SubIFDs 330, EXIF 34665).
    void addIfdPointers(int ifd, int tag, const std::vector<int>& children);
    // Data blocks (strips or tiles): offsets under offTag, byte counts under countTag.
    void addBlocks(int ifd, int offTag, int countTag, const std::vector<std::vector<unsigned char>>& blocks);
    // A maker note (EXIF 37500) holding the blob as it stands.
    void addMakerNote(int ifd, const std::vector<unsigned char>& blob) { addBytes(ifd, 37500, tUndefined, blob); }
    // Links ifd's next-directory offset to next.
    void chain(int ifd, int next);

    // The file, first directory `first`. Entries are written sorted by tag.
    std::vector<unsigned char> write(int first = 0);
    // File offset of a block after write (directory, block index).
    uint64_t blockOffset(int ifd, int tag, size_t index) const;

    // Values in the file's byte order.
    std::vector<unsigned char> u16(uint32_t v) const { return un(v, 2); }
    std::vector<unsigned char> u32(uint32_t v) const { return un(v, 4); }
    std::vector<unsigned char> un(uint64_t v, int n) const;

private:
    struct Entry {
        int tag = 0, type = 0;
        uint64_t count = 0;
        std::vector<unsigned char> data;    // plain values
        std::vector<int> children;          // directory pointers
        std::vector<std::vector<unsigned char>> blocks;  // strips/tiles: this entry holds their offsets
        int countTag = 0;
        std::vector<uint64_t> placed;       // offsets given at write
    };
    struct Ifd {
        std::vector<Entry> entries;
        int next = -1;
    };
    Entry& add(int ifd, int tag, int type, uint64_t count);
    bool myBE, myBig;
    std::vector<Ifd> myIfds;
};

// A DNG holding a CFA frame: IFD0 (DNGVersion, Make, Model, a SubIFD) and the raw directory,
// stored uncompressed (16-bit samples) or as lossless-JPEG tiles encoded by the kit.
struct DngSpec {
    bool bigEndian = false;
    int width = 0, height = 0;
    int bits = 16;
    std::vector<uint16_t> frame;      // width * height
    unsigned char cfa[4] = {0, 1, 1, 2};
    bool ljpeg = true;
    int tileWidth = 0, tileHeight = 0;  // 0: the whole frame as one tile
    int components = 2;                 // lossless-JPEG components per tile (1, 2 or 4)
    int jpegWidth = 0;                  // samples per component and line; 0: tile width / components
                                        // (lines then need not match tile rows)
    int psv = 1;
    uint32_t black = 0, white = 65535;
    std::string make = "Kit", model = "Kit Camera";
    unsigned char version[4] = {1, 4, 0, 0};  // DNGVersion
    bool diff16Bits = false;                  // lossless-JPEG category 16 with 16 extra bits
};
// Blocks (tiles, or the one strip) as written: offset and length in the file.
struct DngBlocks {
    std::vector<uint64_t> offset, length;
};
std::vector<unsigned char> writeDng(const DngSpec& spec, DngBlocks* blocks = nullptr);

}  // namespace rawkit
