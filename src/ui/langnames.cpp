// The standard languages' flags and the UI face for each (codes and names: base/stdlangs).
#include <cstring>

#include "base/strings.h"
#include "base/sync.h"
#include "ciplatform/fontobject.h"
#include "ciplatform/picture.h"
#include "ui/lang.h"
#include "ui/themedraw.h"

namespace {

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
