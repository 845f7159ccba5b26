// cHttpRequest: one HTTP/1.0 or 1.1 request to an "http://" address: method, host, port,
// target, extra headers and, for POST, form parts or a raw body.
#pragma once

#include "base/buffers.h"
#include "nethttp/httpbytes.h"

class cHttpRequest {
public:
    enum eMethod { eGet = 0, ePost = 1 };

    cHttpRequest();
    // Same as create(); check valid() afterwards.
    cHttpRequest(int method, const char* address, int version11);
    ~cHttpRequest();
    cHttpRequest(const cHttpRequest&) = delete;
    cHttpRequest& operator=(const cHttpRequest&) = delete;

    // Method 0 GET, 1 POST; a non-zero version flag sends HTTP/1.1, zero HTTP/1.0.
    // False (nothing to send) for an address that is not "http://host[:port][/path][?query]"
    // or holds blanks or control characters, or a port outside 1-65535.
    bool create(int method, const char* address, int version11);
    bool valid() const { return myValid; }

    // An extra header line; false for an empty or non-token name or a value with CR, LF
    // or other control characters.
    bool addHeader(const char* name, const char* value);
    // A multipart/form-data part (POST only); fileName and contentType may be null.
    bool addFormPart(const char* name, const void* data, long long length, const char* fileName = nullptr,
                     const char* contentType = nullptr);
    // A raw POST body, used when no form part was added; contentType may be null.
    bool setBody(const void* data, long long length, const char* contentType = nullptr);

    // The bytes to send: request line, headers, blank line and body.
    bool build(cHttpBytes& out) const;

    int method() const { return myMethod; }
    bool http11() const { return myVersion11; }
    const char* host() const { return myHost.ptr; }
    int port() const { return myPort; }
    // Path and query as sent, e.g. "/a/b?x=1".
    const char* target() const { return myTarget.ptr; }

    static const char* userAgent() { return "QMXNetHTTP (compatible; cross-platform)"; }

private:
    struct sPart {
        _guardchar<char> name, fileName, contentType;
        _typebuf<char> data;
        sPart* next = nullptr;
    };
    void reset();
    bool pickBoundary(char* out, int size) const;

    bool myValid = false;
    int myMethod = eGet;
    bool myVersion11 = true;
    int myPort = 80;
    _guardchar<char> myHost;
    _guardchar<char> myTarget;
    cHttpBytes myHeaders;  // "Name: value\r\n" lines
    sPart* myParts = nullptr;
    sPart* myLastPart = nullptr;
    _typebuf<char> myBody;
    _guardchar<char> myBodyType;
    bool myHasBody = false;
};
