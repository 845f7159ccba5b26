// Frames that name far more pixels than their stream could code are refused before any plane
// or pixel buffer exists; plausible (even truncated) streams still decode.
#include <gtest/gtest.h>

#include <vector>

#include "base/memio.h"
#include "picts/jpeg/pictjpeg.h"

namespace {

class ErrorRecorder : public cPictJPEG {
public:
    std::vector<int> codes;
    void onGeneralError(int code, const char* what) override { codes.push_back(code); }
};

void seg(std::vector<unsigned char>& d, unsigned char marker, const std::vector<unsigned char>& body) {
    d.push_back(0xFF);
    d.push_back(marker);
    size_t len = body.size() + 2;
    d.push_back((unsigned char)(len >> 8));
    d.push_back((unsigned char)len);
    d.insert(d.end(), body.begin(), body.end());
}

// A grey picture whose single Huffman code "0" means DC difference 0 (and end of block), so
// that every zero byte of scan data codes four sequential blocks (eight lossless samples).
std::vector<unsigned char> greyStream(int w, int h, bool lossless, size_t dataBytes) {
    std::vector<unsigned char> d = {0xFF, 0xD8};
    if (!lossless) {
        std::vector<unsigned char> q(65, 1);  // table 0, every step 1
        q[0] = 0;
        seg(d, 0xDB, q);
    }
    std::vector<unsigned char> one(17, 0);
    one[1] = 1;  // one code of length 1
    one.push_back(0);  // symbol 0
    seg(d, 0xC4, one);  // DC table 0
    if (!lossless) {
        one[0] = 0x10;
        seg(d, 0xC4, one);  // AC table 0
    }
    seg(d, lossless ? 0xC3 : 0xC0,
        {8, (unsigned char)(h >> 8), (unsigned char)h, (unsigned char)(w >> 8), (unsigned char)w, 1, 1, 0x11, 0});
    if (lossless)
        seg(d, 0xDA, {1, 1, 0x00, 1, 0, 0});  // predictor 1
    else
        seg(d, 0xDA, {1, 1, 0x00, 0, 63, 0});
    d.insert(d.end(), dataBytes, 0);
    d.push_back(0xFF);
    d.push_back(0xD9);
    return d;
}

}  // namespace

TEST(JpegDataSize, FrameFarBeyondItsDataIsRefusedBeforeAllocating) {
    struct Case {
        const char* name;
        int w, h;
        bool lossless;
        size_t dataBytes;
        bool refused;  // eJErrSize, nothing allocated
        bool ok;       // complete picture
    } cases[] = {
        {"8192 x 8192 in 16 bytes", 8192, 8192, false, 16, true, false},
        {"lossless 4096 x 4096 in 100 bytes", 4096, 4096, true, 100, true, false},
        {"64 x 64 complete", 64, 64, false, 16, false, true},
        {"lossless 16 x 16 complete", 16, 16, true, 32, false, true},
        // A quarter of the blocks present: shown as far as it goes.
        {"truncated but plausible", 512, 512, false, 256, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> d = greyStream(c.w, c.h, c.lossless, c.dataBytes);
        cBufWrapperIO probeStream(d.data(), (long long)d.size());
        cPictBase::sPictInfo info;
        ASSERT_TRUE(cPictJPEG::validFor(&probeStream, &info));
        EXPECT_EQ(info.width, c.w);
        ErrorRecorder p;
        cBufWrapperIO s(d.data(), (long long)d.size());
        bool ok = p.decode(&s);
        EXPECT_EQ(ok, c.ok);
        if (c.refused) {
            ASSERT_FALSE(p.codes.empty());
            EXPECT_EQ(p.codes.front(), cJPEGParser::eJErrSize);
            EXPECT_EQ(p.raw8Bpp(), nullptr);
            EXPECT_EQ(p.width(), 0);
        } else {
            ASSERT_NE(p.raw8Bpp(), nullptr);
            ASSERT_EQ(p.width(), c.w);
            // The top row (stored last) was coded: DC 0 is mid-grey.
            EXPECT_EQ(p.raw8Bpp()[(long long)(c.h - 1) * c.w] & 0xFFFFFF, 0x808080u);
        }
    }
}
