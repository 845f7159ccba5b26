// libFuzzer entry: probe and decode arbitrary bytes with cPictICNS (seeds: RLE elements with
// masks, PNG, JP2 and bare-codestream elements).
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/icns/picticns.h"
#include "picts/jpeg2000/j2kcodestream.h"
#include "picts/sizecheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cJ2KDecode::setThreads(1);  // JPEG 2000 elements decode on the fuzzer's thread
    // Elements over the largest icon (1024 a side) are refused by the decoders' own budget
    // (picts/sizecheck.h), lowered from the program's default to keep runs fast: every input
    // still goes the whole way.
    setPictDecodeBudget(1 << 20, 256 << 20);
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictICNS probe;
    probe.isPicture(&s, &info);
    cPictICNS d;
    d.decode(&s);
    return 0;
}
