// cPictPPM: the PPM/PGM/PBM decoder.
#pragma once

#include "picts/pictrowsbase.h"

class cPictPPM : public cPictRowsBase {
public:
    // Probe from the stream's position (put back afterwards); fills the size.
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkPPM; }
    bool is16Bpp() override { return my16Bpp; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override { return validFor(io, info); }
    bool decode(cFileIOTarget* io) override;
};
