// EXIF metadata from a crafted APP1 payload, and 8BIM resource lists.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/memio.h"
#include "picts/exif/exifdecoder.h"
#include "picts/exif/md8bim.h"
#include "tiffbytes.h"

namespace {

// The TIFF part of an APP1 "Exif\0\0" block, big-endian as cameras write it:
// IFD0 {Make, Model, DateTime, ExifIFD}, next -> IFD1 {Compression 6, thumb offset, length};
// EXIF IFD {ExposureTime 1/250, DateTimeOriginal, PixelX 640, PixelY 480, MakerNote}.
std::vector<unsigned char> craftExif(bool be, unsigned thumbLen) {
    TiffBytes t(be, false);
    t.header(8);
    // IFD0 at 8: 4 entries -> 2 + 48 + 4 = 54 bytes, data from 62.
    unsigned data = 62;
    t.count(4);
    t.entryOff(0x10F, 2, 8, data);        // "MakerCo\0" at 62
    t.entryOff(0x110, 2, 10, data + 8);   // "Model X1 \0" at 70 (trailing blank trimmed)
    t.entryOff(0x132, 2, 20, data + 18);  // date at 80
    t.entry(0x8769, 4, 1, t.s32(100));    // EXIF IFD at 100
    t.u32(200);                           // IFD1 at 200
    t.str(std::string("MakerCo\0", 8));
    t.str(std::string("Model X1 \0", 10));
    t.str(std::string("2021:02:03 04:05:06\0", 20));
    while (t.size() < 100) t.u8(0);
    // EXIF IFD at 100: 5 entries -> 2 + 60 + 4 = 66 -> data at 166.
    t.count(5);
    t.entryOff(0x829A, 5, 1, 166);        // 1/250
    t.entryOff(0x9003, 2, 20, 174);       // date original
    t.entry(0xA002, 3, 1, t.s16(640));
    t.entry(0xA003, 4, 1, t.s32(480));
    t.entry(0x927C, 7, 4, {'N', 'o', 't', 'e'});  // inline maker note at entry 5's value field
    t.u32(0);
    t.u32(1);
    t.u32(250);
    t.str(std::string("2020:12:31 23:59:58\0", 20));
    while (t.size() < 200) t.u8(0);
    // IFD1 at 200: 3 entries -> 2 + 36 + 4 = 42 -> thumbnail at 242.
    t.count(3);
    t.entry(259, 3, 1, t.s16(6));
    t.entry(0x201, 4, 1, t.s32(242));
    t.entry(0x202, 4, 1, t.s32(thumbLen));
    t.u32(0);
    for (unsigned i = 0; i < thumbLen; i++) t.u8(i == 0 ? 0xFF : i == 1 ? 0xD8 : (i * 7) & 0xFF);
    return t.b;
}

TEST(ExifDecoder, ReadsMainExifAndThumbnailDirectories) {
    for (bool be : {true, false}) {
        auto d = craftExif(be, 30);
        cBufWrapperIO io(d.data(), (long long)d.size());
        cPictBase pic;
        cExifDecoder ex;
        ASSERT_TRUE(ex.decode(&pic, &io, cExifDecoder::dkMain)) << "error " << ex.error();
        EXPECT_STREQ(pic.getPropString(ppMake), "MakerCo");
        EXPECT_STREQ(pic.getPropString(ppModel), "Model X1");
        ASSERT_NE(pic.getPropTime(ppDateTime), nullptr);
        const sTimestamp* t = pic.getPropTime(ppDateTime);
        EXPECT_EQ(t->year, 2021);
        EXPECT_EQ(t->month, 2);
        EXPECT_EQ(t->day, 3);
        EXPECT_EQ(t->second, 6);
        ASSERT_NE(pic.getPropTime(ppDateTimeOriginal), nullptr);
        EXPECT_EQ(pic.getPropTime(ppDateTimeOriginal)->year, 2020);
        ASSERT_NE(pic.getPropDouble(ppExposureTime), nullptr);
        EXPECT_DOUBLE_EQ(*pic.getPropDouble(ppExposureTime), 1.0 / 250);
        ASSERT_NE(pic.getPropInt(ppWidth), nullptr);
        EXPECT_EQ(*pic.getPropInt(ppWidth), 640);
        EXPECT_EQ(*pic.getPropInt(ppHeight), 480);
        // The thumbnail directory's compression does not describe the picture.
        EXPECT_EQ(pic.getPropInt(ppCompression), nullptr);
        const cPictProp* mn = pic.getPropRaw(ppMakerNote);
        ASSERT_NE(mn, nullptr);
        ASSERT_EQ(mn->rawValue.count, 4);
        EXPECT_EQ(memcmp(mn->rawValue.ptr, "Note", 4), 0);
        EXPECT_EQ(mn->rawOffset, 102u + 4 * 12 + 8);  // value field of the fifth entry
        // Thumbnail bytes kept as stored.
        ASSERT_EQ(ex.thumbnailData().count, 30);
        EXPECT_EQ(ex.thumbnailOffset(), 242u);
        EXPECT_EQ(memcmp(ex.thumbnailData().ptr, d.data() + 242, 30), 0);
    }
}

TEST(ExifDecoder, HostileThumbnailAndCyclesFailCleanly) {
    // Thumbnail length past the end: not read, the rest still decoded.
    auto d = craftExif(true, 30);
    d.resize(d.size() - 10);
    cBufWrapperIO io(d.data(), (long long)d.size());
    cPictBase pic;
    cExifDecoder ex;
    EXPECT_TRUE(ex.decode(&pic, &io, 0));
    EXPECT_EQ(ex.thumbnailData().count, 0);
    EXPECT_STREQ(pic.getPropString(ppMake), "MakerCo");
    // EXIF IFD pointing back at IFD0: the cycle is refused, not followed forever.
    auto c = craftExif(false, 4);
    c[8 + 2 + 3 * 12 + 8] = 8;  // ExifIFD value (LE) -> 8
    c[8 + 2 + 3 * 12 + 9] = 0;
    cBufWrapperIO io2(c.data(), (long long)c.size());
    cPictBase pic2;
    cExifDecoder ex2;
    EXPECT_FALSE(ex2.decode(&pic2, &io2, 0));
    EXPECT_EQ(ex2.error(), cTiffGeneric::teCycle);
    // Every prefix: no crash, and never more than the full result.
    auto full = craftExif(false, 16);
    for (size_t n = 0; n < full.size(); n++) {
        cBufWrapperIO p(full.data(), (long long)n);
        cPictBase pp;
        cExifDecoder e;
        e.decode(&pp, &p, 0);
    }
}

TEST(ExifDecoder, DecodeDirectWalksOneDirectory) {
    auto d = craftExif(false, 4);
    cBufWrapperIO io(d.data(), (long long)d.size());
    cPictBase pic;
    cExifDecoder ex;
    ASSERT_TRUE(ex.decodeDirect(&pic, &io, cExifDecoder::dkExif, 100, false, false, ~0ULL));
    EXPECT_EQ(*pic.getPropInt(ppWidth), 640);
    EXPECT_EQ(pic.getPropString(ppMake), nullptr);  // IFD0 not walked
    EXPECT_EQ(ex.thumbnailData().count, 0);
}

std::vector<unsigned char> res8bim(unsigned id, const std::string& name, const std::vector<unsigned char>& data,
                                   bool pad = true) {
    std::vector<unsigned char> v = {'8', 'B', 'I', 'M', (unsigned char)(id >> 8), (unsigned char)id};
    v.push_back((unsigned char)name.size());
    v.insert(v.end(), name.begin(), name.end());
    if ((1 + name.size()) & 1) v.push_back(0);  // name field padded to even
    unsigned n = (unsigned)data.size();
    for (int s = 24; s >= 0; s -= 8) v.push_back((unsigned char)(n >> s));
    v.insert(v.end(), data.begin(), data.end());
    if (pad && (n & 1)) v.push_back(0);
    return v;
}

TEST(Md8BIM, ParsesNamesPaddingAndRepeatedIds) {
    std::vector<unsigned char> all;
    auto add = [&](std::vector<unsigned char> r) { all.insert(all.end(), r.begin(), r.end()); };
    add(res8bim(0x0404, "", {1, 2, 3}));          // empty name: 2-byte field, odd data padded
    add(res8bim(0x040C, "abc", {9, 9}));          // name field 4 bytes
    add(res8bim(0x03ED, "ab", {7, 7, 7, 7}));     // name field 3 -> padded to 4
    add(res8bim(0x0404, "x", {5}, false));        // repeated id, last one unpadded
    cMd8BIM md;
    ASSERT_TRUE(md.processMD(all.data(), (long long)all.size(), true));
    EXPECT_EQ(md.count(), 4);
    struct {
        unsigned key;
        std::vector<unsigned char> data;
    } want[] = {{0x0404u << 16, {1, 2, 3}}, {0x040Cu << 16, {9, 9}}, {0x03EDu << 16, {7, 7, 7, 7}},
                {(0x0404u << 16) + 1, {5}}};
    for (auto& w : want) {
        const cMd8BIM::sProp* p = md.prop(w.key);
        ASSERT_NE(p, nullptr) << std::hex << w.key;
        ASSERT_EQ(p->size, w.data.size());
        EXPECT_EQ(memcmp(p->data, w.data.data(), w.data.size()), 0);
    }
    EXPECT_EQ(md.prop(0x0405u << 16), nullptr);
    // Every truncation fails cleanly, keeping what came before.
    for (size_t n = 1; n < all.size(); n++) {
        cMd8BIM t;
        bool ok = t.processMD(all.data(), (long long)n, true);
        if (ok) {
            EXPECT_LE(t.count(), 4);
        }
    }
    // A bad signature and a length past the end.
    auto bad = res8bim(1, "", {1, 2});
    bad[0] = 'X';
    EXPECT_FALSE(md.processMD(bad.data(), (long long)bad.size(), true));
    auto longer = res8bim(1, "", {1, 2});
    longer[11] = 0x40;
    EXPECT_FALSE(md.processMD(longer.data(), (long long)longer.size(), true));
    EXPECT_EQ(md.count(), 0);
}

}  // namespace
