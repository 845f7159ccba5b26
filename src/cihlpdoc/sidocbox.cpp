// Setters of the document boxes and the container's ownership of its children.
#include "cihlpdoc/sidocbox.h"

#include <typeinfo>

void cSiDocBox::setMargins(int left, int top, int right, int bottom) {
    if (left >= 0) myLeftMargin = left;
    if (top >= 0) myTopMargin = top;
    if (right >= 0) myRightMargin = right;
    if (bottom >= 0) myBottomMargin = bottom;
}

void cSiDocBox::setWidth(int width) {
    if (width == -1 || width > 0) myWidth = width;
}

void cSiDocBox::setHeight(int height) {
    if (height == -1 || height > 0) myHeight = height;
}

void cSiDocText::setText(const char* text) {
    if (!text || !text[0])
        myText.clear();
    else
        myText.set(text);
}

bool cSiDocContainer::addChild(cSiDocBox* box) {
    if (!box) return false;
    cPtr<cSiDocBox>* slot = myChildren.add();
    if (!slot) {
        delete box;
        return false;
    }
    slot->ptr = box;
    return true;
}

namespace {

// Moves the container's children onto the stack (growing it) and empties its list.
bool pushChildren(_List<cPtr<cSiDocBox> >& children, _typebuf<cSiDocBox*>& stack, long long& used) {
    long long need = used + children.count();
    if (need > stack.count) {
        long long grow = stack.count ? stack.count * 2 : 64;
        if (grow < need) grow = need;
        if (!stack.reset(grow)) return false;
    }
    for (_List<cPtr<cSiDocBox> >::sItem* it = children.head; it; it = it->next) {
        cSiDocBox* b = it->value.dettach();
        if (b) stack.ptr[used++] = b;
    }
    children.destroy();
    return true;
}

}  // namespace

cSiDocContainer::~cSiDocContainer() {
    // Deep trees would overflow the stack if each container freed its own children.
    _typebuf<cSiDocBox*> stack;
    long long used = 0;
    if (!pushChildren(myChildren, stack, used)) return;  // no memory: the list frees them itself
    while (used > 0) {
        cSiDocBox* b = stack.ptr[--used];
        // Without memory for the stack, a container frees its own children the plain way.
        if (cSiDocContainer* c = dynamic_cast<cSiDocContainer*>(b)) pushChildren(c->myChildren, stack, used);
        delete b;
    }
}
