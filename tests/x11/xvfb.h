// A private Xvfb server for the X11 tests (started once, on a display number it picks
// itself, stopped at exit) and peer tools run while our loop keeps serving the display.
#pragma once

#include <string>
#include <vector>

class cX11WindowMaker;

namespace xvfbtest {

// ":N" of the running server, or "" when Xvfb is absent or would not start (the reason
// is in `why`).
const std::string& display(std::string* why = nullptr);

// Runs argv with DISPLAY set to our server while the maker's loop runs; returns the exit
// status (-1: could not start, -2: killed after timeoutMs). stdin gets `input` when given.
int runPumping(cX11WindowMaker* maker, const std::vector<std::string>& argv, std::string* out = nullptr,
               const std::string* input = nullptr, int timeoutMs = 60000);
// Starts argv in the background (DISPLAY set); returns its pid or -1. Its standard
// output is readable (non-blocking) from *outFd when given, else dropped.
int spawn(const std::vector<std::string>& argv, const std::string* input = nullptr, int* outFd = nullptr);
// Waits for a spawned process while pumping (collecting its output from outFd, -1 for
// none, closed here); exit status, or -2 after killing it at the timeout.
int waitPumping(cX11WindowMaker* maker, int pid, int outFd, std::string* out, int timeoutMs);

}  // namespace xvfbtest
