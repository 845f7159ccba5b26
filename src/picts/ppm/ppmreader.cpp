// Netpbm decoding into a row sink.
#include "picts/ppm/ppmreader.h"

namespace {

bool isSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Skips white space and '#' comments, then reads a decimal number (at most 10 digits).
bool readNumber(sByteReader& r, unsigned long long& v) {
    for (;;) {
        if (!r.left()) return false;
        unsigned char c = r.data[r.pos];
        if (isSpace(c)) {
            r.pos++;
        } else if (c == '#') {
            while (r.left() && r.data[r.pos] != '\n' && r.data[r.pos] != '\r') r.pos++;
        } else {
            break;
        }
    }
    v = 0;
    int digits = 0;
    while (r.left() && r.data[r.pos] >= '0' && r.data[r.pos] <= '9') {
        if (++digits > 10) return false;
        v = v * 10 + (r.data[r.pos++] - '0');
    }
    return digits > 0;
}

}  // namespace

int cPpmReader::readHeader(const unsigned char* data, long long size, sHeader& h) {
    // A comment ends a token as white space does: "P6#made by ..." is a magic number.
    if (size < 3 || data[0] != 'P' || data[1] < '1' || data[1] > '6' || !(isSpace(data[2]) || data[2] == '#'))
        return eNotPpm;
    h.kind = data[1] - '0';
    sByteReader r(data, size);
    r.pos = 2;
    unsigned long long w, ht, mv = 1;
    if (!readNumber(r, w) || !readNumber(r, ht)) return eTruncated;
    if (h.kind != 1 && h.kind != 4) {
        if (!readNumber(r, mv)) return eTruncated;
        if (mv < 1 || mv > 65535) return eBadData;
    }
    long long px;
    if (!checkedPictPixels((long long)w, (long long)ht, px)) return eBadSize;
    // One white-space byte separates the header from a raw raster; a comment right after the
    // last number runs to the end of its line, whose line break is that byte.
    if (h.kind >= 4) {
        if (r.left() && r.data[r.pos] == '#')
            while (r.left() && r.data[r.pos] != '\n' && r.data[r.pos] != '\r') r.pos++;
        if (!r.left() || !isSpace(r.data[r.pos])) return eTruncated;
        r.pos++;
    }
    h.width = (long long)w;
    h.height = (long long)ht;
    h.maxval = (unsigned int)mv;
    h.dataStart = r.pos;
    return eOk;
}

int cPpmReader::decode(const unsigned char* data, long long size, cPictRowSink& sink) {
    sHeader h;
    int res = readHeader(data, size, h);
    if (res != eOk) return res;
    const long long w = h.width;
    const unsigned int channels = (h.kind == 3 || h.kind == 6) ? 3 : 1, mv = h.maxval;
    const bool wide = mv > 255;
    sByteReader r(data, size);
    r.pos = h.dataStart;
    // A raw raster must be present whole before anything is allocated.
    if (h.kind >= 4) {
        long long rowBytes = h.kind == 4 ? (w + 7) / 8 : w * channels * (wide ? 2 : 1);
        if (rowBytes > r.left() / h.height) return eTruncated;
    } else {
        // Every plain sample takes at least one digit, and a separator unless it is a bit or
        // the last one; the whole raster counts, not one row.
        long long samples = w * h.height * channels;  // within 3 * 2^29
        long long need = h.kind == 1 ? samples : 2 * samples - 1;
        if (need > r.left()) return eTruncated;
    }
    _typebuf<unsigned int> line32;
    _typebuf<unsigned long long> line64;
    if (wide ? !line64.set(w) : !line32.set(w)) return eNoMemory;
    if (!sink.begin(w, h.height, wide)) return eNoMemory;
    for (long long y = 0; y < h.height; y++) {
        for (long long x = 0; x < w; x++) {
            unsigned int s[3] = {0, 0, 0};
            if (h.kind == 4) {
                s[0] = ((r.data[r.pos + (x >> 3)] >> (7 - (x & 7))) & 1) ? 0 : 1;
            } else if (h.kind == 1) {
                // Plain bitmaps may run their digits together.
                while (r.left() && (isSpace(r.data[r.pos]) || r.data[r.pos] == '#')) {
                    if (r.data[r.pos] == '#')
                        while (r.left() && r.data[r.pos] != '\n') r.pos++;
                    else
                        r.pos++;
                }
                unsigned int c = r.u8();
                if (r.bad || (c != '0' && c != '1')) return eTruncated;
                s[0] = c == '0' ? 1 : 0;
            } else {
                for (unsigned int c = 0; c < channels; c++) {
                    if (h.kind <= 3) {
                        unsigned long long v;
                        if (!readNumber(r, v)) return eTruncated;
                        s[c] = v > mv ? mv : (unsigned int)v;
                    } else {
                        s[c] = wide ? r.u16be() : r.u8();
                        if (s[c] > mv) s[c] = mv;
                    }
                }
            }
            if (channels == 1) s[1] = s[2] = s[0];
            unsigned int m = (h.kind == 1 || h.kind == 4) ? 1 : mv;
            if (wide) {
                unsigned long long v[3];
                for (int c = 0; c < 3; c++) v[c] = m == 65535 ? s[c] : ((unsigned long long)s[c] * 65535 + m / 2) / m;
                line64.ptr[x] = pictArgb16(v[0], v[1], v[2]);
            } else {
                unsigned int v[3];
                for (int c = 0; c < 3; c++) v[c] = m == 255 ? s[c] : (s[c] * 255 + m / 2) / m;
                line32.ptr[x] = pictArgb(v[0], v[1], v[2]);
            }
        }
        if (h.kind == 4) r.pos += (w + 7) / 8;
        if (wide)
            sink.row64(y, line64.ptr);
        else
            sink.row32(y, line32.ptr);
    }
    return eOk;
}
