// Decodes a JPEG file with cPictJPEG a number of times and prints the best time in ms
// (the driver bench_jpeg.sh times against djpeg).
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "base/fileio.h"
#include "picts/jpeg/pictjpeg.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: jpegdecode file.jpg [runs]\n");
        return 2;
    }
    int runs = argc > 2 ? atoi(argv[2]) : 5;
    cFileIO file;
    if (!file.open(argv[1])) return 2;
    double best = 1e30;
    for (int i = 0; i < runs; i++) {
        file.set_fp(0);
        cPictJPEG pic;
        auto t0 = std::chrono::steady_clock::now();
        bool ok = pic.decode(&file);
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        if (!ok) {
            fprintf(stderr, "decode failed\n");
            return 1;
        }
        if (ms < best) best = ms;
    }
    printf("%.2f\n", best);
    return 0;
}
