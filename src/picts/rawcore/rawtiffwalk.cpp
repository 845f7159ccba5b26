// Nested directory walks of the raw decoders.
#include "picts/rawcore/rawtiffwalk.h"

bool cRawTiffWalker::walkNested(unsigned int offset) {
    return walkNested(myIO, myBigEndian, offset, mySize);
}

bool cRawTiffWalker::walkNested(cFileIOTarget* io, bool bigEndian, unsigned int offset, unsigned long long size) {
    if (!io || !offset || myNesting >= kMaxNesting) return false;
    // Offsets of another stream are another space; only same-stream walks can cycle.
    if (io == myIO && !markVisited(offset)) return false;
    cFileIOTarget* savedIO = myIO;
    const bool savedBE = myBigEndian, savedBig = myBigTiff;
    const unsigned long long savedPos = myPos, savedSize = mySize;
    const unsigned int savedNext = myNextOffset;
    const int savedError = myError;
    myNesting++;
    bool ok = processStream(io, bigEndian, io == myIO ? myBigTiff : false, offset, size);
    myNesting--;
    myIO = savedIO;
    myBigEndian = savedBE;
    myBigTiff = savedBig;
    myPos = savedPos;
    mySize = savedSize;
    myNextOffset = savedNext;
    myError = savedError;
    return ok;
}
