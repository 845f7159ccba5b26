// cCanvas: the software drawing surface every paint operation gets: a 32-bit pixel
// buffer with a clip region, rectangles, lines, bitmaps, text and offscreen copies.
#pragma once

#include "base/buffers.h"
#include "base/geometry.h"

class cFontObject;
class cPicture;
struct sGlyph;

// Pixels are 0xAARRGGBB words, rows top-down in memory (row y starts at y * width).
// Colour arguments are 0x00BBGGRR; -1 means "none" (nothing is drawn). The theme's
// default 0xFF000000 must be resolved by the UI layer; should it reach the canvas it is
// treated as "none" too. Any other top byte is ignored.
// Every operation is clipped to the buffer and to the drawable region, so any
// coordinates (negative, huge) are safe.
// Painting in place: elements paint straight into their window's canvas through a
// drawing origin and a frame (enterFrame). Drawing and region coordinates are relative to
// the origin; the region never leaves the frame (resetClip and unclip stay inside it).
// width(), height(), pixel() and regionRects() are the buffer's own, in device pixels.
class cCanvas {
public:
    enum eTextAlign { taLeft = 0, taCenter = 1, taRight = 2, taJustify = 3 };

    // What enterFrame saves and leaveFrame restores: origin, frame and the drawing modes.
    struct sFrameState {
        long long ox, oy;
        sArea frame;
        cFontObject* font;
        unsigned int textColour, textBg, lineColour;
        int lineWidth;
    };

    // Largest side and pixel count a canvas accepts.
    static const int kMaxSide = 32767;
    static const long long kMaxPixels = 64LL * 1024 * 1024;

    cCanvas();
    // A w x h canvas filled with the 0xAARRGGBB value; empty when the size is refused.
    cCanvas(int w, int h, unsigned int argb = 0xFFFFFFFF);
    virtual ~cCanvas();
    cCanvas(const cCanvas&) = delete;
    cCanvas& operator=(const cCanvas&) = delete;

    // (Re)allocates the buffer; false (canvas left empty) when w or h is not in 1..kMaxSide
    // or the pixel count passes kMaxPixels. The region becomes the whole canvas.
    bool create(int w, int h, unsigned int argb = 0xFFFFFFFF);
    int width() const { return myWidth; }
    int height() const { return myHeight; }
    // Top-down rows of width() words; null when empty.
    unsigned int* pixels() { return myPixels.ptr; }
    const unsigned int* pixels() const { return myPixels.ptr; }
    // The pixel at (x, y) as 0xAARRGGBB; 0 outside the canvas.
    unsigned int pixel(int x, int y) const;
    // Logical-to-device factor (1.0 here); offscreen canvases inherit it.
    double scale() const { return myScale; }
    void setScale(double s) { myScale = s > 0 ? s : 1.0; }
    // Fills the whole buffer with an 0xAARRGGBB value, ignoring the region.
    void fillAll(unsigned int argb);

    // --- shapes ---
    // Fills with `fill` and frames with a 1-pixel `frame` (each -1 for none).
    void drawRect(sRect* r, unsigned int fill, unsigned int frame);
    void setLineMode(unsigned int colour, int width);
    // A line with the line mode's width (squares along the line; ends included).
    void drawLine(sPoint* from, sPoint* to);

    // --- pictures ---
    // Opaque; w or h -1 takes the picture's own size, other sizes stretch it.
    void drawBitmap(int x, int y, cPicture* picture, int w = -1, int h = -1);
    void drawBitmap(sPoint* at, cPicture* picture, sSize* size = nullptr);
    // Blended with the picture's alpha; stretched when a size is given.
    void drawTransparent(sPoint* at, cPicture* picture, sSize* size = nullptr);

    // --- text ---
    // Selects the font (null: the canvas's default, the standard face at 13 pixels).
    void setTextMode(cFontObject* font);
    cFontObject* textMode();
    // Text colour and background colour (-1: no background) for the opaque text forms.
    void setTextColors(unsigned int text, unsigned int background);
    // One line at (x, y) = top-left of its line box. Not transparent: the line box
    // (textSize) is first filled with the background colour. length -1: up to the 0.
    void drawText(int x, int y, bool transparent, const char* text, long long length = -1);
    void drawText(int x, int y, bool transparent, const unsigned short* text, long long length = -1);
    // One line vertically centred in the box, between the margins, aligned 0 left,
    // 1 centre, 2 right; when it does not fit it is cut to the longest prefix that fits
    // followed by "..." (noEllipsis: cut at the box edge instead). Not transparent: the
    // box is filled with the background first. Returns the x where the text starts;
    // `shown` (may be null) receives the number of source units drawn before "...".
    int drawTextLimited(int x, int y, int w, int h, int alignment, bool transparent, int leftMargin,
                        int rightMargin, const char* text, long long length = -1, long long* shown = nullptr,
                        bool noEllipsis = false);
    int drawTextLimited(int x, int y, int w, int h, int alignment, bool transparent, int leftMargin,
                        int rightMargin, const unsigned short* text, long long length = -1,
                        long long* shown = nullptr, bool noEllipsis = false);
    int drawTextLimited(sRect* box, int alignment, bool transparent, int leftMargin, int rightMargin,
                        const char* text, long long length = -1, long long* shown = nullptr,
                        bool noEllipsis = false);
    int drawTextLimited(sRect* box, int alignment, bool transparent, int leftMargin, int rightMargin,
                        const unsigned short* text, long long length = -1, long long* shown = nullptr,
                        bool noEllipsis = false);
    // Word-wrapped text in the box (breaks at spaces, at '\n', and inside words longer
    // than the width); lines are lineFactor x the font height apart (0: textWrapYFactor()).
    // `used` receives the width of the widest line and the height taken. Only lines that
    // fit whole above the box's bottom are drawn; the others are measured (h < 0: no
    // bottom). False without text.
    bool drawTextWrapped(int x, int y, int w, int h, eTextAlign align, const char* text, sSize& used,
                         bool transparent = false, double lineFactor = 0);
    bool drawTextWrapped(sRect* box, eTextAlign align, const char* text, sSize& used,
                         bool transparent = false, double lineFactor = 0);
    bool drawTextWrapped(int x, int y, int w, int h, eTextAlign align, const unsigned short* text, sSize& used,
                         bool transparent = false, double lineFactor = 0);
    // Width (sum of advances) and height (the font's line height) of one line; length -1:
    // up to the 0. False (0 x 0) without a font.
    bool textSize(const char* text, long long length, sSize& out);
    bool textSize(const unsigned short* text, long long length, sSize& out);
    // The right edge of each character from the text's start, with the same advances
    // drawing uses. UTF-8: one edge per code point; UTF-16: one per unit (both units of a
    // surrogate pair get the pair's edge). `edges` needs room for `length` ints (the text's
    // length when -1). Returns the number of edges written.
    int textRuler(const char* text, long long length, int* edges);
    int textRuler(const unsigned short* text, long long length, int* edges);

    // --- region ---
    // Removes a rectangle from the drawable region; unclip adds one back (within the
    // canvas). Changes take effect at once; select() is kept for callers that apply the
    // region explicitly and does nothing more. resetClip makes the whole canvas drawable.
    void clip(sRect* r);
    void unclip(sRect* r);
    void select() {}
    void resetClip();
    // The region as disjoint rectangles in device pixels (valid until the next region change).
    int regionCount() const { return (int)myRegionCount; }
    const sRect* regionRects() const { return myRegion.ptr; }
    bool inRegion(int x, int y) const;  // device pixels

    // --- painting in place ---
    // Moves the origin by (dx, dy) and narrows the frame to r (in the new coordinates)
    // within the old frame; the region becomes the frame. `saved` is for leaveFrame.
    void enterFrame(int dx, int dy, const sRect& r, sFrameState& saved);
    // Restores origin, frame and drawing modes; the region becomes the restored frame.
    void leaveFrame(const sFrameState& saved);
    long long originX() const { return myOX; }
    long long originY() const { return myOY; }

    // --- canvases ---
    // A new w x h canvas (opaque white) with this one's scale and font, or null; deleted
    // by the caller. The last two arguments are kept for signature compatibility (-1).
    cCanvas* offscreen(int w, int h, int reserved1 = -1, int reserved2 = -1);
    // Copies source's (sx, sy, w, h) (in the source's coordinates) to (x, y); w or h -1:
    // the rest of the source.
    void draw(int x, int y, cCanvas* source, int sx = 0, int sy = 0, int w = -1, int h = -1);

private:
    friend class cCanvasPainter;
    bool regionAdd(int l, int t, int r, int b);
    void regionToFrame();
    // Local to device coordinates, bounded so that later arithmetic cannot overflow.
    int devX(long long x) const;
    int devY(long long y) const;
    void regionSubtract(int l, int t, int r, int b);
    void fillArea(int l, int t, int r, int b, unsigned int argb);
    void blendArea(int l, int t, int r, int b, unsigned int argb, int alpha);
    void blendPixel(int x, int y, unsigned int argb, int alpha);
    void drawPicture(int x, int y, cPicture* picture, int w, int h, bool blend);
    int drawTextLimitedU(int x, int y, int w, int h, int alignment, bool transparent, int leftMargin,
                         int rightMargin, const unsigned int* cps, long long count, const long long* units,
                         long long* shown, bool noEllipsis);
    bool drawWrappedU(int x, int y, int w, int h, int align, const unsigned int* cps, long long count,
                      sSize& used, bool transparent, double lineFactor);
    void drawRun(int x, int y, const unsigned int* cps, long long count, int extraPerSpace, int extraRest);
    int runWidth(const unsigned int* cps, long long count);
    void blitGlyph(int x, int y, const sGlyph* glyph, unsigned int argb);
    void fillLimited(long long l, long long t, long long r, long long b, unsigned int argb);

    _typebuf<unsigned int> myPixels;
    int myWidth = 0;
    int myHeight = 0;
    double myScale = 1.0;
    _typebuf<sRect> myRegion;  // disjoint rectangles inside the frame
    long long myOX = 0, myOY = 0;        // drawing origin
    sArea myFrame = {0, 0, 0, 0};        // device pixels the region stays inside
    long long myRegionCount = 0;
    unsigned int myLineColour = 0;
    int myLineWidth = 1;
    cFontObject* myFont = nullptr;
    unsigned int myTextColour = 0;
    unsigned int myTextBg = 0xFFFFFFFFu;
    // Text operations that draw into a box also stay inside it.
    bool myLimited = false;
    sArea myLimit = {0, 0, 0, 0};
};
