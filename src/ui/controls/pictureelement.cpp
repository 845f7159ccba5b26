// Painting, zones and hints of the picture element.
#include "ui/controls/pictureelement.h"

#include "ciplatform/canvas.h"
#include "ciplatform/windowmaker.h"
#include "picts/pictbase.h"
#include "ui/controls/hint.h"

namespace {
template <class Z>
bool holds(const Z& z, int x, int y) {
    return x >= z.left && x <= z.right && y >= z.top && y <= z.bottom;
}
}  // namespace

cPictureElement::~cPictureElement() {
    closeHint();
    myHints.destroy();
    myActive.destroy();
}

void cPictureElement::onInitData() {
    cChildElement::onInitData();
    myZone = -1;
    myHintZone = -1;
}

bool cPictureElement::refPict(cPicture* picture) {
    if (!picture || !picture->raw()) return false;
    myOwned = nullptr;
    myShown = picture;
    return true;
}

bool cPictureElement::setPict(const unsigned char* data, unsigned int size) {
    cPicture* p = new cPicture;
    myShown = nullptr;
    if (!p->create(data, size)) {
        delete p;
        myOwned = nullptr;
        return false;
    }
    myOwned = p;
    myShown = p;
    return true;
}

bool cPictureElement::setPict(const unsigned int* pixels, int width, int height) {
    cPicture* p = new cPicture;
    myShown = nullptr;
    if (!pixels || !p->create(pixels, width, height, !__bmp_res_inversed)) {
        delete p;
        myOwned = nullptr;
        return false;
    }
    myOwned = p;
    myShown = p;
    return true;
}

bool cPictureElement::setActive(int id, int x, int y, int w, int h) {
    sArea* a = myActive.insert(id);
    if (!a) return false;
    *a = {x, y, x + w - 1, y + h - 1};
    if (myZone == id) myZone = -1;
    return true;
}

bool cPictureElement::setHint(int id, int x, int y, int w, int h, const char* text, int placement) {
    sZoneHint* z = myHints.insert(id);
    if (!z) return false;
    z->left = x;
    z->top = y;
    z->right = x + w - 1;
    z->bottom = y + h - 1;
    z->text.set(text);
    z->placement = placement;
    closeHint();
    return true;
}

bool cPictureElement::setHint(int id, const char* text, int placement) {
    sZoneHint* z = myHints.find(id);
    if (!z) return false;
    z->text.set(text);
    z->placement = placement;
    closeHint();
    return true;
}

void cPictureElement::closeHint() {
    delete myHint;
    myHint = nullptr;
}

void cPictureElement::onPaint(cCanvas* canvas) {
    if (!myShown || !myShown->raw()) return;
    if (transparent()) {
        sPoint at = {0, 0};
        canvas->drawTransparent(&at, myShown);
    } else {
        canvas->drawBitmap(0, 0, myShown, -1, -1);
    }
}

bool cPictureElement::onBackgroundRequest(cCanvas* canvas, sRect* rect) {
    if (!myShown || !myShown->raw() || !rect) return cChildElement::onBackgroundRequest(canvas, rect);
    canvas->drawBitmap(-rect->x, -rect->y, myShown, -1, -1);
    return true;
}

int cPictureElement::activeAt(int x, int y) {
    for (auto* e = myActive.first(); e; e = myActive.next(e))
        if (holds(e->value(), x, y)) return e->key();
    return -1;
}

void cPictureElement::onMouseMoving(int x, int y) {
    myZone = activeAt(x, y);
    setPointer(myZone != -1 ? eMPHand : eMPArrow);
    const sZoneHint* zone = nullptr;
    int id = -1;
    for (auto* e = myHints.first(); e; e = myHints.next(e))
        if (holds(e->value(), x, y)) {
            zone = &e->value();
            id = e->key();
            break;
        }
    if (!zone || id == -1) {
        myHintZone = -1;
        closeHint();
        return;
    }
    if (id == myHintZone) return;
    myHintZone = id;
    sPoint at = {0, 0};
    absPos(at);
    sPoint pos = {at.x + zone->left + 2, zone->placement == 1 ? at.y + zone->top : at.y + zone->bottom + 2};
    cHintMaster* hint = new cHintMaster;
    if (!hint->show(this, zone->text.ptr, &pos, 0xFF000000u, 0xFF000000u, zone->placement)) {
        delete hint;
        return;
    }
    closeHint();
    myHint = hint;
}

void cPictureElement::onMouseButton(int x, int y, int button, bool down) {
    if (button != kMouseLeft || down) return;
    myZone = activeAt(x, y);
    if (myZone != -1) notifyAction(new cActiveZoneAction(myZone));
}

void cPictureElement::onMouseLeft() {
    cChildElement::onMouseLeft();
    closeHint();
    myHintZone = -1;
}
