// cHttpTransport: connect, send, then read until the parser says the answer is complete.
#include "nethttp/httptransport.h"

#include <atomic>

#include "netio/socketio.h"

namespace {

std::atomic<int> gConnectMs{cHttpTransport::defaultConnectMs};
std::atomic<int> gReadMs{cHttpTransport::defaultReadMs};
std::atomic<int> gWriteMs{cHttpTransport::defaultWriteMs};

const long long readChunk = 256 * 1024;

int socketError(int e) {
    switch (e) {
        case cSocketIO::eSockResolve:
            return cHttpTransport::eHttpResolve;
        case cSocketIO::eSockRefused:
            return cHttpTransport::eHttpConnect;
        case cSocketIO::eSockTimeout:
            return cHttpTransport::eHttpTimeout;
        case cSocketIO::eSockBadArgument:
            return cHttpTransport::eHttpBadRequest;
        case cSocketIO::eSockAborted:
            return cHttpTransport::eHttpStopped;
        default:
            return cHttpTransport::eHttpIO;
    }
}

int parserError(const cHttpResponseParser& parser) {
    if (parser.state() == cHttpResponseParser::eStopped) return cHttpTransport::eHttpStopped;
    return parser.error() == cHttpResponseParser::eTruncated ? cHttpTransport::eHttpTruncated
                                                             : cHttpTransport::eHttpProtocol;
}

bool askAbort(void* response) { return ((cHttpResponse*)response)->abortRequested(); }

bool result(int* out, int code) {
    if (out) *out = code;
    return code == cHttpTransport::eHttpOk;
}

}  // namespace

void cHttpTransport::setTimeouts(int connectMs, int readMs, int writeMs) {
    gConnectMs = connectMs;
    gReadMs = readMs;
    gWriteMs = writeMs;
}

bool cHttpTransport::processRequest(cHttpRequest& request, cHttpResponse& response, int* error) {
    cHttpResponseParser parser(response);
    parser.begin();
    cHttpBytes bytes;
    if (!request.valid() || !request.build(bytes)) return result(error, eHttpBadRequest);

    cSocketIO sock;
    sock.setTimeouts(gConnectMs, gReadMs, gWriteMs);
    sock.setAbortCheck(askAbort, &response);
    if (!sock.connect(request.host(), request.port())) return result(error, socketError(sock.lastError()));
    if (!sock.writef(bytes.buf.ptr, bytes.used)) return result(error, socketError(sock.lastError()));
    bytes.clear();

    _typebuf<char> buf;
    if (!buf.set(readChunk)) return result(error, eHttpIO);
    // Ends at the answer's end, a failure, the receiver's stop, a time-out or the peer's close.
    for (;;) {
        long long n = sock.read(buf.ptr, buf.count);
        int state;
        if (n > 0) {
            state = parser.feed(buf.ptr, n);
        } else {
            if (sock.lastError() != cSocketIO::eSockNone) return result(error, socketError(sock.lastError()));
            state = parser.finish();
        }
        if (state == cHttpResponseParser::eDone) return result(error, eHttpOk);
        if (state != cHttpResponseParser::eMore) return result(error, parserError(parser));
    }
}
