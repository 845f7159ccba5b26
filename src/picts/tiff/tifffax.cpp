// TIFF compressions 3 and 4 (CCITT T.4 and T.6): the strip's bytes through the fax decoder.
#include "picts/fax/faxdecoder.h"
#include "picts/tiff/picttiff.h"

namespace {

bool decodeFax(const _typebuf<unsigned char>& in, sDecomress& rec, int coding, bool twoD,
               unsigned short fillOrder) {
    if (rec.bits != 1 || rec.samples != 1) return false;
    cFaxDecoder d(rec.width, rec.rows, coding, twoD, fillOrder == 2, false);
    return d.decode(in.ptr, in.count, rec.output);
}

}  // namespace

bool cPictTIFF::decompressFax3(const _typebuf<unsigned char>& in, sDecomress& rec) {
    return decodeFax(in, rec, cFaxDecoder::fcT4, (myT4Options & 1) != 0, myFillOrder);
}

bool cPictTIFF::decompressFax4(const _typebuf<unsigned char>& in, sDecomress& rec) {
    return decodeFax(in, rec, cFaxDecoder::fcT6, false, myFillOrder);
}
