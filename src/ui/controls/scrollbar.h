// cHScroll and cVScroll: the scroll bars, drawn from theme pictures; a 64-bit position
// between 0 and a 64-bit maximum, reported to the parent as a queued position action.
#pragma once

#include "ui/childelement.h"

class cPicture;
class cPicturesList;

// The shared machinery of both bars; `myVertical` exchanges the axes.
class cScrollBarCore : public cChildElement {
public:
    // Pieces of the bar, indexing the picture lists.
    enum eSubElements {
        seEndCap = 0, seTrack, seThumbStart, seThumbEnd, seThumbMiddle, seArrowStart, seArrowEnd,
        seJointStart, seJointEnd, seSeparator, seSmallStart, seSmallEnd, seCount
    };
    // Zones under a coordinate along the bar.
    enum eZones { zNone = 0, zPageBack, zPageForward, zThumb, zArrowStart, zArrowEnd };

    // The position action: type 6 with the new position. Queued on the bar.
    class cScrollAction : public cChildAction {
    public:
        explicit cScrollAction(unsigned long long pos) : cChildAction(6), pos(pos) {}
        unsigned long long pos;
    };

    unsigned long long maxval() const { return myMax; }
    unsigned long long pos() const { return myPos; }
    unsigned int visQuantum() const { return myVisQuantum; }
    unsigned int valQuantum() const { return myValQuantum; }
    unsigned int pageQuantum() const { return myPageQuantum; }

    // 0 and the current value are ignored.
    void setVisQuantum(unsigned int q);
    void setValQuantum(unsigned int q);
    void setPageQuantum(unsigned int q);
    // Step by the value or page quantum, clamped; post an action on a change, no repaint.
    void valUp();
    void valDown();
    void pageUp();
    void pageDown();
    // The zone under a coordinate along the bar.
    int hit(int coordinate);
    // The piece's picture in the list its part's state selects; null outside 0..11.
    cPicture* image(int piece);

    void onPaint(cCanvas* canvas) override;
    void onMouseButton(int x, int y, int button, bool down) override;
    void onMouseMoving(int x, int y) override;
    void onMouseLeft() override;
    bool onKey(int key, bool shift, bool ctrl, bool alt) override;
    void onInitData() override;
    bool wantDoubleBuffer() override { return true; }
    bool wantTabStop() override { return false; }
    bool wantFullRepaint() override { return true; }
    bool wantCaptureArrows() override { return true; }

    // Part states (track, thumb, start arrow, end arrow): 0 normal, 1 hover, 2 pressed.
    unsigned int partState(int part) const { return part >= 0 && part < 4 ? myStates[part] : 0; }

protected:
    explicit cScrollBarCore(bool vertical) : myVertical(vertical) {}
    // Stores the maximum (clamping the position, with an action when it moves).
    void storeMax(unsigned long long m);
    // Clamps, stores and repaints; posts the action when `notify`.
    void storePos(unsigned long long p, bool notify);
    // The three class-wide lists (default, hover, pressed) and the theme numbers.
    virtual cPicturesList* lists() = 0;
    virtual const int* themeNumbers() = 0;  // 12 x 3: default, hover, pressed

private:
    // Lengths of the full layout; false when the bar is short (two halves only).
    struct sLayout {
        int endCap, track, trackStart, thumbStart, thumbLength;
        int arrowStart, jointStart, separator, jointEnd, arrowEnd;  // start coordinates
        int arrowStartLen, separatorLen, arrowEndLen;
    };
    bool layout(sLayout& l);
    int along() { return myVertical ? height() : width(); }
    int thickness();
    int pieceLength(int piece);
    void drawPiece(cCanvas* canvas, int piece, int at, int length);
    void setStates(unsigned int track, unsigned int thumb, unsigned int start, unsigned int end);
    void post(unsigned long long p);
    void moveTo(unsigned long long p);

    bool myVertical;
    unsigned long long myPos = 0;
    unsigned long long myMax = 100;
    unsigned int myVisQuantum = 1;
    unsigned int myValQuantum = 1;
    unsigned int myPageQuantum = 10;
    int myDragOrigin = 0;
    unsigned long long myDragStartPos = 0;
    bool myDragging = false;
    bool myStartArmed = false;
    bool myEndArmed = false;
    bool myPageBackArmed = false;
    bool myPageForwardArmed = false;
    bool myButtonDown = false;
    unsigned int myStates[4] = {0, 0, 0, 0};
};

class cHScroll : public cScrollBarCore {
public:
    typedef cScrollAction cHScrollAction;
    cHScroll() : cScrollBarCore(false) {}
    // A maximum of 0 is ignored on this bar.
    void setMax(unsigned long long m);
    // Always posts the position action on a change.
    void setPos(unsigned long long p) { storePos(p, true); }
    void onInitData() override;

protected:
    cPicturesList* lists() override;
    const int* themeNumbers() override;
};

class cVScroll : public cScrollBarCore {
public:
    typedef cScrollAction cVScrollAction;
    cVScroll() : cScrollBarCore(true) {}
    void setMax(unsigned long long m) { storeMax(m); }
    // Posts the position action only when notify is set.
    void setPos(unsigned long long p, bool notify) { storePos(p, notify); }
    void onConstruct() override {}
    void onInitData() override;

protected:
    cPicturesList* lists() override;
    const int* themeNumbers() override;
};
