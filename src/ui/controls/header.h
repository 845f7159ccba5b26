// cHeaderChild: the list view's column header, a fixed-mode splitter whose items are one
// push button per column (pixel widths, dragged at the separators) and a disabled filler
// button after the last one; a column click becomes a type-8 action with the column id.
#pragma once

#include "ciplatform/canvas.h"
#include "ui/controls/button.h"
#include "ui/controls/splitter.h"

class cHeaderChild : public cSplitterChild {
public:
    class cColumnClickAction : public cChildAction {
    public:
        explicit cColumnClickAction(int column) : cChildAction(8), column(column) {}
        int column;
    };

    cHeaderChild() {}
    ~cHeaderChild() override;

    // Creates the column's button on a new id (false when it cannot be attached, for a
    // negative id); a null text keeps the caption; then the alignment and the width.
    bool setColumn(int id, const char* text, int width, cCanvas::eTextAlign align);
    // Detaches and destroys the column's button; no layout (the list lays out after).
    bool removeColumn(int id);
    // The filler stretches the header to at least w.
    void setMinButtonsWidth(int w);
    cCanvas::eTextAlign columnAlign(int id);
    int columnWidth(int id);
    cButtonChild* columnButton(int id) { return myColumns.find(id); }
    cButtonChild* filler() { return &myFiller; }

    bool onAction(cChildElement* sender, cChildAction* action) override;
    void onInitData() override;

private:
    cButtonChild myFiller;
    cFasterTreeList<int, cButtonChild> myColumns;
};
