// The language container: a "CIOMLAFI" header with a checksum around a zlib-packed
// "CIOMLANG" table of named sections holding UTF-8 strings by index.
//
// Container (little-endian):
//    0  8  "CIOMLAFI"
//    8  2  version (kLangContainerVersion)
//   10  2  language id (0..10; 0xFFFF: none)
//   12  4  packed length P
//   16  4  unpacked length U (1..kLangMaxUnpacked)
//   20  4  CRC-32 of bytes 8..19 followed by the P packed bytes
//   24  P  zlib stream (with header) of the table; the container ends here
// Table:
//    0  8  "CIOMLANG"
//    8  4  section count
//   then per section, names in strictly ascending byte order:
//          1  name length n (1..255), n bytes of name
//          4  entry count
//          per entry, indexes strictly ascending:
//             2  index
//             4  byte length L, L bytes of UTF-8 text (no 0 byte)
//   the table ends exactly at U.
#pragma once

#include "base/buffers.h"

class cCiomLang;

const int kLangContainerVersion = 1;
const int kLangHeaderSize = 24;
// Largest unpacked table we accept, and the most string slots all sections may span.
const long long kLangMaxUnpacked = 8LL * 1024 * 1024;
const long long kLangMaxSlots = 256 * 1024;

// Parses an unpacked "CIOMLANG" table into `out` (cleared first). False on any damage.
bool parseCiomLangTable(const unsigned char* data, long long size, cCiomLang& out);

// Builds a container of a table (packed at level 5); the counterpart of
// loadCiomLangData, used by tests and tools. False when the table cannot be stored.
bool writeCiomLangData(const cCiomLang& table, int langId, _typebuf<unsigned char>& out);
