// The PE reader on crafted executables (tests/data/propreader, made by make_fixtures.sh),
// on hostile variants of them, and on the real executables of nsis-common cross-checked
// with python3-pefile (pe_oracle.py).
#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/memio.h"
#include "propreader/winexeprops.h"
#include "testutil.h"

namespace {

std::vector<unsigned char> fixture(const char* name) {
    return testutil::readFile(std::string(QMX_TEST_DATA) + "/propreader/" + name);
}

unsigned u32(const std::vector<unsigned char>& b, size_t o) {
    return b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | ((unsigned)b[o + 3] << 24);
}
void put16(std::vector<unsigned char>& b, size_t o, unsigned v) {
    b[o] = v & 0xFF;
    b[o + 1] = (v >> 8) & 0xFF;
}
void put32(std::vector<unsigned char>& b, size_t o, unsigned v) {
    put16(b, o, v & 0xFFFF);
    put16(b, o + 2, v >> 16);
}

// Where the ".rsrc" section header lies, and the section's file offset and RVA.
struct sLayout {
    size_t header = 0, raw = 0;
    unsigned rva = 0;
};
sLayout layoutOf(const std::vector<unsigned char>& b) {
    sLayout l;
    unsigned lfanew = u32(b, 60);
    unsigned sections = b[lfanew + 6] | (b[lfanew + 7] << 8);
    unsigned optional = b[lfanew + 20] | (b[lfanew + 21] << 8);
    for (unsigned i = 0; i < sections; i++) {
        size_t h = lfanew + 24 + optional + 40 * i;
        if (memcmp(&b[h], ".rsrc\0\0", 8) == 0) {
            l.header = h;
            l.raw = u32(b, h + 20);
            l.rva = u32(b, h + 12);
        }
    }
    return l;
}

// Finds the data entry of (type, first name, first language) in the section; its offset.
size_t dataEntry(const std::vector<unsigned char>& b, const sLayout& l, unsigned type) {
    auto dirAt = [&](size_t o, unsigned key, bool any) -> unsigned {
        unsigned n = (b[l.raw + o + 12] | (b[l.raw + o + 13] << 8)) + (b[l.raw + o + 14] | (b[l.raw + o + 15] << 8));
        for (unsigned i = 0; i < n; i++) {
            size_t e = l.raw + o + 16 + 8 * i;
            if (any || u32(b, e) == key) return u32(b, e + 4) & 0x7FFFFFFF;
        }
        return 0;
    };
    unsigned names = dirAt(0, type, false);
    unsigned langs = dirAt(names, 0, true);
    return l.raw + dirAt(langs, 0, true);
}

struct sRead {
    bool valid = false, loaded = false;
    cWinExeProps props;
};

void readExe(const std::vector<unsigned char>& bytes, sRead& r, int w = 0, int h = 0) {
    cBufWrapperIO io(bytes.data(), (long long)bytes.size());
    r.valid = cWinExeProps::validFor(&io);
    io.set_fp(0);
    r.props.setPreviewPreferrences(w, h);
    r.loaded = r.props.load(&io, 0, true);
}

std::string str(cFileObjectProps& p, int id) {
    const char* s = p.prop_string(id);
    return s ? s : "<unset>";
}

}  // namespace

TEST(WinExeProps, ReadsVersionStringsAndLinkTime) {
    sRead full, descr;
    readExe(fixture("full.exe"), full);
    readExe(fixture("descr.exe"), descr);
    ASSERT_TRUE(full.valid && full.loaded && descr.valid && descr.loaded);
    // ProductName loses its trailing blanks; ProductVersion wins over FileVersion.
    EXPECT_EQ(str(full.props, 6), "Crafted Product");
    EXPECT_EQ(str(full.props, 7), "Crafted test program");
    EXPECT_EQ(str(full.props, 8), "Example Works");
    EXPECT_EQ(str(full.props, 9), "(c) 2026 Example Works");
    EXPECT_EQ(str(full.props, 11), "2.5");
    sTimestamp* t = full.props.prop_time(13);
    ASSERT_NE(t, nullptr);  // 1600000000 = 2020-09-13 12:26:40 UTC
    EXPECT_EQ(t->year, 2020);
    EXPECT_EQ(t->month, 9);
    EXPECT_EQ(t->day, 13);
    EXPECT_EQ(t->hour, 12);
    EXPECT_EQ(t->minute, 26);
    EXPECT_EQ(t->second, 40);
    EXPECT_FALSE(full.props.has_prop(3));  // a wish of 0 x 0: no icon
    // Only a description: it becomes the product name; the later table's company wins.
    EXPECT_EQ(str(descr.props, 6), "Only a description");
    EXPECT_FALSE(descr.props.has_prop(7));
    EXPECT_EQ(str(descr.props, 8), "Second Company");
    EXPECT_EQ(str(descr.props, 11), "3.1");
    EXPECT_FALSE(descr.props.has_prop(13));  // TimeDateStamp 0
    EXPECT_EQ(descr.props.typeOf(), 0);
}

TEST(WinExeProps, ChoosesAndScalesTheFittingIcon) {
    struct {
        const char* file;
        int wishW, wishH, w, h;
    } cases[] = {
        {"full.exe", 16, 16, 16, 16},  // 32 fails the fit (16 > 32 / 2 is false)
        {"full.exe", 20, 20, 20, 20},  // 32 shrunk
        {"full.exe", 48, 48, 48, 48},
        {"full.exe", -1, -1, 48, 48},  // no limit: the largest at its own size
        {"full.exe", 100, 100, 48, 48},
        {"full.exe", 24, -1, 24, 24},
        {"big.exe", 48, 48, 48, 48},   // a 256 PNG image shrunk
        {"descr.exe", 16, 16, 0, 0},   // no icon resource
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.wishW));
        sRead r;
        readExe(fixture(c.file), r, c.wishW, c.wishH);
        ASSERT_TRUE(r.loaded);
        cPictDummy* icon = r.props.prop_pict(3);
        if (c.w == 0) {
            EXPECT_EQ(icon, nullptr);
            continue;
        }
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->width(), c.w);
        EXPECT_EQ(icon->height(), c.h);
        // The source pictures: a red (top) to blue (bottom) gradient with a yellow disc in
        // the middle (full.exe); a green-white gradient with a red square (big.exe).
        unsigned* px = icon->raw8Bpp();  // rows bottom-up
        ASSERT_NE(px, nullptr);
        unsigned centre = px[(c.h / 2) * c.w + c.w / 2];
        unsigned r8 = (centre >> 16) & 0xFF, g8 = (centre >> 8) & 0xFF, b8 = centre & 0xFF;
        if (strcmp(c.file, "full.exe") == 0) {
            EXPECT_TRUE(r8 > 200 && g8 > 200 && b8 < 80) << std::hex << centre;
            unsigned top = px[(c.h - 1) * c.w + c.w / 2 - 1], bottom = px[c.w / 2 - 1];
            EXPECT_GT((top >> 16) & 0xFF, top & 0xFF) << "top row should be red, got " << std::hex << top;
            EXPECT_GT(bottom & 0xFF, (bottom >> 16) & 0xFF) << "bottom row should be blue, got " << std::hex << bottom;
        } else {
            EXPECT_TRUE(r8 > 200 && g8 < 80 && b8 < 80) << std::hex << centre;
        }
    }
}

// Hostile variants of full.exe: each either is refused by the header checks, fails the
// load, or loads with the damaged part left out; none may crash or allocate wildly.
TEST(WinExeProps, RefusesOrSurvivesDamagedExecutables) {
    const std::vector<unsigned char> good = fixture("full.exe");
    const sLayout l = layoutOf(good);
    ASSERT_NE(l.header, 0u);
    const size_t version = dataEntry(good, l, 16), icon = dataEntry(good, l, 3);
    const size_t versionFile = u32(good, version) - l.rva + l.raw;
    struct {
        const char* what;
        std::function<void(std::vector<unsigned char>&)> damage;
        bool valid, loaded, strings, hasIcon;
    } cases[] = {
        {"intact", [](std::vector<unsigned char>&) {}, true, true, true, true},
        {"e_lfanew below 64", [](std::vector<unsigned char>& b) { put32(b, 60, 32); }, false, false, false, false},
        {"no .rsrc section", [&](std::vector<unsigned char>& b) { b[l.header + 1] = 'x'; }, false, false, false, false},
        {"SizeOfRawData 0", [&](std::vector<unsigned char>& b) { put32(b, l.header + 16, 0); }, false, false, false,
         false},
        // The section must lie inside the file: past its end nothing is allocated for it.
        {"section past the end of the file",
         [&](std::vector<unsigned char>& b) { put32(b, l.header + 16, 0x7FFFFFF0); }, false, false, false, false},
        {"file cut inside the section", [&](std::vector<unsigned char>& b) { b.resize(l.raw + 64); }, false, false,
         false, false},
        // Two types sharing one name directory: refused, not walked twice.
        {"directory revisited",
         [&](std::vector<unsigned char>& b) { put32(b, l.raw + 16 + 12, u32(b, l.raw + 16 + 4)); }, true, false,
         false, false},
        {"directory pointing back at the root",
         [&](std::vector<unsigned char>& b) { put32(b, l.raw + 16 + 4, 0x80000000u); }, true, false, false, false},
        {"entry count past the section",
         [&](std::vector<unsigned char>& b) { put16(b, l.raw + 14, 0xFFFF); }, true, false, false, false},
        {"data entry outside the section",
         [&](std::vector<unsigned char>& b) { put32(b, icon, 0xFFFFFF00u); }, true, true, true, true},
        // A version root shorter than its own value: a negative child length.
        {"version root shorter than its value",
         [&](std::vector<unsigned char>& b) { put16(b, versionFile, 60); }, true, true, false, true},
        {"version signature wrong", [&](std::vector<unsigned char>& b) { b[versionFile + 40] ^= 1; }, true, true,
         false, true},
        // Icons wider than 256 pixels are refused before decoding (the cap); the 32 pixel
        // image is used instead of the damaged 48 pixel one.
        {"icon claiming 257 pixels",
         [&](std::vector<unsigned char>& b) {
             size_t at = u32(b, icon) - l.rva + l.raw;
             put32(b, at + 4, 257);
             put32(b, at + 8, 514);
         },
         true, true, true, true},
        {"icon claiming 60000 pixels",
         [&](std::vector<unsigned char>& b) {
             size_t at = u32(b, icon) - l.rva + l.raw;
             put32(b, at + 4, 60000);
             put32(b, at + 8, 120000);
         },
         true, true, true, true},
        {"icon size past the cap", [&](std::vector<unsigned char>& b) { put32(b, icon + 4, 0x7FFFFFFF); }, true, true,
         true, true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> b = good;
        c.damage(b);
        sRead r;
        readExe(b, r, -1, -1);
        EXPECT_EQ(r.valid, c.valid);
        EXPECT_EQ(r.loaded, c.loaded);
        EXPECT_EQ(r.props.has_prop(6), c.strings);
        EXPECT_EQ(r.props.has_prop(3), c.hasIcon);
        if (strncmp(c.what, "icon claiming", 13) == 0 && r.props.prop_pict(3)) {
            EXPECT_EQ(r.props.prop_pict(3)->width(), 32);
        }
    }
}

// Every byte of the resource section set to 0, 0xFF or 0x80: a refused load leaves no property
// at all, and an icon read is a whole picture within the icon caps.
TEST(WinExeProps, SurvivesEveryByteFlipOfTheResourceSection) {
    const std::vector<unsigned char> good = fixture("descr.exe");
    const sLayout l = layoutOf(good);
    int refused = 0;
    for (size_t i = l.raw; i < good.size(); i++) {
        for (unsigned char v : {0x00, 0xFF, 0x80}) {
            std::vector<unsigned char> b = good;
            b[i] = v;
            sRead r;
            readExe(b, r, 16, 16);
            if (!r.loaded) {
                refused++;
                for (int id : {3, 6, 7, 8, 9, 11, 13}) ASSERT_FALSE(r.props.has_prop(id)) << i << " " << id;
            } else if (auto* icon = r.props.prop_pict(3)) {
                ASSERT_TRUE(icon->width() >= 1 && icon->width() <= 256 && icon->height() >= 1 &&
                            icon->height() <= 256 && icon->raw8Bpp())
                    << i;
            }
        }
    }
    EXPECT_GT(refused, 0);
}

// Version nodes fed straight to the walk: header (wLength, wValueLength, wType), key, value.
namespace {
std::vector<unsigned char> node(const std::string& key, const std::vector<unsigned char>& payload, unsigned valueLen,
                                unsigned type, bool padEnd = true) {
    std::vector<unsigned char> n(6);
    for (char ch : key) n.push_back((unsigned char)ch), n.push_back(0);
    n.push_back(0), n.push_back(0);
    while (n.size() % 4) n.push_back(0);
    n.insert(n.end(), payload.begin(), payload.end());
    put16(n, 0, (unsigned)n.size());
    put16(n, 2, valueLen);
    put16(n, 4, type);
    if (padEnd)
        while (n.size() % 4) n.push_back(0);
    return n;
}
std::vector<unsigned char> text(const std::string& s) {
    std::vector<unsigned char> v;
    for (char ch : s) v.push_back((unsigned char)ch), v.push_back(0);
    v.push_back(0), v.push_back(0);
    return v;
}
bool walk(const std::vector<unsigned char>& b, cWinExeProps::tStrMap& map) {
    cBufWrapperIO io(b.data(), (long long)b.size());
    return cWinExeProps::loadStrProps(&io, map);
}
std::string lookup(cWinExeProps::tStrMap& map, const char* key) {
    _guardchar<char>* s = map.find(cStringKey(key));
    return s ? (s->ptr ? s->ptr : "") : "<unset>";
}
}  // namespace

TEST(WinExeProps, VersionNodeWalk) {
    // Nested blocks a few levels deep parse; 20 levels are refused (bounded recursion).
    auto nest = [](int levels) {
        std::vector<unsigned char> n = node("K", text("v"), 2, 1);
        for (int i = 0; i < levels; i++) n = node("B", n, 0, 1);
        return n;
    };
    cWinExeProps::tStrMap map;
    EXPECT_TRUE(walk(nest(3), map));
    EXPECT_EQ(lookup(map, "K"), "v");
    map.destroy();
    EXPECT_FALSE(walk(nest(20), map));
    map.destroy();

    // The value 1.0.0.1 with a NUL and padding, and one with trailing blanks.
    std::vector<unsigned char> list = node("A", text("1.0.0.1"), 8, 1);
    auto blanks = node("B", text("x  "), 4, 1);
    list.insert(list.end(), blanks.begin(), blanks.end());
    // The last node of the list without its padding is still read.
    auto last = node("Last", text("ab"), 3, 1, false);
    list.insert(list.end(), last.begin(), last.end());
    EXPECT_TRUE(walk(list, map));
    EXPECT_EQ(lookup(map, "A"), "1.0.0.1");
    EXPECT_EQ(lookup(map, "B"), "x");
    EXPECT_EQ(lookup(map, "Last"), "ab");
    map.destroy();

    struct {
        const char* what;
        std::vector<unsigned char> bytes;
    } bad[] = {
        {"wLength 5 (a negative body)", {5, 0, 0, 0, 0, 0, 0, 0}},
        {"wLength 2", {2, 0, 0, 0}},
        {"wLength past the end", {40, 0, 0, 0, 1, 0, 'K', 0, 0, 0, 0, 0}},
        {"key fills the node", {10, 0, 0, 0, 1, 0, 'K', 0, 'L', 0, 0, 0}},
    };
    for (auto& c : bad) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(walk(c.bytes, map));
        map.destroy();
    }
}

// Real executables and libraries (nsis-common) against python3-pefile.
TEST(WinExeProps, AgreesWithPefileOnRealExecutables) {
    std::string oracle = std::string(QMX_TESTS_DIR) + "/propreader/pe_oracle.py";
    std::vector<std::string> files = {std::string(QMX_TEST_DATA) + "/propreader/full.exe",
                                      std::string(QMX_TEST_DATA) + "/propreader/descr.exe",
                                      std::string(QMX_TEST_DATA) + "/propreader/big.exe"};
    for (const char* dir : {"/usr/share/nsis/Stubs", "/usr/share/nsis/Contrib/UIs", "/usr/share/nsis/Bin",
                            "/usr/share/nsis/Plugins/x86-unicode", "/usr/share/nsis/Plugins/amd64-unicode"}) {
        if (DIR* d = opendir(dir)) {
            while (dirent* e = readdir(d))
                if (e->d_name[0] != '.') files.push_back(std::string(dir) + "/" + e->d_name);
            closedir(d);
        }
    }
    if (testutil::run({"/usr/bin/python3", "-c", "import pefile"}) != 0) GTEST_SKIP() << "python3-pefile not installed";
    if (files.size() == 3) std::cout << "nsis-common not installed: only the crafted files are compared\n";
    int compared = 0;
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        std::string out;
        int rc = testutil::run({"/usr/bin/python3", oracle, f}, &out);
        std::vector<unsigned char> bytes = testutil::readFile(f);
        sRead r;
        readExe(bytes, r, -1, -1);
        if (rc == 3) {  // not a PE file for pefile either
            EXPECT_FALSE(r.loaded);
            continue;
        }
        ASSERT_EQ(rc, 0);
        std::map<std::string, std::string> strs;
        std::vector<std::pair<int, int>> icons;
        unsigned long long stamp = 0;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("time ", 0) == 0) stamp = std::stoull(line.substr(5));
            if (line.rfind("str ", 0) == 0) {
                size_t eq = line.find('=');
                strs[line.substr(4, eq - 4)] = line.substr(eq + 1);
            }
            if (line.rfind("icon ", 0) == 0) {
                int w, h;
                sscanf(line.c_str() + 5, "%d %d", &w, &h);
                icons.push_back({w, h});
            }
        }
        if (!r.valid) {  // files without a resource section
            EXPECT_TRUE(strs.empty() && icons.empty());
            continue;
        }
        ASSERT_TRUE(r.loaded);
        compared++;
        EXPECT_EQ(r.props.has_prop(13), stamp != 0);
        auto expect = [&](int id, const char* a, const char* b) {
            std::string want = strs.count(a) ? strs[a] : (b && strs.count(b) ? strs[b] : "<unset>");
            EXPECT_EQ(str(r.props, id), want) << "property " << id;
        };
        expect(6, "ProductName", "FileDescription");
        if (strs.count("ProductName")) expect(7, "FileDescription", nullptr);
        expect(8, "CompanyName", nullptr);
        expect(9, "LegalCopyright", nullptr);
        expect(11, "ProductVersion", "FileVersion");
        // Without a wish the largest icon (first of equal area) at its own size.
        int bw = 0, bh = 0;
        for (auto& i : icons)
            if (i.first * i.second > bw * bh) bw = i.first, bh = i.second;
        cPictDummy* p = r.props.prop_pict(3);
        if (bw == 0) {
            EXPECT_EQ(p, nullptr);
        } else {
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->width(), bw);
            EXPECT_EQ(p->height(), bh);
        }
    }
    EXPECT_GE(compared, 3);
    std::cout << "compared " << compared << " executables with pefile\n";
}

// The icon's pixels against ImageMagick decoding the same image resource as an .ico file
// (the resource bytes extracted by pefile): crafted 32-bit images and a real 4-bit one.
TEST(WinExeProps, IconPixelsAgreeWithImageMagick) {
    if (!testutil::haveTool("convert")) GTEST_SKIP() << "imagemagick not installed";
    if (testutil::run({"/usr/bin/python3", "-c", "import pefile"}) != 0) GTEST_SKIP() << "python3-pefile not installed";
    std::vector<std::string> files = {std::string(QMX_TEST_DATA) + "/propreader/full.exe",
                                      std::string(QMX_TEST_DATA) + "/propreader/big.exe"};
    if (FILE* real = fopen("/usr/share/nsis/Stubs/zlib-x86-ansi", "rb")) {
        fclose(real);
        files.push_back("/usr/share/nsis/Stubs/zlib-x86-ansi");
    }
    testutil::TempDir tmp;
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        std::string ico = tmp.file("icon.ico"), rgba = tmp.file("icon.rgba");
        ASSERT_EQ(testutil::run({"/usr/bin/python3", std::string(QMX_TESTS_DIR) + "/propreader/pe_oracle.py", f, ico}), 0);
        ASSERT_EQ(testutil::run({"convert", ico, "-depth", "8", "rgba:" + rgba}), 0);
        std::vector<unsigned char> want = testutil::readFile(rgba);
        sRead r;
        readExe(testutil::readFile(f), r, -1, -1);
        cPictDummy* p = r.props.prop_pict(3);
        ASSERT_NE(p, nullptr);
        const long long w = p->width(), h = p->height();
        ASSERT_EQ((long long)want.size(), w * h * 4);
        int bad = 0;
        for (long long y = 0; y < h; y++)
            for (long long x = 0; x < w; x++) {
                unsigned px = p->raw8Bpp()[(h - 1 - y) * w + x];  // ours bottom-up
                const unsigned char* q = &want[(y * w + x) * 4];
                int a = px >> 24;
                if (abs(a - q[3]) > 1) {
                    bad++;
                    continue;
                }
                if (q[3] == 0) continue;  // colour under full transparency is free
                if (abs((int)((px >> 16) & 0xFF) - q[0]) > 1 || abs((int)((px >> 8) & 0xFF) - q[1]) > 1 ||
                    abs((int)(px & 0xFF) - q[2]) > 1)
                    bad++;
            }
        EXPECT_EQ(bad, 0) << "of " << w * h << " pixels";
    }
}
