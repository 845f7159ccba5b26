// The application's language-table provider over the tables built from lang/*.txt.
#include "softmgrapp/sopkglang.h"

#include "base/sync.h"
#include "instengine/installctx.h"
#include "softmgrapp/appmessages.h"

// Generated at build time by tools/langgen.py (see cmake/applangtables.cmake).
extern const sLangTableEntry gSOPKGLangTable[];
extern const int gSOPKGLangTable_count;

int _def_block_align = 3;

const sLangTableEntry* const cSOPKGLang::gLangs = gSOPKGLangTable;

namespace {
cSOPKGLang* gProvider = nullptr;
cCriticalSection gInitLock;

// The installation engine's questions about languages, answered from these tables.
class cEngineLangs : public cInstallLangs {
public:
    bool defines(int lang) override { return cSOPKGLang::_defines(lang); }
    int defaultLang() override { return cSOPKGLang::_defaultLang(); }
    const char* managerEntryName() override { return cCiomLangData::string("pkgm::instp", eInstpManagerEntry); }
};
}  // namespace

void cSOPKGLang::init() {
    cSafeCriticalSectionAccess hold(&gInitLock);
    if (gProvider) return;
    // Lives for the process, like the toolkit's own provider.
    gProvider = new cSOPKGLang;
}

cInstallLangs* cSOPKGLang::engineLangs() {
    static cEngineLangs answers;
    return &answers;
}

bool cSOPKGLang::_defines(int id) {
    cSOPKGLang* p;
    {
        cSafeCriticalSectionAccess hold(&gInitLock);
        p = gProvider;
    }
    return p && p->defines(id);
}

int cSOPKGLang::_defaultLang() { return gLangs[0].id; }

bool cSOPKGLang::applyLang(int id) {
    // A standard language that no table carries (Spanish) is read in the default
    // language's texts, never in those of the language applied before it.
    bool untranslated = id >= 0 && id < eLangStdCount && !cLibLang::anyDefines(id);
    if (!cLibLang::applyLang(untranslated ? _defaultLang() : id)) return false;
    setDefaultPlatformFont(_def_block_align);
    return true;
}

bool cSOPKGLang::defines(int id) { return cLibLang::defines(id, gLangs, gSOPKGLangTable_count); }

unsigned int cSOPKGLang::sizeOf(int id) { return cLibLang::sizeOf(id, gLangs, gSOPKGLangTable_count); }

const unsigned char* cSOPKGLang::langData(int id) { return cLibLang::langData(id, gLangs, gSOPKGLangTable_count); }

int cSOPKGLang::defaltLang() { return gLangs[0].id; }
