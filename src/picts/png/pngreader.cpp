// PNG decoding into a row sink. Only the exact number of raw bytes the header implies is ever
// inflated, so a hostile zlib stream cannot make the output grow.
#include "picts/png/pngreader.h"

#include <zlib.h>

#include "picts/byteorder.h"

namespace {

const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

constexpr unsigned int tag(char a, char b, char c, char d) {
    return ((unsigned int)(unsigned char)a << 24) | ((unsigned int)(unsigned char)b << 16) |
           ((unsigned int)(unsigned char)c << 8) | (unsigned int)(unsigned char)d;
}
const unsigned int kIHDR = tag('I', 'H', 'D', 'R');
const unsigned int kPLTE = tag('P', 'L', 'T', 'E');
const unsigned int kIDAT = tag('I', 'D', 'A', 'T');
const unsigned int kIEND = tag('I', 'E', 'N', 'D');
const unsigned int ktRNS = tag('t', 'R', 'N', 'S');

// Deflate cannot expand data by more than about 1032:1; a header claiming more raw bytes
// than the remaining file could ever inflate to is refused before anything is allocated.
const long long kMaxInflateRatio = 1040;

struct sPass {
    unsigned int x0, y0, dx, dy;
};
const sPass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

bool validDepth(unsigned int ct, unsigned int d) {
    switch (ct) {
        case 0: return d == 1 || d == 2 || d == 4 || d == 8 || d == 16;
        case 3: return d == 1 || d == 2 || d == 4 || d == 8;
        case 2:
        case 4:
        case 6: return d == 8 || d == 16;
    }
    return false;
}

unsigned int channelsOf(unsigned int ct) {
    switch (ct) {
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
    }
    return 1;
}

long long rowBytes(unsigned long long w, unsigned int channels, unsigned int depth) {
    return (long long)((w * channels * depth + 7) / 8);
}

unsigned int paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = p > a ? p - a : a - p;
    int pb = p > b ? p - b : b - p;
    int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc) return (unsigned int)a;
    return pb <= pc ? (unsigned int)b : (unsigned int)c;
}

// PNG 9.2: undoes one row's filter in place; `prev` is the previous unfiltered row (zeros first).
bool unfilter(unsigned int type, unsigned char* row, const unsigned char* prev, long long n, long long bpp) {
    switch (type) {
        case 0: return true;
        case 1:
            for (long long i = bpp; i < n; i++) row[i] = (unsigned char)(row[i] + row[i - bpp]);
            return true;
        case 2:
            for (long long i = 0; i < n; i++) row[i] = (unsigned char)(row[i] + prev[i]);
            return true;
        case 3:
            for (long long i = 0; i < bpp && i < n; i++) row[i] = (unsigned char)(row[i] + (prev[i] >> 1));
            for (long long i = bpp; i < n; i++)
                row[i] = (unsigned char)(row[i] + ((row[i - bpp] + prev[i]) >> 1));
            return true;
        case 4:
            for (long long i = 0; i < bpp && i < n; i++) row[i] = (unsigned char)(row[i] + prev[i]);
            for (long long i = bpp; i < n; i++)
                row[i] = (unsigned char)(row[i] + paeth(row[i - bpp], prev[i], prev[i - bpp]));
            return true;
    }
    return false;
}

}  // namespace

int cPngReader::readHeader(cFileIOTarget* stream, sPngHeader& h) {
    unsigned char b[25];  // length, "IHDR", 13 bytes of data, CRC
    if (!stream || !stream->readf(b, 8) || memcmp(b, kSignature, 8) != 0) return eNotPng;
    if (!stream->readf(b, 25)) return eNotPng;
    if (be32(b) != 13 || be32(b + 4) != kIHDR) return eBadHeader;
    if ((unsigned int)crc32_z(0, b + 4, 17) != be32(b + 21)) return eBadCrc;
    h.width = be32(b + 8);
    h.height = be32(b + 12);
    h.depth = b[16];
    h.colorType = b[17];
    h.interlace = b[20];
    if (!validDepth(h.colorType, h.depth) || b[18] != 0 || b[19] != 0 || h.interlace > 1) return eBadHeader;
    long long px;
    if (h.width > 0x7FFFFFFFu || h.height > 0x7FFFFFFFu || !checkedPictPixels(h.width, h.height, px))
        return eBadSize;
    return eOk;
}

int cPngReader::readChunkHead(unsigned int& length, unsigned int& type) {
    unsigned char b[8];
    if (!myStream->readf(b, 8)) return eTruncated;
    length = be32(b);
    type = be32(b + 4);
    unsigned long long pos = myStream->get_fp();
    if (length > 0x7FFFFFFFu || pos > myEnd || myEnd - pos < (unsigned long long)length + 4) return eTruncated;
    for (int i = 0; i < 4; i++) {
        unsigned char c = b[4 + i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return eBadChunk;
    }
    return eOk;
}

// Reads a chunk's data and CRC; keeps the data when asked, checks the CRC either way.
int cPngReader::readChunkBody(unsigned int length, unsigned int type, _typebuf<unsigned char>* keep) {
    unsigned char t[4] = {(unsigned char)(type >> 24), (unsigned char)(type >> 16), (unsigned char)(type >> 8),
                          (unsigned char)type};
    unsigned int crc = (unsigned int)crc32_z(0, t, 4);
    if (keep) {
        if (length && (!keep->set(length) || !myStream->readf(keep->ptr, length))) return eTruncated;
        if (!length) keep->clear();
        if (length) crc = (unsigned int)crc32_z(crc, keep->ptr, length);
    } else {
        unsigned char buf[4096];
        unsigned int left = length;
        while (left) {
            unsigned int n = left < sizeof(buf) ? left : (unsigned int)sizeof(buf);
            if (!myStream->readf(buf, n)) return eTruncated;
            crc = (unsigned int)crc32_z(crc, buf, (z_size_t)n);
            left -= n;
        }
    }
    unsigned char c[4];
    if (!myStream->readf(c, 4)) return eTruncated;
    return be32(c) == crc ? eOk : eBadCrc;
}

// Fills the input buffer from the current IDAT chunk, moving on to following IDAT chunks.
int cPngReader::refillInput() {
    myInPos = myInLen = 0;
    while (!myChunkLeft) {
        if (myIdatDone) return eTruncated;
        unsigned char c[4];
        if (!myStream->readf(c, 4)) return eTruncated;
        if (be32(c) != myChunkCrc) return eBadCrc;
        unsigned int len, type;
        int r = readChunkHead(len, type);
        if (r != eOk) return r;
        if (type != kIDAT) {
            myIdatDone = true;
            return eTruncated;
        }
        myChunkLeft = len;
        unsigned char t[4] = {'I', 'D', 'A', 'T'};
        myChunkCrc = (unsigned int)crc32_z(0, t, 4);
    }
    long long n = myChunkLeft < (unsigned long long)myIn.count ? myChunkLeft : myIn.count;
    if (!myStream->readf(myIn.ptr, n)) return eTruncated;
    myChunkCrc = (unsigned int)crc32_z(myChunkCrc, myIn.ptr, (z_size_t)n);
    myChunkLeft -= (unsigned int)n;
    myInLen = n;
    return eOk;
}

// After the last row: the rest of the IDAT chunks is read only for its CRCs.
int cPngReader::finishIdat() {
    while (!myIdatDone) {
        while (myChunkLeft) {
            long long n = myChunkLeft < (unsigned long long)myIn.count ? myChunkLeft : myIn.count;
            if (!myStream->readf(myIn.ptr, n)) return eTruncated;
            myChunkCrc = (unsigned int)crc32_z(myChunkCrc, myIn.ptr, (z_size_t)n);
            myChunkLeft -= (unsigned int)n;
        }
        unsigned char c[4];
        if (!myStream->readf(c, 4)) return eTruncated;
        if (be32(c) != myChunkCrc) return eBadCrc;
        unsigned int len, type;
        if (readChunkHead(len, type) != eOk || type != kIDAT) {
            myIdatDone = true;
            break;
        }
        myChunkLeft = len;
        unsigned char t[4] = {'I', 'D', 'A', 'T'};
        myChunkCrc = (unsigned int)crc32_z(0, t, 4);
    }
    return eOk;
}

// Copies the next n inflated bytes; never inflates more than the raw size still expected.
int cPngReader::pull(unsigned char* dst, long long n) {
    while (n > 0) {
        if (myOutPos < myOutLen) {
            long long k = myOutLen - myOutPos < n ? myOutLen - myOutPos : n;
            memcpy(dst, myOut.ptr + myOutPos, (size_t)k);
            myOutPos += k;
            dst += k;
            n -= k;
            continue;
        }
        if (myZEnded || myRawLeft <= 0) return eTruncated;
        long long want = myRawLeft < myOut.count ? myRawLeft : myOut.count;
        myOutPos = myOutLen = 0;
        int stuck = 0;
        while (myOutLen < want) {
            if (myInPos >= myInLen) {
                int r = refillInput();
                if (r != eOk) return r;
            }
            long long used = 0, made = 0;
            cZInflate::eResult r = myInflate.inflate(myIn.ptr + myInPos, myInLen - myInPos, used,
                                                     myOut.ptr + myOutLen, want - myOutLen, made);
            myInPos += used;
            myOutLen += made;
            if (r == cZInflate::eError) return eBadData;
            if (r == cZInflate::eStreamEnd) {
                myZEnded = true;
                break;
            }
            if (used == 0 && made == 0 && myInPos < myInLen && ++stuck > 4) return eBadData;
        }
        myRawLeft -= myOutLen;
        if (myOutLen == 0) return eTruncated;
    }
    return eOk;
}

void cPngReader::toPixels32(const unsigned char* raw, long long n, unsigned int* out) const {
    const unsigned int d = myHdr.depth;
    switch (myHdr.colorType) {
        case 0:
            if (d == 8) {
                for (long long x = 0; x < n; x++) {
                    unsigned int v = raw[x];
                    out[x] = pictArgb(v, v, v, myHasKey && v == myKey[0] ? 0 : 255);
                }
            } else {
                unsigned int mask = (1u << d) - 1, scale = 255 / mask, perByte = 8 / d;
                for (long long x = 0; x < n; x++) {
                    unsigned int shift = 8 - d * (unsigned int)(x % perByte + 1);
                    unsigned int s = (raw[x / perByte] >> shift) & mask, v = s * scale;
                    out[x] = pictArgb(v, v, v, myHasKey && s == myKey[0] ? 0 : 255);
                }
            }
            break;
        case 3: {
            unsigned int mask = (1u << d) - 1, perByte = 8 / d;
            for (long long x = 0; x < n; x++) {
                unsigned int i = d == 8 ? raw[x] : (raw[x / perByte] >> (8 - d * (unsigned int)(x % perByte + 1))) & mask;
                out[x] = i < myPaletteCount ? myPalette[i] : 0xFF000000u;
            }
            break;
        }
        case 2:
            for (long long x = 0; x < n; x++, raw += 3) {
                bool key = myHasKey && raw[0] == myKey[0] && raw[1] == myKey[1] && raw[2] == myKey[2];
                out[x] = pictArgb(raw[0], raw[1], raw[2], key ? 0 : 255);
            }
            break;
        case 4:
            for (long long x = 0; x < n; x++, raw += 2) out[x] = pictArgb(raw[0], raw[0], raw[0], raw[1]);
            break;
        case 6:
            for (long long x = 0; x < n; x++, raw += 4) out[x] = pictArgb(raw[0], raw[1], raw[2], raw[3]);
            break;
    }
}

void cPngReader::toPixels64(const unsigned char* raw, long long n, unsigned long long* out) const {
    const unsigned int ch = myChannels;
    for (long long x = 0; x < n; x++, raw += 2 * ch) {
        unsigned int s[4];
        for (unsigned int c = 0; c < ch; c++) s[c] = be16(raw + 2 * c);
        switch (myHdr.colorType) {
            case 0: out[x] = pictArgb16(s[0], s[0], s[0], myHasKey && s[0] == myKey[0] ? 0 : 0xFFFF); break;
            case 2: {
                bool key = myHasKey && s[0] == myKey[0] && s[1] == myKey[1] && s[2] == myKey[2];
                out[x] = pictArgb16(s[0], s[1], s[2], key ? 0 : 0xFFFF);
                break;
            }
            case 4: out[x] = pictArgb16(s[0], s[0], s[0], s[1]); break;
            default: out[x] = pictArgb16(s[0], s[1], s[2], s[3]); break;
        }
    }
}

int cPngReader::decodeRows(cPictRowSink& sink) {
    const unsigned long long w = myHdr.width, h = myHdr.height;
    const bool wide = myHdr.depth == 16;
    const long long bpp = (myChannels * myHdr.depth + 7) / 8;
    const long long fullRow = rowBytes(w, myChannels, myHdr.depth);
    _typebuf<unsigned char> cur, prev;
    if (!cur.set(fullRow + 1) || !prev.set(fullRow + 1)) return eNoMemory;
    if (!sink.begin((long long)w, (long long)h, wide)) return eNoMemory;

    if (!myHdr.interlace) {
        _typebuf<unsigned int> line32;
        _typebuf<unsigned long long> line64;
        if (wide ? !line64.set((long long)w) : !line32.set((long long)w)) return eNoMemory;
        memset(prev.ptr, 0, (size_t)prev.count);
        for (unsigned long long y = 0; y < h; y++) {
            int r = pull(cur.ptr, fullRow + 1);
            if (r != eOk) return r;
            if (!unfilter(cur.ptr[0], cur.ptr + 1, prev.ptr + 1, fullRow, bpp)) return eBadData;
            if (wide) {
                unsigned long long* d = sink.target64((long long)y);
                toPixels64(cur.ptr + 1, (long long)w, d ? d : line64.ptr);
                sink.row64((long long)y, d ? d : line64.ptr);
            } else {
                unsigned int* d = sink.target32((long long)y);
                toPixels32(cur.ptr + 1, (long long)w, d ? d : line32.ptr);
                sink.row32((long long)y, d ? d : line32.ptr);
            }
            cur.swap(prev);
        }
        return eOk;
    }

    // Adam7: passes land in a whole picture, which then goes to the sink row by row.
    sRawPict whole;
    if (!whole.begin((long long)w, (long long)h, wide)) return eNoMemory;
    _typebuf<unsigned int> line32;
    _typebuf<unsigned long long> line64;
    if (!line32.set((long long)w) || !line64.set((long long)w)) return eNoMemory;
    for (const sPass& p : kAdam7) {
        if (w <= p.x0 || h <= p.y0) continue;
        unsigned long long pw = (w - p.x0 + p.dx - 1) / p.dx, ph = (h - p.y0 + p.dy - 1) / p.dy;
        long long rb = rowBytes(pw, myChannels, myHdr.depth);
        memset(prev.ptr, 0, (size_t)prev.count);
        for (unsigned long long j = 0; j < ph; j++) {
            int r = pull(cur.ptr, rb + 1);
            if (r != eOk) return r;
            if (!unfilter(cur.ptr[0], cur.ptr + 1, prev.ptr + 1, rb, bpp)) return eBadData;
            unsigned long long y = p.y0 + j * p.dy;
            if (wide) {
                toPixels64(cur.ptr + 1, (long long)pw, line64.ptr);
                unsigned long long* d = whole.top64((long long)y);
                for (unsigned long long i = 0; i < pw; i++) d[p.x0 + i * p.dx] = line64.ptr[i];
            } else {
                toPixels32(cur.ptr + 1, (long long)pw, line32.ptr);
                unsigned int* d = whole.top32((long long)y);
                for (unsigned long long i = 0; i < pw; i++) d[p.x0 + i * p.dx] = line32.ptr[i];
            }
            cur.swap(prev);
        }
    }
    for (unsigned long long y = 0; y < h; y++) {
        if (wide)
            sink.row64((long long)y, whole.top64((long long)y));
        else
            sink.row32((long long)y, whole.top32((long long)y));
    }
    return eOk;
}

int cPngReader::decode(cFileIOTarget* stream, cPictRowSink& sink) {
    myStream = stream;
    if (!stream) return eNotPng;
    myEnd = stream->size();
    int r = readHeader(stream, myHdr);
    if (r != eOk) return r;
    myChannels = channelsOf(myHdr.colorType);
    myPaletteCount = 0;
    myHasKey = false;

    // The exact raw size; more than the rest of the file could inflate to is refused now.
    long long raw = 0;
    const unsigned long long w = myHdr.width, h = myHdr.height;
    if (!myHdr.interlace) {
        raw = (rowBytes(w, myChannels, myHdr.depth) + 1) * (long long)h;
    } else {
        for (const sPass& p : kAdam7) {
            if (w <= p.x0 || h <= p.y0) continue;
            unsigned long long pw = (w - p.x0 + p.dx - 1) / p.dx, ph = (h - p.y0 + p.dy - 1) / p.dy;
            raw += (rowBytes(pw, myChannels, myHdr.depth) + 1) * (long long)ph;
        }
    }
    unsigned long long pos = stream->get_fp();
    if (pos > myEnd || (unsigned long long)raw / kMaxInflateRatio > myEnd - pos) return eBadSize;

    // Chunks up to the first IDAT.
    bool trnsSeen = false;
    _typebuf<unsigned char> body;
    for (;;) {
        unsigned int len, type;
        r = readChunkHead(len, type);
        if (r != eOk) return r;
        if (type == kIDAT) {
            myChunkLeft = len;
            unsigned char t[4] = {'I', 'D', 'A', 'T'};
            myChunkCrc = (unsigned int)crc32_z(0, t, 4);
            break;
        }
        if (type == kIHDR || type == kIEND) return eBadChunk;
        if (type == kPLTE) {
            if (len % 3 || len == 0 || len > 768 || myPaletteCount || trnsSeen) return eBadChunk;
            if ((r = readChunkBody(len, type, &body)) != eOk) return r;
            myPaletteCount = len / 3;
            for (unsigned int i = 0; i < myPaletteCount; i++)
                myPalette[i] = pictArgb(body.ptr[3 * i], body.ptr[3 * i + 1], body.ptr[3 * i + 2]);
            continue;
        }
        if (type == ktRNS) {
            if (trnsSeen) return eBadChunk;
            trnsSeen = true;
            if ((r = readChunkBody(len, type, &body)) != eOk) return r;
            if (myHdr.colorType == 3) {
                if (len > myPaletteCount) return eBadChunk;
                for (unsigned int i = 0; i < len; i++)
                    myPalette[i] = (myPalette[i] & 0x00FFFFFFu) | ((unsigned int)body.ptr[i] << 24);
            } else if (myHdr.colorType == 0 && len == 2) {
                myHasKey = true;
                myKey[0] = ((unsigned int)body.ptr[0] << 8) | body.ptr[1];
            } else if (myHdr.colorType == 2 && len == 6) {
                myHasKey = true;
                for (int c = 0; c < 3; c++) myKey[c] = ((unsigned int)body.ptr[2 * c] << 8) | body.ptr[2 * c + 1];
            }
            continue;
        }
        // PNG 5.4: an unknown critical chunk means we cannot show the picture correctly.
        if (!(type & 0x20000000u)) return eBadChunk;
        if ((r = readChunkBody(len, type, nullptr)) != eOk) return r;
    }
    if (myHdr.colorType == 3 && !myPaletteCount) return eBadChunk;

    if (!myIn.set(1 << 16) || !myOut.set(raw < (1 << 18) ? raw : (1 << 18))) return eNoMemory;
    if (!myInflate.init(false)) return eNoMemory;
    myInPos = myInLen = myOutPos = myOutLen = 0;
    myIdatDone = myZEnded = false;
    myRawLeft = raw;
    r = decodeRows(sink);
    myInflate.end();
    if (r == eOk) r = finishIdat();
    myIn.clear();
    myOut.clear();
    return r;
}
