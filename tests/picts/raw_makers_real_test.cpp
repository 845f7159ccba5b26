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
#include "rawkit/peers.h"
#include "testutil.h"

TEST(RawMakersReal, EachFileTakenByItsOwnDecoderOnly) {
    for (const char* name : rawkit::kSharedRawNames) {
        std::vector<unsigned char> f = rawkit::sharedRawFile(name);
        if (f.empty()) continue;
        SCOPED_TRACE(name);
        // The cPictBase kind that takes it, 0 for none of the four.
        const std::string n = name;
        const int takenBy = n == "Minolta.mrw" ? cPictBase::pkMRW : n == "SigmaDP2.x3f" ? cPictBase::pkX3F : 0;
        std::unique_ptr<cPictBase> decoders[] = {std::make_unique<cPictARW>(), std::make_unique<cPictSRW>(),
                                                 std::make_unique<cPictMRW>(), std::make_unique<cPictX3F>()};
        for (auto& d : decoders) {
            cBufWrapperIO io(f.data(), (long long)f.size());
            cPictBase::sPictInfo info;
            EXPECT_EQ(d->isPicture(&io, &info), d->typeOf() == takenBy) << d->typeOf();
            io.set_fp(0);
            d->decode(&io);  // the cut sensor data: must fail cleanly where it is tried
            cPictDummy t;
            long long mw = 64, mh = 64;
            io.set_fp(0);
            d->getPreview(&io, &t, &mw, &mh);
        }
    }
}
