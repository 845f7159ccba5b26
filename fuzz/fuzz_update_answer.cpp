// Arbitrary bytes as an update server's answer and as a downloaded update archive: the
// answer parser keeps its promises (a version of 2-4 parts, an "http://" line 2, no control
// characters in lines 2 and 3 nor, but line ends, in what's new), and the archive check
// and unpacking never read outside the file nor leave anything behind when they refuse.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/strings.h"
#include "instengine/updateinstall.h"
#include "softmgrapp/updatecheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    unsigned long long version = 0;
    _guardchar<char> download, site, whatsNew;
    if (parseUpdateAnswer(data, (long long)size, version, download, site, whatsNew)) {
        if (__stricmp(download.ptr, "http://", 7) != 0) abort();
        const char* lines[2] = {download.ptr, site.ptr};
        for (const char* p : lines)
            for (; *p; p++)
                if ((unsigned char)*p < 0x20 || *p == 0x7F) abort();
        for (const char* p = whatsNew.ptr; p && *p; p++)
            if (((unsigned char)*p < 0x20 && *p != '\r' && *p != '\n') || *p == 0x7F) abort();
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
    if (r < eArchiveOk || r > eArchiveDamaged) abort();
    if (r == eArchiveOk) {
        // Unpacked into a private temporary folder of this run, then removed; the folder
        // itself goes when the run ends.
        static char tmp[] = "/tmp/fuzzupd-XXXXXX";
        static bool made = mkdtemp(tmp) && setenv("TMPDIR", tmp, 1) == 0 && atexit([] { rmdir(tmp); }) == 0;
        _guardchar<char> folder;
        int reason = -1;
        bool ok = made && unpackUpdateArchive(path, folder, nullptr, nullptr, &reason);
        if (ok != (reason == eArchiveOk) || (!ok && folder.ptr)) abort();
        if (ok && !removeUpdateFolder(folder.ptr)) abort();
    }
    close(fd);
    return 0;
}
