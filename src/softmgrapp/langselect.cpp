// The language grid and the language question. Ids above 10 may be listed but are never
// applied or returned; the form's result is the language + 1, 0 when cancelled.
#include "softmgrapp/langselect.h"

#include <cstring>

#include "ciplatform/canvas.h"
#include "instengine/updateinstall.h"
#include "softmgrapp/appboxes.h"
#include "softmgrapp/appcontrols.h"
#include "softmgrapp/appmessages.h"
#include "softmgrapp/sopkglang.h"
#include "ui/controls/link.h"
#include "ui/lang.h"
#include "ui/panelchild.h"
#include "ui/staticelement.h"

namespace {

const char kLangPage[] = "http://www.vantorel.example/app_lang_opts.php?app=";

// The link's text, or null when the table has none or marks it absent with a "-".
const char* linkText(cChildElement* form) {
    const char* t = form->string(eLangsOtherLink);
    return t && *t && *t != '-' ? t : nullptr;
}

}  // namespace

// ---- cLangsGrid ----

void cLangsGrid::setLangs(const _List<int>& langs) {
    myLangs.set(langs.count());  // empty when that fails: nothing to pick, cancel still works
    long long i = 0;
    for (auto* it = langs.head; it && i < myLangs.count; it = it->next) myLangs.ptr[i++] = it->value;
    notifyGridChanged(true);
}

int cLangsGrid::getSelectedLang() const {
    int s = selectedCell();
    return s >= 0 && s < myLangs.count ? myLangs.ptr[s] : 11;
}

int cLangsGrid::cellWidth() {
    sRect r;
    clientRect(&r);
    return r.w > 1 ? r.w : 1;
}

void cLangsGrid::paintElement(cCanvas* canvas, int index, bool selected) {
    if (index < 0 || index >= myLangs.count) return;
    int lang = myLangs.ptr[index];
    sRect r = {0, 0, cellWidth(), 30};
    unsigned int fill = selected ? 0xF4E8DD : 0xFFFFFF, frame = selected ? 0xDFCAB7 : 0xFFFFFF;
    canvas->drawRect(&r, fill, frame);
    sPoint at = {10, 3};
    if (cPicture* flag = ciLangImage27x22(lang)) canvas->drawTransparent(&at, flag);
    canvas->setTextMode(mkStdFont());
    canvas->setTextColors(0x655654, fill);
    const char* name = ciLangName(lang);
    canvas->drawText(55, 7, false, name ? name : "?");
}

// ---- cLangSelectionForm ----

int cLangSelectionForm::chooseLang(const _List<int>& list, int preselect, const char* code, cChildElement* parent,
                                   cWindowMaker* maker) {
    if (list.empty()) return 11;
    if (list.count() == 1) return list.head->value;
    if (gConsoleMessages) {
        // No one to ask: the preselected language when offered, else the first.
        for (auto* it = list.head; it; it = it->next)
            if (it->value == preselect) return preselect;
        return list.head->value;
    }
    cLangSelectionForm* f = new cLangSelectionForm;
    f->langs = &list;
    f->preselect = preselect;
    f->code.set(code);
    int r = parent && parent->host() ? parent->modal("", 380, 370, f)
                                     : cChildElement::modalWindow(maker ? maker : appWindowMaker(), "", 400, 370, f,
                                                                  nullptr, 0);
    return r <= 0 ? 11 : r - 1;
}

bool cLangSelectionForm::langPageAddress(const char* code, _guardchar<char>& out) {
    if (!code || !*code) return false;
    size_t n = strlen(code), base = sizeof(kLangPage) - 1;
    _guardchar<char> a;
    if (!a.set((long long)(base + 3 * n))) return false;
    memcpy(a.ptr, kLangPage, base);
    char* p = a.ptr + base;
    static const char kHex[] = "0123456789ABCDEF";
    for (const unsigned char* c = (const unsigned char*)code; *c; c++) {
        if ((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') || strchr("-._~", *c)) {
            *p++ = (char)*c;
        } else {
            *p++ = '%';
            *p++ = kHex[*c >> 4];
            *p++ = kHex[*c & 15];
        }
    }
    *p = 0;
    return out.set(a.ptr);
}

int cLangSelectionForm::selectedLang() const { return myGrid ? myGrid->getSelectedLang() : 11; }

void cLangSelectionForm::applyTexts() {
    if (myTitle && mySubtitle) {
        // Each one line, its top at y 25 and 55 (a line of text is centred in its element,
        // so the element is one line high in the language's font); every translation fits
        // the panel's width.
        const char* title = string(eLangsTitle) ? string(eLangsTitle) : "";
        const char* sub = string(eLangsPrompt) ? string(eLangsPrompt) : "";
        clientArea()->anchor(myTitle, 15, 25, -31, textExtent(title, mkTitleFont()).cy);
        clientArea()->anchor(mySubtitle, 15, 55, -31, textExtent(sub, mkStdFont()).cy);
        myTitle->setText(title, cCanvas::taLeft);
        mySubtitle->setText(sub, cCanvas::taLeft);
    }
    if (myStart) myStart->setText(string(eLangsStart));
    if (!myLink) return;
    const char* t = linkText(this);
    if (!t) {
        myLink->hide();
        return;
    }
    myLink->setText(t, cCanvas::taLeft);
    sSize want = {0, 0};
    myLink->wantsSize(want);
    clientArea()->anchor(myLink, 15, 335, want.cx, want.cy);
    myLink->show();
}

void cLangSelectionForm::onConstruct() {
    cCustomForm::onConstruct();
    clientArea()->setBgColor(0xE7E7E7);
    myTitle = new cStaticElement;
    clientArea()->attach(myTitle, 15, 25, 10, 10);
    myTitle->setFont(mkTitleFont());
    mySubtitle = new cStaticElement;
    clientArea()->attach(mySubtitle, 15, 55, 10, 10);
    mySubtitle->setFont(mkStdFont());
    myTitle->setColorSchema(0x655654, 0xE7E7E7, (unsigned)-1);
    mySubtitle->setColorSchema(0x655654, 0xE7E7E7, (unsigned)-1);
    myPanel = new cPanelChild;
    clientArea()->attach(myPanel, 0, 0, 10, 10);
    clientArea()->anchor(myPanel, 15, 85, -31, 230);
    myPanel->setBgColor(0xFFFFFF);
    myPanel->setBorderColor(0xDBCAC7);
    myGrid = new cLangsGrid;
    myPanel->attach(myGrid, 0, 0, 10, 10);
    myPanel->anchor(myGrid, 8, 10, -17, -21);
    if (langs) myGrid->setLangs(*langs);
    myStart = new cWZIButton;
    clientArea()->attach(myStart, 0, 0, 100, 26);
    clientArea()->anchor(myStart, -116, 330, 100, 26);
    if (!code.empty()) {
        myLink = new cLinkElement;
        clientArea()->attach(myLink, 15, 335, 10, 10);
        myLink->setColorSchema(0xA03030, 0xE7E7E7, (unsigned)-1);
        myLink->setFont(mkStdFont());
    }
    applyTexts();
    // The first entry equal to the preselected language, scrolled into view quietly.
    int index = 0;
    for (auto* it = langs ? langs->head : nullptr; it; it = it->next, index++) {
        if (it->value != preselect) continue;
        myGrid->selectCell(index, false);
        break;
    }
    myGrid->focus();
}

bool cLangSelectionForm::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == myGrid && action->type == 6 && !action->sent()) {
        // The form switches to the picked language at once.
        int lang = myGrid->getSelectedLang();
        if (lang <= 10 && lang != cLibLang::appliedLang() && cSOPKGLang::applyLang(lang)) {
            applyTexts();
            repaint();
        }
        return true;
    }
    if (sender == myGrid && action->type == 7 && !action->sent()) return onFormAccept();
    if (action->type == eActClick && sender == myStart) return onFormAccept();
    if (action->type == eActClick && myLink && sender == myLink) {
        _guardchar<char> address;
        if (langPageAddress(code.ptr, address)) openWebAddress(address.ptr);
        return true;
    }
    return cCustomForm::onAction(sender, action);
}

bool cLangSelectionForm::onFormAccept() {
    int lang = selectedLang();
    if (lang <= 10) end_modal(lang + 1);
    return true;
}

bool cLangSelectionForm::onFormCancel() {
    if (appMessageBox(this, nullptr, eBoxQuestion, string(eLangsAskCancel)) == 1) end_modal(0);
    return true;
}
