// The kit's TIFF writer in all four layouts (classic and BigTIFF, both byte orders): libtiff's
// tiffdump must accept what it writes, and our directory walker must find every directory
// (chain, SubIFDs, EXIF) with the values and the maker-note blob as they were given.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/tiffwalk/tiffgeneric.h"
#include "rawkit/tiffwriter.h"
#include "testutil.h"

using namespace rawkit;

namespace {

// Tags and raw value bytes (file byte order) of one directory.
class DirReader : public cTiffGeneric {
public:
    std::map<int, std::vector<unsigned char>> tags;
    std::map<int, int> types;
    bool onTag(int tag, int type, const void* data, int size) override {
        const unsigned char* p = (const unsigned char*)data;
        tags[tag] = p ? std::vector<unsigned char>(p, p + size) : std::vector<unsigned char>();
        types[tag] = type;
        return true;
    }
    std::vector<unsigned long long> offsets(int tag) {
        std::vector<unsigned long long> r;
        auto& v = tags[tag];
        int es = (types[tag] == 16) ? 8 : 4;
        for (size_t i = 0; i + es <= v.size(); i += es) r.push_back(es == 8 ? getU64(&v[i]) : getU32(&v[i]));
        return r;
    }
};

void readDir(DirReader& d, cFileIOTarget* io, bool be, bool big, unsigned long long at) {
    EXPECT_TRUE(d.processStream(io, be, big, (unsigned)at, ~0ULL)) << "directory at " << at;
}

}  // namespace

TEST(RawKitTiff, WriterLayoutsReadBack) {
    const std::vector<unsigned char> note = {'K', 'I', 'T', 0, 1, 2, 3, 0xFF, 0, 9, 8, 7, 6, 5};
    testutil::TempDir dir;
    for (bool be : {false, true})
        for (bool big : {false, true}) {
            SCOPED_TRACE(testing::Message() << (be ? "MM" : "II") << (big ? " BigTIFF" : " TIFF"));
            TiffWriter t(be, big);
            int ifd0 = t.newIfd(), subA = t.newIfd(), subB = t.newIfd(), exif = t.newIfd(), ifd1 = t.newIfd();
            t.addAscii(ifd0, 271, "Kit");
            t.addAscii(ifd0, 272, "Kit Camera with a long model name");
            t.addLongs(ifd0, 256, {8});
            t.addLongs(ifd0, 257, {2});
            t.addShorts(ifd0, 258, {8});
            t.addShorts(ifd0, 259, {1});
            t.addShorts(ifd0, 262, {1});
            t.addLongs(ifd0, 278, {2});
            t.addBlocks(ifd0, 273, 279, {std::vector<unsigned char>(16, 0x80)});
            t.addIfdPointers(ifd0, 330, {subA, subB});
            t.addIfdPointers(ifd0, 34665, {exif});
            t.addRationals(ifd0, 282, {{72, 1}});
            t.addShorts(subA, 33421, {2, 2});
            t.addBytes(subA, 33422, TiffWriter::tByte, {0, 1, 1, 2});
            t.addLongs(subB, 254, {1});
            t.addMakerNote(exif, note);
            t.addLongs(ifd1, 256, {4});
            t.chain(ifd0, ifd1);
            std::vector<unsigned char> file = t.write(ifd0);

            cBufWrapperIO io(file.data(), (long long)file.size());
            DirReader d0;
            ASSERT_TRUE(d0.processStream(&io, ~0ULL));
            EXPECT_EQ(d0.bigEndian(), be);
            EXPECT_EQ(d0.bigTiff(), big);
            std::string make(d0.tags[271].begin(), d0.tags[271].end());
            EXPECT_EQ(make, std::string("Kit", 4));
            std::vector<unsigned long long> subs = d0.offsets(330), ex = d0.offsets(34665), strips = d0.offsets(273);
            ASSERT_EQ(subs.size(), 2u);
            ASSERT_EQ(ex.size(), 1u);
            ASSERT_EQ(strips.size(), 1u);
            EXPECT_EQ(std::vector<unsigned char>(file.begin() + (long)strips[0], file.begin() + (long)strips[0] + 16),
                      std::vector<unsigned char>(16, 0x80));
            DirReader a;
            readDir(a, &io, be, big, subs[0]);
            EXPECT_EQ(a.tags[33422], (std::vector<unsigned char>{0, 1, 1, 2}));
            DirReader b;
            readDir(b, &io, be, big, subs[1]);
            EXPECT_EQ(b.tags.count(254), 1u);
            DirReader e;
            readDir(e, &io, be, big, ex[0]);
            EXPECT_EQ(e.tags[37500], note);
            ASSERT_NE(d0.nextOffset(), 0u);
            DirReader n;
            readDir(n, &io, be, big, d0.nextOffset());
            EXPECT_EQ(n.tags.count(256), 1u);

            if (!testutil::haveTool("tiffdump")) {
                std::printf("skipped tiffdump: not installed\n");
                continue;
            }
            std::string path = dir.file("kit.tif"), out;
            ASSERT_TRUE(testutil::writeFile(path, file));
            ASSERT_EQ(testutil::run({"tiffdump", path}, &out), 0);
            EXPECT_NE(out.find(big ? "BigTIFF" : "Magic: 0x"), std::string::npos) << out;
            EXPECT_NE(out.find("Directory 1:"), std::string::npos) << out;
            EXPECT_NE(out.find("4<Kit\\0>"), std::string::npos) << out;
            // libtiff finds the SubIFDs where our walker did.
            std::string subText = "2<" + std::to_string(subs[0]) + " " + std::to_string(subs[1]) + ">";
            EXPECT_NE(out.find(subText), std::string::npos) << out;
            EXPECT_EQ(out.find("rror"), std::string::npos) << out;
        }
}
