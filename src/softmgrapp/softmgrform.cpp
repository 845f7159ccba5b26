// The Software Manager form. The reader job fills its own item list from the store and
// hands it over at its end; only the UI thread touches the list view. The update check
// runs afterwards and sends one action per package.
#include "softmgrapp/softmgrform.h"

#include <cstring>

#include "base/appconfig.h"
#include "base/folders.h"
#include "base/process.h"
#include "base/strings.h"
#include "base/timeutil.h"
#include "ciplatform/canvas.h"
#include "ciplatform/windowmaker.h"
#include "instengine/journalrecovery.h"
#include "instengine/pkgregistry.h"
#include "instengine/updateinstall.h"
#include "softmgr/ossupport.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/remover.h"
#include "softmgrapp/sopkglang.h"
#include "softmgrapp/updatecheck.h"
#include "softmgrapp/updateform.h"
#include "ui/controls/button.h"
#include "ui/controls/header.h"
#include "ui/elementhost.h"
#include "ui/lang.h"

namespace {

const unsigned int kText = 0x734D32, kLink = 0xC98C2F, kGrey = 0xB9AA9C;
// A name cell: the 16-pixel icon with 4 around it, the text padding of 3 and the 2 the
// cell keeps before its text.
const int kNameCellInset = 16 + 4 + 3 + 2;

bool readStr(cApplicationConfig* s, const char* section, const char* name, _guardchar<char>& out) {
    _guardchar<char> key;
    return regKey(section, name, key) && s->getParamStr(key.ptr, out);
}

bool readStr(cApplicationConfig* s, const char* section, const char* name, long long i, _guardchar<char>& out) {
    _guardchar<char> key;
    return regKey(section, name, i, key) && s->getParamStr(key.ptr, out);
}

void format1(const char* pattern, const char* value, _guardchar<char>& out) {
    char buf[200];
    _sprintf_s(buf, sizeof(buf), pattern && strstr(pattern, "%s") ? pattern : "%s", value ? value : "");
    out.set(buf);
}

}  // namespace

bool openRunCommand(const char* command) {
    if (!command || !*command) return false;
    // A path as it stands, even one that opens with a quote, is never read as a command.
    if (cFolderContents::objtype(command) != cFolderContents::eNothing) return shellOpen(command);
    sRunCommandLine line;
    if (!splitRunCommand(command, line)) return false;
    if (line.argv.count > 2) return startDetached(line.argv.ptr);
    // A path alone that is gone starts nothing: its words are no program.
    return cFolderContents::objtype(line.path.ptr) != cFolderContents::eNothing && shellOpen(line.path.ptr);
}

// "name (code)" for a row of the list; when it is wider than the room the name is cut
// ("Alpha Tool Profe... (org.a)") so that the code name stays whole.
static void nameWithCode(const char* name, const char* code, int room, _guardchar<char>& out) {
    _guardchar<char> tail, head;
    concatText(" (", code ? code : "", head);
    concatText(head.ptr, ")", tail);
    if (!name) name = "";
    concatText(name, tail.ptr, out);
    cFontObject* font = mkBtnFont(false);
    if (textExtent(out.ptr, font).cx <= room) return;
    _guardchar<char> cut;
    concatText("...", tail.ptr, cut);
    for (long long n = (long long)strlen(name) - 1; n > 0; n--) {
        if (((unsigned char)name[n] & 0xC0) == 0x80) continue;  // inside a character
        long long k = n;
        while (k > 0 && name[k - 1] == ' ') k--;
        head.set(name, k);
        concatText(head.ptr, cut.ptr, out);
        if (textExtent(out.ptr, font).cx <= room) return;
    }
    concatText(name, tail.ptr, out);  // not even the code name fits: the cell cuts it
}

static bool sameText(const _guardchar<char>& a, const _guardchar<char>& b) {
    return strcmp(a.ptr ? a.ptr : "", b.ptr ? b.ptr : "") == 0;
}

// ---- the reader ----

bool cSoftMgrForm::cConfigReaderJob::start(cSoftMgrForm* form, cApplicationConfig* store, unsigned int run) {
    if (!form) return false;
    terminate(4000);
    myForm = form;
    myRun = run;
    myStore = store;
    return cJob::start();
}

unsigned int cSoftMgrForm::cConfigReaderJob::job() {
    items = new _List<sInstalledItem>;
    // The store as it is on disk now: another process may have installed or removed a
    // package since this one last read it.
    if (myStore) myStore->discardChanges();
    // Interrupted runs are finished or undone first: the list never shows half a run.
    _List<_guardchar<char> > codes;
    _List<sSetAsideJournal> aside;
    _List<sUnreadJournal> unread;
    unfinished.clear();
    unreadable.clear();
    setAside.clear();
    if (myStore && !recoverAllInterrupted(myStore, nullptr, &codes, &aside, &unread) && !codes.empty())
        packageNames(myStore, codes, unfinished, &unread);
    if (!unread.empty()) unreadableMessage(myStore, unread, unreadable);
    if (!aside.empty()) setAsideMessage(myStore, aside, setAside);
    if (myStore) myStore->enumSubsections(kRegInstallRoot, sectionEnumProc, this);
    return 0;
}

void cSoftMgrForm::cConfigReaderJob::onJobEnd(unsigned int) {
    if (myForm) myForm->notifyAction(new cReaderDoneAction(myRun));
}

bool cSoftMgrForm::cConfigReaderJob::sectionEnumProc(const char* name, void* job) {
    static_cast<cConfigReaderJob*>(job)->sectionEnumProc(name);
    return true;
}

bool cSoftMgrForm::cConfigReaderJob::sectionEnumProc(const char* name) {
    if (!name || !*name || haveToStop()) return true;
    _guardchar<char> section, key;
    if (!regSectionName(name, section) || !regKey(section.ptr, kRegVer, key)) return true;
    unsigned long long ver = 0;
    if (!myStore->getParamInt(key.ptr, ver)) return true;
    sInstalledItem* it = items.ptr ? items.ptr->add() : nullptr;
    if (!it) return true;
    it->version = ver;
    strVer(ver, it->versionText);
    readStr(myStore, section.ptr, kRegName, it->name);
    readStr(myStore, section.ptr, kRegPublisher, it->publisher);
    readStr(myStore, section.ptr, kRegSupport, it->support);
    readStr(myStore, section.ptr, kRegUpdates, it->updates);
    unsigned long long utime = 0;
    if (regKey(section.ptr, kRegUTime, key) && myStore->getParamInt(key.ptr, utime)) {
        char buf[64];
        if (unixToStr((unsigned int)(utime & 0xFFFFFFFFu), buf, sizeof(buf))) {
            // Day and time, in the list and the details; the day alone tells rows apart.
            it->installedText.set(buf);
            char* blank = strchr(buf, ' ');
            if (blank) *blank = 0;
            it->installedDate.set(buf);
        }
    }
    for (long long n = 0; n < kRegMaxEntries; n++) {
        _guardchar<char> caption, command;
        if (!readStr(myStore, section.ptr, kRegRunLabel, n, caption) || !caption.ptr || !*caption.ptr ||
            !readStr(myStore, section.ptr, kRegRunCommand, n, command) || !command.ptr || !*command.ptr)
            break;
        sRunOption* o = it->commands.add();
        if (!o) break;
        o->caption.attach(caption.dettach());
        o->command.attach(command.dettach());
    }
    _guardchar<char> icon;
    if (readStr(myStore, section.ptr, kRegIcon, icon) && icon.ptr && *icon.ptr) {
        loadPackageIcon(icon.ptr, 16, it->smallIcon);
        loadPackageIcon(icon.ptr, 48, it->bigIcon);
    }
    if (it->smallIcon.width() <= 0) builtinIcon(16, it->smallIcon);
    if (it->bigIcon.width() <= 0) builtinIcon(48, it->bigIcon);
    it->codeName.set(name);
    return true;
}

// ---- the update check ----

bool cSoftMgrForm::cUpdateCheckJob::start(cSoftMgrForm* form) {
    if (!form) return false;
    terminate(4000);
    myForm = form;
    myRun = form->myRun;
    myCodes.destroy();
    for (auto* it = form->myItems.ptr ? form->myItems.ptr->head : nullptr; it; it = it->next) {
        _guardchar<char>* c = myCodes.add();
        if (c) c->set(it->value.codeName.ptr);
    }
    return cJob::start();
}

unsigned int cSoftMgrForm::cUpdateCheckJob::job() {
    long long row = 0;
    for (auto* it = myCodes.head; it && !haveToStop(); it = it->next, row++) {
        cUpdateInfoAction* a = new cUpdateInfoAction;
        a->row = row;
        if (!checkVersion(it->value.ptr, a->version, a->download, a->site, a->whatsNew, this) || haveToStop()) {
            delete a;
            continue;
        }
        myForm->notifyAction(a);
    }
    return 0;
}

void cSoftMgrForm::cUpdateCheckJob::onJobEnd(unsigned int) {
    if (myForm) myForm->notifyAction(new cReaderDoneAction(myRun, eActCheckDone));
}

// ---- the form ----

int cSoftMgrForm::runManager(cWindowMaker* maker, cApplicationConfig* store) {
    const char* title = cCiomLangData::string("pkgm::softm", eSoftmTitle);
    int code;
    do {
        cSoftMgrForm* f = new cSoftMgrForm;
        f->store = store;
        code = cChildElement::modalWindow(maker ? maker : appWindowMaker(), title ? title : "", 770, 480, f, nullptr,
                                          0);
        title = cCiomLangData::string("pkgm::softm", eSoftmTitle);
    } while (code == 10);
    return code < 0 ? 0 : code;
}

cSoftMgrForm::~cSoftMgrForm() {
    // Both jobs stop before the members they use go (the check ends its request at once).
    myChecker.terminate(4000);
    myReader.terminate(4000);
}

void cSoftMgrForm::onConstruct() {
    myTab = new cWZISelButton;
    attach(myTab, 0, 0, 10, 10);
    myTab->font = mkSelectHdrFont();
    myTab->setText(string(eSoftmTab));
    anchor(myTab, 45, 25, myTab->requiredWidth(), 25);
    myTab->setActivated(true);

    myLangSwitch = new cLangSwitchCtl;
    myLangSwitch->store = store;
    attach(myLangSwitch, 0, 0, 25, 25);
    anchor(myLangSwitch, -71, 25, 25, 25);

    myListPanel = new cPanelChild;
    attach(myListPanel, 0, 0, 10, 10);
    anchor(myListPanel, 45, 70, -91, 180);
    myListPanel->setBorderColor(0xE4E0DC);
    myListPanel->setBgColor(0xFFFFFF);

    myList = new cListViewChild;
    myListPanel->attach(myList, 0, 0, 10, 10);
    myListPanel->anchor(myList, 5, 5, -11, -11);
    myList->setBorderColor(0xFFFFFF, false);
    myList->setImageLists(&myIcons, nullptr, nullptr);
    // Fixed widths, whatever the language: every caption and "Update available" fit them.
    myList->setColumn(1, string(eSoftmName), 310, cCanvas::taLeft);
    myList->setColumnFont(1, mkBtnFont(false));
    myList->setColumnTextColor(1, kText, false);
    myList->setColumn(2, string(eSoftmInstalled), 100, cCanvas::taLeft);
    myList->setColumnTextColor(2, kGrey, false);
    myList->setColumn(3, string(eSoftmVersion), 100, cCanvas::taLeft);
    myList->setColumnTextColor(3, kGrey, false);
    myList->setColumn(4, "", myList->width() - 530, cCanvas::taLeft);
    myList->setColumnTextColor(4, 0xD4A76C, false);
    // A flat header: white, hot borders only, columns not clickable.
    for (int id = 1; id <= 5; id++) {
        cButtonChild* b = id <= 4 ? myList->header()->columnButton(id) : myList->header()->filler();
        if (!b) continue;
        b->setBorder(cButtonChild::brdHot, false);
        b->setBgColor(0xFFFFFF, false);
        if (id > 4) continue;
        b->setBorderColors(cButtonChild::stHover, 0xF8F8F8, 0xF8F8F8);
        b->setBorderColors(cButtonChild::stPressed, 0xF1EBE5, 0xF1EBE5);
        b->setDsbTextColor(kGrey, false);
        b->setDsbBgColor(0xFFFFFF, false);
        b->disable(false);
    }
    myList->setSpacing(10);
    myList->setTextPadding(3, false);
    myList->setFullLineSelect(true, false);
    myList->setFullLineSelectColors(0xF7EEE1, 0xF7EEE1, false);

    myStatus = new cStaticElement;
    attach(myStatus, 0, 0, 10, 10);
    anchor(myStatus, 45, 150, -91, 22);
    myStatus->setColorSchema(kGrey, 0xFFFFFF, (unsigned)-1);

    myDetails = new cPanelChild;
    attach(myDetails, 0, 0, 10, 10);
    anchor(myDetails, 45, 255, -91, -296);
    myDetails->setBorderColor(0xFFFFFF);
    myDetails->setBgColor(0xFFFFFF);

    myIcon = new cPictureElement;
    myDetails->attach(myIcon, 15, 20, 48, 48);
    myIcon->setTransparent(true);

    cStaticElement** texts[3] = {&myName, &myVersion, &myInstalled};
    static const int kTextY[3] = {25, 70, 90}, kTextW[3] = {350, 200, 200}, kTextH[3] = {45, 20, 20};
    for (int i = 0; i < 3; i++) {
        cStaticElement* t = new cStaticElement;
        myDetails->attach(t, 85, kTextY[i], kTextW[i], kTextH[i]);
        t->setColorSchema(kText, 0xFFFFFF, (unsigned)-1);
        *texts[i] = t;
    }
    myName->setFont(mkWizTitleFont());
    myName->setTextDispMode(cStaticElement::eTDMWrapped);

    cLinkElement** links[3] = {&myPublisher, &mySupport, &myUpdates};
    const int linkTexts[3] = {eSoftmPublisherSite, eSoftmSupport, eSoftmInformation};
    for (int i = 0; i < 3; i++) {
        cLinkElement* l = new cLinkElement;
        myDetails->attach(l, 390, 70 + 20 * i, 10, 20);
        l->setTextColor(kLink);
        l->setFont(mkBtnFont(true));
        l->setText(string(linkTexts[i]), cCanvas::taLeft);
        *links[i] = l;
    }

    // Uninstall at the right edge, Update 15 pixels left of it; Tab meets them in this order.
    cWZIButton** buttons[2] = {&myUninstall, &myUpdate};
    for (int i = 0; i < 2; i++) {
        cWZIButton* b = new cWZIButton;
        myDetails->attach(b, 0, 0, 115, 30);
        myDetails->anchor(b, i ? -246 : -116, 0, 115, 30);
        b->setText(string(i ? eSoftmUpdate : eSoftmUninstall));
        b->setColorSchema(kText, 0xFFFFFF, 0xE4E0DC, 0xEAD3B0);
        *buttons[i] = b;
    }

    myRemoveLink = new cLinkElement;
    attach(myRemoveLink, 0, 0, 10, 10);
    myRemoveLink->setTextColor(kLink);
    myRemoveLink->setFont(mkBtnFont(true));
    myRemoveLink->setText(string(eSoftmRemoveManager), cCanvas::taLeft);
    sSize want = {150, 20};
    myRemoveLink->wantsSize(want);
    anchor(myRemoveLink, 45, (30 - want.cy) / 2 - 40, want.cx, want.cy);
    myRemoveLink->hide(false);

    myRefresh = new cWZIButton;
    attach(myRefresh, 0, 0, 114, 30);
    anchor(myRefresh, -161, -40, 114, 30);
    myRefresh->setText(string(eSoftmRefresh));
    myRefresh->setColorSchema(0xFFFFFF, kLink, 0xE2A74E, 0xEAD3B0);

    // Shown beside the tab while the update server is asked.
    myChecking = new cStaticElement;
    attach(myChecking, 0, 0, 10, 10);
    int tabRight = 45 + myTab->requiredWidth() + 20;
    anchor(myChecking, tabRight, 25, -82 - tabRight, 25);  // up to 10 pixels left of the language switch
    myChecking->setColorSchema(kGrey, 0xFFFFFF, (unsigned)-1);
    myChecking->setText(string(eSoftmCheckingUpdates), cCanvas::taRight);
    myChecking->hide(false);

    refresh();
}

void cSoftMgrForm::refresh() {
    myChecker.terminate(4000);
    myChecking->hide();
    myListPanel->hide();
    myDetails->hide();
    // Refresh pressed from the keyboard gives up the focus while it is disabled and takes
    // it back when the list is read.
    myRefocusRefresh = myRefresh->focused();
    myRefresh->disable();
    myTab->disable();
    myLangSwitch->disable();
    myStatus->setText(string(eSoftmCheckingPackages), cCanvas::taLeft);
    myStatus->show();
    myCurrent = nullptr;
    myList->startChanges();
    myList->clear();
    myRun++;
    if (!myReader.start(this, store, myRun)) {
        // Without a thread the list stays empty, as with no packages.
        notifyAction(new cReaderDoneAction(myRun));
    }
}

void cSoftMgrForm::takeItems() {
    myCurrent = nullptr;
    for (unsigned int i = 0; i < myRowCount; i++) myIcons.remove((int)i);
    // The job has ended: its list becomes the form's.
    myItems = myReader.items.ptr;
    myReader.items.ptr = nullptr;
    myRowCount = 0;
    // The name column's room for text, right of the icon and the cell's padding.
    int nameRoom = myList->header()->columnWidth(1) - kNameCellInset;
    for (auto* it = myItems.ptr ? myItems.ptr->head : nullptr; it; it = it->next, myRowCount++) {
        sInstalledItem& item = it->value;
        myIcons.refImage((int)myRowCount, &item.smallIcon);
        // Two packages of one name installed the same day in one version would read alike
        // (the column cuts the time): such rows carry their code names, which stay whole
        // in the column (a long name is cut before them instead).
        _guardchar<char> name;
        name.set(item.name.ptr ? item.name.ptr : "");
        for (auto* o = myItems.ptr->head; o; o = o->next)
            if (o != it && sameText(o->value.name, item.name) && sameText(o->value.installedDate, item.installedDate) &&
                sameText(o->value.versionText, item.versionText)) {
                nameWithCode(item.name.ptr, item.codeName.ptr, nameRoom, name);
                break;
            }
        myList->setItem((int)myRowCount, 1, name.ptr, (int)myRowCount, &item);
        myList->setItem((int)myRowCount, 2, item.installedText.ptr ? item.installedText.ptr : "", -1, nullptr);
        myList->setItem((int)myRowCount, 3, item.versionText.ptr, -1, nullptr);
        myList->setItem((int)myRowCount, 4, "", -1, nullptr);
    }
}

cSoftMgrForm::sInstalledItem* cSoftMgrForm::itemAt(long long row) {
    long long i = 0;
    for (auto* it = myItems.ptr ? myItems.ptr->head : nullptr; it; it = it->next, i++)
        if (i == row) return &it->value;
    return nullptr;
}

void cSoftMgrForm::placeLinks(sInstalledItem* item) {
    for (auto* it = myCommandLinks.head; it; it = it->next) {
        myDetails->dettach(it->value);
        delete it->value;
    }
    myCommandLinks.destroy();
    // One link per command below the texts, as many as fit above the panel's bottom
    // margin; a caption longer than its link is cut.
    int panelH = myDetails->height();
    if (!item->commands.empty() && panelH - 20 >= 115) {
        int y = 115;
        for (auto* c = item->commands.head; c && y + 20 <= panelH - 20; c = c->next, y += 20) {
            cLinkElement* l = new cLinkElement;
            myDetails->attach(l, 85, y, 300, 20);
            l->setTextColor(kLink);
            l->setFont(mkBtnFont(true));
            l->setText(c->value.caption.ptr, cCanvas::taLeft);
            l->setAssociation(&c->value);
            cLinkElement** slot = myCommandLinks.add();
            if (slot) *slot = l;
        }
    }
    // The address links one under the other beside the texts; one without an address
    // takes no row.
    const char* addresses[3] = {item->publisher.ptr, item->support.ptr, item->updates.ptr};
    cLinkElement* links[3] = {myPublisher, mySupport, myUpdates};
    int y = 70;
    for (int i = 0; i < 3; i++) {
        if (!addresses[i] || !*addresses[i]) {
            links[i]->hide(false);
            continue;
        }
        myDetails->anchor(links[i], 390, y, -291, 20);
        links[i]->show(false);
        y += 20;
    }
}

void cSoftMgrForm::selectItem(sInstalledItem* item) {
    if (!item || item == myCurrent) return;
    myCurrent = item;
    myIcon->refPict(&item->bigIcon);
    myName->setText(item->name.ptr ? item->name.ptr : "", cCanvas::taLeft);
    _guardchar<char> t;
    format1(string(eSoftmVersionOf), item->versionText.ptr, t);
    myVersion->setText(t.ptr, cCanvas::taLeft);
    format1(string(eSoftmInstalledOn), item->installedText.ptr, t);
    myInstalled->setText(t.ptr, cCanvas::taLeft);
    placeLinks(item);
    if (item->hasUpdate())
        myUpdate->show(false);
    else
        myUpdate->hide(false);
    myDetails->repaint();
}

void cSoftMgrForm::updateCurrItem() {
    if (myRunning || !myCurrent || !myCurrent->hasUpdate()) return;
    cSoftUpdateInfoForm::sUpdateInfoCtx ctx;
    ctx.name.set(myCurrent->name.ptr);
    strVer(myCurrent->newVersion, ctx.version);
    ctx.download.set(myCurrent->download.ptr);
    ctx.site.set(myCurrent->site.ptr);
    ctx.whatsNew.set(myCurrent->whatsNew.ptr);
    ctx.store = store;
    myRunning = true;
    bool started = cSoftUpdateInfoForm::installUpdate(ctx, this);
    myRunning = false;
    if (started) end_modal(0);
}

void cSoftMgrForm::onUpdateInfo(cUpdateInfoAction* a) {
    sInstalledItem* item = itemAt(a->row);
    if (!item) return;
    item->newVersion = a->version;
    item->answered = true;
    item->download.attach(a->download.dettach());
    item->site.attach(a->site.dettach());
    item->whatsNew.attach(a->whatsNew.dettach());
    if (item->hasUpdate()) myList->setItem((int)a->row, 4, string(eSoftmUpdateAvailable), -1, nullptr);
    if (item == myCurrent) {
        if (item->hasUpdate())
            myUpdate->show();
        else
            myUpdate->hide();
    }
}

bool cSoftMgrForm::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == this && action->type == eActReaderDone) {
        // A late end of an earlier reading is ignored; the job has left its list by now.
        if (static_cast<cReaderDoneAction*>(action)->run != myRun) return true;
        myReader.terminate(4000);
        takeItems();
        myList->endChanges(true);
        myRefresh->enable();
        if (myRefocusRefresh && host() && !host()->focusElement()) myRefresh->focus();
        myRefocusRefresh = false;
        myTab->enable();
        myLangSwitch->enable();
        if (myItems.ptr && myItems.ptr->head) {
            myStatus->hide();
            myListPanel->show();
            myDetails->show();
            myList->select(0);
            selectItem(&myItems.ptr->head->value);
            myRemoveLink->hide();
            if (myChecker.start(this)) myChecking->show();
        } else {
            myStatus->setText(string(eSoftmNoPackages), cCanvas::taLeft);
            myRemoveLink->show();
        }
        repaint();
        if (!myReader.unfinished.empty()) {
            // A journal that stays is said at every reading, over the list as it stands.
            _guardchar<char> m;
            unfinishedMessage(myReader.unfinished.ptr, m);
            appMessageBox(this, nullptr, eBoxError, m.ptr);
        }
        if (!myReader.unreadable.empty()) appMessageBox(this, nullptr, eBoxError, myReader.unreadable.ptr);
        // One set aside is said once: it is no journal any more.
        if (!myReader.setAside.empty()) appMessageBox(this, nullptr, eBoxWarning, myReader.setAside.ptr);
        return true;
    }
    if (sender == this && action->type == eActUpdateInfo) {
        onUpdateInfo(static_cast<cUpdateInfoAction*>(action));
        return true;
    }
    if (sender == this && action->type == eActCheckDone) {
        // The end of an earlier check (before a refresh) leaves the text of a later one.
        if (static_cast<cReaderDoneAction*>(action)->run == myRun) myChecking->hide();
        return true;
    }
    if (sender == myLangSwitch && action->type == cLangSwitchCtl::eActLangChanged) return end_modal(10), true;
    if (sender == myList && action->type == cListViewChild::eActActivate) return updateCurrItem(), true;
    if (sender == myList && action->type == cListViewChild::eActChange) {
        int row = myList->selected();
        if (row >= 0) selectItem((sInstalledItem*)myList->association(row, 1));
        return true;
    }
    if (action->type == eActClick) {
        if (sender == myRemoveLink) {
            if (myRunning) return true;
            // The installed copy's path, not the running program's: where no copy is
            // installed, the removal finds nothing to delete.
            _guardchar<char> path;
            getAppManagerPath(path);
            myRunning = true;
            bool removed = cRemoverUI::runRemoval(path.ptr, this, nullptr, store);
            myRunning = false;
            if (removed) end_modal(0);
            return true;
        }
        // A second click queued before the reading began finds it running: that reading
        // gives the list anew (a restart would stop it, with its recovery of interrupted runs).
        if (sender == myRefresh) {
            if (!myRunning && !reading()) refresh();
            return true;
        }
        if (sender == myUpdate) return updateCurrItem(), true;
        if (sender == myUninstall) {
            if (!myRunning && myCurrent && myCurrent->codeName.ptr && *myCurrent->codeName.ptr) {
                int lang = cLibLang::appliedLang();
                _guardchar<char> code;
                code.set(myCurrent->codeName.ptr);
                myChecker.terminate(4000);
                myChecking->hide();
                myRunning = true;
                uninstall(code.ptr, this, nullptr, store);
                myRunning = false;
                cSOPKGLang::applyLang(lang);
                refresh();
            }
            return true;
        }
        if (myCurrent && (sender == myPublisher || sender == mySupport || sender == myUpdates)) {
            const char* a = sender == myPublisher ? myCurrent->publisher.ptr
                            : sender == mySupport ? myCurrent->support.ptr
                                                  : myCurrent->updates.ptr;
            openWebAddress(a);
            return true;
        }
        for (auto* it = myCommandLinks.head; it; it = it->next) {
            if (sender != it->value) continue;
            sRunOption* o = (sRunOption*)it->value->association();
            if (o) openRunCommand(o->command.ptr);
            return true;
        }
    }
    return cChildElement::onAction(sender, action);
}

bool cSoftMgrForm::processKey(int key, bool shift, bool ctrl, bool alt) {
    // Ctrl+Q ends the manager at any time: the jobs stop with the form.
    if (key == 'Q' && ctrl && !alt && !shift) {
        end_modal(0);
        return true;
    }
    return cChildElement::processKey(key, shift, ctrl, alt);
}

void cSoftMgrForm::onPaint(cCanvas* canvas) {
    sRect all = {0, 0, width(), height()};
    canvas->drawRect(&all, 0xFFFFFF, (unsigned)-1);
}
