// cWakeChannel: the loop's wake-up primitive. Any thread may signal it; the UI thread
// waits on it (or polls its descriptor) and drains it.
#pragma once

class cWakeChannel {
public:
    cWakeChannel();
    ~cWakeChannel();
    cWakeChannel(const cWakeChannel&) = delete;
    cWakeChannel& operator=(const cWakeChannel&) = delete;

    // Async-signal-safe and callable from any thread.
    void signal();
    // Waits until signalled or ms pass (negative: no limit); true when signalled.
    // Does not consume the signal: drain() does.
    bool wait(int ms);
    // Consumes pending signals; true when there was one.
    bool drain();
    // The descriptor to poll for reading (an eventfd, or a pipe's read end).
    int fd() const { return myFd[0]; }

private:
    int myFd[2];
};
