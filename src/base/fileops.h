// Whole writes to a descriptor, the file operations that write and replace files (each
// one overridable, so that tests can fail any of them), and the safe replacement itself.
#pragma once

#include "base/buffers.h"

// Writes all n bytes, continuing after short writes and after calls a signal
// interrupted (EINTR); false when a write fails or moves nothing.
bool writeAll(int fd, const void* data, long long n);
// Writes up to n bytes at an offset, continuing after short and interrupted writes; the
// count written (less than n when a write fails or moves nothing). The descriptor's own
// position stays.
long long pwriteSome(int fd, const void* data, long long n, unsigned long long at);
// Every byte of it at an offset (pwriteSome), or false.
bool pwriteAll(int fd, const void* data, long long n, unsigned long long at);
// Reads up to n bytes at an offset, continuing after short and interrupted reads; the
// count read (less than n only at the end of the file), or -1 when a read fails.
long long preadAll(int fd, void* data, long long n, unsigned long long at);

class cFileOps {
public:
    virtual ~cFileOps() {}
    // The process-wide plain implementation.
    static cFileOps* plain();

    // Creates a new file for reading and writing: never an existing name, never through
    // a link. The descriptor, or -1 (errno tells why).
    virtual int createExclusive(const char* path, int mode);
    // Every byte written (writeAll), or false.
    virtual bool write(int fd, const void* data, long long n);
    // Every byte written at an offset (pwriteAll), or false.
    virtual bool writeAt(int fd, const void* data, long long n, unsigned long long at);
    // False when the close reported a failure (the file's data may be lost).
    virtual bool close(int fd);
    // Flushes a file's data to the disk.
    virtual bool sync(int fd);
    // Sets the permission bits of an open file.
    virtual bool chmod(int fd, int mode);
    virtual bool rename(const char* from, const char* to);
    // A file or a link, never a folder.
    virtual bool unlink(const char* path);
    // Flushes a folder's entries (names created, renamed or removed) to the disk.
    virtual bool syncFolder(const char* path);
};

// Flushes the folder that holds `path` ("." for a name without a folder), so that a name
// created, renamed or removed there survives a crash.
bool syncFolderOf(const char* path, cFileOps* ops = nullptr);

// What replaceFile did. Only after eReplaceDone does a crash keep the new content.
enum eReplaceResult {
    eReplaceDone = 0,          // in place, and its folder flushed
    eReplaceNotFlushed = 1,    // in place, but the folder's flush failed
    eReplaceCannotCreate = 2,  // the temporary file could not be made; nothing changed
    eReplaceFailed = 3,        // writing, flushing, closing or renaming failed; nothing changed
};

// The content of a replaced file, written to the temporary file's descriptor (false on
// a failure).
class cFileFill {
public:
    virtual bool fill(int fd) = 0;

protected:
    ~cFileFill() {}
};

// Replaces `target` so that a crash leaves either the old or the whole new file: the
// content goes to a temporary file `tmp` beside it, which gets `mode`, is flushed and
// closed, is renamed over the target, and then the folder is flushed. A `tmp` ending in
// "XXXXXX" is made unique (those letters replaced in place); any other name is the
// caller's own, and what an interrupted run left there (anything but a folder) is
// removed first. On failure the temporary file is removed. `ops` null: the plain ones.
int replaceFileWith(const char* target, _guardchar<char>& tmp, int mode, cFileFill& content, cFileOps* ops = nullptr);

// The same with the content written by `write(fd)`, which answers false on a failure.
template <class F>
int replaceFile(const char* target, _guardchar<char>& tmp, int mode, F write, cFileOps* ops = nullptr) {
    struct sFill final : cFileFill {
        F& f;
        explicit sFill(F& fn) : f(fn) {}
        bool fill(int fd) override { return f(fd); }
    } content(write);
    return replaceFileWith(target, tmp, mode, content, ops);
}
