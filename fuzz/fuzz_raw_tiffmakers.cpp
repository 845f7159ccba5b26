// libFuzzer target for the TIFF-structured raw decoders of Nikon, Leaf, Hasselblad and
// Pentax: the first byte picks the decoder, the rest is the file. Each input is probed,
// decoded (small frames only, to keep runs fast) and asked for its embedded preview, whole
// and bounded. The seeds in fuzz/corpus/fuzz_raw_tiffmakers are small files written by the
// test kit (tests/picts/rawkit) behind their selector byte.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/pictdummy.h"
#include "picts/raw/hasselblad/pict3fr.h"
#include "picts/raw/leaf/pictmos.h"
#include "picts/raw/nikon/pictnef.h"
#include "picts/raw/pentax/pictpef.h"

namespace {
cPictBase* make(unsigned kind) {
    switch (kind & 3) {
        case 0: return new cPictNEF;
        case 1: return new cPictMOS;
        case 2: return new cPict3FR;
        default: return new cPictPEF;
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
