// The buttons: state, required size, the seven border styles, caption and picture
// placement, and the click logic (a press captures, a release over the button clicks).
#include "ui/controls/button.h"

#include "ciplatform/fontobject.h"
#include "ciplatform/picture.h"
#include "ciplatform/windowmaker.h"
#include "ui/theme.h"

namespace {

unsigned int themeColour(int n) { return cCITheme::theme()->getColor(n); }

void line(cCanvas* c, unsigned int colour, int x0, int y0, int x1, int y1) {
    sPoint a = {x0, y0}, b = {x1, y1};
    c->setLineMode(colour, 1);
    c->drawLine(&a, &b);
}

// The four outer lines: light on top and left, dark on bottom and right.
void outerLines(cCanvas* c, int w, int h, unsigned int light, unsigned int dark) {
    line(c, light, 0, 0, w, 0);
    line(c, light, 0, 0, 0, h);
    line(c, dark, w - 1, h - 1, 0, h - 1);
    line(c, dark, w - 1, h - 1, w - 1, 0);
}

void stretch(cCanvas* c, cPicture* p, int x, int y, int w, int h) {
    if (p && p->raw() && w > 0 && h > 0) c->drawBitmap(x, y, p, w, h);
}

void fill(cCanvas* c, int x, int y, int w, int h, unsigned int colour) {
    sRect r = {x, y, w, h};
    c->drawRect(&r, colour, colour);
}

// A disabled fill derived from the background: each byte halfway to 128.
unsigned int derivedDisabled(unsigned int bg) {
    unsigned int out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        int c = (int)((bg >> shift) & 0xFF);
        out |= (unsigned int)(128 + (c - 128) / 2) << shift;
    }
    return out;
}

}  // namespace

cButtonChild::cButtonChild() {}

cButtonChild::~cButtonChild() { myStateBack.destroy(); }

void cButtonChild::onInitData() {
    cChildElement::onInitData();
    myHover = myPressed = false;
    myFont = stdFont();
    myAlign = cCanvas::taLeft;
    myBorder = brd3D;
    myDispStyle = dsPictLeft;
    myBg = themeColour(14);
    myDsbBg = 0xFFFFFFFFu;
    static const int light[5] = {53, 55, 57, 57, 59}, dark[5] = {54, 56, 58, 58, 60};
    for (int s = 0; s < 5; s++) {
        myTextColours[s] = themeColour(s == 4 ? 5 : 4);
        myLight[s] = themeColour(light[s]);
        myDark[s] = themeColour(dark[s]);
    }
    forgetSizes();
}

// ---- settings ----

void cButtonChild::setText(const char* text) {
    myCaption.set(text);
    forgetSizes();
    repaint();
}

void cButtonChild::setText(const char* text, long long length, bool repaint) {
    if (text)
        myCaption.set(text, length < 0 ? (long long)strlen(text) : length);
    else
        myCaption.clear();
    forgetSizes();
    if (repaint) this->repaint();
}

void cButtonChild::setAlign(cCanvas::eTextAlign align, bool repaint) {
    if (myAlign == align) return;
    myAlign = align;
    if (repaint) this->repaint();
}

void cButtonChild::setBorder(eBorderStyle style, bool repaint) {
    if (myBorder == style) return;
    myBorder = style;
    if (repaint) this->repaint();
}

void cButtonChild::setStyle(eDispStyle style, bool repaint) {
    if (myDispStyle == style) return;
    myDispStyle = style;
    forgetSizes();
    if (repaint) this->repaint();
}

void cButtonChild::setFont(cFontObject* font) {
    if (myFont == font) return;
    myFont = font;
    forgetSizes();
    repaint();
}

void cButtonChild::setTextColor(unsigned int colour, bool repaint) {
    if (myTextColours[0] == colour) return;
    for (int s = 0; s < 4; s++) myTextColours[s] = colour;
    if (repaint) this->repaint();
}

void cButtonChild::setTextColor(eButtonStates state, unsigned int colour, bool repaint) {
    if (state < 0 || state > 4 || myTextColours[state] == colour) return;
    myTextColours[state] = colour;
    if (repaint) this->repaint();
}

void cButtonChild::setDsbTextColor(unsigned int colour, bool repaint) { setTextColor(stDisabled, colour, repaint); }

void cButtonChild::setBgColor(unsigned int colour, bool repaint) {
    if (myBg == colour) return;
    myBg = colour;
    if (repaint) this->repaint();
}

void cButtonChild::setDsbBgColor(unsigned int colour, bool repaint) {
    if (myDsbBg == colour) return;
    myDsbBg = colour;
    if (repaint) this->repaint();
}

void cButtonChild::setBorderColors(eButtonStates state, unsigned int light, unsigned int dark) {
    if (state < 0 || state >= 5) return;
    if (light != 0xFFFFFFFFu) myLight[state] = light;
    if (dark != 0xFFFFFFFFu) myDark[state] = dark;
}

// ---- pictures and state ----

cChildPicture* cButtonChild::image(eButtonStates state) {
    switch (state) {
        case stDisabled: return &myDisabled;
        case stPressed: return &myPressedPict;
        case stFocused:
        case stHover: return &myActive;
        default: return &myMain;
    }
}

void cButtonChild::refStateBackImage(eButtonStates state, cPicture* picture) {
    cPicture** slot = myStateBack.insert((int)state);
    if (slot) *slot = picture;
}

cPicture* cButtonChild::stateBackImage(eButtonStates state) {
    cPicture** stored = myStateBack.find((int)state);
    if (stored && *stored) return *stored;
    if (state >= stNormal && state <= stDisabled) return cCITheme::theme()->getPict(23 + (int)state);
    return nullptr;
}

cPicture* cButtonChild::forDraw(eButtonStates state) {
    switch (state) {
        case stDisabled: return myDisabled.image() ? myDisabled.image() : myMain.image();
        case stPressed:
            if (myPressedPict.image()) return myPressedPict.image();
            return myActive.image() ? myActive.image() : myMain.image();
        case stFocused:
        case stHover: return myActive.image() ? myActive.image() : myMain.image();
        default: return myMain.image();
    }
}

cButtonChild::eButtonStates cButtonChild::state() {
    if (!enabled()) return stDisabled;
    if (myPressed) return stPressed;
    if (myHover) return stHover;
    if (focused()) return stFocused;
    return stNormal;
}

// ---- size ----

int cButtonChild::requiredWidth() {
    if (myReqW < 0) myReqW = requiredWidth(this, myCaption.ptr, myMain.image(), myDispStyle, myFont);
    return myReqW;
}

int cButtonChild::requiredHeight() {
    if (myReqH < 0) myReqH = requiredHeight(this, myCaption.ptr, myMain.image(), myDispStyle, myFont);
    return myReqH;
}

namespace {

sSize measure(cChildElement* measurer, const char* text, cFontObject* font) {
    sSize s = {0, 0};
    if (!measurer || !text || !*text) return s;
    if (!font) font = measurer->createFont(5, 13, _glbalStdFont());
    measurer->sizeOf(text, s, font);
    return s;
}

}  // namespace

int cButtonChild::requiredWidth(cChildElement* measurer, const char* text, cPicture* picture, eDispStyle style,
                                cFontObject* font) {
    sSize t = measure(measurer, text, font);
    int p = picture ? picture->width() : 0;
    int start = 5;
    if (picture && style == dsPictLeft) start = p + (text && *text ? 11 : 6);
    int w = start + t.cx + 5;
    if (style == dsPictTop && picture && w < p + 6) w = p + 6;
    return w;
}

int cButtonChild::requiredHeight(cChildElement* measurer, const char* text, cPicture* picture, eDispStyle style,
                                 cFontObject* font) {
    sSize t = measure(measurer, text, font);
    int p = picture ? picture->height() : 0;
    if (style == dsPictTop) return t.cy + p + (picture && text && *text ? 2 : 0) + 6;
    if (style == dsPictLeft) return (t.cy > p ? t.cy : p) + 6;
    return 0;
}

// ---- painting ----

void cButtonChild::onPaint(cCanvas* canvas) {
    int w = width(), h = height();
    eButtonStates st = state();
    unsigned int L = myLight[st], D = myDark[st];
    bool pressedLook = st == stPressed;
    if (st == stFocused || st == stHover || st == stPressed || !transparent()) {
        cPicture* back = stateBackImage(st);
        switch (myBorder) {
            case brd3D:
                outerLines(canvas, w, h, L, D);
                line(canvas, themeColour(52), 1, 1, w - 1, 1);
                line(canvas, themeColour(52), 1, 1, 1, h - 1);
                line(canvas, themeColour(52), w - 2, h - 2, 1, h - 2);
                line(canvas, themeColour(52), w - 2, h - 2, w - 2, 1);
                stretch(canvas, back, 2, 2, w - 4, h - 4);
                break;
            case brdPicture: stretch(canvas, back, 0, 0, w, h); break;
            case brdFrame:
                outerLines(canvas, w, h, D, D);
                stretch(canvas, back, 1, 1, w - 2, h - 2);
                break;
            case brdRaised:
                outerLines(canvas, w, h, L, D);
                stretch(canvas, back, 1, 1, w - 2, h - 2);
                break;
            case brdRaisedFill:
                outerLines(canvas, w, h, L, D);
                if (st == stNormal)
                    fill(canvas, 1, 1, w - 2, h - 2, myBg);
                else if (st == stDisabled)
                    fill(canvas, 1, 1, w - 2, h - 2, myDsbBg == 0xFFFFFFFFu ? derivedDisabled(myBg) : myDsbBg);
                else
                    stretch(canvas, back, 1, 1, w - 2, h - 2);
                break;
            case brdHot:
                if (st == stNormal || st == stDisabled) {
                    fill(canvas, 0, 0, w, h, myBg);
                } else {
                    outerLines(canvas, w, h, L, D);
                    stretch(canvas, back, 1, 1, w - 2, h - 2);
                }
                break;
            case brdFill: {
                fill(canvas, 0, 0, w, h, myBg);
                cPicture* p = forDraw(st);
                if (p && p->raw()) {
                    sPoint at = {(w - p->width()) / 2, (h - p->height()) / 2 + (pressedLook ? 1 : 0)};
                    canvas->drawTransparent(&at, p);
                }
                break;
            }
        }
    }
    cFontObject* font = myFont ? myFont : stdFont();
    if (font) font->apply(canvas);
    canvas->setTextColors(enabled() ? myTextColours[st] : myTextColours[stDisabled], 0xFFFFFFFFu);
    cPicture* pict = forDraw(st);
    if (pict && !pict->raw()) pict = nullptr;
    int pw = pict ? pict->width() : 0, ph = pict ? pict->height() : 0;
    int textStart = w;
    if (myCaption.ptr) {
        sSize ts = {0, 0};
        canvas->textSize(myCaption.ptr, -1, ts);
        int indent = 3, top = 3;
        if (myDispStyle == dsPictTop) {
            top = pict ? ph + 5 : 3;
        } else if (myDispStyle == dsPictLeft) {
            indent = pict ? pw + 8 : 3;
            top = (h - ts.cy) / 2;
        }
        textStart = canvas->drawTextLimited(2, top + (pressedLook ? 1 : 0), w - 4, ts.cy, myAlign, true, indent, 3,
                                            myCaption.ptr);
    }
    if (!pict || myBorder == brdFill) return;
    int x = 0, y = 0;
    if (myDispStyle == dsPictTop) {
        x = myAlign == cCanvas::taCenter ? (w - pw) / 2 : myAlign == cCanvas::taRight ? w - 3 - pw : 3;
        y = myCaption.ptr ? 3 : (h - ph) / 2;
    } else if (myDispStyle == dsPictLeft) {
        x = (textStart - pw) / 2;
        y = (h - ph) / 2;
    }
    sRect all = {0, 0, w, h}, band = {x, 2, pw, h - 4};
    canvas->clip(&all);
    canvas->unclip(&band);
    canvas->select();
    sPoint at = {x, y + (pressedLook ? 1 : 0)};
    canvas->drawTransparent(&at, pict);
    canvas->unclip(&all);
    canvas->select();
}

// ---- input (both buttons) ----

void cPushElement::onMouseButton(int x, int y, int button, bool down) {
    if (!takesInput() || button != kMouseLeft) return;
    if (down) {
        myPressed = true;
        repaint();
        capturePointer();
        return;
    }
    if (!myPressed) return;
    myPressed = false;
    repaint();
    releasePointer();
    if (inme(x, y)) notifyAction(new cChildAction(eActClick));
}

bool cPushElement::onKey(int key, bool shift, bool ctrl, bool alt) {
    if (!takesInput() || (key != kKeySpace && key != kKeyEnter)) return false;
    myPressed = true;
    repaint();
    notifyAction(new cChildAction(eActClick));
    myPressed = false;
    repaint();
    return true;
}

void cPushElement::onMouseOver() {
    cChildElement::onMouseOver();
    myHover = true;
    if (enabled()) repaint();
}

void cPushElement::onMouseLeft() {
    cChildElement::onMouseLeft();
    myHover = false;
    if (enabled()) repaint();
}

void cPushElement::onSetFocus() {
    if (enabled()) repaint();
}

void cPushElement::onLooseFocus() {
    if (enabled()) repaint();
}

void cPushElement::onEnableChanged() {
    // Disabled while held down: the release would never reach a disabled element, so the
    // capture and the pressed look go now, and the window keeps its pointer input.
    if (!enabled() && myPressed) {
        myPressed = false;
        releasePointer();
    }
    repaint();
}

// ---- cGenButtonChild ----

void cGenButtonChild::onInitData() {
    cChildElement::onInitData();
    myHover = myPressed = myActivated = false;
}

void cGenButtonChild::setActivated(bool on, bool repaint) {
    if (myActivated == on) return;
    myActivated = on;
    if (repaint) this->repaint();
}
