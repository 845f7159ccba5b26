// Scaled embedded previews of raw files (JPEG, or a whole TIFF).
#include "picts/raw/rawpreview.h"

#include "base/memio.h"
#include "picts/jpeg/pictjpeg.h"
#include "picts/pictdummy.h"
#include "picts/tiff/picttiff.h"

namespace {

// Decodes the picture in window (w x h, known from its probe) with dec into target: whole
// without bounds or within them, else rendered while decoding into an 8-bit picture fitted
// within the bounds (aspect kept, never enlarged).
bool decodeFitted(cPictBase& dec, cFileIOTarget* window, long long w, long long h, cPictBase* target,
                  long long* maxWidth, long long* maxHeight) {
    const long long mw = maxWidth && *maxWidth > 0 ? *maxWidth : 0;
    const long long mh = maxHeight && *maxHeight > 0 ? *maxHeight : 0;
    if (!window->set_fp(0)) return false;
    if ((!mw || mw >= w) && (!mh || mh >= h)) {
        if (!dec.decode(window)) return false;
        dec.moveTo(*target);
    } else {
        double fit = 1.0;
        if (mw && (double)mw / (double)w < fit) fit = (double)mw / (double)w;
        if (mh && (double)mh / (double)h < fit) fit = (double)mh / (double)h;
        long long tw = (long long)((double)w * fit + 0.5), th = (long long)((double)h * fit + 0.5);
        cPictDummy scaled;
        if (tw < 1 || th < 1 || !scaled.create(tw, th, 0)) return false;
        cPictBase::sExtPictDef def(&scaled);
        if (!dec.setExtTarget(&def) || !dec.decode(window)) return false;
        scaled.moveTo(*target);
    }
    if (maxWidth) *maxWidth = target->width();
    if (maxHeight) *maxHeight = target->height();
    return true;
}

}  // namespace

bool rawJpegPreview(cFileIOTarget* io, unsigned long long offset, unsigned long long length, cPictBase* target,
                    long long* maxWidth, long long* maxHeight) {
    if (!io || !target || !offset || !length || offset >= io->size()) return false;
    cFileIOSubRange window(io, offset, length);
    cPictBase::sPictInfo info;
    if (!window.set_fp(0) || !cPictJPEG::validFor(&window, &info) || info.width < 1 || info.height < 1) return false;
    cPictJPEG jpeg;
    return decodeFitted(jpeg, &window, info.width, info.height, target, maxWidth, maxHeight);
}

bool rawTiffPreview(cFileIOTarget* io, unsigned long long offset, cPictBase* target, long long* maxWidth,
                    long long* maxHeight) {
    if (!io || !target || offset >= io->size()) return false;
    cFileIOSubRange window(io, offset, ~0ULL);
    cPictBase::sPictInfo info;
    if (!window.set_fp(0) || !cPictTIFF::validFor(&window, &info) || info.width < 1 || info.height < 1) return false;
    cPictTIFF tiff;
    return decodeFitted(tiff, &window, info.width, info.height, target, maxWidth, maxHeight);
}
