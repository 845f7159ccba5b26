// Benchmark driver: fetches one "http://" address and writes the body to the output (default
// /dev/null, the sink curl -o /dev/null writes to); prints the byte count, the seconds taken
// and MiB/s on stderr. Usage: httpget <address> [out]
#include <time.h>

#include <cstdio>
#include <cstring>

#include "nethttp/httptransport.h"
#include "netio/socketio.h"

namespace {

// Writes every piece to the output file as it comes.
class cFileSink : public cHttpResponse {
public:
    FILE* out = nullptr;
    unsigned long long total = 0;
    bool onData(const void* data, long long length, unsigned long long offset) override {
        total += (unsigned long long)length;
        return fwrite(data, 1, (size_t)length, out) == (size_t)length;
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
        fprintf(stderr, "usage: httpget <http://address> [out]\n");
        return 2;
    }
    cFileSink sink;
    sink.out = fopen(argc > 2 ? argv[2] : "/dev/null", "wb");
    if (!sink.out) return 2;
    cHttpRequest request(cHttpRequest::eGet, argv[1], 1);
    double t0 = seconds();
    int err = 0;
    bool ok = cHttpTransport::processRequest(request, sink, &err);
    double dt = seconds() - t0;
    bool closed = fclose(sink.out) == 0;
    fprintf(stderr, "%llu bytes %.3f s %.1f MiB/s\n", sink.total, dt, dt > 0 ? sink.total / 1048576.0 / dt : 0.0);
    if (!ok) fprintf(stderr, "httpget: failed (%d), status %d\n", err, sink.RC());
    return ok && closed && sink.RC() == 200 ? 0 : 1;
}
