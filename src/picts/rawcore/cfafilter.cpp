// Colour-filter patterns.
#include "picts/rawcore/cfafilter.h"

#include <new>

const unsigned int cFujiXTransFilter::_cFujiXTransFilters[36] = {
    1, 2, 1, 1, 0, 1,  //
    0, 1, 0, 2, 1, 2,  //
    1, 2, 1, 1, 0, 1,  //
    1, 0, 1, 1, 2, 1,  //
    2, 1, 2, 0, 1, 0,  //
    1, 0, 1, 1, 2, 1,
};

namespace {
bool validShape(const sCFAData& d) {
    return d.pattern.ptr && d.cols == 2 && (d.rows == 2 || d.rows == 4 || d.rows == 8) &&
           d.pattern.count == (long long)d.rows * d.cols;
}
}  // namespace

bool cBayerFilter::usesFourthColor() const {
    for (int row = 0; row < 24; row++)
        for (int col = 0; col < 6; col++)
            if (color(col, row) == 3) return true;
    return false;
}

cBayerFilter* cBayerFilter::newFilter(sCFAData& data) {
    if (!validShape(data)) return nullptr;
    cBayerFilter8x2* f = new (std::nothrow) cBayerFilter8x2;
    if (!f) return nullptr;
    if (!f->init(data)) {
        delete f;
        return nullptr;
    }
    return f;
}

bool cBayerFilter8x2::init(sCFAData& data) {
    if (!validShape(data)) return false;
    unsigned int bits = 0;
    for (long long i = 0; i < data.pattern.count; i++) {
        if (data.pattern.ptr[i] > 3) return false;
        bits |= (unsigned int)data.pattern.ptr[i] << (2 * i);
    }
    // Repeat shorter patterns so that color() can always read 8 rows.
    if (data.rows == 2) bits |= bits << 8 | bits << 16 | bits << 24;
    if (data.rows == 4) bits |= bits << 16;
    myCols = data.cols;
    myRows = data.rows;
    myBits = bits;
    myRowMask = (unsigned int)data.rows - 1;
    return true;
}

namespace {
void initPreset(cBayerFilter8x2* f, const unsigned char codes[4]) {
    sCFAData d;
    d.rows = d.cols = 2;
    d.pattern.set(codes, 4);
    f->init(d);
}
}  // namespace

cStdCFAFilter::cStdCFAFilter() {
    static const unsigned char kCodes[4] = {0, 1, 1, 2};
    initPreset(this, kCodes);
}

cStdCFAFilterSH::cStdCFAFilterSH() {
    static const unsigned char kCodes[4] = {2, 1, 1, 0};
    initPreset(this, kCodes);
}
