// The peers of the raw test kit (black boxes): the raw frame `dcraw -D -4` or LibRaw's
// `unprocessed_raw` reads from a file, and a raw decoder's frame as the frame hook shows it;
// the real raw samples of the shared test data; the set-up the makers' tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"
#include "picts/rawcore/interpolate.h"
#include "testutil.h"


namespace rawkit {

// The 16-bit grey frame a peer ("dcraw" or "unprocessed_raw") reads from the file at path;
// empty when the peer is absent or refused the file.
std::vector<uint16_t> peerFrame(const std::string& tool, const std::string& path, int& w, int& h);

// The peers of `tools` that are installed; a line names each one that is not (once).
std::vector<const char*> installedPeers(std::initializer_list<const char*> tools = {"dcraw", "unprocessed_raw"});

// Writes `file` into dir under a new name ending in `ext` (".orf": the peers may go by it)
// and has `tool` read its frame, as peerFrame does.
std::vector<uint16_t> peerFrameOf(const char* tool, const testutil::TempDir& dir, const std::vector<unsigned char>& file,
                                  const std::string& ext, int& w, int& h);
// Whether `tool` reads `file` (written as peerFrameOf does) as `frame`, width x height.
testing::AssertionResult peerReadsAs(const char* tool, const testutil::TempDir& dir,
                                     const std::vector<unsigned char>& file, const std::string& ext, int width,
                                     int height, const std::vector<uint16_t>& frame);
// The same for each installed peer of `tools`.
void expectPeersReadAs(const testutil::TempDir& dir, const std::vector<unsigned char>& file, const std::string& ext,
                       int width, int height, const std::vector<uint16_t>& frame,
                       std::initializer_list<const char*> tools = {"dcraw", "unprocessed_raw"});

// A real raw sample of the shared test data ($QMX_SHARED_DATA/raw/name); empty when it is
// absent, its path then added to `missing` (after a space), so the test can skip naming it.
std::vector<unsigned char> sharedRawFile(const std::string& name, std::string& missing);
// The sample a test needs: when it is absent the test is marked skipped, naming its path,
// and returns on the empty result.
std::vector<unsigned char> sharedRawOrSkip(const std::string& name);
// Marks the test skipped when `missing` names absent samples (after a loop over several).
void skipForMissing(const std::string& missing);
// Every real raw sample of the shared test data, by name.
extern const char* const kSharedRawNames[12];

// The kit's embedded preview (the 41 x 27 base420.jpg) as the decoder gives it, whole and
// scaled into 20 x 20; io at any position.
void expectKitPreview(cPictBase& decoder, cFileIOTarget* io);
// A JPEG of the test data (picts/jpeg/name); the kit's preview is base420.jpg.
std::vector<unsigned char> testJpeg(const char* name = "base420.jpg");
// A baseline JPEG of a synthetic w x h picture made by cjpeg; empty, and a line saying so,
// without cjpeg.
std::vector<unsigned char> cjpegPicture(int w, int h, unsigned seed);

// The raw pipeline run on a frame of the kit's RGGB pattern: PPG with the black level and
// margins (may be null), the multipliers (red, green, blue; may be null), the tone finish.
std::vector<unsigned long long> pipelineReference(std::vector<uint16_t> frame, int w, int h, unsigned black,
                                                  const sMarginInfo* margins, const double* mul);

// A frame of ramps and noise: sample i of row y, column x is
// (x * xStep + y * yStep + noise number i % noise) % modulo, the noise numbers drawn by a
// linear congruential generator from `state`.
std::vector<uint16_t> noisyRamp(int w, int h, unsigned state, unsigned xStep, unsigned yStep, unsigned noise,
                                unsigned modulo);

// Every cut of `file` shorter than its whole (at steps of `step` bytes, each cut copied to a
// buffer of its own length so that a read past it is seen) is decoded by a new T: none may
// crash, and those shorter than mustFailBelow must fail.
template <class T>
void decodeEachCut(const std::vector<unsigned char>& file, size_t step, size_t mustFailBelow) {
    for (size_t n = 0; n < file.size(); n += step) {
        std::vector<unsigned char> cut(file.begin(), file.begin() + (long)n);
        cBufWrapperIO io(cut.data(), (long long)cut.size());
        T decoder;
        const bool ok = decoder.decode(&io);
        if (n < mustFailBelow) {
            EXPECT_FALSE(ok) << "cut at " << n;
        }
    }
}

// What the frame hook saw during one decode.
struct SeenFrame {
    std::vector<uint16_t> samples;
    long long width = 0, height = 0;
    int channels = 0;
    unsigned int black = 0;
    double mul[4] = {0, 0, 0, 0};
    unsigned int margins[4] = {0, 0, 0, 0};  // left, right, top, bottom
    int cfa[4] = {-1, -1, -1, -1};          // colour of (0,0), (1,0), (0,1), (1,1)
    int calls = 0;
};
// Decodes with `picture` while the hook records the frame; the decode's result.
bool decodeSeeingFrame(cPictBase& picture, cFileIOTarget* io, SeenFrame& seen);
// The same for a kit file in memory and a new decoder of type T; seen may be null.
template <class T>
bool decodeKitFile(const std::vector<unsigned char>& file, SeenFrame* seen = nullptr) {
    cBufWrapperIO io(file.data(), (long long)file.size());
    T decoder;
    SeenFrame local;
    return decodeSeeingFrame(decoder, &io, seen ? *seen : local);
}

// A kit file that carries the kit's preview: T's probe sees it, and the decoder gives it
// whole and scaled (expectKitPreview).
template <class T>
void expectKitFilePreview(const std::vector<unsigned char>& file) {
    cBufWrapperIO io(file.data(), (long long)file.size());
    cPictBase::sPictInfo info;
    ASSERT_TRUE(T::validFor(&io, &info));
    EXPECT_TRUE(info.hasPreview);
    T decoder;
    expectKitPreview(decoder, &io);
}

// Whether T::validFor takes the kit file as width x height and `decoder` then decodes it,
// the hook recording the frame into seen.
template <class T>
testing::AssertionResult probesAndDecodes(T& decoder, const std::vector<unsigned char>& file, long long width,
                                          long long height, SeenFrame& seen) {
    cBufWrapperIO io(file.data(), (long long)file.size());
    cPictBase::sPictInfo info;
    if (!T::validFor(&io, &info)) return testing::AssertionFailure() << "not recognised";
    if (info.width != width || info.height != height)
        return testing::AssertionFailure() << "probed as " << info.width << " x " << info.height;
    if (!decodeSeeingFrame(decoder, &io, seen)) return testing::AssertionFailure() << "decode failed";
    return testing::AssertionSuccess();
}
// The same with a new decoder of type T.
template <class T>
testing::AssertionResult probesAndDecodes(const std::vector<unsigned char>& file, long long width, long long height,
                                          SeenFrame& seen) {
    T decoder;
    return probesAndDecodes(decoder, file, width, height, seen);
}

}  // namespace rawkit
