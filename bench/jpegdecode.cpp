// Decodes a JPEG file with cPictJPEG a number of times and prints the best time in ms
// (the driver bench_jpeg.sh times against djpeg).
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "picts/jpeg/pictjpeg.h"

namespace {

class cFileView : public cFileIOTarget {
public:
    explicit cFileView(FILE* f) : myFile(f) {}
    unsigned long long size() override {
        long pos = ftell(myFile);
        fseek(myFile, 0, SEEK_END);
        long s = ftell(myFile);
        fseek(myFile, pos, SEEK_SET);
        return (unsigned long long)s;
    }
    long long read(void* b, long long n) override { return (long long)fread(b, 1, (size_t)n, myFile); }
    long long write(const void*, long long) override { return 0; }
    bool set_fp(unsigned long long p) override { return fseek(myFile, (long)p, SEEK_SET) == 0; }
    void close() override {}
    bool valid() override { return myFile != nullptr; }
    unsigned long long get_fp() override { return (unsigned long long)ftell(myFile); }

private:
    FILE* myFile;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: jpegdecode file.jpg [runs]\n");
        return 2;
    }
    int runs = argc > 2 ? atoi(argv[2]) : 5;
    FILE* f = fopen(argv[1], "rb");
    if (!f) return 2;
    cFileView view(f);
    double best = 1e30;
    for (int i = 0; i < runs; i++) {
        view.set_fp(0);
        cPictJPEG pic;
        auto t0 = std::chrono::steady_clock::now();
        bool ok = pic.decode(&view);
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        if (!ok) {
            fprintf(stderr, "decode failed\n");
            return 1;
        }
        if (ms < best) best = ms;
    }
    fclose(f);
    printf("%.2f\n", best);
    return 0;
}
