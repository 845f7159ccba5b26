// What follows a downloaded update: the archive's listing checked before anything is
// unpacked, unzip started by argument vector into a private temporary folder, the
// installer bundle found there and started detached; and web addresses opened safely.
#pragma once

#include "base/buffers.h"

// Why an archive is refused.
enum eArchiveCheck {
    eArchiveOk = 0,
    eArchiveUnreadable = 1,  // cannot be opened or read
    eArchiveNotZip = 2,      // no end-of-central-directory record, or a damaged directory
    eArchiveTooLarge = 3,    // ZIP64 fields or a directory beyond the limits
    eArchiveAbsolute = 4,    // an entry names an absolute path
    eArchiveDotDot = 5,      // an entry has a ".." component (or a backslash)
    eArchiveLink = 6,        // an entry is a symbolic link or another special file
    eArchiveBadName = 7,     // an empty name or one with a NUL byte
};

// Reads the ZIP central directory (APPNOTE 4.3.12, 4.3.16) and checks every entry name
// and type. Counts, sizes and offsets are checked against the file before reading.
int checkUpdateArchive(const char* path);

// Creates a private folder (mkdtemp, mode 0700) "<TMPDIR or /tmp>/qmxsopkg-XXXXXX" and
// unpacks the archive there with "unzip -oq <archive> -d <folder>" (argument vector, no
// shell). False when the archive is refused, the folder cannot be made or unzip does not
// exit with 0; `folder` is set as soon as it exists.
bool unpackUpdateArchive(const char* archive, _guardchar<char>& folder);

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
