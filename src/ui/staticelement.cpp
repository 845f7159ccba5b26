// cStaticElement: text and picture painting, colour setters, wanted size.
#include "ui/staticelement.h"

#include "ciplatform/fontobject.h"
#include "ciplatform/picture.h"

void cStaticElement::setText(const char* text, cCanvas::eTextAlign align, bool repaint) {
    {
        cSafeCriticalSectionAccess lock(&myTextLock);
        myAlign = align;
    }
    cChildElement::setText(text, -1, repaint);
}

void cStaticElement::setText(const char* text, long long length, bool repaint) {
    cChildElement::setText(text, length, repaint);
}

void cStaticElement::setFont(cFontObject* font) {
    if (myFont == font) return;
    myFont = font;
    repaint();
}

void cStaticElement::setTextColor(unsigned int colour) {
    if (myTextColour == colour) return;
    myTextColour = colour;
    repaint();
}

void cStaticElement::setBgColor(unsigned int colour) {
    if (myBgColour == colour) return;
    myBgColour = colour;
    repaint();
}

void cStaticElement::setFrameColor(unsigned int colour) {
    if (myFrameColour == colour) return;
    myFrameColour = colour;
    repaint();
}

void cStaticElement::setColorSchema(unsigned int text, unsigned int background, unsigned int frame) {
    if (myTextColour == text && myBgColour == background && myFrameColour == frame) return;
    myTextColour = text;
    myBgColour = background;
    myFrameColour = frame;
    repaint();
}

void cStaticElement::setTextMargin(int margin) {
    if (margin < 0) margin = 0;
    if (myMargin == margin) return;
    myMargin = margin;
    repaint();
}

void cStaticElement::setTextDispMode(int mode) {
    if (myMode == mode) return;
    myMode = mode;
    repaint();
}

void cStaticElement::setImage(cPicture* picture, bool repaint) {
    if (myImage == picture) return;
    myImage = picture;
    if (repaint) this->repaint();
}

void cStaticElement::onInitData() {
    cChildElement::onInitData();
    myTextColour = 0xFF000000u;
    myBgColour = 0xFF000000u;
    myFrameColour = 0xFFFFFFFFu;
    myMargin = 0;
    myMode = eTDMSingleLine;
}

bool cStaticElement::wantsSize(sSize& size) {
    size.cx = size.cy = 0;
    sSize t = {0, 0};
    {
        cSafeCriticalSectionAccess lock(&myTextLock);
        if (text() && *text()) sizeOf(text(), t, myFont);
    }
    int w = t.cx, h = t.cy;
    if (myImage && myImage->raw()) {
        w += myImage->width() + (t.cx ? kPictureGap : 0);
        if (myImage->height() > h) h = myImage->height();
    }
    size.cx = w + 2 * myMargin;
    size.cy = h + 2 * myMargin;
    return w > 0 || h > 0;
}

void cStaticElement::onPaint(cCanvas* canvas) {
    int w = width(), h = height();
    sRect all = {0, 0, w, h};
    unsigned int bg = transparent() ? 0xFFFFFFFFu : resolveColour(myBgColour, kThemeBackground);
    canvas->drawRect(&all, bg, resolveColour(myFrameColour, kThemeText));

    int x = myMargin;
    if (myImage && myImage->raw()) {
        sPoint at = {x, (h - myImage->height()) / 2};
        canvas->drawTransparent(&at, myImage);
        x += myImage->width() + kPictureGap;
    }
    cSafeCriticalSectionAccess lock(&myTextLock);
    const char* t = text();
    if (!t || !*t) return;
    cFontObject* f = myFont ? myFont : stdFont();
    canvas->setTextMode(f);
    canvas->setTextColors(resolveColour(myTextColour, kThemeText), 0xFFFFFFFFu);
    int tw = w - x - myMargin;
    if (tw <= 0) return;
    if (myMode == eTDMWrapped) {
        sSize used;
        canvas->drawTextWrapped(x, myMargin, tw, h - 2 * myMargin, myAlign, t, used, true);
    } else {
        int align = myAlign == cCanvas::taJustify ? cCanvas::taLeft : myAlign;
        canvas->drawTextLimited(x, myMargin, tw, h - 2 * myMargin, align, true, 0, 0, t);
    }
}
