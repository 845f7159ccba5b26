// cSplitterChild / cVSplitterChild: numbered children laid out side by side (left to
// right, or top to bottom) with draggable separators between them; lengths kept as
// fractions of the splitter (proportional mode) or as pixels (fixed mode, where the
// splitter sizes itself to its items and asks its parent with a resize request).
#pragma once

#include "base/fastertreelist.h"
#include "ui/childelement.h"

class cSplitterChild : public cChildElement {
public:
    // Type 6: the length the splitter has just given itself (fixed mode only).
    class cResizeRequestAction : public cChildAction {
    public:
        explicit cResizeRequestAction(int size) : cChildAction(6), size(size) {}
        int size;
    };
    // A plain type-7 action follows attach and every effective drag step.
    enum { eActResize = 6, eActSizesChanged = 7 };

    cSplitterChild() : cSplitterChild(false) {}
    ~cSplitterChild() override;

    // False for a negative id or a null element; an element under the id is replaced.
    // Fixed mode stores `size` pixels; proportional mode a fraction of max(length, 100).
    bool attach(int id, cChildElement* element, int size);
    using cChildElement::attach;
    // False for a negative id or size, or an unknown id; an unchanged size does nothing.
    bool resizeItem(int id, int size);
    // Forgets an item (the element stays attached; the caller detaches it).
    bool removeItem(int id);
    // The item's share in pixels (proportional), its stored pixels (fixed); 0 when absent.
    int itemSize(int id);
    cChildElement* item(int id);
    double storedSize(int id);
    int itemCount() const { return (int)myItems.count(); }

    void setScalable(bool scalable);
    bool scalable() const { return !myFixed; }
    // Fixed mode: the length kept while a filler is set; the filler takes what is left.
    void setMinSplittingSize(int size, cChildElement* filler);
    void setSplitWidth(int w);
    virtual int splitReservedWidth() { return mySplitWidth; }
    void setLineTrims(int top, int bottom);
    void setColors(unsigned int line, unsigned int band);
    // Locked: no dragging, arrow pointer.
    void fix(bool lock);
    bool locked() const { return myLocked; }
    bool dragging() const { return myDragOrigin >= 0; }
    // Lays the items out, those from `from` on in fixed mode (all in proportional mode).
    void rebuild(int from);

    void onPaint(cCanvas* canvas) override;
    void onSizeChanged() override;
    void onMouseButton(int x, int y, int button, bool down) override;
    void onMouseMoving(int x, int y) override;
    bool wantAcceptFoucs() override { return true; }
    int defaultPointer() override { return myVertical ? eMPSizeNS : eMPSizeWE; }
    void onInitData() override;

protected:
    explicit cSplitterChild(bool vertical) : myVertical(vertical) {}

private:
    int length() { return myVertical ? height() : width(); }
    int thickness() { return myVertical ? width() : height(); }
    int minLength(cChildElement* e) { return myVertical ? 0 : e->minWidth(); }
    int gap() { return splitReservedWidth(); }
    void place(cChildElement* e, int pos, int len);
    void setOwnLength(int len);
    void rebuildProportional();
    void rebuildFixed(int from);
    void paintHorizontal(cCanvas* canvas);
    void paintVertical(cCanvas* canvas);

    const bool myVertical;
    cFasterTreeList<int, cChildElement*> myItems;
    cFasterTreeList<int, double> mySizes;
    bool myFixed = false;
    int myDragOrigin = -1;
    int myDragItem = -1;
    int myDragStart = 0;
    int myDragEnd = 0;
    int myMinSplitting = 0;
    bool myLocked = false;
    cChildElement* myFiller = nullptr;
    unsigned int myBand = 0;
    unsigned int myLine = 0;
    int myTopTrim = 0, myBottomTrim = 0;
    int mySplitWidth = 3;
};

// The top-to-bottom variant: the separator is always 3 pixels, items take the full width.
class cVSplitterChild : public cSplitterChild {
public:
    cVSplitterChild() : cSplitterChild(true) {}
    int splitReservedWidth() override { return 3; }
    int splitReservedHeight() { return 3; }
};
