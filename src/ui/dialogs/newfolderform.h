// cNewFolderNameReqForm: the small modal form that asks for a new folder's name.
// folderNameError says whether a name can be a folder name at all.
#pragma once

#include "base/buffers.h"
#include "ui/controls/edit.h"
#include "ui/controls/toolbar.h"
#include "ui/customform.h"

class cNewFolderNameReqForm : public cCustomForm {
public:
    cNewFolderNameReqForm() {}
    ~cNewFolderNameReqForm() override {}

    // Runs the form (a new one when `form` is null) over the parent's window; true when
    // accepted, `name` then holding the typed text.
    static bool reqNewFolderName(cChildElement* parent, _guardchar<char>& name, cNewFolderNameReqForm* form = nullptr);
    // A name that would not make one new folder inside the current one: empty, ".", ".."
    // or holding a "/". True when the name is refused.
    static bool badFolderName(const char* name);

    cEditChild* edit() { return &myEdit; }
    cToolBarChild* buttons() { return &myButtons; }

    void onConstruct() override;
    const char* wantLangResource() override { return "ciom::filechoose"; }
    void onInitData() override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool onFormAccept() override;
    bool onFormCancel() override;

private:
    cEditChild myEdit;
    cToolBarChild myButtons;
    _guardchar<char>* myResult = nullptr;
};

// The class-wide picture lists of the choosers, filled from the theme on first use.
cPicturesList* chooserPictures(const int* themeIds, int count, cPicturesList*& list);
// A click on a chooser's Accept (id 1) or Cancel (id 2) bar runs the form's onFormAccept or
// onFormCancel. True when the action was such a click.
bool chooserBarAction(cCustomForm* form, cToolBarChild* bar, cChildElement* sender, cChildElement::cChildAction* action);
