// cJP2Decode: the JP2 file layer (ISO/IEC 15444-1 Annex I): the signature and file-type
// boxes, the header box with its image header, bit depths, colour box, palette,
// component mapping and channel definitions, then the codestream box read by cJ2KDecode.
// After decoding it applies the channel definitions and the palette and sets the image's
// colour space.
#pragma once

#include "picts/jpeg2000/j2kcodestream.h"

struct sJP2Pclr {
    unsigned int ne = 0, npc = 0;
    _typebuf<unsigned int> entries;  // ne * npc, row by row
    unsigned char size[256] = {};    // bits per channel, 1..32
    unsigned char sign[256] = {};
    struct sMap {
        unsigned int cmp = 0, mtyp = 0, pcol = 0;
    };
    sMap map[256];
    bool haveMap = false;
};

// The colour boxes of the header box that change the decoded components: the ICC profile
// of a "colr" box, the channel definitions ("cdef") and the palette ("pclr") with its
// component mapping ("cmap"). Each parse gets a box body and checks it against its length.
class cJP2Color {
public:
    struct sCdef {
        unsigned int cn, typ, asoc;
    };

    bool parsePclr(const unsigned char* b, unsigned int len);
    // Needs the palette first and no mapping yet.
    bool parsePclrCMap(const unsigned char* b, unsigned int len);
    bool parseCdef(const unsigned char* b, unsigned int len);

    _typebuf<unsigned char> icc;
    _typebuf<sCdef> cdef;
    cPtr<sJP2Pclr> pclr;
};

class cJP2Decode : public cJ2KDecode {
public:
    enum eBoxStatus { bsSignature = 1, bsFileType = 2, bsHeader = 4, bsCodestream = 8 };

    // Reduce 0, all layers; bit 0 of flags: ignore the colour boxes.
    bool setup(unsigned int flags);
    // The boxes up to "jp2c", then the codestream's main header.
    bool readHeader(cFileIOTarget* io, cPtr<cJP2Image>& out);
    bool setArea(cJP2Image* img, long long x0, long long y0, long long x1, long long y1) {
        return setDecodeArea(img, x0, y0, x1, y1);
    }
    // The codestream, then channel definitions, palette and colour space.
    bool decode(cFileIOTarget* io, cJP2Image* img);
    // Walks the top-level boxes again from the file's start up to "jp2c".
    bool endDecompress(cFileIOTarget* io);

    unsigned int enumCS() const { return myEnumCS; }

private:
    bool processBoxes(cFileIOTarget* io, bool endPass);
    bool readFtyp(const unsigned char* b, unsigned int len);
    bool readJp2h(const unsigned char* b, unsigned int len);
    bool readColr(const unsigned char* b, unsigned int len);
    bool applyCdef(cJP2Image* img);
    bool applyPclr(cJP2Image* img);

    unsigned int myStatus = 0;
    unsigned long long myStart = 0;  // the file's first byte in the stream
    unsigned int myNc = 0;
    bool myIhdr = false;
    unsigned int myMeth = 0, myEnumCS = 0;
    bool myColrRead = false;
    unsigned int myCielab[8] = {};
    cJP2Color myColor;
    bool myIgnoreColour = false;
};
