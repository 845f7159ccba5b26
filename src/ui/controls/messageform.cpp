// cMessageForm: splitting and measuring the message, the window size, the layout of the
// icon, the lines and the button row, and the answer.
#include "ui/controls/messageform.h"

#include <cstring>

#include "ciplatform/fontobject.h"
#include "ciplatform/linebreak.h"
#include "ciplatform/textcodec.h"
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

// Room left on the desktop for the window's frame.
const int kFrameAllowance = 20;

// The widest a box may be on the parent's desktop; 0 when it cannot tell.
int widestBox(cChildElement* parent) {
    sSize desk = {0, 0};
    if (!parent->desktopSize(desk) || desk.cx <= kFrameAllowance) return 0;
    return desk.cx - kFrameAllowance;
}

// Where the piece of a line that starts at code point i ends when the line is wider than
// `limit` from there: after a "/" (a path is read best cut at its folders) when that still
// fills half the room, else at the last blank, "/" or place East Asian text may break
// (linebreak.h), else after as many characters as fit, one at least. `next` gets where
// the following piece starts (past the blanks).
long long pieceEnd(const unsigned int* cps, const int* edges, long long count, long long i, int limit,
                   long long& next) {
    long long base = i ? edges[i - 1] : 0, fit = i + 1;
    while (fit < count && edges[fit] - base <= limit) fit++;
    next = fit;
    if (fit >= count) return count;
    long long slash = -1, any = -1;
    for (long long k = fit; k > i && any < 0; k--) {
        bool blank = cps[k] == ' ' && cps[k - 1] != ' ';
        if (blank || cps[k - 1] == '/' || (cps[k] != ' ' && cps[k - 1] != ' ' && canBreakBetween(cps[k - 1], cps[k])))
            any = k;
    }
    for (long long k = fit; k > i && slash < 0; k--)
        if (cps[k - 1] == '/' && edges[k - 1] - base >= limit / 2) slash = k;
    long long end = slash > 0 ? slash : any > 0 ? any : fit;
    next = end;
    while (next < count && cps[next] == ' ') next++;
    return end;
}

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

cMessageForm::cStrTokenItem* cMessageForm::line(long long i) {
    if (i < 0) return nullptr;
    cListItem* it = myLines.first();
    for (; it && i > 0; i--) it = it->next;
    return static_cast<cStrTokenItem*>(it);
}

void cMessageForm::addLine(cChildElement* measurer, const char* text, long long n, cFontObject* font, int indent,
                           int& widest, int& tallest) {
    cStrTokenItem* item = new cStrTokenItem;
    item->text.set(text, n);
    if (!item->text.ptr) item->text.set("");
    myLines.add(item);
    sSize s = {0, 0};
    measurer->sizeOf(item->text.ptr, s, font);
    if (s.cx + indent > widest) widest = s.cx + indent;
    if (s.cy > tallest) tallest = s.cy;
}

void cMessageForm::addBroken(cChildElement* measurer, const char* text, long long n, cFontObject* font, int indent,
                             int room, int wrap, int& widest, int& tallest) {
    _typebuf<unsigned int> cps;
    _typebuf<long long> at;
    _typebuf<int> edges;
    long long count = 0;
    int avail = wrap - indent;
    if (font && avail > 0 && decodeUtf8(text, n, cps, at, count) && count > 0 && edges.set(count)) {
        long long pen = 0;
        for (long long i = 0; i < count; i++) {
            pen += font->advance(cps.ptr[i]);
            edges.ptr[i] = pen > 0x3FFFFFFF ? 0x3FFFFFFF : (int)pen;
        }
        int w = edges.ptr[count - 1];
        if (w + indent > room) {
            // Pieces of about equal width, so no last word stands alone on its line.
            int pieces = (int)(((long long)w + avail - 1) / avail);
            int target = w / pieces + avail / 10;
            if (target > avail) target = avail;
            for (long long i = 0, next = 0; i < count; i = next) {
                long long end = pieceEnd(cps.ptr, edges.ptr, count, i, target, next);
                addLine(measurer, text + at.ptr[i], at.ptr[end] - at.ptr[i], font, indent, widest, tallest);
            }
            return;
        }
    }
    addLine(measurer, text, n, font, indent, widest, tallest);
}

void cMessageForm::split(cChildElement* measurer, const char* text, int& widest, int& tallest) {
    widest = tallest = 0;
    myLines.destroy();
    myHeadingLines = 0;
    if (!text || !*text) return;
    cFontObject* plain = measurer->createFont(5, 13, _glbalStdFont(), false, false, false);
    cFontObject* bold = measurer->createFont(6, 13, _glbalStdFont(), true, false, false);
    // Lines wider than the desktop allows are broken so that the box and its buttons stay
    // on the screen: to the width of the widest line that fits, two thirds of the room at
    // least. The first line is bold and 37 pixels in, beside the icon.
    int room = widestBox(measurer) - 30, wrap = room * 2 / 3;
    for (int pass = 0; pass < 2; pass++) {
        const char* p = text;
        for (bool first = true; *p; first = false) {
            const char* nl = strchr(p, '\n');
            long long n = nl ? nl - p : (long long)strlen(p);
            cFontObject* font = first ? bold : plain;
            int indent = first ? 37 : 0;
            if (pass == 0) {
                sSize s = {0, 0};
                _guardchar<char> line;
                if (room > 0 && line.set(p, n) && measurer->sizeOf(line.ptr, s, font) && s.cx + indent <= room &&
                    s.cx + indent > wrap)
                    wrap = s.cx + indent;
            } else {
                addBroken(measurer, p, n, font, indent, room, wrap, widest, tallest);
                if (first) myHeadingLines = (int)myLines.count();
            }
            if (!nl) break;
            p = nl + 1;
        }
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
    // The first line of the message (with the pieces it was broken into) beside the icon,
    // the others from y 42, each 1.5 lines below the one before.
    int step = (int)(1.5 * H), index = 0;
    for (cListItem* i = myLines.first(); i; i = i->next, index++) {
        cStrTokenItem* line = static_cast<cStrTokenItem*>(i);
        cStaticElement& l = line->label;
        if (index < myHeadingLines) {
            client->attach(&l, 42, (29 - H) / 2 + index * step, CW - 47, H + 2);
            l.setFont(createFont(6, 13, _glbalStdFont(), true, false, false));
            l.setTextColor(cCITheme::theme()->getColor(61));
        } else {
            client->attach(&l, 5, 42 + (index - 1) * step, CW - 10, H + 2);
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
