// The Nikon, Leaf, Hasselblad and Pentax decoders on the real raw files of the shared test
// data: each file is claimed by its own decoder only (the Nikon sample by the NEF decoder),
// and every decode, preview and probe of the others fails cleanly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictdummy.h"
#include "picts/raw/hasselblad/pict3fr.h"
#include "picts/raw/leaf/pictmos.h"
#include "picts/raw/nikon/pictnef.h"
#include "picts/raw/pentax/pictpef.h"
#include "rawkit/peers.h"
#include "testutil.h"

TEST(RawTiffMakersReal, OnlyTheOwnDecoderClaimsAFile) {
    for (const char* name : rawkit::kSharedRawNames) {
        std::vector<unsigned char> f = rawkit::sharedRawFile(name);
        if (f.empty()) continue;
        SCOPED_TRACE(name);
        const bool nef = std::string(name) == "Nikon.nef";
        std::unique_ptr<cPictBase> decoders[4] = {std::make_unique<cPictNEF>(), std::make_unique<cPictMOS>(),
                                                  std::make_unique<cPict3FR>(), std::make_unique<cPictPEF>()};
        for (int k = 0; k < 4; k++) {
            cBufWrapperIO io(f.data(), (long long)f.size());
            cPictBase::sPictInfo info;
            EXPECT_EQ(decoders[k]->isPicture(&io, &info), nef && k == 0) << k;
            // The samples carry no sensor data: decodes fail, whoever tries.
            io.set_fp(0);
            EXPECT_FALSE(decoders[k]->decode(&io)) << k;
            cPictDummy t;
            io.set_fp(0);
            decoders[k]->getPreview(&io, &t, nullptr, nullptr);
        }
    }
}
