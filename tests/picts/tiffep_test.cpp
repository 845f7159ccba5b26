// cPictTIFF_EP on TIFF/EP files written with the raw test kit: one colour-filter frame stored
// uncompressed (both byte orders, strips and tiles), packed 12-bit and as lossless JPEG must
// decode to one picture, the raw pipeline run on the frame itself.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/memio.h"
#include "picts/pictfactory.h"
#include "picts/tiff/picttiffep.h"
#include "rawkit/ljpegenc.h"
#include "rawkit/peers.h"
#include "rawkit/tiffwriter.h"
#include "testutil.h"

namespace {
typedef std::vector<unsigned char> Bytes;
const int W = 32, H = 24;

std::vector<uint16_t> makeFrame() {
    Bytes r = testutil::randomBytes(W * H * 2, 41);
    std::vector<uint16_t> f(W * H);
    // A smooth ramp with noise, within 12 bits so every storage holds it exactly.
    for (int i = 0; i < W * H; i++) f[i] = (uint16_t)(((i % W) * 90 + (i / W) * 40 + r[2 * i] * 4) & 0xFFF);
    return f;
}

enum eStore { sPlain16, sPlain16BE, sTiles16, sPacked12, sLJpeg };

Bytes writeEP(const std::vector<uint16_t>& frame, eStore store, int rawDirs = 1, bool withId = true) {
    bool be = store == sPlain16BE;
    rawkit::TiffWriter t(be, false);
    int ifd0 = t.newIfd();
    // IFD0: an 8 x 6 RGB preview and the standard identifier.
    t.addLongs(ifd0, 256, {8});
    t.addLongs(ifd0, 257, {6});
    t.addShorts(ifd0, 258, {8, 8, 8});
    t.addShorts(ifd0, 259, {1});
    t.addShorts(ifd0, 262, {2});
    t.addShorts(ifd0, 277, {3});
    t.addBlocks(ifd0, 273, 279, {Bytes(8 * 6 * 3, 200)});
    if (withId) t.addBytes(ifd0, 37398, rawkit::TiffWriter::tByte, {1, 0, 0, 0});
    std::vector<int> raws;
    for (int k = 0; k < rawDirs; k++) {
        int r = t.newIfd();
        raws.push_back(r);
        t.addLongs(r, 256, {W});
        t.addLongs(r, 257, {H});
        t.addShorts(r, 262, {32803});
        t.addShorts(r, 277, {1});
        t.addShorts(r, 33421, {2, 2});
        t.addBytes(r, 33422, rawkit::TiffWriter::tByte, {0, 1, 1, 2});
        Bytes data;
        if (store == sPacked12) {
            t.addShorts(r, 258, {12});
            t.addShorts(r, 259, {32769});
            for (size_t i = 0; i + 1 < frame.size(); i += 2) {
                data.push_back((unsigned char)(frame[i] >> 4));
                data.push_back((unsigned char)((frame[i] & 15) << 4 | frame[i + 1] >> 8));
                data.push_back((unsigned char)frame[i + 1]);
                if ((i / 2 + 1) % 5 == 0) data.push_back(0);
            }
            t.addBlocks(r, 273, 279, {data});
        } else if (store == sLJpeg) {
            t.addShorts(r, 258, {16});
            t.addShorts(r, 259, {7});
            rawkit::LjComp c;
            c.w = W, c.hgt = H;
            c.px = frame;
            rawkit::LjOptions o;
            o.precision = 16;
            t.addBlocks(r, 273, 279, {rawkit::encodeLossless({c}, W, H, o)});
        } else {
            t.addShorts(r, 258, {16});
            t.addShorts(r, 259, {1});
            auto put = [&](Bytes& b, uint16_t v) {
                b.push_back((unsigned char)(be ? v >> 8 : v));
                b.push_back((unsigned char)(be ? v : v >> 8));
            };
            if (store == sTiles16) {
                // 16 x 16 tiles: the last row of tiles runs past the frame.
                std::vector<Bytes> tiles;
                for (int ty = 0; ty < H; ty += 16)
                    for (int tx = 0; tx < W; tx += 16) {
                        Bytes tile;
                        for (int y = ty; y < ty + 16; y++)
                            for (int x = tx; x < tx + 16; x++) put(tile, y < H ? frame[y * W + x] : 0);
                        tiles.push_back(tile);
                    }
                t.addLongs(r, 322, {16});
                t.addLongs(r, 323, {16});
                t.addBlocks(r, 324, 325, tiles);
            } else {
                for (uint16_t v : frame) put(data, v);
                t.addLongs(r, 278, {10});
                std::vector<Bytes> strips;
                for (int y = 0; y < H; y += 10)
                    strips.emplace_back(data.begin() + y * W * 2, data.begin() + std::min(H, y + 10) * W * 2);
                t.addBlocks(r, 273, 279, strips);
            }
        }
    }
    t.addIfdPointers(ifd0, 330, raws);
    return t.write(ifd0);
}

// The answer of the factory slot of `kind` for a stream.
bool factoryProbe(int kind, cFileIOTarget& io) {
    int n;
    const sPictFactoryEntry* t = pictFactoryTable(n);
    for (int i = 0; i < n; i++) {
        if (t[i].kind != kind || !t[i].validFor) continue;
        cPictBase::sPictInfo info;
        io.set_fp(0);
        return t[i].validFor(&io, &info);
    }
    return false;
}

std::vector<unsigned long long> decodeEP(const Bytes& file, bool& ok) {
    cBufWrapperIO s(file.data(), (long long)file.size());
    cPictTIFF_EP d;
    ok = d.decode(&s) && d.is16Bpp() && d.width() == W && d.height() == H;
    if (!ok) return {};
    return std::vector<unsigned long long>(d.raw16Bpp(), d.raw16Bpp() + W * H);
}
}  // namespace

TEST(TiffEP, EveryStorageOfOneFrameDecodesToThePipelinesPicture) {
    const std::vector<uint16_t> frame = makeFrame();
    // Every storage holds the 12-bit frame exactly: all decode to the same picture.
    const std::vector<unsigned long long> ref16 = rawkit::pipelineReference(frame, W, H, 0, nullptr, nullptr);
    for (eStore store : {sPlain16, sPlain16BE, sTiles16, sPacked12, sLJpeg}) {
        SCOPED_TRACE(store);
        bool ok;
        std::vector<unsigned long long> got = decodeEP(writeEP(frame, store), ok);
        ASSERT_TRUE(ok);
        EXPECT_TRUE(got == ref16);
    }
}

TEST(TiffEP, PagesArePreviewlessSubDirectories) {
    const std::vector<uint16_t> frame = makeFrame();
    Bytes three = writeEP(frame, sPlain16, 3);
    cBufWrapperIO s(three.data(), (long long)three.size());
    cPictTIFF_EP d;
    cPictBase::sPictInfo info;
    ASSERT_TRUE(d.isPicture(&s, &info));
    EXPECT_EQ(info.width, W);
    EXPECT_EQ(info.height, H);
    EXPECT_TRUE(info.hasPreview);
    EXPECT_EQ(d.getNumPages(&s), 3);
    long long w, h;
    EXPECT_TRUE(d.getPageSize(&s, 2, w, h));
    EXPECT_FALSE(d.getPageSize(&s, 3, w, h));
    EXPECT_TRUE(d.decodePage(&s, 2));
    EXPECT_FALSE(d.decodePage(&s, 3));
    cPictDummy prev;
    long long mw = 100, mh = 100;
    ASSERT_TRUE(d.getPreview(&s, &prev, &mw, &mh));
    EXPECT_EQ(prev.width(), 8);
    EXPECT_EQ(prev.height(), 6);
    // The factory's TIFF/EP slot takes it (whether an earlier camera slot claims it first is
    // that decoder's probe).
    EXPECT_TRUE(factoryProbe(cPictBase::pkTIFFEP, s));
    // Without the identifier it is no TIFF/EP file (the plain TIFF slot takes it).
    Bytes plain = writeEP(frame, sPlain16, 1, false);
    cBufWrapperIO p(plain.data(), (long long)plain.size());
    cPictTIFF_EP e;
    EXPECT_FALSE(e.isPicture(&p, &info));
    EXPECT_EQ(e.getNumPages(&p), 0);
    EXPECT_FALSE(factoryProbe(cPictBase::pkTIFFEP, p));
    EXPECT_TRUE(factoryProbe(cPictBase::pkTIFF, p));
}

TEST(TiffEP, Packed12NeverReadsPastItsInput) {
    _typebuf<unsigned char> out;
    const unsigned char v[3] = {0x12, 0x34, 0x56};
    ASSERT_TRUE(cPictTIFF_EP::unpackPacked12(v, 3, out));
    ASSERT_EQ(out.count, 4);
    EXPECT_EQ(((unsigned short*)out.ptr)[0], 0x123);
    EXPECT_EQ(((unsigned short*)out.ptr)[1], 0x456);
    // Every length up to two blocks: heap copies of exactly that size (ASan checks the reads).
    Bytes src = testutil::randomBytes(40, 3);
    for (size_t n = 0; n <= src.size(); n++) {
        unsigned char* heap = new unsigned char[n ? n : 1];
        if (n) memcpy(heap, src.data(), n);
        bool ok = cPictTIFF_EP::unpackPacked12(heap, (long long)n, out);
        EXPECT_EQ(ok, n >= 3) << n;
        if (ok) {
            EXPECT_EQ(out.count, (long long)((n / 16) * 5 + (n % 16 >= 15 ? 5 : n % 16 / 3)) * 4) << n;
        }
        delete[] heap;
    }
}
