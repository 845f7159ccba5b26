// cCheckBoxChild: the box picture by state and toggling by mouse and Space.
#include "ui/controls/checkbox.h"

#include "ciplatform/windowmaker.h"
#include "ui/theme.h"

namespace {
cPicture* pict(int n) { return cCITheme::theme()->getPict(n); }
}  // namespace

cPicture* cCheckBoxChild::imgChecked() { return pict(31); }
cPicture* cCheckBoxChild::imgUnChecked() { return pict(30); }
cPicture* cCheckBoxChild::imgActChecked() { return pict(33); }
cPicture* cCheckBoxChild::imgActUnChecked() { return pict(32); }
cPicture* cCheckBoxChild::imgDsbChecked() { return pict(35); }
cPicture* cCheckBoxChild::imgDsbUnChecked() { return pict(34); }

void cCheckBoxChild::onInitData() {
    cStaticElement::onInitData();
    myChecked = false;
    setImage();
}

void cCheckBoxChild::setImage() {
    cPicture* p;
    if (!enabled())
        p = myChecked ? imgDsbChecked() : imgDsbUnChecked();
    else if (focused())
        p = myChecked ? imgActChecked() : imgActUnChecked();
    else
        p = myChecked ? imgChecked() : imgUnChecked();
    cStaticElement::setImage(p, true);
}

void cCheckBoxChild::setChecked(bool checked, bool notify) {
    if (myChecked == checked) return;
    myChecked = checked;
    setImage();
    if (notify) notifyAction(new cChildAction(eActClick));
}

void cCheckBoxChild::onMouseButton(int x, int y, int button, bool down) {
    if (button == kMouseLeft && !down) setChecked(!myChecked, true);
}

bool cCheckBoxChild::onKey(int key, bool shift, bool ctrl, bool alt) {
    if (key != kKeySpace) return false;
    setChecked(!myChecked, true);
    return true;
}

void cCheckBoxChild::onEnableChanged() { setImage(); }
void cCheckBoxChild::onSetFocus() { setImage(); }
void cCheckBoxChild::onLooseFocus() { setImage(); }
