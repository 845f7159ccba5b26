// cListViewChild: the row model, display order, layout, selection, check state, columns
// and appearance. Painting is in listview_paint.cpp, input in listview_input.cpp,
// sorting in listview_sort.cpp.
#include "ui/controls/listview.h"

#include "base/timeutil.h"
#include "ciplatform/picture.h"
#include "ui/theme.h"

typedef cSafeCriticalSectionAccess tGuard;

cListViewChild::cListViewChild() : myClock(ticks_ms) {}

cListViewChild::~cListViewChild() {
    myCurrent = nullptr;
    myRows.destroy();
    myRowTops.destroy();
    myRowsByY.destroy();
    myDisplayIndex.destroy();
    myDisplayOrder.destroy();
    myColumns.destroy();
}

void cListViewChild::onInitData() {
    cScrollableElement::onInitData();
    int W = width(), H = height();
    int hh = cCITheme::theme()->getDimension(23, 0);
    attach(&myHeader, 1, 1, W - 2, hh, eCPTFixedVert);
    pinChild(&myHeader, false, true);
    myHeader.setMinButtonsWidth(W - 2);
    setQuantumSize(5, 1);
    setMinVisualHeight(myHeader.height());
    setPageSize(W, H);
    myInChanges = myRebuildPending = false;
    myImages = myAltImages = mySelectedImages = nullptr;
    cCITheme* t = cCITheme::theme();
    myBg = t->getColor(14);
    myBorder = t->getColor(21);
    myTextColour = t->getColor(4);
    myActiveBg = t->getColor(16);
    myActiveText = t->getColor(9);
    myActiveFrame = t->getColor(25);
    myInactiveBg = t->getColor(18);
    myInactiveText = t->getColor(4);
    myInactiveFrame = t->getColor(26);
    myFullLineActive = myActiveBg;
    myFullLineInactive = myInactiveBg;
    myFullLineSelect = myMultiselect = myCheckMode = false;
    mySpacing = myChbSpacing = myTextPadding = myTypedCount = 0;
    myLastCharTime = 0;
    mySortColumn = -1;
    myCurrent = nullptr;
    tGuard g(&myLock);
    myColumns.destroy();
    myRowsByY.destroy();
    myRowTops.destroy();
    myDisplayOrder.destroy();
    myDisplayIndex.destroy();
    myRows.destroy();
}

// ---- helpers ----

cListViewChild::sListViewDataItem* cListViewChild::firstCell(tRow* row) {
    if (!row) return nullptr;
    auto* e = row->first();
    return e ? e->valuePtr() : nullptr;
}

int cListViewChild::rowId(tRow* row) {
    sListViewDataItem* c = firstCell(row);
    return c ? c->row : -1;
}

cListViewChild::tRow* cListViewChild::rowAtIndex(int index) {
    tRow** r = myDisplayOrder.find(index);
    return r ? *r : nullptr;
}

cListViewChild::tRow* cListViewChild::neighbour(tRow* row, bool forward) {
    int* idx = row ? myDisplayIndex.find(row) : nullptr;
    if (!idx) return nullptr;
    auto* e = myDisplayOrder.findEntry(*idx);
    e = forward ? myDisplayOrder.next(e) : myDisplayOrder.prev(e);
    return e ? e->value() : nullptr;
}

void cListViewChild::layout(bool force) {
    if (myInChanges)
        myRebuildPending = true;
    else
        build(force);
}

void cListViewChild::postChange(int item, int previous, bool control, bool shift) {
    notifyAction(new cListViewItemChangeAction(item, previous, control, shift));
}

// ---- rows and cells ----

bool cListViewChild::setItem(int row, int column, const char* text, int image, void* association) {
    if (row < 0) return false;
    tGuard g(&myLock);
    bool changed = false, isNew = false;
    tRow* r = myRows.insert(row, isNew);
    if (!r) return false;
    if (isNew) {
        auto* last = myDisplayOrder.last();
        int idx = last ? last->key() + 1 : 0;
        *myDisplayOrder.insert(idx) = r;
        *myDisplayIndex.insert(r) = idx;
        changed = true;
    }
    sListViewDataItem* oldFirst = firstCell(r);
    bool cellNew = false;
    sListViewDataItem* c = r->insert(column, cellNew);
    if (!c) return false;
    if (cellNew) {
        c->row = row;
        changed = true;
        // The row's state lives in its first cell: a cell in front takes it over.
        if (oldFirst && firstCell(r) == c) {
            c->flags = (unsigned short)(c->flags | (oldFirst->flags & (cfSelected | cfChecked)));
            oldFirst->flags = (unsigned short)(oldFirst->flags & ~(cfSelected | cfChecked));
        }
    }
    if (association) c->association = association;
    if (image != c->image) {
        c->image = (short)image;
        changed = true;
    }
    if (text) c->text.set(text);
    if (text || changed) {
        c->height = 0;
        layout();
    }
    return true;
}

int cListViewChild::addItem(int column, const char* text, int image, void* association) {
    tGuard g(&myLock);
    auto* last = myRows.last();
    int id = last ? last->key() + 1 : 0;
    return setItem(id, column, text, image, association) ? id : -1;
}

bool cListViewChild::remove(int row) {
    tGuard g(&myLock);
    tRow* r = rowOf(row);
    if (!r) return false;
    if (myCurrent == r) myCurrent = nullptr;
    int* idx = myDisplayIndex.find(r);
    if (idx) {
        myDisplayOrder.dettach(*idx);
        myDisplayIndex.dettach(r);
    }
    // The layout maps may name the row until the next layout; they are keyed by id.
    myRows.dettach(row);
    layout();
    return true;
}

bool cListViewChild::clear() {
    tGuard g(&myLock);
    myRowsByY.destroy();
    myRowTops.destroy();
    myDisplayOrder.destroy();
    myDisplayIndex.destroy();
    myRows.destroy();
    myCurrent = nullptr;
    layout();
    return true;
}

int cListViewChild::getRowCount() {
    tGuard g(&myLock);
    auto* last = myDisplayOrder.last();
    return last ? last->key() + 1 : 0;
}

const char* cListViewChild::text(int row, int column) {
    tGuard g(&myLock);
    tRow* r = rowOf(row);
    sListViewDataItem* c = r ? r->find(column) : nullptr;
    return c ? c->text.ptr : nullptr;
}

void* cListViewChild::association(int row, int column) {
    tGuard g(&myLock);
    tRow* r = rowOf(row);
    sListViewDataItem* c = r ? r->find(column) : nullptr;
    return c ? c->association : nullptr;
}

int cListViewChild::find(int column, void* association) {
    tGuard g(&myLock);
    for (auto* e = myRows.first(); e; e = myRows.next(e)) {
        sListViewDataItem* c = e->value().find(column);
        if (c && c->association == association) return e->key();
    }
    return -1;
}

int cListViewChild::first() {
    tGuard g(&myLock);
    auto* e = myRows.first();
    return e ? e->key() : -1;
}

int cListViewChild::next(int row) {
    tGuard g(&myLock);
    auto* e = myRows.findEntry(row);
    e = e ? myRows.next(e) : nullptr;
    return e ? e->key() : -1;
}

int cListViewChild::firstBySort() {
    tGuard g(&myLock);
    auto* e = myDisplayOrder.first();
    return e ? rowId(e->value()) : -1;
}

int cListViewChild::lastBySort() {
    tGuard g(&myLock);
    auto* e = myDisplayOrder.last();
    return e ? rowId(e->value()) : -1;
}

int cListViewChild::nextBySort(int row) {
    tGuard g(&myLock);
    return rowId(neighbour(rowOf(row), true));
}

int cListViewChild::prevBySort(int row) {
    tGuard g(&myLock);
    return rowId(neighbour(rowOf(row), false));
}

const char* cListViewChild::textBySortIdx(int index, int column) {
    tGuard g(&myLock);
    tRow* r = rowAtIndex(index);
    sListViewDataItem* c = r ? r->find(column) : nullptr;
    return c ? c->text.ptr : nullptr;
}

void* cListViewChild::associationBySortIdx(int index, int column) {
    tGuard g(&myLock);
    tRow* r = rowAtIndex(index);
    sListViewDataItem* c = r ? r->find(column) : nullptr;
    return c ? c->association : nullptr;
}

bool cListViewChild::setItemTextColor(int row, int column, unsigned int colour) {
    tGuard g(&myLock);
    tRow* r = rowOf(row);
    sListViewDataItem* c = r ? r->find(column) : nullptr;
    if (!c) return false;
    c->textColor = colour;
    return true;
}

bool cListViewChild::setItemIdent(int row, int column, int indent) {
    tGuard g(&myLock);
    tRow* r = rowOf(row);
    sListViewDataItem* c = r ? r->find(column) : nullptr;
    if (!c) return false;
    c->indent = (unsigned short)indent;
    return true;
}

void cListViewChild::reorderByID() {
    tGuard g(&myLock);
    myDisplayOrder.destroy();
    myDisplayIndex.destroy();
    int idx = 0;
    for (auto* e = myRows.first(); e; e = myRows.next(e), idx++) {
        *myDisplayOrder.insert(idx) = e->valuePtr();
        *myDisplayIndex.insert(e->valuePtr()) = idx;
    }
}

int cListViewChild::displayIndexOf(int row) {
    tGuard g(&myLock);
    tRow* r = rowOf(row);
    int* idx = r ? myDisplayIndex.find(r) : nullptr;
    return idx ? *idx : -1;
}

// ---- columns ----

bool cListViewChild::setColumn(int column, const char* title, int width, cCanvas::eTextAlign align) {
    tGuard g(&myLock);
    if (!myHeader.setColumn(column, title, width, align)) return false;
    layout();
    myColumns.insert(column)->align = align;
    return true;
}

bool cListViewChild::removeColumn(int column) {
    tGuard g(&myLock);
    if (!myHeader.removeColumn(column)) return false;
    layout();
    return myColumns.dettach(column);
}

bool cListViewChild::setColumnWidth(int column, int width) { return myHeader.resizeItem(column, width); }

bool cListViewChild::setColumnFont(int column, cFontObject* font) {
    tGuard g(&myLock);
    sListViewColumnData* c = myColumns.find(column);
    if (!c) return false;
    if (c->font == font) return true;
    c->font = font;
    layout();
    return true;
}

bool cListViewChild::setColumnTextColor(int column, unsigned int colour, bool repaint) {
    tGuard g(&myLock);
    sListViewColumnData* c = myColumns.find(column);
    if (!c) return false;
    bool changed = c->textColor != colour;
    c->textColor = colour;
    if (repaint && changed) this->repaint();
    return true;
}

bool cListViewChild::showHeader(bool show) {
    tGuard g(&myLock);
    if (myHeader.visible_child() != show) {
        if (show)
            myHeader.show();
        else
            myHeader.hide();
    }
    if (myInChanges)
        myRebuildPending = true;
    else
        cScrollableElement::rebuild();
    return true;
}

void cListViewChild::setHeaderHeight(int height) {
    if (height <= 1) {
        myHeader.hide();
        return;
    }
    myHeader.setMinSize(1, height);
    myHeader.setMaxSize(0x7FFFFFFF, height);
    attach(&myHeader, 1, 1, width() - 2, height, eCPTFixedVert);
}

// ---- appearance ----

void cListViewChild::setSpacing(int spacing) {
    tGuard g(&myLock);
    if (spacing == mySpacing) return;
    mySpacing = spacing;
    layout(true);
}

void cListViewChild::setChbSpacing(int spacing, bool repaint) {
    if (spacing == myChbSpacing) return;
    myChbSpacing = spacing;
    if (repaint && myCheckMode) this->repaint();
}

void cListViewChild::setTextPadding(int padding, bool repaint) {
    if (padding == myTextPadding) return;
    myTextPadding = padding;
    if (repaint) this->repaint();
}

void cListViewChild::setChkImages(cPicture* checked, cPicture* unchecked, bool repaint) {
    myChkChecked = checked;
    myChkUnchecked = unchecked;
    if (repaint && myCheckMode) this->repaint();
}

void cListViewChild::setImageLists(cPicturesList* images, cPicturesList* altImages, cPicturesList* selectedImages) {
    tGuard g(&myLock);
    if (images == myImages && altImages == myAltImages && selectedImages == mySelectedImages) return;
    myImages = images;
    myAltImages = altImages;
    mySelectedImages = selectedImages;
    layout(true);
}

namespace {
void setColour(cChildElement* e, unsigned int& field, unsigned int colour, bool repaint) {
    if (field == colour) return;
    field = colour;
    if (repaint) e->repaint();
}
bool setThree(unsigned int& a, unsigned int& b, unsigned int& c, unsigned int va, unsigned int vb, unsigned int vc) {
    if (a == va && b == vb && c == vc) return false;
    a = va, b = vb, c = vc;
    return true;
}
}  // namespace

void cListViewChild::setBgColor(unsigned int colour, bool repaint) { setColour(this, myBg, colour, repaint); }
void cListViewChild::setBorderColor(unsigned int colour, bool repaint) { setColour(this, myBorder, colour, repaint); }
void cListViewChild::setTextColor(unsigned int colour, bool repaint) {
    setColour(this, myTextColour, colour, repaint);
}

void cListViewChild::setColorSchema(unsigned int text, unsigned int bg, unsigned int border, bool repaint) {
    if (setThree(myTextColour, myBg, myBorder, text, bg, border) && repaint) this->repaint();
}

void cListViewChild::setColorSchemaFocusedActive(unsigned int text, unsigned int bg, unsigned int frame, bool repaint) {
    if (setThree(myActiveText, myActiveBg, myActiveFrame, text, bg, frame) && repaint) this->repaint();
}

void cListViewChild::setColorSchemaFocusedInactive(unsigned int text, unsigned int bg, unsigned int frame,
                                                   bool repaint) {
    if (setThree(myInactiveText, myInactiveBg, myInactiveFrame, text, bg, frame) && repaint) this->repaint();
}

void cListViewChild::setFullLineSelect(bool on, bool repaint) {
    if (on == myFullLineSelect) return;
    myFullLineSelect = on;
    if (repaint) this->repaint();
}

void cListViewChild::setFullLineSelectColors(unsigned int active, unsigned int inactive, bool repaint) {
    if (active == myFullLineActive && inactive == myFullLineInactive) return;
    myFullLineActive = active;
    myFullLineInactive = inactive;
    if (repaint) this->repaint();
}

void cListViewChild::setMultiselect(bool on) {
    tGuard g(&myLock);
    if (on == myMultiselect) return;
    myMultiselect = on;
    deselectAll(nullptr);
}

void cListViewChild::setCheckMode(bool on) {
    if (on == myCheckMode) return;
    myCheckMode = on;
    repaint();
}

void cListViewChild::setText(const char* text, long long length, bool repaint) {
    cChildElement::setText(text, length, false);
    if (repaint) this->repaint();
}

// ---- selection ----

int cListViewChild::selected() {
    tGuard g(&myLock);
    return rowId(myCurrent);
}

void cListViewChild::selectRow(tRow* row, tRow* from, bool control, bool shift, bool mark) {
    if (row && row != myCurrent && firstCell(row)) postChange(rowId(row), rowId(myCurrent), control, shift);
    myCurrent = row;
    if (!myMultiselect || (!control && !shift)) {
        deselectAll(row);
    } else if (shift && from && from != row) {
        int* a = myDisplayIndex.find(from);
        int* b = myDisplayIndex.find(row);
        if (a && b) {
            int lo = *a < *b ? *a : *b, hi = *a < *b ? *b : *a;
            for (auto* e = myDisplayOrder.find_ge(lo); e && e->key() <= hi; e = myDisplayOrder.next(e)) {
                sListViewDataItem* c = firstCell(e->value());
                if (c) c->flags |= cfSelected;
            }
        }
    }
    sListViewDataItem* c = firstCell(row);
    if (mark && c) c->flags |= cfSelected;
    int* top = c ? myRowTops.find(c->row) : nullptr;
    if (top) scrollRowIntoView(*top, c->height);
    repaint();
}

// A row of content top T is painted at T + 1 - offset, inside the frame below the header;
// the bar's position (which the offset follows a turn later) is what gets moved.
bool cListViewChild::scrollRowIntoView(int top, int h) {
    cVScroll* bar = vScroll();
    if (!bar->visible_child()) return false;
    sRect cr;
    clientRect(&cr);
    long long pos = (long long)bar->pos(), want = pos;
    long long highest = (long long)top - cr.y;             // the row's top at the area's top
    long long lowest = (long long)top + h + 2 - cr.y - cr.h;  // its bottom at the area's bottom
    if (want > highest) want = highest;
    if (want < lowest) want = lowest;
    if (want < 0) want = 0;
    if (want == pos) return false;
    bar->setPos((unsigned long long)want, true);
    return true;
}

void cListViewChild::deselectAll(tRow* except) {
    if (myCurrent != except) myCurrent = nullptr;
    for (auto* e = myRows.first(); e; e = myRows.next(e)) {
        if (e->valuePtr() == except) continue;
        for (auto* c = e->value().first(); c; c = e->value().next(c))
            c->value().flags = (unsigned short)(c->value().flags & ~cfSelected);
    }
    repaint();
}

bool cListViewChild::select(int row) {
    tGuard g(&myLock);
    tRow* r = rowOf(row);
    if (!r) return false;
    selectRow(r, nullptr, false, false, true);
    return true;
}

bool cListViewChild::select(int column, void* association) {
    tGuard g(&myLock);
    int row = find(column, association);
    return row >= 0 && select(row);
}

bool cListViewChild::selectBySortIdx(int index) {
    tGuard g(&myLock);
    tRow* r = rowAtIndex(index);
    if (!r) return false;
    selectRow(r, nullptr, false, false, true);
    return true;
}

bool cListViewChild::deselect() {
    tGuard g(&myLock);
    deselectAll(nullptr);
    return true;
}

bool cListViewChild::isSelected(int row) {
    tGuard g(&myLock);
    sListViewDataItem* c = firstCell(rowOf(row));
    return c && (c->flags & cfSelected);
}

bool cListViewChild::setSelected(int row, bool selected, bool) {
    tGuard g(&myLock);
    tRow* r = rowOf(row);
    sListViewDataItem* c = firstCell(r);
    if (!c) return false;
    if (((c->flags & cfSelected) != 0) == selected) return true;
    if (selected) {
        if (r != myCurrent) {
            postChange(row, rowId(myCurrent), false, false);
            myCurrent = r;
        }
        if (!myMultiselect) deselectAll(r);
        c->flags |= cfSelected;
    } else {
        // The nearest other selected row, after this one first, becomes current.
        tRow* other = nullptr;
        auto* self = myRows.findEntry(row);
        for (auto* e = myRows.next(self); e && !other; e = myRows.next(e)) {
            sListViewDataItem* f = firstCell(e->valuePtr());
            if (f && (f->flags & cfSelected)) other = e->valuePtr();
        }
        for (auto* e = myRows.prev(self); e && !other; e = myRows.prev(e)) {
            sListViewDataItem* f = firstCell(e->valuePtr());
            if (f && (f->flags & cfSelected)) other = e->valuePtr();
        }
        if (other && other != myCurrent) {
            postChange(rowId(other), rowId(myCurrent), false, false);
            myCurrent = other;
        } else if (!other && myCurrent == r) {
            // Nothing else is selected: no current row remains.
            postChange(-1, row, false, false);
            myCurrent = nullptr;
        }
        c->flags = (unsigned short)(c->flags & ~cfSelected);
    }
    if (!myInChanges) repaint();
    return true;
}

int cListViewChild::nextSelected(int after) {
    tGuard g(&myLock);
    auto* e = after < 0 ? myRows.first() : myRows.find_ge(after + 1);
    for (; e; e = myRows.next(e)) {
        sListViewDataItem* c = firstCell(e->valuePtr());
        if (c && (c->flags & cfSelected)) return e->key();
    }
    return -1;
}

int cListViewChild::nextSelectedDspOrd(int afterIndex, int& row) {
    tGuard g(&myLock);
    auto* e = afterIndex < 0 ? myDisplayOrder.first() : myDisplayOrder.find_ge(afterIndex + 1);
    for (; e; e = myDisplayOrder.next(e)) {
        sListViewDataItem* c = firstCell(e->value());
        if (c && (c->flags & cfSelected)) {
            row = c->row;
            return e->key();
        }
    }
    return -1;
}

bool cListViewChild::checked(int row) {
    tGuard g(&myLock);
    sListViewDataItem* c = firstCell(rowOf(row));
    return c && (c->flags & cfChecked);
}

bool cListViewChild::setChecked(int row, bool checked, bool notify) {
    tGuard g(&myLock);
    sListViewDataItem* c = firstCell(rowOf(row));
    if (!c) return false;
    if (((c->flags & cfChecked) != 0) == checked) return true;
    c->flags ^= cfChecked;
    if (notify) notifyAction(new cListViewItemChecked(row));
    if (!myInChanges) repaint();
    return true;
}

// ---- layout ----

void cListViewChild::startChanges() {
    tGuard g(&myLock);
    myInChanges = true;
}

bool cListViewChild::endChanges(bool force) {
    tGuard g(&myLock);
    if (!myInChanges) return false;
    myInChanges = false;
    if (!myRebuildPending) return false;
    build(force);
    myRebuildPending = false;
    return true;
}

void cListViewChild::build(bool force) {
    tGuard g(&myLock);
    int y = myHeader.visible_child() ? myHeader.height() : 0;
    int minHeight = height();
    myRowsByY.destroy();
    myRowTops.destroy();
    cFontObject* font = stdFont();
    cPicturesList* lists[3] = {myImages, myAltImages, mySelectedImages};
    for (auto* e = myDisplayOrder.first(); e; e = myDisplayOrder.next(e)) {
        tRow* row = e->value();
        int h = 13;
        bool any = false;
        for (auto* col = myColumns.first(); col; col = myColumns.next(col)) {
            sListViewDataItem* c = row->find(col->key());
            if (!c) continue;
            any = true;
            if (force || c->height == 0) {
                int th = 0;
                sSize sz;
                if (c->text.ptr && sizeOf(c->text.ptr, sz, font)) th = sz.cy;
                int ph = 0;
                for (cPicturesList* l : lists) {
                    cPicture* p = l && c->image >= 0 ? l->image(c->image) : nullptr;
                    if (p && p->height() > ph) ph = p->height();
                }
                c->height = (short)((th > ph ? th : ph) + 4);
            }
            if (c->height > h) h = c->height;
        }
        if (!myColumns.first() || !any) {
            y += h;
            continue;
        }
        h += mySpacing;
        if (h < minHeight) minHeight = h;
        sItemYDs* d = myRowsByY.insert(y);
        d->row = rowId(row);
        d->height = h;
        *myRowTops.insert(d->row) = y;
        y += h;
    }
    setQuantumSize(5, minHeight > 0 ? minHeight : 1);
    setMinVisualHeight(y);
    repaint();
}

bool cListViewChild::itemPos(int row, int& y) {
    tGuard g(&myLock);
    int* top = myRowTops.find(row);
    if (!top) return false;
    y = *top - shiftY();
    return true;
}

bool cListViewChild::itemRange(int row, int& y0, int& y1) {
    tGuard g(&myLock);
    int* top = myRowTops.find(row);
    sItemYDs* d = top ? myRowsByY.find(*top) : nullptr;
    if (!d) return false;
    y0 = *top - shiftY();
    y1 = y0 + d->height;
    return true;
}

bool cListViewChild::adjustScrollToItem(int row) {
    tGuard g(&myLock);
    sListViewDataItem* c = firstCell(rowOf(row));
    int* top = myRowTops.find(row);
    if (!c || !top) return false;
    return scrollRowIntoView(*top, c->height);
}

// ---- element ----

bool cListViewChild::clientRect(sRect* r) {
    if (!cScrollableElement::clientRect(r)) return false;
    if (myHeader.visible_child()) {
        r->y += myHeader.height();
        r->h -= myHeader.height();
    }
    return true;
}

void cListViewChild::onSizeChanged() {
    sRect r;
    clientRect(&r);
    myHeader.setMinButtonsWidth(r.w);
    setMinVisualWidth(myHeader.width());
    setPageSize(r.w, r.h);
    cScrollableElement::onSizeChanged();
}

bool cListViewChild::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == &myHeader && action) {
        if (action->type == cSplitterChild::eActResize) {
            auto* a = dynamic_cast<cSplitterChild::cResizeRequestAction*>(action);
            if (a) setMinVisualWidth(a->size);
            sRect r;
            clientRect(&r);
            myHeader.setMinButtonsWidth(r.w);
            return true;
        }
        if (action->type == 8) {
            auto* a = dynamic_cast<cHeaderChild::cColumnClickAction*>(action);
            if (!a) return true;
            tGuard g(&myLock);
            sListViewColumnData* c = myColumns.find(a->column);
            if (!c || !c->sortProvider) return true;
            c->sortAscending = a->column == mySortColumn ? !c->sortAscending : true;
            sort(a->column);
            notifyAction(new cListViewItemAction(eActSorted, a->column));
            return true;
        }
        if (action->type == cSplitterChild::eActSizesChanged) build(false);
    }
    return cScrollableElement::onAction(sender, action);
}

void cListViewChild::onSetFocus() {
    cScrollableElement::onSetFocus();
    repaint();
}

void cListViewChild::onLooseFocus() {
    cScrollableElement::onLooseFocus();
    repaint();
}
