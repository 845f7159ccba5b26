// Picture model: typed properties, pixel buffers, size checks and the factory's order.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"
#include "picts/pictfactory.h"
#include "jbig2_testenc.h"
#include "testutil.h"

namespace {

int gDestroyed = 0;
class cCountedPict : public cPictBase {
public:
    ~cCountedPict() override { gDestroyed++; }
};

TEST(PictProps, CreatesEachIdWithItsTypeAndRefusesOthers) {
    cPictBase pic;
    struct {
        int id;
        int type;
    } cases[] = {{ppMake, cPictProp::tString},      {ppModel, cPictProp::tString},
                 {ppThumbnail, cPictProp::tImage},  {ppAltImage, cPictProp::tImage},
                 {ppWidth, cPictProp::tInt},        {ppHeight, cPictProp::tInt},
                 {ppCompression, cPictProp::tInt},  {ppMakerNote, cPictProp::tRaw},
                 {ppDateTime, cPictProp::tTime},    {ppExposureTime, cPictProp::tDouble}};
    for (auto& c : cases) {
        EXPECT_EQ(pic.getProp(c.id, false), nullptr) << c.id;
        cPictProp* p = pic.getProp(c.id, true);
        ASSERT_NE(p, nullptr) << c.id;
        EXPECT_EQ(p->type(), c.type) << c.id;
        EXPECT_EQ(pic.getProp(c.id, true), p) << "created twice: " << c.id;
    }
    for (int id = 0; id < ppCount; id++) EXPECT_NE(pic.getProp(id, true), nullptr) << id;
    EXPECT_EQ(pic.getProp(22, true), nullptr);
    EXPECT_EQ(pic.getProp(-1, true), nullptr);
    EXPECT_EQ(pic.props().count(), ppCount);
    // The table stays sorted whatever the creation order.
    for (long long i = 1; i < pic.props().count(); i++)
        EXPECT_LT(pic.props().at(i - 1)->id(), pic.props().at(i)->id());
}

TEST(PictProps, TypedLookupsRefuseOtherTypes) {
    cPictBase pic;
    ASSERT_TRUE(pic.getProp(ppWidth, true)->setInt(640));
    ASSERT_TRUE(pic.getProp(ppMake, true)->setString("Maker", -1));
    EXPECT_FALSE(pic.getProp(ppMake, true)->setInt(3));
    EXPECT_FALSE(pic.getProp(ppWidth, true)->setString("x", -1));
    ASSERT_NE(pic.getPropInt(ppWidth), nullptr);
    EXPECT_EQ(*pic.getPropInt(ppWidth), 640);
    EXPECT_STREQ(pic.getPropString(ppMake), "Maker");
    EXPECT_EQ(pic.getPropInt(ppMake), nullptr);
    EXPECT_EQ(pic.getPropString(ppWidth), nullptr);
    EXPECT_EQ(pic.getPropImage(ppThumbnail), nullptr);
    EXPECT_TRUE(pic.removeProp(ppWidth));
    EXPECT_FALSE(pic.removeProp(ppWidth));
    EXPECT_EQ(pic.getPropInt(ppWidth), nullptr);
    EXPECT_STREQ(pic.getPropString(ppMake), "Maker");
}

TEST(PictProps, ReplacingAnImageDeletesTheOldOneOnce) {
    gDestroyed = 0;
    {
        cPictBase pic;
        cCountedPict* a = new cCountedPict;
        cCountedPict* b = new cCountedPict;
        ASSERT_TRUE(pic.getProp(ppThumbnail, true)->setImage(a));
        EXPECT_EQ(pic.getPropImage(ppThumbnail), a);
        ASSERT_TRUE(pic.getProp(ppThumbnail, true)->setImage(a));  // same one: kept
        EXPECT_EQ(gDestroyed, 0);
        ASSERT_TRUE(pic.getProp(ppThumbnail, true)->setImage(b));
        EXPECT_EQ(gDestroyed, 1);
        ASSERT_TRUE(pic.getProp(ppAltImage, true)->setImage(new cCountedPict));
        EXPECT_TRUE(pic.removeProp(ppAltImage));
        EXPECT_EQ(gDestroyed, 2);
        cCountedPict refused;
        EXPECT_FALSE(pic.getProp(ppWidth, true)->setImage(&refused));  // an int property
    }
    // b with the picture, then the refused one on the stack.
    EXPECT_EQ(gDestroyed, 4);
}

TEST(PictProps, CloseFreesPixelsAndProperties) {
    gDestroyed = 0;
    cPictDummy pic;
    ASSERT_TRUE(pic.create(3, 2, 0xFF102030));
    pic.getProp(ppThumbnail, true)->setImage(new cCountedPict);
    pic.close();
    EXPECT_EQ(gDestroyed, 1);
    EXPECT_EQ(pic.width(), 0);
    EXPECT_EQ(pic.raw8Bpp(), nullptr);
    EXPECT_EQ(pic.getProp(ppThumbnail), nullptr);
}

TEST(PictBase, ColorDataTakesTheHighByteOfSixteenBitChannels) {
    struct {
        unsigned long long in;
        unsigned int out;
    } cases[] = {
        {0xFFFF'FFFF'FFFF'FFFFULL, 0xFFFFFFFFu},
        {0x0000'0000'0000'0000ULL, 0x00000000u},
        {0x8000'1234'ABCD'00FFULL, 0x8012AB00u},  // A, R, G, B from high to low
        {0x00FF'0100'FF00'7F80ULL, 0x0001FF7Fu},
    };
    cPictBase pic;
    ASSERT_TRUE(pic.allocPixels(4, 1, true));
    for (int i = 0; i < 4; i++) pic.raw16Bpp()[i] = cases[i].in;
    EXPECT_EQ(pic.raw8Bpp(), nullptr);
    _typebuf<unsigned int> out;
    ASSERT_TRUE(pic.getColorData(out));
    ASSERT_EQ(out.count, 4);
    for (int i = 0; i < 4; i++) EXPECT_EQ(out.ptr[i], cases[i].out) << i;
    // 8 -> 16 -> 8 is lossless.
    for (unsigned int v : {0u, 0xFFFFFFFFu, 0x80FF0102u, 0x12345678u}) EXPECT_EQ(cPictBase::to8Bpp(cPictBase::to16Bpp(v)), v);
    cPictBase empty;
    EXPECT_FALSE(empty.getColorData(out));
}

TEST(PictBase, MoveFlipAndMoveToColorData) {
    cPictDummy a;
    ASSERT_TRUE(a.create(2, 3, 0));
    for (int i = 0; i < 6; i++) a.raw8Bpp()[i] = (unsigned)i;  // rows {0,1} {2,3} {4,5}
    a.flip();
    unsigned int flipped[6] = {4, 5, 2, 3, 0, 1};
    for (int i = 0; i < 6; i++) EXPECT_EQ(a.raw8Bpp()[i], flipped[i]);
    cPictDummy b;
    a.moveTo(b);
    EXPECT_EQ(a.width(), 0);
    EXPECT_EQ(a.raw8Bpp(), nullptr);
    EXPECT_EQ(b.width(), 2);
    EXPECT_EQ(b.height(), 3);
    _typebuf<unsigned int> out;
    ASSERT_TRUE(b.moveToColorData(out));
    EXPECT_EQ(out.count, 6);
    EXPECT_EQ(out.ptr[0], 4u);
    EXPECT_EQ(b.raw8Bpp(), nullptr);
}

TEST(SizeCheck, RefusesOverflowAndOversizedPictures) {
    struct {
        long long w, h, bpp;
        bool ok;
    } cases[] = {
        // The default decode budget: 2^28 pixels and 1 GiB, whichever comes first.
        {1, 1, 4, true},
        {16384, 16384, 4, true},   // 2^28 pixels, exactly 1 GiB
        {16384, 16385, 1, false},  // one row of pixels too many
        {16384, 8192, 8, true},    // 64-bit pixels: exactly 1 GiB
        {16384, 8193, 8, false},
        {0, 10, 4, false},
        {-1, 10, 4, false},
        {10, 10, 0, false},
        {0x7FFFFFFFFFFFFFFFLL, 2, 1, false},
        {3037000500LL, 3037000500LL, 1, false},  // square overflows 63 bits
        {1LL << 28, 1, 1, true},
        {(1LL << 28) + 1, 1, 1, false},
    };
    for (auto& c : cases) {
        long long bytes = -7;
        EXPECT_EQ(checkedImageBytes(c.w, c.h, c.bpp, bytes), c.ok) << c.w << "x" << c.h << "x" << c.bpp;
        if (c.ok)
            EXPECT_EQ(bytes, c.w * c.h * c.bpp);
        else
            EXPECT_EQ(bytes, -7);
    }
    // Compact pages: rows rounded up to whole bytes; the pixel budget as for any picture.
    struct {
        long long w, h, bits, bytes;  // bytes -1: refused
    } pages[] = {{9, 2, 1, 4},           {16384, 16384, 1, 1LL << 25}, {16384, 16385, 1, -1},
                 {16384, 16384, 16, 1LL << 29}, {16384, 8192, 64, 1LL << 30}, {16384, 8193, 64, -1},
                 {0, 5, 1, -1}};
    for (auto& c : pages) {
        long long bytes = -1;
        EXPECT_EQ(checkedPageBytes(c.w, c.h, c.bits, bytes), c.bytes >= 0) << c.w << "x" << c.h << "x" << c.bits;
        EXPECT_EQ(bytes, c.bytes);
    }
    cPictDummy d;
    EXPECT_FALSE(d.create(1 << 20, 1 << 20, 0));
    EXPECT_FALSE(d.allocBits(1 << 20, 1 << 20, false));
    EXPECT_EQ(d.pageKind(), cPictBase::pgNone);
    EXPECT_EQ(d.width(), 0);
}

// A caller's budget holds for every decoder: each fixture is refused one pixel short of its
// size, the refusal naming it, and decodes at exactly its size. JBIG2 reports its page size but
// refuses a huge page before allocating anything for it.
TEST(SizeCheck, DecodeBudgetHoldsForEveryDecoder) {
    const std::string data = std::string(QMX_TEST_DATA) + "/picts/";
    jbig2test::Bitmap page = jbig2test::sample(40, 30, 3);
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        long long w, h;
    } cases[] = {
        {"jpeg", testutil::readFile(data + "jpeg/base420.jpg"), 0, 0},
        {"jpeg 2000", testutil::readFile(data + "jpeg2000/grey.j2k"), 0, 0},
        {"png", testutil::readFile(data + "png/graya8.png"), 0, 0},
        {"jbig2", jbig2test::jbig2File(page, jbig2test::Options()), 40, 30},
    };
    char msg[200];
    struct Restore {
        ~Restore() { setPictDecodeBudget(0, 0); }
    } restore;  // the defaults again for the tests that follow, whatever fails here
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        cBufWrapperIO s(c.bytes.data(), (long long)c.bytes.size());
        cPictBase::sPictInfo info;
        std::unique_ptr<cPictBase> p(cPictBase::mkPicture(&s, &info));
        ASSERT_TRUE(p);
        setPictDecodeBudget(info.width * info.height - 1, 0);
        clearPictBudgetRefusal();
        EXPECT_FALSE(p->decode(&s));
        EXPECT_EQ(p->width(), 0);
        const sPictBudgetRefusal r = pictBudgetRefusal();
        EXPECT_TRUE(r.width == info.width && r.height == info.height) << r.width << " x " << r.height;
        pictBudgetMessage(msg, sizeof(msg));
        EXPECT_NE(strstr(msg, (std::to_string(info.width) + " x " + std::to_string(info.height)).c_str()), nullptr)
            << msg;
        setPictDecodeBudget(info.width * info.height, 0);
        s.set_fp(0);
        EXPECT_TRUE(p->decode(&s));
    }
    setPictDecodeBudget(0, 0);
    // 40000 x 40000 black pixels from about 250 bytes: a picture, refused when decoded.
    std::vector<unsigned char> huge = jbig2test::jbig2Page(40000, 40000, 4, {{page, 7, 9, 4}});
    EXPECT_LT(huge.size(), 300u);
    cBufWrapperIO s(huge.data(), (long long)huge.size());
    cPictBase::sPictInfo info;
    std::unique_ptr<cPictBase> p(cPictBase::mkPicture(&s, &info));
    ASSERT_TRUE(p);
    EXPECT_EQ(info.width, 40000);
    clearPictBudgetRefusal();
    EXPECT_FALSE(p->decode(&s));
    EXPECT_EQ(pictBudgetRefusal().width, 40000);
    pictBudgetMessage(msg, sizeof(msg));
    EXPECT_STREQ(msg, "a picture of 40000 x 40000 pixels (191 MiB) is over the decode budget of 256 megapixels and 1024 MiB");
}

int positionOf(int kind) {
    int n;
    const sPictFactoryEntry* t = pictFactoryTable(n);
    for (int i = 0; i < n; i++)
        if (t[i].kind == kind) return i + 1;
    return -1;
}

TEST(PictFactory, OrderMeetsEveryConstraint) {
    using P = cPictBase;
    EXPECT_EQ(positionOf(P::pkJP2), 7);
    EXPECT_EQ(positionOf(P::pkJ2K), 8);
    int raw[] = {P::pkCR2, P::pkCRW, P::pkCR3, P::pkNEF, P::pk3FR, P::pkMOS, P::pkMRW, P::pkRWL, P::pkORF,
                 P::pkX3F, P::pkPEF, P::pkARW, P::pkSRW, P::pkIIQ, P::pkRAF};
    for (int k : raw) {
        ASSERT_GT(positionOf(k), 0) << k;
        EXPECT_LT(positionOf(k), positionOf(P::pkDNG)) << k;
    }
    std::vector<std::pair<int, int>> before = {
        {P::pkCR2, P::pkNEF},  {P::pkCRW, P::pkNEF},   {P::pkCR3, P::pkNEF},      {P::pkNEF, P::pk3FR},
        {P::pk3FR, P::pkDNG},  {P::pkDNG, P::pkTIFFEP}, {P::pkTIFFEP, P::pkTIFF}, {P::pkMRW, P::pkRWL},
        {P::pkRWL, P::pkORF},  {P::pkORF, P::pkX3F},   {P::pkX3F, P::pkPEF},      {P::pkPEF, P::pkARW},
        {P::pkSRW, P::pkIIQ},  {P::pkIIQ, P::pkRAF},   {P::pkPCX, P::pkDICOM},
    };
    for (auto& b : before) EXPECT_LT(positionOf(b.first), positionOf(b.second)) << b.first << " " << b.second;
    int n;
    const sPictFactoryEntry* t = pictFactoryTable(n);
    // PCX, DICOM, DICOM without preamble, JBIG2, then one last.
    EXPECT_EQ(positionOf(P::pkDICOM), positionOf(P::pkPCX) + 1);
    EXPECT_EQ(positionOf(P::pkDICOMLegacy), positionOf(P::pkDICOM) + 1);
    EXPECT_EQ(positionOf(P::pkJBIG2), positionOf(P::pkDICOMLegacy) + 1);
    EXPECT_EQ(positionOf(P::pkJBIG2), n - 1);
    std::set<int> kinds;  // each kind once
    for (int i = 0; i < n; i++) EXPECT_TRUE(kinds.insert(t[i].kind).second) << t[i].kind;
}

TEST(PictFactory, UnknownDataGivesNullAndKeepsThePosition) {
    std::vector<unsigned char> junk(300, 0x5A);
    cBufWrapperIO io(junk.data(), (long long)junk.size());
    io.set_fp(17);
    cPictBase::sPictInfo info;
    EXPECT_EQ(cPictBase::mkPicture(&io, &info), nullptr);
    EXPECT_EQ(io.get_fp(), 17u);
    EXPECT_EQ(cPictBase::mkPicture(nullptr, &info), nullptr);
}

// Peer-made files of each wired format come back as their kind, with their size.
TEST(PictFactory, RecognisesPeerMadeFiles) {
    if (!testutil::haveTool("convert")) GTEST_SKIP() << "convert not installed";
    testutil::TempDir dir;
    struct {
        const char* name;
        int kind;
    } cases[] = {{"a.png", cPictBase::pkPNG}, {"a.jpg", cPictBase::pkJPEG}, {"a.gif", cPictBase::pkGIF},
                 {"a.bmp", cPictBase::pkBMP}, {"a.ppm", cPictBase::pkPPM}};
    for (auto& c : cases) {
        std::string f = dir.file(c.name);
        ASSERT_EQ(testutil::run({"convert", "-size", "21x13", "gradient:white-black", f}), 0) << c.name;
        auto d = testutil::readFile(f);
        cBufWrapperIO io(d.data(), (long long)d.size());
        cPictBase::sPictInfo info;
        cPictBase* p = cPictBase::mkPicture(&io, &info);
        ASSERT_NE(p, nullptr) << c.name;
        EXPECT_EQ(p->typeOf(), c.kind) << c.name;
        EXPECT_EQ(info.width, 21) << c.name;
        EXPECT_EQ(info.height, 13) << c.name;
        EXPECT_EQ(io.get_fp(), 0u);
        // The six-argument preview: a full decode fitted within 8 x 8.
        cPictDummy holder;
        EXPECT_EQ(p->getPreview(&io, holder, 8, 8, true, 0xFFFFFF), 0) << c.name;
        EXPECT_EQ(holder.width(), 8) << c.name;
        EXPECT_EQ(holder.height(), 5) << c.name;
        io.set_fp(0);
        cPictDummy none;
        EXPECT_EQ(p->getPreview(&io, none, 8, 8, false, 0), 2) << c.name;
        delete p;
    }
}
}  // namespace
