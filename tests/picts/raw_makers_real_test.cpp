// The Sony, Samsung, Minolta and Sigma decoders on the real raw files of the shared test data
// (structure and metadata of real cameras, sensor data cut out): each is taken by the
// decoder of its own format only, and decoding or asking any of them for a preview fails or
// succeeds cleanly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictdummy.h"
#include "picts/raw/minolta/pictmrw.h"
#include "picts/raw/samsung/pictsrw.h"
#include "picts/raw/sigma/pictx3f.h"
#include "picts/raw/sony/pictarw.h"
#include "testutil.h"

TEST(RawMakersReal, EachFileTakenByItsOwnDecoderOnly) {
    const char* env = getenv("QMX_SHARED_DATA");
    const std::string dir = std::string(env ? env : QMX_SHARED_DATA) + "/raw/";
    struct Case {
        const char* file;
        int takenBy;  // cPictBase kind, 0 for none of the four
    };
    const Case cases[] = {
        {"CanonRaw.cr2", 0}, {"CanonRaw.cr3", 0}, {"CanonRaw.crw", 0},     {"DNG.dng", 0},
        {"FujiFilm.raf", 0}, {"Minolta.mrw", cPictBase::pkMRW},             {"Nikon.nef", 0},
        {"Panasonic.rw2", 0}, {"PhaseOne.iiq", 0}, {"Sigma.x3f", 0},         {"SigmaDP2.x3f", cPictBase::pkX3F},
        {"colorchart.dng", 0},
    };
    int found = 0;
    for (const Case& c : cases) {
        std::vector<unsigned char> f = testutil::readFile(dir + c.file);
        if (f.empty()) continue;
        found++;
        SCOPED_TRACE(c.file);
        std::unique_ptr<cPictBase> decoders[] = {std::make_unique<cPictARW>(), std::make_unique<cPictSRW>(),
                                                 std::make_unique<cPictMRW>(), std::make_unique<cPictX3F>()};
        for (auto& d : decoders) {
            cBufWrapperIO io(f.data(), (long long)f.size());
            cPictBase::sPictInfo info;
            EXPECT_EQ(d->isPicture(&io, &info), d->typeOf() == c.takenBy) << d->typeOf();
            io.set_fp(0);
            d->decode(&io);  // the cut sensor data: must fail cleanly where it is tried
            cPictDummy t;
            long long mw = 64, mh = 64;
            io.set_fp(0);
            d->getPreview(&io, &t, &mw, &mh);
        }
    }
    if (!found) printf("skipped: shared raw files not found\n");
}
