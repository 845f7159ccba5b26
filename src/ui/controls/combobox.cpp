// cComboBoxChild: items by index, choosing by keys and by the popup list, the click that
// opens a pure-choice combo, and the frame continued behind the drop button.
#include "ui/controls/combobox.h"

#include "ciplatform/canvas.h"
#include "ciplatform/windowmaker.h"
#include "ui/theme.h"

cComboBoxChild::cComboBoxChild() {}

cComboBoxChild::~cComboBoxChild() { myItems.destroy(); }

void cComboBoxChild::onInitData() {
    cChildElement::onInitData();
    myPressed = false;
    myMaxDrop = 100;
    myImages = nullptr;
    mySelected = -1;
    setMinSize(20, 19);
    setMaxSize(0x7FFFFFFF, 38);
    // Tab stops at the edit inside, where typing goes; a stop on the combo itself would
    // take keys nobody types into, and Shift+Tab could never leave it again.
    setTabStop(false);
    attach(&myEdit, 0, 0, 1, 1);
    anchor(&myEdit, 0, 0, -20, -1);
    myEdit.setCursorForRO(false);
    myEdit.setBorderColor(cEditChild::ctDisabled, cCITheme::theme()->getColor(21));
    attach(&myButton, 0, 0, 1, 1);
    anchor(&myButton, -20, 0, 19, -1);
    myButton.setTabStop(false);
    myButton.setTransparent(true);
    myButton.image(cButtonChild::stNormal)->refImage(cCITheme::theme()->getPict(28), false);
    myButton.setBorder(cButtonChild::brdRaised, true);
}

void cComboBoxChild::allowEdit(bool on) {
    myEdit.setPointer(on ? eMPBeam : eMPArrow);
    myEdit.setReadonly(!on);
    myEdit.setSelectOnFocus(on);
}

// ---- items ----

bool cComboBoxChild::setItem(int index, const char* text, void* association, int image) {
    if (index < 0) return false;
    sActiveElementItem* item = myItems.insert(index);
    if (!item) return false;
    item->imageId = image;
    item->association = association;
    item->text.set(text);
    if (index == mySelected) myEdit.setText(text, -1);
    return true;
}

void* cComboBoxChild::association(int index) {
    sActiveElementItem* item = myItems.find(index);
    return item ? item->association : nullptr;
}

const char* cComboBoxChild::text(int index) {
    sActiveElementItem* item = myItems.find(index);
    return item ? item->text.ptr : nullptr;
}

bool cComboBoxChild::remove(int index) { return myItems.dettach(index); }

void cComboBoxChild::clear() {
    myEdit.setText("", -1);
    mySelected = -1;
    myItems.destroy();
}

bool cComboBoxChild::select(int index, bool notify) {
    if (index < 0) {
        myEdit.setText("", -1);
        mySelected = -1;
    } else {
        sActiveElementItem* item = myItems.find(index);
        if (!item) return false;
        myEdit.setText(item->text.ptr, -1);
        mySelected = index;
    }
    if (notify) notifyAction(new cChildAction(6));
    return true;
}

void cComboBoxChild::step(bool forward) {
    if (mySelected < 0) return;
    tPopupItems::sEntry* e = myItems.findEntry(mySelected);
    if (!e) {
        select(-1, true);
        return;
    }
    tPopupItems::sEntry* n = forward ? myItems.next(e) : myItems.prev(e);
    if (n) select(n->key(), true);
}

// ---- the list ----

void cComboBoxChild::dropSize(sSize& size) {
    cPopupMaster::evalSize(this, myItems, myImages, size, nullptr);
    size.cx = width();
    if (size.cy > myMaxDrop) size.cy = myMaxDrop;
}

bool cComboBoxChild::dropdown() {
    sSize s;
    dropSize(s);
    sPoint at;
    if (!absPos(at)) return false;
    const unsigned int none = 0xFFFFFFFFu;
    int id = cPopupMaster::runPopUp(this, myItems, myImages, at.x, at.y + height(), s.cx, s.cy, mySelected, 0xFFFFFF,
                                    0, none, nullptr, none, none, none, none, none, none);
    if (id < 0) return false;
    select(id, true);
    return true;
}

// ---- input ----

bool cComboBoxChild::processKey(int key, bool shift, bool ctrl, bool alt) {
    if (!enabled()) return cChildElement::processKey(key, shift, ctrl, alt);
    bool plain = !shift && !ctrl && !alt;
    if (plain && (key == kKeyUp || key == kKeyDown)) {
        step(key == kKeyDown);
        return true;
    }
    if ((key == kKeyDown && alt && !shift && !ctrl) || (key == kKeyF4 && plain)) {
        dropdown();
        return true;
    }
    return cChildElement::processKey(key, shift, ctrl, alt);
}

void cComboBoxChild::processMouseBtn(int x, int y, int button, bool pressed, bool ctrl, bool shift) {
    if (myEdit.readonly() && enabled() && button == kMouseLeft) {
        if (pressed) {
            myPressed = true;
            // The release comes back here wherever it happens, so a press inside and a
            // release outside leave nothing armed.
            capturePointer();
            return;
        }
        if (myPressed) {
            myPressed = false;
            releasePointer();
            if (inme(x, y)) dropdown();
            return;
        }
    }
    cChildElement::processMouseBtn(x, y, button, pressed, ctrl, shift);
}

bool cComboBoxChild::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == &myButton && action->type == eActClick) {
        dropdown();
        return true;
    }
    if (sender == &myEdit && (action->type == 6 || action->type == 7)) {
        notifyAction(new cChildAction(action->type));
        return true;
    }
    return cChildElement::onAction(sender, action);
}

bool cComboBoxChild::onBackgroundRequest(cCanvas* canvas, sRect* rect) {
    if (canvas && rect && rect->y == 0 && rect->h == height()) {
        sRect r = {-1, 0, rect->w + 1, height()};
        canvas->drawRect(&r, myEdit.bgColor(cEditChild::ctNormal), myEdit.borderColor(cEditChild::ctNormal));
        return true;
    }
    return cChildElement::onBackgroundRequest(canvas, rect);
}

void cComboBoxChild::focus() { myEdit.focus(); }
