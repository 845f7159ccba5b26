// The response receiver and the incremental response parser (RFC 9112 message framing).
#include "nethttp/httpresponse.h"

#include <climits>
#include <cstring>

#include "base/strings.h"

namespace {

const long long maxChunkLine = 4096;
const int maxInterim = 16;

bool isTokenChar(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return c && strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Text of a field value or reason phrase: no control characters but tab.
bool plainText(const char* s, long long n) {
    for (long long i = 0; i < n; i++) {
        unsigned char c = (unsigned char)s[i];
        if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A header line split into name and trimmed value; false when it is not "token: value".
bool splitHeader(const char* s, long long n, long long& nameLen, const char*& value, long long& valueLen) {
    long long i = 0;
    while (i < n && isTokenChar((unsigned char)s[i])) i++;
    if (i == 0 || i >= n || s[i] != ':') return false;
    nameLen = i;
    long long a = i + 1, b = n;
    while (a < b && isBlank(s[a])) a++;
    while (b > a && isBlank(s[b - 1])) b--;
    value = s + a;
    valueLen = b - a;
    return plainText(value, valueLen);
}

// ASCII case only: the application sets LC_CTYPE, and a Turkish one pairs "I" with no "i".
bool nameIs(const char* s, long long n, const char* name) {
    return (long long)strlen(name) == n && __memicmp(s, name, n) == 0;
}

// Next line of a block: [start, end) without its line end; false at the block's end.
bool nextLine(const char* block, long long len, long long& pos, long long& start, long long& end) {
    if (pos >= len) return false;
    const char* nl = (const char*)memchr(block + pos, '\n', (size_t)(len - pos));
    start = pos;
    end = nl ? nl - block : len;
    pos = end + 1;
    if (end > start && block[end - 1] == '\r') end--;
    return true;
}

}  // namespace

// ---- cHttpResponse ----

cHttpResponse::cHttpResponse() {}

cHttpResponse::~cHttpResponse() {}

void cHttpResponse::reset() {
    myRC = 0;
    myContentLength = -1;
    myChunked = false;
    myMinor = 0;
    myHead.clear();
    myHeadLen = 0;
}

bool cHttpResponse::onData(const void* data, long long length, unsigned long long offset) { return true; }

bool cHttpResponse::onHeaderDone() { return true; }

bool cHttpResponse::header(const char* name, _guardchar<char>& value) const {
    if (!name || !myHead.ptr) return false;
    long long pos = 0, s, e;
    if (!nextLine(myHead.ptr, myHeadLen, pos, s, e)) return false;  // the status line
    while (nextLine(myHead.ptr, myHeadLen, pos, s, e)) {
        long long nameLen, valueLen;
        const char* v;
        if (splitHeader(myHead.ptr + s, e - s, nameLen, v, valueLen) && nameIs(myHead.ptr + s, nameLen, name))
            return value.set(v, valueLen);
    }
    return false;
}

// ---- cHttpResponseParser ----

cHttpResponseParser::cHttpResponseParser(cHttpResponse& response) : myResponse(response) {}

void cHttpResponseParser::begin() {
    myResponse.reset();
    myState = eMore;
    myError = eNoError;
    myStage = eHead;
    myLineLen = 0;
    myLineStart = 0;
    myTrailerTotal = 0;
    myInterim = 0;
    myRemaining = 0;
    myOffset = 0;
    myChunkCR = false;
}

int cHttpResponseParser::fail(int error) {
    myState = eFailed;
    myError = error;
    return myState;
}

bool cHttpResponseParser::deliver(const char* p, long long n) {
    if (n <= 0) return true;
    bool ok = myResponse.onData(p, n, myOffset);
    myOffset += (unsigned long long)n;
    if (!ok) {
        myState = eStopped;
        myError = eStoppedByReceiver;
    }
    return ok;
}

long long cHttpResponseParser::feedHead(const char* p, long long n) {
    if (!myLine.ptr && !myLine.set(maxHead)) {
        fail(eHeadTooLarge);
        return -1;
    }
    long long used = 0;
    while (used < n) {
        const char* nl = (const char*)memchr(p + used, '\n', (size_t)(n - used));
        long long take = nl ? (nl - (p + used)) + 1 : n - used;
        if (myLineLen + take > maxHead) {
            fail(eHeadTooLarge);
            return -1;
        }
        memcpy(myLine.ptr + myLineLen, p + used, (size_t)take);
        myLineLen += take;
        used += take;
        if (!nl) break;
        long long lineLen = myLineLen - 1 - myLineStart;
        if (lineLen > 0 && myLine.ptr[myLineLen - 2] == '\r') lineLen--;
        if (lineLen > 0) {
            myLineStart = myLineLen;
            continue;
        }
        if (myLineStart == 0) {
            fail(eBadStatusLine);  // an empty line where the status line belongs
            return -1;
        }
        if (!parseHead()) return -1;
        if (myStage != eHead) break;  // the final head is in; the rest is body
    }
    return used;
}

bool cHttpResponseParser::parseHead() {
    const char* b = myLine.ptr;
    long long pos = 0, s, e;
    nextLine(b, myLineLen, pos, s, e);
    // "HTTP/1.x NNN[ reason]"
    long long n = e - s;
    const char* l = b + s;
    if (n < 12 || memcmp(l, "HTTP/1.", 7) != 0 || l[7] < '0' || l[7] > '9' || l[8] != ' ' || (n > 12 && l[12] != ' '))
        return fail(eBadStatusLine), false;
    int rc = 0;
    for (int i = 9; i < 12; i++) {
        if (l[i] < '0' || l[i] > '9') return fail(eBadStatusLine), false;
        rc = rc * 10 + (l[i] - '0');
    }
    if (rc < 100 || !plainText(l + 12, n - 12)) return fail(eBadStatusLine), false;

    long long contentLength = -1;
    bool chunked = false, sawEncoding = false;
    while (nextLine(b, myLineLen, pos, s, e)) {
        if (e == s) break;  // the blank line
        if (isBlank(b[s])) return fail(eBadHeader), false;  // obsolete line folding
        long long nameLen, valueLen;
        const char* v;
        if (!splitHeader(b + s, e - s, nameLen, v, valueLen)) return fail(eBadHeader), false;
        if (nameIs(b + s, nameLen, "content-length")) {
            if (valueLen < 1 || valueLen > 19) return fail(eBadLength), false;
            long long x = 0;
            for (long long i = 0; i < valueLen; i++) {
                if (v[i] < '0' || v[i] > '9') return fail(eBadLength), false;
                int d = v[i] - '0';
                if (x > (LLONG_MAX - d) / 10) return fail(eBadLength), false;
                x = x * 10 + d;
            }
            // Two different lengths leave the body's end in doubt.
            if (contentLength >= 0 && contentLength != x) return fail(eBadLength), false;
            contentLength = x;
        } else if (nameIs(b + s, nameLen, "transfer-encoding")) {
            sawEncoding = true;
            long long i = 0;
            while (i < valueLen) {
                long long j = i;
                while (j < valueLen && v[j] != ',') j++;
                long long a = i, z = j;
                while (a < z && isBlank(v[a])) a++;
                while (z > a && isBlank(v[z - 1])) z--;
                if (z > a) {
                    // Only chunked, once and last, can be decoded here.
                    if (chunked || !nameIs(v + a, z - a, "chunked")) return fail(eUnsupportedEncoding), false;
                    chunked = true;
                }
                i = j + 1;
            }
        }
    }
    if (sawEncoding && !chunked) return fail(eUnsupportedEncoding), false;

    if (rc < 200) {
        // An interim answer (100 Continue, 103 ...) precedes the real one; 101 would switch protocols.
        if (rc == 101 || ++myInterim > maxInterim) return fail(eBadStatusLine), false;
        myLineLen = 0;
        myLineStart = 0;
        return true;
    }

    if (!myResponse.myHead.set(myLine.ptr, myLineLen)) return fail(eHeadTooLarge), false;
    myResponse.myHeadLen = myLineLen;
    myResponse.myRC = rc;
    myResponse.myMinor = l[7] - '0';
    myResponse.myChunked = chunked;
    // A transfer coding overrides any Content-Length.
    myResponse.myContentLength = chunked ? -1 : contentLength;
    myLineLen = 0;
    myLineStart = 0;

    if (rc == 204 || rc == 304) {
        myStage = eEnd;
    } else if (chunked) {
        myStage = eChunkSize;
    } else if (contentLength >= 0) {
        myRemaining = contentLength;
        myStage = contentLength == 0 ? eEnd : eBodyLength;
    } else {
        myStage = eBodyClose;
    }
    if (!myResponse.onHeaderDone()) {
        myState = eStopped;
        myError = eStoppedByReceiver;
        return false;
    }
    if (myStage == eEnd) myState = eDone;
    return true;
}

long long cHttpResponseParser::feedChunkLine(const char* p, long long n, bool trailer) {
    const char* nl = (const char*)memchr(p, '\n', (size_t)n);
    long long take = nl ? (nl - p) + 1 : n;
    long long limit = trailer ? maxHead - myTrailerTotal : maxChunkLine;
    if (myLineLen + take > limit) {
        fail(trailer ? eHeadTooLarge : eBadChunk);
        return -1;
    }
    memcpy(myLine.ptr + myLineLen, p, (size_t)take);
    myLineLen += take;
    if (!nl) return take;

    const char* l = myLine.ptr;
    long long len = myLineLen - 1;
    if (len > 0 && l[len - 1] == '\r') len--;
    if (trailer) {
        myTrailerTotal += myLineLen;
        myLineLen = 0;
        if (len == 0) {
            myStage = eEnd;
            myState = eDone;
            return take;
        }
        long long nameLen, valueLen;
        const char* v;
        if (!splitHeader(l, len, nameLen, v, valueLen)) {
            fail(eBadChunk);
            return -1;
        }
        return take;
    }
    // chunk-size [ BWS ";" extensions ]
    long long i = 0, size = 0;
    while (i < len && hexValue(l[i]) >= 0) {
        if (i >= 16 || size > (LLONG_MAX >> 4)) {
            fail(eBadChunk);
            return -1;
        }
        size = size * 16 + hexValue(l[i]);
        i++;
    }
    if (i == 0) {
        fail(eBadChunk);
        return -1;
    }
    while (i < len && isBlank(l[i])) i++;
    if ((i < len && l[i] != ';') || !plainText(l + i, len - i)) {
        fail(eBadChunk);
        return -1;
    }
    if ((unsigned long long)size > (unsigned long long)LLONG_MAX - myOffset) {
        fail(eBadChunk);
        return -1;
    }
    myLineLen = 0;
    if (size == 0) {
        myStage = eTrailer;
        myTrailerTotal = 0;
    } else {
        myStage = eChunkData;
        myRemaining = size;
    }
    return take;
}

int cHttpResponseParser::feed(const void* data, long long n) {
    if (myState != eMore) return myState;
    if (!data || n <= 0) return myState;
    const char* p = (const char*)data;
    // Every pass consumes at least one byte or ends the state, so n bounds the loop.
    while (n > 0 && myState == eMore) {
        long long used = 0;
        switch (myStage) {
            case eHead:
                used = feedHead(p, n);
                break;
            case eBodyLength:
                used = n < myRemaining ? n : myRemaining;
                myRemaining -= used;
                if (deliver(p, used) && myRemaining == 0) {
                    myStage = eEnd;
                    myState = eDone;
                }
                break;
            case eBodyClose:
                used = n;
                deliver(p, used);
                break;
            case eChunkSize:
                used = feedChunkLine(p, n, false);
                break;
            case eTrailer:
                used = feedChunkLine(p, n, true);
                break;
            case eChunkData:
                used = n < myRemaining ? n : myRemaining;
                myRemaining -= used;
                if (deliver(p, used) && myRemaining == 0) {
                    myStage = eChunkEnd;
                    myChunkCR = false;
                }
                break;
            case eChunkEnd:
                used = 1;
                if (*p == '\r' && !myChunkCR) {
                    myChunkCR = true;
                } else if (*p == '\n') {
                    myStage = eChunkSize;
                    myLineLen = 0;
                } else {
                    fail(eBadChunk);
                }
                break;
            default:
                myState = eDone;
                break;
        }
        if (used < 0) return myState;
        p += used;
        n -= used;
    }
    return myState;
}

int cHttpResponseParser::finish() {
    if (myState != eMore) return myState;
    if (myStage == eBodyClose || myStage == eEnd) {
        myStage = eEnd;
        myState = eDone;
        return myState;
    }
    // Closed before the head, the announced length or the last chunk arrived.
    return fail(eTruncated);
}
