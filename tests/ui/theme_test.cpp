// The flat theme: readable text, every picture's pixels, 1 x 1 colour entries, lookups by
// number, theme selection, and the language flags.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "ciplatform/picture.h"
#include "ui/lang.h"
#include "ui/theme.h"

namespace {

int opaquePixels(cPicture* p) {
    int n = 0;
    for (long long i = 0; i < (long long)p->width() * p->height(); i++)
        if ((p->raw()[i] >> 24) != 0) n++;
    return n;
}

}  // namespace

// The flat theme's text stays readable: text on controls and selected text on the selection.
TEST(Theme, TextContrastsWithItsBackground) {
    cCITheme* t = &gCI_Flat_Theme;
    // Signed: an unsigned difference would wrap and pass when the order is reversed.
    auto luma = [](unsigned int bgr) -> int {
        return (int)((bgr & 0xFF) * 299 + ((bgr >> 8) & 0xFF) * 587 + ((bgr >> 16) & 0xFF) * 114);
    };
    EXPECT_GT(luma(t->getColor(14)) - luma(t->getColor(4)), 150000) << "text must read on controls";
    EXPECT_GT(luma(t->getColor(9)) - luma(t->getColor(16)), 50000) << "selected text must read on the selection";
    // The property sheet centres a 16 x 16 button in its section header.
    EXPECT_GE(t->getDimension(24), 16);
}

TEST(Theme, PicturesHaveTheirStatedSizes) {
    cCITheme* t = &gCI_Flat_Theme;
    // Every entry is drawn at its table size and is not left blank.
    for (int n = 0; n < cCITheme::kPictures; n++) {
        const sCIThemePicture& e = gCI_Flat_ThemeTable.pictures[n];
        cPicture* pic = t->getPict(n);
        ASSERT_NE(pic, nullptr) << n;
        ASSERT_NE(pic->raw(), nullptr) << n;
        EXPECT_EQ(pic->width(), e.width) << n;
        EXPECT_EQ(pic->height(), e.height) << n;
        EXPECT_GT(opaquePixels(pic), 0) << "picture " << n << " is empty";
        EXPECT_EQ(t->getPict(n), pic) << "pictures are made once";
        sSize size;
        EXPECT_EQ(t->getImage(n, size), pic->raw());
        EXPECT_EQ(size.cx, e.width);
        EXPECT_EQ(size.cy, e.height);
    }
    sSize size = {5, 5};
    EXPECT_EQ(t->getPict(-1), nullptr);
    EXPECT_EQ(t->getPict(cCITheme::kPictures), nullptr);
    EXPECT_EQ(t->getImage(cCITheme::kPictures, size), nullptr);
    EXPECT_EQ(size.cx, 0);
    EXPECT_EQ(size.cy, 0);
}

TEST(Theme, SolidEntryGivesAPointerToItsColour) {
    sSize size;
    const unsigned int* c = gCI_Flat_Theme.getImage(86, size);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(size.cx, 1);
    EXPECT_EQ(size.cy, 1);
    EXPECT_EQ(*c, gCI_Flat_ThemeTable.pictures[86].colour);
    EXPECT_EQ(*c >> 24, 0xFFu) << "an opaque colour";
}

TEST(Theme, ScrollBarPiecesFitTheLayoutLimits) {
    cCITheme* t = &gCI_Flat_Theme;
    int T = t->getDimension(19), shortest = t->getDimension(22), arrowsOnly = t->getDimension(21),
        smallOnly = t->getDimension(20);
    struct Bar {
        int first;
        bool vertical;
    };
    for (Bar bar : {Bar{87, false}, Bar{116, true}}) {
        SCOPED_TRACE(bar.vertical ? "vertical" : "horizontal");
        auto len = [&](int offset) {
            cPicture* p = t->getPict(bar.first + offset);
            EXPECT_NE(p, nullptr);
            return p ? (bar.vertical ? p->height() : p->width()) : 0;
        };
        for (int i = 0; i < 29; i++) {
            cPicture* p = t->getPict(bar.first + i);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(bar.vertical ? p->width() : p->height(), T) << "piece " << bar.first + i << " spans the thickness";
        }
        // End cap + end arrow + joint (drawn 5) + separator + joint + start arrow.
        int endPieces = len(0) + len(16) + 5 + len(22) + 5 + len(13);
        EXPECT_EQ(endPieces, 41);
        EXPECT_LT(endPieces, arrowsOnly + 1) << "the full layout leaves a track";
        // The thumb's caps fit the shortest thumb; the small arrows fit the shortest bar.
        EXPECT_LE(len(7) + len(10), shortest);
        EXPECT_LE(len(23) + len(26), shortest);
        // The full arrows fit a bar just past the small-arrow limit.
        EXPECT_LE(len(13) + len(16), smallOnly + 1);
    }
}

TEST(Theme, SelectionFallsBackToTheFlatTheme) {
    EXPECT_EQ(cCITheme::theme(), &gCI_Flat_Theme);
    sCIThemeDimension dims[cCITheme::kDimensions] = {};
    dims[7] = {99, 1, 100};
    unsigned int colours[cCITheme::kColors] = {};
    colours[4] = 0xAB123456;  // a table's top byte is not part of the colour
    sCIThemePicture pictures[cCITheme::kPictures] = {};
    pictures[3] = {2, 3, nullptr, 0, 0xFF00FF00};
    sCIThemeTable table = {dims, colours, pictures};
    {
        cCITheme mine(&table);
        cCITheme::setTheme(mine);
        EXPECT_EQ(cCITheme::theme(), &mine);
        EXPECT_EQ(cCITheme::theme()->getDimension(7), 99);
        EXPECT_EQ(cCITheme::theme()->getDimension(7, 1), 1);
        EXPECT_EQ(cCITheme::theme()->getDimension(7, 2), 100);
        EXPECT_EQ(cCITheme::theme()->getColor(4), 0x123456u);
        // Numbers outside the tables answer nothing rather than reading past them.
        for (int bad : {-1, cCITheme::kDimensions, 1 << 20}) EXPECT_EQ(mine.getDimension(bad), 0) << bad;
        for (int bad : {-1, cCITheme::kColors}) EXPECT_EQ(mine.getColor(bad), 0u) << bad;
        EXPECT_EQ(cCITheme::theme()->getPict(0), nullptr) << "an entry without pixels";
        cPicture* p = cCITheme::theme()->getPict(3);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->raw()[5], 0xFF00FF00u);
        cCITheme::setTheme(nullptr);
    }
    EXPECT_EQ(cCITheme::theme(), &gCI_Flat_Theme);
    cCITheme::setTheme(gCI_Flat_Theme);
    EXPECT_EQ(cCITheme::theme(), &gCI_Flat_Theme);
}

TEST(Theme, PicturesMadeOnceAcrossThreads) {
    cCITheme fresh(&gCI_Flat_ThemeTable);
    std::vector<cPicture*> seen(8 * cCITheme::kPictures);
    std::vector<std::thread> threads;
    for (int k = 0; k < 8; k++)
        threads.emplace_back([&, k] {
            for (int n = 0; n < cCITheme::kPictures; n++) seen[k * cCITheme::kPictures + n] = fresh.getPict((n + k * 19) % cCITheme::kPictures);
        });
    for (auto& th : threads) th.join();
    for (int k = 0; k < 8; k++)
        for (int n = 0; n < cCITheme::kPictures; n++)
            EXPECT_EQ(seen[k * cCITheme::kPictures + n], fresh.getPict((n + k * 19) % cCITheme::kPictures));
}

TEST(LangFlags, EveryLanguageHasDistinctFlagsOfBothSizes) {
    std::set<std::vector<unsigned int>> distinct;
    cPicturesList* list = ciLangImages18x14();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), eLangStdCount);
    for (int id = 0; id < eLangStdCount; id++) {
        cPicture* big = ciLangImage27x22(id);
        cPicture* small = ciLangImage18x14(id);
        ASSERT_NE(big, nullptr) << id;
        ASSERT_NE(small, nullptr) << id;
        EXPECT_EQ(big->width(), 27);
        EXPECT_EQ(big->height(), 22);
        EXPECT_EQ(small->width(), 18);
        EXPECT_EQ(small->height(), 14);
        EXPECT_EQ(opaquePixels(big), 27 * 22) << "flags are opaque";
        EXPECT_EQ(list->image(id), small);
        EXPECT_EQ(ciLangImage18x14(id), small) << "made once";
        distinct.insert(std::vector<unsigned int>(big->raw(), big->raw() + 27 * 22));
    }
    EXPECT_EQ(distinct.size(), (size_t)eLangStdCount);
    for (int bad : {-1, 11}) {
        EXPECT_EQ(ciLangImage27x22(bad), nullptr);
        EXPECT_EQ(ciLangImage18x14(bad), nullptr);
    }
}

TEST(LangFlags, BandsSitWhereTheFlagsHaveThem) {
    auto px = [](int id, int x, int y) { return ciLangImage27x22(id)->raw()[y * 27 + x] & 0xFFFFFF; };
    auto reddish = [](unsigned int c) { return ((c >> 16) & 0xFF) > 0xB0 && ((c >> 8) & 0xFF) < 0x60 && (c & 0xFF) < 0x60; };
    auto bluish = [](unsigned int c) { return (c & 0xFF) > 0x60 && ((c >> 16) & 0xFF) < 0x40; };
    EXPECT_TRUE(reddish(px(eLangJPN, 13, 11))) << "a red disc in the middle";
    EXPECT_EQ(px(eLangJPN, 3, 3), 0xFFFFFFu);
    EXPECT_EQ(px(eLangRUS, 13, 3), 0xFFFFFFu);
    EXPECT_TRUE(bluish(px(eLangRUS, 13, 11)));
    EXPECT_TRUE(reddish(px(eLangRUS, 13, 18)));
    EXPECT_EQ(px(eLangDEU, 13, 3), 0x000000u);
    EXPECT_TRUE(bluish(px(eLangFRA, 4, 11)));
    EXPECT_TRUE(reddish(px(eLangFRA, 22, 11)));
    EXPECT_TRUE(bluish(px(eLangUKR, 13, 5)));
    EXPECT_TRUE(reddish(px(eLangTUR, 2, 2)));
    EXPECT_TRUE(reddish(px(eLangCHN, 24, 19)));
}
