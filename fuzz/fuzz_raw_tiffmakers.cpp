// libFuzzer target for the TIFF-structured raw decoders of Nikon, Leaf, Hasselblad and
// Pentax: the first byte picks the decoder, the rest is the file (see fuzz_rawharness.h). The
// seeds in fuzz/corpus/fuzz_raw_tiffmakers are small files written by the test kit
// (tests/picts/rawkit) behind their selector byte.
#include "fuzz_rawharness.h"
#include "picts/raw/hasselblad/pict3fr.h"
#include "picts/raw/leaf/pictmos.h"
#include "picts/raw/nikon/pictnef.h"
#include "picts/raw/pentax/pictpef.h"

namespace {
cPictBase* make(unsigned kind) {
    switch (kind & 3) {
        case 0: return new cPictNEF;
        case 1: return new cPictMOS;
        case 2: return new cPict3FR;
        default: return new cPictPEF;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzzRawDecoder(data, size, make); }
