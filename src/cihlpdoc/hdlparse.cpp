// The markup language: tokens, tags, attributes, font definitions and nesting, and the
// box records each construct writes into its language's stream.
#include "cihlpdoc/hdlparse.h"

#include <cstring>

#include "base/byteorder.h"
#include "base/fileio.h"
#include "base/strings.h"
#include "ciplatform/fontobject.h"
#include "ciplatform/picture.h"
#include "picts/pictbase.h"
#include "picts/sizecheck.h"

namespace {

bool isBlank(char c) { return c == 9 || c == 10 || c == 13 || c == 32; }

bool fail(sHDLParsePtr& ptr, const char* message) {
    sHDLConfig* cfg = ptr.cfg;
    cfg->errLine = ptr.line;
    cfg->errColumn = ptr.column;
    cfg->errMessage.set(message);
    return false;
}

bool emit(sHDLParsePtr& ptr, const void* data, long long n) {
    if (!ptr.out->stream.writef(data, n)) return fail(ptr, "out of memory");
    ptr.out->written += (unsigned long long)n;
    return true;
}

// The 18 bytes every box record but the end record starts with.
struct sBoxHead {
    unsigned int bg = 0xFFFFFFFF;
    unsigned int brk = 0;  // 0 or 1: readers take any other value as a line start
    unsigned int ml = 0, mr = 0, mt = 0, mb = 0;
    unsigned int w = 65535, h = 65535;

    void put(unsigned char* p, unsigned int type) const {
        p[0] = (unsigned char)type;
        putLe32(p + 1, bg);
        p[5] = (unsigned char)brk;
        putLe16(p + 6, ml);
        putLe16(p + 8, mr);
        putLe16(p + 10, mt);
        putLe16(p + 12, mb);
        putLe16(p + 14, w);
        putLe16(p + 16, h);
    }
};

// A text (type 0) or, with a link id, a link (type 3) record with its bytes.
bool emitText(sHDLParsePtr& ptr, const sBoxHead& head, unsigned int color, unsigned int fontId,
              unsigned int linkId, const char* text, long long n) {
    if (n > 65535) return fail(ptr, "word too long");
    unsigned char rec[28];
    bool link = linkId != 0xFFFFFFFF;
    head.put(rec, link ? 3 : 0);
    putLe32(rec + 18, color);
    putLe16(rec + 22, fontId);
    putLe16(rec + 24, (unsigned int)n);
    if (link) putLe16(rec + 26, linkId);
    return emit(ptr, rec, link ? 28 : 26) && (n == 0 || emit(ptr, text, n));
}

bool emitEnd(sHDLParsePtr& ptr) {
    unsigned char end = 255;
    return emit(ptr, &end, 1);
}

// Numbers of attributes: decimal or "0x" hexadecimal, trailing characters ignored;
// false when nothing is read, the value is negative or above max.
bool parseNumber(const char* v, unsigned long long max, unsigned int& out) {
    if (!v) return false;
    while (isBlank(*v)) v++;
    unsigned long long r = 0;
    bool any = false, over = false;
    if (v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        for (v += 2;; v++) {
            int d;
            if (*v >= '0' && *v <= '9') d = *v - '0';
            else if (*v >= 'a' && *v <= 'f') d = *v - 'a' + 10;
            else if (*v >= 'A' && *v <= 'F') d = *v - 'A' + 10;
            else break;
            any = true;
            r = r * 16 + (unsigned)d;
            if (r > max) {
                over = true;
                r = max;
            }
        }
    } else {
        for (; *v >= '0' && *v <= '9'; v++) {
            any = true;
            r = r * 10 + (unsigned)(*v - '0');
            if (r > max) {
                over = true;
                r = max;
            }
        }
    }
    if (!any || over) return false;
    out = (unsigned int)r;
    return true;
}

typedef cFasterTreeList<cStringKey, _guardchar<char> > tProps;

const char* prop(tProps& props, const char* name) {
    _guardchar<char>* v = props.find(cStringKey(name));
    return v ? (v->ptr ? v->ptr : "") : nullptr;
}

// Box attributes shared by text and img: margins, size, break and background.
bool readBoxProps(sHDLParsePtr& ptr, tProps& props, sBoxHead& head) {
    struct sNum {
        const char* name;
        unsigned int* field;
        unsigned long long max;
        const char* error;
    } nums[] = {
        {"ml", &head.ml, 65535, "bad left margin"},  {"mr", &head.mr, 65535, "bad right margin"},
        {"mt", &head.mt, 65535, "bad top margin"},   {"mb", &head.mb, 65535, "bad bottom margin"},
        {"w", &head.w, 65535, "bad width"},          {"h", &head.h, 65535, "bad height"},
        {"br", &head.brk, 1, "bad break"},           {"bg", &head.bg, 0xFFFFFFFFULL, "bad BG color"},
    };
    head.brk = 1;
    for (const sNum& n : nums) {
        const char* v = prop(props, n.name);
        if (v && !parseNumber(v, n.max, *n.field)) return fail(ptr, n.error);
    }
    return true;
}

// A font record's id, appending it to the font table when new.
int fontId(sHDLConfig& cfg, unsigned int face, unsigned int width, unsigned int height, unsigned int styles) {
    unsigned char rec[8];
    putLe16(rec, face);
    putLe16(rec + 2, width);
    putLe16(rec + 4, height);
    rec[6] = (unsigned char)styles;
    rec[7] = 0;
    unsigned long long key = le64(rec);
    if (sHDLExtObj* known = cfg.knownFonts.find(key)) return known->id;
    if (cfg.knownFonts.count() >= kSiDocMaxIds) return -1;
    sHDLExtObj* e = cfg.knownFonts.insert(key);
    if (!e || !cfg.fonts.writef(rec, 8)) return -1;
    e->offset = cfg.fontsWritten;
    e->id = (unsigned short)(cfg.fontsWritten / 8);
    cfg.fontsWritten += 8;
    return e->id;
}

unsigned int styleBits(const sCurrProps& p) { return (p.bold ? 1 : 0) | (p.italic ? 2 : 0) | (p.underline ? 4 : 0); }

// A link target's string id, appending it to the string table when new.
bool stringId(sHDLParsePtr& ptr, const char* text, unsigned int& id) {
    sHDLConfig& cfg = *ptr.cfg;
    long long n = (long long)strlen(text);
    // Cutting a target would open something else than the author wrote.
    if (n > 65535) return fail(ptr, "link reference too long");
    cStringKey key(text, n);
    if (sHDLExtObj* known = cfg.knownStrings.find(key)) {
        id = known->id;
        return true;
    }
    if (cfg.knownStrings.count() >= kSiDocMaxIds) return fail(ptr, "too many link references");
    if (cfg.stringsWritten + 2 + (unsigned long long)n > (unsigned long long)kSiDocMaxStringTable)
        return fail(ptr, "document too large");
    unsigned char len[2];
    putLe16(len, (unsigned int)n);
    sHDLExtObj* e = cfg.knownStrings.insert(key);
    if (!e || !cfg.strings.writef(len, 2) || (n && !cfg.strings.writef(text, n))) return fail(ptr, "out of memory");
    e->offset = cfg.stringsWritten;
    e->id = (unsigned short)cfg.nextString++;
    cfg.stringsWritten += 2 + (unsigned long long)n;
    id = e->id;
    return true;
}

// A picture's image id: the file is recognised and stored whole, once per resolved path.
bool imageId(sHDLParsePtr& ptr, const char* src, unsigned int& id) {
    sHDLConfig& cfg = *ptr.cfg;
    _guardchar<char> path;
    if (src[0] == '.' && src[1] == '/' && !cfg.sourceFolder.empty()) {
        long long fl = cfg.sourceFolder.length(), sl = (long long)strlen(src + 2);
        if (!path.set(fl + sl)) return fail(ptr, "out of memory");
        memcpy(path.ptr, cfg.sourceFolder.ptr, (size_t)fl);
        memcpy(path.ptr + fl, src + 2, (size_t)sl);
    } else if (!path.set(src)) {
        return fail(ptr, "out of memory");
    }
    cStringKey key(path.ptr);
    if (sHDLExtObj* known = cfg.knownPictures.find(key)) {
        id = known->id;
        return true;
    }
    cFileIO f;
    if (!f.open(path.ptr, cFileIO::eRead)) return fail(ptr, "unable to open IMG");
    cPictBase::sPictInfo info;
    clearPictBudgetRefusal();
    cPictBase* pict = cPictBase::mkPicture(&f, &info);
    // A picture too large to decode is known, not unrecognised.
    if (!pict) return fail(ptr, pictBudgetRefusal().bytes || pictBudgetRefusal().width ? "unable to load IMG" : "unable to recognize IMG");
    delete pict;
    // The loader refuses what the toolkit cannot hold; refuse it here already.
    if (!cPicture::sizeOk(info.width, info.height)) return fail(ptr, "unable to load IMG");
    unsigned long long size = f.size();
    if (size == 0) return fail(ptr, "unable to load IMG");
    if (cfg.knownPictures.count() >= kSiDocMaxIds) return fail(ptr, "too many images");
    if (cfg.imagesWritten + 4 + size > 0xFFFFFFFFULL) return fail(ptr, "document too large");
    _typebuf<unsigned char> bytes;
    if (!f.set_fp(0) || !bytes.set((long long)size) || !f.readf(bytes.ptr, bytes.count))
        return fail(ptr, "unable to read IMG");
    unsigned char len[4];
    putLe32(len, (unsigned int)size);
    sHDLExtObj* e = cfg.knownPictures.insert(key);
    if (!e || !cfg.images.writef(len, 4) || !cfg.images.writef(bytes.ptr, bytes.count))
        return fail(ptr, "out of memory");
    e->offset = cfg.imagesWritten;
    e->id = (unsigned short)cfg.nextImage++;
    cfg.imagesWritten += 4 + size;
    id = e->id;
    return true;
}

bool lowerEq(const char* a, const char* lowerName, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (__acp_lower(a[i]) != lowerName[i]) return false;
    return true;
}

}  // namespace

bool cHDLParser::getNextToken(sHDLParsePtr& ptr, _guardchar<char>& token) {
    token.clear();
    char* p = ptr.pos;
    while (isBlank(*p)) {
        if (*p == '\n') {
            ptr.line++;
            ptr.column = 0;
        } else {
            ptr.column++;
        }
        p++;
    }
    ptr.pos = p;
    if (!*p) return false;
    char* start = p;
    unsigned int line = ptr.line, column = ptr.column;
    if (*p == '<') {
        // A tag may run over several lines; the position follows it.
        while (*p && *p != '>') {
            if (*p == '\n') {
                line++;
                column = 0;
            } else if (((unsigned char)*p & 0xC0) != 0x80) {
                column++;
            }
            p++;
        }
        if (!*p) {
            fail(ptr, "unexpected termination");
            ptr.pos = p;
            return false;
        }
        p++;
        column++;
    } else {
        while (*p && *p != '<' && !isBlank(*p)) {
            if (((unsigned char)*p & 0xC0) != 0x80) column++;
            p++;
        }
    }
    if (!token.set(start, p - start)) {
        fail(ptr, "out of memory");
        ptr.pos = p;
        return false;
    }
    ptr.pos = p;
    ptr.line = line;
    ptr.column = column;
    return true;
}

char* cHDLParser::getTagID(char* afterBracket, int& id) {
    id = cSiDocLoader::ktUnknown;
    if (!afterBracket) return nullptr;
    static const struct {
        const char* name;
        int id;
        bool attributes;
    } tags[] = {
        {"text", cSiDocLoader::ktText, true}, {"link", cSiDocLoader::ktLink, true},
        {"img", cSiDocLoader::ktImg, true},   {"br", cSiDocLoader::ktBr, false},
        {"lt", cSiDocLoader::ktLt, false},    {"b", cSiDocLoader::ktB, false},
        {"i", cSiDocLoader::ktI, false},
    };
    for (const auto& t : tags) {
        size_t n = strlen(t.name);
        if (strncmp(afterBracket, t.name, n) != 0) continue;
        char* rest = afterBracket + n;
        if (*rest == '>' || (t.attributes && isBlank(*rest))) {
            id = t.id;
            return rest;
        }
    }
    return nullptr;
}

bool cHDLParser::extToProps(char* attributes, tProps& out) {
    char* p = attributes;
    if (!p) return false;
    for (;;) {
        while (isBlank(*p)) p++;
        if (!*p || *p == '>') return true;
        char* name = p;
        while (*p && *p != '=' && *p != '>' && !isBlank(*p)) p++;
        long long nameLen = p - name;
        while (isBlank(*p)) p++;
        if (*p != '=') return false;
        p++;
        while (isBlank(*p)) p++;
        char* value;
        long long valueLen;
        if (*p == '\'' || *p == '"') {
            char q = *p++;
            value = p;
            while (*p && *p != q) p++;
            if (!*p) return false;
            valueLen = p - value;
            p++;
        } else {
            value = p;
            while (*p && *p != '>' && !isBlank(*p)) p++;
            valueLen = p - value;
        }
        _guardchar<char> lower;
        _guardchar<char> raw;
        if (!raw.set(name, nameLen) || !__acp_lower(raw.ptr ? raw.ptr : "", lower)) return false;
        _guardchar<char>* slot = out.insert(cStringKey(lower.ptr ? lower.ptr : "", nameLen));
        if (!slot || !slot->set(value, valueLen)) return false;
    }
}

int cHDLParser::getCreateFont(sHDLParsePtr& ptr, char* value, sCurrProps& props) {
    static const char* const faces[] = {"std", "fixed", "kor", "verd", "luci", "chi", "twn"};
    const char* v = value ? value : "";
    int face = -1;
    size_t used = 0;
    for (int k = 0; k < 7; k++) {
        size_t n = strlen(faces[k]);
        if (strlen(v) >= n && lowerEq(v, faces[k], n)) {
            face = k;
            used = n;
            break;
        }
    }
    if (face < 0) return fail(ptr, "bad font face name"), -1;
    v += used;
    if (*v && *v != ',') return fail(ptr, "bad font face definition"), -1;
    sCurrProps np = props;
    np.face = (unsigned int)face;
    if (*v == ',') {
        v++;
        unsigned int h = 0;
        const char* d = v;
        while (*v >= '0' && *v <= '9') {
            if (h < 4096) h = h * 10 + (unsigned)(*v - '0');
            v++;
        }
        if (v == d) return fail(ptr, "bad font height def"), -1;
        if (h >= 4096) return fail(ptr, "bad font height"), -1;
        np.fontHeight = h;
        if (!*v) {
            np.fontWidth = (unsigned int)(h * 5 / 13.0 + 0.5);
        } else if (*v != ',') {
            return fail(ptr, "bad font definition"), -1;
        } else {
            v++;
            unsigned int w = 0;
            d = v;
            while (*v >= '0' && *v <= '9') {
                if (w < 4096) w = w * 10 + (unsigned)(*v - '0');
                v++;
            }
            if (v == d) return fail(ptr, "bad font width def"), -1;
            if (w >= 4096) return fail(ptr, "bad font width"), -1;
            np.fontWidth = w;
            if (*v && *v != ',') return fail(ptr, "bad font width definition"), -1;
            if (*v == ',') {
                for (v++; *v; v++) {
                    char c = __acp_lower(*v);
                    if (c == 'b') np.bold = 1;
                    else if (c == 'i') np.italic = 1;
                    else if (c == 'u') np.underline = 1;
                }
            }
        }
    }
    if (!cFontObject::get((int)np.fontWidth, (int)np.fontHeight, cSiDocLoader::faceName(np.face), np.bold != 0,
                          np.underline != 0, np.italic != 0))
        return fail(ptr, "bad font"), -1;
    int id = fontId(*ptr.cfg, np.face, np.fontWidth, np.fontHeight, styleBits(np));
    if (id < 0) return fail(ptr, "too many fonts"), -1;
    props = np;
    return id;
}

int cHDLParser::getFontIDForText(sCurrProps& props, sHDLConfig& cfg) {
    unsigned int styles = styleBits(props);
    if (!styles) return 65535;
    unsigned int width = props.bold ? (unsigned int)(props.fontWidth * 1.1 + 0.5) : props.fontWidth;
    return fontId(cfg, props.face, width, props.fontHeight, styles);
}

bool cHDLParser::processSection(sCurrProps& props, sHDLParsePtr& ptr, cSiDocLoader::eKnownTags openTag,
                                unsigned int textColor) {
    _guardchar<char> token;
    tProps attrs(64);
    while (getNextToken(ptr, token)) {
        char* t = token.ptr;
        if (t[0] != '<') {
            int font = getFontIDForText(props, *ptr.cfg);
            if (font < 0) return fail(ptr, "too many fonts");
            if (!emitText(ptr, sBoxHead(), textColor, (unsigned int)font, props.linkRef, t, token.length()))
                return false;
            continue;
        }
        int id;
        if (t[1] == '/') {
            char* rest = getTagID(t + 2, id);
            if (!rest) return fail(ptr, "invalid tag closed");
            if (*rest != '>') return fail(ptr, "tag is not properly closed");
            if (id != openTag) return fail(ptr, "close tag mismatch");
            return openTag != cSiDocLoader::ktText || emitEnd(ptr);
        }
        char* rest = getTagID(t + 1, id);
        if (!rest) return fail(ptr, "invalid tag opened");
        attrs.destroy();
        if ((id == cSiDocLoader::ktText || id == cSiDocLoader::ktLink || id == cSiDocLoader::ktImg) &&
            !extToProps(rest, attrs))
            return fail(ptr, "bad tag props");
        switch (id) {
        case cSiDocLoader::ktBr:
            if (!emitText(ptr, [] { sBoxHead h; h.brk = 1; return h; }(), 0xFFFFFFFF, 65535, 0xFFFFFFFF, "", 0))
                return false;
            break;
        case cSiDocLoader::ktLt:
            if (!emitText(ptr, sBoxHead(), 0xFFFFFFFF, 65535, 0xFFFFFFFF, "<", 1)) return false;
            break;
        case cSiDocLoader::ktImg: {
            sBoxHead head;
            if (!readBoxProps(ptr, attrs, head)) return false;
            const char* src = prop(attrs, "src");
            if (!src) return fail(ptr, "no src prop");
            unsigned int image;
            if (!imageId(ptr, src, image)) return false;
            unsigned char rec[22];
            bool link = props.linkRef != 0xFFFFFFFF;
            head.put(rec, link ? 4 : 1);
            putLe16(rec + 18, image);
            if (link) putLe16(rec + 20, props.linkRef);
            if (!emit(ptr, rec, link ? 22 : 20)) return false;
            break;
        }
        default: {
            // text, link, b and i open a level of their own.
            if (ptr.depth >= kSiDocMaxNesting) return fail(ptr, "tags nested too deep");
            sCurrProps inner = props;
            unsigned int color = textColor;
            cSiDocLoader::eKnownTags tag = (cSiDocLoader::eKnownTags)id;
            if (id == cSiDocLoader::ktText) {
                sBoxHead head;
                if (!readBoxProps(ptr, attrs, head)) return false;
                const char* fg = prop(attrs, "fg");
                if (fg && !parseNumber(fg, 0xFFFFFFFFULL, color)) return fail(ptr, "bad FG color");
                unsigned int align = 0;
                if (const char* a = prop(attrs, "a")) {
                    switch (__acp_lower(a[0])) {
                    case 0: return fail(ptr, "empty align");
                    case 'l': align = 0; break;
                    case 'r': align = 1; break;
                    case 'c': align = 2; break;
                    case 'j': align = 3; break;
                    default: return fail(ptr, "bad align");
                    }
                }
                int font = 65535;
                if (const char* f = prop(attrs, "f")) {
                    font = getCreateFont(ptr, (char*)f, inner);
                    if (font < 0) return false;
                }
                unsigned char rec[25];
                head.put(rec, 2);
                putLe32(rec + 18, color);
                putLe16(rec + 22, (unsigned int)font);
                rec[24] = (unsigned char)align;
                if (!emit(ptr, rec, 25)) return false;
            } else if (id == cSiDocLoader::ktLink) {
                const char* ref = prop(attrs, "ref");
                if (!stringId(ptr, ref ? ref : "", inner.linkRef)) return false;
                color = 0xFF0000;
            } else if (id == cSiDocLoader::ktB) {
                inner.bold = 1;
            } else {
                inner.italic = 1;
            }
            ptr.depth++;
            bool ok = processSection(inner, ptr, tag, color);
            ptr.depth--;
            if (!ok) return false;
            break;
        }
        }
    }
    if (!ptr.cfg->errMessage.empty()) return false;
    if (openTag != cSiDocLoader::ktTop) return fail(ptr, "termination on opened tag");
    return emitEnd(ptr);
}

bool cHDLParser::processHDL(sHDLConfig& cfg, char* text) {
    bool isNew;
    sHDLLangStreamCtx* ctx = cfg.langs.insert(cfg.currLang, isNew);
    if (!ctx) return false;
    ctx->stream.reset();
    ctx->written = 0;
    cfg.errMessage.clear();
    cfg.errLine = cfg.errColumn = 0;
    sHDLParsePtr ptr;
    ptr.pos = text ? text : (char*)"";
    ptr.out = ctx;
    ptr.cfg = &cfg;
    sCurrProps props;
    return processSection(props, ptr, cSiDocLoader::ktTop, 0);
}
