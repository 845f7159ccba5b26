// Pieces of memory carved from blocks that grow: many small pieces cost a few allocations
// instead of a header and rounding each. A piece never moves; all go at once with clear().
#pragma once

#include <cstddef>
#include <cstdint>

// The blocks behind every cBlockArena, newest first; what does not depend on the sizes.
class cBlockChain {
public:
    struct alignas(alignof(std::max_align_t)) sBlock {
        sBlock* next;  // the one made before
        size_t size, used;
    };

    cBlockChain() {}
    cBlockChain(const cBlockChain&) = delete;
    cBlockChain& operator=(const cBlockChain&) = delete;
    ~cBlockChain() { clear(); }
    void clear();
    // Calls f(bytes, used) for each block, oldest first, until one answers false; whether
    // none did. In an arena that gives no piece a block of its own, the pieces come out in
    // the order they were made.
    template <class F>
    bool forEachBlock(F f) {
        reverse();
        bool ok = true;
        for (const sBlock* b = myNewest; b && ok; b = b->next) ok = f((const unsigned char*)(b + 1), b->used);
        reverse();
        return ok;
    }

protected:
    // A piece in a new block: see cBlockArena.
    void* grow(size_t bytes, size_t first, size_t most, size_t ownOver);
    void reverse();

    sBlock* myNewest = nullptr;  // the one being filled
};

// Blocks of kFirst bytes, each new one twice the last up to kMost, and never smaller than
// the piece that opens it. A piece over kOwnOver bytes gets a block of exactly its size
// behind the one being filled, which goes on filling (its order among the blocks is then
// lost). alloc answers null without memory.
template <size_t kFirst, size_t kMost, size_t kOwnOver = SIZE_MAX>
class cBlockArena : public cBlockChain {
    static_assert(kFirst >= 1 && kFirst <= kMost, "block sizes");

public:
    // `bytes` at a multiple of `align` (a power of two up to alignof(std::max_align_t)).
    void* alloc(size_t bytes, size_t align = 1) {
        if (sBlock* b = myNewest) {
            const size_t at = (b->used + align - 1) & ~(align - 1);
            if (at <= b->size && bytes <= b->size - at) {
                b->used = at + bytes;
                return (unsigned char*)(b + 1) + at;
            }
        }
        return grow(bytes, kFirst, kMost, kOwnOver);  // a new block's data is aligned for anything
    }
};
