// The MQ decoder's probability table and byte input (T.88 Table E.1, Figure E.19).
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

