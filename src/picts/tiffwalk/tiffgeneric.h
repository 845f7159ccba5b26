// cTiffGeneric: walks one TIFF/BigTIFF image file directory at a time and hands every
// entry to virtual callbacks, with typed getters for the values.
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"
#include "base/timestamp.h"

class cTiffGeneric {
public:
    // Error codes (error()).
    enum eTiffError {
        teNone = 0,
        teNoStream = 1,
        teBeyondStream = 2,  // size below 8, IFD or entry count beyond the stream, oversized entry
        teShortRead = 3,     // a read came short, or a BigTIFF offset beyond the stream or 4 GiB
        teBadHeader = 4,
        teBadType = 5,
        teBadValueOffset = 6,  // an out-of-line value outside the stream
        teStopped = 7,         // a callback returned false without setting a code
        teCycle = 9,           // a directory already walked (see markVisited)
    };

    enum { kNextIfdTag = 0x10000 };         // pseudo tag carrying a non-zero next-IFD offset
    enum { kMaxEntries = 1 << 20 };         // entries per directory (BigTIFF counts are 64-bit)
    enum { kMaxVisited = 4096 };            // directories one walk may remember

    // A value as delivered to onTag.
    struct sTagProcessParam {
        int tag;
        int type;
        const void* data;  // stream byte order
        int size;          // bytes
    };
    struct sRational {
        unsigned int num;
        unsigned int den;
    };
    struct sSignedRational {
        int num;
        int den;
    };

    cTiffGeneric() {}
    cTiffGeneric(const cTiffGeneric&) = delete;
    cTiffGeneric& operator=(const cTiffGeneric&) = delete;

    // Walks the one IFD at offset with the given byte order and layout; size all ones
    // means the stream's size. Keeps the error code of an earlier failure.
    virtual bool processStream(cFileIOTarget* io, bool bigEndian, bool bigTiff, unsigned int offset,
                               unsigned long long size);
    // Reads the header at 0 and walks the first IFD; clears position, error and the
    // visited directories first.
    virtual bool processStream(cFileIOTarget* io, unsigned long long size);
    // The layout a header's version number names in the given byte order: 42 classic,
    // 43 BigTIFF. Formats that keep TIFF's structure under a magic number of their own
    // take theirs (and only theirs) here.
    enum eHeaderLayout { hlRefused, hlClassic, hlBigTiff };
    virtual eHeaderLayout headerLayout(bool bigEndian, unsigned short version) const;
    // Once per entry: data points at the inline value (offset 0), or is null for an
    // out-of-line value at offset. The default reads it and calls onTag.
    virtual bool onRawTag(int tag, int type, const void* data, int size, unsigned int offset);
    // The value bytes in stream byte order, valid during the call. False stops the walk.
    virtual bool onTag(int tag, int type, const void* data, int size);

    unsigned int nextOffset() const;
    int error() const { return myError; }
    void setError(int code) { myError = code; }
    void clearError() { myError = 0; }
    bool bigEndian() const { return myBigEndian; }
    bool bigTiff() const { return myBigTiff; }
    unsigned long long position() const { return myPos; }
    unsigned long long streamSize() const { return mySize; }
    cFileIOTarget* stream() const { return myIO; }

    // Remembers a directory offset for chain and sub-directory walks; false when it was
    // walked already (a cycle) or too many were walked. Cleared by the two-argument
    // processStream and by resetVisited.
    bool markVisited(unsigned long long offset);
    void resetVisited() { myVisitedCount = 0; }

    // Element size of a type code; -1 for a refused type.
    static int typeSize(int type);

    // Typed getters: false (output untouched) when type or size do not match; a single
    // getter with null data stores 0 and returns true.
    bool getValU8(const sTagProcessParam& p, unsigned char& v) const;
    bool getValsU8(const sTagProcessParam& p, _typebuf<unsigned char>& v) const;
    bool getValsASCII(const sTagProcessParam& p, _typebuf<char>& v) const;
    bool getValsPCHAR(const sTagProcessParam& p, _guardchar<char>& v) const;
    bool getValU16(const sTagProcessParam& p, unsigned short& v) const;
    bool getValsU16(const sTagProcessParam& p, _typebuf<unsigned short>& v) const;
    bool getValU32(const sTagProcessParam& p, unsigned int& v) const;
    bool getValsU32(const sTagProcessParam& p, _typebuf<unsigned int>& v) const;
    bool getValI16(const sTagProcessParam& p, short& v) const;
    bool getValsI16(const sTagProcessParam& p, _typebuf<short>& v) const;
    bool getValI32(const sTagProcessParam& p, int& v) const;
    bool getValsI32(const sTagProcessParam& p, _typebuf<int>& v) const;
    bool getValRational(const sTagProcessParam& p, sRational& v) const;
    bool getValsRational(const sTagProcessParam& p, _typebuf<sRational>& v) const;
    bool getValSRational(const sTagProcessParam& p, sSignedRational& v) const;
    bool getValsSRational(const sTagProcessParam& p, _typebuf<sSignedRational>& v) const;
    bool getValDouble(const sTagProcessParam& p, double& v) const;
    bool getValsDouble(const sTagProcessParam& p, _typebuf<double>& v) const;

    // Raw helpers: count = size / element size, elements copied in host order.
    void getDataU16(const void* data, int size, _typebuf<unsigned short>& v) const;
    void getDataU32(const void* data, int size, _typebuf<unsigned int>& v) const;
    void getDataU64(const void* data, int size, _typebuf<unsigned long long>& v) const;
    void getDataInt16(const void* data, int size, _typebuf<short>& v) const;
    void getDataInt32(const void* data, int size, _typebuf<int>& v) const;
    void getDataInt64(const void* data, int size, _typebuf<long long>& v) const;
    void getDataRational(const void* data, int size, _typebuf<sRational>& v) const;
    void getDataSRational(const void* data, int size, _typebuf<sSignedRational>& v) const;
    void getDataRational(const void* data, int size, _typebuf<double>& v) const;
    void getDataSRational(const void* data, int size, _typebuf<double>& v) const;

    // Single readers from a pointer in stream byte order; 0 for a null pointer.
    unsigned char getU8(const void* p) const;
    unsigned short getU16(const void* p) const;
    unsigned int getU32(const void* p) const;
    unsigned long long getU64(const void* p) const;
    short getInt16(const void* p) const;
    int getInt32(const void* p) const;
    double getFloat(const void* p) const;     // unsigned rational, 0.0 for a zero denominator
    double getFloatSig(const void* p) const;  // signed rational

    // An EXIF date "YYYY:MM:DD HH:MM:SS" (length 19) or "YYYY:MM:DD" (length 10).
    static bool getDate(const char* text, int length, sTimestamp& out);

protected:
    bool myBigEndian = false;
    bool myBigTiff = false;
    _typebuf<unsigned char> myTagData;  // out-of-line values; grown, never shrunk
    int myError = 0;
    unsigned long long myPos = 0;
    cFileIOTarget* myIO = nullptr;  // not owned
    unsigned long long mySize = 0;
    unsigned int myNextOffset = 0;  // stream byte order
    _typebuf<unsigned long long> myVisited;
    long long myVisitedCount = 0;
};
