// cPictPNG over cPngReader.
#include "picts/png/pictpng.h"

#include "picts/png/pngreader.h"

bool cPictPNG::validFor(cFileIOTarget* io, sPictInfo* info) {
    if (!io) return false;
    unsigned long long pos = io->get_fp();
    sPngHeader h;
    bool ok = cPngReader::readHeader(io, h) == cPngReader::eOk;
    io->set_fp(pos);
    if (ok && info) {
        info->width = h.width;
        info->height = h.height;
        info->hasPreview = false;
    }
    return ok;
}

bool cPictPNG::decode(cFileIOTarget* io) {
    startRows();
    cPngReader reader;
    myError = reader.decode(io, *this);
    return endRows(myError == cPngReader::eOk);
}
