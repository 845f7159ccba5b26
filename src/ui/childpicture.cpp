// cChildPicture: picture ownership and painting.
#include "ui/childpicture.h"

#include "ciplatform/canvas.h"
#include "ciplatform/picture.h"

cChildPicture::~cChildPicture() {
    if (myOwned) delete myImage;
}

void cChildPicture::set(cPicture* picture, bool owned, bool repaint) {
    if (picture == myImage) {
        myOwned = owned && picture;
        return;
    }
    if (myOwned) delete myImage;
    myImage = picture;
    myOwned = owned && picture;
    if (repaint) this->repaint();
}

void cChildPicture::refImage(cPicture* picture, bool repaint) { set(picture, false, repaint); }

void cChildPicture::storeImage(cPicture* picture, bool repaint) { set(picture, true, repaint); }

void cChildPicture::setStretch(bool on) {
    if (myStretch == on) return;
    myStretch = on;
    repaint();
}

void cChildPicture::setBgColor(unsigned int colour) {
    if (myBg == colour) return;
    myBg = colour;
    repaint();
}

void cChildPicture::onPaint(cCanvas* canvas) {
    int w = width(), h = height();
    if (!transparent() && myBg != 0xFFFFFFFFu) {
        sRect all = {0, 0, w, h};
        canvas->drawRect(&all, resolveColour(myBg, kThemeBackground), 0xFFFFFFFFu);
    }
    if (!myImage || !myImage->raw()) return;
    if (myStretch) {
        sPoint at = {0, 0};
        sSize size = {w, h};
        canvas->drawTransparent(&at, myImage, &size);
    } else {
        sPoint at = {(w - myImage->width()) / 2, (h - myImage->height()) / 2};
        canvas->drawTransparent(&at, myImage);
    }
}
