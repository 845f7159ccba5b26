// Decodes a camera raw file through the picture factory (demosaic and tone finishing
// included) and discards the pixels; the driver bench_raw.sh times whole runs against dcraw.
#include <cstdio>

#include "base/fileio.h"
#include "picts/pictbase.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: rawdecode file\n");
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
    delete p;
    if (!ok) fprintf(stderr, "decode failed\n");
    return ok ? 0 : 1;
}
