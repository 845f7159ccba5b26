// cChildElement: the base of every UI element: the tree, geometry and anchors, visibility,
// focus and input routing, cross-thread actions, painting hooks, forms' modal runs.
#pragma once

#include "base/buffers.h"
#include "base/geometry.h"
#include "base/lists.h"
#include "base/sync.h"

class cCanvas;
class cFontObject;
class cPlatformWindow;
class cWindowMaker;
class cElementHost;
class cWindowHolder;

class cChildElement {
public:
    // How a scrollable parent's virtual offset moves a child.
    enum eControlPartType {
        eCPTScrolled = 0,    // scrolls with the content
        eCPTFixed = 1,       // stays put on both axes
        eCPTFixedVert = 2    // stays put vertically, scrolls horizontally
    };
    // Who moved the focus.
    enum eEventOrigin { eEOPointer = 0, eEOKeyboard = 1, eEOProgram = 2 };
    enum eMousePointerTypes {
        eMPArrow = 0, eMPBeam = 1, eMPCross = 2, eMPHand = 3, eMPSizeWE = 4, eMPSizeNS = 5,
        eMPSizeWE2 = 6, eMPSizeNS2 = 7, eMPGrab = 8, eMPGrabbing = 9
    };
    // Action types the framework itself queues.
    enum eFrameworkActions { eActClick = 0, eActFocus = 1, eActContext = 2 };

    // A queued action: a type code and the payload of the derived class. The framework
    // owns it once queued: it calls actionDone after handling, then deletes it.
    class cChildAction : public cListItem {
    public:
        explicit cChildAction(int type = 0) : type(type) {}
        ~cChildAction() override {}
        virtual void actionDone() {}
        virtual bool sent() const { return false; }

        int type;

    private:
        friend class cChildElement;
        friend struct sActionQueue;
        cChildElement* myTarget = nullptr;
        long long mySeq = 0;
        bool myOwnOnly = false;   // postAction: the target's own onAction only
        bool myInternal = false;  // a framework request (repaint), never shown to onAction
    };

    // The blocking variant: sendAction waits until the UI thread handled (or dropped) it.
    class cSentChildAction : public cChildAction {
    public:
        explicit cSentChildAction(int type = 0) : cChildAction(type) {}
        ~cSentChildAction() override;
        // Releases the waiting sender (nothing when none waits). Overrides call the base.
        void actionDone() override { release(true); }
        bool sent() const override { return true; }

    private:
        friend class cChildElement;
        friend struct sActionQueue;
        struct sWait* myWait = nullptr;
        void release(bool handled);
    };

    // A context request (menu key): the point in the element's coordinates.
    class cContextAction : public cChildAction {
    public:
        cContextAction(int x, int y) : cChildAction(eActContext), x(x), y(y) {}
        int x, y;
    };

    cChildElement();
    virtual ~cChildElement();
    cChildElement(const cChildElement&) = delete;
    cChildElement& operator=(const cChildElement&) = delete;

    // ---- tree and geometry ----
    // A child already attached is only moved; otherwise it joins at that place, gets
    // onInitData, and onConstruct when this element sits in a window. False for null,
    // for this element itself, or for one of its ancestors.
    virtual bool attach(cChildElement* child, int x, int y, int w, int h,
                        eControlPartType part = eCPTScrolled);
    // Removes a child without deleting it.
    virtual void dettach(cChildElement* child);
    // Moves and resizes within the parent (sizes clamped by the limits); no change, no work.
    virtual void move(int x, int y, int w, int h);
    // Places a child; negative x/y count from the right/bottom edge and negative w/h
    // give parent size + value + 1 (so -1 is flush). Re-applied on every size change.
    bool anchor(cChildElement* child, int x, int y, int w, int h);
    void clearAnchor() { myHasAnchor = false; }
    // Re-applies the children's anchors to the client area (force: even with no change).
    virtual void processSizeChanges(int w, int h, bool force);

    cChildElement* parent() const { return myParent; }
    cChildElement* firstChild() const { return myFirst; }
    cChildElement* nextSibling() const { return myNext; }
    cChildElement* prevSibling() const { return myPrev; }
    cChildElement* root();
    int x() const { return myX; }
    int y() const { return myY; }
    int width() const { return myW; }
    int height() const { return myH; }
    int minWidth() const { return myMinW < 0 ? 0 : myMinW; }
    int minHeight() const { return myMinH < 0 ? 0 : myMinH; }
    int maxWidth() const { return myMaxW; }
    int maxHeight() const { return myMaxH; }
    void setMinSize(int w, int h);
    void setMaxSize(int w, int h);
    eControlPartType partType() const { return myPart; }

    // The element's rectangle in its parent (after the parent's virtual offset).
    void childRect(sRect* r);
    // A descendant's rectangle in this element's coordinates; false when not a descendant.
    bool childRect(cChildElement* descendant, sRect* r);
    // True for a direct or deeper child.
    bool isChild(cChildElement* element) const;
    // Position in the window's client area; position on the screen (false without a window).
    void windowPos(sPoint& at);
    bool absPos(sPoint& at);
    bool inme(int x, int y) const { return x >= 0 && y >= 0 && x < myW && y < myH; }
    // The deepest visible child (or this) at a point of this element; null outside it.
    cChildElement* elementAt(int x, int y, int* lx = nullptr, int* ly = nullptr);

    // Scrollable elements override these; painting, hit tests and anchors honour them.
    virtual bool virtualSize(sSize* size);
    virtual bool virtualOffset(sPoint* offset);
    virtual bool clientRect(sRect* r);

    // ---- visibility, state ----
    void show(bool repaint = true);
    void hide(bool repaint = true);
    bool visible_child() const { return myVisible; }
    bool visible();  // this and every ancestor
    void enable();
    void disable(bool repaint = true);
    bool enabled() const { return myEnabled; }
    bool enabledInTree();  // this and every ancestor
    // Safe from any thread: marks the area (null: all) and wakes the loop.
    void repaint(sRect* area = nullptr);
    virtual void setTransparent(bool on);
    bool transparent() const { return myTransparent; }
    void setDoubleBuffer(bool on) { myDoubleBuffer = on; }
    bool doubleBuffer() { return myDoubleBuffer || wantDoubleBuffer(); }
    void setDefaultBackgroundColor(unsigned int colour) { myDefaultBg = colour & 0xFFFFFF; }
    unsigned int defaultBackgroundColor() const { return myDefaultBg; }
    int borderWidth();

    // ---- text and hint ----
    virtual const char* text();
    // Copies the text into buffer (size bytes, always terminated); returns its full length.
    virtual long long text(char* buffer, long long size);
    virtual void setText(const char* text, long long length = -1, bool repaint = true);
    virtual void wipeText();
    void setHint(const char* text, int placement = 0);
    const char* hint() const { return myHint.ptr; }
    int hintPlacement() const { return myHintPlacement; }
    // Shows the hint through the hint maker (see hintholder.h), replacing a shown one.
    void displayHint();
    void removeHint();
    bool hintShown() const { return myHintElement != nullptr; }

    // ---- fonts and language ----
    cFontObject* createFont(int width, int height, const char* face, bool bold = false, bool underline = false,
                            bool italic = false);
    cFontObject* stdFont();
    cFontObject* stdFontBold();
    cFontObject* stdFontUnderlined();
    // Width and height of one line of UTF-8 text; false (0 x 0) without a font or text.
    bool sizeOf(const char* text, sSize& size, cFontObject* font = nullptr);
    // The string of the nearest language section (wantLangResource of this or an ancestor).
    const char* string(int index);
    // The same for an element not yet attached: the other element's chain decides too.
    const char* string(cChildElement* other, int index);

    // ---- focus and input ----
    virtual void focus();
    bool focused();
    // The focused element when it is this one or a descendant, else null.
    cChildElement* getFocused();
    void setAcceptFocus(bool on) { myAcceptFocus = on ? 1 : 0; }
    bool acceptsFocus() { return myAcceptFocus < 0 ? wantAcceptFoucs() : myAcceptFocus != 0; }
    virtual void setTabStop(bool on) { myTabStop = on ? 1 : 0; }
    bool isTabStop() { return myTabStop < 0 ? wantTabStop() : myTabStop != 0; }
    void setArrowTabStop(bool on) { myArrowTabStop = on; }
    bool isArrowTabStop() const { return myArrowTabStop; }

    // Routing: keys go from the root to the focused element; each level's onKey runs when
    // the deeper ones did not take the key. True when handled.
    virtual bool processKey(int key, bool shift, bool ctrl, bool alt);
    virtual bool processChar(unsigned int codePoint);
    // Pointer presses and releases in this element's coordinates; passed to the child
    // under the pointer, handled here when none (or when this element has the capture).
    virtual void processMouseBtn(int x, int y, int button, bool pressed, bool ctrl, bool shift);
    virtual void processFocus(int origin, int a, int b);
    virtual void processFocusDirect();
    virtual void processFocusLost();
    virtual void processOSFocus();
    virtual void processOSFocusLost();

    virtual void capturePointer(bool outside = false);
    virtual void releasePointer();
    bool hasCapture();
    void setPointer(int kind);
    virtual int defaultPointer() { return eMPArrow; }
    int pointerKind() { return myPointer >= 0 ? myPointer : defaultPointer(); }

    // ---- actions ----
    // From any thread: queued for a later turn of the UI loop; unhandled actions bubble up
    // to the parents (keeping this element as the sender). Null becomes a type-0 action.
    // False when the element no longer exists (the action is then dropped).
    bool notifyAction(cChildAction* action = nullptr);
    // The same, for this element's own onAction only.
    bool postAction(cChildAction* action);
    // From a job: queues and blocks until the UI thread handled it. False when dropped
    // (the element went away). On the UI thread it drains the queue instead of blocking.
    bool sendAction(cSentChildAction* action);
    // The UI thread's drain of everything queued so far; returns how many were delivered.
    static int processActions();
    // Whether the element still exists (under the action lock).
    static bool alive(cChildElement* element);
    static bool isUIThread();

    // ---- windows ----
    cElementHost* host();
    cPlatformWindow* platformWindow();
    cWindowMaker* windowMaker();
    // Runs the form in a window owned by this element's window (by the nearest visible
    // window of its owner chain when that one is hidden, top-level when none is); the form
    // is deleted with the window. -1 when this element has no window (the form is then left
    // alone).
    int modal(const char* caption, int w, int h, cChildElement* form, bool resizable = false);
    // A modal run of a form over the owner's window as modal() places it (top-level for a
    // null owner); flags as the window maker's createWindow takes them.
    static int modalWindow(cWindowMaker* maker, const char* caption, int w, int h, cChildElement* form,
                           cChildElement* owner, unsigned int flags);
    void end_modal(int code);
    // A grabbing borderless popup at screen (x, y) showing the element, run modally; the
    // element is deleted with the window. -1 without a window.
    int modal_popup(int x, int y, int w, int h, cChildElement* element);
    // A borderless popup at screen (x, y) showing the content (which stays the caller's);
    // modal: it grabs the pointer. Null without a window.
    cWindowHolder* popup(int x, int y, int w, int h, cChildElement* content, bool modal);
    bool desktopSize(sSize& size);
    bool clipboardCopyText(const char* text, long long bytes = -1);
    bool clipboardRequestText(_guardchar<char>& out);

    // ---- hooks ----
    virtual void onPaint(cCanvas* canvas) {}
    // The part of this element (own coordinates) that children placed with a scrolling
    // part type may paint into; false: all of it. A scrollable element keeps its content
    // off its bars this way; fixed children (the bars themselves) are never clipped.
    virtual bool childPaintArea(sRect* r) { return false; }
    virtual bool onBackgroundRequest(cCanvas* canvas, sRect* rect);
    virtual void onSizeChanged();
    virtual void onEnableChanged() {}
    virtual bool onAction(cChildElement* sender, cChildAction* action) { return false; }
    virtual bool onKey(int key, bool shift, bool ctrl, bool alt) { return false; }
    virtual bool onChar(unsigned int codePoint) { return false; }
    virtual void onMouseButton(int x, int y, int button, bool down) {}
    virtual void onMouseDoubleClick(int x, int y, int button) {}
    virtual void onMouseMoving(int x, int y);
    virtual void onMouseOver();
    virtual void onMouseLeft();
    // towardsStart: up or left; notches >= 1. True when consumed (else the parent tries).
    virtual bool onMouseWheel(int x, int y, bool towardsStart, bool horizontal, int notches) { return false; }
    virtual void onSetFocus() {}
    // origin: eEventOrigin. From the pointer (a, b) is the press point; from Tab a is 1 for
    // Shift+Tab (the focus came backwards), else 0.
    virtual void onSetFocusEvent(int origin, int a, int b) {}
    virtual void onLooseFocus() {}
    virtual void onConstruct() {}
    virtual void onInitData() {}
    // The window's close request reached this root; false refuses it.
    virtual bool onClose() { return true; }

    virtual bool wantDoubleBuffer() { return false; }
    virtual bool wantTabStop() { return false; }
    virtual bool wantAcceptFoucs() { return true; }
    virtual bool wantFullRepaint() { return false; }
    // Width of the focus ring (theme colour 23) the framework draws round the element's
    // edge while it holds the focus, so Tab shows where the focus went: buttons and links
    // ask for one; 0 (the default) for elements with a focus look of their own.
    virtual int wantFocusRing() { return 0; }
    virtual bool wantCaptureArrows() { return false; }
    virtual bool wantCyclicArrowTabStop() { return false; }
    virtual int wantBorderWidth() { return 0; }
    virtual const char* wantLangResource() { return nullptr; }

    bool constructed() const { return myConstructed; }

    // A colour setting as drawn: 0xFF000000 (the theme's default) becomes theme colour
    // `themeIndex`; anything else (-1 for none included) is returned as it is.
    static unsigned int resolveColour(unsigned int colour, int themeIndex);
    // The theme colours elements fall back on.
    static const int kThemeBackground = 14;
    static const int kThemeText = 4;

protected:
    // The text lock (setText and painting take it, so jobs may set texts).
    cCriticalSection myTextLock;

private:
    friend class cElementHost;
    friend class cWindowHolder;
    friend struct sActionQueue;

    void unlink(cChildElement* child);
    void applyAnchor();
    void constructTree();
    void effectivePos(int& x, int& y);
    void forgetInHost();
    void invalidateInParent();
    void paintInto(cCanvas* target, int ex, int ey, const sRect& clip);
    void paintContent(cCanvas* canvas, const sRect& local);
    void paintFocusRing(cCanvas* canvas, int ring);
    bool requestBackground(cCanvas* canvas);
    void gainFocus(int origin, int a, int b);
    bool moveTab(bool backwards);
    bool moveArrow(bool backwards);
    static bool queueAction(cChildElement* target, cChildAction* action, bool ownOnly);
    static void registerLive(cChildElement* element);
    static void unregisterLive(cChildElement* element);
    void invalidateArea(const sRect* area);
    static void deliver(cChildAction* action);

    cChildElement* myParent = nullptr;
    cChildElement* myFirst = nullptr;
    cChildElement* myLast = nullptr;
    cChildElement* myNext = nullptr;
    cChildElement* myPrev = nullptr;
    cElementHost* myHost = nullptr;  // on a window's root only

    int myX = 0, myY = 0, myW = 0, myH = 0;
    int myMinW = 0, myMinH = 0, myMaxW = 0x7FFFFFFF, myMaxH = 0x7FFFFFFF;
    eControlPartType myPart = eCPTScrolled;
    bool myHasAnchor = false;
    int myAnchorX = 0, myAnchorY = 0, myAnchorW = 0, myAnchorH = 0;
    int myAnchoredW = -1, myAnchoredH = -1;

    bool myVisible = true;
    bool myEnabled = true;
    bool myTransparent = false;
    bool myDoubleBuffer = false;
    bool myConstructed = false;
    bool myInitDone = false;
    bool myDying = false;
    bool myArrowTabStop = false;
    signed char myTabStop = -1;
    signed char myAcceptFocus = -1;
    int myBorderWidth = -1;
    int myPointer = -1;
    unsigned int myDefaultBg = 0xFFFFFFFFu;

    _guardchar<char> myText;
    _guardchar<char> myHint;
    int myHintPlacement = 0;
    cChildElement* myHintElement = nullptr;
};
