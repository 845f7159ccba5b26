// The application's fonts and its two flat buttons: cWZIButton (the wizard's and the
// manager's push button) and cWZISelButton (a section selector with a coloured bar).
// Both stand on a small private button base until the shared button controls arrive.
#pragma once

#include "ui/childelement.h"

class cFontObject;

cFontObject* mkTitleFont();
cFontObject* mkWizTitleFont();
cFontObject* mkStdFont();
cFontObject* mkBtnFont(bool underline);
cFontObject* mkBtnPassFont();
cFontObject* mkSelectHdrFont();

// The width and height of a text on one line in a font (the standard font when null).
sSize textExtent(const char* text, cFontObject* font);
// The height a text takes wrapped into a width, lines placed as drawTextWrapped places
// them (lineFactor 0: the canvas's default spacing); 0 without text.
int wrappedHeight(const char* text, cFontObject* font, int width, double lineFactor = 0);
// The height a box needs to show a wrapped text whole: its last line's top plus the font's
// line (drawTextWrapped leaves out a line that would pass the box's bottom); 0 without text.
int wrappedFitHeight(const char* text, cFontObject* font, int width, double lineFactor = 0);
// A pattern's one "%s" filled with a path, the path shortened in its middle ("/home/a/.../
// lib/x.so", the end kept longer) until the line fits `room` pixels in the font: the
// words around the path always stay whole.
void fitPathLine(const char* pattern, const char* path, cFontObject* font, int room, _guardchar<char>& out);

// Hover, pressed and activated states, a tab stop, and a click action (type 0) queued
// to the owner when the pointer is released over the button or Return/space is pressed.
class cAppButtonBase : public cChildElement {
public:
    bool hovered() const { return myHover; }
    bool pressed() const { return myPressed; }
    bool activated() const { return myActivated; }
    void setActivated(bool on);

    void onMouseButton(int x, int y, int button, bool down) override;
    void onMouseOver() override;
    void onMouseLeft() override;
    bool onKey(int key, bool shift, bool ctrl, bool alt) override;
    bool wantTabStop() override { return true; }
    int wantFocusRing() override { return 2; }

private:
    bool myHover = false, myPressed = false, myActivated = false;
};

class cWZIButton : public cAppButtonBase {
public:
    // Colours 0x00BBGGRR; no repaint.
    void setColorSchema(unsigned int text, unsigned int background, unsigned int border, unsigned int highlight);
    void onPaint(cCanvas* canvas) override;
    void onInitData() override;

    // Mixes two colours channel by channel: (a * p) / 255 + (b * q) / 255.
    static unsigned int mix(unsigned int a, int p, unsigned int b, int q);

    unsigned int textColour = 0x655654, backColour = 0xE7E7E7, borderColour = 0xA79997, highColour = 0xFFFFFF;
};

class cWZISelButton : public cAppButtonBase {
public:
    // The width a text needs in a font: measured, plus 38 (19 on either side); 0 for a
    // null argument.
    static int requiredWidth(cChildElement* measurer, const char* text, cFontObject* font);
    int requiredWidth();
    void onPaint(cCanvas* canvas) override;
    void onMouseMoving(int x, int y) override;
    void onInitData() override;

    cFontObject* font = nullptr;
};
