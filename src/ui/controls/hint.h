// cHintMaster: the tooltip: one or more lines of text in a borderless hint window next
// to its owner, shown at once and kept until the owner deletes it.
#pragma once

#include "base/buffers.h"
#include "ui/childelement.h"
#include "ui/hintholder.h"

class cWindowHolder;

class cHintMaster : public cChildElement {
public:
    cHintMaster() {}
    ~cHintMaster() override;

    // The maker that opens a hint master for an element's displayHint; install() makes it
    // the one every element uses.
    static tHintMaker maker();
    static void install();

    // Opens the hint for the owner: at pos (screen) when given, else below the owner
    // (placement 1: above). Colours 0xFF000000 are the theme's hint colours. False for a
    // missing owner, text or font, a text that measures nothing, or no window.
    bool show(cChildElement* owner, const char* text, sPoint* pos, unsigned int background,
              unsigned int foreground, int placement);
    // The text up to the first line feed into out; the rest after it, or null.
    static const char* line(const char* text, _guardchar<char>& out);
    // Deletes the held window and keeps the given one.
    void set(cWindowHolder* window);
    // Closes the popup.
    bool hide();
    cWindowHolder* window() const { return myWindow; }
    unsigned int background() const { return myBg; }
    unsigned int foreground() const { return myFg; }

    void onPaint(cCanvas* canvas) override;
    bool wantAcceptFoucs() override { return false; }

private:
    cWindowHolder* myWindow = nullptr;
    unsigned int myBg = 0;
    unsigned int myFg = 0;
    unsigned int myLineHeight = 0;
};
