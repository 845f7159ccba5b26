// cPopupMaster: sizing the list, fitting it to the desktop, building one button per
// shown item, and the four ways a run ends (a click, Esc, a press outside, focus loss).
#include "ui/controls/popupmenu.h"

#include "ciplatform/canvas.h"
#include "ciplatform/windowmaker.h"
#include "ui/theme.h"

namespace {

unsigned int themeColour(int n) { return cCITheme::theme()->getColor(n); }

// A 0x00BBGGRR colour as a 1 x 1 picture (0xFFRRGGBB).
void solid(cPicture& p, unsigned int bgr) {
    unsigned int argb = 0xFF000000u | ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
    p.create(argb, 1, 1);
}

cPicture* itemPicture(cPicturesList* images, const sActiveElementItem& item) {
    if (!images || item.imageId < 0) return nullptr;
    cPicture* p = images->image(item.imageId);
    return p && p->raw() ? p : nullptr;
}

}  // namespace

cPopupMaster::sPopupConfig::sPopupConfig() {
    background = themeColour(14);
    text = themeColour(4);
    frame = themeColour(21);
}

cPopupMaster::~cPopupMaster() { myButtons.destroy(); }

bool cPopupMaster::evalSize(cChildElement* owner, tPopupItems& items, cPicturesList* images, sSize& size,
                            cFontObject* font) {
    size.cx = size.cy = 0;
    if (!owner) return false;
    cFontObject* f = font ? font : owner->stdFont();
    if (!f) return false;
    int widest = 0;
    long long height = 0;
    for (tPopupItems::sEntry* e = items.first(); e; e = items.next(e)) {
        sActiveElementItem& item = e->value();
        if (item.text.empty()) continue;
        sSize t = {0, 0};
        owner->sizeOf(item.text.ptr, t, f);
        cPicture* p = itemPicture(images, item);
        if (p && p->height() > t.cy) t.cy = p->height();
        height += item.height >= 1 ? item.height : t.cy + 7;
        int w = cButtonChild::requiredWidth(owner, item.text.ptr, p, cButtonChild::dsPictLeft, font);
        if (w > widest) widest = w;
    }
    size.cx = widest + 2;
    size.cy = height > 0x3FFFFFFF ? 0x3FFFFFFF : (int)height;
    return true;
}

int cPopupMaster::runPopUp(cChildElement* owner, tPopupItems& items, cPicturesList* images, int x, int y, int w,
                           int h, int selectedId, unsigned int background, unsigned int text, unsigned int frame,
                           cFontObject* font, unsigned int hoverBackground, unsigned int hoverText,
                           unsigned int pressedBackground, unsigned int pressedText, unsigned int focusBackground,
                           unsigned int focusText) {
    if (items.empty() || !owner || !owner->platformWindow()) return -1;
    sSize desk;
    if (owner->desktopSize(desk) && desk.cx > 0 && desk.cy > 0) {
        if ((long long)x + w > desk.cx) x = desk.cx - w > 0 ? desk.cx - w : 0;
        if ((long long)y + h > desk.cy) {
            int below = desk.cy - y, above = y;
            if (below >= above) {
                h = below;
            } else {
                h = h < y ? h : y;
                y -= h;
            }
        }
    }
    if (h < 0) h = 0;
    cPopupMaster* p = new cPopupMaster;
    p->myItems = &items;
    p->myImages = images;
    p->myFont = font;
    p->myBg = background;
    p->myText = text;
    p->myFrame = frame == 0xFFFFFFFFu ? themeColour(21) : frame;
    p->myHoverBg = hoverBackground;
    p->myHoverText = hoverText;
    p->myPressedBg = pressedBackground;
    p->myPressedText = pressedText;
    p->myFocusBg = focusBackground;
    p->myFocusText = focusText;
    p->mySelectedId = selectedId;
    return owner->modal_popup(x, y, w, h + 2, p);
}

int cPopupMaster::simplePopup(cChildElement* owner, tPopupItems& items, int x, int y, int minWidth,
                              cPicturesList* images, int selectedId, unsigned int background, unsigned int text,
                              unsigned int frame, cFontObject* font, unsigned int hoverBackground,
                              unsigned int hoverText, unsigned int pressedBackground, unsigned int pressedText,
                              unsigned int focusBackground, unsigned int focusText) {
    sSize s;
    if (!evalSize(owner, items, images, s, font)) return -1;
    return runPopUp(owner, items, images, x, y, s.cx > minWidth ? s.cx : minWidth, s.cy, selectedId, background,
                    text, frame, font, hoverBackground, hoverText, pressedBackground, pressedText, focusBackground,
                    focusText);
}

int cPopupMaster::simplePopup(cChildElement* owner, tPopupItems& items, int x, int y, sPopupConfig* c) {
    const unsigned int none = 0xFFFFFFFFu;
    if (!c)
        return simplePopup(owner, items, x, y, 0, nullptr, -1, 0xFFFFFF, 0, none, nullptr, none, none, none, none,
                           none, none);
    return simplePopup(owner, items, x, y, c->minWidth, c->images, c->selectedId, c->background, c->text, c->frame,
                       c->font, c->hoverBackground, c->hoverText, c->pressedBackground, c->pressedText,
                       c->focusBackground, c->focusText);
}

// ---- the element ----

void cPopupMaster::onConstruct() {
    cScrollableElement::onConstruct();
    onInitData();
}

void cPopupMaster::onInitData() {
    cScrollableElement::onInitData();
    // The buttons are built once, when the element is constructed in its window.
    if (!myItems || !constructed()) return;
    sSize eval;
    evalSize(this, *myItems, myImages, eval, nullptr);
    setMinVisualHeight(eval.cy);
    int W = eval.cx > width() ? eval.cx : width();
    myButtons.destroy();
    cFontObject* font = myFont ? myFont : stdFont();
    if (!font) return;
    int V = getVScrollRes();
    if (myHoverBg != 0xFFFFFFFFu) solid(myHoverPict, myHoverBg);
    if (myPressedBg != 0xFFFFFFFFu) solid(myPressedPict, myPressedBg);
    if (myFocusBg != 0xFFFFFFFFu) solid(myFocusPict, myFocusBg);
    int y = 1;
    cButtonChild* remembered = nullptr;
    for (tPopupItems::sEntry* e = myItems->first(); e; e = myItems->next(e)) {
        sActiveElementItem& item = e->value();
        cPicture* pict = itemPicture(myImages, item);
        if (item.text.empty() && !pict) continue;
        int h = item.height;
        if (h < 1) {
            sSize t = {0, 0};
            if (!item.text.empty()) sizeOf(item.text.ptr, t, font);
            h = (t.cy > (pict ? pict->height() : 0) ? t.cy : pict->height()) + 7;
        }
        cBtnListItem* bi = new cBtnListItem;
        bi->entry = e;
        myButtons.add(bi);
        cButtonChild& b = bi->button;
        attach(&b, 1, y, W - 2 - V, h);
        b.setTransparent(true);
        b.setText(item.text.ptr, -1, false);
        b.setBorder(cButtonChild::brdPicture, false);
        b.setBgColor(myBg, false);
        b.setTextColor(myText, false);
        if (myHoverBg != 0xFFFFFFFFu) b.refStateBackImage(cButtonChild::stHover, &myHoverPict);
        if (myPressedBg != 0xFFFFFFFFu) b.refStateBackImage(cButtonChild::stPressed, &myPressedPict);
        if (myFocusBg != 0xFFFFFFFFu) b.refStateBackImage(cButtonChild::stFocused, &myFocusPict);
        if (myHoverText != 0xFFFFFFFFu) b.setTextColor(cButtonChild::stHover, myHoverText, false);
        if (myPressedText != 0xFFFFFFFFu) b.setTextColor(cButtonChild::stPressed, myPressedText, false);
        if (myFocusText != 0xFFFFFFFFu) b.setTextColor(cButtonChild::stFocused, myFocusText, false);
        if (!item.hint.empty()) b.setHint(item.hint.ptr);
        b.setFont(font);
        // Up and Down walk the list; Return or Space chooses the item with the focus.
        b.setArrowTabStop(true);
        if (pict) b.image(cButtonChild::stNormal)->refImage(pict, false);
        if (e->key() == mySelectedId) remembered = &b;
        y += h;
    }
    long long n = myButtons.count() ? myButtons.count() : 1;
    int q = (int)(eval.cy / n);
    if (q <= 0) q = 1;
    setPageSize(5, height() / q * q > 0 ? height() / q * q : q);
    setQuantumSize(5, q);
    if (remembered) remembered->focus();
}

cButtonChild* cPopupMaster::buttonOf(int id) {
    for (cListItem* i = myButtons.first(); i; i = i->next) {
        cBtnListItem* b = static_cast<cBtnListItem*>(i);
        if (b->entry && b->entry->key() == id) return &b->button;
    }
    return nullptr;
}

void cPopupMaster::onPaintArea(cCanvas* canvas) {
    sRect r = {0, 0, width(), height()};
    canvas->drawRect(&r, myBg, myFrame);
}

bool cPopupMaster::onBackgroundRequest(cCanvas* canvas, sRect* rect) {
    if (!canvas) return false;
    sRect r = {0, 0, canvas->width(), canvas->height()};
    canvas->drawRect(&r, myBg, myBg);
    return true;
}

void cPopupMaster::finish(int code) {
    if (myEnded) return;
    myEnded = true;
    releasePointer();
    end_modal(code);
}

bool cPopupMaster::onAction(cChildElement* sender, cChildAction* action) {
    // An item reached with the arrows comes into view in a list taller than the popup.
    if (action->type == eActFocus && sender != this && isChild(sender)) scrollToChild(sender);
    if (action->type == eActClick) {
        for (cListItem* i = myButtons.first(); i; i = i->next) {
            cBtnListItem* b = static_cast<cBtnListItem*>(i);
            if (&b->button == sender && b->entry) {
                finish(b->entry->key());
                return true;
            }
        }
    }
    return cScrollableElement::onAction(sender, action);
}

bool cPopupMaster::processKey(int key, bool shift, bool ctrl, bool alt) {
    if (key == kKeyEscape) {
        finish(-1);
        return true;
    }
    return cChildElement::processKey(key, shift, ctrl, alt);
}

void cPopupMaster::processMouseBtn(int x, int y, int button, bool pressed, bool ctrl, bool shift) {
    // The popup window grabs the pointer: a press outside the list arrives here in the
    // list's own coordinates and dismisses it.
    if (pressed && (x < 0 || y < 0 || x > width() || y > height())) {
        finish(-1);
        return;
    }
    cScrollableElement::processMouseBtn(x, y, button, pressed, ctrl, shift);
}

void cPopupMaster::onLooseFocus() { finish(-1); }
