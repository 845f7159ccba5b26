// Language tables, the provider registry and the merged process-wide table.
#include "ui/lang.h"

#include <cstring>

#include "base/sync.h"
#include "ciplatform/fontobject.h"
#include "ui/langcontainer.h"

namespace {

// One lock for the registry, the merged table and the retired tables. Made on first use,
// so providers built by static initialisers elsewhere may register safely.
cCriticalSection& langLock() {
    static cCriticalSection cs;
    return cs;
}

struct sRegistry {
    _typebuf<cLibLang*> providers;
    long long count = 0;
    cCiomLang* retired[cLibLang::kRetiredTables] = {nullptr};
    int retiredNext = 0;
    int applied = eLangENG;
    ~sRegistry() {
        for (cCiomLang*& t : retired) {
            delete t;
            t = nullptr;
        }
    }
};

sRegistry& registry() {
    static sRegistry r;
    return r;
}

// Copies every string of `from` into `into`; with `replace` an existing string of the
// same section and index gives way.
bool mergeTable(cCiomLang& into, const cCiomLang& from, bool replace) {
    for (const cCiomLangData* s = from.nextSection(nullptr); s; s = from.nextSection(s)) {
        cCiomLangData* d = into.addSection(s->name());
        if (!d) return false;
        for (int i = 0; i < s->count(); i++) {
            const char* text = s->string(i);
            if (!text || (!replace && d->string(i))) continue;
            if (!d->setString(i, text)) return false;
        }
    }
    return true;
}

bool loadProviderTable(cLibLang* p, int id, cCiomLang& out) {
    const unsigned char* data = p->langData(id);
    unsigned int size = p->sizeOf(id);
    return data && size && loadCiomLangData(data, size, out);
}

}  // namespace

// --- cCiomLangData ---

cCiomLangData::~cCiomLangData() {
    for (long long i = 0; i < mySlots.count; i++) free(mySlots.ptr[i]);
}

const char* cCiomLangData::string(int index) const {
    if (index < 0 || index >= mySlots.count) return nullptr;
    return mySlots.ptr[index];
}

int cCiomLangData::present() const {
    int n = 0;
    for (long long i = 0; i < mySlots.count; i++)
        if (mySlots.ptr[i]) n++;
    return n;
}

bool cCiomLangData::setString(int index, const char* text, long long length) {
    if (index < 0 || index > kMaxIndex || !text) return false;
    if (length < 0) length = (long long)strlen(text);
    if (index >= mySlots.count) {
        long long old = mySlots.count;
        long long want = index + 1;
        if (!mySlots.reset(want)) return false;
        for (long long i = old; i < want; i++) mySlots.ptr[i] = nullptr;
    }
    char* copy = (char*)malloc((size_t)length + 1);
    if (!copy) return false;
    memcpy(copy, text, (size_t)length);
    copy[length] = 0;
    free(mySlots.ptr[index]);
    mySlots.ptr[index] = copy;
    return true;
}

const char* cCiomLangData::string(const char* section, int index) {
    cSafeCriticalSectionAccess lock(&langLock());
    return cLibLang::gCiomLang.string(section, index);
}

// --- cCiomLang ---

cCiomLangData* cCiomLang::section(const char* name) const {
    if (!name) return nullptr;
    cFasterTreeList<cStringKey, cCiomLangData*>::sEntry* e = mySections.findEntry(cStringKey(name));
    return e ? e->value() : nullptr;
}

const char* cCiomLang::string(const char* name, int index) const {
    cCiomLangData* s = section(name);
    return s ? s->string(index) : nullptr;
}

cCiomLangData* cCiomLang::addSection(const char* name, long long length) {
    if (!name) return nullptr;
    if (length < 0) length = (long long)strlen(name);
    if (length < 1 || length > kMaxSectionName || memchr(name, 0, (size_t)length)) return nullptr;
    cStringKey key(name, length);
    bool isNew = false;
    cCiomLangData** slot = mySections.insert(key, isNew);
    if (!slot) return nullptr;
    if (isNew || !*slot) {
        cCiomLangData* s = new (std::nothrow) cCiomLangData;
        if (!s || !s->setName(name, length)) {
            delete s;
            mySections.dettach(key);
            return nullptr;
        }
        *slot = s;
    }
    return *slot;
}

cCiomLangData* cCiomLang::nextSection(const cCiomLangData* previous) const {
    cFasterTreeList<cStringKey, cCiomLangData*>::sEntry* e;
    if (!previous) {
        e = mySections.first();
    } else {
        e = mySections.findEntry(cStringKey(previous->name()));
        e = e ? mySections.next(e) : nullptr;
    }
    return e ? e->value() : nullptr;
}

void cCiomLang::clear() {
    for (auto* e = mySections.first(); e; e = mySections.next(e)) delete e->value();
    mySections.destroy();
    myLangId = -1;
}

void cCiomLang::swap(cCiomLang& other) {
    mySections.swap(other.mySections);
    int id = myLangId;
    myLangId = other.myLangId;
    other.myLangId = id;
}

// --- cLibLang ---

cCiomLang cLibLang::gCiomLang;

cLibLang::cLibLang() {
    cSafeCriticalSectionAccess lock(&langLock());
    sRegistry& r = registry();
    if (r.count >= r.providers.count && !r.providers.reset(r.providers.count ? r.providers.count * 2 : 8)) return;
    r.providers.ptr[r.count++] = this;
}

cLibLang::~cLibLang() {
    cSafeCriticalSectionAccess lock(&langLock());
    sRegistry& r = registry();
    for (long long i = 0; i < r.count; i++) {
        if (r.providers.ptr[i] != this) continue;
        memmove(r.providers.ptr + i, r.providers.ptr + i + 1, (size_t)(r.count - i - 1) * sizeof(cLibLang*));
        r.count--;
        break;
    }
}

bool cLibLang::defines(int id, const sLangTableEntry* table, int count) {
    return langData(id, table, count) != nullptr;
}

unsigned int cLibLang::sizeOf(int id, const sLangTableEntry* table, int count) {
    for (int i = 0; table && i < count; i++)
        if (table[i].id == id && table[i].data) return table[i].size;
    return 0;
}

const unsigned char* cLibLang::langData(int id, const sLangTableEntry* table, int count) {
    for (int i = 0; table && i < count; i++)
        if (table[i].id == id && table[i].data && table[i].size) return table[i].data;
    return nullptr;
}

bool cLibLang::anyDefines(int id) {
    cSafeCriticalSectionAccess lock(&langLock());
    sRegistry& r = registry();
    for (long long i = 0; i < r.count; i++)
        if (r.providers.ptr[i]->defines(id)) return true;
    return false;
}

int cLibLang::appliedLang() {
    cSafeCriticalSectionAccess lock(&langLock());
    return registry().applied;
}

bool cLibLang::applyLang(int id) {
    if (id < 0 || id >= eLangStdCount) return false;
    cCiomLang* merged = new (std::nothrow) cCiomLang;
    if (!merged) return false;
    cSafeCriticalSectionAccess lock(&langLock());
    sRegistry& r = registry();
    bool any = false;
    for (long long i = 0; i < r.count; i++) {
        cLibLang* p = r.providers.ptr[i];
        bool has = p->defines(id);
        int def = p->defaltLang();
        cCiomLang own;
        // The provider's default language first, so that its translation's missing
        // indexes keep the default text.
        if (def != id && p->defines(def)) {
            cCiomLang fallback;
            if (!loadProviderTable(p, def, fallback) || !mergeTable(own, fallback, true)) {
                delete merged;
                return false;
            }
        }
        if (has) {
            cCiomLang wanted;
            if (!loadProviderTable(p, id, wanted) || !mergeTable(own, wanted, true)) {
                delete merged;
                return false;
            }
            any = true;
        }
        if (!mergeTable(*merged, own, true)) {
            delete merged;
            return false;
        }
    }
    if (!any) {
        delete merged;
        return false;
    }
    merged->setLangId(id);
    gCiomLang.swap(*merged);
    // The replaced table stays alive for a while: a string taken just before the swap
    // may still be being formatted on another thread.
    delete r.retired[r.retiredNext];
    r.retired[r.retiredNext] = merged;
    r.retiredNext = (r.retiredNext + 1) % kRetiredTables;
    r.applied = id;
    setTextWrapYFactor(ciLangIsCJK(id) ? 1.07 : 1.2);
    setTextLanguage(id == eLangJPN ? "ja" : id == eLangKOR ? "ko" : id == eLangCHN ? "zh-cn" : id == eLangTWN ? "zh-tw" : nullptr);
    return true;
}
