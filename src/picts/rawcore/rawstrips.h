// The strips of a TIFF-structured raw frame as the camera decoders read them: where they
// lie, the rows each holds and their bytes, one strip at a time; and the packed 12-bit
// layout several cameras store in them.
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"

// Checks the strips before anything is allocated: a lone strip without a byte count runs to
// the end of the file (at most 4 GiB - 1), and every strip must lie inside the file. False
// otherwise; `total` is the bytes of all strips.
bool rawStripsInFile(const _typebuf<unsigned int>& offsets, _typebuf<unsigned int>& counts,
                     unsigned long long fileSize, unsigned long long& total);

// Reads the strips in turn until `height` rows are covered (rowsPerStrip 0: the strip holds
// all that is left) and calls strip(index, data, count, firstRow, rows) with each one's bytes.
// False when a read fails or strip answers false.
template <class F>
bool rawForEachStrip(cFileIOTarget* io, const _typebuf<unsigned int>& offsets,
                     const _typebuf<unsigned int>& counts, unsigned int rowsPerStrip, long long height, F strip) {
    long long row0 = 0;
    for (long long i = 0; i < offsets.count && row0 < height; i++) {
        const long long left = height - row0;
        const long long rows = rowsPerStrip && rowsPerStrip < left ? rowsPerStrip : left;
        const long long count = counts.ptr[i];
        _typebuf<unsigned char> data;
        if (count > 0 && (!data.set(count) || !io->set_fp(offsets.ptr[i]) || !io->readf(data.ptr, count)))
            return false;
        if (!strip(i, (const unsigned char*)data.ptr, count, row0, rows)) return false;
        row0 += rows;
    }
    return true;
}

// Unpacks n samples of 12 bits, two in three bytes: most significant bits first, or the
// low byte of the first sample first with the nibbles of the middle byte shared.
inline void rawUnpack12(const unsigned char* d, long long n, bool msbFirst, unsigned short* out) {
    for (long long k = 0; k + 1 < n; k += 2, d += 3) {
        if (msbFirst) {
            out[k] = (unsigned short)(d[0] << 4 | d[1] >> 4);
            out[k + 1] = (unsigned short)((d[1] & 15) << 8 | d[2]);
        } else {
            out[k] = (unsigned short)((d[1] & 15) << 8 | d[0]);
            out[k + 1] = (unsigned short)(d[1] >> 4 | d[2] << 4);
        }
    }
}
