// libFuzzer target: EXIF metadata and 8BIM lists from arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/exif/exifdecoder.h"
#include "picts/exif/md8bim.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(data, (long long)size);
    cPictBase pic;
    cExifDecoder ex;
    ex.decode(&pic, &io, 0);
    cMd8BIM md;
    md.processMD(data, (long long)size, size & 1);
    return 0;
}
