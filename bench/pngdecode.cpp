// Decodes one PNG file with cPictPNG and writes it as PPM to the output (default /dev/null):
// the whole-process driver bench_png.sh times against pngtopnm writing to the same sink.
// Usage: pngdecode file.png [out.ppm]
#include <cstdio>

#include "base/fileio.h"
#include "picts/png/pictpng.h"
#include "ppmsink.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: pngdecode file.png [out.ppm]\n");
        return 2;
    }
    cFileIO file;
    if (!file.open(argv[1])) return 2;
    cPictPNG pic;
    if (!pic.decode(&file)) {
        fprintf(stderr, "decode failed\n");
        return 1;
    }
    return writePpm(pic, argc > 2 ? argv[2] : "/dev/null") ? 0 : 1;
}
