// Reading and writing the "CIOMLAFI" language container (layout in langcontainer.h).
// Everything read is hostile: every count and length is checked against what remains
// before it is used, the inflated size is capped, strings must be well-formed UTF-8.
#include "ui/langcontainer.h"

#include <zlib.h>

#include <cstring>

#include "base/byteorder.h"
#include "base/fileio.h"
#include "compression/zlibstreams.h"
#include "ui/lang.h"

namespace {

const char kOuterMagic[8] = {'C', 'I', 'O', 'M', 'L', 'A', 'F', 'I'};
const char kInnerMagic[8] = {'C', 'I', 'O', 'M', 'L', 'A', 'N', 'G'};
// Deflate cannot expand data more than about 1032:1; a larger claim is a lie.
const long long kMaxInflateRatio = 1100;

// Well-formed UTF-8 (no overlongs, no surrogates, at most U+10FFFF) without a 0 byte.
bool validUtf8(const unsigned char* s, long long n) {
    long long i = 0;
    while (i < n) {
        unsigned char c = s[i];
        if (c == 0) return false;
        if (c < 0x80) {
            i++;
            continue;
        }
        int len;
        unsigned int cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < len) return false;
        for (int k = 1; k < len; k++) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
        if (cp >= 0xD800 && cp <= 0xDFFF) return false;
        i += len;
    }
    return true;
}

// A bounded reader over the unpacked table.
struct sCursor {
    const unsigned char* p;
    long long left;
    bool take(long long n, const unsigned char*& out) {
        if (n < 0 || n > left) return false;
        out = p;
        p += n;
        left -= n;
        return true;
    }
};

// Growable output for the writer.
struct sOut {
    _typebuf<unsigned char> buf;
    long long used = 0;
    bool ok = true;
    unsigned char* grab(long long n) {
        if (!ok) return nullptr;
        if (used + n > buf.count) {
            long long want = buf.count ? buf.count : 256;
            while (want < used + n) want *= 2;
            if (!buf.reset(want)) {
                ok = false;
                return nullptr;
            }
        }
        unsigned char* p = buf.ptr + used;
        used += n;
        return p;
    }
    void put(const void* data, long long n) {
        unsigned char* p = grab(n);
        if (p && n) memcpy(p, data, (size_t)n);
    }
};

}  // namespace

bool parseCiomLangTable(const unsigned char* data, long long size, cCiomLang& out) {
    out.clear();
    if (!data || size < 12 || memcmp(data, kInnerMagic, 8) != 0) return false;
    sCursor cur{data + 12, size - 12};
    unsigned int sections = le32(data + 8);
    // Each section takes at least 1 + 1 + 4 bytes.
    if ((long long)sections > cur.left / 6) return false;
    long long slots = 0;
    const unsigned char* prevName = nullptr;
    unsigned int prevLen = 0;
    for (unsigned int s = 0; s < sections; s++) {
        const unsigned char* p;
        if (!cur.take(1, p)) goto fail;
        unsigned int nameLen = p[0];
        const unsigned char* name;
        if (nameLen == 0 || !cur.take(nameLen, name) || !validUtf8(name, nameLen)) goto fail;
        if (prevName) {
            unsigned int common = prevLen < nameLen ? prevLen : nameLen;
            int c = memcmp(prevName, name, common);
            if (c > 0 || (c == 0 && prevLen >= nameLen)) goto fail;  // not strictly ascending
        }
        prevName = name;
        prevLen = nameLen;
        if (!cur.take(4, p)) goto fail;
        unsigned int entries = le32(p);
        if ((long long)entries > cur.left / 6) goto fail;
        cCiomLangData* section = out.addSection((const char*)name, nameLen);
        if (!section) goto fail;
        int prevIndex = -1;
        for (unsigned int e = 0; e < entries; e++) {
            if (!cur.take(6, p)) goto fail;
            int index = (int)le16(p);
            unsigned int len = le32(p + 2);
            const unsigned char* text;
            if (index <= prevIndex || !cur.take(len, text) || !validUtf8(text, len)) goto fail;
            // Slots span up to the highest index: bound what all sections may allocate.
            slots += index - prevIndex;
            if (slots > kLangMaxSlots) goto fail;
            prevIndex = index;
            if (!section->setString(index, (const char*)text, len)) goto fail;
        }
    }
    if (cur.left != 0) goto fail;
    return true;
fail:
    out.clear();
    return false;
}

bool loadCiomLangData(const unsigned char* data, long long size, cCiomLang& out) {
    out.clear();
    if (!data || size < kLangHeaderSize || memcmp(data, kOuterMagic, 8) != 0) return false;
    if ((int)le16(data + 8) != kLangContainerVersion) return false;
    unsigned int langId = le16(data + 10);
    long long packed = le32(data + 12);
    long long unpacked = le32(data + 16);
    if (langId != 0xFFFF && langId >= (unsigned int)eLangStdCount) return false;
    if (packed != size - kLangHeaderSize || packed < 8) return false;
    if (unpacked < 12 || unpacked > kLangMaxUnpacked || unpacked > packed * kMaxInflateRatio) return false;
    unsigned int crc = (unsigned int)crc32_z(0, data + 8, 12);
    crc = (unsigned int)crc32_z(crc, data + kLangHeaderSize, (z_size_t)packed);
    if (crc != le32(data + 20)) return false;

    _typebuf<unsigned char> table;
    if (!cZDecompress::decompressPart(data + kLangHeaderSize, packed, table, unpacked)) return false;
    if (table.count != unpacked) return false;
    if (!parseCiomLangTable(table.ptr, table.count, out)) return false;
    out.setLangId(langId == 0xFFFF ? -1 : (int)langId);
    return true;
}

bool loadCiomLangFile(const char* path, cCiomLang& out) {
    out.clear();
    if (!path) return false;
    cFileIO file;
    if (!file.open(path)) return false;
    unsigned long long size = file.size();
    // The container cannot be much larger than the largest table it may hold.
    if (size < (unsigned long long)kLangHeaderSize || size > (unsigned long long)kLangMaxUnpacked + 65536) return false;
    _typebuf<unsigned char> bytes;
    if (!bytes.set((long long)size) || !file.readf(bytes.ptr, (long long)size)) return false;
    return loadCiomLangData(bytes.ptr, bytes.count, out);
}

bool writeCiomLangData(const cCiomLang& table, int langId, _typebuf<unsigned char>& result) {
    result.clear();
    sOut t;
    t.put(kInnerMagic, 8);
    unsigned char* countAt = t.grab(4);
    if (!countAt) return false;
    long long countOffset = countAt - t.buf.ptr;
    unsigned int sections = 0;
    // Sections come out of the map in key order, which is the byte order the reader wants.
    for (const cCiomLangData* s = table.nextSection(nullptr); s; s = table.nextSection(s)) {
        long long nameLen = s->name() ? (long long)strlen(s->name()) : 0;
        if (nameLen < 1 || nameLen > cCiomLang::kMaxSectionName) return false;
        unsigned char n = (unsigned char)nameLen;
        t.put(&n, 1);
        t.put(s->name(), nameLen);
        unsigned char* entriesAt = t.grab(4);
        if (!entriesAt) return false;
        long long entriesOffset = entriesAt - t.buf.ptr;
        unsigned int entries = 0;
        for (int i = 0; i < s->count(); i++) {
            const char* text = s->string(i);
            if (!text) continue;
            unsigned char* e = t.grab(6);
            if (!e) return false;
            long long len = (long long)strlen(text);
            putLe16(e, (unsigned int)i);
            putLe32(e + 2, (unsigned int)len);
            t.put(text, len);
            entries++;
        }
        if (!t.ok) return false;
        putLe32(t.buf.ptr + entriesOffset, entries);
        sections++;
    }
    if (!t.ok || t.used > kLangMaxUnpacked) return false;
    putLe32(t.buf.ptr + countOffset, sections);

    _typebuf<unsigned char> packed;
    if (!cZDeflate::compress(t.buf.ptr, t.used, packed, 5)) return false;
    if (!result.set(kLangHeaderSize + packed.count)) return false;
    memcpy(result.ptr, kOuterMagic, 8);
    putLe16(result.ptr + 8, (unsigned int)kLangContainerVersion);
    putLe16(result.ptr + 10, langId >= 0 && langId < eLangStdCount ? (unsigned int)langId : 0xFFFFu);
    putLe32(result.ptr + 12, (unsigned int)packed.count);
    putLe32(result.ptr + 16, (unsigned int)t.used);
    unsigned int crc = (unsigned int)crc32_z(0, result.ptr + 8, 12);
    crc = (unsigned int)crc32_z(crc, packed.ptr, (z_size_t)packed.count);
    putLe32(result.ptr + 20, crc);
    memcpy(result.ptr + kLangHeaderSize, packed.ptr, (size_t)packed.count);
    return true;
}
