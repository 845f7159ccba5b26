// Hostile JPEG input: every truncation, random damage, impossible headers and tables.
// Each must end with a clean failure (no crash, leak or huge allocation under ASan).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/memio.h"
#include "jpeg_testutil.h"
#include "picts/jpeg/pictjpeg.h"
#include "testutil.h"

using namespace jpegtest;

namespace {

std::vector<unsigned char> fixtureBytes(const std::string& name) {
    return testutil::readFile(std::string(QMX_TEST_DATA) + "/picts/jpeg/" + name);
}

// Offset of the first marker `code` in a stream (its 0xFF byte), -1 when absent.
long findMarker(const std::vector<unsigned char>& d, unsigned char code) {
    for (size_t i = 0; i + 1 < d.size(); i++)
        if (d[i] == 0xFF && d[i + 1] == code) return (long)i;
    return -1;
}

// Records the errors the parser reports.
class ErrorRecorder : public cPictJPEG {
public:
    std::vector<int> codes;
    void onGeneralError(int code, const char* what) override { codes.push_back(code); }
};

int decodeError(const std::vector<unsigned char>& d, bool* ok = nullptr) {
    ErrorRecorder p;
    cBufWrapperIO s(d.data(), (long long)d.size());
    bool r = p.decode(&s);
    if (ok) *ok = r;
    EXPECT_FALSE(r && !p.codes.empty());  // success never comes with an error report
    return p.codes.empty() ? 0 : p.codes.front();
}

}  // namespace

// Every prefix of small valid files fails (the end is never reached) without crashing; the
// whole file succeeds.
TEST(JpegHostile, EveryTruncationFailsCleanly) {
    for (const char* name : {"base420.jpg", "prog422.jpg", "ll16sv1.jpg", "base444rst.jpg"}) {
        SCOPED_TRACE(name);
        std::vector<unsigned char> full = fixtureBytes(name);
        ASSERT_FALSE(full.empty());
        // A complete lossless scan without its EOI is accepted (cameras write such streams).
        bool lossless = findMarker(full, 0xC3) >= 0;
        size_t limit = lossless ? full.size() - 2 : full.size();
        for (size_t n = 0; n < limit; n++) {
            std::vector<unsigned char> part(full.begin(), full.begin() + (long)n);
            cPictJPEG p;
            cBufWrapperIO s(part.data(), (long long)part.size());
            ASSERT_FALSE(p.decode(&s)) << "prefix " << n;
        }
        cPictJPEG p;
        cBufWrapperIO s(full.data(), (long long)full.size());
        EXPECT_TRUE(p.decode(&s));
    }
}

// Cut after any scan or inside one, with or without an EOI put back: a failure in every
// process (sequential with one or several scans, 12-bit, progressive, lossless), never the
// missing part painted grey and called a picture.
TEST(JpegHostile, ScansCutShortFailInEveryProcess) {
    for (const char* name : {"base420.jpg", "seq3scan.jpg", "base444rst.jpg", "ext12.jpg", "prog422.jpg",
                             "prog12.jpg", "ll16sv1.jpg", "ll8rgb.jpg"}) {
        SCOPED_TRACE(name);
        std::vector<unsigned char> full = fixtureBytes(name);
        ASSERT_FALSE(full.empty());
        ASSERT_TRUE(decodeJpeg(full).ok);
        // The middle of every scan's data, and every scan start after the first.
        std::vector<size_t> cuts;
        size_t prev = 0;
        for (size_t i = 0; i + 1 < full.size(); i++) {
            if (full[i] != 0xFF || (full[i + 1] != 0xDA && full[i + 1] != 0xD9)) continue;
            if (prev) cuts.push_back((prev + i) / 2);
            if (prev && full[i + 1] == 0xDA) cuts.push_back(i);
            prev = i;
        }
        ASSERT_FALSE(cuts.empty());
        const std::vector<unsigned char> eoi = {0xFF, 0xD9};
        for (size_t cut : cuts)
            for (bool withEoi : {false, true}) {
                std::vector<unsigned char> part(full.begin(), full.begin() + (long)cut);
                if (withEoi) part.insert(part.end(), eoi.begin(), eoi.end());
                bool ok = true;
                decodeError(part, &ok);
                EXPECT_FALSE(ok) << "cut at " << cut << " of " << full.size() << (withEoi ? " + EOI" : "");
            }
    }
}

// A truncated picture keeps what was decoded: the complete MCU rows match the full decode
// (up to the rows whose upsampling reaches into the lost part).
TEST(JpegHostile, TruncatedPictureKeepsDecodedRows) {
    for (const char* name : {"base420.jpg", "prog422.jpg"}) {
        SCOPED_TRACE(name);
        std::vector<unsigned char> full = fixtureBytes(name);
        Decoded whole = decodeJpeg(full);
        ASSERT_TRUE(whole.ok);
        std::vector<unsigned char> part(full.begin(), full.begin() + (long)(full.size() * 9 / 10));
        Decoded cut = decodeJpeg(part);
        EXPECT_FALSE(cut.ok);
        ASSERT_EQ(cut.rgb.w, whole.rgb.w);
        ASSERT_EQ(cut.rgb.h, whole.rgb.h);
        int same = 0;
        long diff = 0;
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < whole.rgb.w; x++) {
                same += cut.rgb.at(x, y, 1) == whole.rgb.at(x, y, 1);
                diff += std::abs(cut.rgb.at(x, y, 1) - whole.rgb.at(x, y, 1));
            }
        // A progressive stream cut in a late scan loses only refinement: close, not equal.
        if (std::string(name) == "base420.jpg")
            EXPECT_EQ(same, 8 * whole.rgb.w);
        else
            EXPECT_LE(diff, 8 * whole.rgb.w * 6);
    }
}

// Random byte damage in every kind of stream: whatever the answer, no crash or hang.
TEST(JpegHostile, SurvivesRandomByteFlips) {
    unsigned seed = 77;
    for (const char* name : {"base420.jpg", "prog422.jpg", "ll16sv1.jpg", "ext12.jpg", "ycck.jpg", "prog12.jpg"}) {
        SCOPED_TRACE(name);
        std::vector<unsigned char> full = fixtureBytes(name);
        ASSERT_FALSE(full.empty());
        for (int iter = 0; iter < 600; iter++) {
            std::vector<unsigned char> d = full;
            std::vector<unsigned char> r = testutil::randomBytes(8, seed++);
            int flips = 1 + r[0] % 4;
            for (int f = 0; f < flips; f++) {
                size_t at = ((size_t)r[1 + f] << 8 | r[5 + (f & 1)]) % d.size();
                d[at] = (unsigned char)(d[at] ^ (1 + r[7 - f % 2] % 255));
            }
            cPictJPEG p;
            cBufWrapperIO s(d.data(), (long long)d.size());
            p.decode(&s);
        }
    }
}

// Headers and tables that cannot be decoded are refused with the matching error code.
TEST(JpegHostile, RefusesImpossibleHeadersAndTables) {
    const std::vector<unsigned char> base = fixtureBytes("base420.jpg");
    const long sof = findMarker(base, 0xC0), dht = findMarker(base, 0xC4), sos = findMarker(base, 0xDA);
    ASSERT_GT(sof, 0);
    ASSERT_GT(dht, 0);
    ASSERT_GT(sos, 0);
    struct Case {
        const char* name;
        long at;       // byte to change
        unsigned char value;
        int code;      // expected first error
        long at2 = -1;  // a second byte set to value
    };
    const std::vector<Case> cases = {
        {"65535 x 65535", sof + 5, 0xFF, cJPEGParser::eJErrSize, sof + 6},
        {"zero height", sof + 5, 0x00, cJPEGParser::eJErrSize, sof + 6},
        {"zero width", sof + 7, 0x00, cJPEGParser::eJErrSize, sof + 8},
        {"arithmetic SOF9", sof + 1, 0xC9, cJPEGParser::eJErrUnsupported},
        {"hierarchical SOF5", sof + 1, 0xC5, cJPEGParser::eJErrUnsupported},
        {"lossless arithmetic SOF11", sof + 1, 0xCB, cJPEGParser::eJErrUnsupported},
        {"baseline 12-bit", sof + 4, 12, cJPEGParser::eJErrUnsupported},
        {"precision 9", sof + 4, 9, cJPEGParser::eJErrUnsupported},
        {"five components", sof + 9, 5, cJPEGParser::eJErrUnsupported},
        {"sampling 0", sof + 11, 0x01, cJPEGParser::eJErrSyntax},
        {"sampling 5", sof + 11, 0x51, cJPEGParser::eJErrSyntax},
        {"quant table 4", sof + 12, 4, cJPEGParser::eJErrSyntax},
        {"short segment length", sof + 3, 1, cJPEGParser::eJErrSyntax},
        {"segment past the end", sof + 2, 0xF0, cJPEGParser::eJErrData},
        {"Huffman class 2", dht + 4, 0x20, cJPEGParser::eJErrTable},
        {"over-subscribed code lengths", dht + 5, 3, cJPEGParser::eJErrTable},
        {"more codes than the segment", dht + 20, 0xFF, cJPEGParser::eJErrTable},
        {"scan names no component", sos + 5, 0x77, cJPEGParser::eJErrSyntax},
        {"scan selects table 5", sos + 6, 0x55, cJPEGParser::eJErrTable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> d = base;
        d[(size_t)c.at] = c.value;
        if (c.at2 >= 0) d[(size_t)c.at2] = c.value;
        if (c.code == cJPEGParser::eJErrSize && c.value == 0xFF) d[(size_t)sof + 7] = d[(size_t)sof + 8] = 0xFF;
        bool ok = true;
        EXPECT_EQ(decodeError(d, &ok), c.code);
        EXPECT_FALSE(ok);
    }
}

// Structure that is out of order or missing pieces fails cleanly.
TEST(JpegHostile, RefusesBrokenStructure) {
    const std::vector<unsigned char> base = fixtureBytes("prog422.jpg");
    const long sof = findMarker(base, 0xC2), sos = findMarker(base, 0xDA);
    ASSERT_GT(sof, 0);
    ASSERT_GT(sos, 0);
    // No SOI.
    std::vector<unsigned char> noSoi(base.begin() + 2, base.end());
    EXPECT_EQ(decodeError(noSoi), cJPEGParser::eJErrSyntax);
    // Scan before the frame: the SOF marker renamed to a comment.
    std::vector<unsigned char> noFrame = base;
    noFrame[(size_t)sof + 1] = 0xFE;
    EXPECT_EQ(decodeError(noFrame), cJPEGParser::eJErrSyntax);
    // Progressive scan with an AC range on several components: its Ss byte made non-zero.
    std::vector<unsigned char> badSel = base;
    int n = badSel[(size_t)sos + 4];
    ASSERT_GT(n, 1);
    badSel[(size_t)sos + 5 + 2 * n] = 1;
    EXPECT_EQ(decodeError(badSel), cJPEGParser::eJErrSyntax);
    // Only the headers: a frame without any scan.
    std::vector<unsigned char> headers(base.begin(), base.begin() + sos);
    headers.insert(headers.end(), {0xFF, 0xD9});
    EXPECT_EQ(decodeError(headers), cJPEGParser::eJErrData);
    // Plain garbage and an empty stream.
    EXPECT_NE(decodeError(testutil::randomBytes(300, 5)), 0);
    EXPECT_NE(decodeError({}), 0);
}

// A frame header claiming 65535 x 65535 is refused by the probe too, before any pixel exists.
TEST(JpegHostile, HugeFrameRefusedByProbeAndDecode) {
    std::vector<unsigned char> d = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x03,
                                    0x01, 0x22, 0x00, 0x02, 0x11, 0x00, 0x03, 0x11, 0x00, 0xFF, 0xD9};
    cBufWrapperIO s(d.data(), (long long)d.size());
    cPictBase::sPictInfo info;
    EXPECT_FALSE(cPictJPEG::validFor(&s, &info));
    ErrorRecorder p;
    cBufWrapperIO s2(d.data(), (long long)d.size());
    EXPECT_FALSE(p.decode(&s2));
    ASSERT_FALSE(p.codes.empty());
    EXPECT_EQ(p.codes.front(), cJPEGParser::eJErrSize);
    EXPECT_EQ(p.raw8Bpp(), nullptr);
    EXPECT_EQ(p.raw16Bpp(), nullptr);
}
