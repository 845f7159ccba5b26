// The store folder (the configuration store's folder: the packages' journals and run locks
// lie in it) and the locks taken in it: a package's run lock, and the folder's own lock,
// shared by every run for its whole length and taken exclusively by the Software
// Manager's start while it resolves every journal.
//
// Each lock is an flock: only those who can write the store folder can hold one, and the
// system drops it with the process however that ends.
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"

// The folder of `store`, else (no store, or one without a folder) "$HOME/.qmx". False
// without a home folder.
bool storeFolder(cApplicationConfig* store, _guardchar<char>& out);
// Where the journal of a package's files in flight lies: "<store folder>/inflight-<code>".
// False for an unsafe code name.
bool defaultJournalPath(cApplicationConfig* store, const char* code, _guardchar<char>& out);

// An flock held through an open descriptor of what it lies on.
class cHeldLock {
public:
    cHeldLock(const cHeldLock&) = delete;
    cHeldLock& operator=(const cHeldLock&) = delete;
    bool held() const { return myFd >= 0; }
    // What the lock lies on (set by a take, also when it failed).
    const char* path() const { return myPath.ptr ? myPath.ptr : ""; }
    // The lock goes with the last descriptor of the open file.
    void release();

protected:
    cHeldLock() {}
    ~cHeldLock() { release(); }
    int myFd = -1;
    _guardchar<char> myPath;
};

// Held by a run of a package (an installer from its start to its end, an uninstallation)
// for its whole length: a second run of the same package would take the first one's files
// over and read its journal in flight as an interrupted run's. The lock lies on
// "running-<code>.lock" in the store folder. The file itself stays: removing it would let
// a later run lock a new file while an earlier one still holds the old.
class cPackageRunLock : public cHeldLock {
public:
    // Takes the lock of the package whose journal lies at `journalPath`, without waiting.
    // False when it is not taken: busy() tells a lock another run holds from one that
    // could not be taken at all (a store folder that cannot be written or opened, ...),
    // which is an error.
    bool take(const char* journalPath, const char* code);
    // After a failed take: another run holds the lock.
    bool busy() const { return myBusy; }

private:
    bool myBusy = false;
};

// The store folder's own lock. A run holds it shared from its claim to its end, so that the
// manager's start, which takes it exclusively, leaves that run's journal alone.
class cStoreFolderLock : public cHeldLock {
public:
    cStoreFolderLock() {}
    // Shared, as a run takes it (see share).
    explicit cStoreFolderLock(const char* journalPath) { share(journalPath); }
    // A run's: shared, on the folder `journalPath` lies in (made private when missing);
    // waits while the manager's start holds it. True at once when held already.
    bool share(const char* journalPath);
    // The manager's start: exclusive, on `folder`, without waiting. False while a run holds
    // it, or when the folder cannot be opened (missing() then tells one that does not exist).
    bool takeAlone(const char* folder);
    // After a failed takeAlone: there is no such folder (and so no journal).
    bool missing() const { return myMissing; }
    // The folder, open while the lock is held.
    int fd() const { return myFd; }

private:
    bool myMissing = false;
};
