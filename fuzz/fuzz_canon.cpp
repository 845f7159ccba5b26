// libFuzzer target for the Canon raw decoders (CR2, CRW, CR3): the first byte picks the
// decoder, the rest is the file (see fuzz_rawharness.h). The seeds in
// fuzz/corpus/fuzz_canon are small files written by the test kit (tests/picts/rawkit)
// behind their selector byte.
#include "fuzz_rawharness.h"
#include "picts/raw/canon/pictcr2.h"
#include "picts/raw/canon/pictcr3.h"
#include "picts/raw/canon/pictcrw.h"

namespace {
cPictBase* make(unsigned kind) {
    switch (kind % 3) {
        case 0: return new cPictCR2;
        case 1: return new cPictCRW;
        default: return new cPictCR3;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzzRawDecoder(data, size, make); }
