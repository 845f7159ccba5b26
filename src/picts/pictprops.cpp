// Typed picture properties and their id-sorted table.
#include "picts/pictprops.h"

#include "picts/pictbase.h"

namespace {
// Fixed types of ids 0-21, in id order.
const signed char kPropTypes[ppCount] = {
    cPictProp::tInt,    cPictProp::tTime,   cPictProp::tTime,   cPictProp::tString, cPictProp::tString,
    cPictProp::tString, cPictProp::tDouble, cPictProp::tDouble, cPictProp::tInt,    cPictProp::tDouble,
    cPictProp::tInt,    cPictProp::tString, cPictProp::tString, cPictProp::tImage,  cPictProp::tImage,
    cPictProp::tDouble, cPictProp::tDouble, cPictProp::tTime,   cPictProp::tInt,    cPictProp::tInt,
    cPictProp::tInt,    cPictProp::tRaw,
};
}  // namespace

cPictProp::cPictProp(int id, int type) : myId(id), myType(type) {}

cPictProp::~cPictProp() { delete myImage; }

int cPictProp::typeOfId(int id) { return id >= 0 && id < ppCount ? kPropTypes[id] : -1; }

bool cPictProp::setInt(long long v) {
    if (myType != tInt) return false;
    intValue = v;
    return true;
}

bool cPictProp::setDouble(double v) {
    if (myType != tDouble) return false;
    doubleValue = v;
    return true;
}

bool cPictProp::setTime(const sTimestamp& v) {
    if (myType != tTime) return false;
    timeValue = v;
    return true;
}

bool cPictProp::setString(const char* s, long long length) {
    if (myType != tString) return false;
    return stringValue.set(s, length);
}

bool cPictProp::setImage(cPictBase* p) {
    if (myType != tImage) return false;
    if (myImage != p) delete myImage;
    myImage = p;
    return true;
}

cPictBase* cPictProp::takeImage() {
    cPictBase* p = myImage;
    myImage = nullptr;
    return p;
}

bool cPictProp::setRaw(const void* data, long long size, unsigned long long offset) {
    if (myType != tRaw || size < 0) return false;
    if (size == 0 || !data) {
        rawValue.clear();
    } else if (!rawValue.set((const unsigned char*)data, size)) {
        return false;
    }
    rawOffset = offset;
    return true;
}

long long cPictPropTable::lowerBound(int id) const {
    long long lo = 0, hi = myCount;
    while (lo < hi) {
        long long mid = (lo + hi) / 2;
        if (myItems.ptr[mid]->id() < id)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

cPictProp* cPictPropTable::find(int id) const {
    long long i = lowerBound(id);
    return i < myCount && myItems.ptr[i]->id() == id ? myItems.ptr[i] : nullptr;
}

cPictProp* cPictPropTable::findOrCreate(int id) {
    long long i = lowerBound(id);
    if (i < myCount && myItems.ptr[i]->id() == id) return myItems.ptr[i];
    int type = cPictProp::typeOfId(id);
    if (type < 0) return nullptr;
    if (myCount == myItems.count && !myItems.reset(myItems.count ? myItems.count * 2 : 8)) return nullptr;
    cPictProp* p = new cPictProp(id, type);
    for (long long k = myCount; k > i; k--) myItems.ptr[k] = myItems.ptr[k - 1];
    myItems.ptr[i] = p;
    myCount++;
    return p;
}

bool cPictPropTable::remove(int id) {
    long long i = lowerBound(id);
    if (i >= myCount || myItems.ptr[i]->id() != id) return false;
    cPictProp* p = myItems.ptr[i];
    for (long long k = i; k + 1 < myCount; k++) myItems.ptr[k] = myItems.ptr[k + 1];
    myCount--;
    delete p;
    return true;
}

void cPictPropTable::clear() {
    // Detach first: deleting an image may reach back into another table.
    long long n = myCount;
    myCount = 0;
    for (long long i = 0; i < n; i++) delete myItems.ptr[i];
    myItems.clear();
}

void cPictPropTable::moveTo(cPictPropTable& to) {
    if (&to == this) return;
    to.clear();
    to.myItems.swap(myItems);
    to.myCount = myCount;
    myCount = 0;
}
