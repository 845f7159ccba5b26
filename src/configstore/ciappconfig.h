// cCIAppConfig: the per-user configuration store (~/.<name>, one hive file per top-level
// section) behind cApplicationConfig; cCIAppFullConfig: the application's store object.
#pragma once

#include "base/appconfig.h"
#include "base/fastertreelist.h"
#include "base/stringkey.h"
#include "base/sync.h"
#include "configstore/appconfig_store.h"

class cCIAppConfig : public cApplicationConfig {
public:
    cCIAppConfig() {}
    ~cCIAppConfig() override;
    cCIAppConfig(const cCIAppConfig&) = delete;
    cCIAppConfig& operator=(const cCIAppConfig&) = delete;

    // Opens the store "$HOME/.<name>"; false when that folder does not exist.
    virtual bool open(const char* name);
    // Creates the folder "$HOME/.<name>" (private, 0700); true also when it exists.
    virtual bool create(const char* name);
    // Opens a store in any existing folder.
    bool openFolder(const char* folder);
    bool isOpen() const { return myFolder.ptr != nullptr; }
    const char* folder() const override { return myFolder.ptr; }
    // Why the store could not be opened: the folder tried (null when there is no home
    // folder) and the system's error number; 0 after a successful open or create. A
    // failed create is kept over the failed open after it, which would say less.
    const char* failedFolder() const { return myFailedFolder.ptr; }
    int failedError() const { return myFailedError; }

    // Keys are "<section>/.../<name>"; a key needs at least one section.
    bool getParamInt(const char* key, unsigned long long& value) override;
    bool getParamStr(const char* key, _guardchar<char>& value) override;
    bool setParamInt16(const char* key, unsigned short value) override;
    bool setParamInt32(const char* key, unsigned int value) override;
    bool setParamInt64(const char* key, unsigned long long value) override;
    // Stores the first `length` bytes, never past the text's terminating 0.
    bool setParamStr(const char* key, const char* text, long long length = -1) override;
    bool removeParam(const char* key) override;
    bool removeSection(const char* path) override;
    // "" is the store's root (true while open).
    bool hasSection(const char* path) override;
    // Names in ascending byte order; "" or null enumerates the top-level sections.
    bool enumSubsections(const char* section, tEnumCallback callback, void* parameter) override;
    bool saveConfig() override;
    void discardChanges() override;
    // In one step: no change made meanwhile by another thread is dropped unsaved.
    bool readAnew() override;

    // Further value kinds.
    bool setParamInt8(const char* key, unsigned char value);
    bool setParamBin(const char* key, const void* data, long long length);
    bool getParamBin(const char* key, _typebuf<unsigned char>& value);

    // Hive files found damaged and set aside ("<hive>.damaged-<time>") since opening:
    // their count and paths. The store carries on without their contents.
    int damagedCount();
    bool damagedPath(int index, _guardchar<char>& path);
    // Hives left alone because they could not be read or a later version wrote them
    // (changes to them are kept in memory and saveConfig fails).
    int unreadableCount() override;

private:
    // The hive of a top-level section, read on first use.
    cConfigHive* hiveOf(const char* top, long long topLength);
    cConfigHive* hiveForKey(const char* key, const char*& rest, long long& restLength);
    const sConfigValue* findValue(const char* key);
    bool setValue(const char* key, unsigned char kind, const void* data, long long length);
    void noteDamaged(_guardchar<char>& path);
    void noteFailure(const char* folder, int error, bool byCreate);
    void closeStore();
    // saveConfig and discardChanges with the object's lock held.
    bool saveHeld();
    void unloadHeld();

    cCriticalSection myLock;
    cConfigLock myFileLock;
    _guardchar<char> myFolder;
    _guardchar<char> myFailedFolder;
    int myFailedError = 0;
    bool myFailedByCreate = false;
    cFasterTreeList<cStringKey, cConfigHive*> myHives;
    _typebuf<char*> myDamaged;  // malloc'ed paths
    int myDamagedCount = 0;
};

// The application's store object: on this platform the per-user store is the only one,
// so global() is the object itself and removeSectionG is removeSection.
class cCIAppFullConfig : public cCIAppConfig {
public:
    cCIAppConfig* global() { return this; }
    bool removeSectionG(const char* path) { return global()->removeSection(path); }
};
