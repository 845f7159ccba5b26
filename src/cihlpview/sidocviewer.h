// cSiDocViewer: shows one box tree of a loaded rich document, laid out to its width,
// scrolled vertically, with the pointing hand over links and clicked links opened on
// the desktop. Only a band of rows around the view is ever rendered, so memory follows
// the element's size, never the document's height.
#pragma once

#include "base/fastertreelist.h"
#include "base/lists.h"
#include "cihlpdoc/sidocbox.h"
#include "ui/controls/scrollable.h"

// Opens a link target on the desktop: only an http, https or mailto address, or a path
// that exists, and only through `xdg-open` with the target as its one argument (never a
// shell). False for anything else or when the opener cannot be started.
bool siDocOpenLink(const char* target);

class cSiDocViewer : public cScrollableElement, public cSiDocActiveTarget {
public:
    cSiDocViewer() {}
    ~cSiDocViewer() override;

    // Shows a document (borrowed: replace it before its loader goes away) on the given
    // 0x00BBGGRR background. False when the document is the one shown already (the new
    // colour then shows outside the rendering until the next rebuild).
    bool refSiDoc(cSiDocBox* doc, unsigned int background);
    // Drops the rendering; the next paint lays the document out again.
    void rebuild();
    cSiDocBox* document() const { return myDoc; }
    unsigned int bgColor() const { return myBg; }

    void onSizeChanged() override;
    void onMouseButton(int x, int y, int button, bool down) override;
    void onMouseMoving(int x, int y) override;
    bool onKey(int key, bool shift, bool ctrl, bool alt) override;
    // No Tab stop and no ring: a click gives the document the keys, and the arrows then
    // scroll it instead of moving the focus.
    bool wantCaptureArrows() override { return true; }
    void onPaintArea(cCanvas* canvas) override;

    // Runs for a clicked link; opens it on the desktop (siDocOpenLink).
    virtual bool onActiveZone(char* target);
    void resetActive() override;
    bool setActive(char* target, int x, int y, int w, int h) override;

    // The link target at an element point, null when none.
    char* getRef(int x, int y);
    // Height of the laid-out document (-1 before the first layout) and the rows now rendered.
    int documentHeight() const { return myDocHeight; }
    int renderedTop() const { return myBandTop; }
    int renderedHeight() const;

private:
    int layoutWidth();
    // Renders the rows around `top` at layout width W (measuring the document first when
    // its height is not known yet).
    bool renderBand(cCanvas* canvas, int top, int W);
    void dropRendering();

    cCanvas* myRendering = nullptr;  // rows myBandTop.. of the document, layoutWidth() wide
    cSiDocBox* myDoc = nullptr;
    unsigned int myBg = 0xFFFFFF;
    char* myPressed = nullptr;
    // Per link target: where it was drawn in the rendered band, in document coordinates.
    cFasterTreeList<char*, _List<sArea> > myZones{1024};
    int myBandTop = 0;
    int myDocHeight = -1;
    int myRenderWidth = 0;
    int myWidthFlips = 0;  // re-layouts caused by the bar showing or hiding
};
