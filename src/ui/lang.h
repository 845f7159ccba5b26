// The UI language layer: language tables (named sections of strings by index), the
// providers that carry them per library, the merged process-wide table, and the
// standard language ids with their names and flags.
//
// Threading rule: a language is applied on the UI thread only (a job that needs another
// language asks the UI thread through sendAction). applyLang builds the new merged table
// aside and swaps it in under a lock; the previous tables are kept alive for a while
// (see kRetiredTables) so that a string pointer taken just before a swap stays readable.
#pragma once

#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/stdlangs.h"
#include "base/stringkey.h"

class cPicture;
class cPicturesList;

// Flag pictures (drawn once, kept for the process; null for an unknown id).
cPicture* ciLangImage27x22(int id);
cPicture* ciLangImage18x14(int id);
// The shared list of 18 x 14 flags keyed by language id.
cPicturesList* ciLangImages18x14();

// Chooses the standard UI face for the applied language ("Malgun Gothic" for Korean,
// "Microsoft YaHei" for Simplified and "Microsoft JhengHei" for Traditional Chinese,
// else "Tahoma") and writes the text alignment adjustment: 3, or 0 for the CJK
// languages when their face is installed.
void setDefaultPlatformFont(int& alignment);

// One named section: strings by index. A missing index gives null.
class cCiomLangData {
public:
    cCiomLangData() {}
    ~cCiomLangData();
    cCiomLangData(const cCiomLangData&) = delete;
    cCiomLangData& operator=(const cCiomLangData&) = delete;

    // The string at that index (UTF-8, zero-terminated) or null.
    const char* string(int index) const;
    // One more than the highest index present (0 when empty).
    int count() const { return (int)mySlots.count; }
    // Number of indexes that hold a string.
    int present() const;
    const char* name() const { return myName.ptr; }

    // The merged table's string (cLibLang::gCiomLang) of that section and index, or
    // null. The pointer stays valid until well after the next applyLang.
    static const char* string(const char* section, int index);

    // Building: set (or replace) the string of an index; false when out of memory or
    // the index is outside 0..kMaxIndex.
    bool setString(int index, const char* text, long long length = -1);
    bool setName(const char* name, long long length = -1) { return myName.set(name, length); }

    static const int kMaxIndex = 65535;

private:
    _guardchar<char> myName;
    _typebuf<char*> mySlots;  // owned malloc'ed strings, null where missing
};

// A language table: named sections. Owns them.
class cCiomLang {
public:
    cCiomLang() {}
    ~cCiomLang() { clear(); }
    cCiomLang(const cCiomLang&) = delete;
    cCiomLang& operator=(const cCiomLang&) = delete;

    // The section of that name or null.
    cCiomLangData* section(const char* name) const;
    // The string of a section and index or null.
    const char* string(const char* section, int index) const;
    // Finds or adds a section (null when out of memory or the name is empty/too long).
    cCiomLangData* addSection(const char* name, long long length = -1);
    long long sections() const { return mySections.count(); }
    // Walks the sections in name order: first(null) then next(previous); null at the end.
    cCiomLangData* nextSection(const cCiomLangData* previous) const;
    // The language id the table was loaded for (-1 when built by hand).
    int langId() const { return myLangId; }
    void setLangId(int id) { myLangId = id; }

    void clear();
    void swap(cCiomLang& other);

    static const int kMaxSectionName = 255;

private:
    cFasterTreeList<cStringKey, cCiomLangData*> mySections;
    int myLangId = -1;
};

// Loads a "CIOMLAFI" container (built-in bytes or a .laci file read into memory) into
// `out` (replacing what it held). False, with `out` left empty, on any damage.
bool loadCiomLangData(const unsigned char* data, long long size, cCiomLang& out);
// Reads a .laci file; false on any failure (missing, too large, damaged).
bool loadCiomLangFile(const char* path, cCiomLang& out);

// One built-in table of a provider.
struct sLangTableEntry {
    int id;                      // eCIOMStdLangs
    const unsigned char* data;   // a "CIOMLAFI" container
    unsigned int size;
};

// The base of a language-table provider. Constructing one registers it with the
// language layer; destroying it removes it (the merged table keeps its strings until
// the next applyLang).
class cLibLang {
public:
    cLibLang();
    virtual bool defines(int id) = 0;
    virtual unsigned int sizeOf(int id) = 0;
    virtual const unsigned char* langData(int id) = 0;
    virtual int defaltLang() = 0;
    virtual ~cLibLang();

    // Lookups over a provider's table of `count` entries.
    static bool defines(int id, const sLangTableEntry* table, int count);
    static unsigned int sizeOf(int id, const sLangTableEntry* table, int count);
    static const unsigned char* langData(int id, const sLangTableEntry* table, int count);

    // Merges every registered provider's table for the language into gCiomLang: a
    // provider's string missing in that language falls back to its default language's
    // string, and a provider that lacks the language gives its default language. Later
    // registered providers win where two define the same section and index. False
    // (nothing changed) when the id is not standard, no provider defines it, or a table
    // of it cannot be loaded. Call on the UI thread only.
    static bool applyLang(int id);
    // The last applied standard language (English before any).
    static int appliedLang();
    // Whether some provider defines the language.
    static bool anyDefines(int id);

    // The merged table. Read it on the UI thread; other threads use
    // cCiomLangData::string(section, index), which takes the lock.
    static cCiomLang gCiomLang;
    // How many replaced merged tables stay alive after a swap.
    static const int kRetiredTables = 8;
};

// The toolkit's own provider ("ciom::*" sections in ten languages). init() creates it
// once and re-applies the applied language; the window maker calls it when first
// created. Later calls do nothing.
class cCiomToolkitLang : public cLibLang {
public:
    static void init();
    // The built-in table (for tests and tools).
    static const sLangTableEntry* table(int& count);

    bool defines(int id) override;
    unsigned int sizeOf(int id) override;
    const unsigned char* langData(int id) override;
    int defaltLang() override;
};
