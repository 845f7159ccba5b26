// cPictJPEG: the JPEG picture decoder (baseline, extended 12-bit, progressive, lossless),
// a cPictBase fed by the cJPEGParser it also is.
#pragma once

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

protected:
    // Upsamples and converts the planes into the picture or the external target.
    bool emitPixels();
    // Size of the last frame read by a probe, and whether an EXIF block came before it.
    bool myHasExif = false;
    bool myKeepExif = false;
    _typebuf<unsigned char> myExif;  // the APP1 EXIF payload after "Exif\0\0"
};
