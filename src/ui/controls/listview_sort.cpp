// cListViewChild sorting: the two sort providers and the stable re-numbering of the
// display order. Rows without a key keep their previous relative order and stand before
// the keyed rows (ascending) or after them (descending).
#include "ui/controls/listview.h"

typedef cSafeCriticalSectionAccess tGuard;

namespace {
template <class L>
void* walk(L& list, void* position, cListViewChild::sListViewDataItem*& cell, bool forward) {
    typedef typename L::sEntry tEntry;
    tEntry* e = (tEntry*)position;
    if (!e)
        e = forward ? list.first() : list.last();
    else
        e = forward ? list.next(e) : list.prev(e);
    cell = e ? e->value() : nullptr;
    return e;
}
}  // namespace

bool cListViewChild::cListViewNameSortProvider::init() {
    myList.destroy();
    return true;
}

bool cListViewChild::cListViewNameSortProvider::push(sListViewDataItem* cell) {
    if (!cell || !cell->text.ptr) return false;
    sListViewDataItem** slot = myList.insert_nonunique(cStringKey(cell->text.ptr));
    if (!slot) return false;
    *slot = cell;
    return true;
}

void* cListViewChild::cListViewNameSortProvider::next(void* position, sListViewDataItem*& cell) {
    return walk(myList, position, cell, true);
}

void* cListViewChild::cListViewNameSortProvider::prev(void* position, sListViewDataItem*& cell) {
    return walk(myList, position, cell, false);
}

bool cListViewChild::cListViewU64PramSortProvider::init() {
    if (!myProc) return false;
    myList.destroy();
    return true;
}

bool cListViewChild::cListViewU64PramSortProvider::push(sListViewDataItem* cell) {
    if (!myProc || !cell) return false;
    sListViewDataItem** slot = myList.insert_nonunique(myProc(cell));
    if (!slot) return false;
    *slot = cell;
    return true;
}

void* cListViewChild::cListViewU64PramSortProvider::next(void* position, sListViewDataItem*& cell) {
    return walk(myList, position, cell, true);
}

void* cListViewChild::cListViewU64PramSortProvider::prev(void* position, sListViewDataItem*& cell) {
    return walk(myList, position, cell, false);
}

bool cListViewChild::setSortType(int column, cListViewSortProvider* provider) {
    tGuard g(&myLock);
    sListViewColumnData* c = myColumns.find(column);
    if (!c) return false;
    if (c->sortProvider != provider) {
        // One owner per provider: a provider moved here from another column leaves it.
        if (provider)
            for (auto* e = myColumns.first(); e; e = myColumns.next(e))
                if (e->value().sortProvider == provider) e->value().sortProvider = nullptr;
        delete c->sortProvider;
        c->sortProvider = provider;
    }
    if (column == mySortColumn) layout();
    return true;
}

bool cListViewChild::setSortDirection(int column, bool ascending) {
    tGuard g(&myLock);
    sListViewColumnData* c = myColumns.find(column);
    if (!c) return false;
    if (c->sortAscending == ascending) return true;
    c->sortAscending = ascending;
    if (column == mySortColumn) layout();
    return true;
}

bool cListViewChild::getSortDirection(int column, bool& ascending) {
    tGuard g(&myLock);
    sListViewColumnData* c = myColumns.find(column);
    if (!c) return false;
    ascending = c->sortAscending;
    return true;
}

bool cListViewChild::sort(int column) {
    tGuard g(&myLock);
    sListViewColumnData* c = myColumns.find(column);
    cListViewSortProvider* p = c ? c->sortProvider : nullptr;
    if (!p || !p->init()) return false;
    cFasterTreeList<int, tRow*> old;
    old.swap(myDisplayOrder);
    myDisplayIndex.destroy();
    cFasterTreeList<int, tRow*> keyless;
    int nKeyless = 0;
    for (auto* e = old.first(); e; e = old.next(e)) {
        sListViewDataItem* cell = e->value()->find(column);
        if (!cell || !p->push(cell)) *keyless.insert(nKeyless++) = e->value();
    }
    old.destroy();
    int idx = 0;
    auto place = [&](tRow* r) {
        *myDisplayOrder.insert(idx) = r;
        *myDisplayIndex.insert(r) = idx;
        idx++;
    };
    auto placeKeyless = [&]() {
        for (auto* e = keyless.first(); e; e = keyless.next(e)) place(e->value());
    };
    auto placeKeyed = [&](bool forward) {
        sListViewDataItem* cell = nullptr;
        for (void* pos = forward ? p->next(nullptr, cell) : p->prev(nullptr, cell); pos;
             pos = forward ? p->next(pos, cell) : p->prev(pos, cell)) {
            tRow* r = cell ? rowOf(cell->row) : nullptr;
            if (r && !myDisplayIndex.find(r)) place(r);
        }
    };
    if (c->sortAscending) {
        placeKeyless();
        placeKeyed(true);
    } else {
        placeKeyed(false);
        placeKeyless();
    }
    keyless.destroy();
    p->init();
    mySortColumn = column;
    layout();
    return true;
}
