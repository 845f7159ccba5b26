// Layout, painting, hit-testing and selection of the simple grid.
// Cell i lies in line i / c and column i % c; half a gap precedes the first column and
// half a spacing the first line.
#include "ui/controls/simplegrid.h"

#include "ciplatform/canvas.h"
#include "ciplatform/windowmaker.h"
#include "ui/theme.h"

void cSimpleGridChild::onInitData() {
    cScrollableElement::onInitData();
    myPerLine = myLines = 0;
    mySelected = -1;
    mySpacing = cellSpacing();
    myGap = 0;
    myCount = 0;
    setQuantumSize(mySpacing, cellHeight() + mySpacing);
    setMinVisualWidth(cellWidth());
    notifyGridChanged(false);
    myBg = 0xFFFFFF;
}

void cSimpleGridChild::notifyGridChanged(bool repaint) {
    bool changed = false;
    int n = numCells();
    if (n != myCount) {
        myCount = n;
        mySelected = -1;
        changed = true;
    }
    if (n <= 0) {
        myPerLine = myLines = 0;
        if (changed && repaint) this->repaint();
        setMinVisualHeight(0);
        return;
    }
    int cw = cellWidth(), ch = cellHeight(), s = mySpacing;
    sSize v = {0, 0};
    virtualSize(&v);
    int W = v.cx;
    if (W < cw) {
        myPerLine = myLines = 0;
        mySelected = -1;
        return;
    }
    int q = W / (cw + s);
    int c = (2 * q + 1) * cw <= W ? q + 1 : q;
    if (c < 1) c = 1;
    if (c != myPerLine) changed = true;
    myPerLine = c;
    // The free width is shared by c gaps, not c - 1: half a gap lies before the first
    // column and half after the last, so the last column stays inside the view.
    int g = (W - c * cw) / c;
    int most = maxSpacing();
    if (g > most) g = most;
    if (g < 0) g = 0;
    if (g != myGap) changed = true;
    myGap = g;
    int lines = (n + c - 1) / c;
    if (lines != myLines) {
        myLines = lines;
        setMinVisualHeight(s * lines + ch * lines);
        changed = true;
    }
    if (changed && repaint) this->repaint();
}

void cSimpleGridChild::onSizeChanged() {
    cScrollableElement::onSizeChanged();
    notifyGridChanged(true);
}

bool cSimpleGridChild::cellRect(int index, sRect& rect) {
    if (index < 0 || index >= myCount || myPerLine <= 0) return false;
    int cw = cellWidth(), ch = cellHeight();
    rect.x = myGap / 2 + (cw + myGap) * (index % myPerLine);
    rect.y = mySpacing / 2 + (ch + mySpacing) * (index / myPerLine);
    rect.w = cw;
    rect.h = ch;
    return true;
}

int cSimpleGridChild::hitCell(int x, int y) {
    if (myPerLine <= 0 || myCount <= 0) return -1;
    int cw = cellWidth(), ch = cellHeight();
    x += shiftX();
    y += shiftY();
    if (x < 0 || y < 0) return -1;
    int column = x / (cw + myGap);
    if (column >= myPerLine || column >= myCount) return -1;
    int left = myGap / 2 + (cw + myGap) * column;
    if (x < left || x >= left + cw) return -1;
    int line = y / (ch + mySpacing);
    int top = mySpacing / 2 + (ch + mySpacing) * line;
    if (y < top || y >= top + ch) return -1;
    int index = line * myPerLine + column;
    return index < myCount ? index : -1;
}

bool cSimpleGridChild::scrollToCell(int index) {
    sRect r;
    if (!cellRect(index, r)) return false;
    adjustScrollTo(r, false, false);
    return true;
}

void cSimpleGridChild::selectCell(int index, bool notify) {
    if (index < 0 || index >= myCount || index == mySelected) return;
    mySelected = index;
    if (notify)
        notifyAction(new cCellAction(6, index));
    else
        scrollToCell(index);
    repaint();
}

void cSimpleGridChild::selectAndNotify(int index) {
    mySelected = index;
    notifyAction(new cCellAction(6, index));
    repaint();
}

void cSimpleGridChild::onPaintArea(cCanvas* canvas) {
    sRect client = {0, 0, width(), height()};
    clientRect(&client);
    if (myCount <= 0 || myPerLine <= 0) {
        canvas->drawRect(&client, myBg, myBg);
        return;
    }
    const int cw = cellWidth(), ch = cellHeight(), s = mySpacing, g = myGap, n = myCount, c = myPerLine;
    const int ox = -shiftX(), oy = -shiftY();
    int q = (-oy) / (s + ch);
    int firstLine = -oy < q * s + (q + 1) * ch ? q : q + 1;
    int y0 = s / 2 + oy + (s + ch) * firstLine;
    q = (-ox) / (g + cw);
    int firstColumn = -ox < q * g + (q + 1) * cw ? q : q + 1;
    int x0 = g / 2 + ox + (g + cw) * firstColumn;
    const int right = client.x + client.w, bottom = client.y + client.h;

    // Walks the visible cells; fn returns false to skip the rest of a line.
    auto each = [&](auto fn) {
        for (int line = firstLine, y = y0; y < bottom && line * c < n; line++, y += ch + s) {
            int x = x0;
            for (int col = firstColumn; col < c && x < right; col++, x += cw + g) {
                int index = line * c + col;
                if (index >= n) return;
                if (!fn(index, x, y)) break;
            }
        }
    };
    // The background goes around the cells, never under them.
    each([&](int, int x, int y) {
        sRect r = {x, y, cw, ch};
        canvas->clip(&r);
        return true;
    });
    canvas->select();
    canvas->drawRect(&client, myBg, myBg);
    canvas->unclip(&client);
    canvas->select();
    cCanvas* off = nullptr;
    each([&](int index, int x, int y) {
        if (!off) off = canvas->offscreen(cw, ch, -1, -1);
        if (!off) return false;
        paintElement(off, index, index == mySelected);
        canvas->draw(x, y, off);
        if (index == mySelected && focused()) {
            sRect ring = {x, y, cw, ch};
            canvas->drawRect(&ring, 0xFFFFFFFFu, cCITheme::theme()->getColor(23));
        }
        return true;
    });
    delete off;
}

void cSimpleGridChild::onMouseButton(int x, int y, int button, bool down) {
    if (button != kMouseLeft || !down) return;
    int hit = hitCell(x, y);
    if (hit != mySelected) selectAndNotify(hit);
}

void cSimpleGridChild::onMouseDoubleClick(int x, int y, int button) {
    int hit = hitCell(x, y);
    if (hit < 0) return;
    notifyAction(new cCellAction(7, hit));
    if (hit != mySelected) {
        mySelected = hit;
        repaint();
    }
}

bool cSimpleGridChild::onKey(int key, bool shift, bool ctrl, bool alt) {
    if (shift || ctrl || alt || myPerLine <= 0 || myCount <= 0) return false;
    const int c = myPerLine, n = myCount, sel = mySelected;
    switch (key) {
        case kKeyHome:
        case kKeyPageUp:
            if (sel > 0) selectAndNotify(0);
            return true;
        case kKeyLeft:
            if (sel < 0) return true;
            if (lrChangesLine() ? sel > 0 : sel % c != 0) selectAndNotify(sel - 1);
            return true;
        case kKeyUp:
            if (sel >= c) selectAndNotify(sel - c);
            return true;
        case kKeyRight:
            if (sel < 0) {
                selectAndNotify(0);
            } else if (lrChangesLine()) {
                // With one cell a line Right moves on like Left moves back.
                if (sel + 1 < n) selectAndNotify(sel + 1);
            } else if (sel % c != c - 1 && sel + 1 < n) {
                selectAndNotify(sel + 1);
            }
            return true;
        case kKeyDown:
            if (sel < 0)
                selectAndNotify(0);
            else if (sel + c < n)
                selectAndNotify(sel + c);
            return true;
        case kKeyPageDown:
        case kKeyEnd:
            if (sel != n - 1) selectAndNotify(n - 1);
            return true;
        case kKeySpace:
        case kKeyEnter:
            if (sel >= 0) notifyAction(new cCellAction(7, sel));
            return true;
    }
    return false;
}

bool cSimpleGridChild::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == this && action->type == 6) {
        cCellAction* cell = dynamic_cast<cCellAction*>(action);
        if (cell && cell->cell >= 0) scrollToCell(cell->cell);
    }
    return cScrollableElement::onAction(sender, action);
}
