// cLinkElement: a text that looks like a hyperlink and reports every left release as a
// type-0 action; it carries an opaque association for its owner and never takes the focus.
#pragma once

#include "ui/staticelement.h"

class cLinkElement : public cStaticElement {
public:
    cLinkElement() {}

    void setAssociation(void* value) { myAssociation = value; }
    void* association() const { return myAssociation; }

    void onMouseButton(int x, int y, int button, bool down) override;
    // Space or Return on a link an owner let take the focus is a click.
    bool onKey(int key, bool shift, bool ctrl, bool alt) override;
    int defaultPointer() override { return eMPHand; }
    // Shown when an owner lets the link take the focus (by default it never does).
    int wantFocusRing() override { return 1; }
    bool wantReturnKey() override { return true; }
    void onInitData() override;

private:
    void* myAssociation = nullptr;
};
