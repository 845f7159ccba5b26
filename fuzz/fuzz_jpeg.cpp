// libFuzzer target for the JPEG decoder: probe, decode (own buffer and external target),
// EXIF preview and the lossless raw-scan path without 0xFF escapes.
#include <cstdint>
#include <cstring>

#include "picts/jpeg/pictjpeg.h"
#include "picts/pictdummy.h"

namespace {

class cFuzzStream : public cFileIOTarget {
public:
    cFuzzStream(const uint8_t* d, size_t n) : myData(d), mySize((long long)n) {}
    unsigned long long size() override { return (unsigned long long)mySize; }
    long long read(void* b, long long n) override {
        if (n <= 0 || myPos >= mySize) return 0;
        if (n > mySize - myPos) n = mySize - myPos;
        memcpy(b, myData + myPos, (size_t)n);
        myPos += n;
        return n;
    }
    long long write(const void*, long long) override { return 0; }
    bool set_fp(unsigned long long p) override {
        if (p > (unsigned long long)mySize) return false;
        myPos = (long long)p;
        return true;
    }
    void close() override {}
    bool valid() override { return true; }
    unsigned long long get_fp() override { return (unsigned long long)myPos; }

private:
    const uint8_t* myData;
    long long mySize;
    long long myPos = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzStream s(data, size);
    cPictBase::sPictInfo info;
    if (!cPictJPEG::validFor(&s, &info)) return 0;
    // Keep the fuzzer on inputs we can decode quickly.
    if (info.width * info.height > (1LL << 22)) return 0;
    {
        cPictJPEG p;
        s.set_fp(0);
        p.decode(&s);
    }
    {
        unsigned int target[32 * 24];
        cPictBase::sExtPictDef def;
        def.pixels = target;
        def.width = 32;
        def.height = 24;
        cPictJPEG p;
        p.setExtTarget(&def);
        s.set_fp(0);
        p.decode(&s);
    }
    {
        cPictJPEG p;
        p.setIgnoreFFEsc(true);
        s.set_fp(0);
        p.decode(&s);
    }
    {
        cPictJPEG p;
        cPictDummy preview;
        long long mw = 16, mh = 16;
        s.set_fp(0);
        p.getPreview(&s, &preview, &mw, &mh);
    }
    return 0;
}
