// cPictTGA: the TGA decoder.
#pragma once

#include "picts/pictrowsbase.h"

class cPictTGA : public cPictRowsBase {
public:
    // Probe from the stream's position (put back afterwards); fills the size.
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkTGA; }
    bool is16Bpp() override { return my16Bpp; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override { return validFor(io, info); }
    bool decode(cFileIOTarget* io) override;
};
