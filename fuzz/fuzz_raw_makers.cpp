// libFuzzer target for the Sony, Samsung, Minolta and Sigma raw decoders: the first byte picks
// the decoder, the rest is the file. Each input is probed, decoded (small frames only, to keep
// runs fast) and asked for its embedded preview, whole and bounded. The seeds in
// fuzz/corpus/fuzz_raw_makers are small files written by the test kit (tests/picts/rawkit)
// behind their selector byte.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/pictdummy.h"
#include "picts/raw/minolta/pictmrw.h"
#include "picts/raw/samsung/pictsrw.h"
#include "picts/raw/sigma/pictx3f.h"
#include "picts/raw/sony/pictarw.h"

namespace {
cPictBase* make(unsigned kind) {
    switch (kind & 3) {
        case 0: return new cPictARW;
        case 1: return new cPictSRW;
        case 2: return new cPictMRW;
        default: return new cPictX3F;
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
