// libFuzzer entry: probe, page through and preview arbitrary bytes with both DICOM readers.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/dicom/pictdicom.h"

namespace {
void exercise(cPictDICOM& d, cFileIOTarget* s) {
    cPictBase::sPictInfo info;
    if (!d.isPicture(s, &info)) return;
    // The first four frames (each goes through the same reader), then the last one's preview.
    int pages = d.getNumPages(s);
    for (int i = 0; i < pages && i < 4; i++) {
        long long w, h;
        d.getPageSize(s, i, w, h);
        d.decodePage(s, i);
    }
    cPictDummy preview;
    d.decodePagePreview(s, &preview, 16, 16, pages - 1, true, 0);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    cPictDICOM p10;
    exercise(p10, &s);
    s.set_fp(0);
    cPictDICOMLegacy legacy;
    exercise(legacy, &s);
    return 0;
}
