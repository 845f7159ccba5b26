// cChildPicture: an element that shows one picture, referenced or owned.
#pragma once

#include "ui/childelement.h"

class cPicture;

class cChildPicture : public cChildElement {
public:
    cChildPicture() {}
    ~cChildPicture() override;

    // The current picture or null.
    cPicture* image() const { return myImage; }
    // Shows a picture that stays its owner's.
    void refImage(cPicture* picture, bool repaint = true);
    // Shows a picture and takes it over (freed when replaced or with the element).
    void storeImage(cPicture* picture, bool repaint = true);
    // Stretch the picture to the element instead of centring it.
    void setStretch(bool on);
    // 0xFF000000: the theme's background; -1: none.
    void setBgColor(unsigned int colour);

    void onPaint(cCanvas* canvas) override;
    bool wantAcceptFoucs() override { return false; }

private:
    void set(cPicture* picture, bool owned, bool repaint);
    cPicture* myImage = nullptr;
    bool myOwned = false;
    bool myStretch = false;
    unsigned int myBg = 0xFFFFFFFFu;
};
