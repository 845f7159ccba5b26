// Colour-filter arrays: which colour each photosite of a sensor sees, as a small repeating
// pattern. Codes: 0 red, 1 green, 2 blue, 3 a fourth colour (second green of a 2x2 pattern
// or the fourth dye of a four-colour sensor).
#pragma once

#include "base/buffers.h"

// A pattern as a decoder hands it in: `rows` x `cols` codes, row-major.
struct sCFAData {
    _typebuf<unsigned char> pattern;
    unsigned short rows = 0;
    unsigned short cols = 0;
};

class cBayerFilter {
public:
    // Colour code of the photosite at (col, row); arguments are never negative.
    virtual int color(int col, int row) const = 0;
    // Position of the photosite within the pattern.
    virtual int index(int col, int row) const = 0;
    virtual bool init(sCFAData& data) = 0;
    virtual ~cBayerFilter() {}

    // A filter for a pattern two columns wide and 2, 4 or 8 rows high with codes 0-3; null
    // for anything else. The caller owns (and deletes) the filter.
    static cBayerFilter* newFilter(sCFAData& data);
    // Whether any photosite of the pattern has code 3 (scans a 6 x 24 window, a whole
    // period of every filter here).
    bool usesFourthColor() const;
};

// Two columns, 2, 4 or 8 rows, 2 bits a cell at bit 4 * row + 2 * col of one word; shorter
// patterns are repeated so that every pattern reads as 8 rows.
class cBayerFilter8x2 : public cBayerFilter {
public:
    int color(int col, int row) const override { return (int)((myBits >> (4 * (row & 7) + 2 * (col & 1))) & 3); }
    int index(int col, int row) const override { return 2 * (row & (int)myRowMask) + (col & 1); }
    // False for a missing buffer, cols != 2, a count other than rows * 2, a code above 3 or
    // a row count other than 2, 4 or 8 (the filter is left unchanged then).
    bool init(sCFAData& data) override;

protected:
    unsigned short myCols = 2;
    unsigned short myRows = 2;
    unsigned int myBits = 0;
    unsigned int myRowMask = 1;
};

// Red green / green blue.
class cStdCFAFilter : public cBayerFilter8x2 {
public:
    cStdCFAFilter();
};

// Blue green / green red.
class cStdCFAFilterSH : public cBayerFilter8x2 {
public:
    cStdCFAFilterSH();
};

// The 6 x 6 pattern of X-Trans sensors.
class cFujiXTransFilter : public cBayerFilter {
public:
    int color(int col, int row) const override { return (int)_cFujiXTransFilters[index(col, row)]; }
    // Negative arguments wrap like positive ones instead of indexing before the table.
    int index(int col, int row) const override { return (row % 6 + 6) % 6 * 6 + (col % 6 + 6) % 6; }
    bool init(sCFAData&) override { return true; }
    static cBayerFilter* newFilter() { return new cFujiXTransFilter; }

    static const unsigned int _cFujiXTransFilters[36];
};
