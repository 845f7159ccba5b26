// cSOPKGLang: the application's language-table provider ("pkgm::*" sections in nine
// languages) for the toolkit's language layer.
#pragma once

#include "ui/lang.h"

// The text alignment adjustment the platform font choice reported for the applied
// language (3 in general, 0 for the CJK languages when their face is installed).
extern int _def_block_align;

class cInstallLangs;

class cSOPKGLang : public cLibLang {
public:
    // Creates the one provider (registering it); later calls do nothing.
    static void init();
    // Whether the application has a table for the language; false before init.
    static bool _defines(int id);
    // The default language (the table's first entry, English).
    static int _defaultLang();
    // Applies the language to every provider and picks the platform font for it; a
    // standard language without any table applies the default language.
    static bool applyLang(int id);
    // The installation engine's questions about languages, answered from these tables
    // (installed for the process by installProcessHooks).
    static cInstallLangs* engineLangs();

    // The built-in tables, in order: ENG, DEU, RUS, UKR, KOR, JPN, CHN, TWN, TUR.
    static const sLangTableEntry* const gLangs;
    static const int kLangCount = 9;

    bool defines(int id) override;
    unsigned int sizeOf(int id) override;
    const unsigned char* langData(int id) override;
    int defaltLang() override;
};
