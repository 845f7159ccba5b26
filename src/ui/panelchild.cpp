// cPanelChild: background and border painting.
#include "ui/panelchild.h"

#include "ciplatform/canvas.h"

void cPanelChild::setBgColor(unsigned int colour) {
    if (myBg == colour) return;
    myBg = colour;
    repaint();
}

void cPanelChild::setBorderColor(unsigned int colour) {
    if (myBorder == colour) return;
    myBorder = colour;
    repaint();
}

void cPanelChild::onInitData() {
    cChildElement::onInitData();
    myBg = 0xFF000000u;
    myBorder = 0xFFFFFFFFu;
}

void cPanelChild::onPaint(cCanvas* canvas) {
    sRect r = {0, 0, width(), height()};
    unsigned int fill = transparent() ? 0xFFFFFFFFu : resolveColour(myBg, kThemeBackground);
    canvas->drawRect(&r, fill, resolveColour(myBorder, kThemeText));
}
