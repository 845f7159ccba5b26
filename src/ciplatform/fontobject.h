// cFontObject: shared fonts from the process-wide store (fontconfig lookup with
// substitution and per-character fallback, FreeType anti-aliased glyphs, a glyph cache).
#pragma once

class cCanvas;
struct sFontFace;

// One rendered glyph: 8-bit coverage rows, placed relative to the pen on the baseline.
struct sGlyph {
    int advance = 0;          // pixels the pen moves
    int left = 0;             // bitmap's left edge from the pen
    int top = 0;              // bitmap's top edge above the baseline
    int width = 0;
    int rows = 0;
    unsigned char* coverage = nullptr;  // width x rows, null for an empty glyph
};

class cFontObject {
public:
    // Finds or creates the font: height is the font's pixel size (em height; 13 for the
    // standard UI font); width is a hint from callers written for other platforms and is
    // ignored. The face is looked up by name and substituted when absent (unknown faces
    // by a sans face, known monospace names by a mono face, CJK names by a CJK face).
    // The store keeps every font for the life of the process; null when no face at all
    // can be loaded or the height is not in 1..1000. Thread-safe.
    static cFontObject* get(int width, int height, const char* face, bool bold, bool underline, bool italic);
    // Whether a face of exactly that family name is installed (no substitution).
    static bool faceExists(const char* face);
    // The file the store would load for that name (after substitution), into out
    // (size bytes); false when none.
    static bool resolveFace(const char* face, bool bold, bool italic, char* out, int size);

    // Selects the font into a canvas.
    void apply(cCanvas* canvas);

    int height() const { return myHeight; }
    bool bold() const { return myBold; }
    bool underline() const { return myUnderline; }
    bool italic() const { return myItalic; }
    const char* face() const { return myFace; }
    // The primary face's file.
    const char* file() const;
    // Baseline from the line top, and the line height (ascent + descent) of the primary face.
    int ascent() const { return myAscent; }
    int lineHeight() const { return myLineHeight; }
    int underlinePos() const { return myUnderlinePos; }        // below the baseline
    int underlineThickness() const { return myUnderlineThick; }

    // The glyph of a code point (from a fallback face when the primary lacks it; an empty
    // box when no face has it). Pointers stay valid for the life of the process. Thread-safe.
    const sGlyph* glyph(unsigned int codePoint);
    // Advance of a code point (the same number drawing uses).
    int advance(unsigned int codePoint) { return glyph(codePoint)->advance; }

private:
    cFontObject() {}
    ~cFontObject() {}
    friend struct sFontStore;
    sGlyph* renderGlyph(unsigned int codePoint, int lang);

    char myFace[128] = {0};
    int myHeight = 0;
    bool myBold = false, myUnderline = false, myItalic = false;
    int myAscent = 0, myLineHeight = 0, myUnderlinePos = 1, myUnderlineThick = 1;
    sFontFace* myPrimary = nullptr;
    sGlyph* myAscii[128] = {nullptr};
    void* myCache = nullptr;  // code point -> glyph for the rest
};

// The standard and fixed face names ("Tahoma" and "Courier New" unless set).
const char* _glbalStdFont();
const char* _glbalFixedFont();
void _setGlbalStdFont(const char* face);
void _setGlbalFixedFont(const char* face);

// The language text is written in, as a fontconfig language tag ("ja", "ko", "zh-cn",
// "zh-tw"; null or "" for none): Han characters a font's own face lacks come from a face
// made for that language (Japanese shapes for Japanese, not Chinese ones).
void setTextLanguage(const char* lang);
const char* textLanguage();

// The line-height factor of wrapped text: 1.2 at start (1.07 for CJK UI languages).
double textWrapYFactor();
void setTextWrapYFactor(double factor);
