// The installation journal's reader on arbitrary text (parsing only: no file is touched).
#include <cstddef>
#include <cstdint>

#include "instengine/journalformat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bool committed = false;
    long long entries = 0;
    parseJournalText((const char*)data, (long long)size, committed, entries);
    return 0;
}
