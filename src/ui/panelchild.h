// cPanelChild: the plain container panel: a background and an optional border.
#pragma once

#include "ui/childelement.h"

class cPanelChild : public cChildElement {
public:
    cPanelChild() {}

    // 0xFF000000: the theme's background; -1: none (nothing is filled).
    void setBgColor(unsigned int colour);
    void setBorderColor(unsigned int colour);
    unsigned int bgColor() const { return myBg; }
    unsigned int borderColor() const { return myBorder; }

    void onPaint(cCanvas* canvas) override;
    void onInitData() override;
    bool wantAcceptFoucs() override { return false; }

private:
    unsigned int myBg = 0xFF000000u;
    unsigned int myBorder = 0xFFFFFFFFu;
};
