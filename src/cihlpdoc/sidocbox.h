// The document box model: text, link, picture, picture link and container boxes that
// a loaded rich document is made of. Boxes borrow pictures and link texts from their loader.
#pragma once

#include "base/buffers.h"
#include "base/geometry.h"
#include "base/lists.h"

class cCanvas;
class cFontObject;
class cPicture;

// Nesting of containers a document may use (the compiler counts every open tag); layout
// refuses anything deeper, so its recursion stays bounded whoever built the tree.
const int kSiDocMaxNesting = 256;
// Positions and sizes are summed in 64 bits and kept within this many pixels, so that no
// document (millions of lines, boxes of 65534 pixels) can overflow them.
const int kSiDocMaxExtent = 1 << 30;
// Boxes one layout may visit. Every container measures its children again before it
// draws them, so the work grows with nesting times boxes; a hostile document stops here
// (the rest lays out as empty) instead of hanging its viewer. Real documents stay far below.
const long long kSiDocMaxLayoutWork = 8LL << 20;

// Receives the rectangles where links were drawn (the document viewer is one).
class cSiDocActiveTarget {
public:
    virtual void resetActive() = 0;
    // Adds one zone of the target; false only when storage fails.
    virtual bool setActive(char* target, int x, int y, int w, int h) = 0;
    virtual ~cSiDocActiveTarget() {}
};

// Gives the font of a font id; a document loader is one.
class cSiDocFontProvider {
public:
    virtual cFontObject* font(unsigned int id) = 0;
    virtual ~cSiDocFontProvider() {}
};

// What a container hands down to the boxes it measures and draws.
struct sSiDocDrawProps {
    cFontObject* font = nullptr;
    unsigned int bgColor = 0xFFFFFF;
    unsigned int textColor = 0;
    int x = 0;
    int y = 0;
    int rightLimit = -1;
    int bottomLimit = -1;
    cSiDocActiveTarget* activeTarget = nullptr;
    // Canvas rows that are painted: lines wholly outside them are only measured (their
    // drawn size is exact, nothing is painted and no zone registered). paintTop >=
    // paintBottom measures everything without painting.
    int paintTop = -2147483647 - 1;
    int paintBottom = 2147483647;
    // Lines of the outermost container that start at or below paintBottom are not laid out
    // at all (the drawn height is then short): for a caller that knows the height already.
    bool stopBelowPaint = false;
    int depth = 0;  // containers above the box; deeper than kSiDocMaxNesting is refused
    // Boxes visited so far by the layout this belongs to (shared down the tree; null: not
    // counted). Past kSiDocMaxLayoutWork containers lay out nothing more.
    long long* work = nullptr;
    // The part of a text box's text that is measured or drawn: bytes [textFrom, textTo)
    // (textTo -1: to its end). A container sets it where a line ends inside a word of East
    // Asian text, which may break between its characters; everything else gets the whole text.
    int textFrom = 0;
    int textTo = -1;
};

class cSiDocBox {
public:
    cSiDocBox() {}
    cSiDocBox(const cSiDocBox&) = delete;
    cSiDocBox& operator=(const cSiDocBox&) = delete;
    virtual ~cSiDocBox() {}
    virtual bool draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) = 0;
    virtual bool wantsSize(cCanvas* canvas, const sSiDocDrawProps& props, sSize& wanted) = 0;

    // A negative argument keeps that margin.
    void setMargins(int left, int top, int right, int bottom);
    // -1: automatic; above 0: fixed; 0 and other negatives are ignored.
    void setWidth(int width);
    void setHeight(int height);
    void setBgColor(unsigned int color) { myBgColor = color; }
    void setBreak(bool brk) { myBreak = brk; }

    int leftMargin() const { return myLeftMargin; }
    int rightMargin() const { return myRightMargin; }
    int topMargin() const { return myTopMargin; }
    int bottomMargin() const { return myBottomMargin; }
    int width() const { return myWidth; }
    int height() const { return myHeight; }
    unsigned int bgColor() const { return myBgColor; }
    bool isBreak() const { return myBreak; }

protected:
    int myLeftMargin = 0;
    int myRightMargin = 0;
    int myTopMargin = 0;
    int myBottomMargin = 0;
    int myWidth = -1;
    int myHeight = -1;
    unsigned int myBgColor = 0xFFFFFFFF;
    bool myBreak = false;

public:
    sSize wantedSize = {0, 0};  // written by the enclosing container when it measures the box
};

class cSiDocText : public cSiDocBox {
public:
    bool draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) override;
    bool wantsSize(cCanvas* canvas, const sSiDocDrawProps& props, sSize& wanted) override;

    void refFont(cSiDocFontProvider* provider, unsigned int id) {
        myFontProvider = provider;
        myFontId = id;
    }
    void setColor(unsigned int color) { myColor = color; }
    // Copies the text; null or "" leaves the box without text.
    void setText(const char* text);

    cSiDocFontProvider* fontProvider() const { return myFontProvider; }
    unsigned int fontId() const { return myFontId; }
    unsigned int color() const { return myColor; }
    const char* text() const { return myText.ptr; }
    // Where a line may end inside the text from byte `from` on: the end (in bytes) of the
    // longest part that ends at a break between East Asian characters and is at most `room`
    // pixels wide, or with `atLeastOne` the shortest part when none fits; -1 when there is
    // no such break (or the box has a fixed width).
    long long breakWithin(cCanvas* canvas, const sSiDocDrawProps& props, long long from, long long room,
                          bool atLeastOne);

protected:
    // The bytes of props' text range, clamped to the text; false when it is empty.
    bool part(const sSiDocDrawProps& props, const char*& text, long long& length) const;

    cSiDocFontProvider* myFontProvider = nullptr;
    unsigned int myFontId = 0xFFFFFFFF;
    unsigned int myColor = 0xFFFFFFFF;
    _guardchar<char> myText;
};

class cSiDocLink : public cSiDocText {
public:
    bool draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) override;
    // The target stays owned by the loader.
    void refRef(char* ref) { myRef = ref; }
    const char* ref() const { return myRef; }

protected:
    char* myRef = nullptr;
};

class cSiDocImage : public cSiDocBox {
public:
    enum eImagePlacement { ipNatural = 0, ipStretch = 1 };

    bool draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) override;
    bool wantsSize(cCanvas* canvas, const sSiDocDrawProps& props, sSize& wanted) override;

    // The picture stays owned by the loader.
    void refImage(cPicture* picture) { myPicture = picture; }
    void setPlacement(eImagePlacement placement) { myPlacement = placement; }
    cPicture* image() const { return myPicture; }
    eImagePlacement placement() const { return myPlacement; }

protected:
    cPicture* myPicture = nullptr;
    eImagePlacement myPlacement = ipNatural;
};

class cSiDocImageLink : public cSiDocImage {
public:
    bool draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) override;
    void refRef(char* ref) { myRef = ref; }
    const char* ref() const { return myRef; }

protected:
    char* myRef = nullptr;
};

class cSiDocContainer : public cSiDocBox {
public:
    // A fixed underlying type: a document may carry any byte here.
    enum eAlign : unsigned char { alLeft = 0, alRight = 1, alCenter = 2, alJustify = 3 };

    cSiDocContainer() {}
    // Frees the whole subtree without recursion, so any depth is safe.
    ~cSiDocContainer() override;

    bool draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) override;
    bool wantsSize(cCanvas* canvas, const sSiDocDrawProps& props, sSize& wanted) override;

    void refFont(cSiDocFontProvider* provider, unsigned int id) {
        myFontProvider = provider;
        myFontId = id;
    }
    void setColor(unsigned int color) { myColor = color; }
    // Appends the box and takes ownership; false for null (or no memory, the box is then freed).
    bool addChild(cSiDocBox* box);
    void setAlign(eAlign align) { myAlign = align; }

    cSiDocFontProvider* fontProvider() const { return myFontProvider; }
    unsigned int fontId() const { return myFontId; }
    unsigned int color() const { return myColor; }
    eAlign align() const { return myAlign; }
    _List<cPtr<cSiDocBox> >& children() { return myChildren; }
    long long childCount() const { return myChildren.count(); }

protected:
    cSiDocFontProvider* myFontProvider = nullptr;
    unsigned int myFontId = 0xFFFFFFFF;
    unsigned int myColor = 0xFFFFFFFF;
    _List<cPtr<cSiDocBox> > myChildren;
    eAlign myAlign = alLeft;

private:
    // One algorithm for both: draw paints and reports drawn sizes, wantsSize measures.
    bool layout(cCanvas* canvas, const sSiDocDrawProps& props, sSize& out, bool drawing);
};
