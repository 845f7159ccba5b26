// Fuzz target: configuration hive files. Any bytes must parse or fail cleanly; what
// parses must encode and parse again to the same bytes. Each input is tried as it is
// and once more with its body length and checksums made right, so that mutations reach
// the records behind them.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "configstore/appconfig_store.h"

static void tryHive(const uint8_t* data, size_t size) {
    cConfigSection top;
    if (cfgParseHive(data, (long long)size, top) != kHiveOk) return;
    _typebuf<unsigned char> once, twice;
    if (!cfgEncodeHive(top, once)) abort();
    cConfigSection again;
    if (cfgParseHive(once.ptr, once.count, again) != kHiveOk) abort();
    if (!cfgEncodeHive(again, twice)) abort();
    if (once.count != twice.count || memcmp(once.ptr, twice.ptr, (size_t)once.count) != 0) abort();
}

static void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tryHive(data, size);
    if (size < (size_t)kCfgHeaderSize || size > (size_t)kCfgMaxFile) return 0;
    std::vector<uint8_t> fixed(data, data + size);
    memcpy(fixed.data(), "QMXC", 4);
    put32(&fixed[12], (uint32_t)(size - kCfgHeaderSize));
    put32(&fixed[16], (uint32_t)crc32_z(0, fixed.data() + kCfgHeaderSize, size - kCfgHeaderSize));
    put32(&fixed[20], (uint32_t)crc32_z(0, fixed.data(), 20));
    tryHive(fixed.data(), size);
    return 0;
}
