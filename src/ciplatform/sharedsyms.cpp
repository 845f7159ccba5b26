// The loader of the system libraries' function tables.
#include "ciplatform/sharedsyms.h"

#include <dlfcn.h>

namespace {
const int kMaxLibs = 4;
}  // namespace

bool loadSharedSymbols(const char* const* libs, int libCount, const char* const* names, void** slots, int count) {
    if (libCount < 1 || libCount > kMaxLibs) return false;
    void* handles[kMaxLibs] = {};
    bool ok = true;
    for (int i = 0; i < libCount && ok; i++) {
        handles[i] = dlopen(libs[i], RTLD_NOW | RTLD_LOCAL);
        ok = handles[i] != nullptr;
    }
    for (int n = 0; n < count && ok; n++) {
        slots[n] = nullptr;
        for (int i = 0; i < libCount && !slots[n]; i++) slots[n] = dlsym(handles[i], names[n]);
        ok = slots[n] != nullptr;
    }
    if (ok) return true;
    for (int n = 0; n < count; n++) slots[n] = nullptr;
    for (int i = 0; i < libCount; i++)
        if (handles[i]) dlclose(handles[i]);
    return false;
}
