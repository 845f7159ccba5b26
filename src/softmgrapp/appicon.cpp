// The application icon, drawn once: a blue tile with a white box and an orange arrow.
#include "softmgrapp/appicon.h"

namespace {

unsigned int blend(unsigned int under, unsigned int over, int alpha) {
    unsigned int out = 0xFF000000u;
    for (int s = 0; s < 24; s += 8) {
        int a = (int)((under >> s) & 0xFF), b = (int)((over >> s) & 0xFF);
        out |= (unsigned int)((a * (255 - alpha) + b * alpha + 127) / 255) << s;
    }
    return out;
}

// Coverage (0-255) of a rounded rectangle at a pixel, with a one-pixel soft edge.
int roundRectCover(int x, int y, int left, int top, int right, int bottom, int radius) {
    double px = x + 0.5, py = y + 0.5;
    double cx = px < left + radius ? left + radius : (px > right - radius ? right - radius : px);
    double cy = py < top + radius ? top + radius : (py > bottom - radius ? bottom - radius : py);
    double dx = px - cx, dy = py - cy;
    double d2 = dx * dx + dy * dy;
    if (px < left || px > right || py < top || py > bottom) return 0;
    if (d2 <= (radius - 1.0) * (radius - 1.0)) return 255;
    if (d2 >= (double)radius * radius) return 0;
    return 128;
}

void drawIcon(unsigned int* px) {
    const int n = kAppIconDim;
    for (int y = 0; y < n; y++) {
        for (int x = 0; x < n; x++) {
            unsigned int c = 0;  // transparent
            int cover = roundRectCover(x, y, 4, 4, n - 4, n - 4, 22);
            if (cover) {
                // A blue tile, lighter at the top.
                int g = 0x70 + (n - y) * 0x40 / n;
                unsigned int tile = 0xFF000000u | (0x20u << 16) | ((unsigned)g << 8) | 0xD8u;
                // A white box with a lid line and a downward arrow.
                int box = roundRectCover(x, y, 30, 52, n - 30, n - 22, 6);
                if (box) tile = blend(tile, 0xFFF4F6FA, box);
                if (y >= 64 && y <= 66 && x >= 32 && x <= n - 32) tile = 0xFF9AA8BC;
                int mid = n / 2;
                bool shaft = x >= mid - 6 && x <= mid + 5 && y >= 18 && y <= 54;
                // The arrow head: a triangle from y = 44 (22 wide each side) to its tip at 72.
                int dx = x >= mid ? x - mid : mid - x;
                bool tip = y >= 44 && y <= 72 && dx * 28 <= 22 * (72 - y);
                if (shaft || tip) tile = 0xFFFF9A1E;
                c = cover == 255 ? tile : ((unsigned)cover << 24) | (tile & 0xFFFFFF);
            }
            px[y * n + x] = c;
        }
    }
}

}  // namespace

const unsigned int* iconColorData() {
    static unsigned int pixels[kAppIconDim * kAppIconDim];
    static bool drawn = [] {
        drawIcon(pixels);
        return true;
    }();
    (void)drawn;
    return pixels;
}
