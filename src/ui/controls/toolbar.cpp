// cToolBarChild: buttons by id, their shared look, the layout with its two overflow
// behaviours (collapse the middle, cut at the end) and the overflow drop-down.
#include "ui/controls/toolbar.h"

#include <cstring>

#include "ciplatform/canvas.h"
#include "ciplatform/windowmaker.h"
#include "ui/theme.h"

namespace {
unsigned int themeColour(int n) { return cCITheme::theme()->getColor(n); }
}  // namespace

cToolBarChild::cToolBarChild() {
    myBg = themeColour(14);
    myFrame = themeColour(21);
    myTextColour = themeColour(4);
}

cToolBarChild::~cToolBarChild() {
    myButtons.destroy();
    myOverflowItems.destroy();
}

void cToolBarChild::onInitData() {
    cChildElement::onInitData();
    attach(&myOverflow, 0, 0, 1, 1, eCPTFixed);
    myOverflow.setTransparent(transparent());
    myOverflow.setAcceptFocus(false);
    myOverflow.setBorder(cButtonChild::brdFrame, false);
    myOverflow.image(cButtonChild::stNormal)->refImage(cCITheme::theme()->getPict(72), false);
    myOverflow.hide(false);
    myFixedWidth = 0;
    myHideFrom = 0;
    myBehavior = ssbNone;
}

// ---- buttons ----

cButtonChild* cToolBarChild::findButton(int id) {
    cPtr<cButtonChild>* p = myButtons.find(id);
    return p ? p->ptr : nullptr;
}

void cToolBarChild::refreshPictures(int id, cButtonChild* b) {
    int* index = myImageIndex.find(id);
    for (auto* e = myImageLists.first(); e; e = myImageLists.next(e)) {
        cPicturesList* list = e->value();
        cPicture* p = list && index && *index >= 0 ? list->image(*index) : nullptr;
        b->image((cButtonChild::eButtonStates)e->key())->refImage(p, false);
    }
}

bool cToolBarChild::setButton(int id, const char* text, int image) {
    if (!text && image < 0) return removeButton(id);
    cButtonChild* b = findButton(id);
    if (b) {
        bool changed = false;
        if (text && (!b->text() || strcmp(b->text(), text) != 0)) {
            b->setText(text);
            changed = true;
        }
        int* index = myImageIndex.find(id);
        if (!index || *index != image) {
            *myImageIndex.insert(id) = image;
            refreshPictures(id, b);
            changed = true;
        }
        if (changed) rebuildToolbar();
        return true;
    }
    b = allocButton();
    if (!b) return false;
    *myButtons.insert(id) = b;
    attach(b, 0, 0, 1, 1, eCPTFixed);
    b->setTransparent(transparent());
    if (text) b->setText(text, -1, false);
    if (myButtonsAcceptFocus >= 0) b->setAcceptFocus(myButtonsAcceptFocus != 0);
    else b->setAcceptFocus(wantAcceptFoucs());
    b->setBorder(myBorderedStyle, false);
    b->setTextColor(myTextColour, false);
    if (myFont) b->setFont(myFont);
    if (!myImageIndex.find(id)) *myImageIndex.insert(id) = image;
    refreshPictures(id, b);
    if (!initButton(id, b)) {
        removeButton(id);
        return false;
    }
    rebuildToolbar();
    return true;
}

bool cToolBarChild::setSeparator(int id) {
    cButtonChild* b = findButton(id);
    if (b) {
        bool changed = false;
        if (b->text()) {
            b->setText(nullptr, -1, false);
            changed = true;
        }
        if (myImageIndex.find(id)) {
            myImageIndex.dettach(id);
            b->image(cButtonChild::stNormal)->refImage(b->stateBackImage(cButtonChild::stHover), false);
            changed = true;
        }
        if (b->enabled()) {
            b->disable(false);
            changed = true;
        }
        if (changed) rebuildToolbar();
        return true;
    }
    b = allocButton();
    if (!b) return false;
    *myButtons.insert(id) = b;
    attach(b, 0, 0, 1, 1, eCPTFixed);
    b->setTransparent(transparent());
    b->setAcceptFocus(false);
    b->setBorder(myBorderedStyle, false);
    b->image(cButtonChild::stNormal)->refImage(b->stateBackImage(cButtonChild::stHover), false);
    b->disable(false);
    rebuildToolbar();
    return true;
}

bool cToolBarChild::removeButton(int id) {
    cButtonChild* b = findButton(id);
    if (!b) return false;
    dettach(b);
    myImageIndex.dettach(id);
    myHidden.dettach(id);
    myButtons.dettach(id);  // deletes the button
    rebuildToolbar();
    return true;
}

void cToolBarChild::removeAll(bool repaint) {
    for (auto* e = myButtons.first(); e; e = myButtons.next(e))
        if (e->value().ptr) dettach(e->value().ptr);
    myButtons.destroy();
    myImageIndex.destroy();
    myHidden.destroy();
    if (repaint) this->repaint();
}

bool cToolBarChild::buttonAbsPos(int id, sPoint& at) {
    cButtonChild* b = findButton(id);
    return b && b->absPos(at);
}

bool cToolBarChild::setVisible(int id, bool visible) {
    cButtonChild* b = findButton(id);
    if (!b) return false;
    if (!visible) {
        *myHidden.insert(id) = true;
        b->hide();
    } else {
        myHidden.dettach(id);
    }
    rebuildToolbar();
    return true;
}

void cToolBarChild::setEnabled(int id, bool enabled) {
    cButtonChild* b = findButton(id);
    if (!b) return;
    if (enabled)
        b->enable();
    else
        b->disable(true);
}

bool cToolBarChild::isEnabled(int id) {
    cButtonChild* b = findButton(id);
    return b && b->enabled();
}

void cToolBarChild::setHint(int id, const char* text) {
    if (cButtonChild* b = findButton(id)) b->cChildElement::setHint(text);
}

void cToolBarChild::setButtonFont(int id, cFontObject* font) {
    cButtonChild* b = findButton(id);
    if (!b) return;
    b->setFont(font);
    rebuildToolbar();
}

void cToolBarChild::setButtonTextColor(int id, unsigned int colour) {
    if (cButtonChild* b = findButton(id)) b->setTextColor(colour);
}

// ---- the whole row ----

void cToolBarChild::setImageList(cButtonChild::eButtonStates state, cPicturesList* list) {
    *myImageLists.insert((int)state) = list;
    for (auto* e = myButtons.first(); e; e = myButtons.next(e)) {
        int* index = myImageIndex.find(e->key());
        if (index && *index >= 0 && e->value().ptr)
            e->value().ptr->image(state)->refImage(list ? list->image(*index) : nullptr, false);
    }
    rebuildToolbar();
}

void cToolBarChild::setFixedButtonWidth(int w) {
    if (w < 0) return;
    myFixedWidth = w;
    rebuildToolbar();
}

void cToolBarChild::setBorderedButtonStyle(cButtonChild::eBorderStyle style) {
    if (myBorderedStyle == style) return;
    myBorderedStyle = style;
    rebuildToolbar();
}

void cToolBarChild::setBorder(bool on) {
    if (myBorder == on) return;
    myBorder = on;
    rebuildToolbar();
}

void cToolBarChild::setDrawOwnBorder(bool on) {
    if (myDrawOwnBorder == on) return;
    myDrawOwnBorder = on;
    repaint();
}

void cToolBarChild::setButtonsStyle(cButtonChild::eDispStyle style) {
    if (myStyle == style) return;
    myStyle = style;
    rebuildToolbar();
}

void cToolBarChild::setSmallerSizeBehavior(eSmallerSizeBehavior b) {
    if (myBehavior == b) return;
    myBehavior = b;
    if (wantsWidth() > width()) rebuildToolbar();
}

void cToolBarChild::setHideFrom(int id) {
    if (id < 0) id = 0;
    if (myHideFrom == id) return;
    myHideFrom = id;
    if (wantsWidth() > width()) rebuildToolbar();
}

void cToolBarChild::setBgColor(unsigned int colour, bool repaint) {
    if (myBg == colour) return;
    myBg = colour;
    if (repaint) this->repaint();
}

void cToolBarChild::setButtonsTextColor(unsigned int colour) {
    if (myTextColour == colour) return;
    myTextColour = colour;
    for (auto* e = myButtons.first(); e; e = myButtons.next(e))
        if (e->value().ptr) e->value().ptr->setTextColor(colour);
}

void cToolBarChild::setButtonsTextColor(cButtonChild::eButtonStates state, unsigned int colour) {
    for (auto* e = myButtons.first(); e; e = myButtons.next(e))
        if (e->value().ptr) e->value().ptr->setTextColor(state, colour);
}

void cToolBarChild::setButtonsFont(cFontObject* font) {
    if (myFont == font) return;
    myFont = font;
    for (auto* e = myButtons.first(); e; e = myButtons.next(e))
        if (e->value().ptr) e->value().ptr->setFont(font);
    rebuildToolbar();
}

void cToolBarChild::refButtonsBgImage(cButtonChild::eButtonStates state, cPicture* picture) {
    for (auto* e = myButtons.first(); e; e = myButtons.next(e))
        if (e->value().ptr) e->value().ptr->refStateBackImage(state, picture);
}

void cToolBarChild::setButtonsBorderColor(cButtonChild::eButtonStates state, unsigned int colour) {
    for (auto* e = myButtons.first(); e; e = myButtons.next(e))
        if (e->value().ptr) e->value().ptr->setBorderColors(state, colour, colour);
}

void cToolBarChild::setDftBorderColors(unsigned int light, unsigned int dark) {
    myDftLight = light;
    myDftDark = dark;
    if (myOverflow.visible_child() || wantsWidth() > width()) rebuildToolbar();
}

void cToolBarChild::setButtonAcceptFocus(bool on) {
    myButtonsAcceptFocus = on ? 1 : 0;
    bool held = false;
    for (auto* e = myButtons.first(); e; e = myButtons.next(e)) {
        cButtonChild* b = e->value().ptr;
        if (!b) continue;
        if (b->focused()) held = true;
        b->setAcceptFocus(on);
    }
    if (!on && held) focus();
}

void cToolBarChild::setTransparent(bool on) {
    for (auto* e = myButtons.first(); e; e = myButtons.next(e))
        if (e->value().ptr) e->value().ptr->setTransparent(on);
    myOverflow.setTransparent(on);
    cChildElement::setTransparent(on);
}

void cToolBarChild::setMaxDDHeight(int h) {
    if (h >= 17) myMaxDDHeight = h;
}

// ---- layout ----

int cToolBarChild::naturalWidth(cButtonChild* b, bool applyFixed) {
    if (applyFixed && myFixedWidth > 0) return myFixedWidth;
    int r = cButtonChild::requiredWidth(this, b->text(), b->image(cButtonChild::stNormal)->image(), myStyle,
                                        b->font());
    return r > myMinButtonWidth ? r : myMinButtonWidth;
}

int cToolBarChild::wantsWidth() {
    long long sum = 0;
    for (auto* e = myButtons.first(); e; e = myButtons.next(e))
        if (e->value().ptr && !myHidden.find(e->key())) sum += naturalWidth(e->value().ptr, true);
    return sum > 0x3FFFFFFF ? 0x3FFFFFFF : (int)sum;
}

void cToolBarChild::place(int id, cButtonChild* b, int& x, int w) {
    sRect cr;
    clientRect(&cr);
    b->move(x, 0, w, cr.h);
    b->setBorder(myBorder ? myBorderedStyle : cButtonChild::brdHot, false);
    b->setBgColor(myBg, false);
    b->setBorderColors(cButtonChild::stNormal, myDftLight, myDftDark);
    x += w;
}

void cToolBarChild::addOverflowItem(int id, cButtonChild* b, int w, bool withHint) {
    sActiveElementItem* item = myOverflowItems.insert(id);
    if (!item) return;
    item->text.set(b->text());
    if (withHint && b->hint()) item->hint.set(b->hint());
    int* index = myImageIndex.find(id);
    item->imageId = index ? *index : -1;
    item->height = height();
    item->association = nullptr;
    if (w > myListW) myListW = w;
    myListH += height();
}

void cToolBarChild::rebuildToolbar() {
    sRect cr;
    clientRect(&cr);
    int W = width(), want = wantsWidth();
    myOverflowItems.destroy();
    myListW = myListH = 0;
    for (auto* e = myButtons.first(); e; e = myButtons.next(e)) {
        cButtonChild* b = e->value().ptr;
        if (!b) continue;
        b->setStyle(myStyle, false);
        b->setAlign(myStyle == cButtonChild::dsPictTop ? cCanvas::taCenter : cCanvas::taLeft, false);
        // Hidden marks first: a marked button is hidden, an unmarked hidden one shown.
        bool marked = myHidden.find(e->key()) != nullptr;
        if (marked && b->visible_child()) b->hide();
        if (!marked && !b->visible_child()) b->show();
    }
    if (myBehavior == ssbNone || want <= W) {
        myOverflow.hide();
        int x = 0;
        for (auto* e = myButtons.first(); e; e = myButtons.next(e)) {
            cButtonChild* b = e->value().ptr;
            if (b && b->visible_child()) place(e->key(), b, x, naturalWidth(b, true));
        }
        repaint();
        return;
    }
    myOverflow.show();
    int D = cButtonChild::requiredWidth(this, nullptr, cCITheme::theme()->getPict(72), myStyle, nullptr);
    if (myBehavior == ssbCollapseMiddle) {
        int x = 0;
        auto* e = myButtons.first();
        for (; e && e->key() < myHideFrom; e = myButtons.next(e)) {
            cButtonChild* b = e->value().ptr;
            if (b && b->visible_child()) place(e->key(), b, x, naturalWidth(b, false));
        }
        int overflowX = x;
        myOverflow.move(overflowX, 0, D, cr.h);
        // Trailing buttons that fit after the overflow button stay; the rest is listed.
        int room = W - overflowX - D, used = 0;
        decltype(e) cut = nullptr;
        for (auto* t = myButtons.last(); t && t->key() >= myHideFrom; t = myButtons.prev(t)) {
            cButtonChild* b = t->value().ptr;
            if (!b || myHidden.find(t->key())) continue;
            int w = naturalWidth(b, false);
            if (used + w > room) {
                cut = t;
                break;
            }
            used += w;
        }
        x = overflowX + D;
        bool listing = cut != nullptr;
        for (; e; e = myButtons.next(e)) {
            cButtonChild* b = e->value().ptr;
            if (!b || myHidden.find(e->key())) continue;
            if (listing) {
                // Separators (disabled) in the listed range are hidden but not listed.
                b->hide();
                if (b->enabled()) addOverflowItem(e->key(), b, myFixedWidth > 0 ? myFixedWidth : naturalWidth(b, false), false);
                if (e == cut) listing = false;
                continue;
            }
            place(e->key(), b, x, naturalWidth(b, false));
        }
    } else if (myBehavior == ssbCutEnd) {
        int x = 0;
        bool cutting = false;
        for (auto* e = myButtons.first(); e; e = myButtons.next(e)) {
            cButtonChild* b = e->value().ptr;
            if (!b || myHidden.find(e->key())) continue;
            int w = naturalWidth(b, true);
            if (!cutting && (long long)x + D + w > W) {
                cutting = true;
                myOverflow.move(x, 0, D, cr.h);
            }
            if (cutting) {
                b->hide();
                if (b->enabled()) addOverflowItem(e->key(), b, w, true);
                continue;
            }
            place(e->key(), b, x, w);
        }
    }
    repaint();
}

void cToolBarChild::onSizeChanged() {
    cChildElement::onSizeChanged();
    if (myBehavior != ssbNone && (myOverflow.visible_child() || wantsWidth() > width())) rebuildToolbar();
}

void cToolBarChild::overflowListSize(int& w, int& h) {
    w = (int)((myListW + (myListH > myMaxDDHeight ? 16 : 0)) * 1.1);
    h = myListH < myMaxDDHeight ? myListH : myMaxDDHeight;
}

void cToolBarChild::runOverflow() {
    sPoint at;
    if (!myOverflow.absPos(at)) return;
    int w, h;
    overflowListSize(w, h);
    cPicturesList** list = myImageLists.find((int)cButtonChild::stNormal);
    const unsigned int none = 0xFFFFFFFFu;
    int id = cPopupMaster::runPopUp(this, myOverflowItems, list ? *list : nullptr, at.x,
                                    at.y + myOverflow.height() + 1, w, h, -1, myBg, myTextColour, none, myFont,
                                    none, none, none, none, none, none);
    if (id >= 0) notifyAction(new cTbButtonAction(id));
}

bool cToolBarChild::onAction(cChildElement* sender, cChildAction* action) {
    if (action->type != eActClick) return false;
    if (sender == &myOverflow) {
        runOverflow();
        return true;
    }
    for (auto* e = myButtons.first(); e; e = myButtons.next(e))
        if (e->value().ptr == sender) {
            notifyAction(new cTbButtonAction(e->key()));
            return true;
        }
    return false;
}

void cToolBarChild::onMouseButton(int x, int y, int button, bool down) {
    if (button == kMouseLeft && down) notifyAction(new cChildAction(7));
}

void cToolBarChild::onPaint(cCanvas* canvas) {
    if (transparent()) return;
    sRect r;
    clientRect(&r);
    canvas->drawRect(&r, myBg, myBorder && myDrawOwnBorder ? myFrame : myBg);
}
