// cTreeViewChild: items and their elements, layout by level, branches, keys, the
// actions of the item and glyph elements, and the unfocused look of the selection.
// Removing items erases their elements from both maps, so no map ever names a freed
// element.
#include "ui/controls/treeview.h"

#include "ciplatform/canvas.h"
#include "ciplatform/picture.h"
#include "ciplatform/windowmaker.h"
#include "ui/elementhost.h"
#include "ui/theme.h"

typedef cTreeViewChild::cTreeViewItem tItem;

// ---- the two elements ----

bool cTreeItemElement::onChar(unsigned int codePoint) {
    if (codePoint == '+' || codePoint == '-') {
        notifyAction(new cChildAction(codePoint == '+' ? 8 : 9));
        return true;
    }
    return cSelectableElement::onChar(codePoint);
}

bool cTreeItemElement::onKey(int key, bool shift, bool ctrl, bool alt) {
    if (key == kKeyPadPlus || key == kKeyPadMinus) {
        notifyAction(new cChildAction(key == kKeyPadPlus ? 8 : 9));
        return true;
    }
    return cSelectableElement::onKey(key, shift, ctrl, alt);
}

void cTreeItemElement::onSetFocusEvent(int origin, int a, int b) {
    cTreeViewChild* view = dynamic_cast<cTreeViewChild*>(parent());
    if (view) view->itemFocusGained(this);
    cSelectableElement::onSetFocusEvent(origin, a, b);
}

void cTreeItemElement::onLooseFocus() {
    cSelectableElement::onLooseFocus();
    cTreeViewChild* view = dynamic_cast<cTreeViewChild*>(parent());
    if (view) view->itemFocusLost(this);
}

bool cTreeItemElement::wantTabStop() {
    cTreeViewChild* view = dynamic_cast<cTreeViewChild*>(parent());
    cTreeViewChild::cTreeViewItem* sel = view ? view->selected() : nullptr;
    return sel && sel->element == this;
}

void cTreeViewControlElement::setKind(int kind, bool repaint) {
    if (kind == myKind) return;
    myKind = kind;
    static const int pictures[5] = {-1, 70, 71, 69, 68};
    int n = kind >= 0 && kind < 5 ? pictures[kind] : -1;
    setImage(n >= 0 ? cCITheme::theme()->getPict(n) : nullptr, repaint);
    setPointer(isActive() ? eMPHand : eMPArrow);
}

void cTreeViewControlElement::onMouseButton(int x, int y, int button, bool down) {
    if (button == kMouseLeft && down && isActive()) notifyAction(new cChildAction(eActClick));
}

// ---- items ----

cTreeViewChild::cTreeViewItem::~cTreeViewItem() {
    delete control;
    delete element;
}

cTreeViewChild::~cTreeViewChild() {
    mySelected = myUnfocused = nullptr;
    myElements.destroy();
    myControls.destroy();
    myItems.destroy();
}

void cTreeViewChild::onInitData() {
    cScrollableElement::onInitData();
    myInChanges = myRebuildPending = false;
    mySelected = myUnfocused = nullptr;
    myElements.destroy();
    myControls.destroy();
    myItems.destroy();
    setPageSize(width(), height());
    cCITheme* t = cCITheme::theme();
    myOutline = 16;
    mySpacing = myCellSpacing = 0;
    myIndicatorW = 16;
    myLists[0] = myLists[1] = myLists[2] = nullptr;
    myBg = t->getColor(14);
    myFrame = t->getColor(21);
    myHScroll = true;
    myUnfocusedColours[0] = t->getColor(4);
    myUnfocusedColours[1] = t->getColor(18);
    myUnfocusedColours[2] = t->getColor(26);
    myStdColours[0] = t->getColor(4);
    myStdColours[1] = t->getColor(14);
    myStdColours[2] = 0xFFFFFFFFu;
}

void cTreeViewChild::changed() {
    if (myInChanges)
        myRebuildPending = true;
    else
        build();
}

bool cTreeViewChild::storeUnder(cTreeViewItem* parent, cTreeViewItem* item, cTreeViewItem* after) {
    if (!item || !myItems.add(parent, item, after)) return false;
    changed();
    return true;
}

bool cTreeViewChild::storeUnderFirst(cTreeViewItem* parent, cTreeViewItem* item) {
    if (!item || !myItems.addFirst(parent, item)) return false;
    changed();
    return true;
}

// Takes the elements of the item and its descendants out of the view and both maps.
void cTreeViewChild::forgetElements(cTreeViewItem* item) {
    cTreeItem* stop = item->next;
    cTreeItem* i = item;
    while (i) {
        tItem* t = (tItem*)i;
        if (t == mySelected) mySelected = nullptr;
        if (t == myUnfocused) myUnfocused = nullptr;
        if (t->element) {
            myElements.dettach(t->element);
            dettach(t->element);
        }
        if (t->control) {
            myControls.dettach(t->control);
            dettach(t->control);
        }
        // Depth first, not past the item's own subtree.
        if (i->firstChild) {
            i = i->firstChild;
            continue;
        }
        while (i && i != item && !i->next) i = i->parent;
        if (!i || i == item) break;
        i = i->next;
        if (i == stop) break;
    }
}

bool cTreeViewChild::remove(cTreeViewItem* item) {
    if (!item || item->tree != &myItems) return false;
    mySelected = myUnfocused = nullptr;
    forgetElements(item);
    myItems.remove(item);
    build();
    return true;
}

bool cTreeViewChild::remove_under(cTreeViewItem* item) {
    if (!item) return clear();
    if (item->tree != &myItems) return false;
    mySelected = myUnfocused = nullptr;
    for (cTreeItem* c = item->firstChild; c; c = c->next) forgetElements((tItem*)c);
    myItems.destroy_sub(item);
    build();
    return true;
}

bool cTreeViewChild::clear() {
    if (!myItems.first()) return false;
    mySelected = myUnfocused = nullptr;
    for (cTreeItem* c = myItems.first(); c; c = c->next) forgetElements((tItem*)c);
    myElements.destroy();
    myControls.destroy();
    myItems.destroy();
    build();
    return true;
}

tItem* cTreeViewChild::find(void* data) { return find(root(), data); }

tItem* cTreeViewChild::find(cTreeViewItem* from, void* data) {
    for (cTreeItem* i = from; i; i = i->next) {
        if (((tItem*)i)->data == data) return (tItem*)i;
        tItem* sub = find((tItem*)i->firstChild, data);
        if (sub) return sub;
    }
    return nullptr;
}

tItem* cTreeViewChild::isChild(cChildElement* element) {
    tItem** i = myElements.find(element);
    return i ? *i : nullptr;
}

tItem* cTreeViewChild::isCtl(cChildElement* element) {
    tItem** i = myControls.find(element);
    return i ? *i : nullptr;
}

// ---- layout ----

void cTreeViewChild::build() {
    myBuilds++;
    int y = 1, R = 0, M = height();
    buildTreeRec(root(), 0, true, y, R, M);
    setMinVisualHeight(y);
    if (myHScroll) setMinVisualWidth(R);
    setQuantumSize(5, mySpacing + (M > 0 ? M : 1));
    repaint();
}

void cTreeViewChild::buildTreeRec(cTreeViewItem* first, int level, bool visible, int& y, int& R, int& M) {
    for (tItem* item = first; item; item = (tItem*)item->next) {
        if (!item->element) {
            item->element = newTreeItemElement(item);
            attach(item->element, 0, 0, 1, 1);
            item->element->setArrowTabStop(true);
            item->element->setDoubleBuffer(true);
            *myElements.insert(item->element) = item;
            item->control = newTreeViewControlElement(item);
            attach(item->control, 0, 0, 1, 1);
            item->control->setDoubleBuffer(true);
            *myControls.insert(item->control) = item;
            onElementAttach(item, item->element);
        }
        cTreeItemElement* e = item->element;
        cTreeViewControlElement* c = item->control;
        e->setText(item->myText.ptr, cCanvas::taLeft, false);
        if (item->image >= 0) {
            cPicture* p[3];
            for (int k = 0; k < 3; k++) p[k] = myLists[k] ? myLists[k]->image(item->image) : nullptr;
            e->setImages(p[0], p[1], p[2], false);
        }
        if (visible) {
            sSize s = {0, 0};
            e->wantsSize(s);
            int w = s.cx + myCellSpacing, h = s.cy + myCellSpacing;
            int x = 1 + myIndicatorW + myOutline * level;
            e->move(x, y, w, h);
            c->move(x - myIndicatorW, y, myIndicatorW, h);
            c->setTextMargin(myCellSpacing / 2);
            y += h + mySpacing;
            if (x + w > R) R = x + w;
            if (h < M) M = h;
            e->setBgColorStd(item == myUnfocused ? myUnfocusedColours[1] : myBg);
            c->setColorSchema(c->textColor(), myBg, myBg);
            if (item->textColor != 0xFFFFFFFFu) e->setTextColorCommon(item->textColor);
            e->show(false);
            c->show(false);
        } else {
            e->hide(false);
            c->hide(false);
        }
        if (isSub(item)) {
            buildTreeRec((tItem*)item->firstChild, level + 1, visible && !item->collapsed, y, R, M);
            c->setKind(item->collapsed ? cTreeViewControlElement::ckCollapsed : cTreeViewControlElement::ckExpanded,
                       true);
        } else {
            c->setKind(item->next ? cTreeViewControlElement::ckLine : cTreeViewControlElement::ckLast, true);
        }
    }
}

void cTreeViewChild::startChanges() { myInChanges = true; }

void cTreeViewChild::endChanges() {
    myInChanges = false;
    if (myRebuildPending) {
        myRebuildPending = false;
        build();
    }
}

// ---- selection and branches ----

void cTreeViewChild::selectElement(cTreeViewItem* item) {
    if (item && item->element) item->element->select(true);
}

bool cTreeViewChild::select(cTreeViewItem* item, bool focus) {
    if (!item || !item->element) return false;
    mySelected = item;
    if (focus) {
        item->element->select(true);
    } else {
        markUnfocused(item);
        scrollToChild(item->element);
    }
    return true;
}

bool cTreeViewChild::selectRoot() {
    tItem* r = root();
    if (!r || !r->element) return false;
    r->element->select(true);
    return true;
}

void cTreeViewChild::deselect(unsigned int textColour) {
    if (!mySelected) return;
    if (mySelected->element) {
        unsigned int t = textColour == 0xFFFFFFFFu ? myStdColours[0] : textColour;
        mySelected->element->setStdColorSchema(t, myStdColours[1], myStdColours[2]);
        mySelected->element->setColorSchema(t, myStdColours[1], myStdColours[2]);
    }
    mySelected = myUnfocused = nullptr;
}

bool cTreeViewChild::expand(cTreeViewItem* item, bool notify) {
    if (!item || !item->element || !item->collapsed || !isSub(item)) return false;
    item->collapsed = false;
    if (myInChanges) {
        myRebuildPending = true;
    } else {
        processSubRead(item);
        build();
    }
    if (notify) notifyAction(new cTreeItemAction(eTvExpanded, item));
    return true;
}

bool cTreeViewChild::collapse(cTreeViewItem* item, bool notify) {
    if (!item || !item->element || item->collapsed || !isSub(item)) return false;
    item->collapsed = true;
    changed();
    if (notify) notifyAction(new cTreeItemAction(eTvExpanded, item));
    return true;
}

// ---- focus colours ----

void cTreeViewChild::markUnfocused(cTreeViewItem* item) {
    restoreUnfocused();
    if (!item || !item->element) return;
    cTreeItemElement* e = item->element;
    e->getStdColorSchema(mySaved[0], mySaved[1], mySaved[2]);
    unsigned int c[3];
    for (int k = 0; k < 3; k++) c[k] = myUnfocusedColours[k] == 0xFFFFFFFFu ? mySaved[k] : myUnfocusedColours[k];
    e->setStdColorSchema(c[0], c[1], c[2]);
    myUnfocused = item;
}

void cTreeViewChild::restoreUnfocused() {
    if (myUnfocused && myUnfocused->element && myElements.find(myUnfocused->element))
        myUnfocused->element->setStdColorSchema(mySaved[0], mySaved[1], mySaved[2]);
    myUnfocused = nullptr;
}

void cTreeViewChild::itemFocusLost(cTreeItemElement* element) {
    cElementHost* h = host();
    cChildElement* now = h ? h->focusElement() : nullptr;
    // Focus moving among the view's own elements keeps the focused look.
    if (now && (now == this || cChildElement::isChild(now))) return;
    if (!myUnfocused && mySelected && mySelected->element == element) markUnfocused(mySelected);
}

void cTreeViewChild::itemFocusGained(cTreeItemElement*) { restoreUnfocused(); }

void cTreeViewChild::onSetFocus() {
    cScrollableElement::onSetFocus();
    if (mySelected && mySelected->element)
        mySelected->element->select(true);
    else
        selectRoot();
}

// ---- keys ----

tItem* cTreeViewChild::lastVisible(cTreeViewItem* item) {
    while (item && !item->collapsed && item->lastChild) item = (tItem*)item->lastChild;
    return item;
}

bool cTreeViewChild::processKey(int key, bool shift, bool ctrl, bool alt) {
    bool arrow = key == kKeyLeft || key == kKeyUp || key == kKeyRight || key == kKeyDown;
    bool plain = !shift && !ctrl && !alt;
    bool ctrlOnly = ctrl && !shift && !alt && (key == kKeyUp || key == kKeyDown);
    if (!arrow || !(plain || ctrlOnly) || !visible() || !enabled())
        return cScrollableElement::processKey(key, shift, ctrl, alt);
    tItem* s = mySelected;
    if (!s) {
        selectRoot();
        return true;
    }
    tItem* target = nullptr;
    if (ctrlOnly) {
        target = (tItem*)(key == kKeyDown ? s->next : s->prev);
    } else if (key == kKeyLeft) {
        target = (tItem*)s->parent;
    } else if (key == kKeyUp) {
        target = s->prev ? lastVisible((tItem*)s->prev) : (tItem*)s->parent;
    } else if (key == kKeyRight) {
        if (isSub(s)) {
            expand(s, false);
            target = (tItem*)s->firstChild;
        }
    } else {  // Down
        if (!s->collapsed && s->firstChild) {
            target = (tItem*)s->firstChild;
        } else {
            for (cTreeItem* a = s; a && !target; a = a->parent) target = (tItem*)a->next;
        }
    }
    if (target) selectElement(target);
    return true;
}

// ---- actions ----

bool cTreeViewChild::onAction(cChildElement* sender, cChildAction* action) {
    if (!action) return cScrollableElement::onAction(sender, action);
    tItem* item = isChild(sender);
    if (item) {
        switch (action->type) {
        case cChildElement::eActContext: {
            auto* c = dynamic_cast<cContextAction*>(action);
            int x = sender->x() - shiftX() + (c ? c->x : 0);
            int y = sender->y() - shiftY() + (c ? c->y : 0);
            notifyAction(new cTreeItemCtxAction(item, x, y));
            return true;
        }
        case 6:
            if (mySelected && mySelected->element == sender) return true;
            mySelected = item;
            notifyAction(new cTreeItemAction(eTvSelected, item));
            return true;
        case 7:
            notifyAction(new cTreeItemAction(eTvActivated, item));
            return true;
        case 8:
            if (item->collapsed) {
                item->collapsed = false;
                processSubRead(item);
                build();
                notifyAction(new cTreeItemAction(eTvExpanded, item));
            }
            return true;
        case 9:
            if (!item->collapsed && isSub(item)) {
                item->collapsed = true;
                build();
                notifyAction(new cTreeItemAction(eTvExpanded, item));
            }
            return true;
        default:
            return cScrollableElement::onAction(sender, action);
        }
    }
    item = isCtl(sender);
    if (item) {
        processSubRead(item);
        if (!item->firstChild) return true;
        item->collapsed = !item->collapsed;
        selectElement(item);
        build();
        notifyAction(new cTreeItemAction(eTvExpanded, item));
        return true;
    }
    return cScrollableElement::onAction(sender, action);
}

// ---- appearance ----

void cTreeViewChild::setOutline(int v) {
    if (v == myOutline) return;
    myOutline = v;
    changed();
}
void cTreeViewChild::setSpacing(int v) {
    if (v == mySpacing) return;
    mySpacing = v;
    changed();
}
void cTreeViewChild::setCellSpacing(int v) {
    if (v == myCellSpacing) return;
    myCellSpacing = v;
    changed();
}
void cTreeViewChild::setStructIndicatorWidth(int v) {
    if (v == myIndicatorW) return;
    myIndicatorW = v;
    changed();
}
void cTreeViewChild::setBgColor(unsigned int colour) {
    if (colour == myBg) return;
    myBg = colour;
    changed();
}
void cTreeViewChild::setFrmColor(unsigned int colour) {
    myFrame = colour;
    repaint();
}
void cTreeViewChild::setImageLists(cPicturesList* normal, cPicturesList* hover, cPicturesList* selected) {
    if (myLists[0] == normal && myLists[1] == hover && myLists[2] == selected) return;
    myLists[0] = normal;
    myLists[1] = hover;
    myLists[2] = selected;
    changed();
}
void cTreeViewChild::setHScroll(bool on) {
    if (on == myHScroll) return;
    myHScroll = on;
    if (!on) setMinVisualWidth(0);
    changed();
}
void cTreeViewChild::setUnfocusedColors(unsigned int text, unsigned int bg, unsigned int frame) {
    myUnfocusedColours[0] = text;
    myUnfocusedColours[1] = bg;
    myUnfocusedColours[2] = frame;
}
void cTreeViewChild::setStdColors(unsigned int text, unsigned int bg, unsigned int frame) {
    myStdColours[0] = text;
    myStdColours[1] = bg;
    myStdColours[2] = frame;
}

void cTreeViewChild::onPaintArea(cCanvas* canvas) {
    sRect r = {0, 0, width(), height()};
    canvas->drawRect(&r, myBg, myFrame);
}

void cTreeViewChild::onSizeChanged() {
    cScrollableElement::onSizeChanged();
    setPageSize(width(), height());
}
