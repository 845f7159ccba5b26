// cLinkElement: the link colour and underlined font, and the click.
#include "ui/controls/link.h"

#include "ciplatform/windowmaker.h"
#include "ui/theme.h"

void cLinkElement::onInitData() {
    cStaticElement::onInitData();
    setTextColor(cCITheme::theme()->getColor(7));
    setFont(stdFontUnderlined());
}

void cLinkElement::onMouseButton(int x, int y, int button, bool down) {
    if (button == kMouseLeft && !down) notifyAction(new cChildAction(eActClick));
    cChildElement::onMouseButton(x, y, button, down);
}
