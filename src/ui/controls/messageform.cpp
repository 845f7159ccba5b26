// cMessageForm: splitting and measuring the message, the window size, the layout of the
// icon, the lines and the button row, and the answer.
#include "ui/controls/messageform.h"

#include <cstring>

#include "ciplatform/fontobject.h"
#include "ui/panelchild.h"
#include "ui/theme.h"

namespace {

cPicturesList gImages;

void fillImages() {
    if (gImages.image(0)) return;
    cCITheme* t = cCITheme::theme();
    const int ids[6][2] = {{0, 77}, {1, 78}, {10, 73}, {11, 74}, {12, 75}, {13, 76}};
    for (auto& p : ids) gImages.refImage(p[0], t->getPict(p[1]));
}

int dim(int n) { return cCITheme::theme()->getDimension(n, 0); }

}  // namespace

cMessageForm::cStrTokenItem::~cStrTokenItem() {
    if (label.parent()) label.parent()->dettach(&label);
}

int cMessageForm::infobox(cChildElement* parent, const char* text, const char* caption) {
    return doDialog(parent, text, caption, 3, 0, bsOk);
}
int cMessageForm::warningbox(cChildElement* parent, const char* text, const char* caption) {
    return doDialog(parent, text, caption, 4, 2, bsOk);
}
int cMessageForm::errorbox(cChildElement* parent, const char* text, const char* caption) {
    return doDialog(parent, text, caption, 5, 3, bsOk);
}
bool cMessageForm::confirmbox(cChildElement* parent, const char* text, const char* caption) {
    return doDialog(parent, text, caption, 6, 1, bsYesNo) != 0;
}
bool cMessageForm::warnconfirmbox(cChildElement* parent, const char* text, const char* caption) {
    return doDialog(parent, text, caption, 6, 2, bsYesNo) != 0;
}

void cMessageForm::split(cChildElement* measurer, const char* text, int& widest, int& tallest) {
    widest = tallest = 0;
    myLines.destroy();
    if (!text || !*text) return;
    cFontObject* plain = measurer->createFont(5, 13, _glbalStdFont(), false, false, false);
    cFontObject* bold = measurer->createFont(6, 13, _glbalStdFont(), true, false, false);
    const char* p = text;
    for (bool first = true; *p; first = false) {
        const char* nl = strchr(p, '\n');
        long long n = nl ? nl - p : (long long)strlen(p);
        cStrTokenItem* item = new cStrTokenItem;
        item->text.set(p, n);
        if (!item->text.ptr) item->text.set("");
        myLines.add(item);
        sSize s = {0, 0};
        measurer->sizeOf(item->text.ptr, s, first ? bold : plain);
        int w = s.cx + (first ? 37 : 0);
        if (w > widest) widest = w;
        if (s.cy > tallest) tallest = s.cy;
        if (!nl) break;
        p = nl + 1;
    }
    myLineHeight = tallest;
}

void cMessageForm::boxSize(cChildElement* parent, const char* text, eButtonSet buttons, sSize& size) {
    size.cx = size.cy = 0;
    if (!parent || !text) return;
    cMessageForm probe;
    int W, H;
    probe.split(parent, text, W, H);
    long long n = probe.myLines.count();
    if (n == 0) {
        size.cx = 30;
        size.cy = 105;
    } else {
        size.cx = W + 30;
        size.cy = (int)(H * (n - 1) * 1.5) + 115;
    }
    // At least as wide as the button row and its margins on both sides.
    fillImages();
    int row = 0;
    const int texts[2][2] = {{0, -1}, {1, 2}};
    for (int i = 0; i < 2 && (buttons == bsOk || buttons == bsYesNo); i++) {
        int idx = texts[buttons][i];
        if (idx < 0) continue;
        row += cButtonChild::requiredWidth(parent, probe.string(parent, idx), gImages.image(i == 0 ? 0 : 1),
                                           cButtonChild::dsPictLeft, nullptr);
    }
    if (row && size.cx < row + 2 * dim(9)) size.cx = row + 2 * dim(9);
}

int cMessageForm::doDialog(cChildElement* parent, const char* text, const char* caption, int titleIndex,
                           int iconIndex, eButtonSet buttons) {
    if (!parent || !text) return 0;
    // No window to run on: the answer is No, never a Yes nobody gave.
    if (!parent->platformWindow()) return 0;
    sSize size;
    boxSize(parent, text, buttons, size);
    cMessageForm* form = new cMessageForm;
    form->myIconIndex = iconIndex;
    form->myCaption = caption;
    form->myButtonSet = buttons;
    // The whole message as the form's text, for whoever inspects the box.
    form->setText(text, -1, false);
    int W, H;
    form->split(parent, text, W, H);
    const char* title = caption ? caption : form->string(parent, titleIndex);
    int code = parent->modal(title, size.cx, size.cy, form, false);
    return code > 0 ? 1 : 0;
}

void cMessageForm::onInitData() {
    cCustomForm::onInitData();
    fillImages();
}

void cMessageForm::onConstruct() {
    cCustomForm::onConstruct();
    onInitData();
    cPanelChild* client = clientArea();
    sRect cr = {0, 0, client->width(), client->height()};
    client->clientRect(&cr);
    int CW = cr.w, H = myLineHeight;
    unsigned int back = cCITheme::theme()->getColor(0);
    // The lines and the icon sit on the form background: the panel takes it too.
    client->setBgColor(back);
    int y = 42, index = 0;
    for (cListItem* i = myLines.first(); i; i = i->next, index++) {
        cStrTokenItem* line = static_cast<cStrTokenItem*>(i);
        cStaticElement& l = line->label;
        if (index == 0) {
            client->attach(&l, 42, (29 - H) / 2, CW - 47, H + 2);
            l.setFont(createFont(6, 13, _glbalStdFont(), true, false, false));
            l.setTextColor(cCITheme::theme()->getColor(61));
        } else {
            client->attach(&l, 5, y, CW - 10, H + 2);
            y += (int)(1.5 * H);
        }
        l.setColorSchema(l.textColor(), back, back);
        l.setText(line->text.ptr, cCanvas::taLeft, false);
    }
    attach(&myButtons, 0, 0, 1, 24);
    myButtons.setTransparent(true);
    myButtons.setImageList(cButtonChild::stNormal, &gImages);
    if (myButtonSet == bsYesNo) {
        myButtons.setButton(1, string(1), 0);
        myButtons.setButton(2, string(2), 1);
    } else if (myButtonSet == bsOk) {
        myButtons.setButton(1, string(0), 0);
    }
    int w = myButtons.wantsWidth();
    anchor(&myButtons, -(dim(9) + w), -(dim(8) + 1) - dim(7), w, dim(7));
    client->attach(&myIcon, 5, 0, 33, 29);
    myIcon.setImage(gImages.image(10 + myIconIndex), false);
    myIcon.setColorSchema(myIcon.textColor(), back, back);
}

bool cMessageForm::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == &myButtons && action->type == 6) {
        auto* a = dynamic_cast<cToolBarChild::cTbButtonAction*>(action);
        if (a && a->id == 2) onFormCancel();
        if (a && a->id == 1) onFormAccept();
    }
    return cCustomForm::onAction(sender, action);
}

bool cMessageForm::onFormAccept() {
    end_modal(1);
    return true;
}

bool cMessageForm::onFormCancel() {
    end_modal(0);
    return true;
}
