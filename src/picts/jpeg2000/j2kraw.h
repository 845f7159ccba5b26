// cJP2Raw: the raw bit reader of the JPEG 2000 bypass passes (T.800 D.6). Like the MQ decoder,
// it reads past the end of its segment as if a marker stood there, so a short segment decodes
// to something without reading outside it.
#pragma once

#include <cstddef>
#include <cstdint>

// Raw bits of the bypass passes, most significant first; after 0xFF the next byte carries
// 7 bits; past the end (or at a marker) 0xFF bytes are read.
class cJP2Raw {
public:
    void init(const uint8_t* data, size_t len) {
        myData = data;
        myLen = data ? len : 0;
        myPos = 0;
        myC = 0;
        myCt = 0;
    }
    inline int bit() {
        if (myCt == 0) {
            if (myC == 0xFF) {
                if (byteAt(myPos) > 0x8F) {
                    myC = 0xFF;
                    myCt = 8;
                } else {
                    myC = byteAt(myPos++);
                    myCt = 7;
                }
            } else {
                myC = byteAt(myPos++);
                myCt = 8;
            }
        }
        myCt--;
        return (int)((myC >> myCt) & 1);
    }

private:
    uint8_t byteAt(size_t p) const { return p < myLen ? myData[p] : 0xFF; }
    const uint8_t* myData = nullptr;
    size_t myPos = 0, myLen = 0;
    uint32_t myC = 0;
    int myCt = 0;
};
