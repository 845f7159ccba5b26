// The eleven standard UI languages: their ids, three-letter codes and native names.
// Plain data, beneath every layer that names a language (documents, the UI, the engine).
#pragma once

// The eleven standard UI languages.
enum eCIOMStdLangs {
    eLangENG = 0,
    eLangRUS = 1,
    eLangDEU = 2,
    eLangJPN = 3,
    eLangKOR = 4,
    eLangFRA = 5,
    eLangUKR = 6,
    eLangESP = 7,
    eLangCHN = 8,
    eLangTWN = 9,
    eLangTUR = 10,
    eLangStdCount = 11
};

// "ENG", "RUS", ... for 0 to 10; "INV" for any other number.
const char* ciLangID(int id);
// The standard id of a three-letter code (any case), -1 when unknown.
int ciLangFromID(const char* code);
// The language's own name in UTF-8 ("English", "Русский", ...); null for an unknown id.
const char* ciLangName(int id);
// Whether the language is Chinese, Japanese or Korean (narrower line spacing, CJK font).
bool ciLangIsCJK(int id);
