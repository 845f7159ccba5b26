// libFuzzer entry: probe and decode arbitrary bytes with cPictICNS (seeds: RLE elements with
// masks, PNG, JP2 and bare-codestream elements).
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/icns/picticns.h"
#include "picts/jpeg2000/j2kcodestream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cJ2KDecode::setThreads(1);  // JPEG 2000 elements decode on the fuzzer's thread
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictICNS probe;
    // Elements larger than the largest icon (1024 a side) are not decoded, to keep runs fast.
    if (probe.isPicture(&s, &info) && info.width * info.height > (1LL << 20)) return 0;
    cPictICNS d;
    d.decode(&s);
    return 0;
}
