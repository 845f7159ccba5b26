// Hash throughput: SHA-256 and SHA-1 on the CPU extensions and on the portable code, SHA-512.
#include <benchmark/benchmark.h>

#include <vector>

#include "hash/chash.h"
#include "hash/shablocks.h"

namespace {

void run(benchmark::State& state, cHash::eKind kind, bool portable) {
    if (!portable && !shaHaveCpuExtensions()) {
        state.SkipWithError("CPU has no SHA extensions");
        return;
    }
    shaForcePortable(portable);
    std::vector<unsigned char> data((size_t)state.range(0), 0x5a);
    unsigned char out[cHash::kMaxDigest];
    for (auto _ : state) {
        cHash::digest(kind, data.data(), data.size(), out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
    shaForcePortable(false);
}

void Sha256Cpu(benchmark::State& s) { run(s, cHash::eSHA256, false); }
void Sha256Portable(benchmark::State& s) { run(s, cHash::eSHA256, true); }
void Sha1Cpu(benchmark::State& s) { run(s, cHash::eSHA1, false); }
void Sha1Portable(benchmark::State& s) { run(s, cHash::eSHA1, true); }
void Sha512(benchmark::State& s) { run(s, cHash::eSHA512, true); }

}  // namespace

BENCHMARK(Sha256Cpu)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(Sha256Portable)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(Sha1Cpu)->Arg(1 << 20);
BENCHMARK(Sha1Portable)->Arg(1 << 20);
BENCHMARK(Sha512)->Arg(1 << 20);
BENCHMARK_MAIN();
