// cPictDummy: a plain pixel-holder picture (previews, thumbnails, render targets).
#pragma once

#include "picts/pictbase.h"

class cPictDummy : public cPictBase {
public:
    cPictDummy() {}
    // Makes a plain 32-bit w x h picture filled with value; false (left empty) when the
    // size is refused.
    bool create(long long w, long long h, unsigned int value);
};
