// The language question of the installer and the uninstaller: cLangsGrid lists the
// offered languages (flag and native name, one per line) and cLangSelectionForm asks
// for one, switching the whole UI to each language the user picks.
#pragma once

#include "base/buffers.h"
#include "base/lists.h"
#include "ui/controls/simplegrid.h"
#include "ui/customform.h"

class cLinkElement;
class cPanelChild;
class cStaticElement;
class cWindowMaker;
class cWZIButton;

// One column of 30-pixel cells; Left and Right stay on their line.
class cLangsGrid : public cSimpleGridChild {
public:
    // Copies the languages in order and lays the grid out again (the selection is cleared
    // when the count changes).
    void setLangs(const _List<int>& langs);
    // The selected cell's language, 11 when no cell is selected.
    int getSelectedLang() const;
    long long langCount() const { return myLangs.count; }

    void paintElement(cCanvas* canvas, int index, bool selected) override;
    // The client width: a vertical bar narrows the column instead of hiding its right end.
    int cellWidth() override;
    int cellHeight() override { return 30; }
    int numCells() override { return (int)myLangs.count; }
    int cellSpacing() override { return 0; }
    int maxSpacing() override { return 0; }

private:
    _typebuf<int> myLangs;
};

class cLangSelectionForm : public cCustomForm {
public:
    // 11 for an empty list, the one language of a list of one, else the user's choice
    // (11 when cancelled). The list must outlive the call.
    static int chooseLang(const _List<int>& langs, int preselect, const char* code, cChildElement* parent,
                          cWindowMaker* maker = nullptr);
    // The address the link opens for an application code: the code percent-encoded.
    static bool langPageAddress(const char* code, _guardchar<char>& out);

    // The selected language, 11 when none.
    int selectedLang() const;
    cLangsGrid* grid() { return myGrid; }
    cLinkElement* link() { return myLink; }
    cStaticElement* title() { return myTitle; }
    cStaticElement* subtitle() { return mySubtitle; }
    cWZIButton* startButton() { return myStart; }

    void onConstruct() override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool onFormAccept() override;
    bool onFormCancel() override;
    const char* wantLangResource() override { return "pkgm::langs"; }

    const _List<int>* langs = nullptr;  // the caller's, not owned
    int preselect = 11;
    _guardchar<char> code;  // the package's code name; no link when empty

private:
    void applyTexts();
    cPanelChild* myPanel = nullptr;
    cLangsGrid* myGrid = nullptr;
    cLinkElement* myLink = nullptr;
    cWZIButton* myStart = nullptr;
    cStaticElement* myTitle = nullptr;
    cStaticElement* mySubtitle = nullptr;
};
