// cScrollableElement: the base of elements whose content can be larger than themselves:
// a virtual content size, the two bars shown as needed, pixel offsets exposed as the
// element's virtual offset, wheel scrolling and bringing children into view.
#pragma once

#include "base/fastertreelist.h"
#include "ui/controls/scrollbar.h"

class cScrollableElement : public cChildElement {
public:
    // Per-child restrictions of scrollToChild.
    struct sPinMode {
        bool pinX = false;
        bool pinY = false;
    };

    cScrollableElement() {}
    ~cScrollableElement() override;

    // The content size; a negative or unchanged value is ignored, otherwise the bars are
    // rebuilt and the children's anchors re-applied.
    void setMinVisualWidth(int w);
    void setMinVisualHeight(int h);
    int minVisualWidth() const { return myMinVisualWidth; }
    int minVisualHeight() const { return myMinVisualHeight; }
    int shiftX() const { return myShiftX; }
    int shiftY() const { return myShiftY; }
    void setPageSize(int h, int v);
    // The step of an arrow click, an arrow key and one wheel notch.
    void setQuantumSize(int h, int v);
    // The shown bar's thickness, else 0.
    int getHScrollRes();
    int getVScrollRes();
    // Shows, hides and places the bars for the current size and content size.
    void rebuild();
    // Scrolls so that r (content coordinates) becomes visible; true when a bar moved.
    // The offsets follow when the bars' position actions arrive.
    bool adjustScrollTo(sRect& r, bool keepX, bool keepY);
    bool scrollToChild(cChildElement* child);
    void pinChild(cChildElement* child, bool pinX, bool pinY);
    void scrollMinX();
    void scrollMaxX();
    void scrollMinY();
    void scrollMaxY();

    cHScroll* hScroll() { return &myHBar; }
    cVScroll* vScroll() { return &myVBar; }

    bool virtualSize(sSize* size) override;
    bool virtualOffset(sPoint* offset) override;
    bool clientRect(sRect* r) override;
    void onPaint(cCanvas* canvas) override;
    bool childPaintArea(sRect* r) override;
    void onSizeChanged() override;
    bool onMouseWheel(int x, int y, bool towardsStart, bool horizontal, int notches) override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool wantFullRepaint() override { return true; }
    void onInitData() override;
    // The subclass paints its content here, subtracting shiftX / shiftY itself.
    virtual void onPaintArea(cCanvas* canvas) {}

private:
    // Members go in reverse order: the pin map, then the vertical and horizontal bars.
    cHScroll myHBar;
    cVScroll myVBar;
    int myMinVisualWidth = 0;
    int myMinVisualHeight = 0;
    int myShiftX = 0;
    int myShiftY = 0;
    cFasterTreeList<cChildElement*, sPinMode> myPins;
};
