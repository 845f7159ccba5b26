// cFolderChooseDialog: the folder tree kept in two trees of the same shape (contents and
// view items), lazy listing, opening the tree down to a typed path, and new folders. The
// selected-item pointer is cleared whenever the items under a re-listed folder go, so a
// listing that fails cannot leave it pointing at a freed item.
#include "ui/dialogs/folderchoose.h"

#include <cstring>

#include "base/strings.h"
#include "ciplatform/picture.h"
#include "ciplatform/windowmaker.h"
#include "ui/controls/messageform.h"
#include "ui/controls/popupmenu.h"
#include "ui/dialogs/newfolderform.h"
#include "ui/panelchild.h"
#include "ui/theme.h"

typedef cTreeViewChild::cTreeViewItem tViewItem;
typedef cFolderChooseDialog::cTreeFoldersContentItem tContent;

namespace {
int dim(int n) { return cCITheme::theme()->getDimension(n, 0); }
cPicturesList* gMain = nullptr;
cPicturesList* gCtl = nullptr;
cPicturesList* gList = nullptr;
const int kMain[] = {84};
const int kCtl[] = {80, 78, 81};
const int kList[] = {43, 48, 42};
}  // namespace

cFolderChooseDialog::~cFolderChooseDialog() {
    mySelected = nullptr;
    myTree.clear();
    myContents.destroy();
}

bool cFolderChooseDialog::choose(cChildElement* parent, const char* title, _guardchar<char>& path) {
    if (!parent || !parent->windowMaker() || !parent->platformWindow()) return false;
    cFolderChooseDialog* d = new cFolderChooseDialog;
    d->myResult = &path;
    return parent->modal(title ? title : "", 350, 450, d, true) == 1;
}

const char* cFolderChooseDialog::nextTag(const char* s, _guardchar<char>& tag) {
    if (!s) {
        tag.set((const char*)nullptr);
        return nullptr;
    }
    const char* slash = strchr(s, '/');
    if (!slash) {
        tag.set(s);
        return nullptr;
    }
    if (slash == s)
        tag.set("/");
    else
        tag.set(s, slash - s);
    while (*slash == '/') slash++;
    return slash;
}

tContent* cFolderChooseDialog::addChild(tContent* parent, int kind, const char* path, const char* text) {
    tContent* c = new tContent;
    c->kind = kind;
    c->path.set(path);
    if (!myContents.add(parent, c)) {
        delete c;
        return nullptr;
    }
    tViewItem* v = new tViewItem;
    v->setText(text);
    v->image = kind;
    v->data = c;
    c->viewItem = v;
    myTree.storeUnder(parent ? parent->viewItem : nullptr, v);
    return c;
}

void cFolderChooseDialog::removeChildren(tContent* item) {
    // The selection goes when it lies under the item.
    for (cTreeItem* i = contentOf(mySelected); i; i = i->parent)
        if (i->parent == item) {
            mySelected = nullptr;
            break;
        }
    myTree.remove_under(item->viewItem);
    myContents.destroy_sub(item);
}

void cFolderChooseDialog::initBasicView() {
    mySelected = nullptr;
    myTree.clear();
    myContents.destroy();
    const char* computer = string(0);
    tContent* root = addChild(nullptr, kRoot, "", computer ? computer : "Computer");
    if (!root) return;
    root->listed = true;
    if (!root->contents.enumSpecialLocations()) return;
    for (int i = 0; i < root->contents.count(); i++) {
        sFolderItemInfo* e = root->contents.info(i);
        int kind = e->type == cFolderContents::eFolder || e->type == cFolderContents::eSpecialFolder ? kFolder
                   : e->type == cFolderContents::eFileSystem || e->type == cFolderContents::eVolume ? kFileSystem
                                                                                                   : -1;
        if (kind < 0) continue;
        addChild(root, kind, e->name.ptr, e->displayName.ptr ? e->displayName.ptr : e->name.ptr);
    }
}

bool cFolderChooseDialog::lsUnder(tContent* item) {
    if (!item) return false;
    removeChildren(item);
    item->listed = item->contents.init(item->path.ptr, true);
    // In the order the folder was read, unsorted.
    int n = item->listed ? item->contents.count() : 0;
    for (int i = 0; i < n; i++) {
        sFolderItemInfo* e = item->contents.info(i);
        if (!e || e->hidden) continue;
        int kind = e->type == cFolderContents::eFolder || e->type == cFolderContents::eSpecialFolder ? kFolder
                   : e->type == cFolderContents::eFileSystem || e->type == cFolderContents::eVolume ? kFileSystem
                                                                                                   : -1;
        if (kind < 0) continue;
        _guardchar<char> full;
        if (!item->contents.path(i, full)) continue;
        addChild(item, kind, full.ptr, e->displayName.ptr ? e->displayName.ptr : e->name.ptr);
    }
    myTree.select(item->viewItem, true);
    if (item->listed) mySelected = item->viewItem;
    return item->listed;
}

void cFolderChooseDialog::navigate(const char* path) {
    _guardchar<char> copy(path), a, tag;
    // Typed or handed in by the caller: a ".." part would become a node of its own.
    resolveDotParts(copy.ptr);
    if (!copy.ptr || cFolderContents::objtype(copy.ptr) != cFolderContents::eFolder) return;
    tContent* cur = rootItem();
    tContent* created = nullptr;
    if (!cur) return;
    for (const char* s = copy.ptr; s && *s;) {
        s = nextTag(s, tag);
        if (!tag.ptr || !*tag.ptr) break;
        joinPath(a.ptr, tag.ptr, a);
        tContent* found = nullptr;
        const bool exact = cFolderContents::pathCaseSensetive(a.ptr);
        for (cTreeItem* c = cur->firstChild; c && !found; c = c->next) {
            const char* p = ((tContent*)c)->path.ptr;
            if (p && !(exact ? strcmp(a.ptr, p) : __stricmp(a.ptr, p))) found = (tContent*)c;
        }
        if (found) {
            lsUnder(found);
            cur = found;
            continue;
        }
        // Hidden or unlisted: one extra node, named by the longest path reached so far.
        if (!created) {
            created = addChild(cur, kFolder, a.ptr, a.ptr);
            if (!created) break;
        } else {
            created->path.set(a.ptr);
            created->viewItem->setText(a.ptr);
            myTree.update();
        }
        lsUnder(created);
        cur = created;
    }
    if (myResult) myResult->set(a.ptr);
    myEdit.setText(a.ptr ? a.ptr : "");
    myTree.select(cur->viewItem, true);
    mySelected = cur->viewItem;
}

void cFolderChooseDialog::showSelection(tViewItem* item) {
    tContent* c = contentOf(item);
    if (!c) return;
    if (!c->listed) lsUnder(c);
    const char* shown = c->path.ptr ? c->path.ptr : "";
    if (myResult) myResult->set(shown);
    myEdit.setText(shown);
    myTop.setEnabled(1, c->path.ptr && *c->path.ptr);
    mySelected = item;
}

void cFolderChooseDialog::mkdir() {
    tContent* sel = contentOf(mySelected);
    if (!myResult || !myResult->ptr || !*myResult->ptr || !sel) return;
    _guardchar<char> name;
    if (!cNewFolderNameReqForm::reqNewFolderName(this, name)) return;
    if (cNewFolderNameReqForm::badFolderName(name.ptr)) {
        cMessageForm::errorbox(this, string(3));
        return;
    }
    _guardchar<char> p;
    joinPath(myResult->ptr, name.ptr, p);
    switch (cFolderContents::objtype(p.ptr)) {
    case cFolderContents::eNothing:
        if (!cFolderContents::mkdir(p.ptr)) {
            cMessageForm::errorbox(this, string(3));
            break;
        }
        // Re-listed so that the new folder shows; the selection stays where it was.
        lsUnder(sel);
        break;
    case cFolderContents::eFile: cMessageForm::errorbox(this, string(1)); break;
    case cFolderContents::eFolder: cMessageForm::warningbox(this, string(2)); break;
    default: cMessageForm::errorbox(this, string(4)); break;
    }
}

void cFolderChooseDialog::onConstruct() {
    cCustomForm::onConstruct();
    setMinSize(300, 350);
    attach(&myTop, 0, 0, 1, 1);
    anchor(&myTop, dim(4), dim(3), -(2 * dim(4)) - 1, dim(5));
    myTop.rebuildToolbar();
    myTop.setTransparent(true);
    myTop.setImageList(cButtonChild::stNormal, chooserPictures(kMain, 1, gMain));
    myTop.setButtonAcceptFocus(false);
    const char* nf = string(5);
    myTop.setButton(1, nf ? nf : "New folder", 0);
    int top = dim(3) + dim(5) + dim(1), bottom = dim(8) + dim(7) + dim(1);
    anchor(clientArea(), dim(0), top, -(2 * dim(0)) - 1, -(top + bottom) - 1);
    clientArea()->attach(&myTree, 0, 0, 1, 1);
    clientArea()->anchor(&myTree, 0, 0, -1, -29);
    myTree.setImageLists(chooserPictures(kList, 3, gList), nullptr, nullptr);
    clientArea()->attach(&myEdit, 0, 0, 1, 1);
    clientArea()->anchor(&myEdit, 0, -26, -1, 18);
    myEdit.setMaxLen(32768);
    initBasicView();
    attach(&myBottom, 0, 0, 1, 1);
    myBottom.setTransparent(true);
    myBottom.setImageList(cButtonChild::stNormal, chooserPictures(kCtl, 3, gCtl));
    const char* sel = string(6);
    const char* cancel = string(7);
    myBottom.setButton(1, sel ? sel : "Select", 0);
    myBottom.setButton(2, cancel ? cancel : "Cancel", 1);
    int w = myBottom.wantsWidth();
    anchor(&myBottom, -(dim(9) + w), -dim(8) - 1 - dim(7), w, dim(7));
    myBottom.rebuildToolbar();
    // The start folder: the caller's folder, or the folder of the caller's file; the
    // caller's path is emptied either way, so a typed path stands as the user typed it.
    _guardchar<char> start;
    if (myResult && myResult->ptr) {
        int t = cFolderContents::objtype(myResult->ptr);
        if (t == cFolderContents::eFolder) {
            start.set(myResult->ptr);
        } else if (t == cFolderContents::eFile) {
            const char* slash = strrchr(myResult->ptr, '/');
            if (slash) {
                start.set(myResult->ptr, slash == myResult->ptr ? 1 : slash - myResult->ptr);
                if (cFolderContents::objtype(start.ptr) != cFolderContents::eFolder) start.set((const char*)nullptr);
            }
        }
    }
    if (myResult) myResult->set((const char*)nullptr);
    if (start.ptr)
        navigate(start.ptr);
    else
        myTop.setEnabled(1, false);
    myEdit.focus();
}

bool cFolderChooseDialog::onAction(cChildElement* sender, cChildAction* action) {
    if (!action) return cCustomForm::onAction(sender, action);
    auto* ti = dynamic_cast<cTreeViewChild::cTreeItemAction*>(action);
    if (sender == &myTree && ti && action->type == cTreeViewChild::eTvSelected) {
        showSelection(ti->item);
        return true;
    }
    if (sender == &myTree && action->type == cTreeViewChild::eTvContext) {
        auto* ctx = dynamic_cast<cTreeViewChild::cTreeItemCtxAction*>(action);
        tContent* c = ctx ? contentOf(ctx->item) : nullptr;
        if (c && c->path.ptr && *c->path.ptr) {
            tPopupItems items;
            const char* nf = string(5);
            items.insert(1)->text.set(nf ? nf : "New folder");
            sPoint at = {0, 0};
            myTree.absPos(at);
            cPopupMaster::sPopupConfig cfg;
            cfg.minWidth = 100;
            cfg.background = 0xFFFFFF;
            cfg.text = 0;
            cfg.frame = 0xFFFFFFFFu;
            if (cPopupMaster::simplePopup(this, items, at.x + ctx->x, at.y + ctx->y, &cfg) == 1) {
                if (myResult) myResult->set(c->path.ptr);
                myEdit.setText(c->path.ptr);
                mySelected = ctx->item;
                mkdir();
            }
            items.destroy();
        }
        return cCustomForm::onAction(sender, action);
    }
    auto* b = dynamic_cast<cToolBarChild::cTbButtonAction*>(action);
    if (sender == &myTop && action->type == 6) {
        if (b && b->id == 1) mkdir();
        return true;
    }
    if (chooserBarAction(this, &myBottom, sender, action)) return true;
    return cCustomForm::onAction(sender, action);
}

bool cFolderChooseDialog::onFormAccept() {
    _guardchar<char> t;
    t.set(myEdit.text());
    if (myResult && myResult->ptr && t.ptr && !strcmp(t.ptr, myResult->ptr)) {
        end_modal(1);
        return true;
    }
    if (t.ptr) {
        cFolderContents::adjustPath(t.ptr);
        navigate(t.ptr);
    }
    return true;
}

bool cFolderChooseDialog::onFormCancel() {
    end_modal(0);
    return true;
}
