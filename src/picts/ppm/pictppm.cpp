// cPictPPM over cPpmReader.
#include "picts/ppm/pictppm.h"

#include "picts/ppm/ppmreader.h"

bool cPictPPM::validFor(cFileIOTarget* io, sPictInfo* info) {
    unsigned char b[256];
    long long n = peek(io, b, sizeof(b)), w = 0, h = 0;
    if (!cPpmReader::probe(b, n, w, h)) return false;
    if (info) {
        info->width = w;
        info->height = h;
        info->hasPreview = false;
    }
    return true;
}

bool cPictPPM::decode(cFileIOTarget* io) {
    startRows();
    _typebuf<unsigned char> data;
    if (!readAll(io, data)) return endRows(false);
    return endRows(cPpmReader::decode(data.ptr, data.count, *this) == 0);
}
