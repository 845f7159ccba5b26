// cPictTGA over cTgaReader.
#include "picts/tga/picttga.h"

#include "picts/tga/tgareader.h"

bool cPictTGA::validFor(cFileIOTarget* io, sPictInfo* info) {
    unsigned char b[18];
    long long n = peek(io, b, sizeof(b)), w = 0, h = 0;
    if (n != 18) return false;
    unsigned long long pos = io->get_fp(), size = io->size();
    if (pos > size || !cTgaReader::probe(b, (long long)(size - pos), w, h)) return false;
    if (info) {
        info->width = w;
        info->height = h;
        info->hasPreview = false;
    }
    return true;
}

bool cPictTGA::decode(cFileIOTarget* io) {
    startRows();
    _typebuf<unsigned char> data;
    if (!readAll(io, data)) return endRows(false);
    return endRows(cTgaReader::decode(data.ptr, data.count, *this) == 0);
}
