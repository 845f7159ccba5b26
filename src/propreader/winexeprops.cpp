// The PE reader (PE/COFF as published): headers, the three-level resource directory,
// VS_VERSIONINFO strings and the best-fitting RT_ICON image.
// Safety: the resource section is read only when it lies inside the file and is at most
// kMaxResSection bytes; every directory is visited once and all entries are counted, so
// the walk is linear in the section; every resource is located inside the file before a
// byte of it is read.
#include "propreader/winexeprops.h"

#include <cstring>

#include "base/byteorder.h"
#include "base/memio.h"
#include "base/strings.h"
#include "base/timeutil.h"
#include "picts/bmp/pictdib.h"
#include "picts/png/pictpng.h"

namespace {

const unsigned int kRtIcon = 3;
const unsigned int kRtVersion = 16;
const unsigned int kFixedInfoSignature = 0xFEEF04BD;

// The file offset (from the file's start) of size bytes at rva; false unless they lie
// inside the file. Computed in 64 bits, so an RVA below the section does not wrap.
bool locate(const cWinExeProps::sImageSectionHeader& rsrc, unsigned int rva, unsigned int size,
            unsigned long long fileSize, unsigned long long& offset) {
    if (rva < rsrc.VirtualAddress) return false;
    unsigned long long off = (unsigned long long)(rva - rsrc.VirtualAddress) + rsrc.PointerToRawData;
    if (off > fileSize || size > fileSize - off) return false;
    offset = off;
    return true;
}

}  // namespace

// Directories seen so far (each may be reached once) and the entries walked.
struct cWinExeProps::sWalk {
    cFasterTreeList<unsigned int, char> seen;
    int entries = 0;

    // Marks directory o as visited and counts its n entries; false when it was seen
    // before or the tree grows past the entry limit.
    bool enter(unsigned int o, unsigned int n) {
        bool isNew = false;
        if (!seen.insert(o, isNew) || !isNew) return false;
        entries += (int)n;
        return entries <= kMaxResEntries;
    }
};

// --- headers ---

bool cWinExeProps::readHeaders(cFileIOTarget* io, unsigned long long base, sImageSectionHeader& rsrc,
                               unsigned int& timeStamp) {
    unsigned long long total = io->size();
    if (total < base) return false;
    unsigned long long fileSize = total - base;
    unsigned char dos[64];
    if (!readAt(io, base, dos, 64) || le16(dos) != 0x5A4D) return false;
    unsigned int lfanew = le32(dos + 60);
    if (lfanew < 64) return false;
    unsigned char pe[24];  // signature and file header
    if (!readAt(io, base + lfanew, pe, 24) || le32(pe) != 0x00004550) return false;
    unsigned int sections = le16(pe + 6);
    unsigned int optionalSize = le16(pe + 20);
    if (sections == 0 || optionalSize == 0) return false;
    timeStamp = le32(pe + 8);
    unsigned long long table = base + lfanew + 24ULL + optionalSize;
    for (unsigned int i = 0; i < sections; i++) {
        sImageSectionHeader h;
        if (!readAt(io, table + 40ULL * i, &h, sizeof h)) return false;
        static const unsigned char kName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
        if (memcmp(h.Name, kName, 8) != 0) continue;
        // The first ".rsrc" counts; it must be present in the file, whole.
        if (h.SizeOfRawData == 0 || h.PointerToRawData == 0) return false;
        if (h.PointerToRawData > fileSize || h.SizeOfRawData > fileSize - h.PointerToRawData) return false;
        rsrc = h;
        return true;
    }
    return false;
}

bool cWinExeProps::validFor(cFileIOTarget* io) {
    if (!io) return false;
    sImageSectionHeader rsrc;
    unsigned int timeStamp;
    return readHeaders(io, io->get_fp(), rsrc, timeStamp);
}

// --- resource directory ---

// Each level: a 16-byte header, then NumberOfNamedEntries + NumberOfIdEntries entries of
// 8 bytes (Name, OffsetToData; the high bit of OffsetToData marks a subdirectory).
bool cWinExeProps::parseResources(const unsigned char* b, unsigned int s, tResTree& tree) {
    if (s < 16) return false;
    sWalk walk;
    unsigned int n = le16(b + 12) + le16(b + 14);
    if (16ULL + 8ULL * n > s || !walk.enter(0, n)) return false;
    for (unsigned int i = 0; i < n; i++) {
        const unsigned char* e = b + 16 + 8 * i;
        unsigned int data = le32(e + 4);
        if (!(data & 0x80000000u)) return false;
        tResNames* names = tree.insert((int)le32(e));
        if (!names || !parseResNames(b, s, data & 0x7FFFFFFFu, *names, walk)) return false;
    }
    return true;
}

bool cWinExeProps::parseResNames(const unsigned char* b, unsigned int s, unsigned int o, tResNames& names,
                                 sWalk& walk) {
    if (o + 16ULL > s) return false;
    unsigned int n = le16(b + o + 12) + le16(b + o + 14);
    if (o + 16ULL + 8ULL * n > s || !walk.enter(o, n)) return false;
    for (unsigned int i = 0; i < n; i++) {
        const unsigned char* e = b + o + 16 + 8 * i;
        unsigned int data = le32(e + 4);
        if (!(data & 0x80000000u)) return false;
        _List<sResRef>* langs = names.insert((int)le32(e));
        if (!langs || !parseResLangs(b, s, data & 0x7FFFFFFFu, *langs, walk)) return false;
    }
    return true;
}

bool cWinExeProps::parseResLangs(const unsigned char* b, unsigned int s, unsigned int o, _List<sResRef>& langs,
                                 sWalk& walk) {
    if (o + 16ULL > s) return false;
    unsigned int n = le16(b + o + 12) + le16(b + o + 14);
    if (o + 16ULL + 8ULL * n > s || !walk.enter(o, n)) return false;
    for (unsigned int i = 0; i < n; i++) {
        const unsigned char* e = b + o + 16 + 8 * i;
        unsigned int data = le32(e + 4);
        if ((data & 0x80000000u) || data + 16ULL > s) return false;
        sResRef* ref = langs.add();
        if (!ref) return false;
        ref->address = le32(b + data);
        ref->size = le32(b + data + 4);
        ref->language = le32(e);
    }
    return true;
}

// --- version strings ---

bool cWinExeProps::loadStrProps(cFileIOTarget* io, tStrMap& map) {
    if (!io) return false;
    unsigned long long n = io->size();
    if (n == 0) return true;
    if (n > 0xFFFF) return false;  // a version resource is one node of at most 64 KiB
    _typebuf<unsigned char> bytes;
    if (!bytes.set((long long)n) || !io->set_fp(0) || !io->readf(bytes.ptr, (long long)n)) return false;
    return walkNodes(bytes.ptr, (long long)n, map, 0);
}

// A node: u16 wLength (without trailing padding), u16 wValueLength, u16 wType, the
// NUL-terminated UTF-16 key padded to 32 bits, the value or the child nodes.
bool cWinExeProps::walkNodes(const unsigned char* p, long long n, tStrMap& map, int depth) {
    if (depth >= kMaxVersionDepth) return false;
    long long remaining = n;
    while (remaining > 0) {
        if (remaining < 4) return false;
        long long wLength = le16(p);
        if (wLength < 4 || wLength > remaining) return false;
        long long padded = (wLength & 2) ? wLength + 2 : wLength;
        if (wLength > 4) {
            // A node must hold its 6-byte header; 5 would give a negative body.
            if (wLength < 6) return false;
            unsigned int valueLength = le16(p + 2), type = le16(p + 4);
            long long bodyLen = padded - 6;
            // The last node of a list may lack its padding: read what there is, zeros after.
            _typebuf<unsigned char> body;
            if (bodyLen > 0) {
                if (!body.set(bodyLen)) return false;
                long long have = remaining - 6 < bodyLen ? remaining - 6 : bodyLen;
                memcpy(body.ptr, p + 6, (size_t)have);
                memset(body.ptr + have, 0, (size_t)(bodyLen - have));
            }
            long long unitCount = bodyLen / 2, keyUnits = 0;
            _typebuf<unsigned short> text;
            if (unitCount > 0 && !text.set(unitCount)) return false;
            for (long long i = 0; i < unitCount; i++) text.ptr[i] = (unsigned short)le16(body.ptr + 2 * i);
            while (keyUnits < unitCount && text.ptr[keyUnits] != 0) keyUnits++;
            long long keyBytes = 2 * (keyUnits + (keyUnits & 1)) + 2;
            long long rest = bodyLen - keyBytes;
            if (rest <= 0) return false;
            if (valueLength == 0) {
                if (!walkNodes(body.ptr + keyBytes, rest, map, depth + 1)) return false;
            } else if (type != 0) {
                const unsigned short* value = text.ptr + keyBytes / 2;
                long long count = rest / 2 - 1;  // the last unit is the terminator
                while (count > 1 && (value[count - 1] == 0 || value[count - 1] == 0x20)) count--;
                _guardchar<char> utf8;
                if (count > 0) _w2pc(value, count, utf8);
                _guardchar<char>* slot = map.insert(cStringKey(text.ptr, keyUnits));
                if (!slot) return false;
                slot->set(utf8.ptr ? utf8.ptr : "");
            }
        }
        long long step = padded < remaining ? padded : remaining;
        p += step;
        remaining -= step;
    }
    return true;
}

void cWinExeProps::loadVersion(cFileIOTarget* io, unsigned long long base, const sImageSectionHeader& rsrc,
                               tResTree& tree) {
    tResNames* names = tree.find((int)kRtVersion);
    _List<sResRef>* langs = names ? names->find(1) : nullptr;
    if (!langs) return;
    unsigned long long fileSize = io->size() - base;
    tStrMap map;
    bool found = false;
    for (_List<sResRef>::sItem* it = langs->head; it && !found; it = it->next) {
        unsigned long long off;
        unsigned char root[92];
        if (!locate(rsrc, it->value.address, 92, fileSize, off) || !readAt(io, base + off, root, 92)) continue;
        if (le32(root + 40) != kFixedInfoSignature) continue;
        long long wLength = le16(root), start = 40 + (long long)le16(root + 2);
        // A root shorter than its own value leaves no child region (a negative length).
        if (wLength < start) continue;
        unsigned long long childOff;
        if (!locate(rsrc, it->value.address, (unsigned int)wLength, fileSize, childOff)) continue;
        cFileIOSubRange children(io, base + off + start, (unsigned long long)(wLength - start));
        map.destroy();
        found = loadStrProps(&children, map);
    }
    if (!found) return;
    _guardchar<char>* product = map.find(cStringKey("ProductName"));
    _guardchar<char>* description = map.find(cStringKey("FileDescription"));
    if (product) {
        setProp(fpProductName, product->ptr);
        if (description) setProp(fpDescription, description->ptr);
    } else if (description) {
        setProp(fpProductName, description->ptr);
    }
    if (_guardchar<char>* s = map.find(cStringKey("CompanyName"))) setProp(fpCompany, s->ptr);
    if (_guardchar<char>* s = map.find(cStringKey("LegalCopyright"))) setProp(fpCopyright, s->ptr);
    _guardchar<char>* version = map.find(cStringKey("ProductVersion"));
    if (!version) version = map.find(cStringKey("FileVersion"));
    if (version) setProp(fpVersion, version->ptr);
}

// --- icon ---

void cWinExeProps::loadIcon(cFileIOTarget* io, unsigned long long base, const sImageSectionHeader& rsrc,
                            tResTree& tree) {
    tResNames* icons = tree.find((int)kRtIcon);
    if (!icons) return;
    unsigned long long fileSize = io->size() - base;
    struct sCandidate {
        unsigned long long offset = 0, size = 0;
        long long w = 0, h = 0;
        bool png = false, set = false;
    } largest, fitting;
    const long long W = myPreviewW, H = myPreviewH;
    for (tResNames::sEntry* e = icons->first(); e; e = icons->next(e)) {
        _List<sResRef>::sItem* first = e->value().head;
        if (!first) continue;
        sCandidate c;
        if (first->value.size > kMaxIconBytes ||
            !locate(rsrc, first->value.address, first->value.size, fileSize, c.offset))
            continue;
        c.size = first->value.size;
        cFileIOSubRange sub(io, base + c.offset, c.size);
        cPictBase::sPictInfo info;
        if (cPictPNG::validFor(&sub, &info)) {
            c.png = true;
            c.w = info.width;
            c.h = info.height;
        } else if (sub.set_fp(0) && cPictDIB::validFor(&sub, &info, false)) {
            c.w = info.width;
            c.h = info.height / 2;  // the stored height counts the image and its mask
        } else {
            continue;
        }
        // An icon directory names at most 256 pixels a side; a larger claim is refused before decoding.
        if (c.w < 1 || c.h < 1 || c.w > kMaxIconSide || c.h > kMaxIconSide) continue;
        c.set = true;
        long long area = c.w * c.h;
        if (!largest.set || area > largest.w * largest.h) largest = c;
        if ((W < 0 || W > c.w / 2) && (H < 0 || H > c.h / 2) && (!fitting.set || area > fitting.w * fitting.h))
            fitting = c;
    }
    const sCandidate& chosen = fitting.set ? fitting : largest;
    if (!chosen.set) return;
    long long tw = chosen.w, th = chosen.h;
    if (W >= 0 || H >= 0) {
        double s = 1.0;
        if (W >= 1 && (double)W / chosen.w < s) s = (double)W / chosen.w;
        if (H >= 1 && (double)H / chosen.h < s) s = (double)H / chosen.h;
        tw = (long long)(chosen.w * s + 0.5);
        th = (long long)(chosen.h * s + 0.5);
        if (tw < 1) tw = 1;
        if (th < 1) th = 1;
    }
    cPictDummy holder;
    if (!holder.create(tw, th, 0)) return;
    cPictPNG png;
    cPictDIB dib;
    dib.setUseAlphaBp(true);
    dib.setForcedPalletteLoad(true);
    cPictBase* decoder = chosen.png ? (cPictBase*)&png : (cPictBase*)&dib;
    cFileIOSubRange sub(io, base + chosen.offset, chosen.size);
    bool shrink = tw < chosen.w || th < chosen.h;
    if (shrink) {
        cPictBase::sExtPictDef def(&holder);
        def.background = 0xFFFFFFFF;
        def.scale = 1.0;
        def.mode = 0;
        if (!decoder->setExtTarget(&def) || !decoder->decode(&sub)) return;
    } else {
        // A 16-bit PNG holds 64-bit pixels: take them as 32-bit ones either way.
        _typebuf<unsigned int> pixels;
        if (!decoder->decode(&sub) || !decoder->moveToColorData(pixels)) return;
        long long w = decoder->width(), h = decoder->height(), n;
        if (!checkedImagePixels(w, h, n) || n > pixels.count || !holder.create(w, h, 0)) return;
        memcpy(holder.raw8Bpp(), pixels.ptr, (size_t)n * 4);
    }
    setProp(fpPreview, &holder);
}

// --- load ---

bool cWinExeProps::load(cFileIOTarget* io, int, bool) {
    if (!io) return false;
    const unsigned long long base = 0;
    sImageSectionHeader rsrc;
    unsigned int timeStamp = 0;
    if (!readHeaders(io, base, rsrc, timeStamp)) return false;
    if (rsrc.SizeOfRawData > kMaxResSection) return false;
    _typebuf<unsigned char> section;
    if (!section.set(rsrc.SizeOfRawData) || !readAt(io, base + rsrc.PointerToRawData, section.ptr, rsrc.SizeOfRawData))
        return false;
    tResTree tree;
    if (!parseResources(section.ptr, rsrc.SizeOfRawData, tree)) return false;
    loadVersion(io, base, rsrc, tree);
    if (timeStamp != 0) {
        sTimestamp ts;
        unixToTimestamp(timeStamp, ts);
        setProp(fpTimeStamp, ts);
    }
    if (myPreviewW != 0 && myPreviewH != 0) loadIcon(io, base, rsrc, tree);
    return true;
}
