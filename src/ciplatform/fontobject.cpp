// The font store: fontconfig finds and substitutes faces, FreeType renders glyphs,
// every font and glyph is kept for the life of the process. One lock guards it all
// (FreeType and fontconfig objects are not safe to share between threads).
#include "ciplatform/fontobject.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/fastertreelist.h"
#include "base/strings.h"
#include "base/sync.h"
#include "ciplatform/canvas.h"

// A loaded face at one pixel size, with the styles FreeType must synthesise.
struct sFontFace {
    char file[512];
    int index;
    int px;
    bool embolden;
    bool oblique;
    FT_Face ft;
};

typedef cFasterTreeList<unsigned int, sGlyph*> tGlyphMap;

namespace {

enum eFaceClass { fcSans = 0, fcSerif, fcMono, fcJapanese, fcKorean, fcChineseS, fcChineseT };

struct sClassName {
    const char* part;
    eFaceClass cls;
};

// Faces of other platforms and the class of face that stands in for them.
const sClassName kClassNames[] = {
    {"ms ui gothic", fcJapanese}, {"ms gothic", fcJapanese}, {"ms pgothic", fcJapanese},
    {"ms mincho", fcJapanese},    {"ms pmincho", fcJapanese}, {"meiryo", fcJapanese},
    {"yu gothic", fcJapanese},    {"hiragino", fcJapanese},   {"osaka", fcJapanese},
    {"malgun", fcKorean},         {"gulim", fcKorean},        {"dotum", fcKorean},
    {"batang", fcKorean},         {"apple sd gothic", fcKorean}, {"yahei", fcChineseS},
    {"simsun", fcChineseS},       {"simhei", fcChineseS},     {"pingfang sc", fcChineseS},
    {"heiti sc", fcChineseS},     {"jhenghei", fcChineseT},   {"mingliu", fcChineseT},
    {"pingfang tc", fcChineseT},  {"heiti tc", fcChineseT},   {"courier", fcMono},
    {"mono", fcMono},             {"consol", fcMono},         {"lucida console", fcMono},
    {"fixedsys", fcMono},         {"terminal", fcMono},       {"menlo", fcMono},
    {"monaco", fcMono},           {"sans", fcSans},           {"times", fcSerif},
    {"georgia", fcSerif},         {"serif", fcSerif},         {"mincho", fcJapanese},
};

bool containsNoCase(const char* hay, const char* needle) {
    size_t n = strlen(needle);
    for (const char* p = hay; *p; p++)
        if (__stricmp(p, needle, (long long)n) == 0) return true;
    return false;
}

eFaceClass classOf(const char* face) {
    for (const sClassName& c : kClassNames)
        if (containsNoCase(face, c.part)) return c.cls;
    return fcSans;
}

const char* langOf(eFaceClass c) {
    switch (c) {
        case fcJapanese: return "ja";
        case fcKorean: return "ko";
        case fcChineseS: return "zh-cn";
        case fcChineseT: return "zh-tw";
        default: return nullptr;
    }
}

// A character a face of the class must have.
unsigned int probeCharOf(eFaceClass c) {
    switch (c) {
        case fcJapanese: return 0x3042;  // hiragana a
        case fcKorean: return 0xAC00;    // hangul ga
        case fcChineseS:
        case fcChineseT: return 0x4E2D;
        default: return 'A';
    }
}

// The languages glyph fallback can prefer, with the tags CJK families carry in their
// names for the language they are drawn for (fontconfig's own order may put a face of
// another language first when both claim coverage, as pan-CJK faces do).
struct sTextLang {
    const char* tag;
    const char* familyTags[3];
};
const sTextLang kTextLangs[] = {
    {nullptr, {nullptr, nullptr, nullptr}},
    {"ja", {" JP", " Japanese", nullptr}},
    {"ko", {" KR", " Korean", nullptr}},
    {"zh-cn", {" SC", " CN", nullptr}},
    {"zh-tw", {" TC", " TW", nullptr}},
};
const int kTextLangCount = (int)(sizeof(kTextLangs) / sizeof(kTextLangs[0]));
std::atomic<int> gTextLang{0};

int textLangOf(const char* lang) {
    for (int i = 1; lang && *lang && i < kTextLangCount; i++)
        if (__stricmp(lang, kTextLangs[i].tag) == 0) return i;
    return 0;
}

bool familyTagged(const char* family, int lang) {
    for (const char* t : kTextLangs[lang].familyTags) {
        if (!t) break;
        size_t n = strlen(t);
        // The tag ends the name or is followed by a space ("Noto Sans CJK JP", "... JP Bold").
        for (const char* p = family; (p = strstr(p, t)) != nullptr; p++)
            if (p[n] == 0 || p[n] == ' ') return true;
    }
    return false;
}

const char* genericOf(eFaceClass c) {
    switch (c) {
        case fcMono: return "monospace";
        case fcSerif: return "serif";
        default: return "sans-serif";
    }
}

}  // namespace

struct sFontStore {
    cCriticalSection lock;
    bool ready = false;
    bool failed = false;
    FT_Library ft = nullptr;
    _typebuf<cFontObject*> fonts;
    long long fontCount = 0;
    _typebuf<sFontFace*> faces;
    long long faceCount = 0;

    bool init() {
        if (ready) return true;
        if (failed) return false;
        if (!FcInit() || FT_Init_FreeType(&ft) != 0) {
            failed = true;
            return false;
        }
        ready = true;
        return true;
    }

    template <class T>
    static bool append(_typebuf<T>& buf, long long& n, T v) {
        if (n >= buf.count && !buf.reset(buf.count ? buf.count * 2 : 16)) return false;
        buf.ptr[n++] = v;
        return true;
    }

    sFontFace* loadFace(const char* file, int index, int px, bool embolden, bool oblique) {
        for (long long i = 0; i < faceCount; i++) {
            sFontFace* f = faces.ptr[i];
            if (f->index == index && f->px == px && f->embolden == embolden && f->oblique == oblique &&
                strcmp(f->file, file) == 0)
                return f;
        }
        if (strlen(file) >= sizeof(((sFontFace*)nullptr)->file)) return nullptr;
        FT_Face face;
        if (FT_New_Face(ft, file, index, &face) != 0) return nullptr;
        if (FT_Set_Pixel_Sizes(face, 0, (FT_UInt)px) != 0) {
            // A bitmap-only face: take its nearest strike.
            if (face->num_fixed_sizes <= 0 || FT_Select_Size(face, 0) != 0) {
                FT_Done_Face(face);
                return nullptr;
            }
        }
        sFontFace* f = new sFontFace();
        snprintf(f->file, sizeof(f->file), "%s", file);
        f->index = index;
        f->px = px;
        f->embolden = embolden;
        f->oblique = oblique;
        f->ft = face;
        if (!append(faces, faceCount, f)) {
            FT_Done_Face(face);
            delete f;
            return nullptr;
        }
        return f;
    }

    // File, index and needed synthesis of the best match of a pattern (consumed).
    // With a language, fontconfig's order is kept but a face made for the language
    // (its family carries the language's tag) goes before the rest.
    bool matchPattern(FcPattern* pat, bool bold, bool italic, char* file, int size, int& index, bool& embolden,
                      bool& oblique, unsigned int mustHave, int lang = 0) {
        FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcConfigSubstitute(nullptr, pat, FcMatchPattern);
        FcDefaultSubstitute(pat);
        FcResult res;
        FcFontSet* set = FcFontSort(nullptr, pat, FcFalse, nullptr, &res);
        FcPatternDestroy(pat);
        if (!set) return false;
        bool found = false;
        int pick = -1;
        for (int i = 0; lang && i < set->nfont && pick < 0; i++) {
            FcPattern* f = set->fonts[i];
            FcChar8* fam = nullptr;
            FcCharSet* cs = nullptr;
            if (mustHave && (FcPatternGetCharSet(f, FC_CHARSET, 0, &cs) != FcResultMatch || !FcCharSetHasChar(cs, mustHave)))
                continue;
            for (int k = 0; pick < 0 && FcPatternGetString(f, FC_FAMILY, k, &fam) == FcResultMatch; k++)
                if (fam && familyTagged((const char*)fam, lang)) pick = i;
        }
        for (int i = pick >= 0 ? pick : 0; i < set->nfont && !found; i++) {
            FcPattern* f = set->fonts[i];
            if (mustHave) {
                FcCharSet* cs = nullptr;
                if (FcPatternGetCharSet(f, FC_CHARSET, 0, &cs) != FcResultMatch || !FcCharSetHasChar(cs, mustHave))
                    continue;
            }
            FcChar8* path = nullptr;
            if (FcPatternGetString(f, FC_FILE, 0, &path) != FcResultMatch || !path) continue;
            int idx = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
            FcPatternGetInteger(f, FC_INDEX, 0, &idx);
            FcPatternGetInteger(f, FC_WEIGHT, 0, &weight);
            FcPatternGetInteger(f, FC_SLANT, 0, &slant);
            if ((int)strlen((const char*)path) >= size) continue;
            snprintf(file, (size_t)size, "%s", (const char*)path);
            index = idx;
            embolden = bold && weight < FC_WEIGHT_DEMIBOLD;
            oblique = italic && slant == FC_SLANT_ROMAN;
            found = true;
        }
        FcFontSetDestroy(set);
        return found;
    }

    bool familyInstalled(const char* face) {
        FcPattern* pat = FcPatternCreate();
        FcPatternAddString(pat, FC_FAMILY, (const FcChar8*)face);
        FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, (char*)nullptr);
        FcFontSet* set = FcFontList(nullptr, pat, os);
        bool found = set && set->nfont > 0;
        if (set) FcFontSetDestroy(set);
        FcObjectSetDestroy(os);
        FcPatternDestroy(pat);
        return found;
    }

    // A present face for the name: the face itself when installed, else one of the
    // class that stands in for it.
    bool resolve(const char* face, bool bold, bool italic, char* file, int size, int& index, bool& embolden,
                 bool& oblique) {
        if (!face || !*face) face = "sans-serif";
        if (familyInstalled(face)) {
            FcPattern* pat = FcPatternCreate();
            FcPatternAddString(pat, FC_FAMILY, (const FcChar8*)face);
            if (matchPattern(pat, bold, italic, file, size, index, embolden, oblique, 0)) return true;
        }
        eFaceClass cls = classOf(face);
        FcPattern* pat = FcPatternCreate();
        FcPatternAddString(pat, FC_FAMILY, (const FcChar8*)genericOf(cls));
        if (const char* lang = langOf(cls)) FcPatternAddString(pat, FC_LANG, (const FcChar8*)lang);
        if (cls == fcMono) FcPatternAddInteger(pat, FC_SPACING, FC_MONO);
        unsigned int probe = probeCharOf(cls);
        if (probe != 'A') {
            FcCharSet* cs = FcCharSetCreate();
            FcCharSetAddChar(cs, probe);
            FcPatternAddCharSet(pat, FC_CHARSET, cs);
            FcCharSetDestroy(cs);
        }
        if (matchPattern(pat, bold, italic, file, size, index, embolden, oblique, probe, textLangOf(langOf(cls))))
            return true;
        // No face of the class: anything that exists.
        pat = FcPatternCreate();
        FcPatternAddString(pat, FC_FAMILY, (const FcChar8*)"sans-serif");
        return matchPattern(pat, bold, italic, file, size, index, embolden, oblique, 0);
    }

    // A face that has the code point, for glyphs missing from a font's primary face.
    sFontFace* fallbackFor(unsigned int cp, int px, bool bold, bool italic, int lang) {
        FcPattern* pat = FcPatternCreate();
        FcPatternAddString(pat, FC_FAMILY, (const FcChar8*)"sans-serif");
        if (lang) FcPatternAddString(pat, FC_LANG, (const FcChar8*)kTextLangs[lang].tag);
        FcCharSet* cs = FcCharSetCreate();
        FcCharSetAddChar(cs, cp);
        FcPatternAddCharSet(pat, FC_CHARSET, cs);
        FcCharSetDestroy(cs);
        char file[512];
        int index = 0;
        bool emb = false, obl = false;
        if (!matchPattern(pat, bold, italic, file, (int)sizeof(file), index, emb, obl, cp, lang)) return nullptr;
        sFontFace* f = loadFace(file, index, px, emb, obl);
        if (f && FT_Get_Char_Index(f->ft, cp) == 0) return nullptr;
        return f;
    }
};

static sFontStore& store() {
    static sFontStore* s = new sFontStore();  // never destroyed: fonts outlive everything
    return *s;
}

static cCriticalSection gFaceNamesLock;
static char gStdFont[128] = "Tahoma";
static char gFixedFont[128] = "Courier New";
static std::atomic<double> gWrapFactor{1.2};

cFontObject* cFontObject::get(int width, int height, const char* face, bool bold, bool underline, bool italic) {
    if (height < 1 || height > 1000) return nullptr;
    // The standard names may be rewritten by another thread (a language change): read
    // them under their lock. No name means the standard face.
    char named[sizeof(gStdFont)];
    if (!face || face == gStdFont || face == gFixedFont || !*face) {
        const char* source = face == gFixedFont ? gFixedFont : gStdFont;
        cSafeCriticalSectionAccess names(&gFaceNamesLock);
        snprintf(named, sizeof(named), "%s", source);
        face = named;
    }
    sFontStore& st = store();
    cSafeCriticalSectionAccess guard(&st.lock);
    if (!st.init()) return nullptr;
    for (long long i = 0; i < st.fontCount; i++) {
        cFontObject* f = st.fonts.ptr[i];
        if (f->myHeight == height && f->myBold == bold && f->myUnderline == underline && f->myItalic == italic &&
            __stricmp(f->myFace, face) == 0)
            return f;
    }
    if (strlen(face) >= sizeof(((cFontObject*)nullptr)->myFace)) return nullptr;
    char file[512];
    int index = 0;
    bool emb = false, obl = false;
    if (!st.resolve(face, bold, italic, file, (int)sizeof(file), index, emb, obl)) return nullptr;
    sFontFace* primary = st.loadFace(file, index, height, emb, obl);
    if (!primary) return nullptr;
    cFontObject* f = new cFontObject();
    snprintf(f->myFace, sizeof(f->myFace), "%s", face);
    f->myHeight = height;
    f->myBold = bold;
    f->myUnderline = underline;
    f->myItalic = italic;
    f->myPrimary = primary;
    FT_Size_Metrics& m = primary->ft->size->metrics;
    f->myAscent = (int)((m.ascender + 63) >> 6);
    int descent = (int)((-m.descender + 63) >> 6);
    if (f->myAscent < 1) f->myAscent = height;
    if (descent < 0) descent = 0;
    f->myLineHeight = f->myAscent + descent;
    if (FT_IS_SCALABLE(primary->ft)) {
        long long upem = primary->ft->units_per_EM ? primary->ft->units_per_EM : 2048;
        int pos = (int)((-(long long)primary->ft->underline_position * height + upem / 2) / upem);
        int thick = (int)(((long long)primary->ft->underline_thickness * height + upem / 2) / upem);
        f->myUnderlinePos = pos < 1 ? 1 : (pos >= descent && descent > 0 ? descent - 1 : pos);
        f->myUnderlineThick = thick < 1 ? 1 : thick;
    }
    f->myCache = new tGlyphMap();
    if (!sFontStore::append(st.fonts, st.fontCount, f)) {
        delete (tGlyphMap*)f->myCache;
        delete f;
        return nullptr;
    }
    return f;
}

bool cFontObject::faceExists(const char* face) {
    if (!face || !*face) return false;
    sFontStore& st = store();
    cSafeCriticalSectionAccess guard(&st.lock);
    return st.init() && st.familyInstalled(face);
}

bool cFontObject::resolveFace(const char* face, bool bold, bool italic, char* out, int size) {
    if (!out || size < 1) return false;
    sFontStore& st = store();
    cSafeCriticalSectionAccess guard(&st.lock);
    if (!st.init()) return false;
    int index = 0;
    bool emb, obl;
    return st.resolve(face, bold, italic, out, size, index, emb, obl);
}

const char* cFontObject::file() const { return myPrimary ? myPrimary->file : ""; }

void cFontObject::apply(cCanvas* canvas) {
    if (canvas) canvas->setTextMode(this);
}

// Renders from the face that has the code point; an empty box when none has it.
sGlyph* cFontObject::renderGlyph(unsigned int cp, int lang) {
    sFontStore& st = store();
    sGlyph* g = new sGlyph();
    if (cp < 32 || cp == 0x200B || cp == 0xFEFF) return g;  // controls and zero-width marks take no room
    sFontFace* face = myPrimary;
    FT_UInt gi = FT_Get_Char_Index(face->ft, cp);
    if (gi == 0) {
        face = st.fallbackFor(cp, myHeight, myBold, myItalic, lang);
        gi = face ? FT_Get_Char_Index(face->ft, cp) : 0;
    }
    if (gi == 0 || FT_Load_Glyph(face->ft, gi, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT) != 0) {
        // The missing-glyph box: a frame half the height wide.
        int w = myHeight / 2 > 2 ? myHeight / 2 : 3, h = myAscent * 3 / 4 > 2 ? myAscent * 3 / 4 : 3;
        g->advance = w + 2;
        g->left = 1;
        g->top = h;
        g->width = w;
        g->rows = h;
        g->coverage = new unsigned char[(size_t)w * h];
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                g->coverage[y * w + x] = (x == 0 || y == 0 || x == w - 1 || y == h - 1) ? 255 : 0;
        return g;
    }
    FT_GlyphSlot slot = face->ft->glyph;
    if (face->oblique) FT_GlyphSlot_Oblique(slot);
    if (face->embolden) FT_GlyphSlot_Embolden(slot);
    g->advance = (int)((slot->advance.x + 32) >> 6);
    if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return g;
    FT_Bitmap& bm = slot->bitmap;
    int limit = myHeight * 4 + 64;  // a broken face must not make a huge bitmap
    if (bm.width == 0 || bm.rows == 0 || (int)bm.width > limit || (int)bm.rows > limit) return g;
    g->left = slot->bitmap_left;
    g->top = slot->bitmap_top;
    g->width = (int)bm.width;
    g->rows = (int)bm.rows;
    g->coverage = new unsigned char[(size_t)g->width * g->rows];
    for (int y = 0; y < g->rows; y++) {
        const unsigned char* src = bm.buffer + (long long)y * bm.pitch;
        unsigned char* dst = g->coverage + (long long)y * g->width;
        if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.num_grays == 256) {
            memcpy(dst, src, (size_t)g->width);
        } else if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
            for (int x = 0; x < g->width; x++) dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
        } else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.num_grays > 1) {
            for (int x = 0; x < g->width; x++) dst[x] = (unsigned char)(src[x] * 255 / (bm.num_grays - 1));
        } else if (bm.pixel_mode == FT_PIXEL_MODE_BGRA) {
            for (int x = 0; x < g->width; x++) dst[x] = src[x * 4 + 3];
        } else {
            memset(dst, 0, (size_t)g->width);
        }
    }
    return g;
}

const sGlyph* cFontObject::glyph(unsigned int cp) {
    sFontStore& st = store();
    cSafeCriticalSectionAccess guard(&st.lock);
    if (cp < 128 && myAscii[cp]) return myAscii[cp];
    tGlyphMap* map = (tGlyphMap*)myCache;
    // Glyphs are kept per language (code points need 21 bits), so a language change
    // never shows a shape picked for the other one and earlier pointers stay valid.
    int lang = gTextLang.load(std::memory_order_relaxed);
    // Every value past Unicode draws the same missing-glyph box: one key for them all.
    unsigned int key = (cp > 0x10FFFF ? 0x1FFFFFu : cp) | ((unsigned int)lang << 24);
    if (cp >= 128) {
        sGlyph** found = map->find(key);
        if (found && *found) return *found;
    }
    sGlyph* g = renderGlyph(cp, lang);
    if (cp < 128) {
        myAscii[cp] = g;
    } else {
        sGlyph** slot = map->insert(key);
        if (slot) *slot = g;  // without memory the glyph is simply not cached (leaks one glyph)
    }
    return g;
}

void setTextLanguage(const char* lang) { gTextLang.store(textLangOf(lang), std::memory_order_relaxed); }

const char* textLanguage() { return kTextLangs[gTextLang.load(std::memory_order_relaxed)].tag; }

const char* _glbalStdFont() { return gStdFont; }
const char* _glbalFixedFont() { return gFixedFont; }

void _setGlbalStdFont(const char* face) {
    cSafeCriticalSectionAccess guard(&gFaceNamesLock);
    snprintf(gStdFont, sizeof(gStdFont), "%s", face && *face ? face : "Tahoma");
}

void _setGlbalFixedFont(const char* face) {
    cSafeCriticalSectionAccess guard(&gFaceNamesLock);
    snprintf(gFixedFont, sizeof(gFixedFont), "%s", face && *face ? face : "Courier New");
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QMX_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(QMX_ASAN)
// fontconfig loses a block while parsing its configuration; that is not ours to report
// in every program that draws text under LeakSanitizer.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

double textWrapYFactor() { return gWrapFactor.load(std::memory_order_relaxed); }
void setTextWrapYFactor(double factor) { gWrapFactor.store(factor > 0 ? factor : 1.2, std::memory_order_relaxed); }
