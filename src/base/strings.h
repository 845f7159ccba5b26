// Text functions: bounded copies and formatting, case-insensitive comparison,
// UTF-8 <-> UTF-16 conversion, and small number parsers.
#pragma once

#include <cstdarg>

#include "base/blockarena.h"
#include "base/buffers.h"

// Units before the first 0; null gives 0.
long long _wcslen(const unsigned short* s);
// Copies a zero-terminated UTF-16 text into dst (capacity units, terminator included).
// A text that does not fit is cut (never inside a surrogate pair) and false returned.
bool _wcscpy_s(unsigned short* dst, long long capacity, const unsigned short* src);

// Formats into buffer (size bytes), never past it; the result is always terminated.
// Returns the bytes written without the terminator, or -1 when the text was cut
// (the cut never leaves a partial UTF-8 sequence) or size is not positive.
int _sprintf_s(char* buffer, long long size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int _vsprintf_s(char* buffer, long long size, const char* format, va_list args);
// sscanf on a text; -1 for a null text.
int _sscanf_s(const char* text, const char* format, ...) __attribute__((format(scanf, 2, 3)));

// ASCII case-insensitive comparison as unsigned bytes: <0, 0 or >0. Null sorts first.
int __stricmp(const char* a, const char* b);
int __stricmp(const char* a, const char* b, long long n);  // at most n characters
int __memicmp(const void* a, const void* b, long long n);   // exactly n bytes

// True for tab, line feed, carriage return and space.
bool __acp_isspace(char c);
bool __acp_isspace(unsigned short c);
// Case of one character: ASCII for a byte; for a UTF-16 unit also Latin-1, Latin
// Extended-A, Greek, Cyrillic and full-width Latin. Unchanged when it has no other case.
char __acp_lower(char c);
char __acp_upper(char c);
unsigned short __acp_lower(unsigned short c);
unsigned short __acp_upper(unsigned short c);
// A lower-cased copy of a UTF-8 text (null text: out is cleared); false when out of memory.
bool __acp_lower(const char* text, _guardchar<char>& out);

// Copy n bytes (n < 0: up to the terminator) of text unchanged. A null text leaves
// out untouched. The _typebuf form holds the bytes and a terminating 0 (count = n + 1).
bool _pc2a(const char* text, long long n, _guardchar<char>& out);
bool _pc2a(const char* text, long long n, _typebuf<char>& out);
bool _a2pc(const char* text, long long n, _guardchar<char>& out);
bool _a2pc(const char* text, long long n, _typebuf<char>& out);

// UTF-8 (n bytes, n < 0: up to the terminator) to UTF-16. Ill-formed input becomes
// U+FFFD, one per maximal ill-formed subpart; four-byte forms become surrogate pairs.
// Returns the units produced (without terminator), -1 when out of memory.
long long _pc2w(const char* text, long long n, _guardchar<unsigned short>& out);
// Writes at most capacity units, never half a pair; the terminator only when room is left.
long long _pc2w(const char* text, long long n, unsigned short* buffer, long long capacity);

// UTF-16 (n units, n < 0: up to the terminator) to UTF-8; a lone surrogate becomes
// U+FFFD. Returns the bytes produced (without terminator), -1 when out of memory.
long long _w2pc(const unsigned short* text, long long n, _guardchar<char>& out);
// Writes at most size bytes, never part of a sequence; the terminator only when room is left.
long long _w2pc(const unsigned short* text, long long n, char* buffer, long long size);

// Leading blanks skipped; empty or blank gives 0; "0x"/"0X" then hexadecimal, else a
// signed decimal; stops at the first character that does not fit. Nothing readable, or
// a number too large for 64 bits, gives all bits set.
unsigned long long strToU64(const char* text);
// The byte of the first two characters as hexadecimal digits, -1 when either is not one.
int getHexb(const char* text);
// a followed by b (a null one counts as empty) into out, which may hold either. False
// without memory.
bool concatText(const char* a, const char* b, _guardchar<char>& out);

// Texts kept until the arena is cleared, packed into shared blocks: a hundred thousand
// paths allocated one by one would cost a block header and rounding each. A text never
// moves once added.
class cTextArena {
public:
    cTextArena() {}
    cTextArena(const cTextArena&) = delete;
    cTextArena& operator=(const cTextArena&) = delete;
    ~cTextArena() { clear(); }
    // A terminated copy of n bytes of text (n < 0: up to its terminator), or null
    // without memory. A null text gives an empty one.
    const char* add(const char* text, long long n = -1);
    void clear() { myBlocks.clear(); }

private:
    // Blocks of 64 KiB with their malloc headers; a long text gets a block of its own.
    static constexpr size_t kBlock = 65536 - sizeof(cBlockChain::sBlock) - 16;
    cBlockArena<kBlock, kBlock, kBlock / 4> myBlocks;
};

// An ordered list of texts in one array: each one copied into the list's arena, or
// (addShared) a text that outlives the list, held without a copy.
class cTextList {
public:
    cTextList() {}
    cTextList(const cTextList&) = delete;
    cTextList& operator=(const cTextList&) = delete;
    bool add(const char* text);
    bool addShared(const char* text);
    long long count() const { return myCount; }
    bool empty() const { return myCount == 0; }
    const char* operator[](long long i) const { return myItems[i]; }
    const char* const* begin() const { return myItems.ptr; }
    const char* const* end() const { return myItems.ptr + myCount; }
    void clear();

private:
    _typebuf<const char*> myItems;
    long long myCount = 0;
    cTextArena myTexts;
};
