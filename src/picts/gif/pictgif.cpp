// cPictGIF over cGifReader.
#include "picts/gif/pictgif.h"

#include "picts/gif/gifreader.h"

bool cPictGIF::validFor(cFileIOTarget* io, sPictInfo* info) {
    unsigned char b[16];
    long long n = peek(io, b, sizeof(b)), w = 0, h = 0;
    if (!cGifReader::probe(b, n, w, h)) return false;
    if (info) {
        info->width = w;
        info->height = h;
        info->hasPreview = false;
    }
    return true;
}

bool cPictGIF::decode(cFileIOTarget* io) {
    startRows();
    _typebuf<unsigned char> data;
    if (!readAll(io, data)) return endRows(false);
    return endRows(cGifReader::decode(data.ptr, data.count, *this) == 0);
}
