// The program's version: its text, its 64-bit version ID, printing it ("version") and
// asking another copy of the program for its own.
#pragma once

// The version of this program as text.
extern const char* const kSoftMgrVersion;

// All bits set: no version is known.
const unsigned long long kUnknownVerID = ~0ULL;

// Packs up to four dot-separated decimal parts (major first, 16 bits each from bit 48
// down, missing parts 0). A part outside 0-65535, fewer than one part or a null text
// gives kUnknownVerID.
unsigned long long makeVerID(const char* text);

// The version ID of this program.
unsigned long long getCurrVerID();

// Prints the version ID as 16 upper-case hexadecimal digits and a newline; 0, or 1
// (without output) when the ID is unknown.
int printverinfo();

// Reads a version ID from the first 16 characters of a line as printed by
// printverinfo: 8 bytes, two hexadecimal digits each, most significant first.
// kUnknownVerID when the line is shorter or any pair is not hexadecimal.
unsigned long long parseVerIDLine(const char* line, long long length);

// How long another copy of the program may take to tell its version.
const int kVerIDTimeoutMs = 3000;

// The version ID that another copy of this program at `path` reports when started with
// the argument "version" (through an argument vector, never a shell), or kUnknownVerID
// when it is not a regular file, cannot be started or answers nothing usable. A copy
// still running after `timeoutMs` is killed; the copy is always reaped before return.
unsigned long long getVerID(const char* path, int timeoutMs = kVerIDTimeoutMs);
