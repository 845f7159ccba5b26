// cCheckBoxChild: a static text with a box picture that follows the checked, focused and
// enabled states; toggled by a left click or Space, reported as a type-0 action.
#pragma once

#include "ui/staticelement.h"

class cCheckBoxChild : public cStaticElement {
public:
    cCheckBoxChild() {}

    bool checked() const { return myChecked; }
    // No effect when unchanged; with notify a type-0 action goes to the parent.
    void setChecked(bool checked, bool notify);

    // Chooses the box picture for the current state.
    virtual void setImage();
    // A picture from outside is ignored: the box shows its own. The two-argument form
    // stays the static element's.
    virtual void setImage(cPicture* picture) {}
    void setImage(cPicture* picture, bool repaint) override { cStaticElement::setImage(picture, repaint); }
    virtual cPicture* imgChecked();
    virtual cPicture* imgUnChecked();
    virtual cPicture* imgActChecked();
    virtual cPicture* imgActUnChecked();
    virtual cPicture* imgDsbChecked();
    virtual cPicture* imgDsbUnChecked();

    void onMouseButton(int x, int y, int button, bool down) override;
    bool onKey(int key, bool shift, bool ctrl, bool alt) override;
    void onEnableChanged() override;
    void onSetFocus() override;
    void onLooseFocus() override;
    bool wantTabStop() override { return true; }
    bool wantAcceptFoucs() override { return true; }
    void onInitData() override;

private:
    bool myChecked = false;
};
