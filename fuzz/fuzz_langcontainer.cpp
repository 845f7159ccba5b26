// Feeds arbitrary bytes to the language container loader, as a whole container and,
// past its checksum, as an unpacked table; a loaded table is written and read back.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ui/lang.h"
#include "ui/langcontainer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cCiomLang lang;
    loadCiomLangData(data, (long long)size, lang);
    if (parseCiomLangTable(data, (long long)size, lang)) {
        _typebuf<unsigned char> again;
        if (!writeCiomLangData(lang, -1, again)) __builtin_trap();
        cCiomLang back;
        if (!loadCiomLangData(again.ptr, again.count, back)) __builtin_trap();
        for (const cCiomLangData* s = lang.nextSection(nullptr); s; s = lang.nextSection(s))
            for (int i = 0; i < s->count(); i++) {
                const char* a = s->string(i);
                const char* b = back.string(s->name(), i);
                if ((a == nullptr) != (b == nullptr) || (a && strcmp(a, b) != 0)) __builtin_trap();
            }
    }
    return 0;
}
