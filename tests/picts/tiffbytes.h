// Builds TIFF/BigTIFF byte arrays for the walker and EXIF tests.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

struct TiffBytes {
    bool be, big;
    std::vector<unsigned char> b;
    TiffBytes(bool bigEndian, bool bigTiff) : be(bigEndian), big(bigTiff) {}
    void u8(unsigned v) { b.push_back((unsigned char)v); }
    void un(unsigned long long v, int n) {
        for (int i = 0; i < n; i++) b.push_back((unsigned char)(v >> (8 * (be ? n - 1 - i : i))));
    }
    void u16(unsigned v) { un(v, 2); }
    void u32(unsigned long long v) { un(v, 4); }
    void u64(unsigned long long v) { un(v, 8); }
    void off(unsigned long long v) { un(v, big ? 8 : 4); }
    // Header with the first IFD offset.
    void header(unsigned long long first) {
        u8(be ? 'M' : 'I');
        u8(be ? 'M' : 'I');
        u16(big ? 43 : 42);
        if (big) {
            u16(8);  // offset size
            u16(0);
            u64(first);
        } else {
            u32(first);
        }
    }
    void count(unsigned long long n) { un(n, big ? 8 : 2); }
    // Entry with an inline value given as raw stream bytes (padded), or an offset.
    void entry(unsigned tag, unsigned type, unsigned long long n, std::vector<unsigned char> inl) {
        u16(tag);
        u16(type);
        un(n, big ? 8 : 4);
        inl.resize(big ? 8 : 4, 0);
        b.insert(b.end(), inl.begin(), inl.end());
    }
    void entryOff(unsigned tag, unsigned type, unsigned long long n, unsigned long long offset) {
        u16(tag);
        u16(type);
        un(n, big ? 8 : 4);
        off(offset);
    }
    // Values of `size` bytes each as the stream holds them.
    std::vector<unsigned char> vals(int size, std::initializer_list<unsigned> vs) const {
        std::vector<unsigned char> r;
        for (unsigned v : vs)
            for (int i = 0; i < size; i++) r.push_back((unsigned char)(v >> (8 * (be ? size - 1 - i : i))));
        return r;
    }
    std::vector<unsigned char> s16(unsigned v) const { return vals(2, {v}); }
    std::vector<unsigned char> s32(unsigned v) const { return vals(4, {v}); }
    void str(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
    size_t size() const { return b.size(); }
};
