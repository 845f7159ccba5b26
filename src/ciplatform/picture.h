// cPicture: a toolkit picture of 0xAARRGGBB pixels; cPicturesList: pictures by int id.
#pragma once

#include "base/buffers.h"
#include "base/fastertreelist.h"

// The default block alignment, a process-wide value the UI layer passes on.
extern int __def_block_align;

// Rows are stored top-down (row y starts at raw() + y * width()), as the canvas stores them.
class cPicture {
public:
    // Largest side and pixel count a picture accepts.
    static const int kMaxSide = 32767;
    static const long long kMaxPixels = 64LL * 1024 * 1024;

    cPicture() {}
    virtual ~cPicture() {}
    cPicture(const cPicture&) = delete;
    cPicture& operator=(const cPicture&) = delete;

    int width() const { return myWidth; }
    int height() const { return myHeight; }
    // Null without pixels.
    unsigned int* raw() { return myPixels.ptr; }
    const unsigned int* raw() const { return myPixels.ptr; }
    void clear();

    // A w x h picture filled with one 0xAARRGGBB value.
    bool create(unsigned int value, int w, int h);
    // Decodes a picture resource (any format the picture factory knows, PNG for the
    // built-in ones). The picture comes out upright; with __bmp_res_inversed set it is
    // flipped top to bottom.
    bool create(const unsigned char* data, unsigned int size);
    // Copies top-down pixels; with `inverted` the source rows are bottom-up.
    bool create(const unsigned int* pixels, int w, int h, bool inverted);
    // Takes the buffer over (top-down rows); true when w, h and pixels are all non-zero
    // and the buffer holds at least w x h words; on false the buffer is left with the caller.
    bool create_on(_typebuf<unsigned int>& pixels, int w, int h);
    // Copies another picture.
    bool create(const cPicture& other);

    // Resamples `rows` rows of `sourceWidth` pixels to `targetWidth` pixels each into out
    // (room for targetWidth x rows words), averaging the covered source pixels per channel.
    static bool hStretch(const unsigned int* source, int sourceWidth, int rows, int targetWidth, unsigned int* out);
    // Resamples the whole picture to w x h into target (area average on both axes).
    bool stretchTo(int w, int h, cPicture& target) const;

    // Whether w x h is a size pictures and canvases accept.
    static bool sizeOk(long long w, long long h);

private:
    _typebuf<unsigned int> myPixels;
    int myWidth = 0;
    int myHeight = 0;
};

// Pictures by int id: referenced ones stay with their owner, stored ones are owned.
class cPicturesList {
public:
    cPicturesList() {}
    ~cPicturesList();
    cPicturesList(const cPicturesList&) = delete;
    cPicturesList& operator=(const cPicturesList&) = delete;

    // Null when absent.
    cPicture* image(int id);
    // Keeps a reference (not owned); a null picture removes the id.
    void refImage(int id, cPicture* picture);
    // Takes ownership, freeing a picture owned under that id; a null picture removes the id.
    void storeImage(int id, cPicture* picture);
    // Makes a picture from pixels (see cPicture::create); false when that fails.
    bool storeImage(int id, const unsigned int* pixels, int w, int h, bool inverted);
    void remove(int id);
    void clear();
    long long count() const { return myItems.count(); }

private:
    struct sItem {
        cPicture* picture = nullptr;
        bool owned = false;
    };
    cFasterTreeList<int, sItem> myItems;
};
