// The line-break opportunities of East Asian text (see linebreak.h).
#include "ciplatform/linebreak.h"

namespace {

// Characters that never start a line: closing brackets and quotes, sentence and clause
// marks, small kana, the prolonged sound mark, iteration marks and their Latin kin.
bool noLineStart(unsigned int c) {
    switch (c) {
    case ')': case ']': case '}': case ',': case '.': case ':': case ';': case '!': case '?': case '%':
    case 0x2019: case 0x201D: case 0x2025: case 0x2026: case 0x203C: case 0x2047: case 0x2048: case 0x2049:
    case 0x3001: case 0x3002: case 0x3005: case 0x3009: case 0x300B: case 0x300D: case 0x300F: case 0x3011:
    case 0x3015: case 0x3017: case 0x3019: case 0x301B: case 0x301E: case 0x301F: case 0x303B: case 0x309B:
    case 0x309C: case 0x309D: case 0x309E: case 0x30A0: case 0x30FB: case 0x30FC: case 0x30FD: case 0x30FE:
    case 0xFF01: case 0xFF05: case 0xFF09: case 0xFF0C: case 0xFF0E: case 0xFF1A: case 0xFF1B: case 0xFF1F:
    case 0xFF3D: case 0xFF5D: case 0xFF60: case 0xFF61: case 0xFF63: case 0xFF64: case 0xFF65: case 0xFF70:
    case 0xFF9E: case 0xFF9F:
        return true;
    default: break;
    }
    // Small hiragana and katakana: ぁぃぅぇぉっゃゅょゎゕゖ and their katakana forms.
    if ((c >= 0x3041 && c <= 0x30FA) || (c >= 0x31F0 && c <= 0x31FF)) {
        unsigned int k = c >= 0x30A1 && c <= 0x30FA ? c - 0x60 : c;
        if (c >= 0x31F0) return true;  // small katakana for Ainu
        switch (k) {
        case 0x3041: case 0x3043: case 0x3045: case 0x3047: case 0x3049: case 0x3063: case 0x3083: case 0x3085:
        case 0x3087: case 0x308E: case 0x3095: case 0x3096:
            return true;
        default: return false;
        }
    }
    return c >= 0xFF67 && c <= 0xFF6F;  // halfwidth small katakana
}

// Characters that never end a line: opening brackets and quotes.
bool noLineEnd(unsigned int c) {
    switch (c) {
    case '(': case '[': case '{': case 0x2018: case 0x201C: case 0x3008: case 0x300A: case 0x300C:
    case 0x300E: case 0x3010: case 0x3014: case 0x3016: case 0x3018: case 0x301A: case 0x301D: case 0xFF08:
    case 0xFF3B: case 0xFF5B: case 0xFF5F: case 0xFF62:
        return true;
    default: return false;
    }
}

}  // namespace

bool isCJKChar(unsigned int c) {
    return (c >= 0x2E80 && c <= 0x2FDF) ||    // radicals
           (c >= 0x3000 && c <= 0x31FF) ||    // punctuation, kana, Bopomofo, compatibility jamo
           (c >= 0x3200 && c <= 0x4DBF) ||    // enclosed and compatibility forms, extension A
           (c >= 0x4E00 && c <= 0x9FFF) ||    // unified ideographs
           (c >= 0xAC00 && c <= 0xD7A3) ||    // Hangul syllables
           (c >= 0xF900 && c <= 0xFAFF) ||    // compatibility ideographs
           (c >= 0xFE30 && c <= 0xFE4F) ||    // compatibility forms
           (c >= 0xFF00 && c <= 0xFFEF) ||    // fullwidth and halfwidth forms
           (c >= 0x20000 && c <= 0x3FFFD);    // supplementary ideographs
}

bool canBreakBetween(unsigned int before, unsigned int after) {
    if (!isCJKChar(before) && !isCJKChar(after)) return false;
    return !noLineStart(after) && !noLineEnd(before);
}
