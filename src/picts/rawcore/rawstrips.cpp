#include "picts/rawcore/rawstrips.h"

bool rawStripsInFile(const _typebuf<unsigned int>& offsets, _typebuf<unsigned int>& counts,
                     unsigned long long fileSize, unsigned long long& total) {
    const long long strips = offsets.count;
    if (!counts.count) {
        if (strips != 1 || offsets.ptr[0] >= fileSize || !counts.set(1)) return false;
        const unsigned long long rest = fileSize - offsets.ptr[0];
        counts.ptr[0] = (unsigned int)(rest > 0xFFFFFFFFULL ? 0xFFFFFFFFULL : rest);
    }
    total = 0;
    for (long long i = 0; i < strips; i++) {
        if ((unsigned long long)offsets.ptr[i] + counts.ptr[i] > fileSize) return false;
        total += counts.ptr[i];
    }
    return true;
}
