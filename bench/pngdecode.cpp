// PNG decode driver for bench/bench_png.sh: decodes a file N times, prints the best time in ms.
#include <chrono>
#include <cstdio>
#include <vector>

#include "base/memio.h"
#include "picts/png/pictpng.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: pngdecode file.png [runs]\n");
        return 2;
    }
    FILE* f = fopen(argv[1], "rb");
    if (!f) return 1;
    std::vector<unsigned char> data;
    unsigned char buf[1 << 16];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    fclose(f);
    int runs = argc > 2 ? atoi(argv[2]) : 3;
    double best = 1e30;
    for (int i = 0; i < runs; i++) {
        auto t0 = std::chrono::steady_clock::now();
        cBufWrapperIO s(data.data(), (long long)data.size());
        cPictPNG d;
        if (!d.decode(&s)) {
            fprintf(stderr, "decode failed\n");
            return 1;
        }
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        if (ms < best) best = ms;
    }
    printf("%.1f\n", best);
    return 0;
}
