// cCITheme: entries by number, pictures drawn on first use, the selected theme.
#include "ui/theme.h"

#include "base/sync.h"
#include "ciplatform/picture.h"

namespace {

cCriticalSection& themeLock() {
    static cCriticalSection cs;
    return cs;
}

cCITheme* gSelected = nullptr;

cPicture* makePicture(const sCIThemePicture& e) {
    if (e.width <= 0 || e.height <= 0 || !cPicture::sizeOk(e.width, e.height)) return nullptr;
    _typebuf<unsigned int> px;
    if (!px.set((long long)e.width * e.height)) return nullptr;
    if (e.draw) {
        px.zero();
        e.draw(px.ptr, e.width, e.height, e.arg);
    } else {
        for (long long i = 0; i < px.count; i++) px.ptr[i] = e.colour;
    }
    cPicture* p = new (std::nothrow) cPicture;
    if (!p || !p->create_on(px, e.width, e.height)) {
        delete p;
        return nullptr;
    }
    return p;
}

}  // namespace

cCITheme::cCITheme(const sCIThemeTable* table) : myTable(table) {
    for (cPicture*& p : myPictures) p = nullptr;
}

cCITheme::~cCITheme() {
    for (cPicture*& p : myPictures) {
        delete p;
        p = nullptr;
    }
}

unsigned int cCITheme::getColor(int n) {
    if (!myTable || n < 0 || n >= kColors) return 0;
    return myTable->colours[n] & 0x00FFFFFF;
}

int cCITheme::getDimension(int n, int which) {
    if (!myTable || n < 0 || n >= kDimensions) return 0;
    const sCIThemeDimension& d = myTable->dimensions[n];
    return which == 1 ? d.minimum : (which == 2 ? d.maximum : d.value);
}

cPicture* cCITheme::getPict(int n) {
    if (!myTable || n < 0 || n >= kPictures) return nullptr;
    cSafeCriticalSectionAccess lock(&themeLock());
    if (!myPictures[n]) myPictures[n] = makePicture(myTable->pictures[n]);
    return myPictures[n];
}

const unsigned int* cCITheme::getImage(int n, sSize& size) {
    size.cx = size.cy = 0;
    cPicture* p = getPict(n);
    if (!p || !p->raw()) return nullptr;
    size.cx = p->width();
    size.cy = p->height();
    return p->raw();
}

cCITheme* cCITheme::theme() {
    cSafeCriticalSectionAccess lock(&themeLock());
    return gSelected ? gSelected : &gCI_Flat_Theme;
}

void cCITheme::setTheme(cCITheme* theme) {
    cSafeCriticalSectionAccess lock(&themeLock());
    gSelected = theme;
}
