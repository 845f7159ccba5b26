// cPictPCX over cPcxReader.
#include "picts/pcx/pictpcx.h"

#include "picts/pcx/pcxreader.h"

bool cPictPCX::validFor(cFileIOTarget* io, sPictInfo* info) {
    unsigned char b[128];
    long long n = peek(io, b, sizeof(b)), w = 0, h = 0;
    if (!cPcxReader::probe(b, n, w, h)) return false;
    if (info) {
        info->width = w;
        info->height = h;
        info->hasPreview = false;
    }
    return true;
}

bool cPictPCX::decode(cFileIOTarget* io) {
    startRows();
    _typebuf<unsigned char> data;
    if (!readAll(io, data)) return endRows(false);
    return endRows(cPcxReader::decode(data.ptr, data.count, *this) == 0);
}
