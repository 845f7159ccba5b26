// The collecting row sink and the bounded whole-stream read.
#include "picts/pictrows.h"

bool sRawPict::begin(long long w, long long h, bool wide) {
    clear();
    long long n;
    if (!checkedPictPixels(w, h, n)) return false;
    if (wide ? !px64.set(n) : !px32.set(n)) return false;
    if (wide)
        px64.zero();
    else
        px32.zero();
    width = w;
    height = h;
    sixteen = wide;
    return true;
}

unsigned int* sRawPict::target32(long long y) {
    return !sixteen && px32.ptr && y >= 0 && y < height ? top32(y) : nullptr;
}

unsigned long long* sRawPict::target64(long long y) {
    return sixteen && px64.ptr && y >= 0 && y < height ? top64(y) : nullptr;
}

void sRawPict::row32(long long y, const unsigned int* px) {
    unsigned int* d = target32(y);
    if (d && d != px) memcpy(d, px, (size_t)width * sizeof(unsigned int));
}

void sRawPict::row64(long long y, const unsigned long long* px) {
    unsigned long long* d = target64(y);
    if (d && d != px) memcpy(d, px, (size_t)width * sizeof(unsigned long long));
}

bool sRawPict::sendTo(cPictRowSink& sink) {
    if (width <= 0 || height <= 0 || !sink.begin(width, height, sixteen)) return false;
    for (long long y = 0; y < height; y++) {
        if (sixteen)
            sink.row64(y, top64(y));
        else
            sink.row32(y, top32(y));
    }
    return true;
}

void sRawPict::clear() {
    px32.clear();
    px64.clear();
    width = height = 0;
    sixteen = false;
}

bool readStreamRest(cFileIOTarget* stream, long long maxBytes, _typebuf<unsigned char>& out) {
    out.clear();
    if (!stream) return false;
    unsigned long long size = stream->size(), pos = stream->get_fp();
    if (pos > size) return false;
    unsigned long long n = size - pos;
    if (n == 0 || n > (unsigned long long)maxBytes) return false;
    if (!out.set((long long)n)) return false;
    if (!stream->readf(out.ptr, (long long)n)) {
        out.clear();
        return false;
    }
    return true;
}
