// Driver of bench_make.sh: loads a scenario data file as the installer does and, with
// "verify", streams every payload item through its length and digest check, as
// `unzip -t` tests every member of an archive. Exit code 0 when all of it holds.
//   pkgload FILE [verify]
#include <cstdio>
#include <cstring>

#include "base/fileio.h"
#include "softmgr/softpkgscenario.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s scenario.data [verify]\n", argv[0]);
        return 2;
    }
    cFileIO in;
    cSoftPkgScenario s;
    if (!in.open(argv[1]) || !s.loadBinConfig(&in)) {
        fprintf(stderr, "load failed\n");
        return 1;
    }
    in.close();
    unsigned long long bytes = 0;
    unsigned int items = s.payload().count();
    if (argc > 2 && !strcmp(argv[2], "verify")) {
        static unsigned char buf[1 << 20];
        for (unsigned int i = 0; i < items; i++) {
            cFileIOTarget* item = s.file((int)i);
            long long n;
            while (item && (n = item->read(buf, sizeof(buf))) > 0) bytes += (unsigned long long)n;
            bool ok = item && item->valid() && item->get_fp() == item->size();
            delete item;
            if (!ok) {
                fprintf(stderr, "item %u failed\n", i);
                return 1;
            }
        }
    }
    printf("items %u bytes %llu\n", items, bytes);
    return 0;
}
