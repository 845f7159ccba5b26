// Where a journal's package may act: its folders, vouched for by its record in the store
// or, for folders no record names, any folder a package may have (packagefolders.h); and
// the check that every path a journal names lies there before any of it is obeyed.
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "instengine/journaldata.h"

// Whether every path the journal of package `code` names lies where that package may
// act, as listed below. Which files below its roots the package's runs put there the
// check cannot tell: that is the journal's word, whole by its digest. One without a
// digest (an earlier build's) has no roots but the folders of the package's record.
//   - its roots ("D") are the folders of the package's record in `store` or, with a
//     digest, any folder a package may have (mayBePackageFolder); no root is a link. A
//     registration's folder and bases are the record's in the store or roots as well;
//   - files ("R", "N", "O") lie below a root, reached without a link below it, and none
//     among the program's own files;
//   - made folders ("M") lie at or below a root as files do, or (with a digest) above
//     one; the menu entries' folders ("S") are the menu-entries folder or above it; none
//     of either is the home folder or above it;
//   - menu entries ("E", "Q") are ".desktop" files directly in the menu-entries folder
//     that the package's record lists, or under the package's prefix ("<code>-") and not
//     under the prefix of a recorded package whose code name is this one's and more;
//   - once committed, the record it registers lists only files it writes ("R", "N"),
//     folders it makes ("M", or ones that no longer exist) and entries it writes ("E"),
//     besides what the package's record in the store lists already; an uninstallation's
//     record only files below its roots, and folders and entries as above.
// False, with the first path that is not, in `outside`.
bool journalConfined(const sJournal& j, const char* code, cApplicationConfig* store, _guardchar<char>& outside);
