// Driver of bench_pkgbuild.sh: "make" of a text scenario into a scenario data file, timed,
// then the same body compressed in one single-threaded level-9 stream for comparison.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/fileio.h"
#include "softmgr/softpkgscenario.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s scenario.txt out.data [single]\n", argv[0]);
        return 2;
    }
    auto t0 = std::chrono::steady_clock::now();
    cSoftPkgScenario s;
    int line = 0;
    int r = s.loadTextConfig(argv[1], line);
    if (r) {
        fprintf(stderr, "load failed: %d at line %d (%s)\n", r, line, s.errorPath() ? s.errorPath() : "");
        return 1;
    }
    double loaded = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cFileIO out;
    if (!out.create(argv[2]) || !s.saveBinConfig(&out)) {
        fprintf(stderr, "save failed\n");
        return 1;
    }
    out.close();
    double make = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cFileIO in;
    in.open(argv[2]);
    unsigned long long packed = in.size() - 49;
    printf("load_seconds %.2f\nmake_seconds %.2f\npacked_bytes %llu\n", loaded, make, packed);
    if (argc > 3 && !strcmp(argv[3], "single")) {
        std::vector<unsigned char> file((size_t)in.size());
        in.readf(file.data(), (long long)file.size());
        uint32_t U;
        memcpy(&U, file.data() + 9, 4);
        std::vector<unsigned char> body(U);
        uLongf n = U;
        if (uncompress(body.data(), &n, file.data() + 49, (uLong)packed) != Z_OK) return 1;
        std::vector<unsigned char> z(compressBound(U));
        uLongf zn = (uLongf)z.size();
        auto t1 = std::chrono::steady_clock::now();
        compress2(z.data(), &zn, body.data(), U, 9);
        double single = std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
        printf("body_bytes %u\nsingle_deflate_seconds %.2f\nsingle_bytes %lu\n", U, single, (unsigned long)zn);
    }
    return 0;
}
