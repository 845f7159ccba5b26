// Peer tools and the frame hook for the raw kit's tests.
#include "peers.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <set>

#include "../jpeg_testutil.h"
#include "picts/pictbase.h"
#include "picts/pictdummy.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawhook.h"
#include "picts/rawcore/rawtone.h"
#include "testutil.h"

namespace rawkit {

std::vector<uint16_t> peerFrame(const std::string& tool, const std::string& path, int& w, int& h) {
    std::vector<unsigned char> pgm;
    w = h = 0;
    if (tool == "dcraw") {
        std::string out;
        if (testutil::run({"dcraw", "-D", "-4", "-t", "0", "-c", path}, &out) != 0) return {};
        pgm.assign(out.begin(), out.end());
    } else {
        if (testutil::run({"unprocessed_raw", "-q", path}) != 0) return {};
        pgm = testutil::readFile(path + ".pgm");
    }
    if (pgm.empty()) return {};
    jpegtest::Image im = jpegtest::parsePnm(pgm);
    if (im.channels != 1) return {};
    w = im.w;
    h = im.h;
    return im.px;
}

std::vector<const char*> installedPeers(std::initializer_list<const char*> tools) {
    static std::set<std::string> told;
    std::vector<const char*> present;
    for (const char* tool : tools) {
        if (testutil::haveTool(tool))
            present.push_back(tool);
        else if (told.insert(tool).second)
            printf("skipped %s: not installed\n", tool);
    }
    return present;
}

std::vector<uint16_t> peerFrameOf(const char* tool, const testutil::TempDir& dir, const std::vector<unsigned char>& file,
                                  const std::string& ext, int& w, int& h) {
    static int files = 0;
    const std::string path = dir.file("kit" + std::to_string(++files) + ext);
    w = h = 0;
    if (!testutil::writeFile(path, file)) return {};
    return peerFrame(tool, path, w, h);
}

testing::AssertionResult peerReadsAs(const char* tool, const testutil::TempDir& dir,
                                     const std::vector<unsigned char>& file, const std::string& ext, int width,
                                     int height, const std::vector<uint16_t>& frame) {
    int w, h;
    const std::vector<uint16_t> got = peerFrameOf(tool, dir, file, ext, w, h);
    if (w != width || h != height)
        return testing::AssertionFailure() << tool << " read " << w << " x " << h << ", not " << width << " x " << height;
    for (size_t i = 0; i < got.size() && i < frame.size(); i++)
        if (got[i] != frame[i])
            return testing::AssertionFailure() << tool << " read " << got[i] << " at sample " << i << ", not " << frame[i];
    if (got.size() != frame.size())
        return testing::AssertionFailure() << tool << " read " << got.size() << " samples, not " << frame.size();
    return testing::AssertionSuccess();
}

void expectPeersReadAs(const testutil::TempDir& dir, const std::vector<unsigned char>& file, const std::string& ext,
                       int width, int height, const std::vector<uint16_t>& frame,
                       std::initializer_list<const char*> tools) {
    for (const char* tool : installedPeers(tools)) EXPECT_TRUE(peerReadsAs(tool, dir, file, ext, width, height, frame));
}

namespace {

std::string sharedRawFolder() { return testutil::sharedDataFolder() + "/raw"; }

}  // namespace

std::vector<unsigned char> sharedRawFile(const std::string& name, std::string& missing) {
    const std::string path = sharedRawFolder() + "/" + name;
    std::vector<unsigned char> f = testutil::readFile(path);
    if (f.empty()) missing += " " + path;
    return f;
}

std::vector<unsigned char> sharedRawOrSkip(const std::string& name) {
    std::string missing;
    std::vector<unsigned char> f = sharedRawFile(name, missing);
    skipForMissing(missing);
    return f;
}

void skipForMissing(const std::string& missing) {
    if (missing.empty()) return;
    // Without the shared samples the test skips; a sample missing from a folder that is
    // there is a fault of the set-up.
    struct stat st;
    if (stat(sharedRawFolder().c_str(), &st) == 0) ADD_FAILURE() << "the shared samples lack" << missing;
    GTEST_SKIP() << "the shared test samples are absent:" << missing;
}

const char* const kSharedRawNames[12] = {"CanonRaw.cr2", "CanonRaw.cr3",  "CanonRaw.crw",  "DNG.dng",
                                         "FujiFilm.raf", "Minolta.mrw",   "Nikon.nef",     "Panasonic.rw2",
                                         "PhaseOne.iiq", "Sigma.x3f",     "SigmaDP2.x3f",  "colorchart.dng"};

void expectKitPreview(cPictBase& decoder, cFileIOTarget* io) {
    cPictDummy whole, scaled;
    io->set_fp(0);
    ASSERT_TRUE(decoder.getPreview(io, &whole, nullptr, nullptr));
    EXPECT_EQ(whole.width(), 41);
    EXPECT_EQ(whole.height(), 27);
    long long mw = 20, mh = 20;
    io->set_fp(0);
    ASSERT_TRUE(decoder.getPreview(io, &scaled, &mw, &mh));
    EXPECT_EQ(scaled.width(), 20);
    EXPECT_EQ(scaled.height(), 13);
}

std::vector<unsigned char> testJpeg(const char* name) {
    return testutil::readFile(std::string(QMX_TEST_DATA) + "/picts/jpeg/" + name);
}

std::vector<unsigned char> cjpegPicture(int w, int h, unsigned seed) {
    if (!testutil::haveTool("cjpeg")) {
        printf("skipped: cjpeg not installed\n");
        return {};
    }
    testutil::TempDir dir;
    const std::string ppm = dir.file("in.ppm");
    testutil::writeFile(ppm, jpegtest::makePnm(jpegtest::synthetic(w, h, 3, 255, seed)));
    std::string out;
    if (testutil::run({"cjpeg", "-quality", "90", ppm}, &out) != 0) return {};
    return std::vector<unsigned char>(out.begin(), out.end());
}

std::vector<uint16_t> noisyRamp(int w, int h, unsigned state, unsigned xStep, unsigned yStep, unsigned noise,
                                unsigned modulo) {
    std::vector<uint16_t> f((size_t)w * h);
    for (size_t i = 0; i < f.size(); i++) {
        state = state * 1103515245u + 12345u;
        f[i] = (uint16_t)(((i % (size_t)w) * xStep + (i / (size_t)w) * yStep + (state >> 16) % noise) % modulo);
    }
    return f;
}

std::vector<unsigned long long> pipelineReference(std::vector<uint16_t> frame, int w, int h, unsigned black,
                                                  const sMarginInfo* m, const double* mul) {
    sCFAData cfa;
    const unsigned char pat[4] = {0, 1, 1, 2};
    cfa.pattern.set(pat, 4);
    cfa.rows = cfa.cols = 2;
    cBayerFilter* f = cBayerFilter::newFilter(cfa);
    long long cw = m ? w - m->left - m->right : w, ch = m ? h - m->top - m->bottom : h;
    std::vector<unsigned long long> out((size_t)(cw * ch));
    sInterpolateInfo info;
    info.raw = frame.data();
    info.pixels = out.data();
    info.width = w;
    info.height = h;
    info.filter = f;
    info.flip = true;
    info.black = black;
    EXPECT_TRUE(interpolatePPG(info, m));
    delete f;
    if (mul)
        for (auto& p : out) {
            unsigned long long b = rawClamp16((double)(p & 0xFFFF) * mul[2]);
            unsigned long long g = rawClamp16((double)(p >> 16 & 0xFFFF) * mul[1]);
            unsigned long long r = rawClamp16((double)(p >> 32 & 0xFFFF) * mul[0]);
            p = (p & 0xFFFF000000000000ULL) | r << 32 | g << 16 | b;
        }
    EXPECT_TRUE(finishRawTone(out.data(), (long long)out.size(), 0.999, 2.2, 1.5, nullptr, nullptr));
    return out;
}

bool decodeSeeingFrame(cPictBase& picture, cFileIOTarget* io, SeenFrame& seen) {
    seen = SeenFrame();
    setRawFrameHook(
        [](void* ctx, const sRawFrameView& v) {
            SeenFrame* s = (SeenFrame*)ctx;
            s->calls++;
            s->samples.assign(v.samples, v.samples + v.width * v.height * v.channels);
            s->width = v.width;
            s->height = v.height;
            s->channels = v.channels;
            s->black = v.black;
            for (int c = 0; c < 4; c++) s->mul[c] = v.mul ? v.mul[c] : 0;
            if (v.margins) {
                s->margins[0] = v.margins->left;
                s->margins[1] = v.margins->right;
                s->margins[2] = v.margins->top;
                s->margins[3] = v.margins->bottom;
            }
            if (v.filter)
                for (int i = 0; i < 4; i++) s->cfa[i] = v.filter->color(i & 1, i >> 1);
        },
        &seen);
    io->set_fp(0);
    bool ok = picture.decode(io);
    setRawFrameHook(nullptr, nullptr);
    return ok;
}

}  // namespace rawkit
