// cPictDIB (a headerless bitmap as in icon resources), cPictBMP (a bitmap file) and
// cPictICO (an icon file of DIB and PNG images, the best one decoded).
#pragma once

#include "picts/pictrowsbase.h"

class cPictDIB : public cPictRowsBase {
public:
    // Probes the info header at the stream's position. With iconHalf the height given is
    // the image's (half the stored height, which counts the AND mask too).
    static bool validFor(cFileIOTarget* io, sPictInfo* info, bool iconHalf);

    int typeOf() override { return pkDIB; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override { return validFor(io, info, true); }
    // Decodes the DIB with its AND mask from the stream's position to its end.
    bool decode(cFileIOTarget* io) override;
    // Use a 32-bit picture's alpha channel (else its AND mask alone gives transparency).
    void setUseAlphaBp(bool use) { myUseAlpha = use; }
    // A colour table of biClrUsed entries precedes the pixels also above 8 bits a pixel.
    void setForcedPalletteLoad(bool force) { myForcePalette = force; }
    // False: the stored height is the image's alone and there is no AND mask.
    void setIconLayout(bool icon) { myIcon = icon; }

private:
    bool myUseAlpha = false;
    bool myForcePalette = false;
    bool myIcon = true;
};

class cPictBMP : public cPictRowsBase {
public:
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkBMP; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override { return validFor(io, info); }
    bool decode(cFileIOTarget* io) override;
};

class cPictICO : public cPictRowsBase {
public:
    // Every directory entry must lie inside the file; the size given is the best entry's.
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkICO; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override { return validFor(io, info); }
    // Decodes the largest entry (the deepest of equal size).
    bool decode(cFileIOTarget* io) override;

private:
    // Index of the best entry in the file's bytes, with its size; -1 when there is none.
    static int bestEntry(const unsigned char* data, long long size, long long& w, long long& h);
};
