// cHaffmanTable: canonical Huffman lookup tables built from a JPEG-style description
// (counts of codes per length, then the symbols), and the bit reader that decodes with them.
#pragma once

#include <cstdint>

#include "base/buffers.h"

// State of the bit reader of getBitHuff; zero-initialise it before the first call.
struct sHaffBitState {
    uint32_t acc;       // held bits, the next one the highest of the low `bits` bits
    int bits;           // count of held bits
    bool reset;         // set by the caller to drop the held bits at the next call
    long long overrun;  // bytes read as zero past the end of the data
};

class cHaffmanTable {
public:
    // Builds a lookup table from a description: 16 counts of codes of lengths 1 to 16,
    // then the symbols in code order. `description` advances past the 16 counts only
    // (the symbols stay where the caller can reach them). `descriptionSize` is how many
    // bytes the description may hold (counts and symbols); symbols beyond it are refused.
    // Table layout, one unsigned int an entry:
    //   table[0]             the longest code length L (1 to 16)
    //   table[1 + v]         for each L-bit value v: (code length << 8) | symbol of the code
    //                        that v starts with; a code of length l fills 2^(L - l)
    //                        consecutive entries. 0 marks values that start no code.
    // False, with the table empty and the pointer unmoved, for no codes, more codes of
    // some length than the lengths before it leave room for (over-subscribed), or a
    // description shorter than its counts say.
    static bool createIndexTable(const unsigned char*& description, _typebuf<unsigned int>& table,
                                 long long descriptionSize = 32);

    // Reads from data[position++], one byte at a time (no byte stuffing), while fewer than
    // the bits needed are held; bytes at or past `size` read as zero and count in
    // state.overrun. Without a table (null) it returns the next n bits, most significant
    // first. With a table it looks up the next table[0] bits, consumes only the code's
    // length and returns its symbol; -1 (consuming table[0] bits) when they start no code.
    // n = 0 returns 0; n above 25 or a malformed table returns -1.
    static int getBitHuff(sHaffBitState& state, int n, const _typebuf<unsigned int>* table,
                          const unsigned char* data, long long size, long long& position);
    // The same over a whole buffer.
    static int getBitHuff(sHaffBitState& state, int n, const _typebuf<unsigned int>* table,
                          const _typebuf<unsigned char>& data, long long& position) {
        return getBitHuff(state, n, table, data.ptr, data.count, position);
    }
};
