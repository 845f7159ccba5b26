// cListViewChild painting: the visible rows cell by cell (check box, picture and text
// parts, each on its own small canvas so that nothing spills into the next column), the
// selection highlight by focus, the empty-list message and the element's frame.
#include <functional>

#include "ciplatform/canvas.h"
#include "ciplatform/picture.h"
#include "ui/controls/listview.h"
#include "ui/theme.h"

typedef cSafeCriticalSectionAccess tGuard;

namespace {
void fillRect(cCanvas* canvas, int x, int y, int w, int h, unsigned int colour) {
    if (w <= 0 || h <= 0) return;
    sRect r = {x, y, w, h};
    canvas->drawRect(&r, colour, colour);
}

// One part of a cell: filled, then framed below, above (unless the row above is
// highlighted and so already drew the shared line), left (first part) and right (text).
struct sPart {
    cCanvas* c;
    int w, h;
    void frame(unsigned int colour, bool top, bool left, bool right) {
        fillRect(c, 0, h - 1, w, 1, colour);
        if (top) fillRect(c, 0, 0, w, 1, colour);
        if (left) fillRect(c, 0, 0, 1, h, colour);
        if (right) fillRect(c, w - 1, 0, 1, h, colour);
    }
};
}  // namespace

struct cListViewChild::sCellLook {
    unsigned int bg, text, frame;
};

void cListViewChild::paintCell(cCanvas* canvas, int column, sListViewDataItem* cell, int x, int y, int w, int h,
                               bool& highlighted, bool prevHighlighted, bool firstColumn) {
    bool focus = focused();
    bool own = (cell->flags & cfSelected) != 0;
    if (own) highlighted = true;
    sCellLook look = {myBg, myTextColour, myBg};
    if (myFullLineSelect && highlighted) {
        unsigned int fl = focus ? myFullLineActive : myFullLineInactive;
        look = {fl, focus ? myActiveText : myInactiveText, fl};
    } else if (own) {
        look = focus ? sCellLook{myActiveBg, myActiveText, myActiveFrame}
                     : sCellLook{myInactiveBg, myInactiveText, myInactiveFrame};
    }
    if (cell->indent > 0) {
        int in = cell->indent < w ? cell->indent : w;
        fillRect(canvas, x, y, in, h, myFullLineSelect ? look.bg : myBg);
        x += in;
        w -= in;
    }
    bool firstPart = true;
    auto part = [&](int pw, const std::function<void(sPart&)>& draw, bool isText) {
        if (pw <= 0) return;
        cCanvas* off = canvas->offscreen(pw, h);
        if (!off) return;
        sPart p = {off, pw, h};
        fillRect(off, 0, 0, pw, h, look.bg);
        draw(p);
        p.frame(look.frame, !prevHighlighted, firstPart, isText);
        canvas->draw(x, y, off);
        delete off;
        firstPart = false;
        x += pw;
        w -= pw;
    };
    if (firstColumn && myCheckMode) {
        if (!myChkChecked) myChkChecked = cCITheme::theme()->getPict(31);
        if (!myChkUnchecked) myChkUnchecked = cCITheme::theme()->getPict(30);
        cPicture* pic = (cell->flags & cfChecked) ? myChkChecked : myChkUnchecked;
        int pw = myChbSpacing + 14;
        if (pic && w > 0)
            part(pw < w ? pw : w,
                 [&](sPart& p) { p.c->drawBitmap((pw - pic->width()) / 2, (h - pic->height()) / 2, pic); }, false);
    }
    if (cell->image >= 0) {
        cPicture* pic = myImages ? myImages->image(cell->image) : nullptr;
        cPicture* alt = nullptr;
        if (own && mySelectedImages) alt = mySelectedImages->image(cell->image);
        if (!own && (cell->flags & cfAltImage) && myAltImages) alt = myAltImages->image(cell->image);
        if (alt) pic = alt;
        if (pic && w > 0) {
            int pw = pic->width() + 4 < w ? pic->width() + 4 : w;
            part(pw, [&](sPart& p) {
                sPoint at = {2, (h - pic->height()) / 2};
                p.c->drawTransparent(&at, pic);
            }, false);
        }
    }
    if (w > 0) {
        sListViewColumnData* col = myColumns.find(column);
        part(w, [&](sPart& p) {
            if (!cell->text.ptr) return;
            if (col && col->font) p.c->setTextMode(col->font);
            unsigned int tc = cell->textColor;
            if (tc == 0xFFFFFFFFu && col) tc = col->textColor;
            if (tc == 0xFFFFFFFFu) tc = look.text;
            p.c->setTextColors(tc, look.bg);
            p.c->drawTextLimited(myTextPadding, 0, p.w - myTextPadding, h, col ? col->align : 0, true, 2, 0,
                                 cell->text.ptr);
        }, true);
    }
}

void cListViewChild::paintRow(cCanvas* canvas, tRow* row, int y, int h, bool& prevHighlighted) {
    int W1 = width() - 1;
    int x = -shiftX() + 1;
    bool highlighted = false;
    bool focus = focused();
    auto fillColour = [&]() {
        if (highlighted && myFullLineSelect) return focus ? myFullLineActive : myFullLineInactive;
        return myBg;
    };
    int gap = myHeader.splitReservedWidth();
    bool firstColumn = true;
    for (auto* col = myColumns.first(); col; col = myColumns.next(col)) {
        int w = myHeader.columnWidth(col->key());
        if (w > 0 && x + w > 0) {
            sListViewDataItem* cell = row ? row->find(col->key()) : nullptr;
            if (cell)
                paintCell(canvas, col->key(), cell, x, y, w, h, highlighted, prevHighlighted, firstColumn);
            else
                fillRect(canvas, x, y, w, h, fillColour());
        }
        fillRect(canvas, x + w, y, gap, h, fillColour());
        x += w + gap;
        firstColumn = false;
    }
    if (x < W1) fillRect(canvas, x, y, W1 - x, h, fillColour());
    prevHighlighted = highlighted;
}

void cListViewChild::onPaintArea(cCanvas* canvas) {
    int W = width(), H = height(), W1 = W - 1, H1 = H - 1, B = borderWidth();
    sRect all = {0, 0, W, H};
    sRect area;
    clientRect(&area);
    area = {area.x + B, area.y + B, area.w - 2 * B, area.h - 2 * B};
    canvas->clip(&all);
    canvas->unclip(&area);
    canvas->select();
    int y = 0, currentY = 0, currentH = 0;
    {
        tGuard g(&myLock);
        int offY = -shiftY();
        int top = 1 - offY;
        auto* e = myRowsByY.find_le(top);
        if (!e) e = myRowsByY.first();
        if (e && e->key() + e->value().height > top) {
            y = e->key() + 1 + offY;
            bool prev = false;
            for (; e && y < H1; e = myRowsByY.next(e)) {
                int h = e->value().height;
                tRow* row = rowOf(e->value().row);
                paintRow(canvas, row, y, h, prev);
                if (row && row == myCurrent) currentY = y, currentH = h;
                y += h;
            }
        }
        if (y < H1) fillRect(canvas, 0, y, W1, H1 - y, myBg);
        // The keys' place: a frame round the current row, or round the rows' area when
        // there is none (the highlight alone does not show a list without a selection).
        if (focused()) {
            sRect ring = currentH > 0 ? sRect{area.x, currentY, area.w, currentH} : area;
            canvas->drawRect(&ring, 0xFFFFFFFFu, cCITheme::theme()->getColor(23));
        }
    }
    canvas->unclip(&all);
    canvas->select();
    const char* msg = text();
    if (y == 0 && msg && *msg) {
        int top = 10 + (myHeader.visible_child() ? myHeader.height() : 0);
        canvas->setTextMode(stdFont());
        canvas->setTextColors(cCITheme::theme()->getColor(5), myBg);
        canvas->drawTextLimited(5, top, W - 11, 20, 1, false, 0, 0, msg);
    }
    fillRect(canvas, 0, 0, W, 1, myBorder);
    fillRect(canvas, W1, 0, 1, H, myBorder);
    fillRect(canvas, 0, H1, W, 1, myBorder);
    fillRect(canvas, 0, 0, 1, H, myBorder);
}
