// cPictXPM over cXpmReader.
#include "picts/xpm/pictxpm.h"

#include "picts/xpm/xpmreader.h"

bool cPictXPM::validFor(cFileIOTarget* io, sPictInfo* info) {
    unsigned char b[4096];
    long long n = peek(io, b, sizeof(b)), w = 0, h = 0;
    if (!cXpmReader::probe(b, n, w, h)) return false;
    if (info) {
        info->width = w;
        info->height = h;
        info->hasPreview = false;
    }
    return true;
}

bool cPictXPM::decode(cFileIOTarget* io) {
    startRows();
    _typebuf<unsigned char> data;
    if (!readAll(io, data)) return endRows(false);
    return endRows(cXpmReader::decode(data.ptr, data.count, *this) == 0);
}
