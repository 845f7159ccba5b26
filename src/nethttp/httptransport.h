// cHttpTransport: sends one request over a fresh TCP connection and feeds the answer to a
// cHttpResponse. The connection is closed at the end of every request.
#pragma once

#include "nethttp/httprequest.h"
#include "nethttp/httpresponse.h"

class cHttpTransport {
public:
    // Why processRequest failed.
    enum eHttpError {
        eHttpOk = 0,
        eHttpBadRequest = 1,  // the request was not created or could not be built
        eHttpResolve = 2,     // the host name did not resolve
        eHttpConnect = 3,     // no address accepted the connection
        eHttpTimeout = 4,     // connect, send or receive took too long
        eHttpIO = 5,          // the connection broke
        eHttpProtocol = 6,    // the answer was malformed or too large
        eHttpTruncated = 7,   // the connection closed before the body was complete
        eHttpStopped = 8,     // the receiver asked to stop (or to abort)
    };

    static const int defaultConnectMs = 20000;
    static const int defaultReadMs = 30000;
    static const int defaultWriteMs = 30000;

    // Connects (connect time-out 20000 ms), sends the request and feeds the response
    // (read and write time-outs 30000 ms). True only when the whole answer arrived and the
    // receiver never asked to stop; `error`, when given, says why not.
    static bool processRequest(cHttpRequest& request, cHttpResponse& response, int* error = nullptr);

    // For tests: shorter time-outs for every later request (0 or less: no limit).
    static void setTimeouts(int connectMs, int readMs, int writeMs);
    static void restoreTimeouts() { setTimeouts(defaultConnectMs, defaultReadMs, defaultWriteMs); }
};
