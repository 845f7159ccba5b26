// XPM decoding into a row sink: the C strings are collected in order (comments skipped),
// colour keys are sorted for lookup.
#include "picts/xpm/xpmreader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct sNamedColor {
    const char* name;
    unsigned int rgb;
};
// Every name of the X11 colour database, lower case without blanks, sorted.
const sNamedColor kNames[] = {
#include "picts/xpm/x11colors.inc"
};

int namedColorCmp(const void* key, const void* entry) {
    return strcmp((const char*)key, ((const sNamedColor*)entry)->name);
}

// a[0..n) against the lower-case b, ignoring the case of a.
int lowerCmp(const char* a, long long n, const char* b) {
    long long i = 0;
    for (; i < n && b[i]; i++) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != b[i]) return 1;
    }
    return i == n && !b[i] ? 0 : 1;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct sString {
    long long start;
    long long len;
};

// Collects the C string literals outside comments; at most `max` of them.
bool collectStrings(const unsigned char* d, long long n, _typebuf<sString>& out, long long& count, long long max) {
    count = 0;
    long long i = 0;
    while (i < n) {
        if (d[i] == '/' && i + 1 < n && d[i + 1] == '*') {
            i += 2;
            while (i + 1 < n && !(d[i] == '*' && d[i + 1] == '/')) i++;
            i += 2;
            continue;
        }
        // The array's closing brace ends the picture: whatever follows "};" is not read.
        if (d[i] == '}') return true;
        if (d[i] == '"') {
            long long s = ++i;
            while (i < n && d[i] != '"') {
                if (d[i] == '\n') return false;
                i++;
            }
            if (i >= n) return false;
            if (count >= out.count) {
                if (count >= max) return true;
                long long grow = out.count ? out.count * 2 : 64;
                if (grow > max) grow = max;
                if (!out.reset(grow)) return false;
            }
            out.ptr[count].start = s;
            out.ptr[count].len = i - s;
            count++;
            i++;
            continue;
        }
        i++;
    }
    return true;
}

struct sKey {
    unsigned long long key;
    unsigned int argb;
};

int keyCmp(const void* a, const void* b) {
    unsigned long long x = ((const sKey*)a)->key, y = ((const sKey*)b)->key;
    return x < y ? -1 : x > y ? 1 : 0;
}

unsigned long long keyOf(const unsigned char* p, unsigned int cpp) {
    unsigned long long k = 0;
    for (unsigned int i = 0; i < cpp; i++) k = (k << 8) | p[i];
    return k;
}

}  // namespace

bool cXpmReader::parseColor(const char* t, long long n, unsigned int& argb) {
    while (n && t[n - 1] == ' ') n--;
    if (n == 4 && lowerCmp(t, 4, "none") == 0) {
        argb = 0;
        return true;
    }
    if (n > 1 && t[0] == '#') {
        long long digits = n - 1;
        if (digits % 3 || digits < 3 || digits > 12) return false;
        long long per = digits / 3;
        unsigned int c[3];
        for (int k = 0; k < 3; k++) {
            unsigned int v = 0;
            for (long long i = 0; i < per; i++) {
                int h = hexDigit(t[1 + k * per + i]);
                if (h < 0) return false;
                v = (v << 4) | (unsigned int)h;
            }
            // Scale to 8 bits: one digit repeats, more keep their top byte.
            c[k] = per == 1 ? v * 17 : per == 2 ? v : v >> (4 * (per - 2));
        }
        argb = pictArgb(c[0], c[1], c[2]);
        return true;
    }
    // Names compare without case and without blanks: "Dark Slate Grey" is "darkslategrey".
    char flat[32];
    long long m = 0;
    for (long long i = 0; i < n; i++)
        if (t[i] != ' ' && t[i] != '\t') {
            if (m >= 31) return false;
            char c = t[i];
            flat[m++] = c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
        }
    flat[m] = 0;
    const sNamedColor* nc = (const sNamedColor*)bsearch(flat, kNames, sizeof(kNames) / sizeof(kNames[0]),
                                                        sizeof(sNamedColor), namedColorCmp);
    if (!nc) return false;
    argb = 0xFF000000u | nc->rgb;
    return true;
}

bool cXpmReader::probe(const unsigned char* data, long long size, long long& width, long long& height) {
    long long i = 0;
    while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n')) i++;
    if (size - i < 9 || memcmp(data + i, "/* XPM */", 9) != 0) return false;
    _typebuf<sString> strs;
    long long count;
    if (!collectStrings(data, size, strs, count, 1) || count < 1) return false;
    const char* v = (const char*)data + strs.ptr[0].start;
    long long w, h, nc, cpp;
    char buf[128];
    long long n = strs.ptr[0].len < 127 ? strs.ptr[0].len : 127;
    memcpy(buf, v, (size_t)n);
    buf[n] = 0;
    if (sscanf(buf, "%lld %lld %lld %lld", &w, &h, &nc, &cpp) != 4) return false;
    if (w < 1 || h < 1 || nc < 1 || cpp < 1 || cpp > 8) return false;
    width = w;
    height = h;
    return true;
}

int cXpmReader::decode(const unsigned char* data, long long size, cPictRowSink& sink) {
    long long w, h;
    if (!probe(data, size, w, h)) return eNotXpm;
    long long px;
    if (!checkedPictPixels(w, h, px)) return eBadSize;
    _typebuf<sString> strs;
    long long count;
    if (!collectStrings(data, size, strs, count, size / 2 + 1)) return eBadData;
    char buf[128];
    long long n = strs.ptr[0].len < 127 ? strs.ptr[0].len : 127;
    memcpy(buf, data + strs.ptr[0].start, (size_t)n);
    buf[n] = 0;
    long long nc, cpp;
    long long w2, h2;
    if (sscanf(buf, "%lld %lld %lld %lld", &w2, &h2, &nc, &cpp) != 4) return eBadData;
    if (nc > count || h > count - 1 - nc) return eTruncated;

    _typebuf<sKey> keys;
    if (!keys.set(nc)) return eNoMemory;
    for (long long i = 0; i < nc; i++) {
        const sString& s = strs.ptr[1 + i];
        if (s.len < cpp) return eBadData;
        const char* t = (const char*)data + s.start;
        keys.ptr[i].key = keyOf((const unsigned char*)t, (unsigned int)cpp);
        // Keys and values after the characters: the colour ("c") visual, or when its value is
        // not a known colour the grey ("g", "g4") or mono ("m") one that is; none known refuses
        // the picture rather than paint it in a made-up colour.
        long long p = cpp, end = s.len;
        int bestRank = 0;
        bool found = false;
        while (p < end) {
            while (p < end && (t[p] == ' ' || t[p] == '\t')) p++;
            if (p >= end) break;  // blanks after the last value
            long long ks = p;
            while (p < end && t[p] != ' ' && t[p] != '\t') p++;
            long long kl = p - ks;
            int rank = 0;
            if (kl == 1 && t[ks] == 'c') rank = 4;
            else if (kl == 1 && t[ks] == 'g') rank = 3;
            else if (kl == 2 && t[ks] == 'g' && t[ks + 1] == '4') rank = 2;
            else if (kl == 1 && t[ks] == 'm') rank = 1;
            else if (kl == 1 && t[ks] == 's') rank = -1;
            else return eBadData;
            while (p < end && (t[p] == ' ' || t[p] == '\t')) p++;
            long long vs = p;
            // A value runs to the next key word (names like "dark slate gray" hold blanks).
            for (;;) {
                while (p < end && t[p] != ' ' && t[p] != '\t') p++;
                long long q = p;
                while (q < end && (t[q] == ' ' || t[q] == '\t')) q++;
                long long ws = q;
                while (q < end && t[q] != ' ' && t[q] != '\t') q++;
                long long wl = q - ws;
                bool isKey = (wl == 1 && (t[ws] == 'c' || t[ws] == 'g' || t[ws] == 'm' || t[ws] == 's')) ||
                             (wl == 2 && t[ws] == 'g' && t[ws + 1] == '4');
                if (ws >= end || isKey) break;
                p = q;
            }
            unsigned int argb;
            if (rank > bestRank && parseColor(t + vs, p - vs, argb)) {
                bestRank = rank;
                keys.ptr[i].argb = argb;
                found = true;
            }
        }
        if (!found) return eBadData;
    }
    qsort(keys.ptr, (size_t)nc, sizeof(sKey), keyCmp);

    // Every pixel row must hold its characters before the picture's buffer is asked for.
    for (long long y = 0; y < h; y++)
        if (strs.ptr[1 + nc + y].len < w * cpp) return eTruncated;
    _typebuf<unsigned int> line;
    if (!line.set(w)) return eNoMemory;
    if (!sink.begin(w, h, false)) return eNoMemory;
    for (long long y = 0; y < h; y++) {
        const sString& s = strs.ptr[1 + nc + y];
        const unsigned char* p = data + s.start;
        for (long long x = 0; x < w; x++) {
            sKey k;
            k.key = keyOf(p + x * cpp, (unsigned int)cpp);
            const sKey* f = (const sKey*)bsearch(&k, keys.ptr, (size_t)nc, sizeof(sKey), keyCmp);
            line.ptr[x] = f ? f->argb : 0;
        }
        sink.row32(y, line.ptr);
    }
    return eOk;
}
