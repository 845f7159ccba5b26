// cTreeViewChild: a scrollable tree of items, each drawn by a selectable text element and
// a structure glyph to its left (expand/collapse box or connecting line); arrow keys
// move the selection, branches open and close, and the selected item keeps an unfocused
// look while the focus is elsewhere. The view owns the items it is given.
#pragma once

#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/lists.h"
#include "ui/controls/scrollable.h"
#include "ui/controls/selectable.h"

class cPicturesList;
class cTreeViewChild;

// The item's label: "+" / keypad plus ask to expand (type 8), "-" / keypad minus to
// collapse (type 9); Space and Enter activate (type 7, from the selectable base).
class cTreeItemElement : public cSelectableElement {
public:
    bool onChar(unsigned int codePoint) override;
    bool onKey(int key, bool shift, bool ctrl, bool alt) override;
    void onSetFocusEvent(int origin, int a, int b) override;
    void onLooseFocus() override;
    // Only the view's selected item is a Tab stop (see cTreeViewChild::wantTabStop).
    bool wantTabStop() override;
};

// The structure glyph; a left press on an expand or collapse glyph posts a type-0 action.
class cTreeViewControlElement : public cStaticElement {
public:
    enum eCtlKind { ckNone = 0, ckLine = 1, ckLast = 2, ckExpanded = 3, ckCollapsed = 4 };
    explicit cTreeViewControlElement(int kind = ckNone) : myKind(kind) {}
    bool isActive() const { return myKind == ckExpanded || myKind == ckCollapsed; }
    int kind() const { return myKind; }
    void setKind(int kind, bool repaint);
    void onMouseButton(int x, int y, int button, bool down) override;

private:
    int myKind;
};

class cTreeViewChild : public cScrollableElement {
public:
    class cTreeViewItem : public cTreeItem {
    public:
        cTreeViewItem() {}
        ~cTreeViewItem() override;
        void setText(const char* text) { myText.set(text); }
        const char* text() const { return myText.ptr; }

        cTreeItemElement* element = nullptr;        // owned, created by the view
        cTreeViewControlElement* control = nullptr;  // owned, created by the view
        void* data = nullptr;
        _guardchar<char> myText;
        int image = -1;
        bool collapsed = false;
        unsigned int textColor = 0xFFFFFFFFu;
    };

    class cTreeItemAction : public cChildAction {
    public:
        cTreeItemAction(int type, cTreeViewItem* item) : cChildAction(type), item(item) {}
        cTreeViewItem* item;
    };
    class cTreeItemCtxAction : public cTreeItemAction {
    public:
        cTreeItemCtxAction(cTreeViewItem* item, int x, int y) : cTreeItemAction(8, item), x(x), y(y) {}
        int x, y;
    };
    enum eActions { eTvActivated = 6, eTvSelected = 7, eTvContext = 8, eTvExpanded = 9 };

    cTreeViewChild() {}
    ~cTreeViewChild() override;

    // ---- items (the view owns them once stored) ----
    bool storeUnder(cTreeViewItem* parent, cTreeViewItem* item, cTreeViewItem* after = nullptr);
    bool storeUnderFirst(cTreeViewItem* parent, cTreeViewItem* item);
    bool remove(cTreeViewItem* item);
    // Removes the item's descendants (null: every item).
    bool remove_under(cTreeViewItem* item);
    bool clear();

    cTreeViewItem* root() { return (cTreeViewItem*)myItems.first(); }
    cTreeViewItem* parentItem(cTreeViewItem* item) { return item ? (cTreeViewItem*)item->parent : nullptr; }
    cTreeViewItem* getUnderItm(cTreeViewItem* item) { return item ? (cTreeViewItem*)item->firstChild : nullptr; }
    cTreeViewItem* getNextUnderItm(cTreeViewItem* item) { return item ? (cTreeViewItem*)item->next : nullptr; }
    cTreeViewItem* find(void* data);
    cTreeViewItem* find(cTreeViewItem* from, void* data);
    // The item of an item element / of a glyph element, or null. (This isChild hides the
    // element tree's isChild inside the view's own code; the framework calls the base.)
    cTreeViewItem* isChild(cChildElement* element);
    cTreeViewItem* isCtl(cChildElement* element);
    cTreeViewItem* selected() { return mySelected; }
    cTreeViewItem* unfocusedItem() { return myUnfocused; }

    // ---- selection and branches ----
    bool select(cTreeViewItem* item, bool focus);
    bool selectRoot();
    void deselect(unsigned int textColour = 0xFFFFFFFFu);
    bool expand(cTreeViewItem* item, bool notify);
    bool collapse(cTreeViewItem* item, bool notify);

    // ---- appearance ----
    void setOutline(int v);
    void setSpacing(int v);
    void setCellSpacing(int v);
    void setStructIndicatorWidth(int v);
    void setBgColor(unsigned int colour);
    void setFrmColor(unsigned int colour);
    void setImageLists(cPicturesList* normal, cPicturesList* hover, cPicturesList* selected);
    void setHScroll(bool on);
    void setUnfocusedColors(unsigned int text, unsigned int bg, unsigned int frame);
    void setStdColors(unsigned int text, unsigned int bg, unsigned int frame);
    int outline() const { return myOutline; }
    int spacing() const { return mySpacing; }
    int cellSpacing() const { return myCellSpacing; }
    int structIndicatorWidth() const { return myIndicatorW; }
    unsigned int bgColor() const { return myBg; }
    unsigned int frmColor() const { return myFrame; }

    void startChanges();
    void endChanges();
    void update() { build(); }
    // How many layouts ran (tests count the ones a change bracket saves).
    int buildCount() const { return myBuilds; }

    // ---- element ----
    void onPaintArea(cCanvas* canvas) override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    void onSetFocus() override;
    bool processKey(int key, bool shift, bool ctrl, bool alt) override;
    void onSizeChanged() override;
    void onInitData() override;
    // The view is one stop of the Tab order however many items it shows: its selected
    // item, or the view itself while no item with an element is selected.
    bool wantTabStop() override { return !mySelected || !mySelected->element; }
    bool wantCaptureArrows() override { return true; }
    int wantBorderWidth() override { return 1; }

    // Called by the item elements as the focus leaves or enters them.
    void itemFocusLost(cTreeItemElement* element);
    void itemFocusGained(cTreeItemElement* element);

protected:
    virtual cTreeItemElement* newTreeItemElement(cTreeViewItem* item) { return new cTreeItemElement; }
    virtual cTreeViewControlElement* newTreeViewControlElement(cTreeViewItem* item) {
        return new cTreeViewControlElement(0);
    }
    virtual void onElementAttach(cTreeViewItem* item, cTreeItemElement* element) {}
    virtual bool isSub(cTreeViewItem* item) { return item && item->firstChild; }
    // A derived view fills an item's children here before the item opens.
    virtual void processSubRead(cTreeViewItem* item) {}

private:
    void build();
    void buildTreeRec(cTreeViewItem* first, int level, bool visible, int& y, int& R, int& M);
    void changed();
    void forgetElements(cTreeViewItem* item);
    void selectElement(cTreeViewItem* item);
    void markUnfocused(cTreeViewItem* item);
    void restoreUnfocused();
    cTreeViewItem* lastVisible(cTreeViewItem* item);

    cFasterTreeList<cChildElement*, cTreeViewItem*> myElements;
    cFasterTreeList<cChildElement*, cTreeViewItem*> myControls;
    cTree myItems;
    int myOutline = 16;
    int mySpacing = 0;
    int myCellSpacing = 0;
    int myIndicatorW = 16;
    cPicturesList* myLists[3] = {nullptr, nullptr, nullptr};
    unsigned int myBg = 0xFFFFFF;
    unsigned int myFrame = 0;
    cTreeViewItem* mySelected = nullptr;
    bool myHScroll = true;
    bool myInChanges = false;
    bool myRebuildPending = false;
    unsigned int mySaved[3] = {0, 0, 0};
    unsigned int myUnfocusedColours[3] = {0, 0, 0};
    unsigned int myStdColours[3] = {0, 0, 0};
    cTreeViewItem* myUnfocused = nullptr;
    int myBuilds = 0;
};
