// The program's entry point. The modes other than "version" arrive with the application.
#include <cstdio>
#include <cstring>

namespace {

// The version ID: four 16-bit parts from bit 48 down (major, minor, third, fourth).
const unsigned long long kVersionID = (1ULL << 48) | (0ULL << 32) | (0ULL << 16) | 1ULL;

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "version") == 0) {
        printf("%016llX\n", kVersionID);
        return 0;
    }
    fprintf(stderr, "(e) Unknown or missing command.\n");
    return 1;
}
