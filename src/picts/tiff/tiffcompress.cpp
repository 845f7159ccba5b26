// cPictTIFF: the decompressors of strips and tiles (none, LZW, Deflate, PackBits, JPEG),
// the predictors, and uncompressed YCbCr turned into RGB rows.
// Every decompressor makes at most the bytes the strip is expected to hold.
#include <cstring>

#include "base/memio.h"
#include "compression/lzwdecompress.h"
#include "compression/zlibstreams.h"
#include "picts/byteorder.h"
#include "picts/jpeg/pictjpeg.h"
#include "picts/tiff/picttiff.h"
#include "picts/tiff/variablelengthaccess.h"

bool cPictTIFF::decodeStripe(int compression, _typebuf<unsigned char>& in, sDecomress& rec) {
    long long expected;
    if (!checkedMul(rec.bytesPerRow, rec.rows, expected)) return false;
    // YCbCr without JPEG travels in its own sub-sampled units (TIFF 6.0 section 21).
    if (rec.photometric == 6 && rec.planar == 1 && compression != 6 && compression != 7) {
        expected = ycbcrChunkBytes(rec.width, rec.rows);
        if (expected <= 0) return false;
    }
    switch (compression) {
        case 1:
            // The bytes are the rows; anything past them is ignored.
            if (in.count < expected) return false;
            rec.output.swap(in);
            return true;
        case 3: return decompressFax3(in, rec);
        case 4: return decompressFax4(in, rec);
        case 5: {
            cLZWDecompress lzw(true, 9, true);
            return lzw.decompress(in, rec.output, expected, expected);
        }
        case 8:
        case 32946:
            // Output beyond the strip's rows is never made; a stream that ends short fails.
            return (rec.output.count == expected || rec.output.set(expected)) &&
                   cZDecompress::decompressExact(in.ptr, in.count, rec.output.ptr, expected);
        case 32773:
            return makePackBitsDecompressing(in.ptr, in.count, expected, rec.output) && rec.output.count == expected;
        case 6:
        case 7:
        case 34892: return decodeJPEGChunk(in, rec);
        default: return false;
    }
}

bool cPictTIFF::makePackBitsDecompressing(const unsigned char* in, long long size, long long expected,
                                          _typebuf<unsigned char>& out) {
    out.clear();
    if (!in || size <= 0 || expected <= 0 || !out.set(expected)) return false;
    long long i = 0, o = 0;
    while (i < size && o < expected) {
        int n = (signed char)in[i++];
        if (n >= 0) {
            long long len = n + 1;
            if (i + len > size || o + len > expected) return false;
            memcpy(out.ptr + o, in + i, (size_t)len);
            i += len;
            o += len;
        } else if (n != -128) {
            long long len = 1 - n;
            if (i >= size || o + len > expected) return false;
            memset(out.ptr + o, in[i++], (size_t)len);
            o += len;
        }
    }
    if (o < expected && !out.reset(o)) return false;
    return o > 0;
}

bool cPictTIFF::makeHorzUndifferencing(unsigned char* data, long long size, long long width, int samples, int bits,
                                       bool bigEndian) {
    long long rowBytes;
    if (!data || !checkedRowBytes(width, samples, bits, rowBytes)) return false;
    const long long n = width * samples;  // samples in a row
    for (long long r = 0; r + rowBytes <= size; r += rowBytes) {
        unsigned char* row = data + r;
        if (bits == 8 && (samples == 3 || samples == 4)) {
            // The running sums stay in registers instead of being read back from the row.
            unsigned char a = row[0], b = row[1], c = row[2], d = samples == 4 ? row[3] : 0;
            for (long long j = samples; j + samples <= rowBytes; j += samples) {
                row[j] = a = (unsigned char)(a + row[j]);
                row[j + 1] = b = (unsigned char)(b + row[j + 1]);
                row[j + 2] = c = (unsigned char)(c + row[j + 2]);
                if (samples == 4) row[j + 3] = d = (unsigned char)(d + row[j + 3]);
            }
        } else if (bits == 8) {
            for (long long j = samples; j < rowBytes; j++) row[j] = (unsigned char)(row[j] + row[j - samples]);
        } else if (bits == 16) {
            for (long long j = samples; j < n; j++) {
                unsigned char* p = row + 2 * j;
                unsigned char* q = p - 2 * samples;
                unsigned v = rawGet16(p, bigEndian) + rawGet16(q, bigEndian);
                if (bigEndian)
                    p[0] = (unsigned char)(v >> 8), p[1] = (unsigned char)v;
                else
                    p[1] = (unsigned char)(v >> 8), p[0] = (unsigned char)v;
            }
        } else if (bits == 32) {
            for (long long j = samples; j < n; j++) {
                unsigned char* p = row + 4 * j;
                unsigned char* q = p - 4 * samples;
                unsigned int a = 0, b = 0;
                for (int k = 0; k < 4; k++) {
                    int s = bigEndian ? 24 - 8 * k : 8 * k;
                    a |= (unsigned int)p[k] << s;
                    b |= (unsigned int)q[k] << s;
                }
                a += b;
                for (int k = 0; k < 4; k++) p[k] = (unsigned char)(a >> (bigEndian ? 24 - 8 * k : 8 * k));
            }
        } else if (bits < 32) {
            // Packed widths: fields read and written most significant bit first.
            const unsigned long long mask = (1ULL << bits) - 1;
            auto get = [&](long long idx) { return cVariableLengthAccess::getValue(row, idx * bits, bits); };
            auto put = [&](long long idx, unsigned long long v) {
                long long bit = idx * bits;
                for (int k = bits - 1; k >= 0; k--, bit++) {
                    unsigned char m = (unsigned char)(0x80 >> (bit & 7));
                    if ((v >> k) & 1)
                        row[bit >> 3] |= m;
                    else
                        row[bit >> 3] &= (unsigned char)~m;
                }
            };
            for (long long j = samples; j < n; j++) put(j, (get(j) + get(j - samples)) & mask);
        } else {
            return false;
        }
    }
    return true;
}

bool cPictTIFF::makeFloatUndifferencing(unsigned char* data, long long size, long long width, int samples, int bits,
                                        bool bigEndian) {
    if (bits != 16 && bits != 24 && bits != 32 && bits != 64) return false;
    const int bps = bits / 8;
    long long rowBytes;
    if (!data || !checkedRowBytes(width, samples, bits, rowBytes)) return false;
    _typebuf<unsigned char> tmp;
    if (!tmp.set(rowBytes)) return false;
    const long long n = width * samples;
    for (long long r = 0; r + rowBytes <= size; r += rowBytes) {
        unsigned char* row = data + r;
        for (long long j = samples; j < rowBytes; j++) row[j] = (unsigned char)(row[j] + row[j - samples]);
        memcpy(tmp.ptr, row, (size_t)rowBytes);
        // Plane b holds byte b (most significant first) of every sample.
        for (long long j = 0; j < n; j++)
            for (int b = 0; b < bps; b++) {
                unsigned char v = tmp.ptr[b * n + j];
                row[j * bps + (bigEndian ? b : bps - 1 - b)] = v;
            }
    }
    return true;
}

bool cPictTIFF::decodeJPEGChunk(_typebuf<unsigned char>& in, sDecomress& rec) {
    // Tag 347 holds the tables (SOI, DQT/DHT, EOI) every strip shares: the strip is read
    // as if its tables came first.
    const _typebuf<unsigned char>* src = &in;
    _typebuf<unsigned char> joined;
    if (myJPEGTables.count >= 4 && in.count >= 2) {
        long long t = myJPEGTables.count;
        if (myJPEGTables.ptr[t - 2] == 0xFF && myJPEGTables.ptr[t - 1] == 0xD9) t -= 2;
        long long skip = in.ptr[0] == 0xFF && in.ptr[1] == 0xD8 ? 2 : 0;
        if (!joined.set(t + in.count - skip)) return false;
        memcpy(joined.ptr, myJPEGTables.ptr, (size_t)t);
        memcpy(joined.ptr + t, in.ptr + skip, (size_t)(in.count - skip));
        src = &joined;
    }
    cPictJPEG jpeg;
    jpeg.setWantAlts(false);
    cBufWrapperIO s(src->ptr, src->count);
    if (!jpeg.decode(&s)) return false;
    const long long w = jpeg.width(), h = jpeg.height();
    const bool sixteen = jpeg.raw8Bpp() == nullptr;
    if (w < 1 || h < 1 || (sixteen && !jpeg.raw16Bpp())) return false;
    long long bytes;
    const long long bpp = sixteen ? 6 : 3;
    if (!checkedImageBytes(w, h, bpp, bytes) || !rec.output.set(bytes)) return false;
    for (long long r = 0; r < h; r++) {
        unsigned char* d = rec.output.ptr + r * w * bpp;
        if (sixteen) {
            const unsigned long long* p = jpeg.raw16Bpp() + (h - 1 - r) * w;
            unsigned short* o = (unsigned short*)d;
            for (long long x = 0; x < w; x++) {
                o[3 * x] = (unsigned short)(p[x] >> 32);
                o[3 * x + 1] = (unsigned short)(p[x] >> 16);
                o[3 * x + 2] = (unsigned short)p[x];
            }
        } else {
            const unsigned int* p = jpeg.raw8Bpp() + (h - 1 - r) * w;
            for (long long x = 0; x < w; x++) {
                d[3 * x] = (unsigned char)(p[x] >> 16);
                d[3 * x + 1] = (unsigned char)(p[x] >> 8);
                d[3 * x + 2] = (unsigned char)p[x];
            }
        }
    }
    rec.bytesPerRow = (unsigned int)(w * bpp);
    rec.bits = sixteen ? 16 : 8;
    rec.samples = 3;
    rec.rows = (unsigned int)h;
    rec.width = (unsigned int)w;
    rec.planar = 1;
    rec.photometric = 2;
    rec.sampleFormat = 1;
    // 16-bit samples were written in host order.
    unsigned short one = 1;
    rec.bigEndian = *(unsigned char*)&one == 0;
    return true;
}

long long cPictTIFF::ycbcrChunkBytes(long long w, long long rows) const {
    const long long h = mySubsampling[0], v = mySubsampling[1];
    if (myBits != 8 || mySamples != 3 || (h != 1 && h != 2 && h != 4) || (v != 1 && v != 2 && v != 4)) return -1;
    long long units = ((w + h - 1) / h) * ((rows + v - 1) / v), bytes;
    if (!checkedMul(units, h * v + 2, bytes) || !checkedWorkBytes(bytes, 1, bytes)) return -1;
    return bytes;
}

bool cPictTIFF::decodeYCbCr(sDecomress& rec) {
    // ITU-R BT.601 by default (TIFF 6.0 section 21); ReferenceBlackWhite sets the ranges.
    const long long w = rec.width, rows = rec.rows, hs = mySubsampling[0], vs = mySubsampling[1];
    long long need = ycbcrChunkBytes(w, rows), bytes;
    if (need <= 0 || rec.output.count < need || !checkedImageBytes(w, rows, 3, bytes)) return false;
    double kr = 0.299, kg = 0.587, kb = 0.114;
    if (myYCbCrCoefficients.count >= 3) {
        double c[3];
        for (int i = 0; i < 3; i++) {
            const sRational& r = myYCbCrCoefficients.ptr[i];
            c[i] = r.den ? (double)r.num / r.den : 0;
        }
        if (c[0] > 0 && c[1] > 0 && c[2] > 0) kr = c[0], kg = c[1], kb = c[2];
    }
    double ref[6] = {0, 255, 128, 255, 128, 255};
    if (myRefBlackWhite.count >= 6)
        for (int i = 0; i < 6; i++)
            ref[i] = myRefBlackWhite.ptr[i].den ? (double)myRefBlackWhite.ptr[i].num / myRefBlackWhite.ptr[i].den : 0;
    _typebuf<unsigned char> out;
    if (!out.set(bytes)) return false;
    const unsigned char* p = rec.output.ptr;
    auto clamp = [](double v) { return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : (int)(v + 0.5)); };
    const double ys = ref[1] - ref[0] ? 255.0 / (ref[1] - ref[0]) : 1;
    const double cbs = ref[3] - ref[2] ? 127.0 / (ref[3] - ref[2]) : 1;
    const double crs = ref[5] - ref[4] ? 127.0 / (ref[5] - ref[4]) : 1;
    for (long long by = 0; by < rows; by += vs)
        for (long long bx = 0; bx < w; bx += hs) {
            const unsigned char* unit = p;
            p += hs * vs + 2;
            double cb = (unit[hs * vs] - ref[2]) * cbs, cr = (unit[hs * vs + 1] - ref[4]) * crs;
            for (long long j = 0; j < vs; j++)
                for (long long i = 0; i < hs; i++) {
                    long long x = bx + i, y = by + j;
                    if (x >= w || y >= rows) continue;
                    double Y = (unit[j * hs + i] - ref[0]) * ys;
                    double r = Y + cr * (2 - 2 * kr), b = Y + cb * (2 - 2 * kb);
                    double g = (Y - kb * b - kr * r) / kg;
                    unsigned char* d = out.ptr + (y * w + x) * 3;
                    d[0] = clamp(r), d[1] = clamp(g), d[2] = clamp(b);
                }
        }
    rec.output.swap(out);
    rec.bytesPerRow = (unsigned int)(w * 3);
    rec.bits = 8;
    rec.samples = 3;
    rec.photometric = 2;
    return true;
}
