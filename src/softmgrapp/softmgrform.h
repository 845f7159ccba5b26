// cSoftMgrForm: the Software Manager. The installed packages are read from the store by a
// job and shown first; the update server is asked afterwards by a second job, package by
// package, and each answer marks its row when it arrives. Ctrl+Q, Refresh and closing the
// form stop that check at once.
#pragma once

#include "base/job.h"
#include "base/lists.h"
#include "ciplatform/picture.h"
#include "softmgrapp/appcontrols.h"
#include "softmgrapp/langswitch.h"
#include "softmgrapp/mgrwidgets.h"
#include "ui/controls/link.h"
#include "ui/controls/listview.h"
#include "ui/controls/pictureelement.h"
#include "ui/panelchild.h"
#include "ui/staticelement.h"

class cApplicationConfig;
class cWindowMaker;

class cSoftMgrForm : public cChildElement {
public:
    enum eActions {
        eActReaderDone = 6,
        eActUpdateInfo = 8,   // one package's answer from the update check
        eActCheckDone = 9,
    };

    struct sRunOption {
        _guardchar<char> caption;
        _guardchar<char> command;
    };

    struct sInstalledItem {
        _guardchar<char> codeName;
        cPicture smallIcon;
        cPicture bigIcon;
        _guardchar<char> name;
        _guardchar<char> versionText;
        unsigned long long version = 0;
        unsigned long long newVersion = 0;
        bool answered = false;  // the update server's answer is in newVersion
        _guardchar<char> download;
        _guardchar<char> whatsNew;
        _guardchar<char> site;
        _guardchar<char> installedText;  // date and time
        _guardchar<char> installedDate;  // the date alone
        _guardchar<char> publisher, support, updates;
        _List<sRunOption> commands;
        bool hasUpdate() const { return answered && newVersion > version; }
    };

    // Reads the package list into its own items (the form takes them over at the end).
    class cConfigReaderJob : public cJob {
    public:
        ~cConfigReaderJob() override { terminate(4000); }
        bool start(cSoftMgrForm* form, cApplicationConfig* store, unsigned int run);
        static bool sectionEnumProc(const char* name, void* job);
        bool sectionEnumProc(const char* name);
        cPtr<_List<sInstalledItem> > items;  // made by each run, taken by the form
        // The names of the packages whose interrupted work could not be finished, the
        // message for the journals that could not be read and the one for those set aside.
        _guardchar<char> unfinished, unreadable, setAside;

    protected:
        unsigned int job() override;
        void onJobEnd(unsigned int result) override;

    private:
        cSoftMgrForm* myForm = nullptr;
        cApplicationConfig* myStore = nullptr;
        unsigned int myRun = 0;
    };

    // The reader's (or the update check's) end, naming the reading it belongs to.
    class cReaderDoneAction : public cChildAction {
    public:
        explicit cReaderDoneAction(unsigned int run, int type = eActReaderDone) : cChildAction(type), run(run) {}
        unsigned int run;
    };

    // Asks the update server about each listed package, in list order.
    class cUpdateCheckJob : public cJob {
    public:
        ~cUpdateCheckJob() override { terminate(4000); }
        bool start(cSoftMgrForm* form);

    protected:
        unsigned int job() override;
        void onJobEnd(unsigned int result) override;

    private:
        cSoftMgrForm* myForm = nullptr;
        unsigned int myRun = 0;
        _List<_guardchar<char> > myCodes;
    };

    class cUpdateInfoAction : public cChildAction {
    public:
        cUpdateInfoAction() : cChildAction(eActUpdateInfo) {}
        long long row = 0;
        unsigned long long version = ~0ULL;
        _guardchar<char> download, site, whatsNew;
    };

    // Runs the manager until it ends with anything but 10 (the language was switched).
    static int runManager(cWindowMaker* maker, cApplicationConfig* store = nullptr);

    ~cSoftMgrForm() override;

    void refresh();
    void selectItem(sInstalledItem* item);
    void updateCurrItem();

    void onConstruct() override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool processKey(int key, bool shift, bool ctrl, bool alt) override;
    void onPaint(cCanvas* canvas) override;
    const char* wantLangResource() override { return "pkgm::softm"; }

    // For tests and the snapshot.
    cListViewChild* list() { return myList; }
    cStaticElement* status() { return myStatus; }
    cStaticElement* checkingText() { return myChecking; }
    cLinkElement* publisherLink() { return myPublisher; }
    cLinkElement* removeLink() { return myRemoveLink; }
    cWZIButton* updateButton() { return myUpdate; }
    cWZIButton* uninstallButton() { return myUninstall; }
    cWZIButton* refreshButton() { return myRefresh; }
    cLangSwitchCtl* langSwitch() { return myLangSwitch; }
    cPanelChild* detailsPanel() { return myDetails; }
    sInstalledItem* currentItem() { return myCurrent; }
    long long itemCount() const { return myItems.ptr ? myItems.ptr->count() : 0; }
    long long commandLinkCount() const { return myCommandLinks.count(); }
    bool reading() const { return myReader.runs(); }
    bool checking() const { return myChecker.runs(); }
    // The configuration store; the application's when null.
    cApplicationConfig* store = nullptr;

private:
    sInstalledItem* itemAt(long long row);
    void takeItems();
    void placeLinks(sInstalledItem* item);
    void onUpdateInfo(cUpdateInfoAction* a);

    bool myRefocusRefresh = false;  // Refresh held the focus when it started a reading
    // An uninstallation, update or removal runs (its modal run is on): a click queued before
    // its window opened does not start another inside it.
    bool myRunning = false;
    cConfigReaderJob myReader;
    cUpdateCheckJob myChecker;
    sInstalledItem* myCurrent = nullptr;
    cPtr<_List<sInstalledItem> > myItems;
    cPicturesList myIcons;
    unsigned int myRowCount = 0;
    unsigned int myRun = 0;  // the reading in progress; older ends are ignored

    cWZISelButton* myTab = nullptr;
    cPanelChild* myListPanel = nullptr;
    cListViewChild* myList = nullptr;
    cStaticElement* myStatus = nullptr;
    cStaticElement* myChecking = nullptr;
    cPanelChild* myDetails = nullptr;
    cWZIButton* myUpdate = nullptr;
    cWZIButton* myUninstall = nullptr;
    cPictureElement* myIcon = nullptr;
    cStaticElement* myName = nullptr;
    cStaticElement* myVersion = nullptr;
    cStaticElement* myInstalled = nullptr;
    _List<cLinkElement*> myCommandLinks;
    cLinkElement* myPublisher = nullptr;
    cLinkElement* mySupport = nullptr;
    cLinkElement* myUpdates = nullptr;
    cLinkElement* myRemoveLink = nullptr;
    cWZIButton* myRefresh = nullptr;
    cLangSwitchCtl* myLangSwitch = nullptr;
};

// Opens a recorded on-completion command (splitRunCommand): a path alone through the
// desktop opener when it exists, a program with arguments as that argument vector
// (never through a shell). False when nothing could be started.
bool openRunCommand(const char* command);
