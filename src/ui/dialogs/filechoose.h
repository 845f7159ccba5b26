// cFileChooseDialog: the modal open / save dialog: a navigation bar over a four-column
// list of the current folder (or of the special places), a name edit, a filter combo and
// accept / cancel. Folders are read on the navigation bar's worker by
// cFileChooseListFolder into a fresh listing that the dialog takes over when the
// navigation has ended, so the worker never touches what the dialog shows.
#pragma once

#include <atomic>

#include "base/buffers.h"
#include "base/folders.h"
#include "base/lists.h"
#include "ui/controls/combobox.h"
#include "ui/controls/edit.h"
#include "ui/controls/listview.h"
#include "ui/controls/navigation.h"
#include "ui/controls/toolbar.h"
#include "ui/customform.h"
#include "ui/staticelement.h"

class cFileChooseListFolder : public cNavigationProvider {
public:
    cFileChooseListFolder() {}
    ~cFileChooseListFolder() override;
    // Null or empty (the places), an existing folder, or a drive form "X:".
    bool canAcceptPath(const char* path) override;
    // Worker thread: a fresh listing of the folder (the places for an empty path).
    unsigned int navigationProc(const char* path) override;
    // UI thread, after the end was reported: the listing, now the caller's (null if none).
    cFolderContents* take() { return myFresh.exchange(nullptr); }
    // Tests slow the worker down to press buttons while it runs.
    void setDelay(int ms) { myDelay = ms; }

private:
    std::atomic<cFolderContents*> myFresh{nullptr};
    std::atomic<int> myDelay{0};
};

class cFileChooseDialog : public cCustomForm {
public:
    struct sFilterInfo {
        _guardchar<char> name;
        _guardchar<char> mask;  // patterns separated by ';'
        _guardchar<char> ext;   // without the dot; save mode appends it
    };
    // An optional element under the list; the dialog asks it before closing.
    class cExtraPanel : public cChildElement {
    public:
        virtual bool canClose() { return true; }
        virtual int wantWidth() { return 0; }
        virtual int wantHeight() { return 0; }
    };
    struct sFileChooseInfo {
        _guardchar<char> file;
        _guardchar<char> folder;
        long long filterIndex = -1;
        bool keepFilterName = false;
        bool multiselect = false;
        _classbuf<sFilterInfo> filters;
        bool showHidden = false;
        _List<_guardchar<char> > moreFiles;
        cExtraPanel* extraPanel = nullptr;
    };
    enum eColumns { colName = 1, colDate = 2, colType = 3, colSize = 4 };
    enum eIcons { icFileSystem = 0, icFolder = 1, icFile = 2, icOther = 3, icVolume = 4 };

    cFileChooseDialog(sFileChooseInfo* info, bool save) : myInfo(info), mySave(save) {}
    ~cFileChooseDialog() override;

    static bool open(cChildElement* parent, const char* title, sFileChooseInfo& info);
    static bool save(cChildElement* parent, const char* title, sFileChooseInfo& info);

    bool ls(const char* path, bool unused = false);
    void initList();
    void ls_data(bool sort);
    void mkdir();
    // The final name rules, then closing (true) unless the extra panel refuses.
    bool endSODialog();
    // Shows the special places instead of a folder.
    void showPlaces();

    const char* mask() const { return myMask.ptr; }
    bool realFolder() const { return myShown && myShown->folder(); }
    cFolderContents* shown() { return myShown; }
    cListViewChild* list() { return &myList; }
    cNavigationChild* navigation() { return &myNavi; }
    cEditChild* nameEdit() { return &myName; }
    cComboBoxChild* filterCombo() { return &myFilter; }
    cToolBarChild* topBar() { return &myTop; }
    cToolBarChild* bottomBar() { return &myBottom; }
    cFileChooseListFolder* provider() { return &myProvider; }

    void onConstruct() override;
    const char* wantLangResource() override { return "ciom::filechoose"; }
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool onFormAccept() override;
    bool onFormCancel() override;

private:
    static bool run(cChildElement* parent, const char* title, sFileChooseInfo& info, bool save);
    void replaceShown(cFolderContents* fresh);
    bool rowPath(int row, _guardchar<char>& out);
    int rowType(int row);
    bool validFilter(long long i);
    // A typed folder: the name edit emptied, the folder shown; true.
    bool enter(const char* folder);
    // The chosen file into the caller's record, then endSODialog.
    bool endWith(const char* file);
    void listContext(cChildAction* action);
    void activate(int row);
    int extraHeight() { return myInfo && myInfo->extraPanel ? myInfo->extraPanel->wantHeight() : 0; }

    cToolBarChild myTop;
    cNavigationChild myNavi;
    cListViewChild myList;
    cEditChild myName;
    cComboBoxChild myFilter;
    cToolBarChild myBottom;
    cStaticElement myLabel;
    cFileChooseListFolder myProvider;
    _guardchar<char> myMask;
    sFileChooseInfo* myInfo;
    bool mySave;
    cFolderContents* myShown = nullptr;  // owned; what the list shows
};
