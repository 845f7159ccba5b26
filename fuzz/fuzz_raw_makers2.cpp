// libFuzzer target for the Panasonic, Olympus, Phase One and Fujifilm raw decoders: the first
// byte picks the decoder, the rest is the file. Each input is probed, decoded (small frames
// only, to keep runs fast) and asked for its embedded preview, whole and bounded. The seeds
// in fuzz/corpus/fuzz_raw_makers2 are small files written by the test kit (tests/picts/rawkit)
// behind their selector byte.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/pictdummy.h"
#include "picts/raw/fuji/pictraf.h"
#include "picts/raw/olympus/pictorf.h"
#include "picts/raw/panasonic/pictrwl.h"
#include "picts/raw/phaseone/pictiiq.h"

namespace {
cPictBase* make(unsigned kind) {
    switch (kind & 3) {
        case 0: return new cPictRWL;
        case 1: return new cPictORF;
        case 2: return new cPictIIQ;
        default: return new cPictRAF;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    cBufWrapperIO io(data + 1, (long long)size - 1);
    cPictBase* p = make(data[0]);
    cPictBase::sPictInfo info;
    if (p->isPicture(&io, &info)) {
        if (info.width > 0 && info.height > 0 && info.width * info.height <= (1 << 16)) {
            io.set_fp(0);
            p->decode(&io);
        }
        cPictDummy whole, bounded;
        io.set_fp(0);
        p->getPreview(&io, &whole, nullptr, nullptr);
        long long mw = 16, mh = 16;
        io.set_fp(0);
        p->getPreview(&io, &bounded, &mw, &mh);
    }
    delete p;
    return 0;
}
