// cJPEGParser: the JPEG marker parser and decoding driver. It reads the markers, keeps the
// tables, the frame and the current scan, decodes DCT scans (sequential and progressive) into
// component planes and lossless scans into lines delivered through onScanLine.
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"
#include "picts/jpeg/jhuffdecoder.h"

// One frame component.
struct sJComponent {
    int id = 0;
    int h = 1, v = 1;  // sampling factors 1..4
    int tq = 0;        // quantisation table selector
    // Derived at the frame: samples really present, and the block grid padded to whole MCUs.
    int sw = 0, sh = 0;
    int bw = 0, bh = 0;
    // Quantisation steps (natural order), taken when the component's first scan starts.
    unsigned short quant[64] = {};
    bool quantTaken = false;
    int rowsDone = 0;  // plane rows (from the top) holding decoded samples
    // Coefficients (bit k for zig-zag index k) that a clean scan has brought to full precision;
    // every bit of every component once the picture is whole (all bits for sequential and
    // lossless scans).
    unsigned long long codedFull = 0;
    // Decoded samples (bw·8 × bh·8), or in strip mode only the last ringRows rows of them
    // (a power of two; row r at r % ringRows); and the coefficients of progressive frames.
    _typebuf<unsigned short> plane;
    int ringRows = 0;
    _typebuf<short> coefs;
    // Entropy decoding state.
    int dcPred = 0;
};

class cJPEGParser {
public:
    // Codes given to onGeneralError.
    enum eJError {
        eJErrNone = 0,
        eJErrSyntax = 1,       // a marker or segment that breaks the format
        eJErrUnsupported = 2,  // arithmetic coding, hierarchical frames, more than 4 components
        eJErrSize = 3,         // zero or over-large dimensions
        eJErrTable = 4,        // a missing or impossible table
        eJErrData = 5,         // damaged or truncated entropy-coded data
        eJErrMemory = 6,
        eJErrHuffTables = 7,   // a raw scan decoder could not prepare its Huffman tables
        eJErrRefused = 8,      // a callback refused to go on
    };
    // What processStream reads.
    enum eJMode {
        eJModeDecode = 0,   // everything up to EOI
        eJModeHeader = 1,   // up to the frame header
        eJModePreview = 2,  // up to the first scan (APPn blocks and the frame)
    };
    enum eJColor { eJColorGrey = 0, eJColorYCbCr, eJColorRGB, eJColorCMYK, eJColorYCCK };

    cJPEGParser();
    virtual ~cJPEGParser();
    cJPEGParser(const cJPEGParser&) = delete;
    cJPEGParser& operator=(const cJPEGParser&) = delete;

    // Parses the stream from its current position. True when the mode's goal was reached with
    // intact data; a damaged or truncated stream gives false after decoding what it could.
    bool processStream(cFileIOTarget* stream, int mode = eJModeDecode);
    // Makes 0xFF bytes plain entropy data (no stuffing, no markers inside scans).
    void setIgnoreFFEsc(bool ignore) { myIgnoreFF = ignore; }
    // Lossless scans: difference category 16 followed by 16 bits holding the difference, as
    // early raw writers coded it, instead of T.81 H.1.2.2's 32768 without extra bits.
    void setDiff16Bits(bool on) { myDiff16Bits = on; }
    // Interleaved lossless scans with predictor 1: each sample is predicted from the sample of
    // its component decoded just before it, and the first of an MCU row from the first of the
    // row above, as small-raw camera streams with 2x2 luma blocks are coded; T.81's predictor 1
    // takes the left neighbour on the component's own grid instead.
    void setDecodeOrderPrediction(bool on) { myDecodeOrderPred = on; }

    // Lossless scans: prepares nothing and decodes the current scan, delivering lines.
    virtual bool processHuffmanLosslessScan();
    // One decoded line of a lossless scan: per scan component a buffer of its samples
    // in the MCU row (for each MCU its v rows of h samples); `line` counts MCU rows; `samples`
    // is the MCU row's width in samples of a component with the largest h (the frame width
    // when every factor is 1). False stops the decode with failure.
    virtual bool onScanLine(unsigned short** lines, int line, int samples);
    // An error; `what` says what was wrong.
    virtual void onGeneralError(int code, const char* what);
    // The frame header was read and checked; false refuses the picture.
    virtual bool onFrame() { return true; }
    // An APPn segment (n = 0..15) with its payload.
    virtual bool onAppMarker(int n, const unsigned char* data, int length) { return true; }
    // Whether the picture takes its samples in strips: the planes of DCT frames whose first
    // scan holds every component (and of progressive frames) then keep only a few MCU rows,
    // and onStrip is called each time more rows are decoded (rowsDone of every component).
    virtual bool acceptsStrips() { return false; }
    // Strip mode: more plane rows are decoded; rows more than two MCU rows above the last
    // ones may be overwritten next. False stops the decode with failure.
    virtual bool onStrip() { return true; }

    // Frame.
    int precision() const { return myPrecision; }
    int frameWidth() const { return myFrameW; }
    int frameHeight() const { return myFrameH; }
    int componentCount() const { return myNumComps; }
    const sJComponent& component(int i) const { return myComps[i]; }
    int maxH() const { return myMaxH; }
    int maxV() const { return myMaxV; }
    bool isProgressive() const { return myProgressive; }
    bool isLossless() const { return myLossless; }
    bool frameSeen() const { return myFrameSeen; }
    int colorModel() const;
    int adobeTransform() const { return myAdobeTransform; }  // -1 without an Adobe segment
    int lastError() const { return myError; }
    bool eoiSeen() const { return myEOI; }

    // Current scan: components (indexes into the frame), spectral range, approximation.
    int scanComponents() const { return myScanCount; }
    int scanComponent(int i) const { return myScanComp[i]; }
    int scanSs() const { return mySs; }
    int scanSe() const { return mySe; }
    int scanAh() const { return myAh; }
    int scanAl() const { return myAl; }
    int restartInterval() const { return myRestart; }
    // The state a cJHuffDecoder needs for the current scan.
    sJScanState scanState();
    // The source positioned at the current scan's data.
    cJByteSource* source() { return &mySrc; }

    // DCT frames: turns what was decoded into samples in each component's plane (runs the
    // IDCT over progressive coefficients). Planes exist after the first scan.
    bool finishPlanes();
    bool planesReady() const { return myPlanesReady; }
    bool stripMode() const { return myStrips; }
    // Row `row` of a component's plane (in strip mode, where the ring keeps it).
    static unsigned short* planeRow(const sJComponent& c, long long stride, long long row) {
        return c.plane.ptr + (c.ringRows ? row & (c.ringRows - 1) : row) * stride;
    }
    // Allocates the sample planes (also used by lossless pictures).
    bool allocPlanes();
    sJComponent& componentRef(int i) { return myComps[i]; }

protected:
    bool fail(int code, const char* what);
    // Forgets everything read so far.
    void resetParser();

private:
    bool readSegment(int marker, int mode, bool& stop);
    bool readSOF(int marker, long long len);
    bool readDHT(long long len);
    bool readDQT(long long len);
    bool readSOS(long long len);
    bool readDRI(long long len);
    bool readApp(int n, long long len);
    int nextMarker();
    bool decodeScan();
    bool allocCoefs();
    // Plane rows of one MCU row of the component.
    int mcuRowHeight(const sJComponent& c) const;
    // Strip mode: decodes (progressive) or fills with grey what is left, MCU row by MCU row.
    bool finishStrips();
    // Entropy decoding of DCT scans.
    bool runDctScan();
    bool handleRestart(int& expected);
    int markerAfterScan();
    bool decodeBlockSeq(int c, short* blk, bool& acCoded);
    bool decodeDCFirst(int c, short* blk);
    bool decodeDCRefine(short* blk);
    bool decodeACFirst(int c, short* blk);
    bool decodeACRefine(int c, short* blk);
    void storeBlock(int c, int bx, int by, short* blk, bool ac);
    // A block with AC terms waiting for a second one to go through the IDCT with.
    struct sHeldBlock {
        short coef[64];
        int comp = -1, bx = 0, by = 0;
    };
    // The decoded blocks of one MCU into the planes (leaving them zero); flushHeld transforms
    // the waiting block, before the row is handed on or the scan stops.
    void storeBlocks(int n, short (*blk)[64], const bool* ac, const int* comp, const int* bx, const int* by,
                     sHeldBlock& held);
    void flushHeld(sHeldBlock& held);

    cJByteSource mySrc;
    cJHuffDecoder myHuff;
    sJHuffTable myDcTab[4];
    sJHuffTable myAcTab[4];
    unsigned short myQuant[4][64];
    bool myQuantDefined[4];
    sJComponent myComps[4];
    int myNumComps = 0;
    int myPrecision = 0;
    int myFrameW = 0, myFrameH = 0;
    int myMaxH = 1, myMaxV = 1;
    int myMcusX = 0, myMcusY = 0;
    bool myProgressive = false;
    bool myLossless = false;
    bool myFrameSeen = false;
    bool myPlanesReady = false;
    bool myStrips = false;
    bool myCoefsReady = false;
    bool myEOI = false;
    bool myDataError = false;
    bool myIgnoreFF = false;
    bool myDiff16Bits = false;  // kept across processStream, like myIgnoreFF
    bool myDecodeOrderPred = false;
    bool mySawJFIF = false;
    int myAdobeTransform = -1;
    int myRestart = 0;
    int myError = 0;
    int myPendingMarker = -1;
    // Scan.
    int myScanCount = 0;
    int myScanComp[4] = {};
    int myScanTd[4] = {};
    int myScanTa[4] = {};
    int mySs = 0, mySe = 63, myAh = 0, myAl = 0;
    int myEobRun = 0;
    bool myScanUsedHuff = false;
};
