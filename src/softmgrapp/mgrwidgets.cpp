// Package icons through the file-properties readers, scaled here; the built-in icon.
#include "softmgrapp/mgrwidgets.h"

#include "base/fileio.h"
#include "base/lists.h"
#include "ciplatform/canvas.h"
#include "picts/pictdummy.h"
#include "propreader/fileobjectprops.h"
#include "softmgrapp/appicon.h"

namespace {

// An icon file larger than this is not an icon.
const long long kMaxIconFile = 8LL << 20;

}  // namespace

bool scalePicture(const cPicture& from, int w, int h, cPicture& out) {
    int sw = from.width(), sh = from.height();
    const unsigned int* src = from.raw();
    if (!src || sw <= 0 || sh <= 0 || w <= 0 || h <= 0 || w > 4096 || h > 4096) return false;
    _typebuf<unsigned int> px;
    if (!px.set((long long)w * h)) return false;
    for (int y = 0; y < h; y++) {
        int y0 = (int)((long long)y * sh / h), y1 = (int)((long long)(y + 1) * sh / h);
        if (y1 <= y0) y1 = y0 + 1;
        for (int x = 0; x < w; x++) {
            int x0 = (int)((long long)x * sw / w), x1 = (int)((long long)(x + 1) * sw / w);
            if (x1 <= x0) x1 = x0 + 1;
            // Colour weighted by alpha, so transparent pixels do not darken the edges.
            unsigned long long a = 0, r = 0, g = 0, b = 0, n = 0;
            for (int yy = y0; yy < y1; yy++)
                for (int xx = x0; xx < x1; xx++) {
                    unsigned int p = src[(long long)yy * sw + xx];
                    unsigned int pa = p >> 24;
                    a += pa;
                    r += (p >> 16 & 0xFF) * pa;
                    g += (p >> 8 & 0xFF) * pa;
                    b += (p & 0xFF) * pa;
                    n++;
                }
            unsigned int out = 0;
            if (a) {
                out = (unsigned)((a + n / 2) / n) << 24 | (unsigned)((r + a / 2) / a) << 16 |
                      (unsigned)((g + a / 2) / a) << 8 | (unsigned)((b + a / 2) / a);
            }
            px.ptr[(long long)y * w + x] = out;
        }
    }
    return out.create(px.ptr, w, h, false);
}

bool loadPackageIcon(const char* path, int dim, cPicture& out) {
    cFileIO f;
    if (!path || !*path || !f.open(path, cFileIO::eRead)) return false;
    unsigned long long size = f.size();
    if (size == 0 || (long long)size > kMaxIconFile) return false;
    // The file-properties readers choose the reader and give the picture, bottom-up.
    cPtr<cFileObjectProps> props(cFileObjectProps::guessObj(&f));
    if (!props) return false;
    props->setPreviewPreferrences(dim, dim);
    if (!f.set_fp(0) || !props->load(&f, 0, true)) return false;
    cPictDummy* pict = props->prop_pict(3);
    if (!pict || !pict->raw8Bpp() || pict->width() <= 0 || pict->height() <= 0) return false;
    cPicture decoded;
    if (!decoded.create(pict->raw8Bpp(), (int)pict->width(), (int)pict->height(), true)) return false;
    return scalePicture(decoded, dim, dim, out);
}

bool builtinIcon(int dim, cPicture& out) {
    cPicture big;
    if (!big.create(iconColorData(), kAppIconDim, kAppIconDim, false)) return false;
    return scalePicture(big, dim, dim, out);
}
