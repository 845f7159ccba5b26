// cFileIO: a disk file as a cFileIOTarget, over a POSIX descriptor with 64-bit offsets.
#pragma once

#include "base/fileiotarget.h"

class cFileIO : public cFileIOTarget {
public:
    // Mode bits of open/create: 1 read, 2 write (3 both); 4 = the file must already
    // exist and is neither created nor truncated (so 6 writes an existing file).
    enum eOpenMode {
        eRead = 1,
        eWrite = 2,
        eReadWrite = 3,
        eExisting = 4,
        eWriteExisting = 6,
    };

    cFileIO() {}
    ~cFileIO() override;

    // Opens a file: 1 an existing file for reading; 2 / 3 for writing / both,
    // created when missing but never truncated; with bit 4 only an existing file.
    // Folders are refused. Any file open before is closed first.
    bool open(const char* path, int mode = eRead);
    // Creates or truncates a file (mode 2 write only; 1 or 3 read and write).
    bool create(const char* path, int mode = eWrite);
    // Unlinks a file (not a folder).
    static bool remove(const char* path);
    // Renames; true when the rename succeeded.
    static bool move(const char* from, const char* to);

    // Pushes written data to the disk (before a rename that replaces a file).
    bool sync();
    // fcntl byte-range lock over the whole file (shared or exclusive); with
    // `wait` false a lock held elsewhere gives false at once.
    bool lock(bool exclusive, bool wait);
    bool unlock();
    // The descriptor, -1 when closed.
    int handle() const { return myFd; }

    unsigned long long size() override;
    long long read(void* buffer, long long n) override;
    long long write(const void* buffer, long long n) override;
    // Any position is accepted (writing past the end extends the file).
    bool set_fp(unsigned long long position) override;
    bool set_eof() override;
    void close() override;
    // Sets the modification time from a local calendar time.
    bool set_time(const sTimestamp* modified) override;
    bool valid() override { return myFd >= 0; }
    int typeOf() override { return eIOFile; }
    unsigned long long get_fp() override { return myPos; }

private:
    bool openWith(const char* path, int flags);

    int myFd = -1;
    unsigned long long myPos = 0;
};
