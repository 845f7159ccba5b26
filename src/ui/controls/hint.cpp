// cHintMaster: measuring the lines, placing the hint below or above its owner, and
// painting it; the maker that elements' displayHint goes through.
#include "ui/controls/hint.h"

#include <cstring>

#include "ciplatform/canvas.h"
#include "ui/elementhost.h"
#include "ui/hintholder.h"
#include "ui/theme.h"

namespace {

cChildElement* makeHint(cChildElement* owner) {
    cHintMaster* h = new cHintMaster;
    if (h->show(owner, owner ? owner->hint() : nullptr, nullptr, 0xFF000000u, 0xFF000000u,
                owner ? owner->hintPlacement() : 0))
        return h;
    delete h;
    return nullptr;
}

}  // namespace

tHintMaker cHintMaster::maker() { return makeHint; }

void cHintMaster::install() { setHintMaker(makeHint); }

cHintMaster::~cHintMaster() {
    cWindowHolder* w = myWindow;
    myWindow = nullptr;
    if (w) w->dispose(true);
}

const char* cHintMaster::line(const char* text, _guardchar<char>& out) {
    if (!text) {
        out.clear();
        return nullptr;
    }
    const char* nl = strchr(text, '\n');
    out.set(text, nl ? nl - text : (long long)strlen(text));
    if (!out.ptr) out.set("");
    return nl ? nl + 1 : nullptr;
}

void cHintMaster::set(cWindowHolder* window) {
    if (myWindow && myWindow != window) delete myWindow;
    myWindow = window;
}

bool cHintMaster::hide() {
    set(nullptr);
    return true;
}

bool cHintMaster::show(cChildElement* owner, const char* text, sPoint* pos, unsigned int background,
                       unsigned int foreground, int placement) {
    if (!owner || !text || !owner->stdFont()) return false;
    int W = 0, h = 0, n = 0;
    _guardchar<char> one;
    const char* rest = text;
    do {
        rest = line(rest, one);
        sSize s = {0, 0};
        if (one.ptr && *one.ptr) owner->sizeOf(one.ptr, s);
        if (s.cx > W) W = s.cx;
        if (s.cy > h) h = s.cy;
        n++;
    } while (rest && n < 1000);
    if (W == 0) return false;
    myLineHeight = (unsigned int)h;
    int block = n * h, x, y;
    if (pos) {
        x = pos->x;
        y = placement == 1 ? pos->y - 6 - block : pos->y;
    } else {
        sPoint at;
        if (!owner->absPos(at)) return false;
        x = at.x + 2;
        y = placement == 1 ? at.y - 6 - block : at.y + owner->height() + 2;
    }
    cCITheme* theme = cCITheme::theme();
    myBg = background == 0xFF000000u ? theme->getColor(11) : background;
    myFg = foreground == 0xFF000000u ? theme->getColor(13) : foreground;
    cChildElement::setText(text, -1, false);
    cWindowHolder* w = owner->popup(x, y, W + 8, block + 4, this, false);
    if (!w) return false;
    set(w);
    return true;
}

void cHintMaster::onPaint(cCanvas* canvas) {
    canvas->setTextMode(stdFont());
    sRect r = {0, 0, width(), height()};
    canvas->drawRect(&r, myBg, cCITheme::theme()->getColor(12));
    const char* t = text();
    if (!t) return;
    canvas->setTextColors(myFg, myBg);
    _guardchar<char> one;
    int y = 2;
    for (const char* rest = t; rest;) {
        rest = line(rest, one);
        if (one.ptr && *one.ptr) canvas->drawText(4, y, false, one.ptr);
        y += (int)myLineHeight;
    }
}
