// The MQ decoder's start (T.88 E.3.5 INITDEC); decoding itself is inline in the header.
#include "picts/jbig2/mqdecoder.h"

void cMQDecoder::init(const unsigned char* data, long long size) {
    myData = data;
    mySize = size > 0 ? size : 0;
    myPos = 0;
    myC = ((mySize ? myData[0] : 0xFF) ^ 0xFFu) << 16;
    byteIn();
    myC <<= 7;
    myCT -= 7;
    myA = 0x8000;
}

