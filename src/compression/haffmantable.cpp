// Canonical Huffman tables (ITU T.81 Annex C code assignment) and their bit reader.
#include "compression/haffmantable.h"

bool cHaffmanTable::createIndexTable(const unsigned char*& description, _typebuf<unsigned int>& table,
                                     long long descriptionSize) {
    table.clear();
    if (!description || descriptionSize < 16) return false;
    const unsigned char* counts = description;
    long long total = 0;
    int longest = 0;
    // Kraft check: the codes of each length must fit in what shorter codes left free.
    unsigned long long code = 0;
    for (int l = 1; l <= 16; l++) {
        int n = counts[l - 1];
        total += n;
        if (n) longest = l;
        code += (unsigned long long)n;
        if (code > (1ULL << l)) return false;
        code <<= 1;
    }
    if (total == 0 || 16 + total > descriptionSize) return false;
    if (!table.set(1 + (1LL << longest))) return false;
    table.zero();
    table.ptr[0] = (unsigned int)longest;
    const unsigned char* symbols = description + 16;
    code = 0;
    long long k = 0;
    for (int l = 1; l <= longest; l++) {
        for (int i = 0; i < counts[l - 1]; i++, k++, code++) {
            unsigned long long start = code << (longest - l), span = 1ULL << (longest - l);
            unsigned int entry = ((unsigned int)l << 8) | symbols[k];
            for (unsigned long long v = 0; v < span; v++) table.ptr[1 + start + v] = entry;
        }
        code <<= 1;
    }
    description += 16;
    return true;
}

int cHaffmanTable::getBitHuff(sHaffBitState& state, int n, const _typebuf<unsigned int>* table,
                              const unsigned char* data, long long size, long long& position) {
    if (state.reset) {
        state.acc = 0;
        state.bits = 0;
        state.reset = false;
    }
    if (n == 0) return 0;
    if (n < 0 || n > 25) return -1;
    int need = n;
    if (table) {
        if (table->count < 3 || table->ptr[0] < 1 || table->ptr[0] > 16 ||
            table->count != 1 + (1LL << table->ptr[0]))
            return -1;
        need = (int)table->ptr[0];
    }
    // Held bits stay below 25 before a refill, so the accumulator never loses any.
    while (state.bits < need) {
        unsigned int b = 0;
        if (data && position >= 0 && position < size)
            b = data[position];
        else
            state.overrun++;
        position++;
        state.acc = (state.acc << 8) | b;
        state.bits += 8;
    }
    unsigned int value = (state.acc >> (state.bits - need)) & ((1u << need) - 1);
    int result;
    if (!table) {
        state.bits -= need;
        result = (int)value;
    } else {
        unsigned int e = table->ptr[1 + value];
        int len = (int)(e >> 8);
        if (len < 1 || len > need) {
            state.bits -= need;
            result = -1;
        } else {
            state.bits -= len;
            result = (int)(e & 0xFF);
        }
    }
    state.acc &= state.bits ? (1u << state.bits) - 1 : 0;
    return result;
}
