// cPopupMaster: the popup list: items (text, picture, hint) shown as buttons in a
// borderless modal popup at a screen point; the call blocks and returns the chosen id or
// -1 when the list is dismissed (Esc, a press outside, the loss of the focus).
#pragma once

#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/lists.h"
#include "ciplatform/picture.h"
#include "ui/controls/button.h"
#include "ui/controls/scrollable.h"

// One item of a popup list; a new one has empty texts, no association, no picture (-1)
// and an automatic height (-1).
struct sActiveElementItem {
    _guardchar<char> text;
    _guardchar<char> hint;
    void* association = nullptr;
    int imageId = -1;
    int height = -1;
};

typedef cFasterTreeList<int, sActiveElementItem> tPopupItems;

class cPopupMaster : public cScrollableElement {
public:
    // The appearance of simplePopup's short form. Colours are 0x00BBGGRR; -1 unset.
    struct sPopupConfig {
        sPopupConfig();
        int minWidth = 0;
        cPicturesList* images = nullptr;
        int selectedId = -1;
        unsigned int background;
        unsigned int text;
        unsigned int hoverBackground = 0xFFFFFFFFu;
        unsigned int hoverText = 0xFFFFFFFFu;
        unsigned int pressedBackground = 0xFFFFFFFFu;
        unsigned int pressedText = 0xFFFFFFFFu;
        unsigned int focusBackground = 0xFFFFFFFFu;
        unsigned int focusText = 0xFFFFFFFFu;
        unsigned int frame;
        cFontObject* font = nullptr;
    };

    // One shown item: its button and its entry in the caller's list.
    class cBtnListItem : public cListItem {
    public:
        cButtonChild button;
        tPopupItems::sEntry* entry = nullptr;
    };

    // The size the list needs; false without an owner or a font.
    static bool evalSize(cChildElement* owner, tPopupItems& items, cPicturesList* images, sSize& size,
                         cFontObject* font);
    // Shows the list at the screen point (x, y), w x h (fitted to the desktop); frame -1
    // is theme colour 21. The chosen id, or -1.
    static int runPopUp(cChildElement* owner, tPopupItems& items, cPicturesList* images, int x, int y, int w, int h,
                        int selectedId, unsigned int background, unsigned int text, unsigned int frame,
                        cFontObject* font, unsigned int hoverBackground, unsigned int hoverText,
                        unsigned int pressedBackground, unsigned int pressedText, unsigned int focusBackground,
                        unsigned int focusText);
    static int simplePopup(cChildElement* owner, tPopupItems& items, int x, int y, int minWidth,
                           cPicturesList* images, int selectedId, unsigned int background, unsigned int text,
                           unsigned int frame, cFontObject* font, unsigned int hoverBackground,
                           unsigned int hoverText, unsigned int pressedBackground, unsigned int pressedText,
                           unsigned int focusBackground, unsigned int focusText);
    static int simplePopup(cChildElement* owner, tPopupItems& items, int x, int y, sPopupConfig* config);

    ~cPopupMaster() override;

    // The button of an id (null when not shown).
    cButtonChild* buttonOf(int id);
    long long buttonCount() const { return myButtons.count(); }

    void processOSFocus() override {}
    void processOSFocusLost() override {}
    bool processKey(int key, bool shift, bool ctrl, bool alt) override;
    void processMouseBtn(int x, int y, int button, bool pressed, bool ctrl, bool shift) override;
    void onConstruct() override;
    bool onBackgroundRequest(cCanvas* canvas, sRect* rect) override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    void onLooseFocus() override;
    bool wantDoubleBuffer() override { return true; }
    bool wantTabStop() override { return false; }
    int wantBorderWidth() override { return 1; }
    void onInitData() override;
    void onPaintArea(cCanvas* canvas) override;

private:
    cPopupMaster() {}
    void finish(int code);

    tPopupItems* myItems = nullptr;
    cPicturesList* myImages = nullptr;
    cFontObject* myFont = nullptr;
    unsigned int myBg = 0xFFFFFF, myText = 0;
    unsigned int myHoverBg = 0xFFFFFFFFu, myHoverText = 0xFFFFFFFFu;
    unsigned int myPressedBg = 0xFFFFFFFFu, myPressedText = 0xFFFFFFFFu;
    unsigned int myFocusBg = 0xFFFFFFFFu, myFocusText = 0xFFFFFFFFu;
    unsigned int myFrame = 0;
    cPicture myHoverPict, myPressedPict, myFocusPict;
    int mySelectedId = -1;
    cList myButtons;
    bool myEnded = false;
};
