// Headers that promise more than the bytes present: the decoders refuse them before the
// picture's buffer is asked for, and odd but legal header fields decode without faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/bmp/dibreader.h"
#include "picts/bmp/pictdib.h"
#include "picts/gif/gifreader.h"
#include "picts/pcx/pcxreader.h"
#include "picts/ppm/ppmreader.h"
#include "picts/xpm/xpmreader.h"

namespace {

// Records what a decoder asks for and refuses nothing, keeping no pixels.
struct RecordingSink : cPictRowSink {
    long long beginW = -1, beginH = -1;
    int rows = 0;
    bool begin(long long w, long long h, bool) override {
        beginW = w;
        beginH = h;
        // Never allocate: a test must not pay for the size a hostile header names.
        return w * h <= 4096;
    }
    void row32(long long, const unsigned int*) override { rows++; }
    void row64(long long, const unsigned long long*) override { rows++; }
};

std::vector<unsigned char> bytesOf(const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); }

// A decoder's refusal of a header, which must come before the picture's buffer is asked for.
void expectRefusedUnasked(bool refused, const RecordingSink& sink) {
    EXPECT_TRUE(refused);
    EXPECT_EQ(sink.beginW, -1) << "buffer of " << sink.beginW << " x " << sink.beginH << " requested";
}

void put32(std::vector<unsigned char>& d, std::initializer_list<unsigned int> vs) {
    for (unsigned int v : vs)
        for (int i = 0; i < 4; i++) d.push_back((unsigned char)(v >> (8 * i)));
}
void put16(std::vector<unsigned char>& d, std::initializer_list<unsigned int> vs) {
    for (unsigned int v : vs)
        for (int i = 0; i < 2; i++) d.push_back((unsigned char)(v >> (8 * i)));
}

}  // namespace

TEST(SizesBeforeAlloc, PlainNetpbmNeedsEverySampleBeforeTheBuffer) {
    struct Case {
        const char* name;
        std::string text;
        bool ok;
    } cases[] = {
        // One column, 2^29 rows: the old check let any height through for one column.
        {"P1 tall", "P1 1 536870912\n0", false},
        {"P2 tall", "P2 1 536870912 255\n7", false},
        {"P3 tall", "P3 1 536870912 255\n1 2 3", false},
        {"P2 wide short", "P2 1000 1000 255\n1 2 3 4", false},
        // Complete pictures at the tightest spacing still decode.
        {"P1 packed", "P1 3 2\n010101", true},
        {"P2 exact", "P2 2 2 9\n1 2 3 4", true},
        {"P3 exact", "P3 1 2 9\n1 2 3 4 5 6", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> d = bytesOf(c.text);
        RecordingSink sink;
        int r = cPpmReader::decode(d.data(), (long long)d.size(), sink);
        if (c.ok) {
            EXPECT_EQ(r, cPpmReader::eOk);
            EXPECT_EQ(sink.rows, sink.beginH);
        } else {
            expectRefusedUnasked(r != cPpmReader::eOk, sink);
        }
    }
}

TEST(SizesBeforeAlloc, XpmRowsMustHoldTheWidthBeforeTheBuffer) {
    struct Case {
        const char* name;
        const char* values;
        const char* row;
        bool ok;
    } cases[] = {
        {"huge width", "536870912 1 1 1", "a", false},
        {"short row", "4 1 1 1", "aaa", false},
        {"exact", "4 1 1 1", "aaaa", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = std::string("/* XPM */\nstatic char* x[] = {\n\"") + c.values + "\",\n\"a c #102030\",\n\"" +
                           c.row + "\"};\n";
        std::vector<unsigned char> d = bytesOf(text);
        RecordingSink sink;
        int r = cXpmReader::decode(d.data(), (long long)d.size(), sink);
        if (c.ok) {
            EXPECT_EQ(r, cXpmReader::eOk);
            EXPECT_EQ(sink.rows, 1);
        } else {
            expectRefusedUnasked(r != cXpmReader::eOk, sink);
        }
    }
}

namespace {
// A 1 x 1 32-bit BI_BITFIELDS bitmap with the given red, green and blue masks.
std::vector<unsigned char> bitfieldsBmp(unsigned int r, unsigned int g, unsigned int b, unsigned int pixel) {
    std::vector<unsigned char> d = {'B', 'M'};
    put32(d, {14 + 40 + 12 + 4, 0, 14 + 40 + 12, 40, 1, 1});  // sizes, pixel offset, 1 x 1
    put16(d, {1, 32});
    put32(d, {3, 0, 0, 0, 0, 0, r, g, b, pixel});  // BI_BITFIELDS, the masks, the pixel
    return d;
}
}  // namespace

// A mask covering all 32 bits is legal; its field is the whole word, scaled by its top byte.
TEST(SizesBeforeAlloc, BmpBitfieldMaskOfAllThirtyTwoBits) {
    struct Case {
        unsigned int r, g, b, pixel, want;
    } cases[] = {
        {0xFFFFFFFFu, 0x0000FF00u, 0x000000FFu, 0xAB123456u, 0xFFAB3456u},
        {0x00FF0000u, 0xFFFFFFFFu, 0x000000FFu, 0x80FF0011u, 0xFFFF8011u},
        {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0x00123456u, 0xFF123456u},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> d = bitfieldsBmp(c.r, c.g, c.b, c.pixel);
        cBufWrapperIO s(d.data(), (long long)d.size());
        cPictBMP bmp;
        ASSERT_TRUE(bmp.decode(&s));
        ASSERT_EQ(bmp.width(), 1);
        ASSERT_NE(bmp.raw8Bpp(), nullptr);
        EXPECT_EQ(bmp.raw8Bpp()[0], c.want) << std::hex << c.r << " " << c.g;
    }
}

namespace {
// A sw x sh screen holding one frame of fw x fh at (fx, fy) whose LZW data is `lzw`
// (minimum code size 2).
std::vector<unsigned char> gifFrame(int sw, int sh, int fx, int fy, int fw, int fh,
                                    const std::vector<unsigned char>& lzw) {
    std::vector<unsigned char> d = {'G', 'I', 'F', '8', '9', 'a'};
    put16(d, {(unsigned)sw, (unsigned)sh});
    d.insert(d.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255, 0x2C});
    put16(d, {(unsigned)fx, (unsigned)fy, (unsigned)fw, (unsigned)fh});
    d.insert(d.end(), {0, 2, (unsigned char)lzw.size()});
    d.insert(d.end(), lzw.begin(), lzw.end());
    d.insert(d.end(), {0, 0x3B});
    return d;
}
}  // namespace

// Two bytes of LZW data can stand for 2 * 4 codes of at most 4096 indices: a picture beyond
// that (a large frame, a frame far off a small screen, a huge screen) is refused before its
// index and pixel buffers; one within it is decoded as far as the data goes.
TEST(SizesBeforeAlloc, GifPictureBeyondItsLzwDataIsRefused) {
    const std::vector<unsigned char> oneIndex = {76, 1};  // clear, index 1, end (3-bit codes)
    struct Case {
        const char* name;
        int sw, sh, fx, fy, fw, fh;
        bool asked;
    } cases[] = {
        {"large frame", 8, 8, 0, 0, 4000, 4000, false},
        {"frame just beyond", 8, 8, 0, 0, 256, 129, false},
        {"frame far off the screen", 3, 9, 14379, 24889, 7, 5, false},
        {"huge screen", 65535, 8192, 0, 0, 2, 2, false},
        {"frame at the limit", 8, 8, 0, 0, 256, 128, true},
        {"screen at the limit", 128, 256, 0, 0, 4, 4, true},
        {"small", 8, 8, 0, 0, 4, 4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> d = gifFrame(c.sw, c.sh, c.fx, c.fy, c.fw, c.fh, oneIndex);
        RecordingSink sink;
        int r = cGifReader::decode(d.data(), (long long)d.size(), sink);
        if (!c.asked) {
            expectRefusedUnasked(r != cGifReader::eOk, sink);
        } else {
            // The picture is the screen grown to hold the frame.
            EXPECT_EQ(sink.beginW, std::max(c.sw, c.fx + c.fw));
            EXPECT_EQ(sink.beginH, std::max(c.sh, c.fy + c.fh));
        }
    }
    // The small frame: its first pixel has index 1 (white) and then the stream ends; the
    // picture is a failure, but the row it gave reached the sink and the rest is transparent.
    struct Keep : cPictRowSink {
        std::vector<unsigned int> px;
        long long w = 0;
        bool begin(long long width, long long height, bool) override {
            w = width;
            px.assign((size_t)(width * height), 0xDEADBEEFu);
            return true;
        }
        void row32(long long y, const unsigned int* p) override {
            for (long long x = 0; x < w; x++) px[(size_t)(y * w + x)] = p[x];
        }
        void row64(long long, const unsigned long long*) override {}
    } keep;
    std::vector<unsigned char> d = gifFrame(8, 8, 0, 0, 4, 4, oneIndex);
    ASSERT_EQ(cGifReader::decode(d.data(), (long long)d.size(), keep), cGifReader::eTruncated);
    ASSERT_EQ(keep.px.size(), 64u);
    EXPECT_EQ(keep.px[0], 0xFFFFFFFFu);
    EXPECT_EQ(keep.px[1], 0u);
    EXPECT_EQ(keep.px[63], 0u);
}

namespace {
// A w x h 8-bit RLE bitmap (info header and palette only, as an icon or resource holds it)
// followed by `codes`.
std::vector<unsigned char> rleDib(int w, int h, const std::vector<unsigned char>& codes) {
    std::vector<unsigned char> d;
    put32(d, {40, (unsigned)w, (unsigned)h});
    put16(d, {1, 8});
    // BI_RLE8, the codes' size, no resolution, two palette entries (all important), the palette.
    put32(d, {1, (unsigned)codes.size(), 0, 0, 2, 0, 0x00102030, 0x00A0B0C0});
    d.insert(d.end(), codes.begin(), codes.end());
    return d;
}
}  // namespace

TEST(SizesBeforeAlloc, RleBitmapFarBeyondItsCodesIsRefused) {
    const std::vector<unsigned char> codes = {2, 1, 0, 1};  // two pixels of index 1, end
    struct Case {
        const char* name;
        int w, h;
        bool asked;
    } cases[] = {
        {"one column of 2^24 rows", 1, 1 << 24, false},
        {"just beyond", 512, 513, false},
        {"at the limit", 512, 512, true},
        {"small", 4, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> d = rleDib(c.w, c.h, codes);
        cDibReader r;
        RecordingSink sink;
        int res = r.decode(d.data(), (long long)d.size(), -1, sink);
        if (!c.asked) {
            expectRefusedUnasked(res != cDibReader::eOk, sink);
        } else {
            EXPECT_EQ(sink.beginW, c.w);
            EXPECT_EQ(sink.beginH, c.h);
        }
    }
}

TEST(SizesBeforeAlloc, PcxRunsMustCoverTheWholePicture) {
    // A 1-bit PCX header: 48 x rows, 6 bytes a line, then run codes of 6 bytes each.
    auto pcx = [](int rows, int runPairs) {
        std::vector<unsigned char> d(128, 0);
        d[0] = 0x0A;
        d[1] = 5;
        d[2] = 1;  // RLE
        d[3] = 1;  // bits
        d[8] = 47;
        d[10] = (unsigned char)((rows - 1) & 0xFF);
        d[11] = (unsigned char)((rows - 1) >> 8);
        d[65] = 1;  // planes
        d[66] = 6;
        for (int i = 0; i < runPairs; i++) {
            d.push_back(0xC6);  // a run of 6
            d.push_back(0x55);
        }
        return d;
    };
    struct Case {
        int rows, pairs;
        bool refused;
    } cases[] = {
        {65535, 4, true},  // 384 KiB of lines from 8 bytes: refused before the buffer
        {64, 64, false},   // one run a line: complete
        {40, 40, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        std::vector<unsigned char> d = pcx(c.rows, c.pairs);
        RecordingSink sink;
        int r = cPcxReader::decode(d.data(), (long long)d.size(), sink);
        if (c.refused) {
            EXPECT_EQ(cPcxReader::eTruncated, r);
            expectRefusedUnasked(true, sink);
        } else {
            EXPECT_EQ(cPcxReader::eOk, r);
            EXPECT_EQ(c.rows, sink.rows);
        }
    }
}
