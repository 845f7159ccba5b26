// The process-wide hooks through which the lower layers reach the application: all set
// in one place, in one order, before the application object runs.
#pragma once

#include "ciplatform/windowmaker.h"

// Sets every process-wide hook (the order and why: processhooks.cpp, which also lists the
// mutable globals that stay). Call it once before cCIApplication::runApp; calling it again
// changes nothing. `displayFactory` opens the window maker on a display (null: only the
// headless maker); `translateSignals` turns faults into cException (tests pass false and
// leave a fault to the sanitizers' report).
void installProcessHooks(cWindowMaker::tMakerFactory displayFactory, bool translateSignals);
