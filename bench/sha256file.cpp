// Hashes a file with SHA-256 and prints the digest like sha256sum; the driver of
// hash_vs_openssl.sh. "--portable" forces the portable block code.
#include <cstdio>
#include <cstring>

#include "hash/sha256.h"
#include "hash/shablocks.h"

int main(int argc, char** argv) {
    int arg = 1;
    if (argc > arg && !strcmp(argv[arg], "--portable")) {
        shaForcePortable(true);
        arg++;
    }
    if (argc <= arg) {
        fprintf(stderr, "usage: sha256file [--portable] file\n");
        return 2;
    }
    FILE* f = fopen(argv[arg], "rb");
    if (!f) {
        fprintf(stderr, "(e) Unable to open %s!\n", argv[arg]);
        return 1;
    }
    static unsigned char buf[1 << 20];
    sha256_context ctx;
    sha256_starts(&ctx);
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) sha256_update(&ctx, buf, n);
    fclose(f);
    unsigned char out[32];
    sha256_finish(&ctx, out);
    for (unsigned char b : out) printf("%02x", b);
    printf("  %s\n", argv[arg]);
    return 0;
}
