// Intrusive list and tree. Tree deletion walks the items instead of recursing.
#include "base/lists.h"

void cList::add(cListItem* item) {
    if (!item) return;
    item->next = nullptr;
    if (myTail)
        myTail->next = item;
    else
        myHead = item;
    myTail = item;
    myCount++;
}

cListItem* cList::find(void* p) const {
    for (cListItem* it = myHead; it; it = it->next)
        if (it->eq(p)) return it;
    return nullptr;
}

bool cList::dettach(cListItem* item) {
    if (!item) return false;
    cListItem* before = nullptr;
    cListItem* it = myHead;
    while (it && it != item) {
        before = it;
        it = it->next;
    }
    if (!it) return false;
    if (before)
        before->next = item->next;
    else
        myHead = item->next;
    if (myTail == item) myTail = before;
    item->next = nullptr;
    myCount--;
    return true;
}

bool cList::remove(cListItem* item) {
    if (!dettach(item)) return false;
    delete item;
    return true;
}

void cList::destroy() {
    cListItem* it = myHead;
    myHead = myTail = nullptr;
    myCount = 0;
    while (it) {
        cListItem* n = it->next;
        delete it;
        it = n;
    }
}

namespace {

// Sets the owning tree of an item and all its descendants (pre-order walk).
void setTree(cTreeItem* top, cTree* tree) {
    cTreeItem* c = top;
    while (c) {
        c->tree = tree;
        if (c->firstChild) {
            c = c->firstChild;
            continue;
        }
        while (c != top && !c->next) c = c->parent;
        c = c == top ? nullptr : c->next;
    }
}

}  // namespace

bool cTree::canAdd(cTreeItem* parent, cTreeItem* item) const {
    if (!item || item->tree || item->parent || item == parent) return false;
    return !parent || parent->tree == this;
}

cTreeItem* cTree::add(cTreeItem* parent, cTreeItem* item, cTreeItem* after) {
    if (!canAdd(parent, item)) return nullptr;
    if (after && (after->tree != this || after->parent != parent)) after = nullptr;
    if (!after) after = lastOf(parent);
    item->parent = parent;
    item->prev = after;
    if (after) {
        item->next = after->next;
        after->next = item;
    } else {
        item->next = nullptr;
        firstOf(parent) = item;
    }
    if (item->next)
        item->next->prev = item;
    else
        lastOf(parent) = item;
    setTree(item, this);
    return item;
}

cTreeItem* cTree::addFirst(cTreeItem* parent, cTreeItem* item) {
    if (!canAdd(parent, item)) return nullptr;
    cTreeItem*& head = firstOf(parent);
    item->parent = parent;
    item->prev = nullptr;
    item->next = head;
    if (head)
        head->prev = item;
    else
        lastOf(parent) = item;
    head = item;
    setTree(item, this);
    return item;
}

void cTree::unlinkOne(cTreeItem* item) {
    cTreeItem* up = item->parent;
    if (item->prev)
        item->prev->next = item->next;
    else
        firstOf(up) = item->next;
    if (item->next)
        item->next->prev = item->prev;
    else
        lastOf(up) = item->prev;
    item->next = item->prev = item->parent = nullptr;
}

bool cTree::dettach(cTreeItem* item) {
    if (!item || item->tree != this) return false;
    unlinkOne(item);
    setTree(item, nullptr);
    return true;
}

bool cTree::remove(cTreeItem* item) {
    if (!item || item->tree != this) return false;
    destroy_sub(item);
    unlinkOne(item);
    item->tree = nullptr;
    delete item;
    return true;
}

void cTree::destroy_sub(cTreeItem* top) {
    if (top && top->tree != this) return;
    // Always delete the first child of the current level; climb when a level is empty.
    cTreeItem* c = top ? top->firstChild : myFirst;
    while (c) {
        if (c->firstChild) {
            c = c->firstChild;
            continue;
        }
        cTreeItem* up = c->parent;
        cTreeItem* nx = c->next;
        firstOf(up) = nx;
        if (nx)
            nx->prev = nullptr;
        else
            lastOf(up) = nullptr;
        c->next = c->prev = c->parent = nullptr;
        c->tree = nullptr;
        delete c;
        if (nx)
            c = nx;
        else
            c = up == top ? nullptr : up;
    }
}
