// cTextFileIO: line reading over a read-ahead buffer of the file.
#include "base/textfileio.h"

#include <string.h>

namespace {

const long long kReadAhead = 64 * 1024;

// Grows a line buffer to hold at least `need` bytes, doubling.
bool growLine(_typebuf<char>& line, long long& capacity, long long need) {
    if (need <= capacity) return true;
    long long cap = capacity < 256 ? 256 : capacity;
    while (cap < need) cap *= 2;
    if (!line.reset(cap)) return false;
    capacity = cap;
    return true;
}

}  // namespace

bool cTextFileIO::open(const char* path, int mode) {
    close();
    if (!myFile.open(path, mode)) return false;
    if (!(mode & cFileIO::eRead)) return true;
    if (!myBuf.set(kReadAhead)) {
        myFile.close();
        return false;
    }
    fill();
    if (myBufLen >= 3 && myBuf.ptr[0] == 0xEF && myBuf.ptr[1] == 0xBB && myBuf.ptr[2] == 0xBF) myBufPos = 3;
    return true;
}

bool cTextFileIO::create(const char* path) {
    close();
    return myFile.create(path, cFileIO::eReadWrite);
}

void cTextFileIO::close() {
    myFile.close();
    myBuf.clear();
    myBufPos = myBufLen = 0;
    myFailed = false;
}

void cTextFileIO::dropBuffer() {
    if (myBufPos < myBufLen) myFile.set_fp(get_fp());
    myBufPos = myBufLen = 0;
}

// Refills the read-ahead buffer once it is used up; false at the end or on error.
bool cTextFileIO::fill() {
    if (myBufPos < myBufLen) return true;
    myBufPos = myBufLen = 0;
    if (!myBuf.ptr && !myBuf.set(kReadAhead)) return false;
    myLfAt = -1;
    long long r = myFile.read(myBuf.ptr, myBuf.count);
    if (r < 0) myFailed = true;  // not the end: the line in hand is not whole
    if (r <= 0) return false;
    myBufLen = r;
    return true;
}

bool cTextFileIO::gets(_typebuf<char>& line) {
    if (myFailed || !myFile.valid()) return false;
    long long len = 0, capacity = 0;
    bool any = false;  // a byte or a line end was seen
    // The caller's block is grown with realloc (often in place) rather than freed.
    for (;;) {
        if (!fill()) break;
        const unsigned char* p = myBuf.ptr + myBufPos;
        long long avail = myBufLen - myBufPos;
        // Two vectorised scans beat one byte loop looking for either end; the LF found
        // is remembered so that lines ended by CR alone do not rescan the buffer.
        if (myLfAt < myBufPos) {
            const void* lf = memchr(p, '\n', (size_t)avail);
            myLfAt = lf ? myBufPos + ((const unsigned char*)lf - p) : myBufLen;
        }
        long long i = myLfAt - myBufPos;
        const void* crAt = i ? memchr(p, '\r', (size_t)i) : nullptr;
        if (crAt) i = (const unsigned char*)crAt - p;
        if (i > 0) {
            any = true;
            if (len + i > kMaxLine || !growLine(line, capacity, len + i + 1)) {
                myFailed = true;
                line.clear();
                return false;
            }
            memcpy(line.ptr + len, p, (size_t)i);
            len += i;
            myBufPos += i;
        }
        if (i == avail) continue;
        any = true;
        bool cr = p[i] == '\r';
        myBufPos++;
        // CR LF is one line end, even when the LF sits at the start of the next read.
        if (cr && fill() && myBuf.ptr[myBufPos] == '\n') myBufPos++;
        break;
    }
    if (!any || myFailed) {
        line.clear();
        return false;
    }
    if (!growLine(line, capacity, len + 1)) {
        myFailed = true;
        line.clear();
        return false;
    }
    line.ptr[len] = 0;
    line.count = len;  // the terminator stays just past the count
    return true;
}

bool cTextFileIO::puts(const char* text) {
    long long n = text ? (long long)strlen(text) : 0;
    return (n == 0 || writef(text, n)) && writef("\n", 1);
}

long long cTextFileIO::read(void* buffer, long long n) {
    if (!buffer || n <= 0) return 0;
    long long done = 0;
    if (myBufPos < myBufLen) {
        done = myBufLen - myBufPos < n ? myBufLen - myBufPos : n;
        memcpy(buffer, myBuf.ptr + myBufPos, (size_t)done);
        myBufPos += done;
    }
    if (done < n) {
        long long r = myFile.read((char*)buffer + done, n - done);
        if (r > 0) done += r;
        if (r < 0 && done == 0) return -1;
    }
    return done;
}

long long cTextFileIO::write(const void* buffer, long long n) {
    dropBuffer();
    return myFile.write(buffer, n);
}

bool cTextFileIO::set_fp(unsigned long long position) {
    myBufPos = myBufLen = 0;
    return myFile.set_fp(position);
}

bool cTextFileIO::set_eof() {
    dropBuffer();
    return myFile.set_eof();
}
