// Where a line may end inside a run without blanks. East Asian text is set without blanks
// between words, so a line may end between any two of its characters, except before
// closing punctuation and after opening brackets (the line-start and line-end rules).
#pragma once

// Han, Hiragana, Katakana, Bopomofo, Hangul syllables, CJK punctuation and the
// fullwidth and halfwidth forms.
bool isCJKChar(unsigned int c);
// True when a line may end between `before` and `after`, two characters that are not
// blanks (breaks at blanks are the caller's): at least one is CJK, `after` may start a
// line and `before` may end one.
bool canBreakBetween(unsigned int before, unsigned int after);
