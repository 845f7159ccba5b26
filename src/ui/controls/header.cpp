// cHeaderChild: column buttons kept in the splitter under their column ids.
#include "ui/controls/header.h"

#include "ui/theme.h"

cHeaderChild::~cHeaderChild() { myColumns.destroy(); }

void cHeaderChild::onInitData() {
    cSplitterChild::onInitData();
    int h = cCITheme::theme()->getDimension(23, 0);
    setMinSize(1, h);
    setMaxSize(0x7FFFFFFF, h);
    setScalable(false);
    cChildElement::attach(&myFiller, width(), 0, 1, 1);
    myFiller.setBorder(cButtonChild::brdRaised, true);
    myFiller.disable(false);
}

bool cHeaderChild::setColumn(int id, const char* text, int width, cCanvas::eTextAlign align) {
    if (id < 0) return false;
    cButtonChild* b = myColumns.find(id);
    if (!b) {
        b = myColumns.insert(id);
        if (!b || !cSplitterChild::attach(id, b, width)) {
            if (b) {
                removeItem(id);
                dettach(b);
                myColumns.dettach(id);
            }
            return false;
        }
        b->setBorder(cButtonChild::brdRaised, true);
        b->setAcceptFocus(false);
    }
    if (text) b->setText(text);
    if (b->align() != align) b->setAlign(align, true);
    resizeItem(id, width);
    return true;
}

bool cHeaderChild::removeColumn(int id) {
    cButtonChild* b = myColumns.find(id);
    if (!b) return false;
    dettach(b);
    removeItem(id);
    myColumns.dettach(id);
    return true;
}

void cHeaderChild::setMinButtonsWidth(int w) { setMinSplittingSize(w, &myFiller); }

cCanvas::eTextAlign cHeaderChild::columnAlign(int id) {
    cButtonChild* b = myColumns.find(id);
    return b ? b->align() : cCanvas::taLeft;
}

int cHeaderChild::columnWidth(int id) {
    cButtonChild* b = myColumns.find(id);
    return b ? b->width() : 0;
}

bool cHeaderChild::onAction(cChildElement* sender, cChildAction* action) {
    if (!action || action->type != eActClick || sender == this) return false;
    for (auto* e = myColumns.first(); e; e = myColumns.next(e))
        if (e->valuePtr() == sender) {
            notifyAction(new cColumnClickAction(e->key()));
            return true;
        }
    return false;
}
