// Helpers shared by the test programs: private temporary folders, files, peer tools.
#pragma once

#include <string>
#include <vector>

namespace testutil {

// A private temporary folder (mode 0700) removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return myPath; }
    std::string file(const std::string& name) const { return myPath + "/" + name; }

private:
    std::string myPath;
};

std::vector<unsigned char> readFile(const std::string& path);
bool writeFile(const std::string& path, const void* data, size_t size);
inline bool writeFile(const std::string& path, const std::vector<unsigned char>& d) {
    return writeFile(path, d.data(), d.size());
}

// True when `tool` is found on PATH (tests that need a peer skip without it).
bool haveTool(const std::string& tool);
// Runs an argument vector, returns its exit status (-1 when it could not start);
// standard output is collected into `out` when given.
int run(const std::vector<std::string>& argv, std::string* out = nullptr);

// Deterministic pseudo-random bytes.
std::vector<unsigned char> randomBytes(size_t n, unsigned seed);

}  // namespace testutil
