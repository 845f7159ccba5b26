// cHttpResponse, the receiver a caller derives from, and cHttpResponseParser, which turns a
// server's bytes (from a socket or any buffer) into calls on it. Server bytes are hostile:
// the head is bounded, numbers are range-checked and chunked bodies are decoded.
#pragma once

#include "base/buffers.h"

class cHttpResponse {
public:
    // Status 0 and Content-Length 0 until a response starts.
    cHttpResponse();
    // Called when a response starts: status 0, Content-Length -1 (unknown), no headers.
    virtual void reset();
    // A piece of the body (de-chunked) at `offset` from the body's start; false stops the transfer.
    virtual bool onData(const void* data, long long length, unsigned long long offset);
    // The status line and headers are in; false stops the transfer.
    virtual bool onHeaderDone();
    // Asked from the transport's thread at least every 100 ms while it waits for the
    // server (name, connection, answer): true stops the request at once.
    virtual bool abortRequested() { return false; }
    virtual ~cHttpResponse();

    int RC() const { return myRC; }
    // -1 when the server did not say (a chunked or close-delimited body).
    long long contentLength() const { return myContentLength; }
    bool chunked() const { return myChunked; }
    // 0 for an HTTP/1.0 answer, 1 for HTTP/1.1.
    int httpMinor() const { return myMinor; }
    // The first header of that name (compared without case), its value trimmed.
    bool header(const char* name, _guardchar<char>& value) const;

protected:
    int myRC = 0;
    long long myContentLength = 0;
    bool myChunked = false;
    int myMinor = 0;

private:
    friend class cHttpResponseParser;
    _typebuf<char> myHead;  // the final response's header lines as received
    long long myHeadLen = 0;
};

class cHttpResponseParser {
public:
    enum eState { eMore = 0, eDone = 1, eFailed = 2, eStopped = 3 };
    // Why a parse failed.
    enum eError {
        eNoError = 0,
        eBadStatusLine = 1,
        eBadHeader = 2,
        eHeadTooLarge = 3,
        eBadLength = 4,
        eBadChunk = 5,
        eUnsupportedEncoding = 6,
        eTruncated = 7,
        eStoppedByReceiver = 8,
    };
    // The status line and headers together (and, separately, the trailers) stay within this.
    static const long long maxHead = 65536;

    explicit cHttpResponseParser(cHttpResponse& response);
    // Starts a new response: calls the receiver's reset().
    void begin();
    // Takes the next bytes from the server; eMore while it wants more.
    int feed(const void* data, long long n);
    // The server closed the connection: eDone only when the body was complete.
    int finish();
    int state() const { return myState; }
    int error() const { return myError; }

private:
    enum eStage { eHead, eBodyLength, eBodyClose, eChunkSize, eChunkData, eChunkEnd, eTrailer, eEnd };
    int fail(int error);
    long long feedHead(const char* p, long long n);
    bool parseHead();
    long long feedChunkLine(const char* p, long long n, bool trailer);
    bool deliver(const char* p, long long n);

    cHttpResponse& myResponse;
    int myState = eMore;
    int myError = eNoError;
    int myStage = eHead;
    _typebuf<char> myLine;     // the head, or the current chunk-size / trailer line
    long long myLineLen = 0;
    long long myLineStart = 0;  // start of the current line within the head
    long long myTrailerTotal = 0;
    int myInterim = 0;          // 1xx answers skipped so far
    long long myRemaining = 0;  // of the body or of the current chunk
    unsigned long long myOffset = 0;
    bool myChunkCR = false;
};
