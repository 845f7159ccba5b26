// The standard languages' codes and native names.
#include "base/stdlangs.h"

#include "base/strings.h"

namespace {

const char* const kCodes[eLangStdCount] = {"ENG", "RUS", "DEU", "JPN", "KOR", "FRA",
                                           "UKR", "ESP", "CHN", "TWN", "TUR"};

const char* const kNames[eLangStdCount] = {
    "English",
    "\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9",                          // Russkiy
    "Deutsch",
    "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",                                              // Nihongo
    "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4",                                              // Hangugeo
    "Fran\xC3\xA7" "ais",
    "\xD0\xA3\xD0\xBA\xD1\x80\xD0\xB0\xD1\x97\xD0\xBD\xD1\x81\xD1\x8C\xD0\xBA\xD0\xB0",  // Ukrainska
    "Espa\xC3\xB1ol",
    "\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87",                                  // simplified
    "\xE7\xB9\x81\xE9\xAB\x94\xE4\xB8\xAD\xE6\x96\x87",                                  // traditional
    "T\xC3\xBCrk\xC3\xA7" "e",
};

}  // namespace

const char* ciLangID(int id) { return id >= 0 && id < eLangStdCount ? kCodes[id] : "INV"; }

int ciLangFromID(const char* code) {
    if (!code) return -1;
    for (int i = 0; i < eLangStdCount; i++)
        if (__stricmp(code, kCodes[i]) == 0) return i;
    return -1;
}

const char* ciLangName(int id) { return id >= 0 && id < eLangStdCount ? kNames[id] : nullptr; }

bool ciLangIsCJK(int id) { return id == eLangJPN || id == eLangKOR || id == eLangCHN || id == eLangTWN; }
