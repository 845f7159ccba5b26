// cPictJPEG: probing, decoding into the picture or an external target, and the EXIF
// thumbnail preview.
#include "picts/jpeg/pictjpeg.h"

#include <cstring>

#include "base/memio.h"
#include "picts/exif/exifdecoder.h"
#include "picts/jpeg/jpegcolor.h"

cPictJPEG::cPictJPEG() {}

cPictJPEG::~cPictJPEG() {}

bool cPictJPEG::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictJPEG probe;
    return probe.isPicture(io, info);
}

bool cPictJPEG::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!io) return false;
    unsigned long long start = io->get_fp();
    myHasExif = false;
    bool ok = processStream(io, eJModeHeader) && frameSeen();
    io->set_fp(start);
    if (!ok) return false;
    if (info) {
        info->width = frameWidth();
        info->height = frameHeight();
        info->hasPreview = myHasExif;
    }
    return true;
}

bool cPictJPEG::onAppMarker(int n, const unsigned char* data, int length) {
    if (n == 1 && length >= 6 && !memcmp(data, "Exif\0\0", 6)) {
        myHasExif = true;
        if (myKeepExif && !myExif.ptr) myExif.set(data + 6, length - 6);
    }
    return true;
}

bool cPictJPEG::onScanLine(unsigned short** lines, int line, int samples) {
    if (!allocPlanes()) return false;
    const int maxv = (1 << precision()) - 1;
    const bool single = scanComponents() == 1;
    for (int i = 0; i < scanComponents(); i++) {
        sJComponent& c = componentRef(scanComponent(i));
        const int h = single ? 1 : c.h, v = single ? 1 : c.v;
        const long long stride = c.bw;
        const int units = single ? c.sw : (int)(c.bw / c.h);
        const unsigned short* in = lines[i];
        for (int yy = 0; yy < v; yy++) {
            long long row = (long long)line * v + yy;
            if (row >= c.bh) break;
            if (row + 1 > c.rowsDone) c.rowsDone = (int)row + 1;
            unsigned short* out = c.plane.ptr + row * stride;
            for (int u = 0; u < units; u++) {
                for (int xx = 0; xx < h; xx++) {
                    int s = in[(long long)u * h * v + yy * h + xx];
                    out[u * h + xx] = (unsigned short)(s > maxv ? maxv : s);
                }
            }
        }
    }
    return true;
}

bool cPictJPEG::beginPixels() {
    if (!myConv.init(*this)) return false;
    const long long w = frameWidth(), h = frameHeight();
    const bool sixteen = myConv.sixteen();
    myPixels.clear();
    myPixels16.clear();
    myWidth = w;
    myHeight = h;
    my16Bpp = sixteen;
    myEmitted = 0;
    myExt = startExtRender();
    if (myExt) {
        if (sixteen ? !myRow64.set(w) : !myRow32.set(w)) {
            endExtRender();
            myExt = false;
            return false;
        }
    } else if (!allocPixels(w, h, sixteen)) {
        return false;
    }
    myStarted = true;
    return true;
}

void cPictJPEG::emitRows(int from, int to) {
    const long long w = frameWidth(), h = frameHeight();
    const bool sixteen = myConv.sixteen();
    for (int y = from; y < to; y++) {
        long long sy = h - 1 - y;
        if (myExt) {
            if (!canExtRender(0, w, sy, sy + 1)) continue;
            if (sixteen) {
                myConv.row64(y, myRow64.ptr);
                for (long long x = 0; x < w; x++) setExtPix16(x, sy, myRow64.ptr[x]);
            } else {
                myConv.row32(y, myRow32.ptr);
                for (long long x = 0; x < w; x++) setExtPix(x, sy, myRow32.ptr[x]);
            }
        } else if (sixteen) {
            myConv.row64(y, myPixels16.ptr + sy * w);
        } else {
            myConv.row32(y, myPixels.ptr + sy * w);
        }
    }
    if (to > myEmitted) myEmitted = to;
}

void cPictJPEG::endPixels() {
    if (myStarted && myExt) endExtRender();
    myExt = false;
    myRow32.clear();
    myRow64.clear();
}

bool cPictJPEG::onStrip() {
    if (myStripFailed) return false;
    if (!myStarted && !beginPixels()) {
        myStripFailed = true;
        return false;
    }
    int ready = myConv.readyRows(*this);
    if (ready > myEmitted) emitRows(myEmitted, ready);
    return true;
}

bool cPictJPEG::emitPixels() {
    if (!beginPixels()) return false;
    emitRows(0, (int)frameHeight());
    return true;
}

bool cPictJPEG::decode(cFileIOTarget* io) {
    myPixels.clear();
    myPixels16.clear();
    myWidth = myHeight = 0;
    my16Bpp = false;
    if (!io) return false;
    myStarted = myExt = myStripFailed = false;
    myEmitted = 0;
    myDecoding = true;
    bool ok = processStream(io, eJModeDecode);
    myDecoding = false;
    if (!frameSeen() || !planesReady()) {
        // Nothing decoded: a registered target stays for the next decode.
        return false;
    }
    bool shown;
    if (stripMode()) {
        // The rest of the rows (grey where the data ended) and, for progressive frames, all.
        shown = finishPlanes() && myStarted && myEmitted == frameHeight();
    } else {
        finishPlanes();
        shown = emitPixels();
    }
    endPixels();
    // The planes are not needed once the pixels exist.
    for (int i = 0; i < componentCount(); i++) {
        componentRef(i).plane.clear();
        componentRef(i).coefs.clear();
    }
    return ok && shown;
}

bool cPictJPEG::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    if (!io || !target) return false;
    myExif.clear();
    myKeepExif = true;
    bool ok = processStream(io, eJModePreview);
    myKeepExif = false;
    if (!ok || !myExif.ptr) return false;
    // The EXIF reader fills this picture's properties, the thumbnail (13) among them.
    cBufWrapperIO view(myExif.ptr, myExif.count);
    cExifDecoder exif;
    removeProp(ppThumbnail);
    if (!exif.decode(this, &view, cExifDecoder::dkMain)) return false;
    cPictBase* thumb = getPropImage(ppThumbnail);
    if (!thumb || thumb->width() < 1) {
        // The factory did not decode it (or the picture wants no alternatives): the bytes are
        // a JPEG by definition of the EXIF thumbnail, so decode them here.
        const _typebuf<unsigned char>& bytes = exif.thumbnailData();
        if (!bytes.ptr) return false;
        cBufWrapperIO tv(bytes.ptr, bytes.count);
        cPictJPEG* own = new cPictJPEG;
        cPictProp* prop = getProp(ppThumbnail, true);
        if (!own->decode(&tv) || !prop || !prop->setImage(own)) {
            if (!prop || prop->image() != own) delete own;
            return false;
        }
        thumb = own;
    }
    long long tw = thumb->width(), th = thumb->height();
    long long mw = maxWidth && *maxWidth > 0 ? *maxWidth : tw;
    long long mh = maxHeight && *maxHeight > 0 ? *maxHeight : th;
    bool done;
    if (tw <= mw && th <= mh) {
        thumb->moveTo(*target);
        done = true;
    } else {
        done = imgToPreview(thumb, target, mw, mh, 0);
    }
    removeProp(ppThumbnail);
    if (!done) return false;
    if (maxWidth) *maxWidth = target->width();
    if (maxHeight) *maxHeight = target->height();
    return true;
}
