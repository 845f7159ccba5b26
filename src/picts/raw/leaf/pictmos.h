// cPictMOS: Leaf digital-back files (MOS): TIFF files whose sensor frame is a single-channel
// 16-bit strip or tile image, optionally lossless JPEG, and whose tag 34310 holds a tree of
// named packets (capture profile, mosaic pattern, frame rotation, a JPEG preview). A file may
// come wrapped in a ZIP archive as a stored member "0.MOS".
#pragma once

#include "picts/pictbase.h"
#include "picts/rawcore/cfafilter.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawtiffwalk.h"

class cPictMOS : public cPictBase, public cRawTiffWalker {
public:
    enum { kMaxPacketDepth = 8 };  // nested packet lists followed at most this deep

    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkMOS; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    bool onTag(int tag, int type, const void* data, int size) override;

    // Walks a packet list (52-byte headers: "PKTS", name from byte 8, data length at 48);
    // false for a bad magic, a length beyond the data, a malformed known packet, or lists
    // nested deeper than kMaxPacketDepth.
    bool processLeafData(const unsigned char* data, long long size, int depth = 0);
    // Where the TIFF starts: 39 for a stored ZIP member "0.MOS", else 0.
    static unsigned long long tiffStart(cFileIOTarget* io);

    unsigned int rotation() const { return myRotation; }
    unsigned int backType() const { return myBackType; }
    const sCFAData& cfa() const { return myCfa; }

private:
    void reset();
    bool walk(cFileIOTarget* io);
    bool readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame);

    sCFAData myCfa;
    unsigned int myBackType = 0, myRowsValue = 0, myRotation = 0;
    bool myWantPreview = false, myHavePreview = false, myCaptureProfile = false;
    _typebuf<unsigned char> myPreview;
    unsigned int myWidth = 0, myHeight = 0, myBits = 0, myCompression = 1, mySamples = 1, myRowsPerStrip = 0;
    unsigned int myTileWidth = 0, myTileHeight = 0;
    bool myTiled = false;
    _typebuf<unsigned int> myOffsets, myCounts;
};
