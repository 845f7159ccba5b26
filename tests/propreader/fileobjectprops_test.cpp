// The property store, the file-type tables and the reader choice, with the picture reader.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "base/memio.h"
#include "propreader/fileobjectprops.h"
#include "testutil.h"

namespace {

std::unique_ptr<cFileObjectProps> guess(const std::vector<unsigned char>& bytes, cBufWrapperIO& io) {
    io.wrap(bytes.data(), (long long)bytes.size());
    return std::unique_ptr<cFileObjectProps>(cFileObjectProps::guessObj(&io));
}

const char kXpm[] =
    "/* XPM */\nstatic char *x[] = {\n\"4 2 2 1\",\n\"a c #FF0000\",\n\"b c #0000FF\",\n\"abab\",\n\"baba\"};\n";

}  // namespace

TEST(FileObjectProps, TablesAnswerByTypeAndId) {
    EXPECT_EQ(cFileObjectProps::prop_type(3), cFileObjectProps::ptPicture);
    EXPECT_EQ(cFileObjectProps::prop_type(13), cFileObjectProps::ptTime);
    EXPECT_EQ(cFileObjectProps::prop_type(17), cFileObjectProps::ptDouble);
    EXPECT_EQ(cFileObjectProps::prop_type(22), 0);
    EXPECT_EQ(cFileObjectProps::prop_type(-1), 0);
    EXPECT_EQ(cFileObjectProps::default_extension(31), nullptr);
    EXPECT_STREQ(cFileObjectProps::content_type(31), "video/mp4");
    EXPECT_EQ(cFileObjectProps::media_type(32), 3);
    EXPECT_EQ(cFileObjectProps::content_type(33), nullptr);
    EXPECT_STREQ(cFileObjectProps::type_name(29), "TIFF for Electronic Photography");
}

TEST(FileObjectProps, StoreRefusesWrongTypesAndCloseEmptiesIt) {
    cSimpleImageProps p(nullptr);
    EXPECT_FALSE(p.setProp(6, 5));  // a string id
    EXPECT_FALSE(p.has_prop(6));
    EXPECT_FALSE(p.setProp(0, "text"));
    EXPECT_FALSE(p.setProp(13, 1.5));
    cPictDummy empty;
    EXPECT_FALSE(p.setProp(2, &empty));
    sTimestamp t = {2024, 1, 2, 3, 4, 5};
    EXPECT_TRUE(p.setProp(13, t));
    EXPECT_TRUE(p.has_prop(13));
    EXPECT_TRUE(p.setProp(6, "abcdef", 3));
    EXPECT_STREQ(p.prop_string(6), "abc");
    EXPECT_TRUE(p.setProp(6, "replaced"));
    EXPECT_STREQ(p.prop_string(6), "replaced");
    cPictDummy pict;
    ASSERT_TRUE(pict.create(3, 2, 0xFF00FF00));
    EXPECT_TRUE(p.setProp(3, &pict));
    EXPECT_EQ(pict.raw8Bpp(), nullptr);  // moved, not copied
    ASSERT_NE(p.prop_pict(3), nullptr);
    EXPECT_EQ(p.prop_pict(3)->width(), 3);
    p.setPreviewPreferrences(5, 5);
    p.close();
    EXPECT_FALSE(p.has_prop(13) || p.has_prop(6) || p.has_prop(3));
    EXPECT_EQ(p.previewWidth(), -1);
}

TEST(FileObjectProps, GuessesTheReaderByContent) {
    struct {
        const char* what;
        std::vector<unsigned char> bytes;
        int type;  // -1: no reader
    } cases[] = {
        {"JPEG", testutil::readFile(std::string(QMX_TEST_DATA) + "/picts/jpeg/base420.jpg"), 8},
        {"PNG", testutil::readFile(std::string(QMX_TEST_DATA) + "/picts/png/graya8.png"), 10},
        {"XPM", std::vector<unsigned char>(kXpm, kXpm + sizeof kXpm - 1), 14},
        {"PE", testutil::readFile(std::string(QMX_TEST_DATA) + "/propreader/full.exe"), 0},
        {"random bytes", testutil::randomBytes(3000, 7), -1},
        {"MZ without PE", {'M', 'Z', 0, 0, 0, 0, 0, 0}, -1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.bytes.empty());
        cBufWrapperIO io;
        auto r = guess(c.bytes, io);
        if (c.type < 0) {
            EXPECT_EQ(r, nullptr);
            continue;
        }
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->typeOf(), c.type);
        if (c.type == 8) {
            EXPECT_STREQ(r->default_extension(), "jpg");
            EXPECT_STREQ(r->content_type(), "image/jpeg");
            EXPECT_STREQ(r->type_name(), "JPEG Image");
            EXPECT_EQ(r->media_type(), 1);
        }
    }
    EXPECT_EQ(cFileObjectProps::guessObj(nullptr), nullptr);
}

TEST(FileObjectProps, PictureReaderStoresSizeAndPreviewAsWished) {
    std::vector<unsigned char> jpg = testutil::readFile(std::string(QMX_TEST_DATA) + "/picts/jpeg/base420.jpg");
    cBufWrapperIO io;
    auto r = guess(jpg, io);
    ASSERT_NE(r, nullptr);
    struct {
        int w, h;
        bool wantPreview, preview;
    } cases[] = {
        {0, 16, true, false},    // no preview wished
        {16, 16, false, false},  // no embedded preview and no full decode wanted
        {16, 16, true, true},
    };
    for (auto& c : cases) {
        r->close();
        r->setPreviewPreferrences(c.w, c.h);
        ASSERT_TRUE(r->load(&io, 0, c.wantPreview));
        ASSERT_NE(r->prop_int(0), nullptr);
        ASSERT_NE(r->prop_int(1), nullptr);
        EXPECT_GT(*r->prop_int(0), 16);
        EXPECT_EQ(r->has_prop(3), c.preview);
        if (c.preview) {
            cPictDummy* p = r->prop_pict(3);
            EXPECT_TRUE(p->width() <= 16 && p->height() <= 16 && (p->width() == 16 || p->height() == 16));
        }
    }
}
