// XPM colour names against the X11 colour database, real icons against ImageMagick's pixels,
// and the syntax and key-fallback rules of colour lines.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "picts/png/pictpng.h"
#include "picts/xpm/pictxpm.h"
#include "picts/xpm/xpmreader.h"
#include "pictfmt_testutil.h"
#include "testutil.h"

using namespace pictfmt;

namespace {

unsigned int colorOf(const std::string& name, bool& ok) {
    unsigned int v = 0;
    ok = cXpmReader::parseColor(name.data(), (long long)name.size(), v);
    return v;
}

std::string upper(std::string s) {
    for (char& c : s) c = (char)toupper((unsigned char)c);
    return s;
}

// A 2 x 1 picture of keys "a" and "b" whose colour lines are given.
std::string twoPixels(const std::string& lineA, const std::string& lineB, const std::string& tail = "};\n") {
    return "/* XPM */\nstatic char *x[] = {\n\"2 1 2 1\",\n\"" + lineA + "\",\n\"" + lineB + "\",\n\"ab\"\n" + tail;
}

}  // namespace

// Every name of the database, as written there (blanks, mixed case), without its blanks, and
// in upper case, gives the database's colour.
TEST(XpmColors, EveryX11DatabaseNameInEverySpelling) {
    std::ifstream in("/usr/share/X11/rgb.txt");
    if (!in) GTEST_SKIP() << "/usr/share/X11/rgb.txt not installed (package x11-common)";
    std::string line;
    int names = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '!') continue;
        std::istringstream ls(line);
        unsigned r, g, b;
        if (!(ls >> r >> g >> b)) continue;
        std::string name, word, flat;
        while (ls >> word) {
            name += (name.empty() ? "" : " ") + word;
            flat += word;
        }
        const unsigned int want = 0xFF000000u | r << 16 | g << 8 | b;
        for (const std::string& spelling : {name, flat, upper(name)}) {
            bool ok;
            unsigned int got = colorOf(spelling, ok);
            EXPECT_TRUE(ok) << spelling;
            if (ok) {
                EXPECT_EQ(got, want) << spelling;
            }
        }
        names++;
    }
    EXPECT_GT(names, 700);
}

// Real icons with numbered greys and names holding blanks decode to ImageMagick's pixels.
TEST(XpmDecoder, RealIconsMatchImageMagick) {
    for (const char* name : {"mini.clock2", "dialog_box"}) {
        SCOPED_TRACE(name);
        std::string base = std::string(QMX_TEST_DATA) + "/picts/xpm/" + name;
        Rgba ours = decodeWith<cPictXPM>(testutil::readFile(base + ".xpm"));
        ASSERT_TRUE(ours.ok);
        Rgba ref = decodeWith<cPictPNG>(testutil::readFile(base + ".png"));
        ASSERT_TRUE(ref.ok);
        std::string first;
        EXPECT_EQ(mismatches(ours, ref, true, &first), 0) << first;
    }
}

// Colour lines: the "c" value when it is a known colour, else the first known of "g", "g4",
// "m"; none known refuses the picture. Blanks after the last value and bytes after the
// array's end are accepted.
TEST(XpmDecoder, ColourKeyFallbackAndLenientSyntax) {
    struct Case {
        const char* name;
        std::string xpm;
        bool ok;
        unsigned int a, b;  // the two pixels
    } cases[] = {
        {"numbered and multi-word names", twoPixels("a c grey100", "b c Dark Slate Grey"), true, 0xFFFFFFFF,
         0xFF2F4F4F},
        {"names of every kind", twoPixels("a c SteelBlue1", "b c peachpuff4"), true, 0xFF63B8FF, 0xFF8B7765},
        {"blank after the last value", twoPixels("a c tan ", "b c wheat\t"), true, 0xFFD2B48C, 0xFFF5DEB3},
        {"bytes after the closing brace", twoPixels("a c Blue2", "b c None", "};\n\"junk /* and \"more"), true,
         0xFF0000EE, 0},
        {"unknown c falls back to g", twoPixels("a c nosuch g gray50 m black", "b c red"), true, 0xFF7F7F7F,
         0xFFFF0000},
        {"unknown c falls back to g4", twoPixels("a c nosuch g4 white m black", "b c red"), true, 0xFFFFFFFF,
         0xFFFF0000},
        {"unknown c falls back to m", twoPixels("a m white c nosuch", "b c red"), true, 0xFFFFFFFF, 0xFFFF0000},
        {"unknown c with unknown others", twoPixels("a c nosuch m nosuch2 s sym", "b c red"), false, 0, 0},
        {"unknown c alone", twoPixels("a c nosuch", "b c red"), false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> bytes(c.xpm.begin(), c.xpm.end());
        Rgba r = decodeWith<cPictXPM>(bytes);
        ASSERT_EQ(r.ok, c.ok);
        if (!c.ok) continue;
        ASSERT_EQ(r.w * r.h, 2);
        EXPECT_EQ(argbAt(r, 0), c.a);
        EXPECT_EQ(argbAt(r, 1), c.b);
    }
}
