// The seam through which elements show their hint texts: the hint control installs a
// maker that opens a hint next to its owner; the owner keeps (and deletes) what it returns.
#pragma once

class cChildElement;

// Opens a hint for the owner (its hint() text at its hintPlacement()); null when none
// could be shown. The returned element belongs to the owner.
typedef cChildElement* (*tHintMaker)(cChildElement* owner);

// Installs the maker (null: hints are not shown).
void setHintMaker(tHintMaker maker);
tHintMaker hintMaker();
