// cPictDICOM and cPictDICOMLegacy: probing, pages and previews over the image records
// the walk (dicomwalk.cpp) fills; the pixels themselves are in dicompixels.cpp.
#include "picts/dicom/pictdicom.h"

cPictDICOM::cPictDICOM() : cPictDICOM(false) {}

cPictDICOM::cPictDICOM(bool legacy) : myLegacy(legacy), myImages(512) {}

cPictDICOM::~cPictDICOM() {}

cPictDICOMLegacy::cPictDICOMLegacy() : cPictDICOM(true) {}

bool cPictDICOM::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictDICOM probe;
    return probe.isPicture(io, info);
}

bool cPictDICOMLegacy::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictDICOMLegacy probe;
    return probe.isPicture(io, info);
}

void cPictDICOM::reset() {
    close();
    myImages.destroy();
    myFrags.clear();
    myFragCount = 0;
    myPages.clear();
}

bool cPictDICOM::ensureParsed(cFileIOTarget* io) {
    if (!myImages.empty()) return true;
    if (!io) return false;
    reset();
    unsigned long long start = io->get_fp();
    bool ok = processDICOM(io) && myPages.set(myImages.count());
    if (ok) {
        long long i = 0;
        for (auto* e = myImages.first(); e; e = myImages.next(e)) myPages.ptr[i++] = e->valuePtr();
    } else {
        myImages.destroy();
    }
    io->set_fp(start);
    return ok;
}

cPictDICOM::sDicomInfo* cPictDICOM::pageRecord(int page) {
    return page >= 0 && page < myPages.count ? myPages.ptr[page] : nullptr;
}

bool cPictDICOM::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!ensureParsed(io)) return false;
    if (info) {
        info->width = myPages.ptr[0]->columns;
        info->height = myPages.ptr[0]->rows;
        info->hasPreview = false;
    }
    return true;
}

int cPictDICOM::getNumPages(cFileIOTarget* io) { return ensureParsed(io) ? (int)myPages.count : 0; }

bool cPictDICOM::getPageSize(cFileIOTarget* io, int page, long long& w, long long& h) {
    sDicomInfo* rec = ensureParsed(io) ? pageRecord(page) : nullptr;
    if (!rec) return false;
    w = rec->columns;
    h = rec->rows;
    return true;
}

bool cPictDICOM::decode(cFileIOTarget* io) { return decodePage(io, 0); }

bool cPictDICOM::decodePage(cFileIOTarget* io, int page) {
    if (!ensureParsed(io)) return false;
    return decodeImage(io, pageRecord(page));
}

bool cPictDICOM::decodePagePreview(cFileIOTarget* io, cPictBase* target, long long width, long long height,
                                   int page, bool allowFull, unsigned int background) {
    (void)allowFull;
    if (!io || !target || target == this || width < 1 || height < 1 || !ensureParsed(io)) return false;
    sDicomInfo* rec = pageRecord(page);
    if (!rec) return false;
    const long long cols = rec->columns, rows = rec->rows;
    if (cols > width || rows > height) {
        // Rendered straight into the target, scaled to fit.
        double s = (double)width / cols, sy = (double)height / rows;
        if (sy < s) s = sy;
        long long tw = (long long)(cols * s + 0.5), th = (long long)(rows * s + 0.5);
        if (tw < 1) tw = 1;
        if (th < 1) th = 1;
        if (!target->allocPixels(tw, th, false)) return false;
        for (long long i = 0; i < tw * th; i++) target->raw8Bpp()[i] = 0;
        sExtPictDef def(target);
        def.background = background;
        if (!setExtTarget(&def)) return false;
        bool ok = decodeImage(io, rec);
        setExtTarget(nullptr);
        return ok;
    }
    if (!decodeImage(io, rec)) return false;
    if (my16Bpp) {
        _typebuf<unsigned int> px;
        if (!moveToColorData(px)) return false;
        myPixels.swap(px);
        my16Bpp = false;
    }
    moveTo(*target);
    return true;
}
