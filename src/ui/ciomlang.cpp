// The toolkit's own language provider: the "ciom::*" sections built from src/ui/lang.
#include "base/sync.h"
#include "ui/lang.h"

// Generated at build time by tools/langgen.py (see cmake/langtables.cmake).
extern const sLangTableEntry gCiomToolkitLangs[];
extern const int gCiomToolkitLangs_count;

namespace {
cCiomToolkitLang* gToolkitLang = nullptr;
}

void cCiomToolkitLang::init() {
    static cCriticalSection lock;
    cSafeCriticalSectionAccess hold(&lock);
    if (gToolkitLang) return;
    // Lives for the process, like the other providers.
    gToolkitLang = new cCiomToolkitLang;
    applyLang(appliedLang());
}

const sLangTableEntry* cCiomToolkitLang::table(int& count) {
    count = gCiomToolkitLangs_count;
    return gCiomToolkitLangs;
}

bool cCiomToolkitLang::defines(int id) { return cLibLang::defines(id, gCiomToolkitLangs, gCiomToolkitLangs_count); }

unsigned int cCiomToolkitLang::sizeOf(int id) {
    return cLibLang::sizeOf(id, gCiomToolkitLangs, gCiomToolkitLangs_count);
}

const unsigned char* cCiomToolkitLang::langData(int id) {
    return cLibLang::langData(id, gCiomToolkitLangs, gCiomToolkitLangs_count);
}

int cCiomToolkitLang::defaltLang() { return eLangENG; }
