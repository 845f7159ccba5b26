// cCustomForm: the client panel and the form keys.
#include "ui/customform.h"

#include "ciplatform/canvas.h"
#include "ciplatform/windowmaker.h"
#include "ui/panelchild.h"

cCustomForm::cCustomForm() : myClient(new cPanelChild) {
    attach(myClient, 0, 0, 0, 0);
    anchor(myClient, 0, 0, -1, -1);
}

cCustomForm::~cCustomForm() {}

bool cCustomForm::processKey(int key, bool shift, bool ctrl, bool alt) {
    if (!shift && !ctrl && !alt) {
        if (key == kKeyEnter && onFormAccept()) return true;
        if (key == kKeyEscape && onFormCancel()) return true;
    }
    return cChildElement::processKey(key, shift, ctrl, alt);
}

void cCustomForm::onPaint(cCanvas* canvas) {
    sRect r = {0, 0, width(), height()};
    canvas->drawRect(&r, resolveColour(0xFF000000u, kThemeBackground), 0xFFFFFFFFu);
}
