// Scaled embedded-JPEG previews of raw files.
#include "picts/raw/rawpreview.h"

#include "base/memio.h"
#include "picts/jpeg/pictjpeg.h"

bool rawJpegPreview(cFileIOTarget* io, unsigned long long offset, unsigned long long length, cPictBase* target,
                    long long* maxWidth, long long* maxHeight) {
    if (!io || !target || !offset || !length || offset >= io->size()) return false;
    cFileIOSubRange window(io, offset, length);
    cPictBase::sPictInfo info;
    if (!window.set_fp(0) || !cPictJPEG::validFor(&window, &info) || info.width < 1 || info.height < 1) return false;
    const long long w = info.width, h = info.height;
    const long long mw = maxWidth && *maxWidth > 0 ? *maxWidth : 0;
    const long long mh = maxHeight && *maxHeight > 0 ? *maxHeight : 0;
    cPictJPEG jpeg;
    if (!window.set_fp(0)) return false;
    if ((!mw && !mh) || ((!mw || mw >= w) && (!mh || mh >= h))) {
        if (!jpeg.decode(&window)) return false;
        jpeg.moveTo(*target);
    } else {
        double fit = 1.0;
        if (mw && (double)mw / (double)w < fit) fit = (double)mw / (double)w;
        if (mh && (double)mh / (double)h < fit) fit = (double)mh / (double)h;
        long long tw = (long long)((double)w * fit + 0.5), th = (long long)((double)h * fit + 0.5);
        cPictDummy scaled;
        if (tw < 1 || th < 1 || !scaled.create(tw, th, 0)) return false;
        cPictBase::sExtPictDef def(&scaled);
        if (!jpeg.setExtTarget(&def) || !jpeg.decode(&window)) return false;
        scaled.moveTo(*target);
    }
    if (maxWidth) *maxWidth = target->width();
    if (maxHeight) *maxHeight = target->height();
    return true;
}
