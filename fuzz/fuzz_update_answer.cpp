// Arbitrary bytes as an update server's answer and as a downloaded update archive: the
// answer parser keeps its promises (a version of 2-4 parts, an "http://" line 2, no control
// characters in lines 2 and 3), and the archive check never reads outside the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "softmgrapp/updatecheck.h"
#include "softmgrapp/updateinstall.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    unsigned long long version = 0;
    _guardchar<char> download, site, whatsNew;
    if (parseUpdateAnswer(data, (long long)size, version, download, site, whatsNew)) {
        if (strncasecmp(download.ptr, "http://", 7) != 0) abort();
        const char* lines[2] = {download.ptr, site.ptr};
        for (const char* p : lines)
            for (; *p; p++)
                if ((unsigned char)*p < 0x20 || *p == 0x7F) abort();
        if ((version >> 48) > 65535) abort();
    }
    int fd = memfd_create("fuzz", 0);
    if (fd < 0) return 0;
    if (size && write(fd, data, size) != (ssize_t)size) {
        close(fd);
        return 0;
    }
    char path[64];
    snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
    int r = checkUpdateArchive(path);
    if (r < eArchiveOk || r > eArchiveBadName) abort();
    close(fd);
    return 0;
}
