// The language switch: the stored language's flag, a popup of the defined languages.
#include "softmgrapp/langswitch.h"

#include "ciplatform/canvas.h"
#include "instengine/pkgregistry.h"
#include "softmgrapp/appcontrols.h"
#include "softmgrapp/sopkglang.h"
#include "ui/application.h"
#include "ui/controls/popupmenu.h"
#include "ui/lang.h"

void cLangSwitchCtl::onInitData() {
    cGenButtonChild::onInitData();
    myLang = 12;
    update(true);
}

void cLangSwitchCtl::update(bool repaintIt) {
    int lang = cSOPKGLang::_defaultLang();
    unsigned long long stored = 0;
    if (store && store->getParamInt(kRegLangCurrent, stored)) {
        int id = (int)(stored & 0xFFFFFFFFu);
        if (stored <= 10 && cSOPKGLang::_defines(id)) lang = id;
    }
    if (lang == myLang) return;
    myLang = lang;
    if (repaintIt) repaint();
    setHint(ciLangName(lang));
}

void cLangSwitchCtl::onPaint(cCanvas* canvas) {
    sRect all = {0, 0, width(), height()};
    canvas->drawRect(&all, 0xFFFFFF, (unsigned)-1);
    cPicture* flag = ciLangImage18x14(myLang);
    if (!flag) return;
    sPoint at = {(width() - flag->width()) / 2, (height() - flag->height()) / 2};
    canvas->drawTransparent(&at, flag);
}

bool cLangSwitchCtl::choose(int lang) {
    if (lang < 0 || lang > 10 || lang == myLang || !cSOPKGLang::_defines(lang)) return false;
    if (!cSOPKGLang::applyLang(lang)) return false;
    myLang = lang;
    setHint(ciLangName(lang));
    if (store) {
        store->setParamInt16(kRegLangCurrent, (unsigned short)lang);
        store->saveConfig();
    }
    notifyAction(new cChildAction(eActLangChanged));
    repaint();
    return true;
}

bool cLangSwitchCtl::onAction(cChildElement* sender, cChildAction* action) {
    if (sender != this || action->type != eActClick) return cGenButtonChild::onAction(sender, action);
    tPopupItems items;
    for (int id = 0; id <= 10; id++) {
        if (!cSOPKGLang::_defines(id)) continue;
        sActiveElementItem* item = items.insert(id);
        item->text.set(ciLangName(id));
        item->imageId = id;
    }
    sPoint at = {0, 0};
    absPos(at);
    cPopupMaster::sPopupConfig cfg;
    cfg.background = 0xFFFFFF;
    cfg.text = 0x372F2E;
    cfg.frame = 0xDBCAC7;
    cfg.font = mkSelectHdrFont();
    cfg.images = ciLangImages18x14();
    cfg.selectedId = myLang;
    // Every click opens the popup, also one inside an open popup: each choice is applied
    // and stored in turn, and the owner reopens its form once.
    int chosen = cPopupMaster::simplePopup(this, items, at.x, at.y + height() + 2, &cfg);
    if (chosen >= 0) choose(chosen);
    return true;
}
