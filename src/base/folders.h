// cFolderContents: folder listings, the special places (home, root, mounted volumes)
// and small path services (kinds of objects, folders, rights, volume space, masks).
#pragma once

#include "base/buffers.h"
#include "base/timestamp.h"

// One entry of a listing.
struct sFolderItemInfo {
    _guardchar<char> name;         // the entry's name; a special place's full path
    _guardchar<char> displayName;  // may be empty (then the name is shown)
    unsigned long long size = 0;   // bytes (regular files)
    unsigned int type = 0;         // cFolderContents::eObjType
    bool hidden = false;           // the name begins with "."
    sTimestamp date = {};          // local modification time; year 0 = no date
};

// The folder part of an absolute path ("/a/b" for "/a/b/c", "/" for "/c"); false for a
// relative one.
bool parentFolder(const char* path, _guardchar<char>& out);

// folder + "/" + name with one "/" between them (none added where the folder ends or the
// name begins with one); a null or empty folder gives the name alone. `out` may hold the
// folder. False without memory.
bool joinPath(const char* folder, const char* name, _guardchar<char>& out);
// A typed path as it is meant, in place: "." parts and runs of "/" go, ".." takes away the
// part written before it (links are not followed), a final "/" goes ("/a/b/../c/." is
// "/a/c"). ".." at the root stays there; a relative path keeps the ".." parts it cannot
// resolve and becomes "." when nothing is left.
void resolveDotParts(char* path);
// Whether a path is absolute and plain: begins with "/", no empty, "." or ".." part,
// no control character.
bool isPlainAbsPath(const char* path);
// The nearest existing folder at or above `path` (the path itself when it is one): where a
// folder that is still to be made would be made, or a file's folder. False when no part of
// the path is a folder (a bare name) or without memory.
bool nearestExistingFolder(const char* path, _guardchar<char>& out);

class cFolderContents {
public:
    enum eObjType {
        eNothing = 0,
        eFile = 1,
        eFolder = 2,
        eLink = 3,  // a link whose target is missing (links are followed)
        eBlockDevice = 4,
        eCharDevice = 5,
        eSocket = 6,
        eOther = 7,  // FIFOs and the rest
        eFileSystem = 8,  // the root "/"
        eSpecialFolder = 9,  // the home folder
        eVolume = 10,  // a mounted volume
    };

    cFolderContents() {}
    ~cFolderContents() { clear(); }
    cFolderContents(const cFolderContents&) = delete;
    cFolderContents& operator=(const cFolderContents&) = delete;

    // The kind of object at a path, links followed (0 when nothing is there or it
    // cannot be reached).
    static int objtype(const char* path);

    // Lists a folder's entries in directory order without "." and "..". With
    // `filesAndFoldersOnly` only regular files and folders (links followed) are kept.
    // False when the folder cannot be read (the listing is then empty).
    bool init(const char* folder, bool filesAndFoldersOnly);
    // Lists the home folder (9), "/" (8) and mounted volumes (10); folder() is null.
    bool enumSpecialLocations();
    // The same from another mount table (a file in the format of /proc/self/mounts).
    bool enumSpecialLocations(const char* mountTable);

    const char* folder() const { return myFolder.ptr; }
    int count() const { return myCount; }
    sFolderItemInfo* info(int i) const;
    // The entry's full path: folder "/" name (one "/" only), or a special place's name.
    bool path(int i, _guardchar<char>& out) const;
    void clear();

    // Paths are used as typed on this system.
    static void adjustPath(char* path) {}
    // $HOME, else the user's entry in the password database.
    static bool getHome(_guardchar<char>& out);
    // Creates a folder (mode 0775); true also when a folder is already there.
    static bool mkdir(const char* path);
    // Removes an empty folder.
    static bool removeDir(const char* path);
    // False when nothing is at the path; true for the superuser; else write access.
    static bool canWrite(const char* path);
    // Total bytes and bytes available to the user on the path's volume.
    static bool getVolInfo(const char* path, unsigned long long& total, unsigned long long& avail);
    // Mode (user * 8 + group) * 8 + others; each digit 0..7.
    static bool setPermissions(const char* path, int user, int group, int others);
    // Masks separated by ";" with "*" and "?", byte for byte; a null or empty mask
    // list matches everything.
    static bool wcmmatch(const char* name, const char* masks);
    static bool pathCaseSensetive(const char* path) { return true; }

private:
    sFolderItemInfo* addItem();

    _guardchar<char> myFolder;
    sFolderItemInfo** myItems = nullptr;
    int myCount = 0;
    int myCapacity = 0;
};
