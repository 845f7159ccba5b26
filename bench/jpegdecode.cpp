// Decodes one JPEG file with cPictJPEG and writes it as PPM (PGM for grey pictures, as djpeg
// does) to the output (default /dev/null): the whole-process driver bench_jpeg.sh times against
// djpeg writing to the same sink.
// Usage: jpegdecode file.jpg [out.ppm]
#include <cstdio>

#include "base/fileio.h"
#include "picts/jpeg/pictjpeg.h"
#include "ppmsink.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: jpegdecode file.jpg [out.ppm]\n");
        return 2;
    }
    cFileIO file;
    if (!file.open(argv[1])) return 2;
    cPictJPEG pic;
    if (!pic.decode(&file)) {
        fprintf(stderr, "decode failed\n");
        return 1;
    }
    const bool grey = pic.componentCount() == 1 && !pic.is16Bpp();
    return writePpm(pic, argc > 2 ? argv[2] : "/dev/null", grey) ? 0 : 1;
}
