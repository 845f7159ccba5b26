// The edit field against a small reference model under random keys, characters and
// pastes (caret, selection, maximum length, password, surrogate pairs), plus the mouse
// selection, number display, actions, banner and snapshots.
#include <random>
#include <string>

#include "base/strings.h"
#include "controls_testutil.h"
#include "ui/controls/edit.h"

using namespace ctltest;

namespace {

// The field as a user understands it: the selection spans the anchor and the caret.
struct sModel {
    std::u16string t;
    long long caret = 0, anchor = -1;
    long long maxLen = 12;
    bool password = false;
    std::string clipboard;
    int enters = 0, escapes = 0;

    static bool high(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
    static bool space(char16_t u) { return u == 9 || u == 10 || u == 13 || u == 32; }
    bool sel() const { return anchor >= 0 && anchor != caret; }
    long long s0() const { return std::min(anchor, caret); }
    long long s1() const { return std::max(anchor, caret); }
    long long prev(long long p) const { return p >= 2 && high(t[p - 2]) ? p - 2 : std::max(0LL, p - 1); }
    long long next(long long p) const {
        long long n = (long long)t.size();
        return p < n && high(t[p]) ? p + 2 : std::min(n, p + 1);
    }
    void move(long long to, bool shift) {
        if (shift) {
            if (anchor < 0 || anchor == caret) anchor = caret;
        } else {
            anchor = -1;
        }
        caret = to;
        if (anchor == caret) anchor = -1;
    }
    bool delSel() {
        if (!sel()) return false;
        long long a = s0(), b = s1();
        t.erase((size_t)a, (size_t)(b - a));
        caret = a;
        anchor = -1;
        return true;
    }
    void copy() {
        if (!sel() || password) return;
        std::u16string part = t.substr((size_t)s0(), (size_t)(s1() - s0()));
        _guardchar<char> u8;
        _w2pc((const unsigned short*)part.c_str(), (long long)part.size(), u8);
        clipboard = u8.ptr ? u8.ptr : "";
    }
    void insert(const std::u16string& s) {
        delSel();
        long long room = maxLen - (long long)t.size(), n = (long long)s.size();
        if (n > room) {
            n = room;
            if (n > 0 && high(s[n - 1])) n--;
        }
        t.insert((size_t)caret, s.substr(0, (size_t)n));
        caret += n;
    }
    void typeChar(const std::u16string& s) {
        delSel();
        if ((long long)(t.size() + s.size()) > maxLen) return;
        t.insert((size_t)caret, s);
        caret += (long long)s.size();
    }
    long long wordLeft(long long p) const {
        if (p <= 0) return 0;
        bool sp = space(t[p - 1]);
        while (p > 0 && space(t[p - 1]) == sp) p--;
        return p;
    }
    long long wordRight(long long p) const {
        long long n = (long long)t.size();
        if (p >= n) return n;
        bool sp = space(t[p]);
        while (p < n && space(t[p]) == sp) p++;
        return p;
    }
};

std::u16string u16(const char* s) {
    _guardchar<unsigned short> w;
    _pc2w(s, -1, w);
    return w.ptr ? std::u16string((const char16_t*)w.ptr) : std::u16string();
}

// A field of width w at (10, 8).
struct cEditFixture : cFixture {
    cEditChild* edit = nullptr;
    explicit cEditFixture(int w = 200) {
        openRecorder(w + 20, 40);
        edit = new cEditChild;
        rec->attach(edit, 10, 8, w, 22);
        pump();
    }
    std::u16string value() const { return std::u16string((const char16_t*)edit->units()); }
    // The x (window) of a boundary of a short unscrolled text.
    int xOf(long long p) {
        cCanvas c(1, 1);
        c.setTextMode(edit->stdFont());
        sSize s = {0, 0};
        if (p > 0) c.textSize(edit->units(), p, s);
        return 10 + s.cx;
    }
};

}  // namespace

TEST(Edit, MatchesTheReferenceModelUnderRandomInput) {
    const char* pieces[] = {"a", "b", " ", "\xC3\xA9", "\xF0\x9F\x98\x80", "x y", "\xE2\x86\x92"};
    const char* pastes[] = {"paste", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80", "a b c d e f g h", "", "\xC3\xBC"};
    for (unsigned seed = 1; seed <= 6; seed++) {
        cEditFixture f;
        sModel m;
        m.password = seed % 3 == 0;
        f.edit->setMaxLen(m.maxLen);
        f.edit->setPwdMode(m.password);
        f.edit->setSelectOnFocus(false);
        f.edit->focus();
        std::mt19937 rng(seed);
        for (int step = 0; step < 400; step++) {
            int what = (int)(rng() % 16);
            bool shift = rng() % 2, ctrl = rng() % 4 == 0;
            unsigned mods = (shift ? kModShift : 0) | (ctrl ? kModCtrl : 0);
            std::string label = std::to_string(step) + ":" + std::to_string(what);
            switch (what) {
                case 0:
                case 1: {
                    const char* p = pieces[rng() % 7];
                    std::u16string s = u16(p);
                    // Each code point is one typed character.
                    f.maker.injectText(f.window, p);
                    for (size_t i = 0; i < s.size(); i += sModel::high(s[i]) ? 2 : 1)
                        m.typeChar(s.substr(i, sModel::high(s[i]) ? 2 : 1));
                    break;
                }
                case 2: f.maker.injectKey(f.window, kKeyLeft, mods); m.move(ctrl ? m.wordLeft(m.caret) : m.prev(m.caret), shift); break;
                case 3: f.maker.injectKey(f.window, kKeyRight, mods); m.move(ctrl ? m.wordRight(m.caret) : m.next(m.caret), shift); break;
                case 4: f.maker.injectKey(f.window, kKeyHome, shift ? kModShift : 0); m.move(0, shift); break;
                case 5: f.maker.injectKey(f.window, kKeyEnd, shift ? kModShift : 0); m.move((long long)m.t.size(), shift); break;
                case 6:
                    f.maker.injectKey(f.window, kKeyBackspace);
                    if (!m.delSel() && m.caret > 0) {
                        long long p = m.prev(m.caret);
                        m.t.erase((size_t)p, (size_t)(m.caret - p));
                        m.caret = p;
                    }
                    break;
                case 7:
                    f.maker.injectKey(f.window, kKeyDelete, shift ? kModShift : 0);
                    if (shift) {
                        m.copy();
                        m.delSel();
                    } else if (!m.delSel() && m.caret < (long long)m.t.size()) {
                        m.t.erase((size_t)m.caret, (size_t)(m.next(m.caret) - m.caret));
                    }
                    break;
                case 8:
                    f.maker.injectKey(f.window, 'A', kModCtrl);
                    m.anchor = 0;
                    m.caret = (long long)m.t.size();
                    if (m.caret == 0) m.anchor = -1;
                    break;
                case 9: f.maker.injectKey(f.window, 'C', kModCtrl); m.copy(); break;
                case 10: f.maker.injectKey(f.window, 'X', kModCtrl); m.copy(); m.delSel(); break;
                case 11:
                case 12: {
                    if (rng() % 2) {
                        const char* p = pastes[rng() % 5];
                        f.maker.clipboardCopyText(p, -1);
                        m.clipboard = p;
                    }
                    // Ctrl+V and Shift+Insert paste, Ctrl+Insert copies, Shift+V does nothing.
                    int combo = (int)(rng() % 4);
                    int k = combo < 2 ? 'V' : (int)kKeyInsert;
                    f.maker.injectKey(f.window, k, combo % 2 ? kModCtrl : kModShift);
                    if (combo == 1 || combo == 2) m.insert(u16(m.clipboard.c_str()));
                    if (combo == 3) m.copy();
                    break;
                }
                case 13: f.maker.injectKey(f.window, kKeyEscape); if (m.sel()) m.anchor = -1; else m.escapes++; break;
                case 14: f.maker.injectKey(f.window, kKeyEnter); m.enters++; break;
                default: f.maker.injectKey(f.window, kKeyInsert, kModCtrl); m.copy(); break;
            }
            f.pump();
            ASSERT_EQ(f.value(), m.t) << "seed " << seed << " step " << label;
            ASSERT_EQ(f.edit->caret(), m.caret) << "seed " << seed << " step " << label;
            ASSERT_EQ(f.edit->hasSelection(), m.sel()) << "seed " << seed << " step " << label;
            if (m.sel()) {
                ASSERT_EQ(f.edit->selStart(), m.s0()) << label;
                ASSERT_EQ(f.edit->selEnd(), m.s1() - 1) << label;
            }
            ASSERT_LE((long long)m.t.size(), m.maxLen);
            // Never inside a pair.
            long long c = f.edit->caret();
            if (c > 0 && c < (long long)m.t.size()) {
                ASSERT_FALSE(sModel::high(m.t[c - 1])) << label;
            }
            _guardchar<char> clip;
            f.maker.clipboardRequestText(clip);
            ASSERT_EQ(std::string(clip.ptr ? clip.ptr : ""), m.clipboard) << "seed " << seed << " step " << label;
        }
        EXPECT_EQ(f.rec->count(f.edit, 6), m.enters);
        EXPECT_EQ(f.rec->count(f.edit, 7), m.escapes);
    }
}

TEST(Edit, MaxLenRefusesNegativesAndCutsNeverSplitAPair) {
    cEditFixture f;
    f.edit->setText("keep");
    EXPECT_FALSE(f.edit->setMaxLen(-1));
    EXPECT_FALSE(f.edit->setMaxLen(-(1LL << 40)));
    EXPECT_EQ(f.value(), u"keep");
    EXPECT_EQ(f.edit->maxLen(), 256);
    ASSERT_TRUE(f.edit->setMaxLen(3));
    f.edit->setText("ab\xF0\x9F\x98\x80");  // a, b and a pair: 4 units, 3 fit
    EXPECT_EQ(f.value(), u"ab");
    f.edit->setText("a\xF0\x9F\x98\x80z");
    EXPECT_EQ(f.value(), u"a\U0001F600");
    ASSERT_TRUE(f.edit->setMaxLen(0));
    f.edit->focus();
    f.maker.injectText(f.window, "x");
    f.pump();
    EXPECT_EQ(f.value(), u"");
}

TEST(Edit, NumberDisplayGroupsDigitsOnlyAndShowsUnsignedValues) {
    cEditFixture f;
    struct Case {
        unsigned long long v;
        bool hex;
        char sep;
        const char* want;
    } cases[] = {
        {1234567, false, ',', "1,234,567"},
        {255, true, 0, "0xFF"},
        {~0ULL, false, ',', "18,446,744,073,709,551,615"},
        {~0ULL, false, 0, "18446744073709551615"},
        {0x12345, true, '\'', "0x12'345"},
        {0xABC, true, ' ', "0xABC"},
        {0, false, ',', "0"},
        {1000, false, ' ', "1 000"},
        {100, false, ',', "100"},
    };
    for (auto& c : cases) {
        f.edit->setU64(c.v, c.hex, c.sep);
        EXPECT_STREQ(f.edit->text(), c.want);
        if (!c.sep) {
            EXPECT_EQ(f.edit->asU64(), c.v);
        }
    }
    f.edit->setText("");
    EXPECT_EQ(f.edit->asU64(), 0u);
    f.edit->setText("zz");
    EXPECT_EQ(f.edit->asU64(), ~0ULL);
}

TEST(Edit, MouseDragSelectsBetweenTheAnchorAndThePointer) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cEditFixture f;
    f.edit->setText("abcdefgh");
    f.pump();
    int y = 18;
    f.press(f.xOf(3), y);
    EXPECT_EQ(f.edit->caret(), 3);
    f.move(f.xOf(6), y);
    EXPECT_EQ(f.edit->selStart(), 3);
    EXPECT_EQ(f.edit->selEnd(), 5);
    f.move(f.xOf(2), y);
    EXPECT_EQ(f.edit->selStart(), 2);
    EXPECT_EQ(f.edit->selEnd(), 2);
    f.move(f.xOf(3), y);
    EXPECT_FALSE(f.edit->hasSelection());
    f.release(f.xOf(3), y);
    EXPECT_FALSE(f.edit->hasCapture());
}

TEST(Edit, DoubleClickSelectsTheWordOrTheRunOfSpaces) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cEditFixture f;
    f.edit->setText("one   two");
    f.pump();
    f.click(150, 18);
    f.click(150, 18);  // past the end: the second word
    EXPECT_EQ(f.edit->selStart(), 6);
    EXPECT_EQ(f.edit->selEnd(), 8);
    f.maker.advanceClock(1000);
    int x = f.xOf(4) + 2;
    f.click(x, 18);
    f.click(x, 18);
    EXPECT_EQ(f.edit->selStart(), 3);
    EXPECT_EQ(f.edit->selEnd(), 5);
}

TEST(Edit, ActionsForEnterEscapeAndFocusLoss) {
    cEditFixture f;
    elemtest::cProbe* other = new elemtest::cProbe("o", nullptr, true, true);
    f.rec->attach(other, 0, 0, 5, 5);
    f.edit->setText("word");
    f.edit->focus();  // selects everything
    EXPECT_TRUE(f.edit->hasSelection());
    f.key(kKeyEscape);
    EXPECT_FALSE(f.edit->hasSelection());
    EXPECT_EQ(f.rec->count(f.edit, 7), 0);
    f.key(kKeyEscape);
    f.key(kKeyEnter);
    other->focus();
    f.pump();
    EXPECT_EQ(f.rec->count(f.edit, 7), 1);
    EXPECT_EQ(f.rec->count(f.edit, 6), 1);
    EXPECT_EQ(f.rec->count(f.edit, 8), 1);
}

TEST(Edit, CopyOfNonAsciiAndPasswordGuard) {
    cEditFixture f;
    const char* text = "h\xC3\xA9llo \xE2\x86\x92 \xF0\x9F\x98\x80";
    f.edit->setText(text);
    f.edit->focus();
    f.key('C', kModCtrl);
    _guardchar<char> clip;
    ASSERT_TRUE(f.maker.clipboardRequestText(clip));
    EXPECT_STREQ(clip.ptr, text);
    f.maker.clipboardCopyText("before", -1);
    f.edit->setPwdMode(true);
    f.key('X', kModCtrl);
    EXPECT_EQ(f.value(), u"") << "the selection is cut";
    f.maker.clipboardRequestText(clip);
    EXPECT_STREQ(clip.ptr, "before") << "but nothing is copied";
}

TEST(Edit, ReadOnlyRefusesEditsAndHidesTheBanner) {
    cEditFixture f;
    f.edit->setText("fixed");
    f.edit->setReadonly(true);
    f.edit->focus();
    f.maker.injectText(f.window, "zz");
    f.key(kKeyBackspace);
    f.key(kKeyDelete);
    f.maker.clipboardCopyText("p", -1);
    f.key('V', kModCtrl);
    f.pump();
    EXPECT_EQ(f.value(), u"fixed");
}

TEST(Edit, SnapshotOfItsLooks) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cFixture f(220, 140);
    cEditChild* e[5];
    for (int i = 0; i < 5; i++) {
        e[i] = new cEditChild;
        f.rec->attach(e[i], 10, 8 + i * 26, 200, 22);
    }
    e[0]->setText("plain text");
    e[1]->setText("selected words here");
    e[2]->setText("disabled");
    e[2]->disable();
    e[3]->setBanner("Search packages");
    e[4]->setText("secret");
    e[4]->setPwdMode(true);
    e[1]->focus();
    f.key(kKeyHome);
    f.key(kKeyRight, kModCtrl | kModShift);
    f.key(kKeyRight, kModCtrl | kModShift);
    EXPECT_EQ(e[1]->selEnd(), 8);
    // The banner shows in the banner colour while the field is empty and unfocused.
    auto bannerPixels = [&] {
        f.pump();
        int n = 0;
        for (int y = 8 + 3 * 26; y < 8 + 3 * 26 + 22; y++)
            for (int x = 10; x < 210; x++) n += bgrAt(f.window, x, y) == cCITheme::theme()->getColor(8);
        return n;
    };
    EXPECT_GT(bannerPixels(), 5);
    expectSnapshot(f.maker, f.window, "edit_looks", {0, 0, 220, 140});
    e[3]->setReadonly(true);
    e[3]->repaint();
    EXPECT_EQ(bannerPixels(), 0) << "read-only hides the banner";
}

TEST(Edit, LongTextScrollsToKeepTheCaretInside) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cEditFixture f(120);
    f.edit->setText("a rather long line of text that cannot fit into the field at all");
    f.edit->focus();  // caret to the end
    f.pump();
    EXPECT_LT(f.edit->scroll(), 0);
    // The caret is drawn inside the field, in the text colour, at width - 2.
    unsigned int ink = f.edit->fgColor(cEditChild::ctFocused);
    EXPECT_EQ(bgrAt(f.window, 10 + 120 - 2, 8 + 11), ink);
    f.key(kKeyHome);
    f.pump();
    EXPECT_EQ(f.edit->scroll(), 0);
    EXPECT_EQ(bgrAt(f.window, 10 + 1, 8 + 11), ink) << "the caret at x = 1";
}
