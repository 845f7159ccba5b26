// Streams: reading lines of a 16 MiB text file (cTextFileIO against getline(3)) and
// filling a memory file in small writes (cMemIOTarget against a growing std::vector).
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "base/memio.h"
#include "base/textfileio.h"

namespace {

const std::string& textFile() {
    static std::string path = [] {
        std::string p = "/tmp/qmxbench-lines.XXXXXX";
        std::vector<char> buf(p.begin(), p.end());
        buf.push_back(0);
        int fd = mkstemp(buf.data());
        std::mt19937 rng(1);
        std::string s;
        while (s.size() < (16u << 20)) {
            s.append(rng() % 120, 'x');
            s += rng() % 4 ? "\n" : "\r\n";
        }
        if (write(fd, s.data(), s.size()) != (ssize_t)s.size()) abort();
        close(fd);
        static struct Remover {
            std::string path;
            ~Remover() { unlink(path.c_str()); }
        } remover{buf.data()};
        return std::string(buf.data());
    }();
    return path;
}

void BM_TextFileIOGets(benchmark::State& state) {
    for (auto _ : state) {
        cTextFileIO t;
        if (!t.open(textFile().c_str())) abort();
        _typebuf<char> line;
        long long total = 0;
        while (t.gets(line)) total += line.count;
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * (16LL << 20));
}

void BM_PosixGetline(benchmark::State& state) {
    for (auto _ : state) {
        FILE* f = fopen(textFile().c_str(), "rb");
        char* line = nullptr;
        size_t cap = 0;
        long long total = 0;
        ssize_t n;
        while ((n = getline(&line, &cap, f)) > 0) total += n;  // LF only: less work than ours
        free(line);
        fclose(f);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * (16LL << 20));
}

void BM_MemIOTargetWrites(benchmark::State& state) {
    unsigned char piece[100] = {};
    for (auto _ : state) {
        cMemIOTarget mem(65536);
        for (int i = 0; i < 200000; i++) mem.write(piece, sizeof(piece));
        benchmark::DoNotOptimize(mem.size());
    }
    state.SetBytesProcessed(state.iterations() * 200000LL * 100);
}

void BM_VectorAppends(benchmark::State& state) {
    unsigned char piece[100] = {};
    for (auto _ : state) {
        std::vector<unsigned char> v;
        for (int i = 0; i < 200000; i++) v.insert(v.end(), piece, piece + sizeof(piece));
        benchmark::DoNotOptimize(v.size());
    }
    state.SetBytesProcessed(state.iterations() * 200000LL * 100);
}

}  // namespace

BENCHMARK(BM_TextFileIOGets)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosixGetline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemIOTargetWrites)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VectorAppends)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
