// Painting and measuring of the property description area.
#include "ui/controls/propdisparea.h"

#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"
#include "ui/theme.h"

void cPropDispAreaChild::onInitData() {
    cScrollableElement::onInitData();
    cCITheme* theme = cCITheme::theme();
    myFrame = theme->getColor(44);
    myBg = theme->getColor(45);
    myTextColour = theme->getColor(4);
    myTitleFont = myTextFont = nullptr;
    myExtraSpacing = 0;
}

void cPropDispAreaChild::setText(const char* title, const char* text) { setText(title, -1, text, -1); }

void cPropDispAreaChild::setText(const char* title, int titleLength, const char* text, int textLength) {
    if (title)
        myTitle.set(title, titleLength < 0 ? -1 : titleLength);
    else
        myTitle.clear();
    if (text)
        myText.set(text, textLength < 0 ? -1 : textLength);
    else
        myText.clear();
    repaint();
}

void cPropDispAreaChild::setColorSchema(unsigned int frame, unsigned int background, unsigned int text) {
    myFrame = frame;
    myBg = background;
    myTextColour = text;
    repaint();
}

void cPropDispAreaChild::setFonts(cFontObject* title, cFontObject* text) {
    myTitleFont = title;
    myTextFont = text;
}

void cPropDispAreaChild::setExtraTitleSpacing(int spacing) {
    if (spacing >= 0) myExtraSpacing = spacing;
}

void cPropDispAreaChild::onPaintArea(cCanvas* canvas) {
    const int B = 1, W = width(), H = height();
    sRect whole = {0, 0, W, H};
    sRect inside = {0, 0, W, H};
    clientRect(&inside);
    inside = {inside.x + B, inside.y + B, inside.w - 2 * B, inside.h - 2 * B};
    canvas->clip(&whole);
    canvas->unclip(&inside);
    canvas->select();
    const bool clear = transparent();
    sSize virt = {W, H};
    virtualSize(&virt);
    if (!clear) {
        sRect bg = {0, -shiftY(), virt.cx, virt.cy};
        canvas->drawRect(&bg, myBg, myBg);
    }
    canvas->setTextColors(myTextColour, myBg);
    int h = 10, T = 0;
    if (myTitle.ptr && *myTitle.ptr) {
        cFontObject* f = myTitleFont ? myTitleFont : stdFontBold();
        if (f) f->apply(canvas);
        sSize used = {0, 0};
        canvas->drawTextWrapped(5, 5 - shiftY(), W - 25, 32767, cCanvas::taLeft, myTitle.ptr, used, clear, 0);
        T = used.cy;
        h = T + 10 + myExtraSpacing;
    }
    if (myText.ptr && *myText.ptr) {
        cFontObject* f = myTextFont ? myTextFont : stdFont();
        if (f) f->apply(canvas);
        int Y = myTitle.ptr && *myTitle.ptr ? 5 + T + myExtraSpacing : 5;
        sSize used = {0, 0};
        canvas->drawTextWrapped(5, Y - shiftY(), W - 25, 2147483647, cCanvas::taJustify, myText.ptr, used, clear, 0);
        h += used.cy;
    }
    if (h != minVisualHeight()) notifyAction(new cPropDispResizeAction(h));
    canvas->unclip(&whole);
    canvas->select();
    if (!clear) {
        canvas->setLineMode(myFrame, 1);
        sPoint p[5] = {{0, 0}, {W - 1, 0}, {W - 1, H - 1}, {0, H - 1}, {0, 0}};
        for (int i = 0; i < 4; i++) canvas->drawLine(&p[i], &p[i + 1]);
    }
}

bool cPropDispAreaChild::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == this && action->type == 6)
        if (cPropDispResizeAction* r = dynamic_cast<cPropDispResizeAction*>(action)) setMinVisualHeight(r->height);
    return cScrollableElement::onAction(sender, action);
}

// --- sheet with description ---

void cPropSheetExChild::onInitData() {
    cVSplitterChild::onInitData();
    if (!(myShare > 0 && myShare < 100)) myShare = 75.0;
    attach(1, &mySheet, (int)(myShare * 5));
    attach(2, &myArea, (int)((100 - myShare) * 5));
    myArea.setQuantumSize(5, 13);
}

void cPropSheetExChild::clear() {
    myArea.setText(nullptr, nullptr);
    mySheet.clear();
}

bool cPropSheetExChild::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == &mySheet && action->type == 6) {
        if (cPropSheetChild::cPropSheetAction* a = dynamic_cast<cPropSheetChild::cPropSheetAction*>(action)) {
            myArea.setText(mySheet.propName(a->section, a->property), mySheet.propDescr(a->section, a->property));
            return true;
        }
    }
    if (sender == &myArea && action->type == 6) {
        if (cPropDispAreaChild::cPropDispResizeAction* r =
                dynamic_cast<cPropDispAreaChild::cPropDispResizeAction*>(action)) {
            myArea.setMinVisualHeight(r->height);
            return true;
        }
    }
    return cChildElement::onAction(sender, action);
}
