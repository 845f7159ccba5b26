// cPropDispAreaChild: a framed, scrolling area with a bold title and a wrapped, justified
// text that measures how tall its content is and scrolls over it; cPropSheetExChild: a
// property sheet above such an area, which shows the selected row's name and description.
#pragma once

#include "base/buffers.h"
#include "ui/controls/propsheet.h"
#include "ui/controls/scrollable.h"
#include "ui/controls/splitter.h"

class cFontObject;

class cPropDispAreaChild : public cScrollableElement {
public:
    // Type 6, queued on the area when a paint found the content height changed. The area
    // takes the height as its own content height first (so it scrolls by itself when used
    // alone), then the action goes on to the owner.
    class cPropDispResizeAction : public cChildAction {
    public:
        explicit cPropDispResizeAction(int height) : cChildAction(6), height(height) {}
        int height;
    };

    cPropDispAreaChild() {}
    ~cPropDispAreaChild() override {}

    using cChildElement::setText;
    // Sets title and text (UTF-8, null: empty) and repaints.
    void setText(const char* title, const char* text);
    // The same with byte lengths; a negative length takes the whole string.
    void setText(const char* title, int titleLength, const char* text, int textLength);
    // Frame, background and text colours (0x00BBGGRR); repaints.
    void setColorSchema(unsigned int frame, unsigned int background, unsigned int text);
    // Null: the standard bold font for the title, the standard font for the text. No repaint.
    void setFonts(cFontObject* title, cFontObject* text);
    // Pixels between title and text; negative values are ignored. No repaint.
    void setExtraTitleSpacing(int spacing);
    const char* title() const { return myTitle.ptr; }

    const char* text() override { return myText.ptr; }
    bool wantDoubleBuffer() override { return true; }
    int wantBorderWidth() override { return 1; }
    void onInitData() override;
    void onPaintArea(cCanvas* canvas) override;
    bool onAction(cChildElement* sender, cChildAction* action) override;

private:
    _guardchar<char> myTitle;
    _guardchar<char> myText;
    unsigned int myFrame = 0;
    unsigned int myBg = 0xFFFFFF;
    unsigned int myTextColour = 0;
    cFontObject* myTitleFont = nullptr;
    cFontObject* myTextFont = nullptr;
    int myExtraSpacing = 0;
};

// A vertical split: the property sheet (item 1) above the description area (item 2).
// Selecting a row shows its name and description in the area; that selection action is
// consumed here. The owner fills the sheet through sheet().
class cPropSheetExChild : public cVSplitterChild {
public:
    cPropSheetExChild() {}
    ~cPropSheetExChild() override {}

    // Clears the area's title and text and every section of the sheet.
    void clear();
    cPropSheetChild& sheet() { return mySheet; }
    cPropDispAreaChild& area() { return myArea; }
    // The sheet's share of the height in percent, read by onInitData (outside 0-100: 75).
    void setShare(double percent) { myShare = percent; }
    double share() const { return myShare; }

    bool onAction(cChildElement* sender, cChildAction* action) override;
    void onInitData() override;

private:
    cPropSheetChild mySheet;
    cPropDispAreaChild myArea;
    double myShare = 75.0;
};
