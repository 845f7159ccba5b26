// Inflate throughput of cZDecompress on text-like and mixed data. With "--file F N" it
// inflates the zlib file F N times and prints the best time, for inflate_vs_zlib.sh.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "compression/zlibstreams.h"

namespace {

std::vector<unsigned char> sampleData(size_t n) {
    std::vector<unsigned char> d;
    unsigned x = 12345;
    while (d.size() < n) {
        x = x * 1103515245u + 12345u;
        std::string word = "token" + std::to_string((x >> 16) % 500) + ((x >> 8) % 7 ? " " : "\n");
        d.insert(d.end(), word.begin(), word.end());
    }
    d.resize(n);
    return d;
}

void Inflate(benchmark::State& state) {
    std::vector<unsigned char> plain = sampleData((size_t)state.range(0));
    _typebuf<unsigned char> z, out;
    cZDeflate::compress(plain.data(), (long long)plain.size(), z, 6);
    for (auto _ : state) {
        if (!cZDecompress::decompress(z, out)) state.SkipWithError("inflate failed");
        benchmark::DoNotOptimize(out.ptr);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
}

int inflateFile(const char* path, int times) {
    FILE* f = fopen(path, "rb");
    if (!f) return 1;
    std::vector<unsigned char> z;
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) z.insert(z.end(), buf, buf + n);
    fclose(f);
    double best = 1e30;
    long long size = 0;
    for (int i = 0; i < times; i++) {
        _typebuf<unsigned char> out;
        auto t0 = std::chrono::steady_clock::now();
        bool ok = cZDecompress::decompressPart(z.data(), (long long)z.size(), out);
        double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!ok) return 1;
        size = out.count;
        if (t < best) best = t;
    }
    printf("%.6f %lld\n", best, size);
    return 0;
}

}  // namespace

BENCHMARK(Inflate)->Arg(1 << 16)->Arg(1 << 24);

int main(int argc, char** argv) {
    if (argc == 4 && !strcmp(argv[1], "--file")) return inflateFile(argv[2], atoi(argv[3]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
