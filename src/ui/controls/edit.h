// cEditChild: the one-line text field: UTF-16 text of a fixed maximum length, a caret, a
// keyboard and mouse selection, the clipboard, horizontal scrolling, read-only and
// password modes, number display and a banner. Reports Enter (6), Esc without a
// selection (7) and the loss of the focus (8) as actions. Positions count UTF-16 units;
// no operation leaves the caret, a selection edge or a cut inside a surrogate pair.
#pragma once

#include "base/buffers.h"
#include "ui/childelement.h"

class cFontObject;

class cEditChild : public cChildElement {
public:
    enum eColorTypes { ctNormal = 0, ctFocused = 1, ctHover = 2, ctDisabled = 3, ctAlternate = 4 };
    enum eEditActions { eActEnter = 6, eActEscape = 7, eActFocusLost = 8 };
    static const long long kDefaultMaxLen = 256;

    cEditChild();
    ~cEditChild() override;

    // The text as UTF-8 (valid until the next call).
    const char* text() override;
    // Null buffer: returns size unchanged; else writes UTF-8 (at most size bytes) and
    // returns the bytes written.
    long long text(char* buffer, long long size) override;
    // Replaces the text (cut to maxLen units, never inside a pair); caret 0, no selection.
    virtual void setText(const char* text, long long length = -1);
    void setText(const char* text, long long length, bool repaint) override { setText(text, length); }
    void wipeText() override;
    virtual void setBanner(const char* text);

    // Reallocates for n units; the text becomes empty. False for a negative n or when
    // memory runs out (the field is then left as it was).
    bool setMaxLen(long long n);
    long long maxLen() const { return myText.count > 0 ? myText.count - 1 : 0; }
    long long length() const;

    // Shows a number: hexadecimal with "0x" or unsigned decimal; a separator groups the
    // digits in threes from the right.
    void setU64(unsigned long long value, bool hex, char separator);
    // The text read as a number; all bits set when there is nothing to read.
    unsigned long long asU64();

    bool readonly() const { return myReadOnly; }
    void setReadonly(bool on) { myReadOnly = on; }
    void setPwdMode(bool on) { myPassword = on; }
    bool pwdMode() const { return myPassword; }
    void setSelectOnFocus(bool on) { mySelectOnFocus = on; }
    void setCursorForRO(bool on);
    void setBorder(bool on);

    void resetColors(unsigned int background, unsigned int text, unsigned int border);
    void setColors(eColorTypes state, unsigned int background, unsigned int text);
    void setBorderColor(eColorTypes state, unsigned int colour);
    unsigned int bgColor(eColorTypes state) const { return state >= 0 && state <= 4 ? myColours[state][0] : 0; }
    unsigned int fgColor(eColorTypes state) const { return state >= 0 && state <= 4 ? myColours[state][1] : 0; }
    unsigned int borderColor(eColorTypes state) const { return state >= 0 && state <= 4 ? myColours[state][2] : 0; }
    unsigned int selectionColor() const { return mySelColour; }
    void setSelectionColor(unsigned int c) { mySelColour = c; }
    unsigned int selectionInactiveColor() const { return mySelInactiveColour; }
    void setSelectionInactiveColor(unsigned int c) { mySelInactiveColour = c; }
    void setStdFont(cFontObject* font) { myFont = font; }
    void setStdFont(int width, int height, const char* face, bool bold, bool underline, bool italic);
    void setBanFont(int width, int height, const char* face, bool bold, bool underline, bool italic);

    void cancelSelection();
    bool deleteSelection();
    void cb_copy();
    void cb_paste();
    void cb_cut();
    // The unit boundary nearest to an x coordinate of the element.
    long long symbolPos(int x);
    // Selection update for a caret move from one position to another.
    void processSelectKbd(long long from, long long to);

    long long caret() const { return myCaret; }
    // Puts the caret at a position (clamped to the text; a selection goes). The next paint
    // scrolls the text so that the caret shows: at the end, the text's end is in view.
    void setCaret(long long pos);
    long long selStart() const { return mySelStart; }
    long long selEnd() const { return mySelEnd; }
    bool hasSelection() const { return mySelStart >= 0 && mySelEnd >= mySelStart; }
    int scroll() const { return (int)myScroll; }
    const unsigned short* units() const { return myText.ptr; }

    void onConstruct() override;
    void onPaint(cCanvas* canvas) override;
    void onMouseButton(int x, int y, int button, bool down) override;
    void onMouseMoving(int x, int y) override;
    void onMouseOver() override;
    void onMouseLeft() override;
    void onMouseDoubleClick(int x, int y, int button) override;
    bool onChar(unsigned int codePoint) override;
    bool onKey(int key, bool shift, bool ctrl, bool alt) override;
    void onSetFocusEvent(int origin, int a, int b) override;
    void onLooseFocus() override;
    bool wantDoubleBuffer() override { return true; }
    bool wantTabStop() override { return true; }
    bool wantFullRepaint() override { return true; }
    bool wantCaptureArrows() override { return true; }
    void onInitData() override;

private:
    void noSelection() { mySelStart = mySelEnd = -1; }
    void removeUnits(long long at, long long n);
    // Moves one character back or forward from p, stepping over a whole pair.
    long long prevPos(long long p) const;
    long long nextPos(long long p) const;
    // p moved back onto a character boundary when it falls inside a pair.
    long long boundary(long long p) const;
    long long wordLeft(long long p) const;
    long long wordRight(long long p) const;
    void moveCaret(long long to, bool shift);

    _typebuf<unsigned short> myText;
    _typebuf<unsigned short> myMask;
    _guardchar<char> myBanner;
    _guardchar<char> myCache;
    cFontObject* myFont = nullptr;
    cFontObject* myBanFont = nullptr;
    _typebuf<int> myRuler;
    unsigned int myColours[5][3];
    bool myBorder = true;
    unsigned int mySelColour = 0;
    unsigned int mySelInactiveColour = 0;
    long long myCaret = 0;
    long long myScroll = 0;
    long long mySelStart = -1, mySelEnd = -1;
    bool myMouseSelecting = false;
    bool myHover = false;
    bool myReadOnly = false;
    bool myPassword = false;
    bool mySelectOnFocus = true;
    bool myCaretForRO = true;
};
