// Fuzz target: configuration hive files. Any bytes must parse or fail cleanly; what
// parses must encode and parse again to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ui/appconfig_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cConfigSection top;
    if (cfgParseHive(data, (long long)size, top) != kHiveOk) return 0;
    _typebuf<unsigned char> once, twice;
    if (!cfgEncodeHive(top, once)) abort();
    cConfigSection again;
    if (cfgParseHive(once.ptr, once.count, again) != kHiveOk) abort();
    if (!cfgEncodeHive(again, twice)) abort();
    if (once.count != twice.count || memcmp(once.ptr, twice.ptr, (size_t)once.count) != 0) abort();
    return 0;
}
