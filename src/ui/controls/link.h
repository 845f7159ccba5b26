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
    int defaultPointer() override { return eMPHand; }
    void onInitData() override;

private:
    void* myAssociation = nullptr;
};
