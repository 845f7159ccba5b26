// cMd8BIM: parsing of "8BIM" resource lists.
#include "picts/exif/md8bim.h"

#include <cstring>

#include "picts/byteorder.h"

void cMd8BIM::clear() {
    myData.clear();
    myProps.clear();
    myCount = 0;
}

bool cMd8BIM::processMD(const void* data, long long size, bool bigEndian) {
    clear();
    if (!data || size <= 0) return false;
    if (!myData.set((const unsigned char*)data, size)) return false;
    const unsigned char* p = myData.ptr;
    long long pos = 0;
    while (pos < size) {
        // Signature, id, name length byte: at least 7 bytes.
        if (size - pos < 7) return false;
        bool sig = memcmp(p + pos, "8BIM", 4) == 0 || (!bigEndian && memcmp(p + pos, "MIB8", 4) == 0);
        if (!sig) return false;
        unsigned int id = rawGet16(p + pos + 4, bigEndian);
        // A Pascal name, padded so that length byte and name together are even.
        long long nameField = 1 + p[pos + 6];
        if (nameField & 1) nameField++;
        long long at = pos + 6 + nameField;
        if (size - at < 4) return false;
        unsigned long long len = rawGet32(p + at, bigEndian);
        at += 4;
        if (len > (unsigned long long)(size - at)) return false;
        if (myCount >= kMaxResources) return false;
        if (myCount == myProps.count && !myProps.reset(myProps.count ? myProps.count * 2 : 16)) return false;
        unsigned int key = id << 16;
        // Repeated ids get the next free key of their id.
        long long i = 0;
        while (i < myCount && myProps.ptr[i].key < key) i++;
        while (i < myCount && myProps.ptr[i].key == key && (key & 0xFFFF) != 0xFFFF) key++, i++;
        for (long long k = myCount; k > i; k--) myProps.ptr[k] = myProps.ptr[k - 1];
        myProps.ptr[i].key = key;
        myProps.ptr[i].data = p + at;
        myProps.ptr[i].size = (unsigned int)len;
        myCount++;
        // Data is padded to an even length; the padding may be missing at the very end.
        at += (long long)len;
        if ((len & 1) && at < size) at++;
        pos = at;
    }
    return true;
}

const cMd8BIM::sProp* cMd8BIM::prop(unsigned int key) const {
    long long lo = 0, hi = myCount;
    while (lo < hi) {
        long long mid = (lo + hi) / 2;
        if (myProps.ptr[mid].key < key)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < myCount && myProps.ptr[lo].key == key ? &myProps.ptr[lo] : nullptr;
}
