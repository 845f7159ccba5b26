// The standard languages: codes, native names, flags and the UI face for each.
#include <cstring>

#include "base/strings.h"
#include "base/sync.h"
#include "ciplatform/fontobject.h"
#include "ciplatform/picture.h"
#include "ui/lang.h"
#include "ui/themedraw.h"

namespace {

const char* const kCodes[eLangStdCount] = {"ENG", "RUS", "DEU", "JPN", "KOR", "FRA",
                                           "UKR", "ESP", "CHN", "TWN", "TUR"};

const char* const kNames[eLangStdCount] = {
    "English",
    "\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9",                          // Russkiy
    "Deutsch",
    "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",                                              // Nihongo
    "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4",                                              // Hangugeo
    "Fran\xC3\xA7" "ais",
    "\xD0\xA3\xD0\xBA\xD1\x80\xD0\xB0\xD1\x97\xD0\xBD\xD1\x81\xD1\x8C\xD0\xBA\xD0\xB0",  // Ukrainska
    "Espa\xC3\xB1ol",
    "\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87",                                  // simplified
    "\xE7\xB9\x81\xE9\xAB\x94\xE4\xB8\xAD\xE6\x96\x87",                                  // traditional
    "T\xC3\xBCrk\xC3\xA7" "e",
};

struct sFlags {
    cCriticalSection lock;
    cPicture* big[eLangStdCount] = {nullptr};
    cPicture* small[eLangStdCount] = {nullptr};
    cPicturesList list;
    bool listReady = false;
    ~sFlags() {
        list.clear();
        for (int i = 0; i < eLangStdCount; i++) {
            delete big[i];
            delete small[i];
        }
    }
};

sFlags& flags() {
    static sFlags f;
    return f;
}

cPicture* makeFlag(int id, int w, int h) {
    _typebuf<unsigned int> px;
    if (!px.set((long long)w * h)) return nullptr;
    px.zero();
    drawLanguageFlag(px.ptr, w, h, id);
    cPicture* p = new (std::nothrow) cPicture;
    if (!p || !p->create_on(px, w, h)) {
        delete p;
        return nullptr;
    }
    return p;
}

cPicture* flagOf(int id, bool big) {
    if (id < 0 || id >= eLangStdCount) return nullptr;
    sFlags& f = flags();
    cSafeCriticalSectionAccess lock(&f.lock);
    cPicture*& slot = big ? f.big[id] : f.small[id];
    if (!slot) slot = big ? makeFlag(id, 27, 22) : makeFlag(id, 18, 14);
    return slot;
}

}  // namespace

const char* ciLangID(int id) { return id >= 0 && id < eLangStdCount ? kCodes[id] : "INV"; }

int ciLangFromID(const char* code) {
    if (!code) return -1;
    for (int i = 0; i < eLangStdCount; i++)
        if (__stricmp(code, kCodes[i]) == 0) return i;
    return -1;
}

const char* ciLangName(int id) { return id >= 0 && id < eLangStdCount ? kNames[id] : nullptr; }

bool ciLangIsCJK(int id) { return id == eLangJPN || id == eLangKOR || id == eLangCHN || id == eLangTWN; }

cPicture* ciLangImage27x22(int id) { return flagOf(id, true); }
cPicture* ciLangImage18x14(int id) { return flagOf(id, false); }

cPicturesList* ciLangImages18x14() {
    sFlags& f = flags();
    for (int i = 0; i < eLangStdCount; i++) flagOf(i, false);
    cSafeCriticalSectionAccess lock(&f.lock);
    if (!f.listReady) {
        for (int i = 0; i < eLangStdCount; i++)
            if (f.small[i]) f.list.refImage(i, f.small[i]);
        f.listReady = true;
    }
    return &f.list;
}

void setDefaultPlatformFont(int& alignment) {
    int id = cLibLang::appliedLang();
    const char* face = "Tahoma";
    if (id == eLangKOR)
        face = "Malgun Gothic";
    else if (id == eLangCHN)
        face = "Microsoft YaHei";
    else if (id == eLangTWN)
        face = "Microsoft JhengHei";
    _setGlbalStdFont(face);
    // CJK faces carry their own vertical metrics; the adjustment is only for the
    // general face, and only when the language's face is really installed.
    alignment = ciLangIsCJK(id) && cFontObject::faceExists(face) ? 0 : 3;
}
