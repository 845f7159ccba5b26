// libFuzzer entry: the Windows executable reader (headers, resource tree, version nodes,
// icon choice and decode) on arbitrary bytes, with and without a preview wish.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "propreader/winexeprops.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    if (!cWinExeProps::validFor(&s)) {
        // Still walk the bytes as a list of version nodes.
        cWinExeProps::tStrMap map;
        s.set_fp(0);
        if (size <= 0xFFFF) cWinExeProps::loadStrProps(&s, map);
        return 0;
    }
    cWinExeProps props;
    props.setPreviewPreferrences(size & 1 ? 16 : -1, size & 1 ? 16 : -1);
    props.load(&s, 0, true);
    return 0;
}
