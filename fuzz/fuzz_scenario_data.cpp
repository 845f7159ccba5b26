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
    if (size == 0 || size > (1u << 20)) return 0;  // an empty body has no section; 1 MiB: past -max_len
    // An odd size: the body in runs of 4 KiB, each ended by a full flush as the maker ends
    // its blocks (the load inflates each whole); an even one: one stream.
    std::vector<unsigned char> file(49 + compressBound((uLong)size) + size / 256 + 64);
    uLongf zn = (uLongf)(file.size() - 49);
    z_stream z;
    memset(&z, 0, sizeof(z));
    if (deflateInit(&z, 1) != Z_OK) return 0;
    z.next_out = file.data() + 49;
    z.avail_out = (uInt)zn;
    const size_t run = size & 1 ? 4096 : size;
    int r = Z_OK;
    for (size_t at = 0; at < size && r == Z_OK; at += run) {
        z.next_in = (Bytef*)data + at;
        z.avail_in = (uInt)(size - at < run ? size - at : run);
        r = deflate(&z, at + run >= size ? Z_FINISH : Z_FULL_FLUSH);
    }
    zn -= z.avail_out;
    deflateEnd(&z);
    if (r != Z_STREAM_END) return 0;
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
        cSoftPkgScenario::cCopiedFiles files;
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
