// Journals set aside: the name a refused journal is moved to, whether one is in force for
// its package, and settling them once the package's next run completes.
//
// Nothing a set-aside journal names is taken; while one is in force its package's runs
// take only what they can tell is the interrupted run's (leftovers.h).
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "instengine/installfs.h"

// A set-aside journal's name: "<journal>.refused", or beside an earlier one
// "<journal>.refused~<n>" (no code name holds a "~").
const char kSetAsideSuffix[] = ".refused";

// Moves a refused journal aside under a free name (the earlier ones set aside stay):
// there is always one; false when it could not be moved.
bool setAsideJournal(const char* journalPath, cInstallFS* fs, _guardchar<char>& out);

// Whether a journal of the package set aside beside `journalPath` is in force: not yet
// settled by a completed run of the package, and set aside no earlier than the package's
// registration in `store` (any, when it has none). A folder that cannot be listed may
// hold one: in force.
bool setAsideInForce(const char* journalPath, cApplicationConfig* store, const char* code);
// Settles the package's set-aside journals (they stay, read-only, under their names): its
// run completed.
void settleSetAside(const char* journalPath);
