// Reading a compiled rich document: file checks, the shared tables, and the box streams.
#include "cihlpdoc/sidocloader.h"

#include <cstring>
#include <new>

#include "base/byteorder.h"
#include "base/fileio.h"
#include "base/memio.h"
#include "ciplatform/fontobject.h"
#include "compression/zlibstreams.h"
#include "picts/pictbase.h"

namespace {


// Whole header size of a record type, 0 for a type that does not exist.
long long recordHead(unsigned int type) {
    switch (type) {
    case 0: return 26;
    case 1: return 20;
    case 2: return 25;
    case 3: return 28;
    case 4: return 20;  // the image link's string id is checked on its own
    default: return 0;
    }
}

void applyHead(cSiDocBox* box, const unsigned char* p) {
    unsigned int bg = le32(p + 1);
    int ml = (int)le16(p + 6), mr = (int)le16(p + 8), mt = (int)le16(p + 10), mb = (int)le16(p + 12);
    unsigned int w = le16(p + 14), h = le16(p + 16);
    if (ml || mr || mt || mb) box->setMargins(ml, mt, mr, mb);
    if (w != 65535) box->setWidth((int)w);
    if (h != 65535) box->setHeight((int)h);
    if (bg != 0xFFFFFFFF) box->setBgColor(bg);
    // Any byte but 0 starts a line; documents from builds that wrote 2 or 4 here load
    // with those boxes as line starts.
    if (p[5]) box->setBreak(true);
}

}  // namespace

const char* cSiDocLoader::faceName(unsigned int kind) {
    switch (kind) {
    case 0: return _glbalStdFont();
    case 1: return _glbalFixedFont();
    case 2: return "Malgun Gothic";
    case 3: return "Verdana";
    case 4: return "Lucida Sans";
    case 5: return "Microsoft YaHei";
    case 6: return "PMingLiU";
    default: return nullptr;
    }
}

void cSiDocLoader::destroy() {
    myLanguages.destroy();
    myFonts.destroy();
    myStrings.destroy();
    myImages.destroy();
}

cSiDocContainer* cSiDocLoader::forLang(int lang) { return myLanguages.find(lang); }

const cSiDocLoader::sIntFontDef* cSiDocLoader::fontDef(int id) const {
    cFasterTreeList<int, sIntFontDef>::sEntry* e = myFonts.findEntry(id);
    return e ? &e->value() : nullptr;
}

const char* cSiDocLoader::string(int id) const {
    cFasterTreeList<int, _guardchar<char> >::sEntry* e = myStrings.findEntry(id);
    return e ? e->value().ptr : nullptr;
}

cPicture* cSiDocLoader::image(int id) const {
    cFasterTreeList<int, cPicture>::sEntry* e = myImages.findEntry(id);
    return e ? &e->value() : nullptr;
}

cFontObject* cSiDocLoader::font(unsigned int id) {
    if (id > 0x7FFFFFFF) return nullptr;
    sIntFontDef* d = myFonts.find((int)id);
    if (!d) return nullptr;
    const char* face = faceName(d->face);
    if (!face) return nullptr;
    return cFontObject::get((int)d->width, (int)d->height, face, d->bold, d->underline, d->italic);
}

bool cSiDocLoader::load(const char* path) {
    destroy();
    if (!path) return false;
    cFileIO f;
    if (!f.open(path, cFileIO::eRead)) return false;
    unsigned long long size = f.size();
    // A document holds at most eleven capped streams and tables; refuse absurd files early.
    if (size == 0 || size > (1ULL << 32)) return false;
    _typebuf<unsigned char> data;
    if (!data.set((long long)size) || !f.readf(data.ptr, (long long)size)) return false;
    return load(data.ptr, data.count);
}

bool cSiDocLoader::decodeFontDefs(const unsigned char* data, long long size) {
    _typebuf<unsigned char> plain;
    if (!cZDecompress::decompressPart(data, size, plain, kSiDocMaxFontTable)) return false;
    if (plain.count % 8) return false;
    for (long long i = 0; i < plain.count / 8; i++) {
        const unsigned char* r = plain.ptr + i * 8;
        sIntFontDef* d = myFonts.insert((int)i);
        if (!d) return false;
        d->face = le16(r);
        d->width = le16(r + 2);
        d->height = le16(r + 4);
        d->bold = (r[6] & 1) != 0;
        d->italic = (r[6] & 2) != 0;
        d->underline = (r[6] & 4) != 0;
    }
    return true;
}

bool cSiDocLoader::decodeStringDefs(const unsigned char* data, long long size) {
    _typebuf<unsigned char> plain;
    if (!cZDecompress::decompressPart(data, size, plain, kSiDocMaxStringTable)) return false;
    long long pos = 0;
    int id = 0;
    while (pos < plain.count) {
        if (id >= kSiDocMaxIds || plain.count - pos < 2) return false;
        long long n = le16(plain.ptr + pos);
        pos += 2;
        if (plain.count - pos < n) return false;
        _guardchar<char>* s = myStrings.insert(id++);
        if (!s || !s->set((const char*)plain.ptr + pos, n)) return false;
        pos += n;
    }
    return true;
}

bool cSiDocLoader::getImages(const unsigned char* data, long long size) {
    long long pos = 0;
    int id = 0;
    long long pixelsLeft = kSiDocMaxPixels;
    while (pos < size) {
        if (size - pos < 4) return false;
        long long n = le32(data + pos);
        pos += 4;
        if (size - pos < n) return false;
        if (n == 0) continue;
        if (id >= kSiDocMaxIds) return false;
        cBufWrapperIO io(data + pos, n);
        pos += n;
        cPictBase::sPictInfo info;
        cPictBase* pict = cPictBase::mkPicture(&io, &info);
        if (!pict) return false;
        bool ok = false;
        // The probe's size is refused before the decoder allocates anything.
        if (cPicture::sizeOk(info.width, info.height) && (long long)info.width * info.height <= pixelsLeft &&
            io.set_fp(0) && pict->decode(&io)) {
            long long w = pict->width(), h = pict->height();
            _typebuf<unsigned int> pixels;
            if (w > 0 && h > 0 && cPicture::sizeOk(w, h) && w * h <= pixelsLeft) {
                pixelsLeft -= w * h;
                // Decoders keep rows bottom-up, toolkit pictures top-down; the resource
                // flag asks for the rows as stored.
                if (!__bmp_res_inversed) pict->flip();
                if (pict->moveToColorData(pixels) && pixels.count >= w * h) {
                    cPicture* p = myImages.insert(id);
                    ok = p && p->create_on(pixels, (int)w, (int)h);
                }
            }
        }
        delete pict;
        if (!ok) return false;
        id++;
    }
    return true;
}

bool cSiDocLoader::processLang(cSiDocContainer* root, sLangDecodePtr& ptr) {
    // An explicit stack of open containers keeps hostile nesting off the call stack.
    cSiDocContainer* open[kSiDocMaxNesting + 1];
    int depth = 0;
    open[0] = root;
    for (;;) {
        if (ptr.left < 1) return false;
        unsigned int type = ptr.pos[0];
        if (type == 255) {
            ptr.pos++;
            ptr.left--;
            if (depth == 0) return true;
            depth--;
            continue;
        }
        long long head = recordHead(type);
        if (!head || ptr.left < head) return false;
        if (++myBoxCount > kSiDocMaxBoxes) return false;
        const unsigned char* p = ptr.pos;
        cSiDocContainer* parent = open[depth];
        switch (type) {
        case 0:
        case 3: {
            cSiDocText* box = type == 0 ? new (std::nothrow) cSiDocText() : new (std::nothrow) cSiDocLink();
            if (!parent->addChild(box)) return false;
            applyHead(box, p);
            unsigned int color = le32(p + 18), fontId = le16(p + 22);
            long long n = le16(p + 24);
            if (color != 0xFFFFFFFF) box->setColor(color);
            if (fontId != 65535) box->refFont(this, fontId);
            if (type == 3) {
                unsigned int sid = le16(p + 26);
                if (sid != 65535) {
                    _guardchar<char>* s = myStrings.find((int)sid);
                    if (!s) return false;
                    // An empty target is stored as an empty text; keep it non-null.
                    static_cast<cSiDocLink*>(box)->refRef(s->ptr ? s->ptr : (char*)"");
                }
            }
            ptr.pos += head;
            ptr.left -= head;
            if (n > 0) {
                if (ptr.left < n) return false;
                _guardchar<char> text;
                if (!text.set((const char*)ptr.pos, n)) return false;
                box->setText(text.ptr);
                ptr.pos += n;
                ptr.left -= n;
            }
            break;
        }
        case 2: {
            if (depth >= kSiDocMaxNesting) return false;
            cSiDocContainer* box = new (std::nothrow) cSiDocContainer();
            if (!parent->addChild(box)) return false;
            applyHead(box, p);
            unsigned int color = le32(p + 18), fontId = le16(p + 22);
            if (color != 0xFFFFFFFF) box->setColor(color);
            if (fontId != 65535) box->refFont(this, fontId);
            box->setAlign((cSiDocContainer::eAlign)p[24]);
            ptr.pos += head;
            ptr.left -= head;
            open[++depth] = box;
            break;
        }
        case 1:
        case 4: {
            cSiDocImage* box = type == 1 ? new (std::nothrow) cSiDocImage() : new (std::nothrow) cSiDocImageLink();
            if (!parent->addChild(box)) return false;
            applyHead(box, p);
            unsigned int iid = le16(p + 18);
            if (iid != 65535) {
                cPicture* pict = myImages.find((int)iid);
                if (!pict) return false;
                box->refImage(pict);
            }
            ptr.pos += head;
            ptr.left -= head;
            if (type == 4) {
                if (ptr.left < 2) return false;
                unsigned int sid = le16(ptr.pos);
                ptr.pos += 2;
                ptr.left -= 2;
                // The target is required here: an image link without one is not written.
                _guardchar<char>* s = myStrings.find((int)sid);
                if (!s) return false;
                static_cast<cSiDocImageLink*>(box)->refRef(s->ptr ? s->ptr : (char*)"");
            }
            break;
        }
        }
    }
}

bool cSiDocLoader::load(const unsigned char* data, long long size) {
    // Half a document is never handed out.
    if (loadAll(data, size)) return true;
    destroy();
    return false;
}

bool cSiDocLoader::loadAll(const unsigned char* data, long long size) {
    destroy();
    myBoxCount = 0;
    if (!data || size < 13 || memcmp(data, kSiDocMagic, 8) != 0) return false;
    long long pos = 8;
    if (data[pos] == 0xFF) return false;

    cFasterTreeList<int, sRange> langs(512);
    while (pos < size && data[pos] < 0xFF) {
        if (size - pos < 5) return false;
        int lang = data[pos];
        long long n = le32(data + pos + 1);
        pos += 5;
        if (n == 0 || n > size - pos) return false;
        if (lang > 10) return false;
        sRange* r = langs.insert_new(lang);
        if (!r) return false;
        r->offset = pos;
        r->size = n;
        pos += n;
    }
    if (pos >= size) return false;  // no end of the language records
    pos++;

    sRange tables[3];
    for (int t = 0; t < 3; t++) {
        if (size - pos < 4) return false;
        long long n = le32(data + pos);
        pos += 4;
        if (n > size - pos) return false;
        tables[t].offset = pos;
        tables[t].size = n;
        pos += n;
    }

    if (tables[0].size > 0 && !decodeFontDefs(data + tables[0].offset, tables[0].size)) return false;
    if (tables[1].size > 0 && !decodeStringDefs(data + tables[1].offset, tables[1].size)) return false;
    if (tables[2].size > 0 && !getImages(data + tables[2].offset, tables[2].size)) return false;

    for (cFasterTreeList<int, sRange>::sEntry* e = langs.first(); e; e = langs.next(e)) {
        _typebuf<unsigned char> plain;
        if (!cZDecompress::decompressPart(data + e->value().offset, e->value().size, plain, kSiDocMaxLangStream) ||
            plain.count < 1)
            return false;
        cSiDocContainer* root = myLanguages.insert(e->key());
        if (!root) return false;
        sLangDecodePtr ptr;
        ptr.pos = plain.ptr;
        ptr.left = plain.count;
        if (!processLang(root, ptr)) return false;
    }
    return true;
}
