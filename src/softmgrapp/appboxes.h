// The application's message boxes: over a window, on a carrier form of their own, or on
// the console when there is no display. Defined beside the carrier forms (jobforms.cpp).
#pragma once

class cChildElement;
class cWindowMaker;

// Message boxes over an element (or top-level through the maker), `kind` an eBoxKind. 1 for
// OK or yes, 0 for no.
int appMessageBox(cChildElement* over, cWindowMaker* maker, int kind, const char* text);

// Set when there is no display: messages go to standard error, questions are answered
// "no" and the language question keeps its preselected answer.
extern bool gConsoleMessages;

// The window maker forms run on: the application's.
cWindowMaker* appWindowMaker();
