// cPictICNS: the icon-family decoder (the largest decodable element).
#pragma once

#include "picts/pictrowsbase.h"

class cPictICNS : public cPictRowsBase {
public:
    // Probe from the stream's position (put back afterwards); fills the chosen element's size.
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkICNS; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override { return validFor(io, info); }
    bool decode(cFileIOTarget* io) override;
};
