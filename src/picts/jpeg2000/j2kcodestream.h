// cJ2KDecode: the JPEG 2000 codestream reader (ITU-T T.800 Annex A): main header, tile-part
// headers and tile data; each complete tile goes to the tile decoder (cJP2Tcd) and lands in
// the output cJP2Image. Decode only; every failure is a false result.
#pragma once

#include "base/fileiotarget.h"
#include "base/lists.h"
#include "base/memio.h"
#include "picts/jpeg2000/j2kimage.h"
#include "picts/jpeg2000/j2kparams.h"

// The stream every JPEG 2000 reader works on: the caller's stream (not owned) behind a
// read cache of 4096 bytes, since the readers take a marker or a box header at a time.
class cJP2FileIOTarget : public cMemBufferedIO {
public:
    explicit cJP2FileIOTarget(cFileIOTarget* target) : cMemBufferedIO(target, 4096) {}
};

class cJ2KDecode {
public:
    // Decoder states (T.800 A.3 marker order).
    enum eState {
        stFresh = 0x0000,
        stSoc = 0x0001,
        stSiz = 0x0002,
        stMain = 0x0004,
        stTPHSot = 0x0008,  // expecting SOT between tile-parts
        stTPH = 0x0010,     // in a tile-part header
        stNoEoc = 0x0040,   // tile data ended before its announced length
        stEoc = 0x0100,
        stError = 0x8000
    };

    cJ2KDecode();
    virtual ~cJ2KDecode();
    cJ2KDecode(const cJ2KDecode&) = delete;
    cJ2KDecode& operator=(const cJ2KDecode&) = delete;

    // Main header from the stream's position (SOC up to the first SOT); out receives a copy
    // of the image header (no samples). Only on a fresh decoder.
    bool readHeader(cFileIOTarget* io, cPtr<cJP2Image>& out);
    // Restricts decoding to an area of the reference grid (all zero: the whole image); only
    // between readHeader and decode.
    bool setDecodeArea(cJP2Image* img, long long x0, long long y0, long long x1, long long y1);
    // Decodes every tile and moves the components' samples into img.
    bool decode(cFileIOTarget* io, cJP2Image* img);

    // Worker threads for tile decoding: 0 (the default) uses every core, 1 decodes on the
    // calling thread only.
    static void setThreads(int n);
    static int threads();

    unsigned int state() const { return myState; }
    const sJP2CodingParameters& codingParameters() const { return myCp; }

protected:
    // Marker segment handlers: the body after the length field.
    bool handleMarker(unsigned int marker, const unsigned char* b, unsigned int len);
    bool readSiz(const unsigned char* b, unsigned int len);
    bool readCod(const unsigned char* b, unsigned int len);
    bool readCoc(const unsigned char* b, unsigned int len);
    bool readSPCodSPCoc(unsigned int comp, const unsigned char* b, unsigned int len, unsigned int& used);
    bool readQcd(const unsigned char* b, unsigned int len);
    bool readQcc(const unsigned char* b, unsigned int len);
    bool readSQcdSQcc(unsigned int comp, const unsigned char* b, unsigned int len, unsigned int& used);
    bool readRgn(const unsigned char* b, unsigned int len);
    bool readPoc(const unsigned char* b, unsigned int len);
    bool readTlm(const unsigned char* b, unsigned int len);
    bool readPlt(const unsigned char* b, unsigned int len);
    bool readPpt(const unsigned char* b, unsigned int len);
    bool readPpm(const unsigned char* b, unsigned int len);
    // The packed headers of the current tile-part from the PPM data.
    bool takePpmHeaders(cJP2Tcp& tcp);
    bool readCrg(const unsigned char* b, unsigned int len);
    bool readCbd(const unsigned char* b, unsigned int len);
    bool readMct(const unsigned char* b, unsigned int len);
    bool readMcc(const unsigned char* b, unsigned int len);
    bool readMco(const unsigned char* b, unsigned int len);
    bool readSot(const unsigned char* b, unsigned int len);

    // Reads a marker's length and body into myHeader; false on a short read or a length
    // below 2.
    bool readSegment(unsigned int& len);
    bool readMarker(unsigned int& marker);
    // Tile-part data after SOD, appended to the current tile's data.
    bool readSod();
    // Decodes every tile that has data into img.
    bool decodeTiles(cJP2Image* img);
    cJP2Tcp& currentTcp();
    bool fail() {
        myState |= stError;
        return false;
    }

    cFileIOTarget* myIO = nullptr;
    unsigned int myState = stFresh;
    cJP2Image myImage;
    sJP2CodingParameters myCp;
    cJP2Tcp myDefault;
    _typebuf<unsigned char> myHeader;
    unsigned int myCurTile = 0;
    unsigned int myTilesSeen = 0;
    _typebuf<unsigned char> myPpm;  // PPM packed headers of every tile-part
    long long myPpmLen = 0, myPpmPos = 0;
    unsigned int myPpmSegments = 0;
    long long myPartLen = 0;  // Psot (0: up to the end of the codestream)
    long long myPartStart = 0;
    bool myLastPart = false;
};
