// cCITheme: the process-wide look, read by number: 25 dimensions (each with a minimum and
// a maximum), 62 colours (0x00BBGGRR) and 157 pictures. gCI_Flat_Theme is the flat set.
#pragma once

#include "base/geometry.h"

class cPicture;

// One dimension: its value and the range it may be adjusted within.
struct sCIThemeDimension {
    int value;
    int minimum;
    int maximum;
};

// Fills a w x h picture (top-down 0xAARRGGBB rows, cleared to transparent).
typedef void (*tCIThemeDraw)(unsigned int* pixels, int w, int h, int arg);

// One picture entry: a size and either a drawing routine or, for a 1 x 1 entry, a colour.
// A 0 x 0 entry has no pixels.
struct sCIThemePicture {
    int width;
    int height;
    tCIThemeDraw draw;    // null: filled with `colour` (0xAARRGGBB)
    int arg;              // passed to draw (a variant: direction, state, ...)
    unsigned int colour;  // 0xAARRGGBB
};

// A theme's tables: kDimensions, kColors and kPictures entries.
struct sCIThemeTable {
    const sCIThemeDimension* dimensions;
    const unsigned int* colours;  // 0x00BBGGRR
    const sCIThemePicture* pictures;
};

class cCITheme {
public:
    static const int kDimensions = 25;
    static const int kColors = 62;
    static const int kPictures = 157;

    explicit cCITheme(const sCIThemeTable* table);
    virtual ~cCITheme();
    cCITheme(const cCITheme&) = delete;
    cCITheme& operator=(const cCITheme&) = delete;

    // Colour n as 0x00BBGGRR; 0 for a number outside the table.
    virtual unsigned int getColor(int n);
    // Dimension n: which 0 the value, 1 the minimum, 2 the maximum; 0 outside the table.
    virtual int getDimension(int n, int which = 0);
    // Picture n, drawn on first use and kept; null when the entry has no pixels or n is
    // outside the table. Thread-safe.
    virtual cPicture* getPict(int n);
    // The pixels of picture n (top-down 0xAARRGGBB) and its size; for a 1 x 1 entry a
    // pointer to its one pixel (its colour). Null (size 0 x 0) when it has none.
    virtual const unsigned int* getImage(int n, sSize& size);

    // The selected theme; the flat theme until another is set.
    static cCITheme* theme();
    // Selects a theme for the process (null: back to the flat theme). The theme must live
    // as long as it is selected.
    static void setTheme(cCITheme* theme);
    static void setTheme(cCITheme& theme) { setTheme(&theme); }

    // The entry tables (read-only view, for tests and tools).
    const sCIThemeTable* table() const { return myTable; }

private:
    const sCIThemeTable* myTable;
    cPicture* myPictures[kPictures];  // made on first use
};

// The flat theme: light background, one blue accent.
extern cCITheme gCI_Flat_Theme;
extern const sCIThemeTable gCI_Flat_ThemeTable;
