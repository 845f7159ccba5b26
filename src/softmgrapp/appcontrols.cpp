// The application's fonts and flat buttons.
#include "softmgrapp/appcontrols.h"

#include <cstring>

#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"
#include "ciplatform/windowmaker.h"

const char* _glbalStdFont();

cFontObject* mkTitleFont() { return cFontObject::get(10, 24, _glbalStdFont(), false, false, false); }
cFontObject* mkWizTitleFont() { return cFontObject::get(8, 20, _glbalStdFont(), false, false, false); }
cFontObject* mkStdFont() { return cFontObject::get(5, 13, _glbalStdFont(), false, false, false); }
cFontObject* mkBtnFont(bool underline) { return cFontObject::get(6, 14, _glbalStdFont(), true, underline, false); }
cFontObject* mkBtnPassFont() { return cFontObject::get(5, 14, _glbalStdFont(), false, false, false); }
cFontObject* mkSelectHdrFont() { return cFontObject::get(6, 17, _glbalStdFont(), false, false, false); }

sSize textExtent(const char* text, cFontObject* font) {
    sSize s = {0, 0};
    if (!font) font = mkStdFont();
    if (!text || !font) return s;
    cCanvas c(1, 1);
    c.setTextMode(font);
    c.textSize(text, -1, s);
    return s;
}

int wrappedHeight(const char* text, cFontObject* font, int width, double lineFactor) {
    if (!text || !*text || width <= 0) return 0;
    // A box of no height draws nothing and measures every line.
    cCanvas c(1, 1);
    c.setTextMode(font ? font : mkStdFont());
    sSize used = {0, 0};
    if (!c.drawTextWrapped(0, 0, width, 0, cCanvas::taLeft, text, used, true, lineFactor)) return 0;
    return used.cy;
}

int wrappedFitHeight(const char* text, cFontObject* font, int width, double lineFactor) {
    int all = wrappedHeight(text, font, width, lineFactor);
    if (all <= 0) return 0;
    return all - wrappedHeight("X", font, width, lineFactor) + textExtent("X", font).cy;
}

namespace {

// The pattern with head bytes of the path, "..." when cut, and its tail bytes.
void fillPath(const char* pattern, const char* path, long long head, long long tail, _guardchar<char>& out) {
    const char* at = pattern ? strstr(pattern, "%s") : nullptr;
    if (!at) {
        out.set(pattern ? pattern : "");
        return;
    }
    long long before = at - pattern, after = (long long)strlen(at + 2), all = (long long)strlen(path);
    bool cut = head + tail < all;
    long long n = before + head + (cut ? 3 : 0) + tail + after;
    if (!out.set(n)) return;
    char* p = out.ptr;
    memcpy(p, pattern, (size_t)before), p += before;
    memcpy(p, path, (size_t)head), p += head;
    if (cut) memcpy(p, "...", 3), p += 3;
    memcpy(p, path + all - tail, (size_t)tail), p += tail;
    memcpy(p, at + 2, (size_t)after);
}

}  // namespace

void fitPathLine(const char* pattern, const char* path, cFontObject* font, int room, _guardchar<char>& out) {
    if (!path) path = "";
    long long all = (long long)strlen(path);
    fillPath(pattern, path, all, 0, out);
    if (!out.ptr || textExtent(out.ptr, font).cx <= room) return;
    // The boundaries of the path's characters; a third of what is kept comes from its start.
    _typebuf<long long> starts;
    if (!starts.set(all + 1)) return;
    long long count = 0;
    for (long long i = 0; i < all; i++)
        if (((unsigned char)path[i] & 0xC0) != 0x80) starts.ptr[count++] = i;
    starts.ptr[count] = all;
    auto fill = [&](long long keep) {
        long long h = keep / 3, t = keep - h;
        fillPath(pattern, path, starts.ptr[h], all - starts.ptr[count - t], out);
    };
    long long lo = 0, hi = count - 1;  // the most characters kept that still fit
    while (lo < hi) {
        long long mid = (lo + hi + 1) / 2;
        fill(mid);
        if (out.ptr && textExtent(out.ptr, font).cx <= room)
            lo = mid;
        else
            hi = mid - 1;
    }
    fill(lo);
}

void cAppButtonBase::setActivated(bool on) {
    if (on == myActivated) return;
    myActivated = on;
    repaint();
}

void cAppButtonBase::onMouseButton(int x, int y, int button, bool down) {
    if (button != kMouseLeft || !enabledInTree() || myActivated) return;
    if (down) {
        myPressed = true;
        capturePointer();
        repaint();
        return;
    }
    bool was = myPressed;
    myPressed = false;
    releasePointer();
    repaint();
    if (was && inme(x, y)) notifyAction(new cChildAction(eActClick));
}

void cAppButtonBase::onMouseOver() {
    cChildElement::onMouseOver();
    myHover = true;
    repaint();
}

void cAppButtonBase::onMouseLeft() {
    cChildElement::onMouseLeft();
    myHover = false;
    repaint();
}

bool cAppButtonBase::onKey(int key, bool shift, bool ctrl, bool alt) {
    if ((key == kKeyEnter || key == kKeySpace) && !shift && !ctrl && !alt && enabledInTree() && !myActivated) {
        notifyAction(new cChildAction(eActClick));
        return true;
    }
    return false;
}

unsigned int cWZIButton::mix(unsigned int a, int p, unsigned int b, int q) {
    unsigned int out = 0;
    for (int s = 0; s < 24; s += 8) {
        unsigned int ca = (a >> s) & 0xFF, cb = (b >> s) & 0xFF;
        unsigned int c = ca * (unsigned)p / 255 + cb * (unsigned)q / 255;
        out |= (c > 255 ? 255 : c) << s;
    }
    return out;
}

void cWZIButton::setColorSchema(unsigned int text, unsigned int background, unsigned int border,
                                unsigned int highlight) {
    textColour = text, backColour = background, borderColour = border, highColour = highlight;
}

void cWZIButton::onInitData() {
    cAppButtonBase::onInitData();
    setColorSchema(0x655654, 0xE7E7E7, 0xA79997, 0xFFFFFF);
}

void cWZIButton::onPaint(cCanvas* canvas) {
    const char* t = text();
    bool hasText = t && *t;
    sRect box = {0, 0, 0, 0};
    cFontObject* font = mkBtnFont(false);
    if (hasText) {
        canvas->setTextMode(font);
        sSize ts;
        canvas->textSize(t, -1, ts);
        int dx = width() - ts.cx, dy = height() - ts.cy;
        box.x = dx < -1 ? 0 : dx / 2;
        box.y = dy < -1 ? 0 : dy / 2;
        box.w = ts.cx >= width() ? width() : ts.cx;
        box.h = ts.cy >= height() ? height() : ts.cy;
        canvas->clip(&box);
        canvas->select();
    }
    unsigned int fill = backColour, textCol = textColour;
    if (!enabledInTree()) {
        fill = mix(highColour, 96, backColour, 159);
        textCol = mix(backColour, 128, textColour, 127);
    } else if (pressed()) {
        fill = mix(highColour, 192, backColour, 63);
    } else if (hovered()) {
        fill = mix(highColour, 96, backColour, 159);
    }
    sRect all = {0, 0, width(), height()};
    canvas->drawRect(&all, fill, borderColour);
    // Inside the framework's ring a line in the text's colour: the ring alone vanishes on
    // a button filled with a colour close to its own (the manager's blue Refresh).
    if (focused() && width() > 8 && height() > 8) {
        sRect inner = {3, 3, width() - 6, height() - 6};
        canvas->drawRect(&inner, 0xFFFFFFFFu, mix(textCol, 160, fill, 95));
    }
    if (hasText) {
        canvas->unclip(&box);
        canvas->select();
        canvas->setTextMode(font);
        canvas->setTextColors(textCol, fill);
        canvas->drawText(box.x, box.y, false, t);
    }
}

int cWZISelButton::requiredWidth(cChildElement* measurer, const char* text, cFontObject* font) {
    if (!measurer || !text || !font) return 0;
    sSize s;
    measurer->sizeOf(text, s, font);
    return s.cx + 38;
}

int cWZISelButton::requiredWidth() { return requiredWidth(this, text(), font); }

void cWZISelButton::onInitData() {
    cAppButtonBase::onInitData();
    font = cFontObject::get(6, 17, _glbalStdFont(), false, false, false);
    if (!font) font = cFontObject::get(5, 13, _glbalStdFont(), false, false, false);
}

void cWZISelButton::onMouseMoving(int x, int y) {
    cAppButtonBase::onMouseMoving(x, y);
    setPointer(activated() ? eMPArrow : eMPHand);
}

void cWZISelButton::onPaint(cCanvas* canvas) {
    int w = width(), h = height();
    if (w < 38 || h < 24) return;
    unsigned int bar = activated() ? 0x5C5CDA : (hovered() || pressed()) ? 0xA29389 : 0x9A8A7E;
    const char* t = text();
    bool hasText = t && *t;
    bool fits = true;
    sRect box = {0, 0, 0, 0};
    if (hasText) {
        canvas->setTextMode(font);
        sSize ts;
        canvas->textSize(t, -1, ts);
        if (ts.cx > w - 38) {
            fits = false;
            box.x = 19;
            box.w = w - 38;
        } else {
            box.x = (w - ts.cx) / 2;
            box.w = ts.cx;
        }
        box.y = (h - 4 - ts.cy) / 2 + 4;
        box.h = ts.cy;
        canvas->clip(&box);
    }
    sRect body = {0, 4, w, h - 4};
    canvas->drawRect(&body, 0xFFFFFF, (unsigned)-1);
    sRect line = {0, 3, w, 1};
    canvas->drawRect(&line, 0xEBEBEB, (unsigned)-1);
    if (activated()) {
        sRect a = {0, 0, 19, 3}, b = {19, 0, box.w, 3}, c = {19 + box.w, 0, 19, 3};
        canvas->drawRect(&a, 0xFFFFFF, (unsigned)-1);
        canvas->drawRect(&b, bar, (unsigned)-1);
        canvas->drawRect(&c, 0xFFFFFF, (unsigned)-1);
    } else {
        sRect top = {0, 0, w, 3};
        canvas->drawRect(&top, 0xFFFFFF, (unsigned)-1);
    }
    if (hasText) {
        canvas->unclip(&box);
        canvas->setTextColors(bar, 0xFFFFFF);
        canvas->setTextMode(font);
        if (fits)
            canvas->drawText(box.x, box.y, false, t);
        else
            canvas->drawTextLimited(&box, 0, false, 0, 0, t);
    }
}
