// cInstallFS: the file operations of installing and removing packages, in one place so
// that each can be made to fail in tests; rmFileClean and moveFileClean over them.
#pragma once

#include <initializer_list>

#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/fileops.h"
#include "base/folders.h"
#include "base/lists.h"
#include "base/stringkey.h"
#include "base/strings.h"

// The writes and replacements (cFileOps) and the rest of what an installation does.
class cInstallFS : public cFileOps {
public:
    // The process-wide plain implementation.
    static cInstallFS* plain();

    // Lets the disk begin writing a file's data, or `n` bytes of it from `at` (a hint; a
    // flush still has to follow).
    virtual void startWriteback(int fd, unsigned long long at = 0, unsigned long long n = 0);
    // Flushes everything written to the file system an open file lies on (data, modes,
    // names); false also when a write to it failed since that file was opened.
    virtual bool syncFileSystem(int fd);
    // Opens an existing regular file for writing without creating or truncating it,
    // and closes it again: whether it could be replaced.
    virtual bool canOpenForWrite(const char* path);
    // One folder (mode 0755); true also when a folder is already there.
    virtual bool mkdir(const char* path);
    virtual bool rmdir(const char* path);
};

// The kind of object at a path, without following a final link.
enum eObjKind {
    eObjNone = 0,    // nothing there
    eObjFile = 1,    // a regular file
    eObjFolder = 2,  // a folder
    eObjOther = 3,   // anything else, links included
};
eObjKind objKind(const char* path);

// objKind for many paths, through their folders: each folder is looked at and listed
// once, and a path whose folder is missing or does not list its name is known to be
// absent without a call of its own; a listed name (or a folder that is not a plain,
// listable one) is looked at as objKind does. A snapshot: an operation on a path still
// has to refuse what appeared there since.
class cFolderNames {
public:
    eObjKind kind(const char* path);

private:
    struct sFolder {
        int state = 2;  // 0 missing, 1 listed, 2 each path looked at by itself
        cFasterTreeList<cStringKey, char> names;
    };
    sFolder* folder(const char* path, long long len);
    cFasterTreeList<cStringKey, sFolder> myFolders;
    _guardchar<char> myLastPath;  // the folder asked for last, and its entry
    long long myLastLen = 0;
    sFolder* myLast = nullptr;
};

// Makes sure the folders of a path's chain exist, creating missing ones from the top
// down. False for a relative path, or when a part is not a folder or cannot be made.
// A link to a folder is accepted as a part of the chain only at or above `base`: below
// it (the folders a package makes) every part must be a real folder. Each folder made
// is added to `created` (top first) when given.
bool makeFolderChain(const char* folder, cInstallFS* fs = nullptr, const char* base = nullptr,
                     _List<_guardchar<char> >* created = nullptr);

// Whether `path` lies below `base` and every folder from `base` down to the path's own
// folder is a real folder (no link).
bool noLinkBelow(const char* path, const char* base);

// Removes a regular file, then each parent folder it leaves empty, but never `stopAbove`
// nor anything outside it: only folders strictly below it are removed (with a null
// `stopAbove` no folder is removed). True when nothing is left at the path; false for
// a folder or another object there, or when the file or an emptied folder cannot be
// removed.
bool rmFileClean(const char* path, const char* stopAbove = nullptr, cInstallFS* fs = nullptr);

// Removes a file, or a folder with everything below it, without following symbolic
// links (a link is removed, never its target). True when nothing is left at the path.
bool removeTree(const char* path);

// Moves a file that can be opened for writing (so a busy or protected file is found
// before it is renamed) to another name.
bool moveFileClean(const char* from, const char* to, cInstallFS* fs = nullptr);

// Whether `path` lies strictly below the folder `base` (both plain).
bool isBelow(const char* path, const char* base);
// A folder's real path: its longest existing part resolved (links and all), the rest
// appended as it is. A part that is a file ends the search with false unless
// `pastFiles`, when the search goes on above it as for a missing part.
bool realFolder(const char* folder, _guardchar<char>& out, bool pastFiles = false);
// The deepest of `roots` that `path` lies below, or null.
const char* rootOf(const _List<_guardchar<char> >& roots, const char* path);
// The folders a run made (each list top first, the lists in order) removed bottom up,
// those that are empty; the others stay.
void rmMadeFolders(std::initializer_list<const _List<_guardchar<char> >*> lists, cInstallFS* fs);
// Adds a text to a list unless it is there already; false when it could not be added.
bool addUnique(_List<_guardchar<char> >& list, const char* text);
// The same for a list that may grow long: `seen` holds its texts (kept in step by adding
// through this call only).
bool addUnique(_List<_guardchar<char> >& list, cFasterTreeList<cStringKey, int>& seen, const char* text);
