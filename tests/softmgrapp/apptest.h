// Helpers of the application tests: running the staged program as a child with its own
// HOME, working folder and argv[0], and the paths of the development bundle.
#pragma once

#include <string>
#include <vector>

namespace apptest {

struct Result {
    int exitCode = -1;  // -1: did not start or did not exit normally
    std::string out, err;
};

// Runs `program` with `args` (argv[1]...) and argv[0] = `argv0` (the program path when
// empty), in `cwd` (unchanged when empty) with HOME = `home`.
Result runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& home,
                  const std::string& cwd = "", const std::string& argv0 = "");

// The staged development bundle's executable and icon (built with the tests).
std::string stagedProgram();
std::string stagedIcon();
// The example package folder.
std::string exampleDir();

// Makes a folder and its parents (mode 0755); false on failure.
bool makeDirs(const std::string& path);
// Copies a file with its mode bits.
bool copyFileMode(const std::string& from, const std::string& to);
bool exists(const std::string& path);

}  // namespace apptest
