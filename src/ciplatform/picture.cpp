// cPicture and cPicturesList.
#include "ciplatform/picture.h"

#include <cstring>

#include "base/memio.h"
#include "picts/pictbase.h"

int __def_block_align = 0;

bool cPicture::sizeOk(long long w, long long h) {
    return w >= 1 && h >= 1 && w <= kMaxSide && h <= kMaxSide && w * h <= kMaxPixels;
}

void cPicture::clear() {
    myPixels.clear();
    myWidth = myHeight = 0;
}

bool cPicture::create(unsigned int value, int w, int h) {
    if (!sizeOk(w, h)) return false;
    _typebuf<unsigned int> px;
    if (!px.set((long long)w * h)) return false;
    for (long long i = 0; i < px.count; i++) px.ptr[i] = value;
    myPixels.swap(px);
    myWidth = w;
    myHeight = h;
    return true;
}

bool cPicture::create(const unsigned int* pixels, int w, int h, bool inverted) {
    if (!pixels || !sizeOk(w, h)) return false;
    _typebuf<unsigned int> px;
    if (!px.set((long long)w * h)) return false;
    for (int y = 0; y < h; y++) {
        const unsigned int* src = pixels + (long long)(inverted ? h - 1 - y : y) * w;
        memcpy(px.ptr + (long long)y * w, src, (size_t)w * 4);
    }
    myPixels.swap(px);
    myWidth = w;
    myHeight = h;
    return true;
}

bool cPicture::create(const cPicture& other) {
    if (&other == this) return true;
    if (!other.raw()) {
        clear();
        return false;
    }
    return create(other.raw(), other.width(), other.height(), false);
}

bool cPicture::create_on(_typebuf<unsigned int>& pixels, int w, int h) {
    if (!pixels.ptr || !sizeOk(w, h) || pixels.count < (long long)w * h) return false;
    myPixels.swap(pixels);
    pixels.clear();
    myWidth = w;
    myHeight = h;
    return true;
}

bool cPicture::create(const unsigned char* data, unsigned int size) {
    if (!data || !size) return false;
    cBufWrapperIO io(data, size);
    cPictBase::sPictInfo info;
    cPictBase* pict = cPictBase::mkPicture(&io, &info);
    if (!pict) return false;
    bool ok = false;
    // Refuse before decoding: a resource names its own size.
    if (sizeOk(info.width, info.height) && io.set_fp(0) && pict->decode(&io)) {
        long long w = pict->width(), h = pict->height();
        _typebuf<unsigned int> colours;
        if (sizeOk(w, h) && pict->getColorData(colours) && colours.count >= w * h) {
            // Decoders keep rows bottom-up; the flag asks for them as stored.
            ok = create(colours.ptr, (int)w, (int)h, !__bmp_res_inversed);
        }
    }
    delete pict;
    return ok;
}

bool cPicture::hStretch(const unsigned int* source, int sourceWidth, int rows, int targetWidth, unsigned int* out) {
    if (!source || !out || sourceWidth < 1 || targetWidth < 1 || rows < 1) return false;
    // Each target pixel covers [t * sw / tw, (t + 1) * sw / tw) of the source, in units of
    // 1 / tw source pixels, so the weights are exact integers.
    const long long sw = sourceWidth, tw = targetWidth;
    for (int r = 0; r < rows; r++) {
        const unsigned int* s = source + (long long)r * sw;
        unsigned int* o = out + (long long)r * tw;
        for (long long t = 0; t < tw; t++) {
            long long a = t * sw, b = (t + 1) * sw;  // scaled by tw
            unsigned long long acc[4] = {0, 0, 0, 0};
            for (long long i = a / tw; i * tw < b && i < sw; i++) {
                long long lo = i * tw > a ? i * tw : a;
                long long hi = (i + 1) * tw < b ? (i + 1) * tw : b;
                long long wgt = hi - lo;
                unsigned int p = s[i];
                for (int c = 0; c < 4; c++) acc[c] += (unsigned long long)((p >> (8 * c)) & 0xFF) * wgt;
            }
            unsigned int v = 0;
            for (int c = 0; c < 4; c++) v |= (unsigned int)((acc[c] + sw / 2) / sw) << (8 * c);
            o[t] = v;
        }
    }
    return true;
}

// The vertical pass of the box filter: `width` columns of sh rows to th rows.
static void vStretch(const unsigned int* source, int width, int sourceRows, int targetRows, unsigned int* out) {
    const long long sh = sourceRows, th = targetRows;
    for (long long t = 0; t < th; t++) {
        long long a = t * sh, b = (t + 1) * sh;
        for (int x = 0; x < width; x++) {
            unsigned long long acc[4] = {0, 0, 0, 0};
            for (long long i = a / th; i * th < b && i < sh; i++) {
                long long lo = i * th > a ? i * th : a;
                long long hi = (i + 1) * th < b ? (i + 1) * th : b;
                unsigned int p = source[i * width + x];
                for (int c = 0; c < 4; c++) acc[c] += (unsigned long long)((p >> (8 * c)) & 0xFF) * (hi - lo);
            }
            unsigned int v = 0;
            for (int c = 0; c < 4; c++) v |= (unsigned int)((acc[c] + sh / 2) / sh) << (8 * c);
            out[t * width + x] = v;
        }
    }
}

bool cPicture::stretchTo(int w, int h, cPicture& target) const {
    if (!raw() || !sizeOk(w, h)) return false;
    if (&target == this) return false;
    _typebuf<unsigned int> mid, px;
    if (!px.set((long long)w * h)) return false;
    // The pass that leaves the smaller intermediate goes first: a tall narrow picture
    // made short and wide would otherwise need target width x source height pixels.
    // One of the two orders always stays within kMaxPixels.
    if ((long long)w * myHeight <= (long long)myWidth * h) {
        if (!mid.set((long long)w * myHeight)) return false;
        if (!hStretch(raw(), myWidth, myHeight, w, mid.ptr)) return false;
        vStretch(mid.ptr, w, myHeight, h, px.ptr);
    } else {
        if (!mid.set((long long)myWidth * h)) return false;
        vStretch(raw(), myWidth, myHeight, h, mid.ptr);
        if (!hStretch(mid.ptr, myWidth, h, w, px.ptr)) return false;
    }
    target.myPixels.swap(px);
    target.myWidth = w;
    target.myHeight = h;
    return true;
}

cPicturesList::~cPicturesList() { clear(); }

cPicture* cPicturesList::image(int id) {
    sItem* it = myItems.find(id);
    return it ? it->picture : nullptr;
}

void cPicturesList::remove(int id) {
    sItem* it = myItems.find(id);
    if (!it) return;
    if (it->owned) delete it->picture;
    myItems.dettach(id);
}

void cPicturesList::refImage(int id, cPicture* picture) {
    if (!picture) {
        remove(id);
        return;
    }
    sItem* it = myItems.insert(id);
    if (!it) return;
    if (it->owned && it->picture != picture) delete it->picture;
    it->picture = picture;
    it->owned = false;
}

void cPicturesList::storeImage(int id, cPicture* picture) {
    if (!picture) {
        remove(id);
        return;
    }
    sItem* it = myItems.insert(id);
    if (!it) {
        delete picture;
        return;
    }
    if (it->owned && it->picture != picture) delete it->picture;
    it->picture = picture;
    it->owned = true;
}

bool cPicturesList::storeImage(int id, const unsigned int* pixels, int w, int h, bool inverted) {
    cPicture* p = new cPicture();
    if (!p->create(pixels, w, h, inverted)) {
        delete p;
        return false;
    }
    storeImage(id, p);
    return true;
}

void cPicturesList::clear() {
    for (auto* e = myItems.first(); e; e = myItems.next(e))
        if (e->value().owned) delete e->value().picture;
    myItems.destroy();
}
