// What a package may use as a folder, and what its removal may take there: one rule for
// the location page, the journal check and the package's record. Any folder may hold a
// package (the home folder, the folders above it and the root too) but the program's own:
// the store's folder (every record and journal) and the Software Manager's bundle.
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/lists.h"
#include "base/stringkey.h"

struct sPkgRegistryRecord;

// The rule, with the program's own folders and the home folder looked up once.
class cPackageFolders {
public:
    // `store`'s folder ("$HOME/.qmx" for one without a folder) and the manager's bundle.
    explicit cPackageFolders(cApplicationConfig* store);
    // Whether a folder may be a package's (its installation folder or a base): a plain
    // absolute folder outside the program's own, as named and by its real path (links
    // resolved as far as it exists).
    bool mayHold(const char* folder) const;
    // Whether a plain path is at or below one of the program's own folders, as named or
    // by its real path.
    bool isOwn(const char* path) const;
    // The same by the path as it stands (a string test, no look at the disk).
    bool isOwnByName(const char* path) const;
    // The same for a path below a folder `base` that is reached from it without a link,
    // `realBase` being the base's real path: a string test too.
    bool isOwnBelow(const char* path, const char* base, const char* realBase) const;
    // Whether a folder is the home folder, one above it or the root. Such a folder is
    // never a package's to make or to remove, even when a removal leaves it empty.
    bool homeOrAbove(const char* folder) const;

private:
    _List<_guardchar<char> > myHomes;  // as named and real
    _List<_guardchar<char> > myOwn;    // as named and real
};

// cPackageFolders(store).mayHold(folder).
bool mayBePackageFolder(const char* folder, cApplicationConfig* store);
// cPackageFolders(store).isOwn(path): the program's own files, where no package goes.
bool isProgramFolder(const char* path, cApplicationConfig* store);

// What an uninstallation may remove of a record's, its folders judged once for all of its
// files.
class cRecordScope {
public:
    cRecordScope(const sPkgRegistryRecord& record, cApplicationConfig* store);
    // Whether a folder of the record confines what its removal takes: one a package may
    // have (cPackageFolders::mayHold).
    bool isConfining(const char* folder) const;
    // Whether a recorded file may be removed: a plain absolute regular file below the
    // record's path or one of its bases (confining folders only), reached without a link
    // below that folder, and none of the program's own.
    bool ownsFile(const char* path) const;
    // Whether a recorded menu entry may be removed: a plain regular file below the
    // desktop's entries folder, reached without a link there.
    bool ownsEntry(const char* path) const;
    // Whether an emptied folder may be removed: below the record's (confining) path, or a
    // confining folder the installation made; never the home folder or one above it.
    bool mayRemoveFolder(const char* folder) const;

private:
    struct sBase {
        const char* folder;
        _guardchar<char> real;
    };
    cPackageFolders myRule;
    _List<sBase> myBases;  // the confining ones, the record's path first
    bool myPathConfines = false;
    cFasterTreeList<cStringKey, int> myMade;  // confining folders the installation made
    _guardchar<char> myEntries;                // the desktop's entries folder (empty: none)
};
