// Feeds arbitrary bytes to the HTTP response parser as a server's answer, in pieces whose
// size the first byte picks, then the close; body offsets must stay contiguous.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "nethttp/httpresponse.h"

namespace {

class Sink : public cHttpResponse {
public:
    unsigned long long next = 0;
    bool onData(const void* data, long long length, unsigned long long offset) override {
        if (length <= 0 || offset != next) abort();
        const volatile unsigned char* p = (const unsigned char*)data;
        (void)p[0];
        (void)p[length - 1];
        next += (unsigned long long)length;
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t piece = (size_t)data[0] + 1;
    data++;
    size--;
    Sink sink;
    cHttpResponseParser parser(sink);
    parser.begin();
    int state = cHttpResponseParser::eMore;
    for (size_t at = 0; at < size && state == cHttpResponseParser::eMore; at += piece) {
        size_t n = size - at < piece ? size - at : piece;
        state = parser.feed(data + at, (long long)n);
    }
    if (state == cHttpResponseParser::eMore) state = parser.finish();
    if (state == cHttpResponseParser::eDone && sink.contentLength() >= 0 && !sink.chunked() && sink.RC() != 204 &&
        sink.RC() != 304 && (long long)sink.next != sink.contentLength())
        abort();  // a complete answer with a length must have delivered exactly that length
    return 0;
}
