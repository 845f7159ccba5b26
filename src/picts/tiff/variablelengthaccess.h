// cVariableLengthAccess: samples of any width from 1 to 64 bits packed in a row most
// significant bit first, as TIFF 6.0 section 2 stores them (rows start on a byte).
#pragma once

class cVariableLengthAccess {
public:
    // The field of `bits` bits (1..64) that starts at bit `bit` of data, counted from the most
    // significant bit of data[0]. Only the bytes the field covers are read.
    static unsigned long long getValue(const unsigned char* data, long long bit, int bits) {
        unsigned long long v = 0;
        const unsigned char* p = data + (bit >> 3);
        int off = (int)(bit & 7), need = bits + off;
        // Whole bytes first, then drop the bits before the field and after it.
        if (need <= 64) {
            int nbytes = (need + 7) >> 3;
            for (int i = 0; i < nbytes; i++) v = v << 8 | p[i];
            v >>= nbytes * 8 - need;
            return bits == 64 ? v : v & ((1ULL << bits) - 1);
        }
        for (int k = 0; k < bits; k++, bit++) v = v << 1 | ((data[bit >> 3] >> (7 - (bit & 7))) & 1);
        return v;
    }
};
