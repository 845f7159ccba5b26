// Benchmark driver: fetches one "http://" address into a memory sink and prints the byte
// count, the seconds taken and MiB/s. Usage: httpget <address>
#include <time.h>

#include <cstdio>
#include <cstring>

#include "base/buffers.h"
#include "nethttp/httptransport.h"
#include "netio/socketio.h"

namespace {

// Copies every piece into a fixed memory block, so the data is touched as a real sink would.
class cMemorySink : public cHttpResponse {
public:
    _typebuf<char> block;
    unsigned long long total = 0;
    cMemorySink() { block.set(4 << 20); }
    bool onData(const void* data, long long length, unsigned long long offset) override {
        const char* p = (const char*)data;
        while (length > 0) {
            long long at = (long long)(total % (unsigned long long)block.count);
            long long n = block.count - at < length ? block.count - at : length;
            memcpy(block.ptr + at, p, (size_t)n);
            p += n;
            length -= n;
            total += (unsigned long long)n;
        }
        return true;
    }
};

double seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !initSockLib()) {
        fprintf(stderr, "usage: httpget <http://address>\n");
        return 2;
    }
    cHttpRequest request(cHttpRequest::eGet, argv[1], 1);
    cMemorySink sink;
    double t0 = seconds();
    int err = 0;
    bool ok = cHttpTransport::processRequest(request, sink, &err);
    double dt = seconds() - t0;
    printf("%llu bytes %.3f s %.1f MiB/s\n", sink.total, dt, dt > 0 ? sink.total / 1048576.0 / dt : 0.0);
    if (!ok) fprintf(stderr, "httpget: failed (%d), status %d\n", err, sink.RC());
    return ok && sink.RC() == 200 ? 0 : 1;
}
