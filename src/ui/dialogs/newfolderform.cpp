// cNewFolderNameReqForm: an edit and Accept / Cancel.
#include "ui/dialogs/newfolderform.h"

#include <cstring>

#include "ciplatform/picture.h"
#include "ui/lang.h"
#include "ui/panelchild.h"
#include "ui/theme.h"

namespace {
int dim(int n) { return cCITheme::theme()->getDimension(n, 0); }
cPicturesList* gFormPictures = nullptr;
const int kFormPictures[] = {77, 78};
}  // namespace

bool chooserBarAction(cCustomForm* form, cToolBarChild* bar, cChildElement* sender, cChildElement::cChildAction* action) {
    auto* b = dynamic_cast<cToolBarChild::cTbButtonAction*>(action);
    if (sender != bar || !b || action->type != 6) return false;
    if (b->id == 1) form->onFormAccept();
    if (b->id == 2) form->onFormCancel();
    return true;
}

cPicturesList* chooserPictures(const int* themeIds, int count, cPicturesList*& list) {
    if (!list) {
        list = new cPicturesList;
        for (int i = 0; i < count; i++) list->refImage(i, cCITheme::theme()->getPict(themeIds[i]));
    }
    return list;
}

bool cNewFolderNameReqForm::badFolderName(const char* name) {
    return !name || !*name || strchr(name, '/') || !strcmp(name, ".") || !strcmp(name, "..");
}

bool cNewFolderNameReqForm::reqNewFolderName(cChildElement* parent, _guardchar<char>& name,
                                              cNewFolderNameReqForm* form) {
    // Without a window the form would be neither shown nor taken over.
    if (!parent || !parent->windowMaker() || !parent->platformWindow()) {
        delete form;
        return false;
    }
    if (!form) form = new cNewFolderNameReqForm;
    form->myResult = &name;
    // The title is the form's own text, not one of the asking dialog's section.
    const char* title = cCiomLangData::string(form->wantLangResource(), 3);
    return parent->modal(title ? title : "", 250, 100, form, false) == 1;
}

void cNewFolderNameReqForm::onInitData() { cCustomForm::onInitData(); }

void cNewFolderNameReqForm::onConstruct() {
    cCustomForm::onConstruct();
    clientArea()->attach(&myEdit, 0, 0, 1, 1);
    clientArea()->anchor(&myEdit, 5, 0, -11, 20);
    const char* banner = string(0);
    if (banner) myEdit.setBanner(banner);
    if (myResult && myResult->ptr) myEdit.setText(myResult->ptr);
    attach(&myButtons, 0, 0, 1, 1);
    myButtons.setTransparent(true);
    myButtons.setImageList(cButtonChild::stNormal, chooserPictures(kFormPictures, 2, gFormPictures));
    const char* accept = string(1);
    const char* cancel = string(2);
    myButtons.setButton(1, accept ? accept : "Accept", 0);
    myButtons.setButton(2, cancel ? cancel : "Cancel", 1);
    int w = myButtons.wantsWidth();
    anchor(&myButtons, -(dim(9) + w), -(dim(8) + 1) - dim(7), w, dim(7));
    myButtons.rebuildToolbar();
    myEdit.focus();
}

bool cNewFolderNameReqForm::onAction(cChildElement* sender, cChildAction* action) {
    if (chooserBarAction(this, &myButtons, sender, action)) return true;
    return cCustomForm::onAction(sender, action);
}

bool cNewFolderNameReqForm::onFormAccept() {
    const char* t = myEdit.text();
    if (!t || !*t) {
        myEdit.focus();
        return true;
    }
    if (myResult) myResult->set(t);
    end_modal(1);
    return true;
}

bool cNewFolderNameReqForm::onFormCancel() {
    end_modal(0);
    return true;
}
