// Where a journal's package may act: its folders, vouched for by its record in the store
// or, for folders no record names, any folder a package may have (packagefolders.h); and
// the check that every path a journal names lies there before any of it is obeyed.
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "instengine/journaldata.h"

// Whether everything the journal of package `code` names lies where that package may
// act, so that obeying it can never touch a file no installation of the package put
// there. The journal's integrity is its digest: one without (an earlier build's) acts
// only within the folders of the package's record.
//   - its roots ("D", the record's folder and bases) are the folders of the package's
//     record in `store` (when it has one) or, with a digest, any folder a package may
//     have (mayBePackageFolder); no root is a link;
//   - files ("R", "N", "O") lie below a root, reached without a link below it, and none
//     among the program's own files;
//   - made folders ("M") lie at or below a root, or (with a digest) on the way to one,
//     and none is the home folder or above it; the menu entries' folders ("S") are that
//     folder or on the way to it below the home folder;
//   - menu entries ("E", "Q") are ".desktop" files directly in the menu-entries folder
//     that the package's record lists, or under the package's prefix ("<code>-") and not
//     under the prefix of a recorded package whose code name is this one's and more;
//   - once committed, the record it registers lists only files it writes ("R", "N"),
//     folders it makes ("M", or ones that no longer exist) and entries it writes ("E"),
//     besides what the package's record in the store lists already; an uninstallation's
//     record only files below its roots and folders and entries as above.
// False with the first path that is not in `outside`.
bool journalConfined(const sJournal& j, const char* code, cApplicationConfig* store, _guardchar<char>& outside);
