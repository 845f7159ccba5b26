// The DICOM data set walk (PS3.5 section 7): element headers in explicit or implicit VR of
// either byte order, sequences and their items (bounded in depth), encapsulated pixel data
// as fragment items, and the image records the walk fills. Positions are 64-bit and every
// value is checked against the stream's size before it is read.
#include <cstring>

#include "picts/byteorder.h"
#include "picts/dicom/pictdicom.h"

namespace {
const int kMaxDepth = 16;              // nested sequences
const int kMaxItems = 1 << 24;         // items numbered in one file
const unsigned int kMaxFrags = 1 << 24;  // fragments of encapsulated pixel data
const long long kMaxPages = 1 << 20;   // image records after the frame split

inline unsigned short vrCode(const char* s) { return (unsigned short)((unsigned char)s[0] | (unsigned char)s[1] << 8); }

// PS3.5 7.1.2: these VRs carry two reserved bytes and a 32-bit length.
bool longVR(unsigned short vr) {
    static const char* const k[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"};
    for (const char* v : k)
        if (vrCode(v) == vr) return true;
    return false;
}
bool shortVR(unsigned short vr) {
    static const char* const k[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FD", "FL", "IS", "LO",
                                    "LT", "PN", "SH", "SL", "SS", "ST", "TM", "UI", "UL", "US"};
    for (const char* v : k)
        if (vrCode(v) == vr) return true;
    return false;
}

struct sHeader {
    unsigned short group = 0, element = 0, vr = 0;
    unsigned int length = 0;
    unsigned int size = 8;  // header bytes
    bool explicitVR = false;
};

// Trimmed text value of at most 64 bytes.
bool readText(cFileIOTarget* io, unsigned long long pos, unsigned int length, char* out, unsigned int cap) {
    out[0] = 0;
    if (length >= cap) length = cap - 1;
    if (!io->set_fp(pos) || !io->readf(out, length)) return false;
    out[length] = 0;
    while (length && (out[length - 1] == ' ' || out[length - 1] == 0)) out[--length] = 0;
    unsigned int s = 0;
    while (out[s] == ' ') s++;
    if (s) memmove(out, out + s, length - s + 1);
    return true;
}
}  // namespace

struct cPictDICOM::sWalk {
    cFileIOTarget* io = nullptr;
    unsigned long long size = 0;
    bool big = false;        // the data set's byte order
    bool explicitVR = true;  // and whether its elements carry a VR
    bool encodingKnown = false;
    int items = 0;           // running item number
};

namespace {
// Encoding of a data set without a transfer syntax, from its first element: a group number
// whose low byte is 0 read little-endian is big-endian, and two capital letters that
// form a VR after the tag mean explicit VR.
void guessEncoding(const unsigned char* b, bool& big, bool& explicitVR) {
    unsigned int g = le16(b);
    big = g > 0xFF && (g & 0xFF) == 0;
    unsigned short vr = (unsigned short)le16(b + 4);
    explicitVR = b[4] >= 'A' && b[4] <= 'Z' && b[5] >= 'A' && b[5] <= 'Z' && (longVR(vr) || shortVR(vr));
}
}  // namespace

cPictDICOM::sDicomInfo* cPictDICOM::img(int key) { return myImages.insert(key); }

bool cPictDICOM::processDICOM(cFileIOTarget* io) {
    myImages.destroy();
    myFrags.clear();
    myFragCount = 0;
    if (!io) return false;
    sWalk w;
    w.io = io;
    w.size = io->size();
    unsigned long long pos = io->get_fp();
    if (pos > w.size) return false;
    if (!myLegacy) {
        // PS3.10 7.1: 128-byte preamble, then "DICM".
        char magic[4];
        if (w.size - pos < 132 || !io->set_fp(pos + 128) || !io->readf(magic, 4) || memcmp(magic, "DICM", 4))
            return false;
        pos += 132;
    }
    bool ok = walkLevel(w, pos, w.size, 0, true) && splitFrames(io) && !myImages.empty();
    if (!ok) {
        // Half-read records are never used.
        myImages.destroy();
        myFrags.clear();
        myFragCount = 0;
    }
    return ok;
}

bool cPictDICOM::walkLevel(sWalk& w, unsigned long long& pos, unsigned long long end, int depth, bool topLevel) {
    cFileIOTarget* io = w.io;
    const int item = w.items;
    unsigned int prevGroup = 0, prevElement = 0;
    bool prevPixels = false;
    for (;;) {
        if (pos >= end) return pos == end;
        unsigned char b[12];
        if (!io->set_fp(pos)) return false;
        long long n = io->read(b, 8);
        if (n == 0) return true;
        // Older writers end a data set with two zero bytes or a zeroed header.
        if (myLegacy && n == 2 && !b[0] && !b[1]) return true;
        if (n != 8) return false;
        if (myLegacy) {
            static const unsigned char zero[8] = {};
            if (!memcmp(b, zero, 8)) return true;
        }
        // PS3.10 7.1: the meta group is always explicit VR little-endian.
        const bool meta = topLevel && le16(b) == 0x0002;
        if (topLevel && !meta && !w.encodingKnown) {
            guessEncoding(b, w.big, w.explicitVR);
            w.encodingKnown = true;
        }
        const bool big = meta ? false : w.big;
        sHeader h;
        h.group = (unsigned short)rawGet16(b, big);
        h.element = (unsigned short)rawGet16(b + 2, big);
        if (h.group >= 0x8000 && h.group != 0xFFFA && h.group != 0xFFFC) {
            // An item or delimitation tag ends the level; it is not consumed.
            return h.group == 0xFFFE;
        }
        if (h.group < prevGroup) return myLegacy && prevPixels;  // trailing bytes after the pixel data
        if (h.group == prevGroup && h.element <= prevElement) return false;
        h.explicitVR = meta || w.explicitVR;
        if (h.explicitVR) {
            h.vr = (unsigned short)le16(b + 4);
            if (longVR(h.vr)) {
                if (b[6] || b[7] || !io->readf(b + 8, 4)) return false;
                h.length = rawGet32(b + 8, big);
                h.size = 12;
            } else if (shortVR(h.vr)) {
                h.length = rawGet16(b + 6, big);
            } else {
                return false;
            }
        } else {
            h.length = rawGet32(b + 4, big);
        }
        prevGroup = h.group;
        prevElement = h.element;
        const bool pixels = h.group == 0x7FE0 && h.element == 0x0010;
        prevPixels = pixels;
        pos += h.size;

        if (h.length == 0xFFFFFFFFu) {
            // PS3.5 A.4: encapsulated pixel data is a sequence of fragment items.
            if (pixels) {
                if (!walkFragments(w, pos, end, item)) return false;
                continue;
            }
            // PS3.5 7.5.1: undefined length is a sequence (SQ, or UN holding implicit VR items).
            const bool un = h.explicitVR && h.vr == vrCode("UN");
            if (h.explicitVR && h.vr != vrCode("SQ") && !un) return false;
            if (!walkSequence(w, pos, end, depth + 1, un)) return false;
            continue;
        }
        if (h.explicitVR && h.vr == vrCode("SQ")) {
            unsigned long long seqEnd = pos + h.length;
            if (seqEnd > end) return false;
            if (!walkSequence(w, pos, seqEnd, depth + 1, false)) return false;
            if (pos > seqEnd) return false;
            pos = seqEnd;
            continue;
        }
        if (myLegacy && h.length > 0x7FFFFFFEu) return false;
        if (pos + h.length > w.size) return false;
        if (!onTag(w, h.group, h.element, h.vr, h.length, pos, item)) return false;
        pos += h.length;
    }
}

bool cPictDICOM::walkSequence(sWalk& w, unsigned long long& pos, unsigned long long seqEnd, int depth,
                              bool implicitItems) {
    if (depth > kMaxDepth) return false;
    const bool big = w.big, explicitVR = w.explicitVR;
    if (implicitItems) {
        w.big = false;
        w.explicitVR = false;
    }
    bool ok = true;
    while (ok && pos < seqEnd) {
        unsigned char b[8];
        if (!w.io->set_fp(pos) || !w.io->readf(b, 8)) {
            ok = false;
            break;
        }
        pos += 8;
        unsigned int group = rawGet16(b, w.big), element = rawGet16(b + 2, w.big), length = rawGet32(b + 4, w.big);
        if (group != 0xFFFE) {
            ok = false;
        } else if (element == 0xE0DD) {
            break;  // sequence delimitation
        } else if (element == 0xE00D) {
            continue;  // the item delimitation an undefined item's walk stopped at
        } else if (element != 0xE000) {
            ok = false;
        } else if (length == 0) {
            continue;
        } else if (++w.items >= kMaxItems) {
            ok = false;
        } else if (length == 0xFFFFFFFFu) {
            ok = walkLevel(w, pos, seqEnd, depth, false);
        } else {
            unsigned long long itemEnd = pos + length;
            ok = itemEnd <= seqEnd && walkLevel(w, pos, itemEnd, depth, false);
            pos = itemEnd;
        }
    }
    w.big = big;
    w.explicitVR = explicitVR;
    return ok;
}

bool cPictDICOM::walkFragments(sWalk& w, unsigned long long& pos, unsigned long long end, int item) {
    sDicomInfo* r = img(item);
    if (!r) return false;
    sDicomInfo& rec = *r;
    rec.encapsulated = true;
    rec.hasPixels = true;
    rec.bigEndian = w.big;
    rec.fragFirst = myFragCount;
    rec.fragCount = 0;
    bool first = true;
    for (;;) {
        unsigned char b[8];
        if (!w.io->set_fp(pos) || !w.io->readf(b, 8)) return false;
        pos += 8;
        unsigned int group = rawGet16(b, w.big), element = rawGet16(b + 2, w.big), length = rawGet32(b + 4, w.big);
        if (group != 0xFFFE) return false;
        if (element == 0xE0DD) return true;
        if (element != 0xE000 || length == 0xFFFFFFFFu || pos + length > end) return false;
        if (first) {
            // The Basic Offset Table, possibly empty.
            rec.botOffset = pos;
            rec.botLength = length;
            first = false;
        } else {
            if (myFragCount >= kMaxFrags) return false;
            if (myFragCount >= myFrags.count && !myFrags.reset(myFrags.count ? myFrags.count * 2 : 16)) return false;
            sFragment& f = myFrags.ptr[myFragCount];
            f = sFragment();
            f.itemPos = pos - 8;
            f.offset = pos;
            f.length = length;
            if (!w.io->readf(f.head, length < 8 ? length : 8)) return false;
            myFragCount++;
            rec.fragCount++;
        }
        pos += length;
    }
}

bool cPictDICOM::getValU32(sWalk& w, unsigned short vr, unsigned int length, unsigned long long position,
                           unsigned int& value) {
    unsigned char b[4];
    value = 0;
    if (myLegacy) {
        if (length != 2) return false;
    } else if (vr ? !((vr == vrCode("US") && length == 2) || (vr == vrCode("UL") && length == 4))
                  : length != 2 && length != 4) {
        return false;
    }
    if (!w.io->set_fp(position) || !w.io->readf(b, length)) return false;
    value = length == 2 ? rawGet16(b, w.big) : rawGet32(b, w.big);
    return true;
}

bool cPictDICOM::onTag(sWalk& w, unsigned short group, unsigned short element, unsigned short vr,
                       unsigned int length, unsigned long long position, int item) {
    if (group == 0x0002 && element == 0x0010 && item == 0) {
        // PS3.5 A: the transfer syntax fixes the data set's encoding.
        char ts[68];
        if (!readText(w.io, position, length, ts, sizeof(ts))) return false;
        w.big = !strcmp(ts, "1.2.840.10008.1.2.2");
        w.explicitVR = strcmp(ts, "1.2.840.10008.1.2") != 0;
        w.encodingKnown = true;
        // A deflated data set cannot be walked in place.
        return strcmp(ts, "1.2.840.10008.1.2.1.99") != 0;
    }
    if (group != 0x7FE0 && group != 0x0028) return true;
    sDicomInfo* r = img(item);
    if (!r) return false;
    sDicomInfo& rec = *r;
    if (group == 0x7FE0 && element == 0x0010) {
        rec.offset = position;
        rec.length = length;
        rec.hasPixels = true;
        rec.encapsulated = false;
        rec.bigEndian = w.big;
        return true;
    }
    if (group != 0x0028) return true;
    if (element == 0x0004) {
        char pi[68];
        if (!readText(w.io, position, length, pi, sizeof(pi))) return false;
        rec.mono1 = !strcmp(pi, "MONOCHROME1");
        return true;
    }
    if (element == 0x0008) {
        // Number of Frames, an integer string; a value that does not parse is ignored.
        char nf[68];
        if (!readText(w.io, position, length, nf, sizeof(nf))) return false;
        unsigned long long v = 0;
        const char* p = nf;
        if (*p == '+') p++;
        for (; *p >= '0' && *p <= '9' && v <= 0xFFFFFFFFull; p++) v = v * 10 + (unsigned)(*p - '0');
        rec.frames = *p || v > 0xFFFFFFFFull ? 0 : (unsigned int)v;
        return true;
    }
    unsigned int* field = nullptr;
    bool zeroOk = true;
    switch (element) {
        case 0x0002: field = &rec.samples, zeroOk = false; break;
        case 0x0006: field = &rec.planar; break;
        case 0x0010: field = &rec.rows, zeroOk = false; break;
        case 0x0011: field = &rec.columns, zeroOk = false; break;
        case 0x0100: field = &rec.bitsAllocated, zeroOk = false; break;
        case 0x0101: field = &rec.bitsStored, zeroOk = false; break;
        case 0x0102: field = &rec.highBit, rec.hasHighBit = true; break;
        case 0x0103: field = &rec.pixelRep; break;
        default: return true;
    }
    if (!getValU32(w, vr, length, position, *field)) return false;
    return zeroOk || myLegacy || *field != 0;
}

bool cPictDICOM::encapsulatedFrames(cFileIOTarget* io, const sDicomInfo& rec, _typebuf<unsigned int>& starts,
                                    unsigned int& count) {
    count = 0;
    const unsigned int first = rec.fragFirst, frags = rec.fragCount;
    if (!frags || first + frags > myFragCount) return false;
    const unsigned int want = rec.frames > 1 ? rec.frames : 1;
    if (!starts.set(frags < want ? frags : want)) return false;
    starts.ptr[0] = first;
    count = 1;
    if (want == 1) return true;
    // PS3.5 A.4: the Basic Offset Table gives each frame's first item, counted from the
    // first fragment's item header.
    if (rec.botLength >= 8 && rec.botLength % 4 == 0) {
        unsigned int entries = rec.botLength / 4, at = first;
        _typebuf<unsigned char> bot;
        bool ok = bot.set(rec.botLength) && io->set_fp(rec.botOffset) && io->readf(bot.ptr, rec.botLength);
        unsigned int found = 0;
        for (unsigned int e = 0; ok && e < entries && found < starts.count; e++) {
            unsigned long long target = myFrags.ptr[first].itemPos + le32(bot.ptr + 4 * e);
            while (at < first + frags && myFrags.ptr[at].itemPos < target) at++;
            if (at == first + frags || myFrags.ptr[at].itemPos != target || (e == 0 && at != first)) ok = false;
            else starts.ptr[found++] = at++;
        }
        if (ok && found > 1) {
            count = found;
            return true;
        }
    }
    if (frags == want) {
        for (unsigned int i = 0; i < frags; i++) starts.ptr[i] = first + i;
        count = frags;
        return true;
    }
    // No table: a frame starts at each fragment that opens a JPEG (SOI) or JPEG 2000 (SOC,
    // or the JP2 signature box) stream.
    for (unsigned int i = first + 1; i < first + frags && count < starts.count; i++) {
        const sFragment& f = myFrags.ptr[i];
        const unsigned char* h = f.head;
        bool opens = (f.length >= 3 && h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF) ||
                     (f.length >= 4 && h[0] == 0xFF && h[1] == 0x4F && h[2] == 0xFF && h[3] == 0x51) ||
                     (f.length >= 8 && !memcmp(h, "\0\0\0\x0CjP  ", 8));
        if (opens) starts.ptr[count++] = i;
    }
    return true;
}

bool cPictDICOM::splitFrames(cFileIOTarget* io) {
    _typebuf<int> keys;
    if (!keys.set(myImages.count())) return myImages.empty();
    long long nk = 0;
    for (auto* e = myImages.first(); e; e = myImages.next(e)) keys.ptr[nk++] = e->key();
    for (long long k = 0; k < nk; k++) {
        sDicomInfo rec = *myImages.find(keys.ptr[k]);
        if (myLegacy && !rec.samples) rec.samples = 1;
        bool usable = rec.columns && rec.rows && rec.samples && rec.hasPixels && (rec.encapsulated || rec.length);
        unsigned long long frameBytes = 0;
        unsigned int n = 1;
        _typebuf<unsigned int> starts;
        if (usable && rec.encapsulated) {
            usable = encapsulatedFrames(io, rec, starts, n) && n > 0;
        } else if (usable) {
            long long f;
            usable = checkedMul((long long)rec.columns * rec.rows, (long long)rec.samples * (rec.bitsAllocated / 8), f) &&
                     f > 0;
            frameBytes = (unsigned long long)f;
            if (usable) {
                unsigned long long c = rec.length / frameBytes;
                // Number of Frames caps the count; without it older files hold one frame.
                if (rec.frames) c = c < rec.frames ? c : rec.frames;
                else if (myLegacy && c > 1) c = 1;
                n = c > 1 ? (unsigned int)(c < (unsigned long long)kMaxPages ? c : kMaxPages) : 1;
            }
        }
        if (!usable) {
            myImages.dettach(keys.ptr[k]);
            continue;
        }
        if (n == 1) {
            *myImages.find(keys.ptr[k]) = rec;
            continue;
        }
        int last = myImages.last()->key();
        if (myImages.count() + (long long)n > kMaxPages) n = (unsigned int)(kMaxPages - myImages.count());
        for (unsigned int i = 0; i < n; i++) {
            sDicomInfo fr = rec;
            if (rec.encapsulated) {
                fr.fragFirst = starts.ptr[i];
                fr.fragCount = (i + 1 < n ? starts.ptr[i + 1] : rec.fragFirst + rec.fragCount) - starts.ptr[i];
            } else {
                fr.offset = rec.offset + i * frameBytes;
                fr.length = frameBytes;
            }
            sDicomInfo* slot = img(last + 1 + (int)i);
            if (!slot) return false;
            *slot = fr;
        }
        myImages.dettach(keys.ptr[k]);
    }
    return true;
}
