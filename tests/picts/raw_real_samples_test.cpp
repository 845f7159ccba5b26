// Every maker decoder on every real raw file of the shared test data (structure and metadata
// of real cameras, sensor data cut out): a file is taken by its own format's decoder only, at
// the size dcraw reports (`dcraw -i -v`), through the format factory too; every decode fails
// cleanly, whoever tries; a preview asked within bounds stays within them.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictdummy.h"
#include "picts/raw/canon/pictcr2.h"
#include "picts/raw/canon/pictcr3.h"
#include "picts/raw/canon/pictcrw.h"
#include "picts/raw/fuji/pictraf.h"
#include "picts/raw/hasselblad/pict3fr.h"
#include "picts/raw/leaf/pictmos.h"
#include "picts/raw/minolta/pictmrw.h"
#include "picts/raw/nikon/pictnef.h"
#include "picts/raw/olympus/pictorf.h"
#include "picts/raw/panasonic/pictrwl.h"
#include "picts/raw/pentax/pictpef.h"
#include "picts/raw/phaseone/pictiiq.h"
#include "picts/raw/samsung/pictsrw.h"
#include "picts/raw/sigma/pictx3f.h"
#include "picts/raw/sony/pictarw.h"
#include "rawkit/peers.h"
#include "testutil.h"

namespace {

std::vector<std::unique_ptr<cPictBase>> makerDecoders() {
    std::vector<std::unique_ptr<cPictBase>> d;
    d.push_back(std::make_unique<cPictCR2>());
    d.push_back(std::make_unique<cPictCR3>());
    d.push_back(std::make_unique<cPictCRW>());
    d.push_back(std::make_unique<cPictRAF>());
    d.push_back(std::make_unique<cPict3FR>());
    d.push_back(std::make_unique<cPictMOS>());
    d.push_back(std::make_unique<cPictMRW>());
    d.push_back(std::make_unique<cPictNEF>());
    d.push_back(std::make_unique<cPictORF>());
    d.push_back(std::make_unique<cPictRWL>());
    d.push_back(std::make_unique<cPictPEF>());
    d.push_back(std::make_unique<cPictIIQ>());
    d.push_back(std::make_unique<cPictSRW>());
    d.push_back(std::make_unique<cPictX3F>());
    d.push_back(std::make_unique<cPictARW>());
    return d;
}

}  // namespace

TEST(RawRealSamples, TakenByTheirOwnDecoderOnlyAndNeverDecoded) {
    struct Sample {
        const char* name;
        int kind;  // the decoder that takes it; pkNone for none of them
        long long width, height;  // 0 x 0: its probe is not pinned either way
        int preview;  // whether the probe sees a preview; -1 unchecked
    };
    const Sample samples[] = {
        // Its sensor data is cut away: the peer reports no raw image, and so do we.
        {"CanonRaw.cr2", cPictBase::pkNone, 0, 0, -1},
        // The full-size JPEG (dcraw's "thumb size").
        {"CanonRaw.cr3", cPictBase::pkCR3, 6000, 4000, 1},
        // The image record; dcraw crops its own way (3088 x 2056).
        {"CanonRaw.crw", cPictBase::pkCRW, 3072, 2048, -1},
        {"DNG.dng", cPictBase::pkNone, 0, 0, -1},
        // The raw block is cut out, its directory with it (dcraw still names the camera).
        {"FujiFilm.raf", cPictBase::pkRAF, 0, 0, -1},
        {"Minolta.mrw", cPictBase::pkMRW, 3272, 2456, 0},
        {"Nikon.nef", cPictBase::pkNEF, 3040, 2014, 1},
        // 3724 x 2754 sensor; DMC-LX3 crops 77 columns on the right.
        {"Panasonic.rw2", cPictBase::pkRWL, 3724 - 77, 2754, -1},
        {"PhaseOne.iiq", cPictBase::pkIIQ, 7320, 5484, 1},  // tiffinfo: a 1 x 1 RGB picture
        // An older format (6) without a JPEG preview: not taken.
        {"Sigma.x3f", cPictBase::pkNone, 0, 0, -1},
        {"SigmaDP2.x3f", cPictBase::pkX3F, 2688, 1792, 1},
        {"colorchart.dng", cPictBase::pkNone, 0, 0, -1},
    };
    std::string missing;
    for (const Sample& s : samples) {
        std::vector<unsigned char> f = rawkit::sharedRawFile(s.name, missing);
        if (f.empty()) continue;
        SCOPED_TRACE(s.name);
        for (auto& d : makerDecoders()) {
            SCOPED_TRACE(d->typeOf());
            const bool own = d->typeOf() == s.kind;
            cBufWrapperIO io(f.data(), (long long)f.size());
            cPictBase::sPictInfo info;
            const bool taken = d->isPicture(&io, &info);
            if (!own || s.width) {
                EXPECT_EQ(taken, own);
            }
            if (own && s.width) {
                EXPECT_EQ(info.width, s.width);
                EXPECT_EQ(info.height, s.height);
                if (s.preview >= 0) {
                    EXPECT_EQ(info.hasPreview, s.preview != 0);
                }
            }
            io.set_fp(0);
            EXPECT_FALSE(d->decode(&io));
            cPictDummy t;
            long long mw = 64, mh = 64;
            io.set_fp(0);
            if (d->getPreview(&io, &t, &mw, &mh)) {
                EXPECT_GT(t.width(), 0);
                EXPECT_LE(t.width(), 64);
                EXPECT_LE(t.height(), 64);
            }
        }
        if (s.kind == cPictBase::pkNone || !s.width) continue;
        cBufWrapperIO io(f.data(), (long long)f.size());
        std::unique_ptr<cPictBase> made(cPictBase::mkPicture(&io, nullptr));
        ASSERT_TRUE(made);
        EXPECT_EQ(made->typeOf(), s.kind);
    }
    rawkit::skipForMissing(missing);
}
