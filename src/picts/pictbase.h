// cPictBase: the picture model every decoder derives from (pixels, properties, pages,
// previews, rendering into caller buffers), with cPictDummy, the plain pixel holder.
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"
#include "picts/pictprops.h"
#include "picts/sizecheck.h"

class cPictDummy;
struct sExtRenderState;

// Set when pictures decoded from embedded resources must be flipped top to bottom before use.
extern bool __bmp_res_inversed;

// An optional colour corrector a caller attaches to a picture; decoders with a colour
// stage (TIFF) hand it their grey, RGB or CMYK samples.
class cPictureColorsCorrector {
public:
    enum eSpace { csGray = 0, csRGB = 1, csCMYK = 2 };
    // Converts `count` pixels of `space` samples (`bits` 8 or 16 per sample, interleaved)
    // into 0xAARRGGBB words; false when it does not handle that input.
    virtual bool correct(int space, int bits, const void* samples, long long count, unsigned int* out) = 0;
    virtual ~cPictureColorsCorrector() {}
};

class cPictBase {
public:
    // Decoder kinds answered by typeOf (0 for the base and plain holders).
    enum ePictKind {
        pkNone = 0, pkJPEG = 1, pkTIFF = 2, pkPNG = 3, pkNEF = 4, pkDIB = 5, pkBMP = 6, pkICO = 7,
        pkJP2 = 8, pkJ2K = 9, pkCR2 = 10, pkGIF = 11, pkICNS = 12, pkCRW = 14, pkDNG = 15, pkMOS = 16,
        pkTIFFEP = 17, pk3FR = 18, pkRAF = 19, pkRWL = 21, pkIIQ = 22, pkSRW = 23, pkPEF = 24,
        pkARW = 25, pkMRW = 26, pkORF = 27, pkX3F = 28, pkTGA = 29, pkPPM = 30, pkPCX = 31,
        pkDICOM = 32, pkDICOMLegacy = 33, pkXPM = 34, pkJBIG2 = 36, pkCR3 = 40
    };

    // What a probe learns: the size and whether the file holds an embedded preview.
    struct sPictInfo {
        long long width = 0;
        long long height = 0;
        bool hasPreview = false;
    };

    // A caller's 32-bit pixel target (rows bottom-up, like a picture's own buffer).
    // Modes: 0 fits the picture keeping its aspect ratio, centred, times `scale`;
    // 1 stretches it over the whole target; 2 draws it at `scale` without fitting.
    // Offsets (target pixels, y counted in stored bottom-up rows) shift the placement.
    struct sExtPictDef {
        unsigned int* pixels = nullptr;
        long long width = 0;
        long long height = 0;
        long long offsetX = 0;
        long long offsetY = 0;
        unsigned int background = 0;
        double scale = 1.0;
        int mode = 0;

        // From a picture: its 32-bit buffer and size, zero offsets and background,
        // scale 1.0, mode 0; from null: an empty target.
        explicit sExtPictDef(cPictBase* picture = nullptr);
    };

    cPictBase();
    cPictBase(const cPictBase&) = delete;
    cPictBase& operator=(const cPictBase&) = delete;

    // --- virtual operations (this order is part of the interface) ---
    virtual int typeOf();
    virtual bool is16Bpp();
    // The probe: whether the stream, from its current position, is this format; fills info.
    virtual bool isPicture(cFileIOTarget* io, sPictInfo* info);
    virtual bool decode(cFileIOTarget* io);
    // Copies the pixels as 0xAARRGGBB words; 16-bit channels become v >> 8.
    // False when the picture holds no pixels.
    virtual bool getColorData(_typebuf<unsigned int>& out);
    virtual long long width();
    virtual long long height();
    virtual bool supportsExtRendering();
    virtual bool supportsMultipage();
    // Base: one page.
    virtual int getNumPages(cFileIOTarget* io);
    // Base: page 0 only, its size through isPicture.
    virtual bool getPageSize(cFileIOTarget* io, int page, long long& w, long long& h);
    // Base: page 0 only, through decode.
    virtual bool decodePage(cFileIOTarget* io, int page);
    // Base: page 0 only and only with allowFull; decodes the whole picture (straight into
    // the target when the decoder supports external rendering) fitted within width x height
    // (never enlarged) on the background.
    virtual bool decodePagePreview(cFileIOTarget* io, cPictBase* target, long long width, long long height,
                                   int page, bool allowFull, unsigned int background);
    // An embedded preview into target; maxWidth/maxHeight (may be null) bound it and
    // receive the size given. Base: none, false.
    virtual bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight);
    virtual ~cPictBase();

    // The format factory: probes the decoders in their fixed order from the stream's
    // current position and returns a new, not yet decoded decoder for the first that
    // accepts (owned by the caller), with info filled; null when none does. The stream
    // is left at the position it had.
    static cPictBase* mkPicture(cFileIOTarget* io, sPictInfo* info);

    // A preview fitting within width x height into holder: the embedded one when there is
    // one, else (with fullDecode) the decoded picture scaled down. 0 on success;
    // 1 bad arguments, 2 no embedded preview and no full decode allowed, 3 decoding failed.
    int getPreview(cFileIOTarget* io, cPictDummy& holder, long long width, long long height, bool fullDecode,
                   unsigned int background);

    // --- pixels ---
    // How the pixels are held. Every page kind reads as 32-bit or 64-bit pixels through
    // pixelRow32/pixelRow64 and every operation below; raw8Bpp/raw16Bpp turn a compact page
    // into the full buffer of its depth (1-bit pages are 8-bit, grey 16-bit ones 16-bit).
    enum ePageKind {
        pgNone = 0,    // no pixels
        pgArgb32 = 1,  // 0xAARRGGBB words (raw8Bpp)
        pgArgb64 = 2,  // B, G, R, A 16 bits each (raw16Bpp)
        pgBits1 = 3,   // one bit a pixel, the first pixel in the high bit, rows padded to bytes;
                       // a 1 bit is black, or white with bitsOneWhite (rawBits)
        pgGrey16 = 4   // one 16-bit grey sample a pixel, opaque (rawGrey16)
    };
    ePageKind pageKind() const;
    // Stored row y (bottom-up) as width() pixels of 32 or 64 bits (converted as getColorData
    // and to16Bpp do); false when the picture holds no such row.
    bool pixelRow32(long long y, unsigned int* out) const;
    bool pixelRow64(long long y, unsigned long long* out) const;
    // A 1-bit page: its bits (rows bottom-up, bitsStride bytes each), or null for other kinds.
    unsigned char* rawBits() { return myPage == pgBits1 ? myCompact.ptr : nullptr; }
    long long bitsStride() const { return (myWidth + 7) / 8; }
    bool bitsOneWhite() const { return myBitsOneWhite; }
    // A grey 16-bit page: its samples (rows bottom-up), or null for other kinds.
    unsigned short* rawGrey16() { return myPage == pgGrey16 ? (unsigned short*)myCompact.ptr : nullptr; }
    // Allocates a w x h compact page (uninitialised) and sets the size; false (picture left
    // empty) when its true size is refused by the decode budget.
    bool allocBits(long long w, long long h, bool oneWhite);
    bool allocGrey16(long long w, long long h);

    // Moves size, 16-bit flag and pixels into target, leaving this picture empty.
    void moveTo(cPictBase& target);
    // Empties the picture: size 0 x 0, pixels and properties freed, target unregistered.
    void close();
    // Turns the picture upside down.
    void flip();
    // The 32-bit or 64-bit buffer, null when the picture holds none of that kind (a compact
    // page of that depth is widened first; null when that is refused).
    unsigned int* raw8Bpp();
    unsigned long long* raw16Bpp();
    // Moves the pixels into out (16-bit pictures converted as getColorData does); the
    // picture keeps its size but no longer holds pixels.
    bool moveToColorData(_typebuf<unsigned int>& out);
    // Allocates a width x height buffer of the given depth (uninitialised) and sets the
    // size; false (picture left empty) when the size is refused by checkedImageBytes.
    bool allocPixels(long long w, long long h, bool sixteenBits);

    // Copies source stretched to full range (one minimum and maximum over red, green and
    // blue; alpha kept), 8- or 16-bit as the source is.
    bool autoScaleFrom(cPictBase& source);
    // Resamples to w x h into target, keeping the bit depth: area averaging on an axis
    // that shrinks, bilinear interpolation (pixel centres aligned) on one that grows.
    bool stretchTo(long long w, long long h, cPictBase& target);
    // Scales picture into target fitted within maxWidth x maxHeight (never enlarged,
    // area-averaged), as 8-bit pixels on background.
    static bool imgToPreview(cPictBase* picture, cPictBase* target, long long maxWidth, long long maxHeight,
                             unsigned int background);

    // --- external rendering ---
    // Registers a target (pixels set, both sizes at least 1) for the next decode; the
    // definition is copied. Null unregisters.
    bool setExtTarget(sExtPictDef* def);
    bool hasExtTarget() const { return myHasExt; }
    // Renders this picture's pixels into def (area-averaged, fitted per its mode).
    bool toExtTarget(sExtPictDef* def);
    // For decoders: true when a target is registered; prepares rendering a picture of the
    // current width x height into it (background fill, placement). Then pixels go through
    // setExtPix..setExtComp16 and endExtRender finishes.
    bool startExtRender();
    // Whether any pixel of the block x0 <= x < x1, y0 <= y < y1 reaches the target.
    bool canExtRender(long long x0, long long x1, long long y0, long long y1);
    // One decoded pixel; y is the stored (bottom-up) row.
    void setExtPix(long long x, long long y, unsigned int argb);
    void setExtPix16(long long x, long long y, unsigned long long pix16);
    // One channel of a pixel: comp 0 blue, 1 green, 2 red, 3 alpha.
    void setExtComp(long long x, long long y, unsigned char value, int comp);
    void setExtComp16(long long x, long long y, unsigned short value, int comp);
    // Writes the averaged pixels and unregisters the target.
    void endExtRender();

    // --- properties ---
    // The property or null; with create, a missing id 0-21 is created empty with its type.
    cPictProp* getProp(int id, bool create = false);
    // Typed lookups: null when missing or of another type.
    const long long* getPropInt(int id);
    const double* getPropDouble(int id);
    const sTimestamp* getPropTime(int id);
    const char* getPropString(int id);
    cPictBase* getPropImage(int id);
    const cPictProp* getPropRaw(int id);
    bool removeProp(int id);
    cPictPropTable& props() { return myProps; }

    // --- options ---
    void setWantAlts(bool want) { myWantAlts = want; }
    bool wantAlts() const { return myWantAlts; }
    void refPictureColorsCorrector(cPictureColorsCorrector* corrector) { myCorrector = corrector; }
    cPictureColorsCorrector* colorsCorrector() const { return myCorrector; }

    // 16-to-8-bit rule used everywhere: the high byte of each channel.
    static unsigned int to8Bpp(unsigned long long p) {
        return (unsigned int)(((p >> 8) & 0xFF) | ((p >> 16) & 0xFF00) | ((p >> 24) & 0xFF0000) |
                              ((p >> 32) & 0xFF000000u));
    }
    // 8-to-16-bit: each byte repeated (0xAB -> 0xABAB), so 0xFF maps to 0xFFFF.
    static unsigned long long to16Bpp(unsigned int p) {
        unsigned long long r = 0;
        for (int c = 0; c < 4; c++) {
            unsigned long long v = (p >> (8 * c)) & 0xFF;
            r |= (v * 0x101) << (16 * c);
        }
        return r;
    }

protected:
    // Frees every pixel buffer; the size is kept.
    void freePixels();

    long long myWidth = 0;
    long long myHeight = 0;
    bool my16Bpp = false;                     // which buffer holds the picture
    _typebuf<unsigned int> myPixels;          // 0xAARRGGBB, rows bottom-up
    _typebuf<unsigned long long> myPixels16;  // B, G, R, A 16 bits each from low to high, rows bottom-up
    // A compact page (pgBits1, pgGrey16) in place of both buffers above, rows bottom-up.
    _typebuf<unsigned char> myCompact;
    int myPage = pgNone;       // only pgBits1 or pgGrey16 tell: the others follow my16Bpp
    bool myBitsOneWhite = false;
    sExtPictDef myExt;                        // the registered external target
    bool myHasExt = false;
    bool myWantAlts = true;
    cPictPropTable myProps;
    cPictureColorsCorrector* myCorrector = nullptr;  // not owned
    sExtRenderState* myExtState = nullptr;           // between startExtRender and endExtRender

private:
    // allocBits and allocGrey16: a page of the kind at bitsPerPixel.
    bool allocCompact(long long w, long long h, int bitsPerPixel, int kind);
    // Whether the buffer of the page kind holds width x height pixels.
    bool holdsPixels() const;
    // A compact page becomes the full buffer of its depth; false (page kept) when refused.
    bool widenPage();
};

// cPictDummy, the plain pixel holder, lives beside the base.
#include "picts/pictdummy.h"
