// cListViewChild input: presses (selection, check boxes), double clicks (activation),
// the key table of the list and the type-ahead search over the first column.
#include "base/strings.h"
#include "ciplatform/windowmaker.h"
#include "ui/controls/listview.h"

typedef cSafeCriticalSectionAccess tGuard;

int cListViewChild::hitRow(int x, int y, tRow*& row, sListViewDataItem*& cell, int& contentX) {
    row = nullptr;
    cell = nullptr;
    sRect r;
    clientRect(&r);
    if (x < r.x || x > r.x + r.w || y < r.y || y > r.y + r.h) return 0;
    contentX = x + shiftX();
    int cy = y + shiftY();
    auto* e = myRowsByY.find_le(cy);
    if (!e || cy > e->key() + e->value().height) return 1;
    row = rowOf(e->value().row);
    auto* firstColumn = myColumns.first();
    cell = row && firstColumn ? row->find(firstColumn->key()) : nullptr;
    return cell ? 3 : 2;
}

bool cListViewChild::inChbZone(int contentX) {
    return contentX >= myChbSpacing / 2 && contentX < myChbSpacing / 2 + 14;
}

void cListViewChild::toggleCheck(tRow* row) {
    sListViewDataItem* c = firstCell(row);
    if (!c) return;
    c->flags ^= cfChecked;
    notifyAction(new cListViewItemChecked(c->row));
    repaint();
}

void cListViewChild::processMouseBtn(int x, int y, int button, bool pressed, bool ctrl, bool shift) {
    cScrollableElement::processMouseBtn(x, y, button, pressed, ctrl, shift);
    if (!pressed || (button != kMouseLeft && button != kMouseRight) || !alive(this)) return;
    tGuard g(&myLock);
    tRow* row;
    sListViewDataItem* cell;
    int cx = 0;
    int hit = hitRow(x, y, row, cell, cx);
    if (hit == 3) {
        if (myCheckMode && button == kMouseLeft && inChbZone(cx))
            toggleCheck(row);
        else
            processMouseSelection(row, cell, ctrl, shift, button);
    } else if (hit == 1 && button == kMouseLeft && myCurrent) {
        int prev = rowId(myCurrent);
        deselectAll(nullptr);
        postChange(-1, prev, ctrl, shift);
    }
}

void cListViewChild::processMouseSelection(tRow* row, sListViewDataItem*, bool control, bool shift, int button) {
    // The row's state is its first cell's, whichever cell was hit.
    sListViewDataItem* state = firstCell(row);
    if (!state) return;
    if (!(state->flags & cfSelected)) {
        selectRow(row, myCurrent, control, shift, true);
    } else if (button == kMouseLeft) {
        if (control) {
            state->flags = (unsigned short)(state->flags & ~cfSelected);
            if (myCurrent == row) myCurrent = nullptr;
            repaint();
        } else if (!shift) {
            deselectAll(row);
            myCurrent = row;
        }
    }
}

void cListViewChild::onMouseDoubleClick(int x, int y, int button) {
    tGuard g(&myLock);
    tRow* row;
    sListViewDataItem* cell;
    int cx = 0;
    int hit = hitRow(x, y, row, cell, cx);
    if (hit == 3) {
        if (myCheckMode && inChbZone(cx)) return;
        notifyAction(new cListViewItemAction(eActActivate, rowId(row)));
    } else if (hit == 1 && myCurrent) {
        int prev = rowId(myCurrent);
        deselectAll(nullptr);
        postChange(-1, prev, false, false);
    }
}

cListViewChild::tRow* cListViewChild::pageTarget(bool forward) {
    sRect r;
    clientRect(&r);
    int p = r.h;
    tRow* last = nullptr;
    for (tRow* row = neighbour(myCurrent, forward); row; row = neighbour(row, forward)) {
        sListViewDataItem* c = firstCell(row);
        if (!c) continue;
        last = row;
        p -= c->height;
        if (p <= c->height) return row;
    }
    return last;
}

bool cListViewChild::onKey(int key, bool shift, bool ctrl, bool alt) {
    tGuard g(&myLock);
    auto firstRow = [&]() {
        auto* e = myDisplayOrder.first();
        return e ? e->value() : nullptr;
    };
    auto lastRow = [&]() {
        auto* e = myDisplayOrder.last();
        return e ? e->value() : nullptr;
    };
    tRow* target = nullptr;
    bool targetCtrl = false;
    switch (key) {
    case kKeyF5:
        notifyAction(new cChildAction(eActRefresh));
        return true;
    case kKeyEnter:
        if (firstCell(myCurrent)) notifyAction(new cListViewItemAction(eActActivate, rowId(myCurrent)));
        return true;
    case kKeySpace: {
        auto* col = myColumns.first();
        if (myCheckMode && myCurrent && col && myCurrent->find(col->key())) toggleCheck(myCurrent);
        return true;
    }
    case 'A':
        if (ctrl && myMultiselect && firstRow()) selectRow(firstRow(), lastRow(), false, true, true);
        return true;
    case kKeyBackspace:
        notifyAction(new cChildAction(eActBack));
        return true;
    case kKeyEscape:
        if (myCurrent) {
            int prev = rowId(myCurrent);
            deselectAll(nullptr);
            postChange(-1, prev, ctrl, shift);
        }
        return true;
    case kKeyHome:
        target = firstRow();
        break;
    case kKeyEnd:
        target = lastRow();
        break;
    case kKeyUp:
    case kKeyDown: {
        bool down = key == kKeyDown;
        target = myCurrent ? neighbour(myCurrent, down) : firstRow();
        if (!target) target = myCurrent;
        targetCtrl = ctrl;
        break;
    }
    case kKeyPageUp:
    case kKeyPageDown: {
        bool down = key == kKeyPageDown;
        target = myCurrent ? pageTarget(down) : nullptr;
        if (!target) target = down ? lastRow() : firstRow();
        break;
    }
    default:
        return cScrollableElement::onKey(key, shift, ctrl, alt);
    }
    if (target) selectRow(target, myCurrent, targetCtrl, shift, true);
    return true;
}

bool cListViewChild::onChar(unsigned int codePoint) {
    tGuard g(&myLock);
    unsigned int now = myClock ? myClock() : 0;
    unsigned int dt = now - myLastCharTime;
    bool fresh = dt >= 401;
    if (fresh) myTypedCount = 0;
    if (myTypedCount <= 9 && codePoint <= 0xFFFF) myTypedChars[myTypedCount++] = (unsigned short)codePoint;
    int* start = myCurrent ? myDisplayIndex.find(myCurrent) : nullptr;
    auto* e = myDisplayOrder.find_ge(start ? *start : 0);
    // A fresh search moves past the current row; with no current row it starts at the top.
    if (fresh && start && e) e = myDisplayOrder.next(e);
    for (; e && myTypedCount > 0; e = myDisplayOrder.next(e)) {
        sListViewDataItem* c = firstCell(e->value());
        if (!c || !c->text.ptr) continue;
        unsigned short units[11] = {};
        _pc2w(c->text.ptr, -1, units, 10);
        bool match = true;
        for (int i = 0; i < myTypedCount && match; i++)
            match = units[i] && __acp_lower(units[i]) == __acp_lower(myTypedChars[i]);
        if (match) {
            selectRow(e->value(), myCurrent, false, false, true);
            break;
        }
    }
    myLastCharTime = now;
    return cScrollableElement::onChar(codePoint);
}
