// Helpers for the JPEG decoder tests.
#include "jpeg_testutil.h"

#include <cmath>
#include <cstdlib>

#include "base/memio.h"
#include "picts/jpeg/pictjpeg.h"

namespace jpegtest {

Image parsePnm(const std::vector<unsigned char>& d) {
    Image im;
    size_t p = 0;
    auto token = [&]() -> long {
        for (;;) {
            while (p < d.size() && isspace(d[p])) p++;
            if (p < d.size() && d[p] == '#') {
                while (p < d.size() && d[p] != '\n') p++;
                continue;
            }
            break;
        }
        long v = 0;
        bool any = false;
        while (p < d.size() && isdigit(d[p])) {
            v = v * 10 + (d[p++] - '0');
            any = true;
        }
        return any ? v : -1;
    };
    if (d.size() < 2 || d[0] != 'P' || (d[1] != '5' && d[1] != '6')) return im;
    im.channels = d[1] == '5' ? 1 : 3;
    p = 2;
    long w = token(), h = token(), mv = token();
    if (w <= 0 || h <= 0 || mv <= 0 || mv > 65535) return im;
    p++;
    int bps = mv > 255 ? 2 : 1;
    size_t n = (size_t)w * h * im.channels;
    if (d.size() < p + n * bps) return im;
    im.w = (int)w;
    im.h = (int)h;
    im.maxval = (int)mv;
    im.px.resize(n);
    for (size_t i = 0; i < n; i++)
        im.px[i] = bps == 2 ? (uint16_t)(d[p + 2 * i] << 8 | d[p + 2 * i + 1]) : d[p + i];
    return im;
}

std::vector<unsigned char> makePnm(const Image& im) {
    std::string head = std::string(im.channels == 1 ? "P5\n" : "P6\n") + std::to_string(im.w) + " " +
                       std::to_string(im.h) + "\n" + std::to_string(im.maxval) + "\n";
    std::vector<unsigned char> out(head.begin(), head.end());
    for (uint16_t v : im.px) {
        if (im.maxval > 255) out.push_back((unsigned char)(v >> 8));
        out.push_back((unsigned char)v);
    }
    return out;
}

Image synthetic(int w, int h, int channels, int maxval, unsigned seed, int noise) {
    Image im;
    im.w = w;
    im.h = h;
    im.channels = channels;
    im.maxval = maxval;
    im.px.resize((size_t)w * h * channels);
    unsigned s = seed * 2654435761u + 1;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int c = 0; c < channels; c++) {
                s = s * 1103515245u + 12345u;
                double v = 0.5 + 0.35 * std::sin((x * (c + 1) * 0.07) + y * 0.05 * (3 - c)) +
                           0.1 * std::cos(x * y * 0.0021 + c);
                if (((x / 13) + (y / 11)) % 5 == 0) v = 1.0 - v;  // hard edges
                v += ((int)((s >> 16) % (2 * noise)) - noise) / 512.0;  // noise
                if (v < 0) v = 0;
                if (v > 1) v = 1;
                im.px[((size_t)y * w + x) * channels + c] = (uint16_t)std::lround(v * maxval);
            }
    return im;
}

Decoded decodeJpeg(const std::vector<unsigned char>& bytes) {
    Decoded r;
    cPictJPEG dec;
    cBufWrapperIO s(bytes.data(), (long long)bytes.size());
    r.ok = dec.decode(&s);
    long long w = dec.width(), h = dec.height();
    if (w <= 0 || h <= 0) return r;
    r.sixteen = dec.raw16Bpp() != nullptr;
    if (!r.sixteen && !dec.raw8Bpp()) return r;
    r.rgb.w = (int)w;
    r.rgb.h = (int)h;
    r.rgb.channels = 3;
    r.rgb.maxval = r.sixteen ? 65535 : 255;
    r.rgb.px.resize((size_t)w * h * 3);
    for (long long y = 0; y < h; y++)
        for (long long x = 0; x < w; x++) {
            long long src = (h - 1 - y) * w + x;  // stored bottom-up
            uint16_t* d = &r.rgb.px[(size_t)(y * w + x) * 3];
            if (r.sixteen) {
                unsigned long long p = dec.raw16Bpp()[src];
                d[0] = (uint16_t)(p >> 32);
                d[1] = (uint16_t)(p >> 16);
                d[2] = (uint16_t)p;
            } else {
                unsigned p = dec.raw8Bpp()[src];
                d[0] = (p >> 16) & 255;
                d[1] = (p >> 8) & 255;
                d[2] = p & 255;
            }
        }
    return r;
}

bool compare(const Image& a, const Image& b, double& meanMax, int& maxDiff) {
    meanMax = 0;
    maxDiff = 0;
    if (a.w != b.w || a.h != b.h || a.w == 0) return false;
    for (int c = 0; c < 3; c++) {
        double sum = 0;
        for (int y = 0; y < a.h; y++)
            for (int x = 0; x < a.w; x++) {
                int va = a.at(x, y, a.channels == 1 ? 0 : c), vb = b.at(x, y, b.channels == 1 ? 0 : c);
                int d = std::abs(va - vb);
                sum += d;
                if (d > maxDiff) maxDiff = d;
            }
        double mean = sum / ((double)a.w * a.h);
        if (mean > meanMax) meanMax = mean;
    }
    return true;
}

}  // namespace jpegtest
