// cPictICNS over cIcnsReader.
#include "picts/icns/picticns.h"

#include "picts/icns/icnsreader.h"

namespace {
// Icon families are small; the probe reads at most this much to walk the element list.
const long long kMaxProbe = 64LL << 20;
}  // namespace

bool cPictICNS::validFor(cFileIOTarget* io, sPictInfo* info) {
    unsigned char b[8];
    if (peek(io, b, 8) != 8 || memcmp(b, "icns", 4) != 0) return false;
    unsigned long long pos = io->get_fp();
    _typebuf<unsigned char> data;
    bool ok = readAll(io, data, kMaxProbe);
    io->set_fp(pos);
    long long w = 0, h = 0;
    if (!ok || !cIcnsReader::probe(data.ptr, data.count, w, h)) return false;
    if (info) {
        info->width = w;
        info->height = h;
        info->hasPreview = false;
    }
    return true;
}

bool cPictICNS::decode(cFileIOTarget* io) {
    startRows();
    _typebuf<unsigned char> data;
    if (!readAll(io, data)) return endRows(false);
    return endRows(cIcnsReader::decode(data.ptr, data.count, *this) == cIcnsReader::eOk);
}
