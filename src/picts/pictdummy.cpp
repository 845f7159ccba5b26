// cPictDummy: the plain pixel holder.
#include "picts/pictdummy.h"

bool cPictDummy::create(long long w, long long h, unsigned int value) {
    if (!allocPixels(w, h, false)) return false;
    for (long long i = 0; i < myPixels.count; i++) myPixels.ptr[i] = value;
    return true;
}
