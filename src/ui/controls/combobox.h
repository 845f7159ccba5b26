// cComboBoxChild: an edit with a drop button and a popup list of numbered items; editable
// or a pure choice (read-only edit, a click anywhere opens the list). A choice is action
// 6; the edit's Enter (6) and Esc (7) are passed on.
#pragma once

#include "ui/controls/button.h"
#include "ui/controls/edit.h"
#include "ui/controls/popupmenu.h"

class cComboBoxChild : public cChildElement {
public:
    cComboBoxChild();
    ~cComboBoxChild() override;

    void allowEdit(bool on);
    const char* text() override { return myEdit.text(); }
    long long text(char* buffer, long long size) override { return myEdit.text(buffer, size); }
    void setText(const char* text, long long length = -1) { myEdit.setText(text, length); }
    void setText(const char* text, long long length, bool repaint) override { myEdit.setText(text, length); }
    void setBanner(const char* text) { myEdit.setBanner(text); }
    long long maxLen() const { return myEdit.maxLen(); }
    bool setMaxLen(long long n) { return myEdit.setMaxLen(n); }

    // False for a negative index or when the item cannot be made.
    bool setItem(int index, const char* text, void* association, int image);
    void* association(int index);
    const char* text(int index);
    bool remove(int index);
    void clear();
    // A negative index clears the choice; a missing one is refused (false).
    bool select(int index, bool notify);
    int selected() const { return mySelected; }
    void setImageList(cPicturesList* list) { myImages = list; }
    void setMaxDropHeight(int h) { myMaxDrop = h; }
    // Opens the list; true when an item was chosen.
    bool dropdown();
    // The list's size as dropdown would open it.
    void dropSize(sSize& size);

    cEditChild* edit() { return &myEdit; }
    cButtonChild* dropButton() { return &myButton; }

    void processMouseBtn(int x, int y, int button, bool pressed, bool ctrl, bool shift) override;
    bool processKey(int key, bool shift, bool ctrl, bool alt) override;
    bool onBackgroundRequest(cCanvas* canvas, sRect* rect) override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    void focus() override;
    bool wantTabStop() override { return true; }
    void onInitData() override;

private:
    void step(bool forward);

    cEditChild myEdit;
    cButtonChild myButton;
    int mySelected = -1;
    cPicturesList* myImages = nullptr;
    tPopupItems myItems;
    int myMaxDrop = 100;
    bool myPressed = false;
};
