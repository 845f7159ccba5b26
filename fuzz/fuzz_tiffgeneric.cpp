// libFuzzer target: the TIFF directory walker, following every chain and typed getter.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/tiffwalk/tiffgeneric.h"

namespace {
class cAllGetters : public cTiffGeneric {
public:
    bool onTag(int tag, int type, const void* data, int size) override {
        sTagProcessParam p = {tag, type, data, size};
        _typebuf<unsigned int> u;
        _typebuf<double> d;
        _typebuf<int> i;
        unsigned v;
        double f;
        getValsU32(p, u);
        getValsDouble(p, d);
        getValsI32(p, i);
        getValU32(p, v);
        getValDouble(p, f);
        return true;
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(data, (long long)size);
    cAllGetters w;
    if (!w.processStream(&io, ~0ULL)) return 0;
    while (w.nextOffset() && w.markVisited(w.nextOffset()))
        if (!w.processStream(&io, w.bigEndian(), w.bigTiff(), w.nextOffset(), ~0ULL)) break;
    return 0;
}
