// cTextFileIO: a disk file read line by line (LF, CR LF or a lone CR end a line)
// and written as text.
#pragma once

#include "base/buffers.h"
#include "base/fileio.h"

class cTextFileIO : public cFileIOTarget {
public:
    // Lines longer than this fail instead of eating memory.
    static const long long kMaxLine = 1 << 20;

    cTextFileIO() {}
    ~cTextFileIO() override { close(); }

    // Opens a file with the modes of cFileIO::open (1 = read). A UTF-8 byte order
    // mark at the start is skipped.
    bool open(const char* path, int mode = cFileIO::eRead);
    // Creates or truncates a file for writing (and reading).
    bool create(const char* path);

    // The next line without its end: line.ptr holds the text with a terminating 0
    // after it and line.count its length in bytes (the block holds at least count + 1 bytes,
    // so copy it with its count + 1 to keep the 0). A last line without an end is a
    // line too. False at the end of the file, on a read error, or for a line longer
    // than kMaxLine; after such a failure every later call fails too.
    bool gets(_typebuf<char>& line);
    // Writes the text followed by "\n".
    bool puts(const char* text);

    unsigned long long size() override { return myFile.size(); }
    long long read(void* buffer, long long n) override;
    long long write(const void* buffer, long long n) override;
    bool set_fp(unsigned long long position) override;
    bool set_eof() override;
    void close() override;
    bool set_time(const sTimestamp* modified) override { return myFile.set_time(modified); }
    bool valid() override { return myFile.valid() && !myFailed; }
    int typeOf() override { return eIOText; }
    unsigned long long get_fp() override { return myFile.get_fp() - (unsigned long long)(myBufLen - myBufPos); }

private:
    bool fill();
    void dropBuffer();

    cFileIO myFile;
    _typebuf<unsigned char> myBuf;
    long long myBufPos = 0;
    long long myBufLen = 0;
    long long myLfAt = -1;  // index of the next LF in myBuf (myBufLen: none), -1 unknown
    bool myFailed = false;
};
