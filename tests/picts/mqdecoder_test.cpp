// The MQ decoder that JPEG 2000 and JBIG2 share, at the end of its data: symbols coded by the
// plain encoder of jbig2_testenc.h decode alike whatever stands after them.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "picts/mqdecoder.h"
#include "jbig2_testenc.h"
#include "testutil.h"

namespace {

const int kContexts = 4, kSymbols = 3000, kPastEnd = 400;

int contextFor(int i) { return (i * 7 + i / 5) % kContexts; }

// Decodes kSymbols + kPastEnd decisions from an exact-size copy of the bytes (so that reading
// outside them is caught), or from a null block of `size` bytes, by the branching path or the
// flat one.
std::vector<int> decodeAll(bool flat, const std::vector<unsigned char>& bytes, bool null = false, long long size = 0) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.empty() ? 1 : bytes.size()]);
    for (size_t i = 0; i < bytes.size(); i++) copy[i] = bytes[i];
    cMQDecoder mq;
    if (null)
        mq.init(nullptr, size);
    else
        mq.init(bytes.empty() ? nullptr : copy.get(), (long long)bytes.size());
    std::vector<unsigned int> ctx(kContexts, cMQDecoder::kContextStart);
    std::vector<int> out;
    for (int i = 0; i < kSymbols + kPastEnd; i++) {
        unsigned int& c = ctx[(size_t)contextFor(i)];
        out.push_back(flat ? mq.decodeFlat(c) : mq.decode(c));
    }
    return out;
}

}  // namespace

// The end of the data reads as a marker, a marker is never passed (JPEG 2000 segments end
// where the next packet's bytes begin, JBIG2 regions before their closing 0xFF 0xAC), and a
// segment without bytes decodes as an empty one.
TEST(MQDecoder, EndOfDataReadsAsAMarkerThatIsNeverPassed) {
    std::vector<unsigned> symbols;
    uint32_t state = 12345;
    std::vector<jbig2test::MQEncoder::Ctx> ectx(kContexts);
    jbig2test::MQEncoder enc;
    for (int i = 0; i < kSymbols; i++) {
        state = state * 1103515245u + 12345u;
        // Skewed per context, so that both renormalisation paths and MPS switches occur.
        unsigned d = (state >> 16) % 16 < (unsigned)(1 + 3 * contextFor(i)) ? 1u : 0u;
        symbols.push_back(d);
        enc.encode(ectx[(size_t)contextFor(i)], d);
    }
    const std::vector<unsigned char> closed = enc.finish();  // ends with the marker 0xFF 0xAC
    ASSERT_GE(closed.size(), 2u);
    ASSERT_EQ(closed[closed.size() - 2], 0xFF);
    std::vector<unsigned char> open(closed.begin(), closed.end() - 1);
    while (!open.empty() && open.back() == 0xFF) open.pop_back();
    std::vector<unsigned char> junk = closed;
    junk.insert(junk.end(), {0x00, 0x12, 0x7F, 0xFF, 0x00});

    // Both decision paths (JBIG2's and JPEG 2000's) give the same decisions.
    for (bool flat : {false, true}) {
        SCOPED_TRACE(flat ? "flat" : "branching");
        const std::vector<int> reference = decodeAll(flat, closed);
        for (int i = 0; i < kSymbols; i++) ASSERT_EQ(reference[(size_t)i], (int)symbols[(size_t)i]) << i;
        EXPECT_EQ(decodeAll(flat, open), reference) << "data cut before its marker";
        EXPECT_EQ(decodeAll(flat, junk), reference) << "bytes after the marker";
        EXPECT_EQ(decodeAll(false, closed), reference) << "the other path";

        const std::vector<int> empty = decodeAll(flat, {});
        EXPECT_EQ(decodeAll(flat, {}, true, 64), empty) << "null block with a length";
        EXPECT_EQ(decodeAll(flat, {0xFF, 0x90, 0x12, 0x34}), empty) << "a marker first";
        EXPECT_EQ(decodeAll(false, {}), empty) << "the other path";
    }
    // Random bytes, with 0xFF before many of them so that stuffed bytes and markers come often.
    for (unsigned seed = 1; seed <= 20; seed++) {
        std::vector<unsigned char> r = testutil::randomBytes(300, seed);
        for (size_t i = 0; i < r.size(); i += 1 + r[i] % 5) r[i] = 0xFF;
        EXPECT_EQ(decodeAll(true, r), decodeAll(false, r)) << seed;
    }
}
