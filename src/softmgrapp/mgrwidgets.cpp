// Stand-ins at the manager's meeting points: icons decoded by the picture factory and
// scaled here, a framed title-and-text area, and a picture element.
#include "softmgrapp/mgrwidgets.h"

#include "base/fileio.h"
#include "ciplatform/canvas.h"
#include "softmgrapp/softmgrapp.h"

namespace {

// An icon file larger than this is not an icon.
const long long kMaxIconFile = 8LL << 20;

}  // namespace

bool scalePicture(const cPicture& from, int w, int h, cPicture& out) {
    int sw = from.width(), sh = from.height();
    const unsigned int* src = from.raw();
    if (!src || sw <= 0 || sh <= 0 || w <= 0 || h <= 0 || w > 4096 || h > 4096) return false;
    _typebuf<unsigned int> px;
    if (!px.set((long long)w * h)) return false;
    for (int y = 0; y < h; y++) {
        int y0 = (int)((long long)y * sh / h), y1 = (int)((long long)(y + 1) * sh / h);
        if (y1 <= y0) y1 = y0 + 1;
        for (int x = 0; x < w; x++) {
            int x0 = (int)((long long)x * sw / w), x1 = (int)((long long)(x + 1) * sw / w);
            if (x1 <= x0) x1 = x0 + 1;
            // Colour weighted by alpha, so transparent pixels do not darken the edges.
            unsigned long long a = 0, r = 0, g = 0, b = 0, n = 0;
            for (int yy = y0; yy < y1; yy++)
                for (int xx = x0; xx < x1; xx++) {
                    unsigned int p = src[(long long)yy * sw + xx];
                    unsigned int pa = p >> 24;
                    a += pa;
                    r += (p >> 16 & 0xFF) * pa;
                    g += (p >> 8 & 0xFF) * pa;
                    b += (p & 0xFF) * pa;
                    n++;
                }
            unsigned int out = 0;
            if (a) {
                out = (unsigned)((a + n / 2) / n) << 24 | (unsigned)((r + a / 2) / a) << 16 |
                      (unsigned)((g + a / 2) / a) << 8 | (unsigned)((b + a / 2) / a);
            }
            px.ptr[(long long)y * w + x] = out;
        }
    }
    return out.create(px.ptr, w, h, false);
}

bool loadPackageIcon(const char* path, int dim, cPicture& out) {
    cFileIO f;
    if (!path || !*path || !f.open(path, cFileIO::eRead)) return false;
    unsigned long long size = f.size();
    if (size == 0 || (long long)size > kMaxIconFile) return false;
    _typebuf<unsigned char> data;
    if (!data.set((long long)size) || !f.readf(data.ptr, (long long)size)) return false;
    cPicture decoded;
    if (!decoded.create(data.ptr, (unsigned int)size)) return false;
    return scalePicture(decoded, dim, dim, out);
}

bool builtinIcon(int dim, cPicture& out) {
    cPicture big;
    if (!big.create(iconColorData(), cSoftMgrApp::kIconDim, cSoftMgrApp::kIconDim, false)) return false;
    return scalePicture(big, dim, dim, out);
}

void cMgrDescriptionArea::setColours(unsigned int border, unsigned int background, unsigned int text) {
    setBorderColor(border);
    setBgColor(background);
    myText = text;
    if (myTitle) myTitle->setColorSchema(text, background, (unsigned)-1);
    if (myBody) myBody->setColorSchema(text, background, (unsigned)-1);
}

void cMgrDescriptionArea::setTitleSpacing(int spacing) {
    mySpacing = spacing < 0 ? 0 : spacing;
    place();
}

void cMgrDescriptionArea::onConstruct() {
    cPanelChild::onConstruct();
    myTitle = new cStaticElement;
    myBody = new cStaticElement;
    attach(myTitle, 0, 0, 10, 10);
    attach(myBody, 0, 0, 10, 10);
    myBody->setTextDispMode(cStaticElement::eTDMWrapped);
    myTitle->setColorSchema(myText, bgColor(), (unsigned)-1);
    myBody->setColorSchema(myText, bgColor(), (unsigned)-1);
    place();
}

void cMgrDescriptionArea::place() {
    if (!myTitle || !myBody) return;
    anchor(myTitle, 8, 6, -17, 20);
    anchor(myBody, 8, 26 + mySpacing, -17, -(33 + mySpacing));
}

void cMgrDescriptionArea::setTitle(const char* title) {
    if (myTitle) myTitle->setText(title ? title : "", cCanvas::taLeft);
}

void cMgrDescriptionArea::setBody(const char* text) {
    if (myBody) myBody->setText(text ? text : "", cCanvas::taLeft);
}

void cMgrPictureElement::setPicture(cPicture* picture) {
    if (picture == myPicture) return;
    myPicture = picture;
    repaint();
}

void cMgrPictureElement::onPaint(cCanvas* canvas) {
    if (!myPicture || myPicture->width() <= 0) return;
    sPoint at = {(width() - myPicture->width()) / 2, (height() - myPicture->height()) / 2};
    canvas->drawTransparent(&at, myPicture);
}
