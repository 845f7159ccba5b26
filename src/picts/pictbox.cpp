// Box headers of ISO base-media style containers: every size is checked against what is
// left, so a walk that steps by box sizes always moves forward and stays inside its parent.
#include "picts/pictbox.h"

#include "picts/byteorder.h"

namespace {

// Checks the size of a header whose first 8 bytes (and the 64-bit size, when announced)
// are at h.
ePictBoxRead checkBox(const unsigned char* h, unsigned long long left, unsigned int flags, sPictBox& box) {
    box.type = be32(h + 4);
    box.toEnd = false;
    if (box.header == 16) {
        box.size = (unsigned long long)be32(h + 8) << 32 | be32(h + 12);
        if ((flags & pbSize32) && (box.size >> 32)) return pbBad;
    } else if (box.size == 0) {
        if (!(flags & pbAllowToEnd)) return pbBad;
        box.toEnd = true;
        box.size = left;
    }
    if (box.size < box.header) return pbBad;
    return box.size <= left ? pbBox : pbPastEnd;
}

}  // namespace

ePictBoxRead pictBoxAt(const unsigned char* b, unsigned long long left, unsigned int flags, sPictBox& box) {
    if (left < 8) return pbNone;
    box.size = be32(b);
    box.header = box.size == 1 ? 16 : 8;
    if (left < box.header) return pbBad;
    return checkBox(b, left, flags, box);
}

ePictBoxRead pictReadBox(cFileIOTarget* io, unsigned long long pos, unsigned long long end, unsigned int flags,
                         sPictBox& box) {
    if (pos > end || end - pos < 8) return pbNone;
    const unsigned long long left = end - pos;
    unsigned char h[16];
    if (!io->set_fp(pos) || !io->readf(h, 8)) return pbBad;
    box.size = be32(h);
    box.header = box.size == 1 ? 16 : 8;
    if (box.header == 16 && (left < 16 || !io->readf(h + 8, 8))) return pbBad;
    return checkBox(h, left, flags, box);
}
