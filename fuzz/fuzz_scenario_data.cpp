// libFuzzer entry: the input is a scenario data body; it is wrapped in a valid header
// (lengths, digest, zlib stream) so that every run reaches the section parser.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/memio.h"
#include "hash/sha256.h"
#include "softmgr/softpkgscenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 20)) return 0;
    std::vector<unsigned char> file(49 + compressBound((uLong)size));
    uLongf zn = (uLongf)(file.size() - 49);
    if (compress2(file.data() + 49, &zn, data, (uLong)size, 1) != Z_OK) return 0;
    memcpy(file.data(), "QMXSOPKG\x01", 9);
    uint32_t lens[2] = {(uint32_t)size, (uint32_t)zn};
    for (int i = 0; i < 2; i++)
        for (int k = 0; k < 4; k++) file[9 + i * 4 + k] = (unsigned char)(lens[i] >> (8 * k));
    SHA2Hash(data, file.data() + 17, size);
    file.resize(49 + zn);

    cBufWrapperIO in(file.data(), (long long)file.size());
    cSoftPkgScenario s;
    if (s.loadBinConfig(&in)) {
        // What the installer asks of a package that loaded.
        s.setStr(-1, "pgm", "/tmp/fuzz");
        _List<cSoftPkgScenario::sCopiedFile> files;
        _List<cSoftPkgScenario::sMenuItemDef> menu;
        _List<cSoftPkgScenario::sOnCompletionRun> runs;
        s.getCopiedFiles(files);
        s.getMenuItems(menu);
        s.getOnCompletionRun(runs);
        s.requiresSize(65536);
        for (auto* f = files.head; f; f = f->next) {
            cFileIOTarget* item = s.file((int)f->value.item);
            unsigned char buf[4096];
            if (item)
                while (item->read(buf, sizeof(buf)) > 0) {
                }
            delete item;
        }
        cMemIOTarget out;
        s.saveBinConfig(&out);
    }
    return 0;
}
