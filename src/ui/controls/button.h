// cButtonChild: the toolkit's push button (seven border styles, a caption and a picture
// per state, its required size, a click reported as a type-0 action); cGenButtonChild:
// the bare click logic for buttons that paint themselves.
#pragma once

#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "ciplatform/canvas.h"
#include "ui/childelement.h"
#include "ui/childpicture.h"

class cFontObject;
class cPicture;

// The click logic both buttons share: the left button pressed and released inside, or Space
// or Enter, is a click (a type-0 action); hover, focus and enabling repaint.
class cPushElement : public cChildElement {
public:
    bool pressed() const { return myPressed; }
    bool hovered() const { return myHover; }

    void onMouseButton(int x, int y, int button, bool down) override;
    void onMouseOver() override;
    void onMouseLeft() override;
    bool onKey(int key, bool shift, bool ctrl, bool alt) override;
    void onSetFocus() override;
    void onLooseFocus() override;
    void onEnableChanged() override;
    bool wantTabStop() override { return true; }
    bool wantFullRepaint() override { return true; }
    int wantFocusRing() override { return 2; }

protected:
    // Whether keys and clicks count now.
    virtual bool takesInput() { return enabled(); }

    bool myHover = false;
    bool myPressed = false;
};

class cButtonChild : public cPushElement {
public:
    enum eButtonStates { stNormal = 0, stFocused = 1, stHover = 2, stPressed = 3, stDisabled = 4 };
    enum eBorderStyle {
        brd3D = 0, brdPicture = 1, brdFrame = 2, brdRaised = 3, brdRaisedFill = 4, brdHot = 5, brdFill = 6
    };
    enum eDispStyle { dsPictLeft = 0, dsPictTop = 1 };

    cButtonChild();
    ~cButtonChild() override;

    const char* text() override { return myCaption.ptr; }
    using cChildElement::text;
    // Stores the caption, forgets the cached sizes, repaints.
    void setText(const char* text);
    void setText(const char* text, long long length, bool repaint) override;

    cCanvas::eTextAlign align() const { return myAlign; }
    void setAlign(cCanvas::eTextAlign align, bool repaint = true);
    eBorderStyle border() const { return myBorder; }
    void setBorder(eBorderStyle style, bool repaint = true);
    eDispStyle style() const { return myDispStyle; }
    void setStyle(eDispStyle style, bool repaint = true);
    cFontObject* font() const { return myFont; }
    void setFont(cFontObject* font);
    // States 0-3; nothing when state 0 already has the colour.
    void setTextColor(unsigned int colour, bool repaint = true);
    void setTextColor(eButtonStates state, unsigned int colour, bool repaint = true);
    void setDsbTextColor(unsigned int colour, bool repaint = true);
    void setBgColor(unsigned int colour, bool repaint = true);
    void setDsbBgColor(unsigned int colour, bool repaint = true);
    unsigned int bgColor() const { return myBg; }
    unsigned int textColor(eButtonStates state) const { return state >= 0 && state < 5 ? myTextColours[state] : 0; }
    // 0xFFFFFFFF leaves that colour as it was; states from 5 on are ignored.
    void setBorderColors(eButtonStates state, unsigned int light, unsigned int dark);

    // The holder a caller fills for a state: 4 disabled, 3 pressed, 1 and 2 active, else main.
    cChildPicture* image(eButtonStates state);
    void refStateBackImage(eButtonStates state, cPicture* picture);
    cPicture* stateBackImage(eButtonStates state);
    cPicture* forDraw(eButtonStates state);
    eButtonStates state();

    int requiredWidth();
    int requiredHeight();
    // Null font: the measurer's standard font; null measurer: the text counts as 0 x 0.
    static int requiredWidth(cChildElement* measurer, const char* text, cPicture* picture, eDispStyle style,
                             cFontObject* font);
    static int requiredHeight(cChildElement* measurer, const char* text, cPicture* picture, eDispStyle style,
                              cFontObject* font);

    void onPaint(cCanvas* canvas) override;
    bool wantDoubleBuffer() override { return true; }
    void onInitData() override;

private:
    void forgetSizes() { myReqW = myReqH = -1; }

    cChildPicture myMain;
    cChildPicture myActive;
    cChildPicture myPressedPict;
    cChildPicture myDisabled;
    cFontObject* myFont = nullptr;
    cCanvas::eTextAlign myAlign = cCanvas::taLeft;
    _guardchar<char> myCaption;
    unsigned int myBg = 0xFFFFFF;
    unsigned int myDsbBg = 0xFFFFFFFFu;
    unsigned int myTextColours[5] = {0, 0, 0, 0, 0};
    unsigned int myLight[5] = {0, 0, 0, 0, 0};
    unsigned int myDark[5] = {0, 0, 0, 0, 0};
    eBorderStyle myBorder = brd3D;
    eDispStyle myDispStyle = dsPictLeft;
    int myReqW = -1, myReqH = -1;
    cFasterTreeList<int, cPicture*> myStateBack;
};

class cGenButtonChild : public cPushElement {
public:
    cGenButtonChild() {}

    // An activated button ignores keys and clicks.
    void setActivated(bool on, bool repaint = true);
    bool activated() const { return myActivated; }

    void onInitData() override;

protected:
    bool takesInput() override { return enabled() && !myActivated; }

private:
    bool myActivated = false;
};
