// cSelectableElement: the state flags, the schema and picture in force, and the events
// that move between normal, hover and selected.
#include "ui/controls/selectable.h"

#include "ciplatform/windowmaker.h"
#include "ui/theme.h"

void cSelectableElement::onInitData() {
    cCITheme* t = cCITheme::theme();
    mySelected = myHovered = false;
    myActive = true;
    const int numbers[3][3] = {{4, 14, 20}, {4, 15, 22}, {9, 16, 25}};
    for (int s = 0; s < 3; s++)
        for (int k = 0; k < 3; k++) mySchemas[s][k] = t->getColor(numbers[s][k]);
    myPictures[0] = myPictures[1] = myPictures[2] = nullptr;
    cStaticElement::onInitData();
    apply(schNormal);
}

void cSelectableElement::apply(int schema) {
    setColorSchema(mySchemas[schema][0], mySchemas[schema][1], mySchemas[schema][2]);
}

void cSelectableElement::applyCurrent() {
    apply(mySelected ? schSelected : myHovered ? schHover : schNormal);
}

cPicture* cSelectableElement::image() {
    if (myPictures[2] && mySelected) return myPictures[2];
    if (myPictures[1] && myHovered) return myPictures[1];
    return myPictures[0];
}

bool cSelectableElement::select(bool notify) {
    if (!mySelected) {
        mySelected = true;
        apply(schSelected);
        showPicture();
        if (notify) notifyAction(new cSelectableSelectAction(false, false));
    }
    if (notify) focus();
    return true;
}

bool cSelectableElement::deselect() {
    mySelected = false;
    apply(schNormal);
    showPicture();
    repaint();
    return true;
}

void cSelectableElement::setActive(bool on) {
    if (myActive == on) return;
    if (!on && (myHovered || mySelected)) {
        myHovered = mySelected = false;
        apply(schNormal);
        showPicture();
    }
    myActive = on;
}

void cSelectableElement::wasSelected(bool a, bool b) { notifyAction(new cSelectableSelectAction(a, b)); }

void cSelectableElement::setStdColorSchema(unsigned int text, unsigned int background, unsigned int border) {
    mySchemas[schNormal][0] = text;
    mySchemas[schNormal][1] = background;
    mySchemas[schNormal][2] = border;
    if (!myHovered && !mySelected) apply(schNormal);
}

void cSelectableElement::getStdColorSchema(unsigned int& text, unsigned int& background, unsigned int& border) {
    text = mySchemas[schNormal][0];
    background = mySchemas[schNormal][1];
    border = mySchemas[schNormal][2];
}

void cSelectableElement::setHovColorSchema(unsigned int text, unsigned int background, unsigned int border) {
    mySchemas[schHover][0] = text;
    mySchemas[schHover][1] = background;
    mySchemas[schHover][2] = border;
    if (myHovered && !mySelected) apply(schHover);
}

void cSelectableElement::setSelColorSchema(unsigned int text, unsigned int background, unsigned int border) {
    mySchemas[schSelected][0] = text;
    mySchemas[schSelected][1] = background;
    mySchemas[schSelected][2] = border;
    if (mySelected) apply(schSelected);
}

void cSelectableElement::setTxtColorStd(unsigned int colour) {
    mySchemas[schNormal][0] = colour;
    if (!myHovered && !mySelected) apply(schNormal);
}

void cSelectableElement::setBgColorStd(unsigned int colour) {
    mySchemas[schNormal][1] = mySchemas[schNormal][2] = colour;
    if (!myHovered && !mySelected) apply(schNormal);
}

void cSelectableElement::setTextColorCommon(unsigned int colour) {
    if (mySchemas[0][0] == colour && mySchemas[1][0] == colour && mySchemas[2][0] == colour) return;
    for (auto& s : mySchemas) s[0] = colour;
    setTextColor(colour);
    repaint();
}

void cSelectableElement::setImages(cPicture* normal, cPicture* hover, cPicture* selected, bool repaint) {
    myPictures[0] = normal;
    myPictures[1] = hover;
    myPictures[2] = selected;
    cStaticElement::setImage(image(), repaint);
}

void cSelectableElement::onMouseOver() {
    if (!myActive) return;
    cStaticElement::onMouseOver();
    myHovered = true;
    if (!mySelected) {
        apply(schHover);
        showPicture();
    }
}

void cSelectableElement::onMouseLeft() {
    if (!myActive) return;
    cStaticElement::onMouseLeft();
    myHovered = false;
    if (!mySelected) {
        apply(schNormal);
        showPicture();
    }
}

void cSelectableElement::onSetFocusEvent(int origin, int a, int b) {
    if (!myActive) return;
    cStaticElement::onSetFocusEvent(origin, a, b);
    mySelected = true;
    apply(schSelected);
    showPicture();
    if (origin != eEOProgram) notifyAction(new cSelectableSelectAction(a != 0, b != 0));
}

void cSelectableElement::onLooseFocus() {
    if (!myActive) return;
    mySelected = false;
    applyCurrent();
    showPicture();
}

void cSelectableElement::onMouseDoubleClick(int x, int y, int button) {
    if (myActive) notifyAction(new cChildAction(7));
}

bool cSelectableElement::onKey(int key, bool shift, bool ctrl, bool alt) {
    if (!myActive || (key != kKeySpace && key != kKeyEnter)) return false;
    notifyAction(new cChildAction(7));
    return true;
}
