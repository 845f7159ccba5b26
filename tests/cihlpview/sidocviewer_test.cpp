// The document viewer in a headless window: what it shows against a whole-document
// rendering, keys, links and the pointer, opening links, and a huge document.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <string>
#include <vector>

#include "base/memio.h"
#include "base/process.h"
#include "cihlpview/sidocviewer.h"
#include "cihlpdoc/hdoctest.h"
#include "ui/controls/button.h"
#include "ui/controls_testutil.h"
#include "ui/elementhost.h"

using namespace hdoctest;

namespace {

const unsigned int kWhite = 0xFFFFFF;

// A viewer that records the links it would open instead of opening them.
class cRecViewer : public cSiDocViewer {
public:
    std::vector<std::string> opened;
    bool onActiveZone(char* target) override {
        opened.push_back(target);
        return true;
    }
};

std::deque<std::string> gRefs;
cSiDocBox* line(const std::string& text, bool link = false) {
    cSiDocText* t = link ? new cSiDocLink() : new cSiDocText();
    t->setText(text.c_str());
    t->setBreak(true);
    if (link) {
        gRefs.push_back(text);
        static_cast<cSiDocLink*>(t)->refRef(const_cast<char*>(gRefs.back().c_str()));
    }
    return t;
}

// n numbered lines of words, every seventh a link.
void fillLines(cSiDocContainer& doc, int n) {
    for (int i = 0; i < n; i++) {
        bool link = i % 7 == 3;
        std::string words[] = {"line", std::to_string(i), "of", "the", "document"};
        for (int k = 0; k < 5; k++) {
            cSiDocBox* b = line(words[k], link);
            b->setBreak(k == 0);
            doc.addChild(b);
        }
    }
}

struct cViewerFixture : ctltest::cFixture {
    cRecViewer* viewer = nullptr;
    void openViewer(int w, int h, int vw, int vh) {
        openRecorder(w, h);
        viewer = new cRecViewer;
        rec->attach(viewer, 10, 10, vw, vh);
        viewer->focus();
        pump();
    }
    // The viewer's pixels (bar excluded) against rows of a reference canvas.
    int differences(cCanvas& ref, int top) {
        pump();
        int w = viewer->width() - viewer->getVScrollRes(), diff = 0;
        for (int y = 0; y < viewer->height(); y++)
            for (int x = 0; x < w; x++) {
                unsigned int want = top + y < ref.height() ? ref.pixel(x, top + y) & 0xFFFFFF : 0xFFFFFF;
                if ((window->canvas()->pixel(10 + x, 10 + y) & 0xFFFFFF) != want) diff++;
            }
        return diff;
    }
};

// The whole document drawn at once, as the viewer lays it out.
bool renderWhole(cViewerFixture& f, cSiDocBox* doc, cCanvas& out) {
    int w = f.viewer->width() - f.viewer->getVScrollRes();
    if (!out.create(w, f.viewer->documentHeight(), 0xFFFFFFFFu)) return false;
    sSiDocDrawProps p;
    p.font = f.viewer->stdFont();
    p.rightLimit = w;
    sSize d;
    doc->draw(&out, p, d);
    return d.cy == f.viewer->documentHeight();
}

TEST(SiDocViewer, KeysScrollAndEveryBandMatchesTheWholeDocument) {
    if (!ctltest::haveFont()) GTEST_SKIP() << "no font";
    cSiDocContainer doc;
    fillLines(doc, 500);  // about 10000 rows: several bands
    cViewerFixture f;
    f.openViewer(260, 200, 220, 160);
    EXPECT_TRUE(f.viewer->refSiDoc(&doc, kWhite));
    f.pump();
    f.pump();
    int H = f.viewer->documentHeight();
    ASSERT_GT(H, 7000);
    ASSERT_TRUE(f.viewer->vScroll()->visible_child());
    cCanvas whole;
    ASSERT_TRUE(renderWhole(f, &doc, whole));
    cVScroll* bar = f.viewer->vScroll();
    unsigned long long page = 160 - f.viewer->getHScrollRes(), max = H - page;
    EXPECT_EQ(bar->maxval(), max);
    struct Step {
        int key;
        unsigned long long pos;
    } steps[] = {{340, 15}, {339, 30},       {338, 15},       {342, 15 + page}, {342, 15 + 2 * page},
                 {343, max}, {341, max - page}, {337, max - page - 15}, {336, 0}, {336, 0}};
    for (auto& s : steps) {
        f.key(s.key);
        f.pump();
        EXPECT_EQ(bar->pos(), s.pos) << s.key;
        EXPECT_EQ((unsigned long long)f.viewer->shiftY(), s.pos) << s.key;
        EXPECT_EQ(f.differences(whole, (int)s.pos), 0) << s.key;
        // Only a band is rendered, never the whole document.
        EXPECT_LE(f.viewer->renderedHeight(), 4096);
    }
    // Deep inside, and back: every band shows exactly the rows of the whole rendering.
    for (unsigned long long pos : {5000ULL, 5003ULL, 9000ULL, 123ULL, max}) {
        bar->setPos(pos, true);
        f.pump();
        EXPECT_EQ(f.differences(whole, (int)pos), 0) << pos;
    }
    // Taller only: the same layout. Narrower: laid out again to the new width, where
    // lines wrap into more rows.
    f.viewer->move(10, 10, 220, 180);
    f.pump();
    EXPECT_EQ(f.viewer->documentHeight(), H);
    f.viewer->move(10, 10, 130, 180);
    f.pump();
    f.pump();
    EXPECT_GT(f.viewer->documentHeight(), H);
    ASSERT_TRUE(renderWhole(f, &doc, whole));
    bar->setPos(700, true);
    f.pump();
    EXPECT_EQ(f.differences(whole, 700), 0);
}

TEST(SiDocViewer, LinksOpenOnlyWhenPressedAndReleasedOnThemWithTheHandOverThem) {
    if (!ctltest::haveFont()) GTEST_SKIP() << "no font";
    testutil::TempDir dir;
    auto c = compileSource(dir,
                           "<text>Read <link ref=\"http://example.org/a\">the first link</link> or\n"
                           "<link ref=\"mailto:x@example.org\">a second one that is long enough to wrap over two "
                           "lines</link> and stop.</text>");
    ASSERT_TRUE(c.ok) << c.err.message.ptr;
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(c.bytes.data(), (long long)c.bytes.size()));
    cViewerFixture f;
    f.openViewer(260, 200, 200, 150);
    f.viewer->refSiDoc(loader.forLang(0), kWhite);
    f.pump();
    // Find the zones through the hit test: scan the element for link points.
    std::vector<std::pair<int, int> > first, second;
    std::vector<int> secondRows;
    for (int y = 0; y < 150; y++)
        for (int x = 0; x < 200; x++) {
            char* r = f.viewer->getRef(x, y);
            if (!r) continue;
            if (std::string(r) == "http://example.org/a") first.push_back({x, y});
            if (std::string(r) == "mailto:x@example.org") {
                second.push_back({x, y});
                if (secondRows.empty() || secondRows.back() != y) secondRows.push_back(y);
            }
        }
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    // The second link spans lines: its points lie on rows of more than one line.
    EXPECT_GT(secondRows.back() - secondRows.front(), 20);
    int lx = first[first.size() / 2].first, ly = first[first.size() / 2].second;
    int textY = 140;  // below the text, no link
    ASSERT_EQ(f.viewer->getRef(lx, textY), nullptr);

    f.move(10 + lx, 10 + ly);
    EXPECT_EQ(f.maker.pointerShape(f.window), 3);
    f.move(10 + lx, 10 + textY);
    EXPECT_EQ(f.maker.pointerShape(f.window), 0);

    f.click(10 + lx, 10 + ly);
    ASSERT_EQ(f.viewer->opened.size(), 1u);
    EXPECT_EQ(f.viewer->opened[0], "http://example.org/a");
    // Pressed on the link, released off it; pressed off, released on it: nothing opens.
    f.press(10 + lx, 10 + ly);
    f.move(10 + lx, 10 + textY);
    f.release(10 + lx, 10 + textY);
    f.press(10 + lx, 10 + textY);
    f.move(10 + lx, 10 + ly);
    f.release(10 + lx, 10 + ly);
    EXPECT_EQ(f.viewer->opened.size(), 1u);
    // Either part of the wrapped link opens it.
    f.click(10 + second.front().first, 10 + second.front().second);
    f.click(10 + second.back().first, 10 + second.back().second);
    ASSERT_EQ(f.viewer->opened.size(), 3u);
    EXPECT_EQ(f.viewer->opened[1], "mailto:x@example.org");
    EXPECT_EQ(f.viewer->opened[2], "mailto:x@example.org");

    // A new document drops the old zones; the same one again changes nothing.
    cSiDocContainer plain;
    plain.addChild(line("plain"));
    EXPECT_TRUE(f.viewer->refSiDoc(&plain, kWhite));
    EXPECT_FALSE(f.viewer->refSiDoc(&plain, 0x00FFFF));
    f.pump();
    EXPECT_EQ(f.viewer->getRef(lx, ly), nullptr);
    EXPECT_TRUE(f.viewer->refSiDoc(nullptr, 0x00FFFF));
    f.pump();
    EXPECT_EQ(f.pixel(20, 20), elemtest::rgbOf(0x00FFFF));
    EXPECT_EQ(f.viewer->getRef(lx, ly), nullptr);
    // A document of size 0 x 0 shows only the background.
    cSiDocContainer empty;
    EXPECT_TRUE(f.viewer->refSiDoc(&empty, 0x00FF00));
    f.pump();
    EXPECT_EQ(f.pixel(20, 20), elemtest::rgbOf(0x00FF00));
    EXPECT_EQ(f.viewer->renderedHeight(), 0);
}

// Neither the viewer nor a link takes a Tab stop: Tab and Shift+Tab stay with the button
// beside it, and Return, Space or Down there open and scroll nothing. A click gives the
// viewer the keys, and Down then scrolls it.
TEST(SiDocViewer, TabPassesOverTheViewerAndAClickGivesItTheKeys) {
    testutil::TempDir dir;
    std::string source = "<text><link ref=\"http://example.org/a\">first</link> words\n"
                         "<link ref=\"mailto:x@example.org\">second</link></text>";
    for (int i = 0; i < 40; i++) source += "\n<text>line " + std::to_string(i) + "</text>";
    auto c = compileSource(dir, source.c_str());
    ASSERT_TRUE(c.ok) << c.err.message.ptr;
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(c.bytes.data(), (long long)c.bytes.size()));
    cViewerFixture f;
    f.openViewer(260, 200, 200, 150);
    cChildElement* after = f.add<cButtonChild>(10, 170, 60, 20);
    f.viewer->refSiDoc(loader.forLang(0), kWhite);
    f.pump();
    f.pump();
    ASSERT_TRUE(f.viewer->vScroll()->visible_child());
    for (unsigned int mods : {0u, (unsigned)kModShift, 0u, (unsigned)kModShift}) {
        f.key(kKeyTab, mods);
        EXPECT_TRUE(after->focused()) << "Tab stopped on the viewer or a link";
        f.key(kKeyEnter);
        f.key(kKeySpace);
        f.key(kKeyDown);
    }
    EXPECT_TRUE(f.viewer->opened.empty());
    EXPECT_EQ(f.viewer->shiftY(), 0);
    f.click(10 + 150, 10 + 100);
    EXPECT_TRUE(f.viewer->focused());
    f.key(kKeyDown);
    EXPECT_EQ(f.viewer->shiftY(), 15);
}

TEST(SiDocViewer, HugeDocumentStaysWithinABandOfMemory) {
    // 40000 boxes of 65534 rows (2.6e9 rows, past 32 bits) and 200000 lines of text.
    cPicture pict;
    ASSERT_TRUE(pict.create(0xFF336699u, 4, 4));
    cSiDocContainer tall, lines;
    for (int i = 0; i < 40000; i++) {
        auto* img = new cSiDocImage();
        img->refImage(&pict);
        img->setWidth(50);
        img->setHeight(65534);
        img->setBreak(true);
        tall.addChild(img);
    }
    for (int i = 0; i < 200000; i++) lines.addChild(line("x"));
    for (cSiDocContainer* doc : {&tall, &lines}) {
        cViewerFixture f;
        f.openViewer(300, 240, 260, 200);
        f.viewer->refSiDoc(doc, kWhite);
        f.pump();
        f.pump();
        EXPECT_GT(f.viewer->documentHeight(), 1000000);
        EXPECT_LE(f.viewer->documentHeight(), kSiDocMaxExtent);
        EXPECT_LE(f.viewer->renderedHeight(), 4096);
        f.key(343);  // End
        f.pump();
        EXPECT_EQ((long long)f.viewer->shiftY() + 200 - f.viewer->getHScrollRes(), f.viewer->documentHeight());
        EXPECT_LE(f.viewer->renderedHeight(), 4096);
        EXPECT_LE(f.viewer->renderedTop(), f.viewer->shiftY());
    }
}

TEST(SiDocViewer, SnapshotOfTextPicturesLinksBackgroundsAndMargins) {
    if (!ctltest::haveFont()) GTEST_SKIP() << "no font";
    testutil::TempDir dir;
    auto png = makePng(40, 24, 3);
    testutil::writeFile(dir.file("pic.png"), png);
    auto c = compileSource(
        dir,
        "<text f=\"std,16,6,b\" a=c mb=6 bg=0xF0E0D0>Centred title</text>\n"
        "<text ml=12 mr=12 mt=4 a=j>Justified text flows over several lines with <b>bold</b> and <i>italic</i> "
        "words, then <link ref=\"http://example.org/\">a link</link> and a picture <img src=./pic.png br=0 ml=4 "
        "mr=4 bg=0x00FFFF> inside.</text>\n"
        "<text bg=0xFFE0E0 fg=0x800000 ml=20 mt=8 mb=8 a=r>Right aligned on a tinted box</text>\n"
        "<img src=./pic.png w=80 h=20 bg=0x0000FF ml=30><link ref=\"http://example.org/p\"><img src=./pic.png "
        "br=0 ml=10></link>");
    ASSERT_TRUE(c.ok) << c.err.message.ptr << " " << c.err.line;
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(c.bytes.data(), (long long)c.bytes.size()));
    cViewerFixture f;
    f.openViewer(300, 260, 280, 240);
    f.viewer->refSiDoc(loader.forLang(0), kWhite);
    f.pump();
    f.pump();
    ctltest::expectSnapshotFile(f.maker, f.window, "cihlpdoc/viewer_mixed", {10, 10, 280, 240});
}

// The example package's documents, each language, rendered for a look (written into the
// build folder) and checked to show something with their links registered.
TEST(SiDocViewer, ExampleDocumentsRender) {
    if (!ctltest::haveFont()) GTEST_SKIP() << "no font";
    std::string docs = std::string(QMX_TESTS_DIR) + "/../examples/hello/docs/";
    for (const char* idx : {"welcome.idx", "readme.idx", "eula.idx"}) {
        cHDLParser parser;
        cHDLParser::sErrInfo err;
        cMemIOTarget target;
        ASSERT_TRUE(parser.parse((docs + idx).c_str(), &target, err)) << idx << ": " << err.message.ptr;
        _typebuf<unsigned char> bytes;
        ASSERT_TRUE(target.toBuffer(bytes));
        cSiDocLoader loader;
        ASSERT_TRUE(loader.load(bytes.ptr, bytes.count));
        for (int lang : {0, 2, 3}) {
            cViewerFixture f;
            f.openViewer(420, 300, 400, 280);
            ASSERT_NE(loader.forLang(lang), nullptr);
            f.viewer->refSiDoc(loader.forLang(lang), kWhite);
            f.pump();
            f.pump();
            int ink = 0;
            for (int y = 10; y < 290; y++)
                for (int x = 10; x < 410; x++) ink += f.pixel(x, y) != 0xFFFFFF;
            EXPECT_GT(ink, 500) << idx << " " << lang;
            std::string shot = std::string(QMX_BINARY_DIR) + "/example_" + idx + "_" + std::to_string(lang) + ".png";
            f.maker.snapshotPNG(f.window, shot.c_str());
        }
    }
}

// ---- opening links ----

class OpenLink : public ::testing::Test {
protected:
    testutil::TempDir dir;
    std::string bin, record;
    void SetUp() override {
        bin = dir.file("bin");
        ASSERT_EQ(0, mkdir(bin.c_str(), 0700));
        record = dir.file("record");
        // Records its arguments, one a line; a stand-in for the desktop opener.
        const std::string tmp = testutil::shellQuoted(record + ".tmp");
        std::string script = "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > " + tmp +
                             "\nmv " + tmp + " " + testutil::shellQuoted(record) + "\n";
        ASSERT_TRUE(testutil::writeFile(bin + "/xdg-open", script.data(), script.size()));
        ASSERT_EQ(0, chmod((bin + "/xdg-open").c_str(), 0700));
    }
    std::string recorded() {
        std::vector<unsigned char> raw = testutil::readFile(record);
        unlink(record.c_str());
        return std::string(raw.begin(), raw.end());
    }
};

TEST_F(OpenLink, OnlyWebAddressesAndExistingPathsReachTheOpenerAsOneArgument) {
    testutil::EnvScope path("PATH", testutil::pathBefore(bin));
    ASSERT_TRUE(testutil::writeFile(dir.file("manual; touch pwned1.txt"), "x", 1));
    ASSERT_TRUE(testutil::writeFile(dir.file("-n"), "x", 1));
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    struct Case {
        std::string target;
        bool opens;
        std::string arg;  // what the opener gets; "" = the target itself
    } cases[] = {
        {"http://example.org/a?b=1&c=$(touch pwned2)", true, ""},
        {"HTTPS://example.org/x y;touch pwned3", true, ""},
        {"mailto:someone@example.org", true, ""},
        {"MAILTO:someone@example.org", true, ""},
        {dir.file("manual; touch pwned1.txt"), true, ""},
        {"-n", true, "./-n"},
        {"touch pwned4", false, ""},
        {"sh -c 'touch pwned5'", false, ""},
        {"/no/such/file", false, ""},
        {"file:///etc/passwd", false, ""},
        {"javascript:alert(1)", false, ""},
        {"ftp://example.org/", false, ""},
        {"http://", false, ""},
        {"http://example.org/\ntouch pwned6", false, ""},
        {"", false, ""},
    };
    // Link prefixes are ASCII words, alike in every locale.
    testutil::forEachCtype([&] {
        for (auto& k : cases) {
            SCOPED_TRACE(k.target);
            EXPECT_EQ(siDocOpenLink(k.target.c_str()), k.opens);
            // The opener runs detached: wait for its record.
            std::string got;
            for (int i = 0; k.opens && i < 3000 && got.empty(); i++) {
                usleep(10000);
                got = recorded();
            }
            if (k.opens) {
                EXPECT_EQ(got, "1\n" + (k.arg.empty() ? k.target : k.arg) + "\n");
            }
        }
    });
    usleep(100000);
    EXPECT_EQ(recorded(), "");
    for (int i = 1; i <= 6; i++) EXPECT_NE(access(("pwned" + std::to_string(i)).c_str(), F_OK), 0) << i;
    EXPECT_NE(access("pwned1.txt", F_OK), 0);
    ASSERT_EQ(0, chdir(cwd));
    EXPECT_FALSE(siDocOpenLink(nullptr));
}

}  // namespace
