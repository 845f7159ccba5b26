// cEditChild: editing (typing, deleting, word moves, the selection that follows caret
// moves), the clipboard, the mouse, number display and painting with horizontal scroll.
// Units are UTF-16; every position handed out sits on a character boundary.
#include "ui/controls/edit.h"

#include <cstring>

#include "base/strings.h"
#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"
#include "ciplatform/windowmaker.h"
#include "ui/theme.h"

namespace {

bool isHigh(unsigned short u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(unsigned short u) { return u >= 0xDC00 && u <= 0xDFFF; }
unsigned int themeColour(int n) { return cCITheme::theme()->getColor(n); }
const unsigned short kBullet = 0x2022;

}  // namespace

cEditChild::cEditChild() {
    setMaxLen(kDefaultMaxLen);
    static const int defaults[5][3] = {{27, 4, 32}, {29, 4, 34}, {28, 4, 33}, {30, 5, 35}, {31, 4, 36}};
    for (int s = 0; s < 5; s++)
        for (int k = 0; k < 3; k++) myColours[s][k] = themeColour(defaults[s][k]);
    mySelColour = themeColour(17);
    mySelInactiveColour = themeColour(18);
}

cEditChild::~cEditChild() {}

void cEditChild::onConstruct() {
    cChildElement::onConstruct();
    setPointer(eMPBeam);
    myFont = createFont(5, 13, _glbalStdFont(), false, false, false);
    myBanFont = createFont(5, 13, _glbalStdFont(), false, false, true);
}

void cEditChild::onInitData() {
    cChildElement::onInitData();
    noSelection();
}

// ---- text ----

long long cEditChild::length() const { return myText.ptr ? _wcslen(myText.ptr) : 0; }

const char* cEditChild::text() {
    _w2pc(myText.ptr, length(), myCache);
    if (!myCache.ptr) myCache.set("");
    return myCache.ptr;
}

long long cEditChild::text(char* buffer, long long size) {
    if (!buffer) return size;
    return _w2pc(myText.ptr, length(), buffer, size);
}

void cEditChild::setText(const char* text, long long length) {
    if (!myText.ptr) return;
    myText.zero();
    if (text) _pc2w(text, length, myText.ptr, maxLen());
    myText.ptr[maxLen()] = 0;
    myCaret = myScroll = 0;
    noSelection();
    repaint();
}

void cEditChild::wipeText() {
    myText.zero();
    myCaret = 0;
    noSelection();
}

void cEditChild::setBanner(const char* text) { myBanner.set(text); }

bool cEditChild::setMaxLen(long long n) {
    // A negative length would size the buffers from a wrapped count.
    if (n < 0 || n > (1LL << 30)) return false;
    _typebuf<unsigned short> text, mask;
    _typebuf<int> ruler;
    if (!text.set(n + 1) || !mask.set(n + 1) || !ruler.set(n + 1)) return false;
    text.zero();
    for (long long i = 0; i < n; i++) mask.ptr[i] = kBullet;
    mask.ptr[n] = 0;
    ruler.zero();
    myText.swap(text);
    myMask.swap(mask);
    myRuler.swap(ruler);
    myCaret = myScroll = 0;
    noSelection();
    return true;
}

void cEditChild::setU64(unsigned long long value, bool hex, char separator) {
    char formatted[60];
    // Unsigned values are shown as unsigned: "%llu", never "%lld".
    _sprintf_s(formatted, sizeof formatted, hex ? "0x%llX" : "%llu", value);
    if (!separator) {
        setText(formatted, -1);
        return;
    }
    // Only the digits are grouped; the "0x" prefix stays in front of them.
    const char* digits = hex ? formatted + 2 : formatted;
    long long n = (long long)strlen(digits);
    char out[100];
    long long k = 0;
    if (hex) out[k++] = '0', out[k++] = 'x';
    for (long long i = 0; i < n; i++) {
        if (i > 0 && (n - i) % 3 == 0) out[k++] = separator;
        out[k++] = digits[i];
    }
    out[k] = 0;
    setText(out, -1);
}

unsigned long long cEditChild::asU64() {
    const char* t = text();
    return t ? strToU64(t) : ~0ULL;
}

// ---- settings ----

void cEditChild::setCursorForRO(bool on) {
    if (myCaretForRO == on) return;
    myCaretForRO = on;
    repaint();
}

void cEditChild::setBorder(bool on) {
    if (myBorder == on) return;
    myBorder = on;
    repaint();
}

void cEditChild::resetColors(unsigned int background, unsigned int text, unsigned int border) {
    for (int s = 0; s < 4; s++) {
        myColours[s][0] = background;
        myColours[s][1] = text;
        myColours[s][2] = border;
    }
}

void cEditChild::setColors(eColorTypes state, unsigned int background, unsigned int text) {
    if (state < 0 || state > 4) return;
    if (myColours[state][0] == background && myColours[state][1] == text) return;
    myColours[state][0] = background;
    myColours[state][1] = text;
    repaint();
}

void cEditChild::setBorderColor(eColorTypes state, unsigned int colour) {
    if (state < 0 || state > 4 || myColours[state][2] == colour) return;
    myColours[state][2] = colour;
    if (myBorder) repaint();
}

void cEditChild::setStdFont(int width, int height, const char* face, bool bold, bool underline, bool italic) {
    myFont = createFont(width, height, face, bold, underline, italic);
}

void cEditChild::setBanFont(int width, int height, const char* face, bool bold, bool underline, bool italic) {
    myBanFont = createFont(width, height, face, bold, underline, italic);
}

// ---- positions ----

long long cEditChild::boundary(long long p) const {
    long long len = length();
    if (p <= 0) return 0;
    if (p >= len) return len;
    return isLow(myText.ptr[p]) && isHigh(myText.ptr[p - 1]) ? p - 1 : p;
}

long long cEditChild::prevPos(long long p) const {
    if (p <= 0) return 0;
    if (p >= 2 && isLow(myText.ptr[p - 1]) && isHigh(myText.ptr[p - 2])) return p - 2;
    return p - 1;
}

long long cEditChild::nextPos(long long p) const {
    long long len = length();
    if (p >= len) return len;
    if (p + 1 < len && isHigh(myText.ptr[p]) && isLow(myText.ptr[p + 1])) return p + 2;
    return p + 1;
}

long long cEditChild::wordLeft(long long p) const {
    if (p <= 0) return 0;
    bool space = __acp_isspace(myText.ptr[p - 1]);
    while (p > 0 && __acp_isspace(myText.ptr[p - 1]) == space) p--;
    return p;
}

long long cEditChild::wordRight(long long p) const {
    long long len = length();
    if (p >= len) return len;
    bool space = __acp_isspace(myText.ptr[p]);
    while (p < len && __acp_isspace(myText.ptr[p]) == space) p++;
    return p;
}

long long cEditChild::symbolPos(int x) {
    long long len = length();
    if (len == 0) return 0;
    long long d = (long long)x - myScroll;
    long long known = len < myRuler.count ? len : myRuler.count;
    for (long long i = 0; i < known; i++) {
        if (myRuler.ptr[i] <= d) continue;
        long long left = i > 0 ? myRuler.ptr[i - 1] : 0;
        bool right = myRuler.ptr[i] - d < d - left;
        long long r = right ? i + 1 : i;
        // Both units of a pair share one edge: never stop between them.
        if (r > 0 && r < len && isLow(myText.ptr[r]) && isHigh(myText.ptr[r - 1])) r = right ? r + 1 : r - 1;
        return r;
    }
    return len;
}

// ---- selection ----

void cEditChild::processSelectKbd(long long from, long long to) {
    if ((myReadOnly && !myCaretForRO) || from == to) return;
    long long len = length();
    bool none = !hasSelection();
    if (to > from) {
        if (to > len) return;
        if (none) {
            mySelStart = from;
            mySelEnd = to - 1;
        } else if (mySelEnd + 1 == from) {
            mySelEnd = to - 1;
        } else if (mySelStart == from) {
            long long oldEnd = mySelEnd;
            mySelStart = to;
            if (to - 1 == oldEnd)
                noSelection();
            else if (oldEnd >= to)
                mySelEnd = oldEnd;
            else
                mySelStart = oldEnd + 1, mySelEnd = to - 1;
        } else {
            noSelection();
            repaint();
        }
    } else {
        if (from < 1) return;
        if (none) {
            mySelStart = to;
            mySelEnd = from - 1;
        } else if (mySelStart == from) {
            mySelStart = to;
        } else if (mySelEnd + 1 == from) {
            if (to > mySelStart)
                mySelEnd = to - 1;
            else if (to == mySelStart)
                noSelection();
            else
                mySelEnd = mySelStart - 1, mySelStart = to;
        } else {
            noSelection();
            repaint();
        }
    }
}

void cEditChild::cancelSelection() {
    noSelection();
    repaint();
}

void cEditChild::removeUnits(long long at, long long n) {
    long long len = length();
    if (at < 0 || n <= 0 || at >= len) return;
    if (at + n > len) n = len - at;
    memmove(myText.ptr + at, myText.ptr + at + n, (size_t)(len - at - n) * sizeof(unsigned short));
    for (long long i = len - n; i <= len; i++) myText.ptr[i] = 0;
}

bool cEditChild::deleteSelection() {
    if (myReadOnly || !hasSelection()) return false;
    long long s = mySelStart, e = mySelEnd;
    noSelection();
    repaint();
    if (s >= length()) return true;
    removeUnits(s, e - s + 1);
    myCaret = s;
    return true;
}

// ---- clipboard ----

void cEditChild::cb_copy() {
    if (!hasSelection() || myPassword) return;
    long long len = length();
    if (mySelStart >= len) return;
    long long n = (mySelEnd < len ? mySelEnd + 1 : len) - mySelStart;
    _guardchar<char> utf8;
    if (_w2pc(myText.ptr + mySelStart, n, utf8) < 0 || !utf8.ptr) return;
    clipboardCopyText(utf8.ptr, -1);
}

void cEditChild::cb_paste() {
    if (myReadOnly) return;
    deleteSelection();
    _guardchar<char> clip;
    if (!clipboardRequestText(clip) || !clip.ptr) return;
    _guardchar<unsigned short> pasted;
    if (_pc2w(clip.ptr, -1, pasted) < 0 || !pasted.ptr) return;
    long long len = length(), room = maxLen() - len, n = _wcslen(pasted.ptr);
    if (n > room) {
        n = room;
        // The last unit that fits must not be the first half of a pair.
        if (n > 0 && isHigh(pasted.ptr[n - 1]) && isLow(pasted.ptr[n])) n--;
    }
    if (n > 0) {
        memmove(myText.ptr + myCaret + n, myText.ptr + myCaret, (size_t)(len - myCaret) * sizeof(unsigned short));
        memcpy(myText.ptr + myCaret, pasted.ptr, (size_t)n * sizeof(unsigned short));
        myText.ptr[len + n] = 0;
        myCaret += n;
    }
    repaint();
}

void cEditChild::cb_cut() {
    cb_copy();
    deleteSelection();
}

// ---- keyboard ----

bool cEditChild::onChar(unsigned int cp) {
    if (myReadOnly) return false;
    deleteSelection();
    unsigned short u[2];
    long long need = 1;
    if (cp > 0xFFFF && cp <= 0x10FFFF) {
        cp -= 0x10000;
        u[0] = (unsigned short)(0xD800 + (cp >> 10));
        u[1] = (unsigned short)(0xDC00 + (cp & 0x3FF));
        need = 2;
    } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        u[0] = 0xFFFD;
    } else {
        u[0] = (unsigned short)cp;
    }
    long long len = length();
    if (len + need > maxLen()) return true;  // full: dropped
    memmove(myText.ptr + myCaret + need, myText.ptr + myCaret, (size_t)(len - myCaret) * sizeof(unsigned short));
    for (long long i = 0; i < need; i++) myText.ptr[myCaret + i] = u[i];
    myText.ptr[len + need] = 0;
    myCaret += need;
    repaint();
    return true;
}

void cEditChild::setCaret(long long pos) {
    long long len = length();
    moveCaret(boundary(pos < 0 ? 0 : pos > len ? len : pos), false);
}

void cEditChild::moveCaret(long long to, bool shift) {
    if (shift)
        processSelectKbd(myCaret, to);
    else
        noSelection();
    myCaret = to;
    repaint();
}

bool cEditChild::onKey(int key, bool shift, bool ctrl, bool alt) {
    long long len = length();
    switch (key) {
        case kKeyEnter: notifyAction(new cChildAction(eActEnter)); return true;
        case kKeyEscape:
            if (!hasSelection())
                notifyAction(new cChildAction(eActEscape));
            else
                cancelSelection();
            return true;
        case kKeyBackspace:
            if (myReadOnly) return true;
            if (!deleteSelection() && myCaret > 0) {
                long long p = prevPos(myCaret);
                removeUnits(p, myCaret - p);
                myCaret = p;
            }
            repaint();
            return true;
        case kKeyDelete:
            if (myReadOnly) return true;
            if (shift) {
                cb_cut();
            } else if (!deleteSelection() && myCaret < len) {
                removeUnits(myCaret, nextPos(myCaret) - myCaret);
            }
            repaint();
            return true;
        case kKeyInsert:
            if (ctrl)
                cb_copy();
            else if (shift)
                cb_paste();
            return true;
        case kKeyHome:
        case kKeyUp: moveCaret(0, shift); return true;
        case kKeyEnd:
        case kKeyDown: moveCaret(len, shift); return true;
        case kKeyLeft: moveCaret(ctrl ? wordLeft(myCaret) : prevPos(myCaret), shift); return true;
        case kKeyRight: moveCaret(ctrl ? wordRight(myCaret) : nextPos(myCaret), shift); return true;
        case 'A':
            if (!ctrl) return false;
            noSelection();
            processSelectKbd(0, len);
            myCaret = len;
            repaint();
            return true;
        case 'C':
            if (!ctrl) return false;
            cb_copy();
            return true;
        case 'V':
            if (!ctrl) return false;
            cb_paste();
            return true;
        case 'X':
            if (!ctrl) return false;
            cb_copy();
            deleteSelection();
            return true;
    }
    return false;
}

// ---- mouse and focus ----

void cEditChild::onMouseButton(int x, int y, int button, bool down) {
    if (button != kMouseLeft) return;
    if (down) {
        noSelection();
        capturePointer();
        myMouseSelecting = true;
        myCaret = symbolPos(x);
    } else {
        releasePointer();
        myMouseSelecting = false;
    }
    repaint();
}

void cEditChild::onMouseMoving(int x, int y) {
    cChildElement::onMouseMoving(x, y);
    if (!myMouseSelecting) return;
    long long p = symbolPos(x);
    if (p == myCaret) return;
    processSelectKbd(myCaret, p);
    repaint();
    myCaret = p;
}

void cEditChild::onMouseDoubleClick(int x, int y, int button) {
    long long len = length();
    if (len == 0) return;
    long long p = symbolPos(x), i = p < len ? p : len - 1;
    bool space = __acp_isspace(myText.ptr[i]);
    long long s = i, e = i;
    while (s > 0 && __acp_isspace(myText.ptr[s - 1]) == space) s--;
    while (e + 1 < len && __acp_isspace(myText.ptr[e + 1]) == space) e++;
    noSelection();
    processSelectKbd(s, e + 1);
    myCaret = e + 1;
    repaint();
}

void cEditChild::onMouseOver() {
    cChildElement::onMouseOver();
    myHover = true;
    repaint();
}

void cEditChild::onMouseLeft() {
    cChildElement::onMouseLeft();
    myHover = false;
    repaint();
}

void cEditChild::onSetFocusEvent(int origin, int a, int b) {
    if (mySelectOnFocus && !myReadOnly) {
        noSelection();
        processSelectKbd(0, length());
        myCaret = length();
    }
    repaint();
}

void cEditChild::onLooseFocus() {
    noSelection();
    repaint();
    notifyAction(new cChildAction(eActFocusLost));
}

// ---- painting ----

void cEditChild::onPaint(cCanvas* canvas) {
    int w = width(), h = height();
    bool isFocused = focused();
    int st = !enabled() ? ctDisabled : isFocused ? ctFocused : myHover ? ctHover : ctNormal;
    int bst = !enabled() ? ctDisabled : myHover ? ctHover : isFocused ? ctFocused : ctNormal;
    unsigned int bg = myColours[st][0], fg = myColours[st][1];
    unsigned int frame = myBorder ? myColours[bst][2] : bg;
    sRect all = {0, 0, w, h};
    canvas->drawRect(&all, bg, frame);
    if (myBorder) {
        sRect inner = {1, 1, w - 2, h - 2};
        canvas->clip(&all);
        canvas->unclip(&inner);
        canvas->select();
    }
    long long len = length();
    cFontObject* font = myFont ? myFont : stdFont();
    if (!isFocused && len == 0) {
        if (!myBanner.empty() && !myReadOnly) {
            cFontObject* bf = myBanFont ? myBanFont : font;
            canvas->setTextMode(bf);
            sSize wsz = {0, 0};
            canvas->textSize("W", 1, wsz);
            canvas->setTextColors(themeColour(8), 0xFFFFFFFFu);
            canvas->drawText(2, (h - wsz.cy) / 2, true, myBanner.ptr);
        }
        canvas->resetClip();
        return;
    }
    canvas->setTextMode(font);
    sSize wsz = {0, 0};
    canvas->textSize("W", 1, wsz);
    int lh = wsz.cy, y = (h - lh) / 2;
    const unsigned short* drawn = myPassword ? myMask.ptr : myText.ptr;
    // The caret's x, scrolling the text so that it stays inside the field.
    int x = 1;
    if (myCaret == 0) {
        myScroll = 0;
    } else {
        sSize cs = {0, 0};
        canvas->textSize(drawn, myCaret, cs);
        x = (int)(cs.cx + 1 + myScroll);
        if (x > w - 2) {
            myScroll -= x - (w - 2);
            x = w - 2;
        }
        if (x < w / 8) {
            int add = 1 - x > w / 4 ? 1 - x : w / 4;
            myScroll += add;
            if (myScroll > 0) myScroll = 0;
            x = (int)(cs.cx + 1 + myScroll);
        }
    }
    myRuler.zero();
    if (len > 0) canvas->textRuler(drawn, len, myRuler.ptr);
    int tx = (int)myScroll + 2;
    bool sel = hasSelection() && mySelStart < len && mySelEnd < len;
    if (!sel) {
        canvas->setTextColors(fg, bg);
        canvas->drawText(tx, y, false, drawn, len);
    } else {
        long long parts[3][2] = {{0, mySelStart}, {mySelStart, mySelEnd + 1}, {mySelEnd + 1, len}};
        for (int i = 0; i < 3; i++) {
            long long from = parts[i][0], n = parts[i][1] - parts[i][0];
            if (n <= 0) continue;
            if (i == 1)
                canvas->setTextColors(themeColour(10), isFocused ? mySelColour : mySelInactiveColour);
            else
                canvas->setTextColors(fg, bg);
            int px = tx + (from > 0 ? myRuler.ptr[from - 1] : 0);
            canvas->drawText(px, y, false, drawn + from, n);
        }
    }
    if (isFocused && enabled() && (!myReadOnly || myCaretForRO)) {
        canvas->setLineMode(fg, 1);
        sPoint a = {x, y}, b = {x, y + lh};
        canvas->drawLine(&a, &b);
    }
    canvas->resetClip();
}
