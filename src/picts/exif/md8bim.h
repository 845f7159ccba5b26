// cMd8BIM: a list of "8BIM" image resources (as found in APP13 blocks and TIFF tag 34377).
#pragma once

#include "base/buffers.h"

class cMd8BIM {
public:
    struct sProp {
        unsigned int key;  // resource id << 16, plus a running number for repeated ids
        const unsigned char* data;
        unsigned int size;
    };
    enum { kMaxResources = 4096 };

    cMd8BIM() {}
    cMd8BIM(const cMd8BIM&) = delete;
    cMd8BIM& operator=(const cMd8BIM&) = delete;

    // Parses the list (the data is copied); false on a malformed or truncated list, with
    // the resources before the fault kept.
    bool processMD(const void* data, long long size, bool bigEndian);
    // The resource's data and size, or null.
    const sProp* prop(unsigned int key) const;
    long long count() const { return myCount; }
    void clear();

private:
    _typebuf<unsigned char> myData;
    _typebuf<sProp> myProps;  // sorted by key
    long long myCount = 0;
};
