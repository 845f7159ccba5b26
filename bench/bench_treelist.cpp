// Ordered map: insertion and lookup of 1M random int keys and 200k string keys,
// cFasterTreeList against std::map on the same keys.
#include <benchmark/benchmark.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/fastertreelist.h"
#include "base/stringkey.h"

namespace {

const std::vector<int>& intKeys() {
    static std::vector<int> keys = [] {
        std::mt19937 rng(1);
        std::vector<int> k(1000000);
        for (int& v : k) v = (int)rng();
        return k;
    }();
    return keys;
}

const std::vector<std::string>& textKeys() {
    static std::vector<std::string> keys = [] {
        std::mt19937 rng(2);
        const char* dirs[] = {"", "Contents/Resources/", "/usr/share/doc/", "lang/"};
        std::vector<std::string> k(200000);
        for (auto& s : k) {
            s = dirs[rng() % 4];
            int len = 4 + rng() % 16;
            for (int i = 0; i < len; i++) s += (char)('a' + rng() % 26);
        }
        return k;
    }();
    return keys;
}

const std::vector<cStringKey>& stringKeys() {
    static std::vector<cStringKey> keys = [] {
        std::vector<cStringKey> k;
        k.reserve(textKeys().size());
        for (auto& s : textKeys()) k.emplace_back(s.data(), (long long)s.size());
        return k;
    }();
    return keys;
}

void BM_IntInsert_Ours(benchmark::State& st) {
    auto& keys = intKeys();
    for (auto _ : st) {
        cFasterTreeList<int, int> m(512);
        for (int k : keys) *m.insert(k) = k;
        benchmark::DoNotOptimize(m.count());
    }
}

void BM_IntInsert_Std(benchmark::State& st) {
    auto& keys = intKeys();
    for (auto _ : st) {
        std::map<int, int> m;
        for (int k : keys) m[k] = k;
        benchmark::DoNotOptimize(m.size());
    }
}

void BM_IntLookup_Ours(benchmark::State& st) {
    auto& keys = intKeys();
    cFasterTreeList<int, int> m(512);
    for (int k : keys) *m.insert(k) = k;
    for (auto _ : st) {
        long long sum = 0;
        for (int k : keys) sum += *m.find(k);
        benchmark::DoNotOptimize(sum);
    }
}

void BM_IntLookup_Std(benchmark::State& st) {
    auto& keys = intKeys();
    std::map<int, int> m;
    for (int k : keys) m[k] = k;
    for (auto _ : st) {
        long long sum = 0;
        for (int k : keys) sum += m.find(k)->second;
        benchmark::DoNotOptimize(sum);
    }
}

void BM_StrInsert_Ours(benchmark::State& st) {
    auto& keys = stringKeys();
    for (auto _ : st) {
        cFasterTreeList<cStringKey, int> m(512);
        int i = 0;
        for (auto& k : keys) *m.insert(k) = i++;
        benchmark::DoNotOptimize(m.count());
    }
}

void BM_StrInsert_Std(benchmark::State& st) {
    auto& keys = textKeys();
    for (auto _ : st) {
        std::map<std::string, int> m;
        int i = 0;
        for (auto& k : keys) m[k] = i++;
        benchmark::DoNotOptimize(m.size());
    }
}

void BM_StrLookup_Ours(benchmark::State& st) {
    auto& keys = stringKeys();
    cFasterTreeList<cStringKey, int> m(512);
    int i = 0;
    for (auto& k : keys) *m.insert(k) = i++;
    for (auto _ : st) {
        long long sum = 0;
        for (auto& k : keys) sum += *m.find(k);
        benchmark::DoNotOptimize(sum);
    }
}

void BM_StrLookup_Std(benchmark::State& st) {
    auto& keys = textKeys();
    std::map<std::string, int> m;
    int i = 0;
    for (auto& k : keys) m[k] = i++;
    for (auto _ : st) {
        long long sum = 0;
        for (auto& k : keys) sum += m.find(k)->second;
        benchmark::DoNotOptimize(sum);
    }
}

// Sorted input: the case the rebuild threshold exists for.
void BM_IntAscendingInsert_Ours(benchmark::State& st) {
    for (auto _ : st) {
        cFasterTreeList<int, int> m(512);
        for (int k = 0; k < 100000; k++) *m.insert(k) = k;
        benchmark::DoNotOptimize(m.count());
    }
}

void BM_IntAscendingInsert_Std(benchmark::State& st) {
    for (auto _ : st) {
        std::map<int, int> m;
        for (int k = 0; k < 100000; k++) m[k] = k;
        benchmark::DoNotOptimize(m.size());
    }
}

// Nearly sorted input: ascending blocks of 1000 keys, each block in a shuffled order.
int nearlySortedKey(int i) { return (i / 1000) * 1000 + (i % 1000) * 7 % 1000; }

void BM_IntNearlySortedInsert_Ours(benchmark::State& st) {
    for (auto _ : st) {
        cFasterTreeList<int, int> m(512);
        for (int k = 0; k < 100000; k++) *m.insert(nearlySortedKey(k)) = k;
        benchmark::DoNotOptimize(m.count());
    }
}

void BM_IntNearlySortedInsert_Std(benchmark::State& st) {
    for (auto _ : st) {
        std::map<int, int> m;
        for (int k = 0; k < 100000; k++) m[nearlySortedKey(k)] = k;
        benchmark::DoNotOptimize(m.size());
    }
}

}  // namespace

BENCHMARK(BM_IntInsert_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntInsert_Std)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntLookup_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntLookup_Std)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrInsert_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrInsert_Std)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrLookup_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrLookup_Std)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntAscendingInsert_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntAscendingInsert_Std)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntNearlySortedInsert_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntNearlySortedInsert_Std)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
