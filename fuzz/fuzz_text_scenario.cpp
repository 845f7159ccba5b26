// libFuzzer entry: the input is a text scenario, loaded in an empty private folder.
// "/" is mapped to "_" so that no [Install] line can reach outside that folder
// (give the corpus as an absolute path: the target changes the working folder).
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "base/fileio.h"
#include "softmgr/softpkgscenario.h"

namespace {

std::string dir;

// The private folder goes when the fuzzer ends its runs.
void removeDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 16)) return 0;  // never taken: scripts/fuzz.sh gives at most 64 KiB (-max_len)
    if (dir.empty()) {
        char tmpl[] = "/tmp/qmxfuzz.XXXXXX";
        if (!mkdtemp(tmpl)) return 0;
        dir = tmpl;
        atexit(removeDir);
        if (chdir(dir.c_str()) != 0) return 0;
    }
    std::string text((const char*)data, size);
    for (char& c : text)
        if (c == '/') c = '_';
    {
        cFileIO f;
        if (!f.create("scenario.txt") || !f.writef(text.data(), (long long)text.size())) return 0;
    }
    cSoftPkgScenario s;
    int line = 0;
    s.loadTextConfig("scenario.txt", line);
    return 0;
}
