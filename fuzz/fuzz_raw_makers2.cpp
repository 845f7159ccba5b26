// libFuzzer target for the Panasonic, Olympus, Phase One and Fujifilm raw decoders: the first
// byte picks the decoder, the rest is the file (see fuzz_rawharness.h). The seeds in
// fuzz/corpus/fuzz_raw_makers2 are small files written by the test kit (tests/picts/rawkit)
// behind their selector byte.
#include "fuzz_rawharness.h"
#include "picts/raw/fuji/pictraf.h"
#include "picts/raw/olympus/pictorf.h"
#include "picts/raw/panasonic/pictrwl.h"
#include "picts/raw/phaseone/pictiiq.h"

namespace {
cPictBase* make(unsigned kind) {
    switch (kind & 3) {
        case 0: return new cPictRWL;
        case 1: return new cPictORF;
        case 2: return new cPictIIQ;
        default: return new cPictRAF;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzzRawDecoder(data, size, make); }
