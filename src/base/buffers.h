// Owned buffers: _guardchar (zero-terminated text), _typebuf (elements of one type
// with a count) and _classbuf (an array of objects). Indexing outside throws cException.
#pragma once

#include <cstdlib>
#include <cstring>
#include <new>

#include "base/cexception.h"

// An owned, zero-terminated text (UTF-8 for char, UTF-16 for unsigned short).
// `ptr` is null while empty and is read directly by callers.
template <class T>
class _guardchar {
public:
    T* ptr = nullptr;

    _guardchar() {}
    explicit _guardchar(const T* s) { set(s); }
    _guardchar(const _guardchar& o) { set(o.ptr); }
    _guardchar& operator=(const _guardchar& o) {
        if (this != &o) set(o.ptr);
        return *this;
    }
    virtual ~_guardchar() { free(ptr); }

    virtual void clear() {
        free(ptr);
        ptr = nullptr;
    }

    // Copies a zero-terminated text; a null source leaves the holder empty.
    bool set(const T* s) {
        if (!s) {
            clear();
            return true;
        }
        return set(s, (long long)lengthOf(s));
    }
    // Copies n units and adds the terminator (n = -1: up to the source's terminator).
    bool set(const T* s, long long n) {
        if (!s) {
            clear();
            return true;
        }
        if (n < 0) n = (long long)lengthOf(s);
        T* p = (T*)malloc((size_t)(n + 1) * sizeof(T));
        if (!p) return false;
        memcpy(p, s, (size_t)n * sizeof(T));
        p[n] = 0;
        free(ptr);
        ptr = p;
        return true;
    }
    // Allocates n + 1 zeroed units (room for n units and the terminator).
    bool set(long long n) {
        clear();
        if (n < 0) return false;
        ptr = (T*)calloc((size_t)n + 1, sizeof(T));
        return ptr != nullptr;
    }
    // Takes over a malloc'ed text.
    void attach(T* p) {
        free(ptr);
        ptr = p;
    }
    T* dettach() {
        T* p = ptr;
        ptr = nullptr;
        return p;
    }

    long long length() const { return ptr ? (long long)lengthOf(ptr) : 0; }
    bool empty() const { return !ptr || !ptr[0]; }

    static size_t lengthOf(const T* s) {
        size_t n = 0;
        while (s[n]) n++;
        return n;
    }
};

// An owned block of `count` elements of a plain type. `set` does not clear.
template <class T>
class _typebuf {
public:
    T* ptr = nullptr;
    long long count = 0;

    _typebuf() {}
    explicit _typebuf(long long n) { set(n); }
    _typebuf(const _typebuf& o) { copyFrom(o); }
    _typebuf& operator=(const _typebuf& o) {
        if (this != &o) copyFrom(o);
        return *this;
    }
    virtual ~_typebuf() { free(ptr); }

    virtual void clear() {
        free(ptr);
        ptr = nullptr;
        count = 0;
    }

    // Frees the old block and allocates n elements; n <= 0 or no memory leaves it empty.
    bool set(long long n) {
        clear();
        if (n <= 0 || (unsigned long long)n > (~(size_t)0) / sizeof(T)) return false;
        ptr = (T*)malloc((size_t)n * sizeof(T));
        if (!ptr) return false;
        count = n;
        return true;
    }
    // Resizes to n elements keeping the first min(count, n).
    bool reset(long long n) {
        if (n <= 0) {
            clear();
            return n == 0;
        }
        if ((unsigned long long)n > (~(size_t)0) / sizeof(T)) return false;
        T* p = (T*)realloc(ptr, (size_t)n * sizeof(T));
        if (!p) return false;
        ptr = p;
        count = n;
        return true;
    }
    bool set(const T* data, long long n) {
        if (!set(n)) return n == 0;
        memcpy(ptr, data, (size_t)n * sizeof(T));
        return true;
    }
    void zero() {
        if (ptr) memset(ptr, 0, (size_t)count * sizeof(T));
    }
    // Hands a malloc'ed block over; the buffer frees it.
    void attach(T* p, long long n) {
        free(ptr);
        ptr = p;
        count = p ? n : 0;
    }
    T* dettach() {
        T* p = ptr;
        ptr = nullptr;
        count = 0;
        return p;
    }
    void swap(_typebuf& o) {
        T* p = ptr;
        long long c = count;
        ptr = o.ptr;
        count = o.count;
        o.ptr = p;
        o.count = c;
    }

    T& operator[](long long i) {
        if (i < 0 || i >= count) throw cException("_typebuf::Out of bounds", 0, __FILE__, __LINE__);
        return ptr[i];
    }
    const T& operator[](long long i) const {
        if (i < 0 || i >= count) throw cException("_typebuf::Out of bounds", 0, __FILE__, __LINE__);
        return ptr[i];
    }

private:
    void copyFrom(const _typebuf& o) {
        clear();
        if (o.count > 0 && set(o.count)) memcpy(ptr, o.ptr, (size_t)count * sizeof(T));
    }
};

// An owned array of default-constructed objects.
template <class T>
class _classbuf {
public:
    T* ptr = nullptr;
    long long count = 0;

    _classbuf() {}
    _classbuf(const _classbuf&) = delete;
    _classbuf& operator=(const _classbuf&) = delete;
    virtual ~_classbuf() { delete[] ptr; }

    virtual void clear() {
        delete[] ptr;
        ptr = nullptr;
        count = 0;
    }
    // Replaces the contents by n default objects (n <= 0 leaves it empty).
    bool set(long long n) {
        clear();
        if (n <= 0) return n == 0;
        ptr = new (std::nothrow) T[(size_t)n];
        if (!ptr) return false;
        count = n;
        return true;
    }

    T& operator[](long long i) {
        if (i < 0 || i >= count) throw cException("_classbuf::Out of bounds", 0, __FILE__, __LINE__);
        return ptr[i];
    }
    const T& operator[](long long i) const {
        if (i < 0 || i >= count) throw cException("_classbuf::Out of bounds", 0, __FILE__, __LINE__);
        return ptr[i];
    }
};
