// cListViewChild: the multi-column list: rows of cells (text, picture, association,
// colour, indent) under a column header, single or multiple selection, check boxes,
// sorting by a column through sort providers, type-ahead, and filling from a worker.
//
// Threads: every public operation and the painting and input handlers hold the list's
// one recursive lock, so a worker may fill the list (between startChanges and
// endChanges, which keep layout off the worker) while the UI thread paints, sorts or
// handles keys. A row's state (selected, checked) lives in its first cell, the one with
// the lowest column id; a cell added in front moves the state along.
#pragma once

#include "base/buffers.h"
#include "base/stringkey.h"
#include "base/sync.h"
#include "ui/controls/header.h"
#include "ui/controls/scrollable.h"
#include "ui/controls/sorterlist.h"

class cFontObject;
class cPicture;
class cPicturesList;

class cListViewChild : public cScrollableElement {
public:
    enum eCellFlags { cfSelected = 1, cfChecked = 2, cfAltImage = 4 };
    enum eActions { eActActivate = 6, eActChange = 7, eActRefresh = 8, eActBack = 9, eActChecked = 10,
                    eActSorted = 11 };

    struct sListViewDataItem {
        void* association = nullptr;
        _guardchar<char> text;
        unsigned int textColor = 0xFFFFFFFFu;
        int row = 0;
        short image = -1;
        short height = 0;
        unsigned short flags = 0;
        unsigned short indent = 0;
    };
    typedef cFasterTreeList<int, sListViewDataItem> tRow;

    // Collects one column's cells under a key and hands them back in key order.
    class cListViewSortProvider {
    public:
        virtual ~cListViewSortProvider() {}
        // Empties the collection; false refuses the sort.
        virtual bool init() = 0;
        // False: the cell has no key.
        virtual bool push(sListViewDataItem* cell) = 0;
        // Null position: the first (last) entry; returns null past the end.
        virtual void* next(void* position, sListViewDataItem*& cell) = 0;
        virtual void* prev(void* position, sListViewDataItem*& cell) = 0;
    };

    // Keyed by the whole cell text, compared byte by byte (upper case before lower case).
    class cListViewNameSortProvider : public cListViewSortProvider {
    public:
        ~cListViewNameSortProvider() override { myList.destroy(); }
        bool init() override;
        bool push(sListViewDataItem* cell) override;
        void* next(void* position, sListViewDataItem*& cell) override;
        void* prev(void* position, sListViewDataItem*& cell) override;

    private:
        cUUSorterList<cStringKey, sListViewDataItem*> myList;
    };

    // Keyed by an unsigned 64-bit number a procedure computes from the cell.
    class cListViewU64PramSortProvider : public cListViewSortProvider {
    public:
        typedef unsigned long long (*tTransformProc)(sListViewDataItem* cell);
        ~cListViewU64PramSortProvider() override { myList.destroy(); }
        void setTransformProc(tTransformProc proc) { myProc = proc; }
        bool init() override;
        bool push(sListViewDataItem* cell) override;
        void* next(void* position, sListViewDataItem*& cell) override;
        void* prev(void* position, sListViewDataItem*& cell) override;

    private:
        cUUSorterList<unsigned long long, sListViewDataItem*> myList;
        tTransformProc myProc = nullptr;
    };

    struct sListViewColumnData {
        cListViewSortProvider* sortProvider = nullptr;  // owned
        bool sortAscending = true;
        cCanvas::eTextAlign align = cCanvas::taLeft;
        cFontObject* font = nullptr;
        unsigned int textColor = 0xFFFFFFFFu;
        ~sListViewColumnData() { delete sortProvider; }
    };

    struct sItemYDs {
        int row = 0;
        int height = 0;
    };

    class cListViewItemAction : public cChildAction {
    public:
        cListViewItemAction(int type, int item) : cChildAction(type), item(item) {}
        int item;
    };
    class cListViewItemChecked : public cListViewItemAction {
    public:
        explicit cListViewItemChecked(int item) : cListViewItemAction(eActChecked, item) {}
    };
    class cListViewItemChangeAction : public cListViewItemAction {
    public:
        cListViewItemChangeAction(int item, int previous, bool control, bool shift)
            : cListViewItemAction(eActChange, item), previous(previous), control(control), shift(shift) {}
        int previous;
        bool control, shift;
    };

    cListViewChild();
    ~cListViewChild() override;

    // ---- rows and cells ----
    // Creates or updates one cell; a null text or association leaves the stored one.
    bool setItem(int row, int column, const char* text, int image, void* association);
    int addItem(int column, const char* text, int image, void* association);
    bool remove(int row);
    bool clear();
    int getRowCount();
    const char* text(int row, int column);
    using cChildElement::text;
    void* association(int row, int column);
    int find(int column, void* association);
    int first();
    int next(int row);
    int firstBySort();
    int lastBySort();
    int nextBySort(int row);
    int prevBySort(int row);
    const char* textBySortIdx(int index, int column);
    void* associationBySortIdx(int index, int column);
    bool setItemTextColor(int row, int column, unsigned int colour);
    bool setItemIdent(int row, int column, int indent);
    void reorderByID();
    // The display index of a row; -1 when absent.
    int displayIndexOf(int row);

    // ---- columns ----
    bool setColumn(int column, const char* title, int width, cCanvas::eTextAlign align);
    bool removeColumn(int column);
    bool setColumnWidth(int column, int width);
    bool setColumnFont(int column, cFontObject* font);
    bool setColumnTextColor(int column, unsigned int colour, bool repaint);
    // The list owns the provider from then on; handing over the installed one again keeps it.
    bool setSortType(int column, cListViewSortProvider* provider);
    bool setSortDirection(int column, bool ascending);
    bool getSortDirection(int column, bool& ascending);
    bool sort(int column);
    int sortColumn() const { return mySortColumn; }
    bool showHeader(bool show);
    void setHeaderHeight(int height);
    cHeaderChild* header() { return &myHeader; }

    // ---- appearance ----
    void setSpacing(int spacing);
    int spacing() const { return mySpacing; }
    void setChbSpacing(int spacing, bool repaint);
    void setTextPadding(int padding, bool repaint);
    void setChkImages(cPicture* checked, cPicture* unchecked, bool repaint);
    void setImageLists(cPicturesList* images, cPicturesList* altImages, cPicturesList* selectedImages);
    void setBgColor(unsigned int colour, bool repaint);
    void setBorderColor(unsigned int colour, bool repaint);
    void setTextColor(unsigned int colour, bool repaint);
    unsigned int bgColor() const { return myBg; }
    unsigned int borderColor() const { return myBorder; }
    unsigned int textColor() const { return myTextColour; }
    void setColorSchema(unsigned int text, unsigned int bg, unsigned int border, bool repaint);
    void setColorSchemaFocusedActive(unsigned int text, unsigned int bg, unsigned int frame, bool repaint);
    void setColorSchemaFocusedInactive(unsigned int text, unsigned int bg, unsigned int frame, bool repaint);
    void setFullLineSelect(bool on, bool repaint);
    void setFullLineSelectColors(unsigned int active, unsigned int inactive, bool repaint);
    void setMultiselect(bool on);
    bool multiselect() const { return myMultiselect; }
    void setCheckMode(bool on);
    bool checkMode() const { return myCheckMode; }
    // The element's text is the message shown while the list has no row.
    void setText(const char* text, long long length = -1, bool repaint = true) override;

    // ---- selection and checks ----
    int selected();
    bool select(int row);
    bool select(int column, void* association);
    bool selectBySortIdx(int index);
    bool deselect();
    bool setSelected(int row, bool selected, bool unused = false);
    bool isSelected(int row);
    int nextSelected(int after);
    int nextSelectedDspOrd(int afterIndex, int& row);
    bool checked(int row);
    bool setChecked(int row, bool checked, bool notify);

    // ---- layout ----
    void startChanges();
    bool endChanges(bool force);
    void build(bool force);
    bool itemPos(int row, int& y);
    bool itemRange(int row, int& y0, int& y1);
    bool adjustScrollToItem(int row);

    // The millisecond clock of the type-ahead (tests give their own).
    void setClock(unsigned int (*clock)()) { myClock = clock; }

    // ---- element ----
    void processMouseBtn(int x, int y, int button, bool pressed, bool ctrl, bool shift) override;
    // The key table and the type-ahead run when the list has the focus.
    bool onChar(unsigned int codePoint) override;
    bool onKey(int key, bool shift, bool ctrl, bool alt) override;
    bool clientRect(sRect* r) override;
    void onSizeChanged() override;
    void onMouseDoubleClick(int x, int y, int button) override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    void onSetFocus() override;
    void onLooseFocus() override;
    bool wantTabStop() override { return true; }
    bool wantCaptureArrows() override { return true; }
    int wantBorderWidth() override { return 1; }
    void onInitData() override;
    void onPaintArea(cCanvas* canvas) override;
    // The selection effect of a press on a row (button: kMouseLeft or kMouseRight).
    virtual void processMouseSelection(tRow* row, sListViewDataItem* cell, bool control, bool shift, int button);

private:
    struct sCellLook;
    tRow* rowOf(int id) { return myRows.find(id); }
    static sListViewDataItem* firstCell(tRow* row);
    static int rowId(tRow* row);
    tRow* rowAtIndex(int index);
    tRow* neighbour(tRow* row, bool forward);
    void layout(bool force = false);
    void selectRow(tRow* row, tRow* from, bool control, bool shift, bool mark);
    void deselectAll(tRow* except);
    bool scrollRowIntoView(int top, int h);
    void postChange(int item, int previous, bool control, bool shift);
    // 0 outside the rows' area, 1 on no row, 2 on a row that does not count (gone, or
    // no cell in the first column), 3 on a row (given back with its first-column cell).
    int hitRow(int x, int y, tRow*& row, sListViewDataItem*& cell, int& contentX);
    bool inChbZone(int contentX);
    void toggleCheck(tRow* row);
    tRow* pageTarget(bool forward);
    void paintRow(cCanvas* canvas, tRow* row, int y, int h, bool& prevHighlighted);
    void paintCell(cCanvas* canvas, int column, sListViewDataItem* cell, int x, int y, int w, int h,
                   bool& highlighted, bool prevHighlighted, bool firstColumn);

    cFasterTreeList<int, sListViewColumnData> myColumns;
    cFasterTreeList<int, tRow*> myDisplayOrder;
    cFasterTreeList<tRow*, int> myDisplayIndex;
    cFasterTreeList<int, sItemYDs> myRowsByY;
    cCriticalSection myLock;
    cFasterTreeList<int, int> myRowTops;
    int mySortColumn = -1;
    cFasterTreeList<int, tRow> myRows;
    cHeaderChild myHeader;
    cPicturesList* myImages = nullptr;
    cPicturesList* myAltImages = nullptr;
    cPicturesList* mySelectedImages = nullptr;
    unsigned int myBg = 0xFFFFFF, myBorder = 0, myTextColour = 0;
    unsigned int myActiveBg = 0, myActiveText = 0, myActiveFrame = 0;
    unsigned int myInactiveBg = 0, myInactiveText = 0, myInactiveFrame = 0;
    int mySpacing = 0;
    bool myMultiselect = false;
    bool myInChanges = false;
    bool myRebuildPending = false;
    bool myCheckMode = false;
    bool myFullLineSelect = false;
    unsigned int myFullLineActive = 0, myFullLineInactive = 0;
    unsigned short myTypedChars[10] = {};
    int myTypedCount = 0;
    int myChbSpacing = 0;
    int myTextPadding = 0;
    unsigned int myLastCharTime = 0;
    cPicture* myChkChecked = nullptr;
    cPicture* myChkUnchecked = nullptr;
    tRow* myCurrent = nullptr;
    unsigned int (*myClock)() = nullptr;
};
