// The PNG container and pixel reconstruction: chunks with CRCs, streamed inflate of the
// IDAT data, the five filters, Adam7 and every colour type and depth.
#pragma once

#include "compression/zlibstreams.h"
#include "picts/pictrows.h"

struct sPngHeader {
    unsigned int width = 0;
    unsigned int height = 0;
    unsigned int depth = 0;
    unsigned int colorType = 0;
    unsigned int interlace = 0;
};

class cPngReader {
public:
    enum eResult {
        eOk = 0,
        eNotPng = 1,
        eBadHeader = 2,
        eBadSize = 3,
        eBadCrc = 4,
        eBadChunk = 5,
        eTruncated = 6,
        eBadData = 7,
        eNoMemory = 8,
    };

    // Signature and IHDR from the stream's position (the position moves past them).
    static int readHeader(cFileIOTarget* stream, sPngHeader& header);
    // Decodes a whole PNG from the stream's position into the sink.
    int decode(cFileIOTarget* stream, cPictRowSink& sink);

private:
    int readChunkHead(unsigned int& length, unsigned int& type);
    int readChunkBody(unsigned int length, unsigned int type, _typebuf<unsigned char>* keep);
    int pull(unsigned char* dst, long long n);
    int refillInput();
    int finishIdat();
    int decodeRows(cPictRowSink& sink);
    void toPixels32(const unsigned char* raw, long long n, unsigned int* out) const;
    void toPixels64(const unsigned char* raw, long long n, unsigned long long* out) const;

    cFileIOTarget* myStream = nullptr;
    unsigned long long myEnd = 0;
    sPngHeader myHdr;
    unsigned int myChannels = 1;
    unsigned int myPalette[256];
    unsigned int myPaletteCount = 0;
    bool myHasKey = false;
    unsigned int myKey[3] = {0, 0, 0};
    // IDAT streaming state.
    cZInflate myInflate;
    _typebuf<unsigned char> myIn;
    long long myInPos = 0;
    long long myInLen = 0;
    unsigned int myChunkLeft = 0;
    unsigned int myChunkCrc = 0;
    bool myIdatDone = false;
    bool myZEnded = false;
    _typebuf<unsigned char> myOut;
    long long myOutPos = 0;
    long long myOutLen = 0;
    long long myRawLeft = 0;
};
