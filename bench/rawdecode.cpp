// Decodes a camera raw file through the picture factory (demosaic and tone finishing
// included) and writes a 16-bit PPM, as dcraw -4 does; bench_raw.sh times whole runs
// against dcraw.
#include <cstdio>

#include "base/fileio.h"
#include "picts/pictbase.h"
#include "ppmsink.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: rawdecode file out.ppm\n");
        return 2;
    }
    cFileIO file;
    if (!file.open(argv[1])) return 2;
    cPictBase::sPictInfo info;
    cPictBase* p = cPictBase::mkPicture(&file, &info);
    if (!p) {
        fprintf(stderr, "not a picture we read\n");
        return 1;
    }
    file.set_fp(0);
    bool ok = p->decode(&file);
    if (!ok) fprintf(stderr, "decode failed\n");
    if (ok && !writePpm16(*p, argv[2])) {
        fprintf(stderr, "cannot write %s\n", argv[2]);
        ok = false;
    }
    delete p;
    return ok ? 0 : 1;
}
