// What an interrupted run whose journal was set aside may have left beside a package's
// files ("<target>.tmp", "<target>.bkp"), and which of it a later run can tell is that
// run's. With no journal to name them, such names may as well be the user's: only what
// the package itself vouches for is taken, everything else stays and is named.
#pragma once

#include "base/buffers.h"
#include "base/lists.h"
#include "instengine/installctx.h"
#include "instengine/installfs.h"
#include "instengine/pkgregistry.h"

// What takeRunLeftovers found.
enum eLeftovers {
    eLeftoversNone = 0,    // nothing is left beside the package's files that may be the user's
    eLeftoversStay = 1,    // a name that cannot be told from the user's stays (`left`)
    eLeftoversFailed = 2,  // one of the run's could not be taken (`left`)
};

// While a journal of the package set aside is in force (setAsideInForce), takes what the
// interrupted run left beside the files the installation writes (ctx.copiedFiles) and
// the files its record lists:
//   - a "<target>.tmp" whose content is a prefix of, or all of, the package's own item
//     for that target, at least one byte of it (the run was writing it; an empty file
//     may as well be the user's) is removed;
//   - a "<target>.bkp" beside a missing target is moved back when the package is the
//     version its record lists and the backup holds exactly its item for that target
//     (what the run moved aside: an uninstallation's, say).
// Anything else there is left as it is and listed in ctx.leftovers, every such name, so
// that one run tells the user all of them; `left` is the first. A name the record lists
// is the earlier version's file, never a leftover. The record keeps no
// content, so an update's backup of the earlier version cannot be told from a file of the
// user's. A name that could not be taken ends the search (`left`, eLeftoversFailed).
// Without a journal in force nothing is looked at.
eLeftovers takeRunLeftovers(sPkgInstallContext& ctx, cInstallFS* fs, _guardchar<char>& left);

// The uninstallation's side: the names an interrupted run may have left while a journal
// of the package set aside is in force, none of them taken (without the package nothing
// vouches for them): those beside the files of `record`, and every other "*.tmp" and
// "*.bkp" in the folders of its files and, all the way down, in the folders the package
// made within its own folder and bases (where a run that added a file made its folder),
// and those of its menu entries. Files a record lists are no leftovers. False when they
// could not be listed.
bool findRunLeftovers(const char* journalPath, cApplicationConfig* store, const char* code,
                      const sPkgRegistryRecord& record, _List<_guardchar<char> >& out);
// The same names, whether a journal set aside is in force or not: for a run that finished
// an interrupted uninstallation, which settled the journal the interrupted run found in
// force (sRecoveryReport::asideWasInForce).
bool listRunLeftovers(cApplicationConfig* store, const char* code, const sPkgRegistryRecord& record,
                      _List<_guardchar<char> >& out);
