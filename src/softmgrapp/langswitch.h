// cLangSwitchCtl: the flag button of the Software Manager form; its popup applies and
// stores another UI language and tells the owner (action 6), which reopens its form.
#pragma once

#include "ui/controls/button.h"

class cApplicationConfig;

class cLangSwitchCtl : public cGenButtonChild {
public:
    enum { eActLangChanged = 6 };
    // Shows the language under "lang/current" (the default one when it is missing or not
    // defined); repaints when asked and it changed.
    void update(bool repaint);
    int shownLang() const { return myLang; }
    // Applies and stores a language as a click's popup choice would; false when it is
    // the shown one or cannot be applied.
    bool choose(int lang);

    void onInitData() override;
    void onPaint(cCanvas* canvas) override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool wantTabStop() override { return true; }

    // The configuration store the stored language is read from and written to.
    cApplicationConfig* store = nullptr;

private:
    int myLang = 12;
};
