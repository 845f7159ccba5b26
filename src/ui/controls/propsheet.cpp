// Sections, rows, layout, values and input of the property sheet.
#include "ui/controls/propsheet.h"

#include <cstdio>

#include "ciplatform/canvas.h"
#include "ciplatform/picture.h"
#include "ciplatform/windowmaker.h"
#include "ui/controls/combobox.h"
#include "ui/controls/edit.h"
#include "ui/controls/link.h"
#include "ui/theme.h"

namespace {
unsigned int colour(int n) { return cCITheme::theme()->getColor(n); }
int headerHeight() { return cCITheme::theme()->getDimension(24, 0); }
}  // namespace

// --- values panel and header ---

bool cPropSheetChild::cWTPanelChild::onBackgroundRequest(cCanvas* canvas, sRect* rect) {
    if (!rect) return false;
    sRect r = {0, 0, rect->w, rect->h};
    canvas->drawRect(&r, colour(14), colour(14));
    return true;
}

void cPropSheetChild::cSectionHeaderChild::onInitData() {
    cStaticElement::onInitData();
    unsigned int bg = colour(47), frame = colour(46);
    cChildElement* grand = parent() ? parent()->parent() : nullptr;
    if (cPropSheetChild* sheet = dynamic_cast<cPropSheetChild*>(grand)) {
        bg = sheet->sectColor();
        frame = sheet->sectFrameColor();
    }
    setBgColor(bg);
    setFrameColor(frame);
    const int D = headerHeight();
    attach(&myButton, (D - 16) / 2, (D - 16) / 2, 16, 16);
    myButton.setAcceptFocus(false);
    myButton.setPointer(eMPHand);
    myButton.setBorder(cButtonChild::brdRaisedFill, false);
    myButton.setBgColor(bg, false);
    myButton.setBorderColors(cButtonChild::stNormal, bg, bg);
    myButton.image(cButtonChild::stNormal)->refImage(cCITheme::theme()->getPict(67), false);
    myButton.setHint(string(0));
    attach(&myTitle, D + 2, 1, 1, 1);
    anchor(&myTitle, D + 2, 1, -3 - D, -3);
    myTitle.setFont(stdFontBold());
    myTitle.setTextColor(colour(49));
    myTitle.setBgColor(bg);
    myTitle.setFrameColor(bg);
}

void cPropSheetChild::cSectionHeaderChild::setTitle(const char* text) { myTitle.setText(text, -1, true); }

void cPropSheetChild::cSectionHeaderChild::setBtHint(const char* text) { myButton.setHint(text); }

void cPropSheetChild::cSectionHeaderChild::refImage(cPicture* picture) {
    myButton.image(cButtonChild::stNormal)->refImage(picture, true);
}

// --- section ---

void cPropSheetChild::cSectionChild::onInitData() {
    cChildElement::onInitData();
    const int D = headerHeight();
    attach(&myHeader, 0, 0, 1, D);
    anchor(&myHeader, 0, 0, -1, D);
    attach(&mySplitter, 0, D, 1, 1);
    anchor(&mySplitter, 0, D, -1, 1);
    mySplitter.attach(1, &myNames, 50);
    mySplitter.attach(2, &myValues, 50);
    myNames.setBgColor(colour(48));
    myValues.setBgColor(colour(48));
    myCollapsed = false;
    myShowHints = false;
}

void cPropSheetChild::cSectionChild::splitEvenly() {
    int w = width();
    myNames.setMinSize((int)(w * 0.1), myNames.minHeight());
    myValues.setMinSize((int)(w * 0.1), myValues.minHeight());
    mySplitter.resizeItem(1, w / 2 - 3);
    mySplitter.resizeItem(2, w / 2 - 3);
}

void cPropSheetChild::cSectionChild::onSizeChanged() {
    cChildElement::onSizeChanged();
    splitEvenly();
}

int cPropSheetChild::cSectionChild::rebuildSect(bool header) {
    int top = 0;
    if (header) {
        top = headerHeight();
        anchor(&myHeader, 0, 0, -1, top);
        myHeader.show(false);
    } else {
        myHeader.hide(false);
    }
    int y = 0;
    for (auto* e = myProps.first(); e; e = myProps.next(e)) {
        sPropertyDescr& p = e->value();
        bool hasButton = p.type == ptTextButton || p.type == ptEditROButton;
        if (myCollapsed) {
            p.name.hide(false);
            if (p.value) p.value->hide(false);
            p.button.hide(false);
            continue;
        }
        if (!p.value) continue;
        p.name.show(false);
        p.value->show(false);
        if (hasButton) p.button.show(false);
        int h = 18;
        if (p.type <= ptLink) {
            sSize want = {0, 0};
            static_cast<cStaticElement*>(p.value)->wantsSize(want);
            if (want.cy == 0) p.name.wantsSize(want);
            h = want.cy + 4;
        } else if (p.type == ptCombo) {
            h = 19;
        }
        if (p.type == ptEditROButton) {
            myValues.anchor(&p.button, -20, y, 19, 18);
            myValues.anchor(p.value, 0, y, -20, h);
        } else if (p.type == ptTextButton) {
            myValues.anchor(&p.button, -20, y, 19, h);
            myValues.anchor(p.value, 0, y, -20, h);
        } else {
            myValues.anchor(p.value, 0, y, -1, h);
        }
        myNames.anchor(&p.name, 0, y, -1, h);
        if (myShowHints && p.description.ptr && *p.description.ptr) p.name.setHint(p.description.ptr);
        y += h + 1;
    }
    anchor(&mySplitter, 0, top, -1, y);
    splitEvenly();
    return y + top;
}

bool cPropSheetChild::cSectionChild::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == myHeader.button() && action->type == 0) {
        notifyAction(new cChildAction(6));
        return true;
    }
    return false;
}

// --- sheet ---

cPropSheetChild::~cPropSheetChild() { mySections.destroy(); }

void cPropSheetChild::onInitData() {
    cScrollableElement::onInitData();
    myInChanges = myPending = false;
    myShowSections = true;
    myShowHints = false;
    setMinVisualWidth(0);
    setMinVisualHeight(0);
    setQuantumSize(5, 13);
    mySectColour = colour(47);
    mySectFrame = colour(46);
}

void cPropSheetChild::onPaintArea(cCanvas* canvas) {
    sRect r = {0, 0, width(), height()};
    canvas->drawRect(&r, colour(48), colour(48));
}

void cPropSheetChild::startChanges() { myInChanges = true; }

void cPropSheetChild::endChanges() {
    myInChanges = false;
    if (myPending) {
        myPending = false;
        build();
    }
}

void cPropSheetChild::relayout() {
    if (myInChanges)
        myPending = true;
    else
        build();
}

void cPropSheetChild::build() {
    int y = 0;
    for (auto* e = mySections.first(); e; e = mySections.next(e)) {
        int h = e->value().rebuildSect(myShowSections);
        anchor(&e->value(), 0, y, -1, h);
        y += h;
    }
    setMinVisualHeight(y);
    repaint();
}

void cPropSheetChild::setSectColor(unsigned int c) {
    if (c == mySectColour) return;
    mySectColour = c;
    relayout();
}

void cPropSheetChild::setSectFrameColor(unsigned int c) {
    if (c == mySectFrame) return;
    mySectFrame = c;
    relayout();
}

void cPropSheetChild::showSections(bool on) {
    if (on == myShowSections) return;
    myShowSections = on;
    relayout();
}

void cPropSheetChild::showHints(bool on) {
    if (on == myShowHints) return;
    myShowHints = on;
    relayout();
}

bool cPropSheetChild::setSection(int section, const char* name) {
    if (!name) return false;
    if (cSectionChild* s = mySections.find(section)) {
        s->myHeader.setTitle(name);
        return true;
    }
    cSectionChild* s = mySections.insert(section);
    if (!s) return false;
    attach(s, 0, 0, width() > 0 ? width() : 1, 1);
    s->myHeader.setTitle(name);
    s->myCollapsed = false;
    s->myShowHints = myShowHints;
    relayout();
    return true;
}

cSplitterChild* cPropSheetChild::sectionSplit(int section) {
    cSectionChild* s = mySections.find(section);
    return s ? &s->mySplitter : nullptr;
}

cPropSheetChild::sPropertyDescr* cPropSheetChild::prop(int section, int property) {
    cSectionChild* s = mySections.find(section);
    return s ? s->myProps.find(property) : nullptr;
}

bool cPropSheetChild::setProperty(int section, int property, const char* name, const char* description,
                                  const char* value, ePropTypes type) {
    cSectionChild* s = mySections.find(section);
    if (!s || s->myProps.find(property)) return false;
    sPropertyDescr* p = s->myProps.insert(property);
    if (!p) return false;
    p->type = type;
    p->description.set(description);
    if (type < ptText || type > ptCombo) return false;
    const sSectProp numbers = {section, property};
    cWTPanelChild& panel = s->myValues;
    switch (type) {
        case ptText:
        case ptTextButton: {
            cStaticElement* v = new cStaticElement;
            p->value = v;
            panel.attach(v, 0, 0, 1, 1);
            v->setTextColor(colour(50));
            v->setBgColor(colour(51));
            if (type == ptText) v->setDoubleBuffer(true);
            v->setText(value, -1, false);
            break;
        }
        case ptLink: {
            cLinkElement* v = new cLinkElement;
            p->value = v;
            panel.attach(v, 0, 0, 1, 1);
            v->setBgColor(colour(51));
            v->setDoubleBuffer(true);
            v->setText(value, -1, false);
            *s->myLinkMap.insert(v) = numbers;
            break;
        }
        case ptEdit:
        case ptEditROButton:
        case ptEditRO: {
            cEditChild* v = new cEditChild;
            p->value = v;
            panel.attach(v, 0, 0, 1, 1);
            v->setText(value, -1);
            v->setColors(cEditChild::ctNormal, colour(51), colour(50));
            if (type == ptEditROButton) {
                v->setBorderColor(cEditChild::ctNormal, colour(51));
            } else {
                v->setBorderColor(cEditChild::ctNormal, colour(14));
            }
            if (type != ptEdit) {
                v->setReadonly(true);
                v->setBorderColor(cEditChild::ctFocused, colour(28));
                v->setBorderColor(cEditChild::ctHover, colour(28));
            }
            break;
        }
        case ptCombo: {
            cComboBoxChild* v = new cComboBoxChild;
            p->value = v;
            panel.attach(v, 0, 0, 1, 1);
            v->setText(value, -1);
            v->edit()->setColors(cEditChild::ctNormal, colour(51), colour(50));
            v->edit()->setBorderColor(cEditChild::ctNormal, colour(51));
            v->allowEdit(false);
            *s->myComboMap.insert(v) = numbers;
            break;
        }
    }
    if (type == ptTextButton || type == ptEditROButton) {
        panel.attach(&p->button, 0, 0, 19, 18);
        p->button.setTransparent(true);
        p->button.image(cButtonChild::stNormal)->refImage(cCITheme::theme()->getPict(29), false);
        p->button.setBorder(cButtonChild::brdRaised, false);
        p->button.setHint(string(2));
        *s->myButtonMap.insert(&p->button) = numbers;
    }
    s->myNames.attach(&p->name, 0, 0, 1, 1);
    *s->myNameMap.insert(&p->name) = numbers;
    p->name.setText(name, -1, false);
    p->name.setTxtColorStd(colour(50));
    p->name.setBgColorStd(colour(51));
    relayout();
    return true;
}

cChildElement* cPropSheetChild::valueControl(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    return p ? p->value : nullptr;
}

cSelectableElement* cPropSheetChild::nameLabel(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    return p ? &p->name : nullptr;
}

cEditChild* cPropSheetChild::editControl(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    if (!p || !p->value) return nullptr;
    if (p->type >= ptEdit && p->type <= ptEditRO) return static_cast<cEditChild*>(p->value);
    if (p->type == ptCombo) return static_cast<cComboBoxChild*>(p->value)->edit();
    return nullptr;
}

bool cPropSheetChild::setPropertyVal(int section, int property, const char* value) {
    sPropertyDescr* p = prop(section, property);
    if (!p || !p->value) return false;
    if (p->type <= ptLink)
        p->value->setText(value, -1, true);
    else if (cEditChild* e = editControl(section, property))
        e->setText(value, -1);
    return true;
}

bool cPropSheetChild::setPropertyVal(int section, int property, unsigned long long value, bool hex, char separator) {
    sPropertyDescr* p = prop(section, property);
    if (!p || !p->value) return false;
    if (p->type <= ptLink) {
        char text[80];
        snprintf(text, sizeof text, hex ? "0x%llX" : "%lld", hex ? value : (long long)value);
        p->value->setText(text, -1, true);
    } else if (cEditChild* e = editControl(section, property)) {
        e->setU64(value, hex, separator);
    }
    return true;
}

bool cPropSheetChild::setPropertyVal(int section, int property, int id, void* assoc, const char* text, bool select) {
    sPropertyDescr* p = prop(section, property);
    if (!p || p->type != ptCombo || !p->value) return false;
    cComboBoxChild* c = static_cast<cComboBoxChild*>(p->value);
    bool ok = c->setItem(id, text, assoc, -1);
    if (ok && select) c->select(id, false);
    return ok;
}

bool cPropSheetChild::clearPropertyVals(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    if (!p || p->type != ptCombo || !p->value) return false;
    static_cast<cComboBoxChild*>(p->value)->clear();
    return true;
}

bool cPropSheetChild::select(int section, int property, int id) {
    sPropertyDescr* p = prop(section, property);
    if (!p || p->type != ptCombo || !p->value) return false;
    return static_cast<cComboBoxChild*>(p->value)->select(id, false);
}

bool cPropSheetChild::selectCapt(int section, int property, bool notify) {
    sPropertyDescr* p = prop(section, property);
    return p && p->name.select(notify);
}

bool cPropSheetChild::setPropertyAssoc(int section, int property, void* assoc) {
    sPropertyDescr* p = prop(section, property);
    if (!p) return false;
    p->assoc = assoc;
    return true;
}

void* cPropSheetChild::assoc(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    return p ? p->assoc : nullptr;
}

const char* cPropSheetChild::value(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    return p && p->value ? p->value->text() : nullptr;
}

long long cPropSheetChild::int_value(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    if (!p || !p->value) return -1;
    cEditChild* e = editControl(section, property);
    return e ? (long long)e->asU64() : 0;
}

int cPropSheetChild::value_id(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    if (!p || !p->value) return 0;
    return p->type == ptCombo ? static_cast<cComboBoxChild*>(p->value)->selected() : -1;
}

void* cPropSheetChild::value_assoc(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    if (!p || p->type != ptCombo || !p->value) return nullptr;
    cComboBoxChild* c = static_cast<cComboBoxChild*>(p->value);
    return c->association(c->selected());
}

bool cPropSheetChild::wipeVal(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    if (!p || !p->value) return false;
    p->value->wipeText();
    return true;
}

bool cPropSheetChild::focus(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    if (!p || !p->value) return false;
    if (cEditChild* e = editControl(section, property)) e->focus();
    return true;
}

bool cPropSheetChild::setPropertyColor(int section, int property, unsigned int c) {
    sPropertyDescr* p = prop(section, property);
    if (!p || !p->value || p->type > ptLink) return false;
    static_cast<cStaticElement*>(p->value)->setTextColor(c);
    p->name.setTxtColorStd(c);
    return true;
}

bool cPropSheetChild::setImage(int section, int property, cPicture* picture) {
    sPropertyDescr* p = prop(section, property);
    if (!p || !p->value || !picture || p->type > ptLink) return false;
    static_cast<cStaticElement*>(p->value)->setImage(picture, true);
    return true;
}

bool cPropSheetChild::setImage(int section, int property, int id) {
    cPicture* picture = myImages ? myImages->image(id) : nullptr;
    return picture && setImage(section, property, picture);
}

bool cPropSheetChild::setSetExHint(int section, int property, const char* hint) {
    sPropertyDescr* p = prop(section, property);
    if (!p) return false;
    p->button.setHint(hint);
    return true;
}

cButtonChild* cPropSheetChild::actionButton(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    return p && (p->type == ptTextButton || p->type == ptEditROButton) ? &p->button : nullptr;
}

bool cPropSheetChild::hasSection(int section) { return mySections.find(section) != nullptr; }

bool cPropSheetChild::hasProp(int section, int property) { return prop(section, property) != nullptr; }

const char* cPropSheetChild::sectionName(int section) {
    cSectionChild* s = mySections.find(section);
    return s ? s->myHeader.title()->text() : nullptr;
}

const char* cPropSheetChild::propName(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    return p ? p->name.text() : nullptr;
}

const char* cPropSheetChild::propDescr(int section, int property) {
    sPropertyDescr* p = prop(section, property);
    return p ? p->description.ptr : nullptr;
}

bool cPropSheetChild::remove(int section, int property) {
    cSectionChild* s = mySections.find(section);
    sPropertyDescr* p = s ? s->myProps.find(property) : nullptr;
    if (!p) return false;
    s->myNames.dettach(&p->name);
    s->myValues.dettach(&p->button);
    if (p->value) s->myValues.dettach(p->value);
    s->myNameMap.dettach(&p->name);
    s->myButtonMap.dettach(&p->button);
    if (p->value) {
        s->myComboMap.dettach(p->value);
        s->myLinkMap.dettach(p->value);
    }
    s->myProps.dettach(property);
    relayout();
    return true;
}

bool cPropSheetChild::remove(int section) {
    cSectionChild* s = mySections.find(section);
    if (!s) return false;
    dettach(s);
    mySections.dettach(section);
    relayout();
    return true;
}

bool cPropSheetChild::clear() {
    for (auto* e = mySections.first(); e; e = mySections.next(e)) dettach(&e->value());
    mySections.destroy();
    relayout();
    return true;
}

void cPropSheetChild::toggle(cSectionChild* s) {
    s->myCollapsed = !s->myCollapsed;
    s->myHeader.refImage(cCITheme::theme()->getPict(s->myCollapsed ? 66 : 67));
    s->myHeader.setBtHint(string(s->myCollapsed ? 1 : 0));
    build();
}

bool cPropSheetChild::onAction(cChildElement* sender, cChildAction* action) {
    for (auto* e = mySections.first(); e; e = mySections.next(e)) {
        cSectionChild& s = e->value();
        if (sender == &s && action->type == 6) {
            toggle(&s);
            break;
        }
        int code = -1;
        sSectProp* n = nullptr;
        if ((n = s.myNameMap.find(sender))) {
            if (action->type == 6) code = eActSelected;
            if (action->type == 7) code = eActActivated;
        } else if ((n = s.myButtonMap.find(sender))) {
            if (action->type == 0) code = eActButton;
        } else if ((n = s.myLinkMap.find(sender))) {
            if (action->type == 0) code = eActLink;
        } else if ((n = s.myComboMap.find(sender))) {
            if (action->type == 6) code = eActComboChanged;
        }
        if (code >= 0) {
            notifyAction(new cPropSheetAction(code, n->section, n->property));
            return true;
        }
        if (n) break;
    }
    return cScrollableElement::onAction(sender, action);
}

bool cPropSheetChild::moveSelection(bool down) {
    cChildElement* focused = getFocused();
    for (auto* e = mySections.first(); e; e = mySections.next(e)) {
        cSectionChild& s = e->value();
        sSectProp* n = focused ? s.myNameMap.find(focused) : nullptr;
        if (!n) continue;
        auto* row = s.myProps.findEntry(n->property);
        auto* next = down ? s.myProps.next(row) : s.myProps.prev(row);
        if (next) {
            next->value().name.select(true);
            return true;
        }
        // The first (or last) row of the next (or previous) section that has rows.
        for (auto* o = down ? mySections.next(e) : mySections.prev(e); o;
             o = down ? mySections.next(o) : mySections.prev(o)) {
            auto* r = down ? o->value().myProps.first() : o->value().myProps.last();
            if (r) {
                r->value().name.select(true);
                return true;
            }
        }
        return true;  // at the first or last row: the key is consumed anyway
    }
    return false;
}

bool cPropSheetChild::processKey(int key, bool shift, bool ctrl, bool alt) {
    if ((key == kKeyDown || key == kKeyUp) && moveSelection(key == kKeyDown)) return true;
    return cChildElement::processKey(key, shift, ctrl, alt);
}
