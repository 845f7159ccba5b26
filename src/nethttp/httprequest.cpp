// cHttpRequest: address parsing (refusing anything that could inject header lines) and
// the request bytes.
#include "nethttp/httprequest.h"

#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/strings.h"

namespace {

bool isHostChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

bool isHex(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// RFC 7230 token characters, the only ones allowed in a header name.
bool isTokenChar(unsigned char c) {
    if (c >= 'a' && c <= 'z') return true;
    if (c >= 'A' && c <= 'Z') return true;
    if (c >= '0' && c <= '9') return true;
    return c && strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isCtl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// A header value or parameter: no control characters (tab is fine in values).
bool cleanText(const char* s, bool allowTab, bool allowQuote) {
    for (; *s; s++) {
        unsigned char c = (unsigned char)*s;
        if (c == '\t' && allowTab) continue;
        if (isCtl(c)) return false;
        if (c == '"' && !allowQuote) return false;
    }
    return true;
}

bool putNumber(cHttpBytes& out, long long v) {
    char num[32];
    int n = snprintf(num, sizeof(num), "%lld", v);
    return out.append(num, n);
}

}  // namespace

cHttpRequest::cHttpRequest() {}

cHttpRequest::cHttpRequest(int method, const char* address, int version11) { create(method, address, version11); }

cHttpRequest::~cHttpRequest() { reset(); }

void cHttpRequest::reset() {
    while (myParts) {
        sPart* n = myParts->next;
        delete myParts;
        myParts = n;
    }
    myLastPart = nullptr;
    myValid = false;
    myHost.clear();
    myTarget.clear();
    myHeaders.clear();
    myBody.clear();
    myBodyType.clear();
    myHasBody = false;
    myPort = 80;
}

bool cHttpRequest::create(int method, const char* address, int version11) {
    reset();
    if (!address || (method != eGet && method != ePost)) return false;
    if (__stricmp(address, "http://", 7) != 0) return false;
    const char* p = address + 7;
    const char* authEnd = p;
    while (*authEnd && *authEnd != '/' && *authEnd != '?' && *authEnd != '#') authEnd++;

    // Host: a bracketed IPv6 literal or a name / IPv4 address.
    const char* hostStart;
    const char* hostEnd;
    const char* q;
    if (*p == '[') {
        hostStart = p + 1;
        hostEnd = hostStart;
        while (hostEnd < authEnd && *hostEnd != ']') {
            unsigned char c = (unsigned char)*hostEnd;
            if (!isHex(c) && c != ':' && c != '.') return false;
            hostEnd++;
        }
        if (hostEnd >= authEnd) return false;
        q = hostEnd + 1;
    } else {
        hostStart = p;
        hostEnd = p;
        while (hostEnd < authEnd && *hostEnd != ':') {
            if (!isHostChar((unsigned char)*hostEnd)) return false;
            hostEnd++;
        }
        q = hostEnd;
    }
    long long hostLen = hostEnd - hostStart;
    if (hostLen < 1 || hostLen > 253) return false;

    int port = 80;
    if (q < authEnd) {
        if (*q != ':') return false;
        q++;
        if (q == authEnd || authEnd - q > 5) return false;
        long v = 0;
        for (; q < authEnd; q++) {
            if (*q < '0' || *q > '9') return false;
            v = v * 10 + (*q - '0');
        }
        if (v < 1 || v > 65535) return false;
        port = (int)v;
    }

    // Path and query up to the fragment; bytes above 127 are percent-encoded.
    const char* t = authEnd;
    const char* tEnd = t;
    while (*tEnd && *tEnd != '#') tEnd++;
    long long tLen = tEnd - t;
    _typebuf<char> target;
    if (!target.set(tLen * 3 + 3)) return false;
    long long k = 0;
    if (*t != '/') target.ptr[k++] = '/';
    for (; t < tEnd; t++) {
        unsigned char c = (unsigned char)*t;
        if (c <= 0x20 || c == 0x7F) return false;
        if (c >= 0x80) {
            static const char hex[] = "0123456789ABCDEF";
            target.ptr[k++] = '%';
            target.ptr[k++] = hex[c >> 4];
            target.ptr[k++] = hex[c & 15];
        } else {
            target.ptr[k++] = (char)c;
        }
    }
    if (!myTarget.set(target.ptr, k) || !myHost.set(hostStart, hostLen)) return false;
    myPort = port;
    myMethod = method;
    myVersion11 = version11 != 0;
    myValid = true;
    return true;
}

bool cHttpRequest::addHeader(const char* name, const char* value) {
    if (!myValid || !name || !*name || !value) return false;
    for (const char* s = name; *s; s++)
        if (!isTokenChar((unsigned char)*s)) return false;
    // These the transport writes itself; a second copy would make the request ambiguous.
    static const char* const own[] = {"host", "content-length", "transfer-encoding", "connection", "user-agent"};
    for (const char* o : own)
        if (!__stricmp(name, o)) return false;
    if (!cleanText(value, true, true)) return false;
    return myHeaders.append(name) && myHeaders.append(": ", 2) && myHeaders.append(value) &&
           myHeaders.append("\r\n", 2);
}

bool cHttpRequest::addFormPart(const char* name, const void* data, long long length, const char* fileName,
                               const char* contentType) {
    if (!myValid || myMethod != ePost || !name || !*name || length < 0 || (length > 0 && !data)) return false;
    if (!cleanText(name, false, false) || (fileName && !cleanText(fileName, false, false)) ||
        (contentType && !cleanText(contentType, false, true)))
        return false;
    sPart* part = new sPart;
    bool ok = part->name.set(name) && part->fileName.set(fileName) && part->contentType.set(contentType) &&
              (length == 0 || part->data.set((const char*)data, length));
    if (!ok) {
        delete part;
        return false;
    }
    if (myLastPart)
        myLastPart->next = part;
    else
        myParts = part;
    myLastPart = part;
    return true;
}

bool cHttpRequest::setBody(const void* data, long long length, const char* contentType) {
    if (!myValid || myMethod != ePost || length < 0 || (length > 0 && !data)) return false;
    if (contentType && !cleanText(contentType, false, true)) return false;
    myBody.clear();
    if (length > 0 && !myBody.set((const char*)data, length)) return false;
    if (!myBodyType.set(contentType)) return false;
    myHasBody = true;
    return true;
}

bool cHttpRequest::pickBoundary(char* out, int size) const {
    static std::atomic<unsigned> counter{0};
    unsigned long long seed = (unsigned long long)time(nullptr) ^ ((unsigned long long)(size_t)this << 16);
    for (int attempt = 0; attempt < 32; attempt++) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL + counter++;
        snprintf(out, (size_t)size, "----QMXFormBoundary%016llx", seed);
        size_t bl = strlen(out);
        bool clash = false;
        for (sPart* p = myParts; p && !clash; p = p->next)
            clash = p->data.count > 0 && memmem(p->data.ptr, (size_t)p->data.count, out, bl) != nullptr;
        if (!clash) return true;
    }
    return false;
}

bool cHttpRequest::build(cHttpBytes& out) const {
    out.clear();
    if (!myValid) return false;
    bool ok = out.append(myMethod == ePost ? "POST " : "GET ") && out.append(myTarget.ptr) &&
              out.append(myVersion11 ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n") && out.append("Host: ");
    bool v6 = strchr(myHost.ptr, ':') != nullptr;
    ok = ok && out.append(v6 ? "[" : "") && out.append(myHost.ptr) && out.append(v6 ? "]" : "");
    if (myPort != 80) ok = ok && out.append(":") && putNumber(out, myPort);
    ok = ok && out.append("\r\nUser-Agent: ") && out.append(userAgent()) &&
         out.append("\r\nAccept: */*\r\nConnection: close\r\n") && out.append(myHeaders.buf.ptr, myHeaders.used);
    if (!ok) return false;
    if (myMethod != ePost) return out.append("\r\n");

    if (myParts) {
        char boundary[64];
        if (!pickBoundary(boundary, sizeof(boundary))) return false;
        cHttpBytes body;
        for (sPart* p = myParts; p && ok; p = p->next) {
            ok = body.append("--") && body.append(boundary) &&
                 body.append("\r\nContent-Disposition: form-data; name=\"") && body.append(p->name.ptr) &&
                 body.append("\"");
            if (ok && p->fileName.ptr)
                ok = body.append("; filename=\"") && body.append(p->fileName.ptr) && body.append("\"");
            if (ok && p->contentType.ptr) ok = body.append("\r\nContent-Type: ") && body.append(p->contentType.ptr);
            ok = ok && body.append("\r\n\r\n") && body.append(p->data.ptr, p->data.count) && body.append("\r\n");
        }
        ok = ok && body.append("--") && body.append(boundary) && body.append("--\r\n");
        ok = ok && out.append("Content-Type: multipart/form-data; boundary=") && out.append(boundary) &&
             out.append("\r\nContent-Length: ") && putNumber(out, body.used) && out.append("\r\n\r\n") &&
             out.append(body.buf.ptr, body.used);
        return ok;
    }
    if (myHasBody && myBodyType.ptr)
        ok = out.append("Content-Type: ") && out.append(myBodyType.ptr) && out.append("\r\n");
    long long blen = myHasBody ? myBody.count : 0;
    return ok && out.append("Content-Length: ") && putNumber(out, blen) && out.append("\r\n\r\n") &&
           out.append(myBody.ptr, blen);
}
