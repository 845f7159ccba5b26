// libFuzzer target: the compiled rich-document loader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "cihlpdoc/sidocloader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cSiDocLoader loader;
    if (loader.load(data, (long long)size)) {
        for (int lang = 0; lang <= 10; lang++) loader.forLang(lang);
    }
    return 0;
}
