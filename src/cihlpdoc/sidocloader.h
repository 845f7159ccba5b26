// cSiDocLoader: turns a compiled rich document into one box tree per language and keeps
// the fonts, link texts and pictures the boxes borrow. Every fault rejects the whole document.
#pragma once

#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "ciplatform/picture.h"
#include "cihlpdoc/sidocbox.h"

// Shared by the compiler and the loader.
const char kSiDocMagic[8] = {'Q', 'M', 'X', 'H', 'D', 'O', 'C', 'F'};
// Caps on what a document may inflate to: no source the compiler accepts comes near them.
const long long kSiDocMaxLangStream = 64LL << 20;
const long long kSiDocMaxFontTable = 65535LL * 8;
const long long kSiDocMaxStringTable = 64LL << 20;
// Ids are 16-bit and 65535 means none, so a table holds at most 65535 entries.
const long long kSiDocMaxIds = 65535;
// Boxes of one document, all languages together: a box costs far more memory than its
// 20-byte record, and records deflate well, so the stream caps alone let a small file
// ask for gigabytes. Real documents stay orders of magnitude below.
const long long kSiDocMaxBoxes = 1LL << 20;
// Pixels of all pictures of one document: each may be as large as a picture can be,
// and a picture's compressed form can be a thousandth of its pixels.
const long long kSiDocMaxPixels = 64LL << 20;

class cSiDocLoader : public cSiDocFontProvider {
public:
    enum eKnownTags { ktUnknown = -1, ktTop = 0, ktText = 1, ktLink = 2, ktImg = 3, ktBr = 4, ktLt = 5, ktB = 6, ktI = 7 };

    struct sIntFontDef {
        unsigned int face = 0;
        unsigned int width = 0;
        unsigned int height = 0;
        bool bold = false;
        bool underline = false;
        bool italic = false;
    };

    struct sLangDecodePtr {
        const unsigned char* pos = nullptr;
        long long left = 0;
    };

    cSiDocLoader() {}
    ~cSiDocLoader() override { destroy(); }
    cSiDocLoader(const cSiDocLoader&) = delete;
    cSiDocLoader& operator=(const cSiDocLoader&) = delete;

    // Replaces the content with the document in the bytes; false on any fault.
    bool load(const unsigned char* data, long long size);
    // Reads the whole file and loads it; false when it cannot be read or is empty.
    bool load(const char* path);
    // The root container of that language, null when the document lacks it.
    cSiDocContainer* forLang(int lang);
    void destroy();
    // The store's font for a font id; null for an unknown id or face kind.
    cFontObject* font(unsigned int id) override;

    // Face name of a face kind 0-6, null for any other.
    static const char* faceName(unsigned int kind);

    long long imageCount() const { return myImages.count(); }
    long long stringCount() const { return myStrings.count(); }
    long long fontCount() const { return myFonts.count(); }
    const sIntFontDef* fontDef(int id) const;
    const char* string(int id) const;
    cPicture* image(int id) const;

private:
    struct sRange {
        long long offset = 0;
        long long size = 0;
    };

    bool loadAll(const unsigned char* data, long long size);
    bool decodeFontDefs(const unsigned char* data, long long size);
    bool decodeStringDefs(const unsigned char* data, long long size);
    bool getImages(const unsigned char* data, long long size);
    bool processLang(cSiDocContainer* root, sLangDecodePtr& ptr);

    cFasterTreeList<int, cPicture> myImages{2048};
    cFasterTreeList<int, _guardchar<char> > myStrings{2048};
    cFasterTreeList<int, sIntFontDef> myFonts{1024};
    cFasterTreeList<int, cSiDocContainer> myLanguages{512};
    long long myBoxCount = 0;  // boxes made by the current load
};
