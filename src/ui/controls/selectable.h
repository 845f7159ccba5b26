// cSelectableElement: a static text that is hovered, selected as a whole and activated;
// three colour schemas and three pictures follow its state. Selection is reported as
// action 6, activation (double click, Space, Enter) as action 7.
#pragma once

#include "ui/staticelement.h"

class cSelectableElement : public cStaticElement {
public:
    class cSelectableSelectAction : public cChildAction {
    public:
        cSelectableSelectAction(bool a, bool b) : cChildAction(6), a(a), b(b) {}
        bool a, b;
    };

    cSelectableElement() {}

    // Selects (with notify: posts a select action when it was not selected, and takes the
    // focus in any case). Always true.
    bool select(bool notify);
    bool deselect();
    bool selected() const { return mySelected; }
    bool active() const { return myActive; }
    bool hovered() const { return myHovered; }
    void setActive(bool on);
    void wasSelected(bool a, bool b);
    void setStdColorSchema(unsigned int text, unsigned int background, unsigned int border);
    void getStdColorSchema(unsigned int& text, unsigned int& background, unsigned int& border);
    void setHovColorSchema(unsigned int text, unsigned int background, unsigned int border);
    void setSelColorSchema(unsigned int text, unsigned int background, unsigned int border);
    void setTxtColorStd(unsigned int colour);
    void setBgColorStd(unsigned int colour);
    void setTextColorCommon(unsigned int colour);
    void setImages(cPicture* normal, cPicture* hover, cPicture* selected, bool repaint);
    // The picture the current state shows.
    cPicture* image();

    void onMouseOver() override;
    void onMouseLeft() override;
    void onMouseDoubleClick(int x, int y, int button) override;
    bool onKey(int key, bool shift, bool ctrl, bool alt) override;
    void onSetFocusEvent(int origin, int a, int b) override;
    void onLooseFocus() override;
    bool wantAcceptFoucs() override { return myActive; }
    void onInitData() override;

private:
    enum eSchema { schNormal = 0, schHover = 1, schSelected = 2 };
    void apply(int schema);
    void applyCurrent();
    void showPicture() { cStaticElement::setImage(image(), true); }

    bool mySelected = false;
    bool myHovered = false;
    bool myActive = true;
    unsigned int mySchemas[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    cPicture* myPictures[3] = {nullptr, nullptr, nullptr};
};
