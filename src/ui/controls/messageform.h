// cMessageForm: the standard modal message box: an icon, a bold first line, further
// plain lines and a row of Ok or Yes/No buttons. The static entry points build the box,
// size it from the text, run it over the parent's window and return the answer.
#pragma once

#include "base/buffers.h"
#include "base/lists.h"
#include "ui/controls/toolbar.h"
#include "ui/customform.h"
#include "ui/staticelement.h"

class cMessageForm : public cCustomForm {
public:
    enum eButtonSet { bsOk = 0, bsYesNo = 1 };

    // One line of the message and the label that shows it.
    class cStrTokenItem : public cListItem {
    public:
        ~cStrTokenItem() override;
        _guardchar<char> text;
        cStaticElement label;
    };

    // 1 for Ok (or Enter), 0 otherwise - also when the parent has no window to run on.
    static int infobox(cChildElement* parent, const char* text, const char* caption = nullptr);
    static int warningbox(cChildElement* parent, const char* text, const char* caption = nullptr);
    static int errorbox(cChildElement* parent, const char* text, const char* caption = nullptr);
    // True for Yes (or Enter); false for No, Escape, a closed window or no window at all.
    static bool confirmbox(cChildElement* parent, const char* text, const char* caption = nullptr);
    static bool warnconfirmbox(cChildElement* parent, const char* text, const char* caption = nullptr);
    static int doDialog(cChildElement* parent, const char* text, const char* caption, int titleIndex, int iconIndex,
                        eButtonSet buttons);

    // The window size doDialog computes for a text (for callers that lay out beside it).
    static void boxSize(cChildElement* parent, const char* text, eButtonSet buttons, sSize& size);

    cToolBarChild* buttonRow() { return &myButtons; }
    long long lineCount() const { return myLines.count(); }
    // Line i as shown (a line too wide for the screen is shown as several), null past the end.
    cStrTokenItem* line(long long i);
    // 0 information, 1 question, 2 warning, 3 error.
    int iconIndex() const { return myIconIndex; }

    void onConstruct() override;
    void onInitData() override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool onFormAccept() override;
    bool onFormCancel() override;
    const char* wantLangResource() override { return "ciom::messages"; }

private:
    cMessageForm() {}
    // Splits the text into lines (a final newline starts none) and breaks those too wide
    // for the desktop; W and H as measured.
    void split(cChildElement* measurer, const char* text, int& widest, int& tallest);
    void addLine(cChildElement* measurer, const char* text, long long n, cFontObject* font, int indent, int& widest,
                 int& tallest);
    // The same, broken into pieces of about equal width, none wider than `wrap`, when the
    // line (with its indent) is wider than `room`.
    void addBroken(cChildElement* measurer, const char* text, long long n, cFontObject* font, int indent, int room,
                   int wrap, int& widest, int& tallest);

    cStaticElement myIcon;
    cToolBarChild myButtons;
    int myIconIndex = 0;
    cList myLines;
    const char* myCaption = nullptr;
    eButtonSet myButtonSet = bsOk;
    int myLineHeight = 0;
    int myHeadingLines = 0;  // the first line's pieces, shown bold beside the icon
};
