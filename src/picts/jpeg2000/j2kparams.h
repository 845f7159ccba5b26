// Coding parameters of a JPEG 2000 codestream (T.800 Annex A): per tile and per
// tile-component, as the main header sets them and the tile-part headers override them.
#pragma once

#include "base/buffers.h"

const int kJ2KMaxResolutions = 33;  // T.800 A.6.1: up to 32 decomposition levels
const int kJ2KMaxBands = 97;        // 3 * 32 + 1
const int kJ2KMaxPocs = 32;
const int kJ2KMaxMctRecords = 255;

// Makes room for n elements in b, keeping what it holds. The block only grows (at least
// doubling), so working buffers reused from block to block settle at their largest size.
template <class T>
bool j2kRoom(_typebuf<T>& b, long long n) {
    if (n <= b.count) return true;
    long long grow = b.count * 2;
    return b.reset(n > grow ? n : grow);
}

struct sJP2StepSize {
    unsigned char expn = 0;   // 5 bits
    unsigned short mant = 0;  // 11 bits
};

struct sJP2Tccp {
    unsigned int csty = 0;    // bit 0: precinct sizes given
    unsigned int numres = 1;  // decomposition levels + 1
    unsigned int cblkw = 6, cblkh = 6;  // code-block exponents (xcb, ycb)
    unsigned int cblksty = 0;
    unsigned int qmfbid = 0;  // 1: reversible 5/3, else 9/7
    unsigned int qntsty = 0;  // 0 none, 1 scalar derived, 2 scalar expounded
    unsigned int numgbits = 0;
    unsigned int roishift = 0;
    sJP2StepSize steps[kJ2KMaxBands];
    unsigned char prcw[kJ2KMaxResolutions], prch[kJ2KMaxResolutions];  // 0..15
    int dcShift = 0;
    bool cocSeen = false;  // a COC of this header set the coding style
    bool qccSeen = false;

    sJP2Tccp() {
        for (int i = 0; i < kJ2KMaxResolutions; i++) prcw[i] = prch[i] = 15;
    }
};

struct sJP2Poc {
    unsigned int resS = 0, compS = 0, layE = 0, resE = 0, compE = 0, prg = 0;
};

// ISO/IEC 15444-2 array-based component transform records.
struct sJP2MctRecord {
    unsigned int index = 0;
    unsigned int elemType = 0;  // 0 int16, 1 int32, 2 float32, 3 float64
    _typebuf<unsigned char> data;  // empty when the array is elsewhere
};
struct sJP2MccRecord {
    unsigned int index = 0;
    unsigned int count = 0;  // components in the collection (0: no collection)
    int decorrelation = -1;  // MCT record indexes, -1 none
    int offsets = -1;
};

class cJP2Tcp {
public:
    unsigned int csty = 0;  // Scod: bit 0 precincts, bit 1 SOP, bit 2 EPH
    unsigned int prg = 0;
    unsigned int numlayers = 1;
    unsigned int layersToDecode = 1;
    unsigned int mct = 0;
    sJP2Poc pocs[kJ2KMaxPocs];
    unsigned int numpocs = 0;
    bool pocSeen = false;
    bool pocInherited = false;  // the records came from the main header
    bool pptSeen = false;
    bool fromPpm = false;  // the packed headers came from the main header's PPM
    bool codSeen = false;   // a COD in a tile-part header of this tile
    bool qcdSeen = false;
    _typebuf<unsigned char> ppt;  // packed packet headers (PPT)
    long long pptLen = 0;
    _classbuf<sJP2Tccp> tccps;
    _classbuf<sJP2MctRecord> mcts;  // room for kJ2KMaxMctRecords once the first arrives
    unsigned int numMcts = 0;
    _typebuf<sJP2MccRecord> mccs;
    unsigned int numMccs = 0;
    _typebuf<float> mctMatrix;  // numcomps x numcomps decoding matrix set up by MCO
    _typebuf<unsigned char> data;  // the tile's collected tile-part data
    long long dataLen = 0;
    unsigned int numTileParts = 0;  // TNsot (0: unknown)
    unsigned int partsSeen = 0;
    bool countBroken = false;  // TNsot proved wrong
    bool hasData = false;

    // Copies the coding parameters (not the data) from the main header's defaults.
    bool copyFrom(const cJP2Tcp& o);
};

struct sJP2CodingParameters {
    unsigned int rsiz = 0;
    unsigned int tx0 = 0, ty0 = 0, tdx = 0, tdy = 0;  // tile grid origin and size
    unsigned int tw = 0, th = 0;                      // tiles across and down
    unsigned int reduce = 0;
    unsigned int layers = 0;  // 0: all
    _classbuf<cJP2Tcp> tcps;
};
