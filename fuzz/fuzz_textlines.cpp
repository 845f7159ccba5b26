// Arbitrary bytes as a text file and as a mount table: lines never contain a line
// end, always carry their terminator, and together hold every other byte.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/folders.h"
#include "base/textfileio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = memfd_create("fuzz", 0);
    if (fd < 0) return 0;
    if (size && write(fd, data, size) != (ssize_t)size) {
        close(fd);
        return 0;
    }
    char path[64];
    snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);

    size_t plain = 0;  // bytes that are not line ends (nor a leading byte order mark)
    size_t skip = size >= 3 && memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    for (size_t i = skip; i < size; i++)
        if (data[i] != '\n' && data[i] != '\r') plain++;

    cTextFileIO t;
    if (t.open(path)) {
        _typebuf<char> line;
        size_t total = 0;
        while (t.gets(line)) {
            if (line.ptr[line.count] != 0) abort();
            for (long long i = 0; i < line.count; i++)
                if (line.ptr[i] == '\n' || line.ptr[i] == '\r') abort();
            total += (size_t)line.count;
        }
        if (t.valid() && total != plain) abort();
    }
    cFolderContents fc;
    fc.enumSpecialLocations(path);
    close(fd);
    return 0;
}
