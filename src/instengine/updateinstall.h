// What follows a downloaded update: the archive's directory and local headers checked
// before anything is unpacked, the entries inflated in-process into a private temporary
// folder, the installer bundle found there and started detached; and web addresses
// opened safely.
#pragma once

#include "base/buffers.h"

class cJob;
class cProgressNotifyTarget;

// Why an archive is refused.
enum eArchiveCheck {
    eArchiveOk = 0,
    eArchiveUnreadable = 1,  // cannot be opened or read
    eArchiveNotZip = 2,      // no end-of-central-directory record, or a damaged directory
    eArchiveTooLarge = 3,    // ZIP64 fields or a directory beyond the limits
    eArchiveAbsolute = 4,    // an entry names an absolute path
    eArchiveDotDot = 5,      // an entry has a ".." component (or a backslash)
    eArchiveLink = 6,        // an entry is a symbolic link or another special file
    eArchiveBadName = 7,     // an empty name, one with a NUL byte or too deep, or a UTF-8
                             // path field naming something else
    eArchiveEncrypted = 8,   // an encrypted entry
    eArchiveMethod = 9,      // a compression method other than stored or deflated
    eArchiveBomb = 10,       // the declared sizes exceed 64 times the archive (plus 1 MiB)
                             // or the room left in the temporary folder
    eArchiveDamaged = 11,    // a local header that disagrees with the directory, data out of
                             // bounds, an entry that inflates to another size or CRC, a
                             // name given twice
    eArchiveWrite = 12,      // the private folder or a file in it could not be written
    eArchiveStopped = 13,    // stopped by the progress target or the owning job
};

// Reads the ZIP central directory (APPNOTE 4.3.12, 4.3.16) and every entry's local header
// (4.3.7) and checks names, types, flags, methods and declared sizes; `room` bounds the
// total declared size too. Counts, sizes and offsets are checked against the file before
// reading.
int checkUpdateArchive(const char* path, unsigned long long room = ~0ULL);

// Creates a private folder (mkdtemp, mode 0700) "<TMPDIR or /tmp>/qmxsopkg-XXXXXX" and
// unpacks the checked archive there in-process: only regular files and folders, under the
// names the directory gave, no entry writing more than it declared, executable bits kept.
// Progress goes to `progress` (false from it stops); `owner`'s stop request stops too.
// On any failure the folder is removed again and left empty; `reason` receives the
// eArchiveCheck code.
bool unpackUpdateArchive(const char* archive, _guardchar<char>& folder, cProgressNotifyTarget* progress = nullptr,
                         const cJob* owner = nullptr, int* reason = nullptr);

// Removes a folder made by unpackUpdateArchive with everything in it (links are removed,
// never followed).
bool removeUpdateFolder(const char* folder);

// Removes the private folder an update was unpacked to, once the installer started from
// it ends: `exePath` must lie at "<temp>/qmxsopkg-XXXXXX/<name>.app/Contents/MacOS/" and
// that folder directly in the temporary folder, a folder (not a link) owned by this user
// with no access for others. False, touching nothing, for any other path.
bool removeStartFolder(const char* exePath);

// The first folder at the top of `folder` whose name ends in ".app" (any case) and that
// holds "Contents/Resources/scenario.data" as a regular file (links are not followed).
bool findUpdateBundle(const char* folder, _guardchar<char>& bundle);

// Starts the bundle's "Contents/MacOS/Installer" (a regular executable file) detached,
// with itself as its only argument. True when it started.
bool startUpdateInstaller(const char* bundle);

// Opens an "http://" or "https://" address (no blanks or control characters) with the
// desktop opener started by argument vector; anything else is refused.
bool openWebAddress(const char* address);
// The opener program ("xdg-open"); tests put a recorder in its place.
void setWebOpener(const char* program);
bool isOpenableWebAddress(const char* address);
