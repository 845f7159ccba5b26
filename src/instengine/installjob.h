// The installation job: every file written beside its target and moved into place, the
// replaced files kept as backups until the package is registered, a journal of the files
// in flight so that an interrupted run is undone by the next one (journal.h), the
// Software Manager copy, shortcuts and the package's record in the store.
#pragma once

#include "base/progress.h"
#include "instengine/installctx.h"
#include "instengine/installfs.h"

// How many stages a run reports (4 + the files to install) and the index of the file
// stages' first.
int installStageCount(sPkgInstallContext& ctx);

// Runs the installation on the calling thread: stages and progress to `progress` (a stop
// is honoured while a file is unpacked), questions to `asker`. Stores the detailed
// result in ctx.result (and the path concerned in ctx.messagePath); returns 0 when the
// installation is complete and registered, 1 otherwise.
unsigned int runInstallJob(sPkgInstallContext& ctx, cProgressNotifyTarget* progress, cJobAsker* asker,
                           cInstallFS* fs = nullptr);
