// libFuzzer target for the Sony, Samsung, Minolta and Sigma raw decoders: the first byte picks
// the decoder, the rest is the file (see fuzz_rawharness.h). The seeds in
// fuzz/corpus/fuzz_raw_makers are small files written by the test kit (tests/picts/rawkit)
// behind their selector byte.
#include "fuzz_rawharness.h"
#include "picts/raw/minolta/pictmrw.h"
#include "picts/raw/samsung/pictsrw.h"
#include "picts/raw/sigma/pictx3f.h"
#include "picts/raw/sony/pictarw.h"

namespace {
cPictBase* make(unsigned kind) {
    switch (kind & 3) {
        case 0: return new cPictARW;
        case 1: return new cPictSRW;
        case 2: return new cPictMRW;
        default: return new cPictX3F;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzzRawDecoder(data, size, make); }
