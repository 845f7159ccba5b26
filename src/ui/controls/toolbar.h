// cToolBarChild: a row of buttons addressed by int ids, laid out in id order with one
// style, picture set, colours and font; a click is reported as action 6 with the id. When
// the row is too narrow, buttons move into a drop-down list behind an overflow button.
#pragma once

#include "base/fastertreelist.h"
#include "base/lists.h"
#include "ui/controls/button.h"
#include "ui/controls/popupmenu.h"

class cToolBarChild : public cChildElement {
public:
    enum eSmallerSizeBehavior { ssbNone = 0, ssbCollapseMiddle = 1, ssbCutEnd = 2 };

    class cTbButtonAction : public cChildAction {
    public:
        explicit cTbButtonAction(int id) : cChildAction(6), id(id) {}
        int id;
    };

    cToolBarChild();
    ~cToolBarChild() override;

    // A null text with a negative image removes the button.
    bool setButton(int id, const char* text, int image);
    bool setSeparator(int id);
    bool removeButton(int id);
    void removeAll(bool repaint);
    cButtonChild* findButton(int id);
    bool buttonAbsPos(int id, sPoint& at);
    bool setVisible(int id, bool visible);
    void setEnabled(int id, bool enabled);
    bool isEnabled(int id);
    void setHint(int id, const char* text);
    void setButtonFont(int id, cFontObject* font);
    void setButtonTextColor(int id, unsigned int colour);

    void setImageList(cButtonChild::eButtonStates state, cPicturesList* list);
    void setFixedButtonWidth(int w);
    void setMinButtonWidth(int w) { myMinButtonWidth = w; }
    void setBorderedButtonStyle(cButtonChild::eBorderStyle style);
    void setBorder(bool on);
    void setDrawOwnBorder(bool on);
    void setButtonsStyle(cButtonChild::eDispStyle style);
    void setSmallerSizeBehavior(eSmallerSizeBehavior b);
    void setHideFrom(int id);
    void setBgColor(unsigned int colour, bool repaint);
    void setButtonsTextColor(unsigned int colour);
    void setButtonsTextColor(cButtonChild::eButtonStates state, unsigned int colour);
    void setButtonsFont(cFontObject* font);
    void refButtonsBgImage(cButtonChild::eButtonStates state, cPicture* picture);
    void setButtonsBorderColor(cButtonChild::eButtonStates state, unsigned int colour);
    void setDftBorderColors(unsigned int light, unsigned int dark);
    void setButtonAcceptFocus(bool on);
    void setTransparent(bool on) override;
    // Values below 17 are refused.
    void setMaxDDHeight(int h);

    // The width every button not marked hidden wants, separators included.
    int wantsWidth();
    void rebuildToolbar();

    cButtonChild* overflowButton() { return &myOverflow; }
    tPopupItems& overflowItems() { return myOverflowItems; }
    int overflowListWidth() const { return myListW; }
    int overflowListHeight() const { return myListH; }
    // The drop-down as it would be opened now: its width and height.
    void overflowListSize(int& w, int& h);

    void onPaint(cCanvas* canvas) override;
    void onSizeChanged() override;
    void onMouseButton(int x, int y, int button, bool down) override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    void onInitData() override;

protected:
    // Makes a new button (null refuses); initButton may refuse it again.
    virtual cButtonChild* allocButton() { return new cButtonChild; }
    virtual bool initButton(int id, cButtonChild* button) { return true; }

private:
    int naturalWidth(cButtonChild* b, bool applyFixed);
    void place(int id, cButtonChild* b, int& x, int w);
    void refreshPictures(int id, cButtonChild* b);
    void addOverflowItem(int id, cButtonChild* b, int w, bool withHint);
    void runOverflow();

    cFasterTreeList<int, int> myImageIndex;
    cFasterTreeList<int, cPtr<cButtonChild> > myButtons;
    cFasterTreeList<int, bool> myHidden;
    cFasterTreeList<int, cPicturesList*> myImageLists;
    int myFixedWidth = 0;
    int myHideFrom = 0;
    eSmallerSizeBehavior myBehavior = ssbNone;
    cButtonChild::eBorderStyle myBorderedStyle = cButtonChild::brdRaised;
    cButtonChild myOverflow;
    tPopupItems myOverflowItems;
    int myListW = 0;
    int myListH = 0;
    int myMaxDDHeight = 200;
    unsigned int myBg;
    unsigned int myFrame;
    unsigned int myTextColour;
    cFontObject* myFont = nullptr;
    bool myBorder = false;
    bool myDrawOwnBorder = true;
    cButtonChild::eDispStyle myStyle = cButtonChild::dsPictLeft;
    int myMinButtonWidth = 0;
    unsigned int myDftLight = 0xFFFFFFFFu, myDftDark = 0xFFFFFFFFu;
    signed char myButtonsAcceptFocus = -1;
};
