// FreeType and fontconfig, opened when the first font is needed (see sharedsyms.h).
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <cstdarg>

#include "ciplatform/sharedsyms.h"

namespace {

#define QMX_FONT_FUNCTIONS(F) \
    F(FT_Done_Face)           \
    F(FT_Get_Char_Index)      \
    F(FT_GlyphSlot_Embolden)  \
    F(FT_GlyphSlot_Oblique)   \
    F(FT_Init_FreeType)       \
    F(FT_Load_Glyph)          \
    F(FT_New_Face)            \
    F(FT_Render_Glyph)        \
    F(FT_Select_Size)         \
    F(FT_Set_Pixel_Sizes)     \
    F(FcCharSetAddChar)       \
    F(FcCharSetCreate)        \
    F(FcCharSetDestroy)       \
    F(FcCharSetHasChar)       \
    F(FcConfigSubstitute)     \
    F(FcDefaultSubstitute)    \
    F(FcFontList)             \
    F(FcFontSetDestroy)       \
    F(FcFontSort)             \
    F(FcInit)                 \
    F(FcObjectSetAdd)         \
    F(FcObjectSetCreate)      \
    F(FcObjectSetDestroy)     \
    F(FcPatternAddCharSet)    \
    F(FcPatternAddInteger)    \
    F(FcPatternAddString)     \
    F(FcPatternCreate)        \
    F(FcPatternDestroy)       \
    F(FcPatternGetCharSet)    \
    F(FcPatternGetInteger)    \
    F(FcPatternGetString)

enum {
#define QMX_SLOT(name) k_##name,
    QMX_FONT_FUNCTIONS(QMX_SLOT)
#undef QMX_SLOT
        kFontFunctions
};

const char* const kFontNames[] = {
#define QMX_NAME(name) #name,
    QMX_FONT_FUNCTIONS(QMX_NAME)
#undef QMX_NAME
};

const char* const kFontLibs[] = {"libfontconfig.so.1", "libfreetype.so.6"};

void* const* fontTable() {
    static void* slots[kFontFunctions];
    static const bool loaded = loadSharedSymbols(kFontLibs, 2, kFontNames, slots, kFontFunctions);
    return loaded ? slots : nullptr;
}

}  // namespace

// The entry point: without the libraries no font store starts.
FT_Error FT_Init_FreeType(FT_Library* library) {
    void* const* slots = fontTable();
    if (!slots) return FT_Err_Cannot_Open_Resource;
    return reinterpret_cast<decltype(&::FT_Init_FreeType)>(slots[k_FT_Init_FreeType])(library);
}

// Built from its parts, as the library builds it, so that no variable argument list is forwarded.
FcObjectSet* FcObjectSetBuild(const char* first, ...) {
    FcObjectSet* set = FcObjectSetCreate();
    if (!set) return nullptr;
    va_list ap;
    va_start(ap, first);
    for (const char* object = first; object; object = va_arg(ap, const char*)) {
        if (!FcObjectSetAdd(set, object)) {
            FcObjectSetDestroy(set);
            set = nullptr;
            break;
        }
    }
    va_end(ap);
    return set;
}

QMX_FORWARD_FROM(fontTable, FT_Error, FT_Done_Face, (FT_Face a0), (a0))
QMX_FORWARD_FROM(fontTable, FT_UInt, FT_Get_Char_Index, (FT_Face a0, FT_ULong a1), (a0, a1))
QMX_FORWARD_FROM(fontTable, void, FT_GlyphSlot_Embolden, (FT_GlyphSlot a0), (a0))
QMX_FORWARD_FROM(fontTable, void, FT_GlyphSlot_Oblique, (FT_GlyphSlot a0), (a0))
QMX_FORWARD_FROM(fontTable, FT_Error, FT_Load_Glyph, (FT_Face a0, FT_UInt a1, FT_Int32 a2), (a0, a1, a2))
QMX_FORWARD_FROM(fontTable, FT_Error, FT_New_Face, (FT_Library a0, const char* a1, FT_Long a2, FT_Face* a3),
                 (a0, a1, a2, a3))
QMX_FORWARD_FROM(fontTable, FT_Error, FT_Render_Glyph, (FT_GlyphSlot a0, FT_Render_Mode a1), (a0, a1))
QMX_FORWARD_FROM(fontTable, FT_Error, FT_Select_Size, (FT_Face a0, FT_Int a1), (a0, a1))
QMX_FORWARD_FROM(fontTable, FT_Error, FT_Set_Pixel_Sizes, (FT_Face a0, FT_UInt a1, FT_UInt a2), (a0, a1, a2))
QMX_FORWARD_FROM(fontTable, FcBool, FcCharSetAddChar, (FcCharSet * a0, FcChar32 a1), (a0, a1))
QMX_FORWARD_FROM(fontTable, FcCharSet*, FcCharSetCreate, (), ())
QMX_FORWARD_FROM(fontTable, void, FcCharSetDestroy, (FcCharSet * a0), (a0))
QMX_FORWARD_FROM(fontTable, FcBool, FcCharSetHasChar, (const FcCharSet* a0, FcChar32 a1), (a0, a1))
QMX_FORWARD_FROM(fontTable, FcBool, FcConfigSubstitute, (FcConfig * a0, FcPattern* a1, FcMatchKind a2), (a0, a1, a2))
QMX_FORWARD_FROM(fontTable, void, FcDefaultSubstitute, (FcPattern * a0), (a0))
QMX_FORWARD_FROM(fontTable, FcFontSet*, FcFontList, (FcConfig * a0, FcPattern* a1, FcObjectSet* a2), (a0, a1, a2))
QMX_FORWARD_FROM(fontTable, void, FcFontSetDestroy, (FcFontSet * a0), (a0))
QMX_FORWARD_FROM(fontTable, FcFontSet*, FcFontSort,
                 (FcConfig * a0, FcPattern* a1, FcBool a2, FcCharSet** a3, FcResult* a4), (a0, a1, a2, a3, a4))
QMX_FORWARD_FROM(fontTable, FcBool, FcInit, (), ())
QMX_FORWARD_FROM(fontTable, void, FcObjectSetDestroy, (FcObjectSet * a0), (a0))
QMX_FORWARD_FROM(fontTable, FcBool, FcPatternAddCharSet, (FcPattern * a0, const char* a1, const FcCharSet* a2),
                 (a0, a1, a2))
QMX_FORWARD_FROM(fontTable, FcBool, FcPatternAddInteger, (FcPattern * a0, const char* a1, int a2), (a0, a1, a2))
QMX_FORWARD_FROM(fontTable, FcBool, FcPatternAddString, (FcPattern * a0, const char* a1, const FcChar8* a2),
                 (a0, a1, a2))
QMX_FORWARD_FROM(fontTable, FcPattern*, FcPatternCreate, (), ())
QMX_FORWARD_FROM(fontTable, void, FcPatternDestroy, (FcPattern * a0), (a0))
QMX_FORWARD_FROM(fontTable, FcResult, FcPatternGetCharSet,
                 (const FcPattern* a0, const char* a1, int a2, FcCharSet** a3), (a0, a1, a2, a3))
QMX_FORWARD_FROM(fontTable, FcResult, FcPatternGetInteger, (const FcPattern* a0, const char* a1, int a2, int* a3),
                 (a0, a1, a2, a3))
QMX_FORWARD_FROM(fontTable, FcResult, FcPatternGetString, (const FcPattern* a0, const char* a1, int a2, FcChar8** a3),
                 (a0, a1, a2, a3))
QMX_FORWARD_FROM(fontTable, FcObjectSet*, FcObjectSetCreate, (), ())
QMX_FORWARD_FROM(fontTable, FcBool, FcObjectSetAdd, (FcObjectSet * a0, const char* a1), (a0, a1))
