// The small directory walkers of the CR2 decoder: the Canon maker note (model id, sensor
// geometry and black mask, white balance), the EXIF pixel size, the frame directory (slices
// and the strip), the preview directory, and directories that are only passed over.
#pragma once

#include "picts/exif/exifdecoder.h"
#include "picts/tiffwalk/tiffgeneric.h"

// Sensor info entries (tag 224, 13 SHORTs from index 0).
enum {
    siLength = 0, siWidth = 1, siHeight = 2, siLeftBorder = 5, siMaskLeft = 9, siMaskTop = 10, siMaskRight = 11,
    siMaskBottom = 12, siCount = 13
};

class cCR2MakerNoteProps : public cTiffGeneric {
public:
    void reset();
    // Walks the maker note's directory at offset (offsets in it count from the file's start).
    bool decodeDirect(cFileIOTarget* io, unsigned int offset, bool bigEndian, unsigned long long size);
    bool onTag(int tag, int type, const void* data, int size) override;

    bool parseSensorInfo(int type, const void* data, int size);
    bool parseShotInfo(int type, const void* data, int size);
    bool parseColorData(int type, const void* data, int size);
    bool parseColorDataOld(int type, const void* data, int size);

    unsigned int modelId = 0;
    unsigned short sensor[siCount] = {};
    bool maskDerived = false;
    unsigned short shot[21] = {};
    bool haveShot = false;
    unsigned int oldFrameOffset = 0;
    unsigned int wbValues[4] = {};
    double levels[4] = {};  // by colour code: red, green, blue, second green
};

// The first directory with the EXIF machinery, keeping the EXIF pixel size.
class cCR2ExifProps : public cExifDecoder {
public:
    void reset() { pixelWidth = pixelHeight = 0; }
    bool onTag(int tag, int type, const void* data, int size) override;

    unsigned int pixelWidth = 0;
    unsigned int pixelHeight = 0;
};

// The frame directory: slice triple (tag 50752), strip offset and length.
class cCR2DataProps : public cTiffGeneric {
public:
    void reset();
    bool decodeDirect(cFileIOTarget* io, unsigned int offset, bool bigEndian, unsigned long long size);
    bool onTag(int tag, int type, const void* data, int size) override;

    bool canonMake = false;         // tag 271 starts with "Canon" (any case)
    unsigned short slices[3] = {};  // count, width, last width
    unsigned int frameOffset = 0;
    unsigned int frameLength = 0;
};

// The thumbnail directory: the JPEG's offset and length (tags 513, 514).
class cCR2JpegProps : public cTiffGeneric {
public:
    void reset() { jpegOffset = jpegLength = 0; }
    bool decodeDirect(cFileIOTarget* io, unsigned int offset, bool bigEndian, unsigned long long size);
    bool onTag(int tag, int type, const void* data, int size) override;

    unsigned int jpegOffset = 0;
    unsigned int jpegLength = 0;
};

// A directory walked only to reach the next one.
class cCR2SkipIFD : public cTiffGeneric {
public:
    bool decodeDirect(cFileIOTarget* io, unsigned int offset, bool bigEndian, unsigned long long size) {
        return processStream(io, bigEndian, false, offset, size);
    }
};
