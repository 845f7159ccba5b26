// Lossless JPEG: the raw kit's reference encoder (T.81 Annex H) makes streams with
// every predictor, precisions 2-16, point transforms, restart intervals and interleaved
// subsampled components; the decoder must give the samples back exactly. Also the Huffman
// decoder's raw-scan interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/memio.h"
#include "jpeg_testutil.h"
#include "picts/jpeg/jhuffdecoder.h"
#include "picts/jpeg/pictjpeg.h"
#include "rawkit/bitwriter.h"
#include "rawkit/ljpegenc.h"

using namespace jpegtest;

namespace {

using rawkit::LjComp;

// All 17 difference categories with 5-bit codes: a valid, simple table.
const int kCodeLen = 5;

// One lossless scan of the components by the raw kit's encoder (T.81 Annex H).
std::vector<unsigned char> losslessJpeg(const std::vector<LjComp>& comps, int width, int height, int precision,
                                        int psv, int pt, int restart, bool stuff = true) {
    rawkit::LjOptions o;
    o.precision = precision;
    o.psv = psv;
    o.pt = pt;
    o.restart = restart;
    o.stuff = stuff;
    return rawkit::encodeLossless(comps, width, height, o);
}

LjComp randomComp(int w, int h, int precision, unsigned seed, bool smooth) {
    LjComp c;
    c.w = w;
    c.hgt = h;
    c.px.resize((size_t)w * h);
    unsigned s = seed * 7919 + 3;
    int maxv = (1 << precision) - 1;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            s = s * 1103515245u + 12345u;
            int v = smooth ? (int)(((x * 37 + y * 91) % (maxv + 1)) ^ ((s >> 16) & 3)) : (int)((s >> 8) & maxv);
            c.px[(size_t)y * w + x] = (uint16_t)std::min(v, maxv);
        }
    return c;
}

// A parser that keeps what onScanLine delivers.
class LineCollector : public cJPEGParser {
public:
    std::vector<std::vector<uint16_t>> lines[4];
    std::vector<int> samplesSeen;
    int refuseAt = -1;
    bool onScanLine(unsigned short** l, int line, int samples) override {
        if (line == refuseAt) return false;
        samplesSeen.push_back(samples);
        for (int i = 0; i < scanComponents(); i++) {
            const sJComponent& c = component(scanComponent(i));
            int hv = scanComponents() == 1 ? 1 : c.h * c.v;
            int units = scanComponents() == 1 ? c.sw : c.bw / c.h;
            lines[i].emplace_back(l[i], l[i] + (size_t)units * hv);
        }
        return true;
    }
};

}  // namespace

// Every predictor at several precisions, with and without point transform and restarts
// (per MCU, mid-row and per row), decodes to the source samples exactly.
TEST(JpegLossless, RoundTripsPredictorsPrecisionsRestarts) {
    const int w = 23, h = 9;
    unsigned seed = 1;
    for (int precision : {2, 5, 8, 11, 16})
        for (int psv = 1; psv <= 7; psv++)
            for (int pt : {0, 1})
                for (int restart : {0, 1, 7, w}) {
                    if (pt >= precision - 1) continue;
                    SCOPED_TRACE(testing::Message() << "P" << precision << " sv" << psv << " pt" << pt << " ri" << restart);
                    std::vector<LjComp> comps = {randomComp(w, h, precision, seed++, psv > 3)};
                    std::vector<unsigned char> jpg = losslessJpeg(comps, w, h, precision, psv, pt, restart);
                    Decoded d = decodeJpeg(jpg);
                    ASSERT_TRUE(d.ok);
                    ASSERT_EQ(d.rgb.w, w);
                    ASSERT_EQ(d.sixteen, precision > 8);
                    int maxv = (1 << precision) - 1, outMax = precision > 8 ? 65535 : 255;
                    int bad = 0;
                    for (int y = 0; y < h; y++)
                        for (int x = 0; x < w; x++) {
                            long long v = comps[0].px[(size_t)y * w + x] >> pt << pt;
                            long long expect = (v * outMax + maxv / 2) / maxv;
                            if (d.rgb.at(x, y, 0) != expect || d.rgb.at(x, y, 2) != expect) bad++;
                        }
                    EXPECT_EQ(bad, 0);
                }
}

// Interleaved components with a 2x2 (and 2x1) first component: onScanLine gets each MCU
// row in MCU order, with `samples` the row width of the widest component.
TEST(JpegLossless, DeliversInterleavedMcuRowsInMcuOrder) {
    struct Case {
        int h0, v0;
    };
    for (Case cs : {Case{2, 2}, Case{2, 1}, Case{1, 1}}) {
        SCOPED_TRACE(testing::Message() << cs.h0 << "x" << cs.v0);
        const int mcusX = 5, mcusY = 4;
        const int w = mcusX * cs.h0, h = mcusY * cs.v0;
        std::vector<LjComp> comps = {randomComp(w, h, 15, 3, false), randomComp(mcusX, mcusY, 15, 4, false),
                                   randomComp(mcusX, mcusY, 15, 5, false)};
        comps[0].h = cs.h0;
        comps[0].v = cs.v0;
        std::vector<unsigned char> jpg = losslessJpeg(comps, w, h, 15, 1, 0, 0);
        LineCollector p;
        cBufWrapperIO s(jpg.data(), (long long)jpg.size());
        ASSERT_TRUE(p.processStream(&s));
        ASSERT_EQ((int)p.lines[0].size(), mcusY);
        for (int v : p.samplesSeen) EXPECT_EQ(v, mcusX * cs.h0);
        for (int my = 0; my < mcusY; my++)
            for (int mx = 0; mx < mcusX; mx++) {
                for (int yy = 0; yy < cs.v0; yy++)
                    for (int xx = 0; xx < cs.h0; xx++)
                        ASSERT_EQ(p.lines[0][my][(size_t)mx * cs.h0 * cs.v0 + yy * cs.h0 + xx],
                                  comps[0].px[(size_t)(my * cs.v0 + yy) * w + mx * cs.h0 + xx]);
                ASSERT_EQ(p.lines[1][my][mx], comps[1].px[(size_t)my * mcusX + mx]);
                ASSERT_EQ(p.lines[2][my][mx], comps[2].px[(size_t)my * mcusX + mx]);
            }
    }
}

// A refusing onScanLine stops the decode with failure at that line.
TEST(JpegLossless, RefusedLineFailsTheDecode) {
    std::vector<LjComp> comps = {randomComp(16, 12, 12, 9, false)};
    std::vector<unsigned char> jpg = losslessJpeg(comps, 16, 12, 12, 6, 0, 0);
    LineCollector p;
    p.refuseAt = 5;
    cBufWrapperIO s(jpg.data(), (long long)jpg.size());
    EXPECT_FALSE(p.processStream(&s));
    EXPECT_EQ(p.lines[0].size(), 5u);
    EXPECT_EQ(p.lastError(), cJPEGParser::eJErrRefused);
}

// Raw-scan access: symbols with the scan's table and raw bits, with 0xFF as plain data.
TEST(JpegHuff, SimpleDecodeAndReadWithoutFFEscapes) {
    sJHuffTable t;
    t.defined = true;
    for (int s = 0; s <= 16; s++) t.vals[s] = (unsigned char)s;
    t.bits[kCodeLen] = 17;
    // Symbols 31 would be 0b11111: not in the table. Encode: sym 16, 8 raw bits 0xFF, sym 3, 0xFF00 raw.
    rawkit::BitWriterMSB bw(false);
    bw.put(16, kCodeLen);
    bw.put(0xFF, 8);
    bw.put(3, kCodeLen);
    bw.put(0xFF00, 16);
    bw.put(5, kCodeLen);
    bw.align();
    std::vector<unsigned char> data = bw.out;
    cBufWrapperIO s(data.data(), (long long)data.size());
    cJByteSource src;
    ASSERT_TRUE(src.open(&s));
    sJScanState st;
    st.source = &src;
    st.components = 1;
    st.dc[0] = &t;
    cJHuffDecoder dec;
    dec.setIgnoreFFEsc(true);
    ASSERT_TRUE(dec.create(st));
    EXPECT_EQ(dec.simpleDecodeU32(), 16);
    EXPECT_EQ(dec.simpleReadU32(8), 0xFFu);
    EXPECT_EQ(dec.simpleDecodeU32(), 3);
    EXPECT_EQ(dec.simpleReadU32(16), 0xFF00u);
    EXPECT_EQ(dec.simpleDecodeU32(), 5);
    // The data has run out: raw reads give 0 and symbols fail.
    dec.simpleReadU32(7);
    EXPECT_EQ(dec.simpleReadU32(12), 0u);
    EXPECT_LT(dec.simpleDecodeU32(), 0);
}

// Tables whose code lengths cannot exist are refused when a scan prepares them.
TEST(JpegHuff, RefusesOverSubscribedTables) {
    struct Case {
        int len, count;
        bool ok;
    };
    for (Case c : {Case{1, 2, true}, Case{1, 3, false}, Case{2, 5, false}, Case{16, 255, true}, Case{8, 256, true}, Case{7, 129, false}}) {
        SCOPED_TRACE(testing::Message() << c.len << ":" << c.count);
        sJHuffTable t;
        t.defined = true;
        t.bits[c.len] = (unsigned char)std::min(c.count, 255);
        if (c.count > 255) {
            t.bits[c.len] = 255;
            t.bits[c.len + 1] = (unsigned char)(c.count - 255);
        }
        sJHuffLookup l;
        EXPECT_EQ(l.build(t), c.ok);
    }
}

namespace {

// A raw-format scan decoder in the manner of the camera decoders: its own Huffman decoder
// over the parser's scan state, 0xFF as plain data, predictor 1 rows.
class RawScanDecoder : public cPictJPEG {
public:
    std::vector<uint16_t> samples;
    int errorCode = 0;
    bool scanDone = false;
    bool processHuffmanLosslessScan() override {
        cJHuffDecoder d;
        d.setIgnoreFFEsc(true);
        if (!d.create(scanState())) {
            onGeneralError(eJErrHuffTables, "tables");
            return false;
        }
        int w = frameWidth(), h = frameHeight(), p = precision();
        for (int y = 0; y < h; y++) {
            int pred = y == 0 ? 1 << (p - 1) : samples[(size_t)(y - 1) * w];
            for (int x = 0; x < w; x++) {
                int s = d.simpleDecodeU32();
                if (s < 0) return false;
                int diff = 0;
                if (s == 16) {
                    diff = 32768;
                } else if (s) {
                    int v = (int)d.simpleReadU32(s);
                    diff = v < (1 << (s - 1)) ? v - (1 << s) + 1 : v;
                }
                pred = (pred + diff) & 0xFFFF;
                samples.push_back((uint16_t)pred);
            }
        }
        scanDone = true;
        return true;
    }
    void onGeneralError(int code, const char*) override {
        if (!errorCode) errorCode = code;
    }
};

}  // namespace

// A derived raw scan decoder reads an unstuffed stream through the parser's state and the
// parser finishes the stream after it; missing tables are reported as error 7.
TEST(JpegLossless, DerivedRawScanDecoderWithoutFFEscapes) {
    const int w = 40, h = 6;
    std::vector<LjComp> comps = {randomComp(w, h, 16, 21, false)};
    // Steps of 32767 in the top half: fifteen one bits each, so plenty of 0xFF bytes.
    for (int i = 0; i < w * h / 2; i++) comps[0].px[(size_t)i] = (uint16_t)(i * 32767);
    std::vector<unsigned char> jpg = losslessJpeg(comps, w, h, 16, 1, 0, 0, false);
    size_t sos = 0;
    while (sos + 1 < jpg.size() && !(jpg[sos] == 0xFF && jpg[sos + 1] == 0xDA)) sos++;
    ASSERT_LT(sos + 6, jpg.size());
    ASSERT_GT(std::count(jpg.begin() + (long)sos + 14, jpg.end() - 2, 0xFF), 10);
    RawScanDecoder p;
    p.setIgnoreFFEsc(true);
    cBufWrapperIO s(jpg.data(), (long long)jpg.size());
    EXPECT_TRUE(p.processStream(&s));
    EXPECT_TRUE(p.scanDone);
    EXPECT_EQ(p.samples, comps[0].px);

    // The scan asks for DC table 1, which the stream never defines.
    std::vector<unsigned char> bad = jpg;
    bad[sos + 6] = 0x10;
    RawScanDecoder q;
    cBufWrapperIO s2(bad.data(), (long long)bad.size());
    EXPECT_FALSE(q.processStream(&s2));
    EXPECT_EQ(q.errorCode, cJPEGParser::eJErrHuffTables);
}
