// The wizard's last page: the installation's result and, after a success, one check box
// per program the package offers to start when the user presses Close.
#pragma once

#include "base/buffers.h"
#include "base/lists.h"
#include "instengine/installctx.h"
#include "ui/controls/checkbox.h"
#include "ui/panelchild.h"
#include "ui/staticelement.h"

// A wrapped text in the colour held as the element's default background colour, on white.
class cErrorDispl : public cChildElement {
public:
    void onPaint(cCanvas* canvas) override;
    bool wantDoubleBuffer() override { return true; }
};

class cFinishPanel : public cPanelChild {
public:
    // One offered program: its box, the command line it shows as, and what is started.
    struct sActions {
        cCheckBoxChild* box = nullptr;
        _guardchar<char> commandLine;  // the path, or "\"path\" arguments"
        _guardchar<char> program;
        _guardchar<char> args;
    };

    ~cFinishPanel() override;
    // Fills the page for the context's result; null clears it.
    void init(sPkgInstallContext* ctx);
    // Starts every checked program, in list order, without waiting for any of them: an
    // executable file runs with the package's arguments as separate words, anything else
    // is handed to the desktop's opener. Failures are skipped silently.
    void finalize();

    const char* titleText() { return myTitle ? myTitle->text() : nullptr; }
    const char* messageText() { return myMessage ? myMessage->text() : nullptr; }
    cChildElement* titleElement() { return myTitle; }
    cChildElement* messageElement() { return myMessage; }
    unsigned int messageColour() const { return myMessage ? myMessage->defaultBackgroundColor() : 0; }
    _List<sActions>& actions() { return myActions; }

    // How programs are started (a detached child by default); tests replace it.
    typedef bool (*tStarter)(const char* const* argv);
    static tStarter gStarter;

    void onInitData() override;
    const char* wantLangResource() override { return "pkgm::fin"; }

private:
    void clearActions();
    cStaticElement* myTitle = nullptr;
    cErrorDispl* myMessage = nullptr;
    _List<sActions> myActions;
};
