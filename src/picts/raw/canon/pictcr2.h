// cPictCR2: Canon CR2 raw files. A little-endian TIFF whose first directory carries the
// preview, the EXIF data and the Canon maker note, and whose fourth directory points at the
// sensor frame: a lossless JPEG cut into vertical slices, or a small-raw frame of luma and
// two chroma planes. Two early models keep the frame at a maker-note offset instead.
#pragma once

#include "base/fastertreelist.h"
#include "picts/pictbase.h"
#include "picts/raw/canon/cr2walkers.h"
#include "picts/rawcore/cfafilter.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawljpeg.h"

class cPictCR2 : public cPictBase {
public:
    struct sCamColor {
        unsigned short black;
        unsigned short white;
        double m[3][3];  // output red, green, blue from camera red, green, blue
    };

    cPictCR2();
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkCR2; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    // The first directory's JPEG (strip 273/279), whole or bounded.
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    unsigned int getModelId() const { return myMaker.modelId; }
    void getModelName(_guardchar<char>& out) const { out.set(myModel.ptr ? myModel.ptr : ""); }
    // The model's colour row (true), or the fallback for an unlisted id (false).
    bool getColors(unsigned short& black, unsigned short& white, double (&m)[3][3]) const;
    static bool colorsFor(unsigned int id, sCamColor& out);
    // The model's margins; zeros and false for a model not in the table.
    static bool marginsFor(unsigned int id, sMarginInfo& out);
    // Black level from the sensor's masked rectangle (clamped to the frame); 0 when none.
    static unsigned int blackLevel(const unsigned short* frame, long long width, long long height,
                                   const unsigned short* sensorInfo, bool derived);
    // Small-raw luma/chroma to 16-bit pixels (rows written bottom-up when flip).
    static void srawToRgb(const unsigned short* yuv, unsigned long long* out, long long width, long long height,
                          int bits, unsigned int modelId, bool flip);

    // After a probe or decode.
    const sMarginInfo& margins() const { return myMargins; }
    const cCR2MakerNoteProps& makerNote() const { return myMaker; }
    const cCR2DataProps& frameDirectory() const { return myData; }
    long long sensorWidth() const { return mySensorW; }
    long long sensorHeight() const { return mySensorH; }

    // The tables, filled once per process (thread-safe).
    static void initColors();
    static void initMargins();

private:
    void reset();
    bool readHeader(cFileIOTarget* io, bool forDecode);
    bool isFullConfig() const;
    bool isOldModel() const { return myMaker.modelId == 0x80000001 || myMaker.modelId == 0x80000167; }
    void setMargins();
    bool decodeFrame(cFileIOTarget* io);
    bool decodeBayer(_typebuf<unsigned short>& frame, int precision, cFileIOTarget* io);

    cCR2MakerNoteProps myMaker;
    cCR2ExifProps myExif;
    cCR2DataProps myData;
    _guardchar<char> myModel;
    sMarginInfo myMargins;
    sCFAData myCfa;
    bool myBigEndian = false;
    unsigned int myIfd1 = 0;
    unsigned int myPreviewOffset = 0, myPreviewLength = 0;
    long long mySensorW = 0, mySensorH = 0;
    long long myOldJpegWidth = 0, myOldJpegHeight = 0;
    cRAWLosslessJpeg::eRawType myRawKind = cRAWLosslessJpeg::rtPlain;

    static cFasterTreeList<unsigned int, sCamColor>& colorTable();
    static cFasterTreeList<unsigned int, sMarginInfo>& marginTable();
};
