// The configuration store over hive files: key routing to hives, typed access, saving
// the changed hives under the lock, enumeration, and reports of damaged hives.
#include "configstore/ciappconfig.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "base/folders.h"
#include "base/strings.h"

namespace {

struct sNameCollector {
    cFasterTreeList<cStringKey, char> names;
};

bool storeFolderOf(const char* name, _guardchar<char>& out) {
    if (!name || !name[0] || strchr(name, '/') || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
    _guardchar<char> home;
    if (!cFolderContents::getHome(home) || home.empty()) return false;
    long long n = home.length() + (long long)strlen(name) + 3;
    if (!out.set(n)) return false;
    _sprintf_s(out.ptr, n + 1, "%s/.%s", home.ptr, name);
    return true;
}

// Calls back with every collected name, outside the store's lock (the callback may use
// the store).
bool replay(sNameCollector& c, cApplicationConfig::tEnumCallback callback, void* parameter) {
    _typebuf<char> text;
    for (auto* e = c.names.first(); e; e = c.names.next(e)) {
        if (!e->key().utf8(text)) return false;
        if (!callback(text.ptr, parameter)) break;
    }
    return true;
}

}  // namespace

cCIAppConfig::~cCIAppConfig() { closeStore(); }

void cCIAppConfig::closeStore() {
    for (auto* e = myHives.first(); e; e = myHives.next(e)) delete e->value();
    myHives.destroy();
    for (int i = 0; i < myDamagedCount; i++) free(myDamaged.ptr[i]);
    myDamaged.clear();
    myDamagedCount = 0;
    myFolder.clear();
}

void cCIAppConfig::noteFailure(const char* folder, int error, bool byCreate) {
    if (error == 0) {
        myFailedFolder.clear();
        myFailedError = 0;
        myFailedByCreate = false;
        return;
    }
    bool sameFolder = folder && myFailedFolder.ptr && strcmp(folder, myFailedFolder.ptr) == 0;
    if (!byCreate && myFailedByCreate && sameFolder) return;
    if (folder) myFailedFolder.set(folder);
    else myFailedFolder.clear();
    myFailedError = error;
    myFailedByCreate = byCreate;
}

namespace {

// Why `folder` cannot serve as the store (after a failed open or mkdir).
int folderError(const char* folder, int fallback) {
    struct stat st;
    if (stat(folder, &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? fallback : ENOTDIR;
}

}  // namespace

bool cCIAppConfig::open(const char* name) {
    _guardchar<char> folder;
    if (!storeFolderOf(name, folder)) {
        noteFailure(nullptr, ENOENT, false);
        return false;
    }
    if (!openFolder(folder.ptr)) {
        noteFailure(folder.ptr, folderError(folder.ptr, ENOMEM), false);
        return false;
    }
    noteFailure(nullptr, 0, false);
    return true;
}

bool cCIAppConfig::create(const char* name) {
    _guardchar<char> folder;
    if (!storeFolderOf(name, folder)) {
        noteFailure(nullptr, ENOENT, true);
        return false;
    }
    int error = mkdir(folder.ptr, 0700) == 0 ? 0 : errno;
    if (error == EEXIST) error = folderError(folder.ptr, 0);
    noteFailure(folder.ptr, error, true);
    return error == 0;
}

bool cCIAppConfig::openFolder(const char* folder) {
    cSafeCriticalSectionAccess guard(&myLock);
    closeStore();
    if (!folder || cFolderContents::objtype(folder) != cFolderContents::eFolder) return false;
    if (!myFolder.set(folder)) return false;
    myFileLock.setFolder(folder);
    return true;
}

void cCIAppConfig::noteDamaged(_guardchar<char>& path) {
    if (!path.ptr) return;
    if (myDamagedCount == myDamaged.count && !myDamaged.reset(myDamaged.count ? myDamaged.count * 2 : 4)) return;
    myDamaged.ptr[myDamagedCount++] = path.dettach();
}

cConfigHive* cCIAppConfig::hiveOf(const char* top, long long topLength) {
    if (!myFolder.ptr || topLength <= 0 || topLength > kCfgMaxTopName) return nullptr;
    cStringKey key(top, topLength);
    // Reading needs the hive as much as writing: its file may exist.
    cConfigHive** slot = myHives.insert(key);
    if (!slot) return nullptr;
    if (!*slot) {
        char name[kCfgMaxTopName + 1];
        memcpy(name, top, (size_t)topLength);
        name[topLength] = 0;
        cConfigHive* h = new (std::nothrow) cConfigHive;
        if (!h || memchr(name, 0, (size_t)topLength) || !h->init(myFolder.ptr, name, &myFileLock)) {
            delete h;
            myHives.dettach(key);
            return nullptr;
        }
        *slot = h;
    }
    cConfigHive* h = *slot;
    if (!h->loaded()) {
        _guardchar<char> aside;
        h->load(aside);
        noteDamaged(aside);
    }
    return h;
}

cConfigHive* cCIAppConfig::hiveForKey(const char* key, const char*& rest, long long& restLength) {
    if (!key) return nullptr;
    const char* slash = strchr(key, '/');
    long long topLength = slash ? slash - key : (long long)strlen(key);
    rest = slash ? slash + 1 : key + topLength;
    restLength = (long long)strlen(rest);
    if (slash && restLength == 0) return nullptr;  // "a/" is no path
    return hiveOf(key, topLength);
}

const sConfigValue* cCIAppConfig::findValue(const char* key) {
    const char* rest;
    long long restLength, sectionLength, nameLength;
    const char* name;
    cConfigHive* h = hiveForKey(key, rest, restLength);
    if (!h || !h->exists() || !cfgSplitPath(rest, restLength, sectionLength, name, nameLength)) return nullptr;
    cConfigSection* s = h->top().walk(rest, sectionLength, false);
    return s ? s->value(name, nameLength, false) : nullptr;
}

bool cCIAppConfig::getParamInt(const char* key, unsigned long long& value) {
    cSafeCriticalSectionAccess guard(&myLock);
    const sConfigValue* v = findValue(key);
    if (!v || (v->kind != kCfgInt8 && v->kind != kCfgInt16 && v->kind != kCfgInt32 && v->kind != kCfgInt64))
        return false;
    unsigned long long r = 0;
    for (long long i = v->data.count - 1; i >= 0; i--) r = (r << 8) | v->data.ptr[i];
    value = r;
    return true;
}

bool cCIAppConfig::getParamStr(const char* key, _guardchar<char>& value) {
    cSafeCriticalSectionAccess guard(&myLock);
    const sConfigValue* v = findValue(key);
    if (!v || v->kind != kCfgText) return false;
    return v->data.count ? value.set((const char*)v->data.ptr, v->data.count) : value.set("", 0);
}

bool cCIAppConfig::getParamBin(const char* key, _typebuf<unsigned char>& value) {
    cSafeCriticalSectionAccess guard(&myLock);
    const sConfigValue* v = findValue(key);
    if (!v || v->kind != kCfgBytes) return false;
    if (v->data.count == 0) {
        value.clear();
        return true;
    }
    return value.set(v->data.ptr, v->data.count);
}

bool cCIAppConfig::setValue(const char* key, unsigned char kind, const void* data, long long length) {
    cSafeCriticalSectionAccess guard(&myLock);
    const char* rest;
    long long restLength;
    cConfigHive* h = hiveForKey(key, rest, restLength);
    return h && h->setValue(rest, restLength, kind, data, length);
}

static void littleEndian(unsigned long long v, unsigned char* out, int n) {
    for (int i = 0; i < n; i++) out[i] = (unsigned char)(v >> (8 * i));
}

bool cCIAppConfig::setParamInt8(const char* key, unsigned char value) {
    return setValue(key, kCfgInt8, &value, 1);
}

bool cCIAppConfig::setParamInt16(const char* key, unsigned short value) {
    unsigned char b[2];
    littleEndian(value, b, 2);
    return setValue(key, kCfgInt16, b, 2);
}

bool cCIAppConfig::setParamInt32(const char* key, unsigned int value) {
    unsigned char b[4];
    littleEndian(value, b, 4);
    return setValue(key, kCfgInt32, b, 4);
}

bool cCIAppConfig::setParamInt64(const char* key, unsigned long long value) {
    unsigned char b[8];
    littleEndian(value, b, 8);
    return setValue(key, kCfgInt64, b, 8);
}

bool cCIAppConfig::setParamStr(const char* key, const char* text, long long length) {
    if (!text) text = "";
    long long n = length < 0 ? (long long)strlen(text) : (long long)strnlen(text, (size_t)length);
    return setValue(key, kCfgText, text, n);
}

bool cCIAppConfig::setParamBin(const char* key, const void* data, long long length) {
    if (length < 0 || (length > 0 && !data)) return false;
    return setValue(key, kCfgBytes, data, length);
}

bool cCIAppConfig::removeParam(const char* key) {
    cSafeCriticalSectionAccess guard(&myLock);
    const char* rest;
    long long restLength;
    cConfigHive* h = hiveForKey(key, rest, restLength);
    return h && h->removeValue(rest, restLength);
}

bool cCIAppConfig::removeSection(const char* path) {
    cSafeCriticalSectionAccess guard(&myLock);
    const char* rest;
    long long restLength;
    cConfigHive* h = hiveForKey(path, rest, restLength);
    return h && h->removeSection(rest, restLength);
}

bool cCIAppConfig::hasSection(const char* path) {
    cSafeCriticalSectionAccess guard(&myLock);
    if (path && !path[0]) return isOpen();
    const char* rest;
    long long restLength;
    cConfigHive* h = hiveForKey(path, rest, restLength);
    if (!h || !h->exists() || !cfgValidSectionPath(rest, restLength)) return false;
    return h->top().walk(rest, restLength, false) != nullptr;
}

bool cCIAppConfig::enumSubsections(const char* section, tEnumCallback callback, void* parameter) {
    if (!callback) return false;
    sNameCollector found;
    {
        cSafeCriticalSectionAccess guard(&myLock);
        if (!myFolder.ptr) return false;
        if (!section || !section[0]) {
            // Top-level sections: hives with files, and hives written only in memory.
            if (DIR* d = opendir(myFolder.ptr)) {
                _guardchar<char> name;
                while (struct dirent* e = readdir(d)) {
                    if (cConfigHive::nameOfFile(e->d_name, name)) hiveOf(name.ptr, name.length());
                }
                closedir(d);
            }
            for (auto* e = myHives.first(); e; e = myHives.next(e))
                if (e->value() && e->value()->exists()) found.names.insert(e->key());
        } else {
            const char* rest;
            long long restLength;
            cConfigHive* h = hiveForKey(section, rest, restLength);
            if (!h || !h->exists() || !cfgValidSectionPath(rest, restLength)) return false;
            cConfigSection* s = h->top().walk(rest, restLength, false);
            if (!s) return false;
            for (auto* e = s->subs().first(); e; e = s->subs().next(e)) found.names.insert(e->key());
        }
    }
    return replay(found, callback, parameter);
}

bool cCIAppConfig::saveConfig() {
    cSafeCriticalSectionAccess guard(&myLock);
    return saveHeld();
}

bool cCIAppConfig::saveHeld() {
    if (!myFolder.ptr) return false;
    bool any = false;
    for (auto* e = myHives.first(); e; e = myHives.next(e))
        if (e->value() && e->value()->dirty()) any = true;
    if (!any) return true;
    if (!myFileLock.enter()) return false;
    bool ok = true;
    for (auto* e = myHives.first(); e; e = myHives.next(e)) {
        cConfigHive* h = e->value();
        if (!h || !h->dirty()) continue;
        _guardchar<char> aside;
        if (!h->save(aside)) ok = false;
        noteDamaged(aside);
    }
    myFileLock.leave();
    return ok;
}

void cCIAppConfig::discardChanges() {
    cSafeCriticalSectionAccess guard(&myLock);
    unloadHeld();
}

void cCIAppConfig::unloadHeld() {
    // Dropping every hive also lets the next read see what others saved meanwhile.
    for (auto* e = myHives.first(); e; e = myHives.next(e))
        if (e->value()) e->value()->unload();
}

bool cCIAppConfig::readAnew() {
    cSafeCriticalSectionAccess guard(&myLock);
    if (!saveHeld()) return false;
    unloadHeld();
    return true;
}

int cCIAppConfig::damagedCount() {
    cSafeCriticalSectionAccess guard(&myLock);
    return myDamagedCount;
}

bool cCIAppConfig::damagedPath(int index, _guardchar<char>& path) {
    cSafeCriticalSectionAccess guard(&myLock);
    if (index < 0 || index >= myDamagedCount) return false;
    return path.set(myDamaged.ptr[index]);
}

int cCIAppConfig::unreadableCount() {
    cSafeCriticalSectionAccess guard(&myLock);
    int n = 0;
    for (auto* e = myHives.first(); e; e = myHives.next(e))
        if (e->value() && e->value()->loaded() &&
            (e->value()->state() == kHiveNewer || e->value()->state() == kHiveIOError || e->value()->state() == kHiveDamaged))
            n++;
    return n;
}
