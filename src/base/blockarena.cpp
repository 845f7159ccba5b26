// The block chain of the growing-block arenas: a new block, the walk and the release.
#include "base/blockarena.h"

#include <cstdlib>

void* cBlockChain::grow(size_t bytes, size_t first, size_t most, size_t ownOver) {
    size_t size = bytes;
    if (bytes <= ownOver) {
        size = !myNewest ? first : myNewest->size < most / 2 ? myNewest->size * 2 : most;
        if (size < bytes) size = bytes;
    }
    if (size > SIZE_MAX - sizeof(sBlock)) return nullptr;
    sBlock* b = (sBlock*)malloc(sizeof(sBlock) + size);
    if (!b) return nullptr;
    b->size = size;
    b->used = bytes;
    if (bytes > ownOver && myNewest) {
        b->next = myNewest->next;
        myNewest->next = b;
    } else {
        b->next = myNewest;
        myNewest = b;
    }
    return b + 1;
}

void cBlockChain::reverse() {
    sBlock* done = nullptr;
    while (myNewest) {
        sBlock* n = myNewest->next;
        myNewest->next = done;
        done = myNewest;
        myNewest = n;
    }
    myNewest = done;
}

void cBlockChain::clear() {
    while (myNewest) {
        sBlock* n = myNewest->next;
        free(myNewest);
        myNewest = n;
    }
}
