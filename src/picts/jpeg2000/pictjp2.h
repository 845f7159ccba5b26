// cPictJP2 (JP2 files) and cPictJ2K (bare JPEG 2000 codestreams): the whole image at full
// resolution with all quality layers, turned into 8-bit 0xAARRGGBB pixels.
#pragma once

#include "picts/jpeg2000/j2kimage.h"
#include "picts/pictrowsbase.h"

class cPictJP2Base : public cPictRowsBase {
public:
    bool supportsExtRendering() override { return false; }

    // Writes a decoded image into this picture (or a registered external target): grey,
    // RGB, RGBA, sYCC, CMYK and CIELab; false for what it cannot show. The samples are used
    // up: the memory of the rows converted goes back to the system as it goes (they read as 0).
    bool jp2ImageToThis(cJP2Image& img);
};

class cPictJP2 : public cPictJP2Base {
public:
    static bool validFor(cFileIOTarget* io, sPictInfo* info);
    int typeOf() override { return pkJP2; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override { return validFor(io, info); }
    bool decode(cFileIOTarget* io) override;
};

class cPictJ2K : public cPictJP2Base {
public:
    static bool validFor(cFileIOTarget* io, sPictInfo* info);
    int typeOf() override { return pkJ2K; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override { return validFor(io, info); }
    bool decode(cFileIOTarget* io) override;
};
