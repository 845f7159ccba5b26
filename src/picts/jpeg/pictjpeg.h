// cPictJPEG: the JPEG picture decoder (baseline, extended 12-bit, progressive, lossless),
// a cPictBase fed by the cJPEGParser it also is.
#pragma once

#include "picts/jpeg/jpegcolor.h"
#include "picts/jpeg/jpegparser.h"
#include "picts/pictbase.h"

class cPictJPEG : public cPictBase, public cJPEGParser {
public:
    cPictJPEG();
    ~cPictJPEG() override;

    // Whether the stream, from its current position, is a JPEG we can decode; fills the size.
    // The stream is left where it was.
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkJPEG; }
    bool is16Bpp() override { return my16Bpp; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    // Decodes into the picture (32-bit, or 64-bit above 8 bits a sample) or into the
    // registered external target. A damaged or truncated stream keeps what was decoded
    // and answers false.
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return true; }
    // The EXIF thumbnail into target (scaled down to maxWidth x maxHeight when given;
    // both receive the size given).
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;
    using cPictBase::getPreview;

    // Lossless lines go into the component planes.
    bool onScanLine(unsigned short** lines, int line, int samples) override;
    bool onAppMarker(int n, const unsigned char* data, int length) override;
    // Decodes take their rows in strips, converted straight into the picture (or the target).
    bool acceptsStrips() override { return myDecoding; }
    bool onStrip() override;

protected:
    // Upsamples and converts the planes into the picture or the external target.
    bool emitPixels();
    // Sizes the picture and allocates its pixels, or starts the external target.
    bool beginPixels();
    // Converts output rows [from, to) (counted from the top).
    void emitRows(int from, int to);
    void endPixels();
    cJColorConverter myConv;
    bool myDecoding = false;
    bool myStarted = false;  // beginPixels succeeded
    bool myExt = false;      // rows go to the external target
    bool myStripFailed = false;
    int myEmitted = 0;       // output rows converted so far
    _typebuf<unsigned int> myRow32;
    _typebuf<unsigned long long> myRow64;
    // Size of the last frame read by a probe, and whether an EXIF block came before it.
    bool myHasExif = false;
    bool myKeepExif = false;
    _typebuf<unsigned char> myExif;  // the APP1 EXIF payload after "Exif\0\0"
};
