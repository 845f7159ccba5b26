// cProgressNotifyTarget: how a long operation reports its progress and learns
// that it should stop.
#pragma once

class cProgressNotifyTarget {
public:
    virtual ~cProgressNotifyTarget() {}
    // percent from 0 to 100; false asks the caller to stop.
    virtual bool notifyProgress(double percent) = 0;
    // The operation entered stage `stage` (numbered by the caller); false asks it to stop.
    virtual bool notifyStage(int stage) = 0;
};
