// cSimpleGridChild: equal cells in lines that wrap with the width (like icons in a folder
// view), one selected cell, keyboard and mouse selection and activation; a subclass says
// how many cells there are, how large they are and paints one.
#pragma once

#include "ui/controls/scrollable.h"

class cSimpleGridChild : public cScrollableElement {
public:
    // Type 6: the selection changed (cell -1: a click in an empty place cleared it);
    // type 7: a cell was activated (double click, Enter or Space).
    class cCellAction : public cChildAction {
    public:
        cCellAction(int type, int cell) : cChildAction(type), cell(cell) {}
        int cell;
    };

    cSimpleGridChild() {}
    ~cSimpleGridChild() override {}

    // Re-reads the cell count (a changed count clears the selection) and recomputes the
    // layout; with repaint a changed layout is repainted. Call after the cells changed.
    void notifyGridChanged(bool repaint);
    // The cell under the element point, or -1.
    int hitCell(int x, int y);
    // The cell's rectangle in content coordinates; false for an invalid index or no layout.
    bool cellRect(int index, sRect& rect);
    bool scrollToCell(int index);
    // Selects a valid, different cell; with notify a type-6 action is queued (the grid
    // scrolls when it handles it), else the grid scrolls at once. Then repaints.
    void selectCell(int index, bool notify);
    void setBgColor(unsigned int colour) { myBg = colour; }

    int selectedCell() const { return mySelected; }
    int cellsPerLine() const { return myPerLine; }
    int lines() const { return myLines; }
    int columnGap() const { return myGap; }

    void onSizeChanged() override;
    void onMouseButton(int x, int y, int button, bool down) override;
    void onMouseDoubleClick(int x, int y, int button) override;
    bool onKey(int key, bool shift, bool ctrl, bool alt) override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool wantTabStop() override { return true; }
    bool wantCaptureArrows() override { return true; }
    // The selected cell is framed while the grid has the focus.
    void onSetFocus() override { repaint(); }
    void onLooseFocus() override { repaint(); }
    void onInitData() override;
    void onPaintArea(cCanvas* canvas) override;

    // --- what the subclass supplies (answered from onInitData on) ---
    // Paints cell index into canvas, which is exactly one cell large; it must cover it all.
    virtual void paintElement(cCanvas* canvas, int index, bool selected) = 0;
    virtual int cellWidth() = 0;   // at least 1
    virtual int cellHeight() = 0;  // at least 1
    virtual int numCells() = 0;
    // The vertical space between lines; it also enters the count of cells per line.
    virtual int cellSpacing() = 0;
    // The largest horizontal gap between cells.
    virtual int maxSpacing() = 0;
    // Whether Left and Right cross from one line to the next.
    virtual bool lrChangesLine() { return false; }

private:
    void selectAndNotify(int index);

    int myPerLine = 0;
    int myLines = 0;
    int myCount = 0;
    int mySelected = -1;
    int myGap = 0;
    int mySpacing = 0;
    unsigned int myBg = 0xFFFFFF;
};
