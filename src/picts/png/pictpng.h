// cPictPNG: the PNG decoder (every colour type and depth, Adam7; 16-bit samples kept in the
// 64-bit buffer).
#pragma once

#include "picts/pictrowsbase.h"

class cPictPNG : public cPictRowsBase {
public:
    // Whether the stream, from its position, starts a PNG with a sane header; fills the size.
    // The position is put back.
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkPNG; }
    bool is16Bpp() override { return my16Bpp; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override { return validFor(io, info); }
    bool decode(cFileIOTarget* io) override;
    // The reason of the last failure (cPngReader::eResult).
    int lastError() const { return myError; }

private:
    int myError = 0;
};
