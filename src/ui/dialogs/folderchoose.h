// cFolderChooseDialog: the modal folder dialog: a tree of folders under "Computer" (the
// special places), read lazily as branches are selected, a path edit, New folder, and
// Select / Cancel. Folders are read synchronously on the UI thread.
#pragma once

#include "base/buffers.h"
#include "base/folders.h"
#include "base/lists.h"
#include "ui/controls/edit.h"
#include "ui/controls/toolbar.h"
#include "ui/controls/treeview.h"
#include "ui/customform.h"

class cFolderChooseDialog : public cCustomForm {
public:
    // One folder of the tree, beside the view item that shows it.
    class cTreeFoldersContentItem : public cTreeItem {
    public:
        cFolderContents contents;
        cTreeViewChild::cTreeViewItem* viewItem = nullptr;
        int kind = 1;  // 2 the root, 1 a folder, 0 a file system (also the icon)
        _guardchar<char> path;
        bool listed = false;
    };
    enum eKinds { kFileSystem = 0, kFolder = 1, kRoot = 2 };

    cFolderChooseDialog() {}
    ~cFolderChooseDialog() override;

    // Runs the dialog over the parent's window starting from `path` (a folder, or a file
    // whose folder is used); true with the chosen folder in `path`.
    static bool choose(cChildElement* parent, const char* title, _guardchar<char>& path);
    // Splits off the next component of s into tag ("/" for a leading slash); returns the
    // rest after the run of slashes that follows, or null when s has no more "/".
    static const char* nextTag(const char* s, _guardchar<char>& tag);

    void initBasicView();
    bool lsUnder(cTreeFoldersContentItem* item);
    void navigate(const char* path);
    void mkdir();

    // The dialog works on the caller's path; set before the form is constructed.
    void setResult(_guardchar<char>* path) { myResult = path; }
    cTreeViewChild* tree() { return &myTree; }
    cEditChild* pathEdit() { return &myEdit; }
    cToolBarChild* topBar() { return &myTop; }
    cToolBarChild* bottomBar() { return &myBottom; }
    cTreeFoldersContentItem* rootItem() { return (cTreeFoldersContentItem*)myContents.first(); }
    cTreeViewChild::cTreeViewItem* selectedItem() { return mySelected; }
    static cTreeFoldersContentItem* contentOf(cTreeViewChild::cTreeViewItem* item) {
        return item ? (cTreeFoldersContentItem*)item->data : nullptr;
    }

    void onConstruct() override;
    const char* wantLangResource() override { return "ciom::folderchoose"; }
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool onFormAccept() override;
    bool onFormCancel() override;

private:
    cTreeFoldersContentItem* addChild(cTreeFoldersContentItem* parent, int kind, const char* path, const char* text);
    void removeChildren(cTreeFoldersContentItem* item);
    void showSelection(cTreeViewChild::cTreeViewItem* item);

    cToolBarChild myTop;
    cTreeViewChild myTree;
    cTree myContents;
    cToolBarChild myBottom;
    cEditChild myEdit;
    _guardchar<char>* myResult = nullptr;
    cTreeViewChild::cTreeViewItem* mySelected = nullptr;
};
