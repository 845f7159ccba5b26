// cFileChooseDialog: building the form, listing with masks and sort keys, the actions of
// its parts, accepting a typed name, and new folders. The list's sort keys (date, type,
// size) are stored by value in the cells, so no cell points into a listing.
#include "ui/dialogs/filechoose.h"

#include <cstring>
#include <initializer_list>

#include "base/strings.h"
#include "ciplatform/picture.h"
#include "ui/controls/messageform.h"
#include "ui/controls/popupmenu.h"
#include "ui/dialogs/newfolderform.h"
#include "ui/panelchild.h"
#include "ui/theme.h"

namespace {
int dim(int n) { return cCITheme::theme()->getDimension(n, 0); }
cPicturesList* gMain = nullptr;
cPicturesList* gCtl = nullptr;
cPicturesList* gList = nullptr;
const int kMain[] = {82, 83, 84};
const int kCtl[] = {80, 78, 81};
const int kList[] = {43, 48, 60, 63, 44};

unsigned long long byValue(cListViewChild::sListViewDataItem* cell) {
    return (unsigned long long)(uintptr_t)cell->association;
}

unsigned long long dateKey(const sTimestamp& d) {
    return (unsigned long long)d.year << 48 | (unsigned long long)d.month << 40 | (unsigned long long)d.day << 32 |
           (unsigned long long)d.hour << 24 | (unsigned long long)d.minute << 16 | (unsigned long long)d.second << 8;
}

// The part of a path before its last "/" ("/" for a top-level name); false without one.
bool parentOf(const char* path, _guardchar<char>& out) {
    const char* slash = path ? strrchr(path, '/') : nullptr;
    if (!slash) return false;
    out.set(path, slash == path ? 1 : slash - path);
    return true;
}

bool isFolder(const char* path) { return path && cFolderContents::objtype(path) == cFolderContents::eFolder; }
bool isFile(const char* path) { return path && cFolderContents::objtype(path) == cFolderContents::eFile; }

struct sTypeLook {
    int text;  // language index, -1 none
    int icon;
};
sTypeLook lookOf(unsigned int type) {
    switch (type) {
    case cFolderContents::eFile: return {17, cFileChooseDialog::icFile};
    case cFolderContents::eFolder:
    case cFolderContents::eSpecialFolder: return {16, cFileChooseDialog::icFolder};
    case cFolderContents::eFileSystem: return {18, cFileChooseDialog::icFileSystem};
    case cFolderContents::eVolume: return {18, cFileChooseDialog::icVolume};
    default: return {-1, cFileChooseDialog::icOther};
    }
}
}  // namespace

// ---- the provider ----

cFileChooseListFolder::~cFileChooseListFolder() {
    terminate(4000);
    delete myFresh.exchange(nullptr);
}

bool cFileChooseListFolder::canAcceptPath(const char* path) {
    if (!path || !*path) return true;
    if (isFolder(path)) return true;
    return strlen(path) == 2 && path[1] == ':' &&
           ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
}

unsigned int cFileChooseListFolder::navigationProc(const char* path) {
    for (int waited = 0; waited < myDelay.load() && !haveToStop(); waited += 5) sleep(5);
    cFolderContents* fresh = new cFolderContents;
    bool ok = path && *path ? fresh->init(path, true) : fresh->enumSpecialLocations();
    delete myFresh.exchange(fresh);
    return ok ? 0 : 1;
}

// ---- running ----

cFileChooseDialog::~cFileChooseDialog() {
    myProvider.terminate(4000);
    delete myShown;
}

bool cFileChooseDialog::run(cChildElement* parent, const char* title, sFileChooseInfo& info, bool save) {
    if (!parent || !parent->windowMaker() || !parent->platformWindow()) return false;
    int ew = info.extraPanel ? info.extraPanel->wantWidth() : 0;
    int eh = info.extraPanel ? info.extraPanel->wantHeight() : 0;
    cFileChooseDialog* d = new cFileChooseDialog(&info, save);
    return parent->modal(title ? title : "", ew > 500 ? ew : 500, 350 + eh, d, true) == 1;
}

bool cFileChooseDialog::open(cChildElement* parent, const char* title, sFileChooseInfo& info) {
    return run(parent, title, info, false);
}

bool cFileChooseDialog::save(cChildElement* parent, const char* title, sFileChooseInfo& info) {
    return run(parent, title, info, true);
}

bool cFileChooseDialog::ls(const char* path, bool) { return myNavi.navigate(path); }

bool cFileChooseDialog::validFilter(long long i) {
    return myInfo && i >= 0 && i < myInfo->filters.count && myInfo->filters.ptr[i].name.ptr &&
           myInfo->filters.ptr[i].mask.ptr;
}

void cFileChooseDialog::onConstruct() {
    cCustomForm::onConstruct();
    int eh = extraHeight();
    setMinSize(350, 300 + eh);
    // Top tools.
    attach(&myTop, 0, 0, 1, dim(5));
    anchor(&myTop, dim(4), dim(3), -(2 * dim(4)) - 1, dim(5));
    myTop.setTransparent(true);
    myTop.setImageList(cButtonChild::stNormal, chooserPictures(kMain, 3, gMain));
    myTop.setButtonAcceptFocus(false);
    myTop.setButton(1, string(4), 0);
    myTop.setButton(2, string(5), 1);
    if (mySave) myTop.setButton(3, string(6), 2);
    myTop.rebuildToolbar();
    int top = dim(3) + dim(5) + dim(1), bottom = dim(8) + dim(7) + dim(1);
    anchor(clientArea(), dim(0), top, -(2 * dim(0)) - 1, -(top + bottom) - 1);
    cPanelChild* client = clientArea();
    // The navigation bar, the list and the name row.
    client->attach(&myNavi, 0, 0, 1, 22);
    client->anchor(&myNavi, 0, 0, -1, 22);
    myNavi.setNavigationProvider(&myProvider);
    myNavi.setPassiveColor(cCITheme::theme()->getColor(27), false);
    client->attach(&myList, 0, 24, 1, 1);
    client->anchor(&myList, 0, 24, -1, -80 - eh);
    myList.setColumn(colName, string(7), 190, cCanvas::taLeft);
    myList.setColumn(colDate, string(8), 120, cCanvas::taLeft);
    myList.setColumn(colType, string(9), 70, cCanvas::taLeft);
    myList.setColumn(colSize, string(10), 80, cCanvas::taRight);
    myList.setSortType(colName, new cListViewChild::cListViewNameSortProvider);
    for (int c : {colDate, colType, colSize}) {
        auto* p = new cListViewChild::cListViewU64PramSortProvider;
        p->setTransformProc(byValue);
        myList.setSortType(c, p);
    }
    myList.setImageLists(chooserPictures(kList, 5, gList), nullptr, nullptr);
    if (!mySave && myInfo->multiselect) myList.setMultiselect(true);
    client->attach(&myLabel, 0, 0, 80, 22);
    client->anchor(&myLabel, 0, -50 - eh, 80, 22);
    myLabel.setText(string(11), cCanvas::taLeft, false);
    unsigned int back = cCITheme::theme()->getColor(0);
    myLabel.setColorSchema(myLabel.textColor(), back, back);
    client->attach(&myName, 80, 0, 1, 22);
    client->anchor(&myName, 80, -50 - eh, -280, 22);
    if (myInfo->file.ptr) myName.setText(myInfo->file.ptr);
    client->attach(&myFilter, 0, 0, 190, 22);
    client->anchor(&myFilter, -191, -50 - eh, 190, 22);
    myFilter.allowEdit(false);
    if (myInfo->extraPanel) {
        client->attach(myInfo->extraPanel, 0, 0, 1, eh);
        client->anchor(myInfo->extraPanel, 0, -18 - eh, -1, eh);
    }
    // Filters: every usable one is an item; the first usable one's mask is current.
    myMask.set("*");
    bool any = false;
    for (long long i = 0; i < myInfo->filters.count; i++) {
        if (!validFilter(i)) continue;
        myFilter.setItem((int)i, myInfo->filters.ptr[i].name.ptr, (void*)(intptr_t)i, -1);
        if (!any) {
            myMask.set(myInfo->filters.ptr[i].mask.ptr);
            myFilter.select((int)i, false);
            any = true;
        }
    }
    if (!any) {
        myFilter.setItem(0, string(12), nullptr, -1);
        myMask.set("*");
    }
    if (validFilter(myInfo->filterIndex)) {
        myFilter.select((int)myInfo->filterIndex, true);
    } else {
        myInfo->filterIndex = 0;
        if (myFilter.text(0)) myFilter.select(0, true);
    }
    // Accept / cancel.
    attach(&myBottom, 0, 0, 1, dim(7));
    myBottom.setTransparent(true);
    myBottom.setImageList(cButtonChild::stNormal, chooserPictures(kCtl, 3, gCtl));
    if (mySave)
        myBottom.setButton(1, string(13), 2);
    else
        myBottom.setButton(1, string(14), 0);
    myBottom.setButton(2, string(2), 1);
    int w = myBottom.wantsWidth();
    anchor(&myBottom, -(dim(9) + w), -dim(8) - 1 - dim(7), w, dim(7));
    myBottom.rebuildToolbar();
    myInfo->moreFiles.destroy();
    initList();
}

void cFileChooseDialog::initList() {
    if (isFolder(myInfo->folder.ptr)) {
        _guardchar<char> p;
        p.set(myInfo->folder.ptr);
        cFolderContents::adjustPath(p.ptr);
        ls(p.ptr);
        return;
    }
    if (myInfo->file.ptr) {
        _guardchar<char> f, dir;
        f.set(myInfo->file.ptr);
        cFolderContents::adjustPath(f.ptr);
        if (parentOf(f.ptr, dir) && isFolder(dir.ptr)) {
            myName.setText(strrchr(f.ptr, '/') + 1);
            ls(dir.ptr);
            return;
        }
    }
    _guardchar<char> home;
    if (cFolderContents::getHome(home)) ls(home.ptr);
}

// ---- listing ----

void cFileChooseDialog::replaceShown(cFolderContents* fresh) {
    if (!fresh) return;
    delete myShown;
    myShown = fresh;
}

void cFileChooseDialog::showPlaces() {
    cFolderContents* places = new cFolderContents;
    places->enumSpecialLocations();
    replaceShown(places);
    ls_data(false);
    myNavi.setPath(nullptr);
}

void cFileChooseDialog::ls_data(bool sort) {
    myList.startChanges();
    myList.clear();
    for (int i = 0; myShown && i < myShown->count(); i++) {
        sFolderItemInfo* e = myShown->info(i);
        if (!e || (e->hidden && !myInfo->showHidden)) continue;
        if (e->type == cFolderContents::eFile && !cFolderContents::wcmmatch(e->name.ptr, myMask.ptr)) continue;
        sTypeLook look = lookOf(e->type);
        myList.setItem(i, colName, e->displayName.ptr ? e->displayName.ptr : e->name.ptr, look.icon,
                       (void*)(intptr_t)i);
        const char* typeText = look.text >= 0 ? string(look.text) : nullptr;
        myList.setItem(i, colType, typeText ? typeText : "", -1, (void*)(intptr_t)look.icon);
        char buf[64] = "";
        if (e->type == cFolderContents::eFile) _sprintf_s(buf, sizeof buf, "%lld KB", (long long)(e->size >> 10));
        myList.setItem(i, colSize, buf, -1, (void*)(uintptr_t)e->size);
        buf[0] = 0;
        if (e->date.year)
            _sprintf_s(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", e->date.day, e->date.month, e->date.year,
                       e->date.hour, e->date.minute, e->date.second);
        myList.setItem(i, colDate, buf, -1, (void*)(uintptr_t)dateKey(e->date));
    }
    myList.endChanges(true);
    if (sort) {
        myList.setSortDirection(colName, true);
        myList.sort(colName);
        myList.setSortDirection(colType, true);
        myList.sort(colType);
    }
    if (mySave) myTop.setEnabled(3, realFolder());
    myList.focus();
}

bool cFileChooseDialog::rowPath(int row, _guardchar<char>& out) {
    return myShown && row >= 0 && row < myShown->count() && myShown->path(row, out);
}

int cFileChooseDialog::rowType(int row) {
    sFolderItemInfo* e = myShown && row >= 0 && row < myShown->count() ? myShown->info(row) : nullptr;
    return e ? (int)e->type : -1;
}

// ---- actions ----

void cFileChooseDialog::activate(int row) {
    int t = rowType(row);
    _guardchar<char> p;
    if (!rowPath(row, p)) return;
    if (t == cFolderContents::eFile) {
        myInfo->file.set(p.ptr);
        endSODialog();
    } else if (t == cFolderContents::eFolder || (t >= cFolderContents::eFileSystem && t <= cFolderContents::eVolume)) {
        ls(p.ptr);
    }
}

void cFileChooseDialog::listContext(cChildAction* action) {
    auto* ctx = dynamic_cast<cContextAction*>(action);
    int row = myList.selected();
    int t = rowType(row);
    int text = -1;
    if (!mySave)
        text = row >= 0 ? 14 : -1;
    else if (row < 0)
        text = 6;
    else if (t == cFolderContents::eFile)
        text = 15;
    else if (t == cFolderContents::eFolder || (t >= cFolderContents::eFileSystem && t <= cFolderContents::eVolume))
        text = 14;
    if (text < 0) return;
    tPopupItems items;
    items.insert(1)->text.set(string(text));
    sPoint at = {0, 0};
    myList.absPos(at);
    cPopupMaster::sPopupConfig cfg;
    cfg.minWidth = 100;
    cfg.background = 0xFFFFFF;
    cfg.text = 0;
    cfg.frame = 0xFFFFFFFFu;
    int chosen = cPopupMaster::simplePopup(this, items, at.x + (ctx ? ctx->x : 0), at.y + (ctx ? ctx->y : 0), &cfg);
    items.destroy();
    if (chosen != 1) return;
    if (text == 6) {
        mkdir();
    } else if (!mySave && t == cFolderContents::eFile) {
        _guardchar<char> p;
        rowPath(row, p);
        myInfo->file.set(p.ptr);
        if (myInfo->multiselect)
            for (int r = -1, idx = myList.nextSelectedDspOrd(-1, r); idx >= 0; idx = myList.nextSelectedDspOrd(idx, r))
                if (r != row && rowType(r) == cFolderContents::eFile && rowPath(r, p)) myInfo->moreFiles.add()->set(p.ptr);
        endSODialog();
    } else {
        activate(row);
    }
}

bool cFileChooseDialog::onAction(cChildElement* sender, cChildAction* action) {
    if (!action) return cCustomForm::onAction(sender, action);
    if (sender == &myNavi && action->type == 6) {
        auto* a = dynamic_cast<cNavigationChild::cNaviSetPathAction*>(action);
        if (a && !a->path.ptr) {
            replaceShown(myProvider.take());
            ls_data(true);
            myNavi.postAction(new cChildAction(9));
        }
        return true;
    }
    if (sender == &myFilter && action->type == 6) {
        int sel = myFilter.selected();
        if (sel < 0) return true;
        long long idx = (long long)(intptr_t)myFilter.association(sel);
        if (validFilter(idx)) {
            myMask.set(myInfo->filters.ptr[idx].mask.ptr);
            myInfo->filterIndex = idx;
        } else {
            myMask.set("*");
        }
        if (realFolder()) ls_data(true);
        return true;
    }
    if (sender == &myList) {
        auto* item = dynamic_cast<cListViewChild::cListViewItemAction*>(action);
        switch (action->type) {
        case cChildElement::eActContext: listContext(action); return true;
        case cListViewChild::eActActivate:
            if (item) activate(item->item);
            return true;
        case cListViewChild::eActChange:
            if (item && rowType(item->item) == cFolderContents::eFile) {
                sFolderItemInfo* e = myShown->info(item->item);
                myName.setText(e->name.ptr);
            }
            return true;
        case cListViewChild::eActRefresh:
            if (realFolder()) {
                _guardchar<char> p;
                p.set(myShown->folder());
                ls(p.ptr);
            } else {
                showPlaces();
            }
            return true;
        case cListViewChild::eActBack: return true;
        default: break;
        }
    }
    auto* b = dynamic_cast<cToolBarChild::cTbButtonAction*>(action);
    if (sender == &myTop) {
        if (b && action->type == 6) {
            if (b->id == 1) {
                _guardchar<char> home;
                if (cFolderContents::getHome(home)) ls(home.ptr);
            } else if (b->id == 2) {
                showPlaces();
            } else if (b->id == 3) {
                mkdir();
            }
        }
        return true;
    }
    if (chooserBarAction(this, &myBottom, sender, action)) return true;
    return cCustomForm::onAction(sender, action);
}

// ---- accepting ----

// True when the Return did something: closed the dialog, entered a typed folder or
// applied a typed mask. Only a Return that did nothing goes on to the focused element (the
// list opens its current row), so a typed folder never also chooses the focused file.
bool cFileChooseDialog::onFormAccept() {
    if (myNavi.naviMode() != cNavigationChild::nmNormal) return false;
    _guardchar<char> t;
    t.set(myName.text());
    if (!t.ptr || !*t.ptr) {
        // Nothing typed: a Return on the list is its current row's.
        if (myList.focused()) return false;
        myName.focus();
        return true;
    }
    cFolderContents::adjustPath(t.ptr);
    // A typed mask filters the folder and keeps the dialog open.
    if (strchr(t.ptr, '*') || strchr(t.ptr, '?')) {
        myMask.set(t.ptr);
        char buf[1024];
        if (myInfo->keepFilterName && validFilter(myInfo->filterIndex))
            _sprintf_s(buf, sizeof buf, "%s (%s: %s)", myInfo->filters.ptr[myInfo->filterIndex].name.ptr,
                       string(23) ? string(23) : "", t.ptr);
        else
            _sprintf_s(buf, sizeof buf, "%s (%s)", string(24) ? string(24) : "", t.ptr);
        myFilter.setText(buf);
        if (realFolder()) ls_data(true);
        return true;
    }
    // A final "/" asks for a folder (resolving drops it): such a name never chooses a file.
    const bool folderMeant = t.ptr[strlen(t.ptr) - 1] == '/';
    resolveDotParts(t.ptr);
    _guardchar<char> dir;
    if (!realFolder()) {
        if (isFolder(t.ptr)) return enter(t.ptr);
        if (folderMeant) return false;
        if (isFile(t.ptr) || (mySave && parentOf(t.ptr, dir) && isFolder(dir.ptr))) return endWith(t.ptr);
        return false;
    }
    if (!mySave && myInfo->multiselect) {
        bool first = true;
        _guardchar<char> p;
        // In the order the user sees them.
        int r = -1;
        for (int idx = myList.nextSelectedDspOrd(-1, r); idx >= 0; idx = myList.nextSelectedDspOrd(idx, r)) {
            if (rowType(r) != cFolderContents::eFile || !rowPath(r, p)) continue;
            if (first)
                myInfo->file.set(p.ptr);
            else
                myInfo->moreFiles.add()->set(p.ptr);
            first = false;
        }
        if (!first) return endSODialog();
    }
    _guardchar<char> p;
    joinPath(myShown->folder(), t.ptr, p);
    cFolderContents::adjustPath(p.ptr);
    resolveDotParts(p.ptr);
    int pt = cFolderContents::objtype(p.ptr);
    if (pt == cFolderContents::eFile && !folderMeant) return endWith(p.ptr);
    if (pt == cFolderContents::eFolder) return enter(p.ptr);
    if (pt == cFolderContents::eNothing) {
        if (isFolder(t.ptr)) return enter(t.ptr);
        if (folderMeant) return false;
        if (isFile(t.ptr)) return endWith(t.ptr);
        if (mySave && parentOf(p.ptr, dir) && isFolder(dir.ptr)) return endWith(p.ptr);
        if (mySave && parentOf(t.ptr, dir) && isFolder(dir.ptr)) return endWith(t.ptr);
    }
    return false;
}

bool cFileChooseDialog::enter(const char* folder) {
    myName.setText("");
    ls(folder);
    return true;
}

bool cFileChooseDialog::endWith(const char* file) {
    myInfo->file.set(file);
    return endSODialog();
}

bool cFileChooseDialog::endSODialog() {
    if (mySave && validFilter(myInfo->filterIndex)) {
        const char* e = myInfo->filters.ptr[myInfo->filterIndex].ext.ptr;
        const char* f = myInfo->file.ptr;
        if (e && *e && f) {
            const char* dot = strrchr(f, '.');
            if (!dot || (cFolderContents::pathCaseSensetive(f) ? strcmp(dot + 1, e) : __stricmp(dot + 1, e)) != 0) {
                size_t n = strlen(f) + strlen(e) + 2;
                _guardchar<char> r;
                r.set((long long)n);
                _sprintf_s(r.ptr, (long long)n, "%s.%s", f, e);
                myInfo->file.set(r.ptr);
            }
        }
    }
    if (myInfo->extraPanel && !myInfo->extraPanel->canClose()) return false;
    end_modal(1);
    return true;
}

bool cFileChooseDialog::onFormCancel() {
    end_modal(0);
    return true;
}

// ---- new folder ----

void cFileChooseDialog::mkdir() {
    if (!realFolder()) return;
    _guardchar<char> name;
    if (!cNewFolderNameReqForm::reqNewFolderName(this, name)) return;
    if (cNewFolderNameReqForm::badFolderName(name.ptr)) {
        cMessageForm::errorbox(this, string(21));
        return;
    }
    _guardchar<char> p, folder;
    folder.set(myShown->folder());
    joinPath(folder.ptr, name.ptr, p);
    switch (cFolderContents::objtype(p.ptr)) {
    case cFolderContents::eNothing:
        if (cFolderContents::mkdir(p.ptr))
            ls(folder.ptr);
        else
            cMessageForm::errorbox(this, string(21));
        break;
    case cFolderContents::eFile: cMessageForm::errorbox(this, string(19)); break;
    case cFolderContents::eFolder:
        if (cMessageForm::confirmbox(this, string(20))) ls(p.ptr);
        break;
    default: cMessageForm::errorbox(this, string(22)); break;
    }
}
