// The response parser fed from buffers: framing against a plain reference encoder,
// split-invariance, and a malformed set that must fail cleanly.
#include "nethttp/httpresponse.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "nethttp/httprequest.h"
#include "testutil.h"

namespace {

// Collects the body and checks that the offsets follow each other.
class Collector : public cHttpResponse {
public:
    std::string body;
    int headerCalls = 0, dataCalls = 0, resets = 0;
    bool offsetsContiguous = true;
    int stopAfterData = -1;  // answer false on this data call (0-based)
    bool stopAtHeader = false;

    void reset() override {
        cHttpResponse::reset();
        resets++;
    }
    bool onHeaderDone() override {
        headerCalls++;
        return !stopAtHeader;
    }
    bool onData(const void* d, long long n, unsigned long long offset) override {
        if (offset != body.size() || n <= 0) offsetsContiguous = false;
        body.append((const char*)d, (size_t)n);
        return dataCalls++ != stopAfterData;
    }
};

struct Result {
    int state, error;
};

// Feeds the bytes in pieces of the given sizes (cycled), then the close when asked.
Result parse(Collector& c, const std::string& wire, std::vector<size_t> pieces = {}, bool close = true) {
    cHttpResponseParser p(c);
    p.begin();
    if (pieces.empty()) pieces.push_back(wire.size() ? wire.size() : 1);
    size_t at = 0, k = 0;
    int st = cHttpResponseParser::eMore;
    while (at < wire.size() && st == cHttpResponseParser::eMore) {
        size_t n = std::min(pieces[k++ % pieces.size()], wire.size() - at);
        st = p.feed(wire.data() + at, (long long)n);
        at += n;
    }
    if (st == cHttpResponseParser::eMore && close) st = p.finish();
    return {st, p.error()};
}

// Reference chunked encoder: random chunk sizes, random case and extensions.
std::string chunkEncode(const std::string& body, std::mt19937& rng, bool trailer) {
    std::string out;
    size_t at = 0;
    char line[64];
    while (at < body.size()) {
        size_t n = std::min<size_t>(body.size() - at, 1 + rng() % 5000);
        snprintf(line, sizeof(line), rng() % 2 ? "%zx" : "%zX", n);
        out += line;
        if (rng() % 3 == 0) out += " ;ext=\"q\"";
        out += rng() % 4 ? "\r\n" : "\n";
        out += body.substr(at, n);
        out += "\r\n";
        at += n;
    }
    out += "0\r\n";
    if (trailer) out += "X-Sum: 1\r\nX-Other: two\r\n";
    out += "\r\n";
    return out;
}

std::string randomBody(std::mt19937& rng, size_t n) {
    std::string s(n, 0);
    for (auto& ch : s) ch = (char)(rng() & 255);
    return s;
}

}  // namespace

TEST(HttpResponseParser, ChunkedDecodingMatchesReferenceUnderAnySplit) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 40; round++) {
        SCOPED_TRACE(round);
        std::string body = randomBody(rng, rng() % 60000);
        std::string wire = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunkEncode(body, rng, round % 2);
        // Whole, byte by byte, and random odd pieces must all give the same body.
        std::vector<std::vector<size_t>> splits = {{}, {1}, {3, 1, 7, 2, 1000}, {(size_t)(1 + rng() % 9000)}};
        for (auto& s : splits) {
            Collector c;
            Result r = parse(c, wire, s, false);  // complete without needing the close
            ASSERT_EQ(r.state, cHttpResponseParser::eDone) << r.error;
            EXPECT_EQ(c.RC(), 200);
            EXPECT_EQ(c.contentLength(), -1);
            EXPECT_TRUE(c.chunked());
            EXPECT_TRUE(c.body == body);
            EXPECT_TRUE(c.offsetsContiguous);
        }
    }
}

TEST(HttpResponseParser, FramesWellFormedAnswers) {
    struct Case {
        const char* name;
        std::string wire;
        bool close;  // the server closes after the bytes
        int rc;
        long long contentLength;
        std::string body;
    } cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, 200, 5, "hello"},
        {"bytes past the length are ignored", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhello", false, 200, 2,
         "he"},
        {"bare LF lines", "HTTP/1.0 200 OK\nContent-Length: 3\n\nabc", false, 200, 3, "abc"},
        {"no reason phrase", "HTTP/1.1 200\r\nContent-Length: 1\r\n\r\nx", false, 200, 1, "x"},
        {"close-delimited", "HTTP/1.0 200 OK\r\n\r\nuntil close", true, 200, -1, "until close"},
        {"zero length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, 200, 0, ""},
        {"404 with body", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope", false, 404, 4, "nope"},
        {"204 has no body", "HTTP/1.1 204 No Content\r\n\r\n", false, 204, -1, ""},
        {"interim answers skipped", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Hints\r\nLink: x\r\n\r\n"
                                    "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok",
         false, 201, 2, "ok"},
        {"repeated equal lengths", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length:  2 \r\n\r\nok", false,
         200, 2, "ok"},
        {"chunked overrides length",
         "HTTP/1.1 200 OK\r\nContent-Length: 99\r\nTransfer-Encoding: Chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", false,
         200, -1, "ok"},
        {"empty chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", false, 200, -1, ""},
        {"largest length", "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775807\r\n\r\nab", false, 200,
         9223372036854775807LL, "ab"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Collector c;
        Result r = parse(c, k.wire, {}, k.close);
        if (k.contentLength > 1000) {
            EXPECT_EQ(r.state, cHttpResponseParser::eMore);  // waiting for the rest
        } else {
            EXPECT_EQ(r.state, cHttpResponseParser::eDone) << r.error;
        }
        EXPECT_EQ(c.RC(), k.rc);
        EXPECT_EQ(c.contentLength(), k.contentLength);
        EXPECT_EQ(c.body, k.body);
        EXPECT_EQ(c.headerCalls, 1);
        EXPECT_EQ(c.resets, 1);
    }
}

TEST(HttpResponseParser, MalformedAnswersFailCleanly) {
    using P = cHttpResponseParser;
    std::string huge(70000, 'a');
    struct Case {
        const char* name;
        std::string wire;
        int error;
    } cases[] = {
        {"empty answer", "", P::eTruncated},
        {"head cut short", "HTTP/1.1 200 OK\r\nContent-Le", P::eTruncated},
        {"body shorter than length", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello", P::eTruncated},
        {"chunked without last chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n",
         P::eTruncated},
        {"chunk cut short", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nhello", P::eTruncated},
        {"not HTTP", "ICY 200 OK\r\n\r\n", P::eBadStatusLine},
        {"HTTP/2", "HTTP/2 200 OK\r\n\r\n", P::eBadStatusLine},
        {"short status", "HTTP/1.1 20\r\n\r\n", P::eBadStatusLine},
        {"status not digits", "HTTP/1.1 2x0 OK\r\n\r\n", P::eBadStatusLine},
        {"status below 100", "HTTP/1.1 099 Odd\r\n\r\n", P::eBadStatusLine},
        {"no space after status", "HTTP/1.1 200OK\r\n\r\n", P::eBadStatusLine},
        {"leading blank line", "\r\nHTTP/1.1 200 OK\r\n\r\n", P::eBadStatusLine},
        {"switching protocols", "HTTP/1.1 101 Switching\r\n\r\n", P::eBadStatusLine},
        {"control byte in reason", std::string("HTTP/1.1 200 O\x01K\r\n\r\n"), P::eBadStatusLine},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", P::eBadLength},
        {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n", P::eBadLength},
        {"length with sign", "HTTP/1.1 200 OK\r\nContent-Length: +5\r\n\r\nhello", P::eBadLength},
        {"empty length", "HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n", P::eBadLength},
        {"length past 63 bits", "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\n", P::eBadLength},
        {"length past 64 bits", "HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551616\r\n\r\n", P::eBadLength},
        {"length list", "HTTP/1.1 200 OK\r\nContent-Length: 5, 5\r\n\r\nhello", P::eBadLength},
        {"conflicting lengths", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!",
         P::eBadLength},
        {"folded header", "HTTP/1.1 200 OK\r\nX-A: 1\r\n  continued\r\n\r\n", P::eBadHeader},
        {"no colon", "HTTP/1.1 200 OK\r\nJunk line\r\n\r\n", P::eBadHeader},
        {"space before colon", "HTTP/1.1 200 OK\r\nContent-Length : 5\r\n\r\nhello", P::eBadHeader},
        {"bare CR inside value", "HTTP/1.1 200 OK\r\nX-A: a\rX-B: b\r\n\r\n", P::eBadHeader},
        {"NUL in value", std::string("HTTP/1.1 200 OK\r\nX-A: a\0b\r\n\r\n", 29), P::eBadHeader},
        {"oversized head", "HTTP/1.1 200 OK\r\nX-Big: " + huge + "\r\n\r\n", P::eHeadTooLarge},
        {"unknown coding", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", P::eUnsupportedEncoding},
        {"chunked not last", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n", P::eUnsupportedEncoding},
        {"chunked twice", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n",
         P::eUnsupportedEncoding},
        {"empty coding", "HTTP/1.1 200 OK\r\nTransfer-Encoding: \r\n\r\n", P::eUnsupportedEncoding},
        {"chunk size not hex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", P::eBadChunk},
        {"chunk size negative", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\nhello\r\n0\r\n\r\n",
         P::eBadChunk},
        {"chunk size 17 digits", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000000\r\n",
         P::eBadChunk},
        {"chunk size past 63 bits", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n8000000000000000\r\n",
         P::eBadChunk},
        {"chunk size junk after", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5 x\r\nhello\r\n",
         P::eBadChunk},
        {"chunk data overruns", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhello\r\n0\r\n\r\n",
         P::eBadChunk},
        {"endless chunk line", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;" + huge, P::eBadChunk},
        {"bad trailer", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nnot a header\r\n\r\n",
         P::eBadChunk},
        {"endless trailers",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nX-T: " + huge + "\r\n\r\n", P::eHeadTooLarge},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        for (size_t piece : {(size_t)0, (size_t)1, (size_t)7}) {
            Collector c;
            std::vector<size_t> split;
            if (piece) split.push_back(piece);
            Result r = parse(c, k.wire, split, true);
            EXPECT_EQ(r.state, cHttpResponseParser::eFailed);
            EXPECT_EQ(r.error, k.error);
        }
    }
}

TEST(HttpResponseParser, HeadOfExactlyTheLimitIsAccepted) {
    std::string start = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nX-Pad: ";
    std::string end = "\r\n\r\n";
    std::string wire = start + std::string(cHttpResponseParser::maxHead - start.size() - end.size(), 'p') + end;
    ASSERT_EQ((long long)wire.size(), cHttpResponseParser::maxHead);
    Collector ok;
    EXPECT_EQ(parse(ok, wire + "z").state, cHttpResponseParser::eDone);
    EXPECT_EQ(ok.body, "z");
    Collector over;
    std::string wire2 = start + "q" + wire.substr(start.size()) + "z";
    EXPECT_EQ(parse(over, wire2).error, cHttpResponseParser::eHeadTooLarge);
}

TEST(HttpResponseParser, ReceiverStopEndsAtOnce) {
    std::string body(100000, 'b');
    std::string wire = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body;
    Collector atHeader;
    atHeader.stopAtHeader = true;
    Result r = parse(atHeader, wire, {1000});
    EXPECT_EQ(r.state, cHttpResponseParser::eStopped);
    EXPECT_EQ(atHeader.dataCalls, 0);

    Collector inData;
    inData.stopAfterData = 2;
    r = parse(inData, wire, {1000});
    EXPECT_EQ(r.state, cHttpResponseParser::eStopped);
    EXPECT_EQ(r.error, cHttpResponseParser::eStoppedByReceiver);
    EXPECT_EQ(inData.dataCalls, 3);  // nothing after the refusing call

    std::mt19937 rng(5);
    Collector chunked;
    chunked.stopAfterData = 0;
    r = parse(chunked, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunkEncode(body, rng, false));
    EXPECT_EQ(r.state, cHttpResponseParser::eStopped);
    EXPECT_EQ(chunked.dataCalls, 1);
}

TEST(HttpResponseParser, HeaderLookupIgnoresCaseAndTrims) {
    Collector c;
    parse(c, "HTTP/1.1 200 OK\r\nX-Empty:\r\ncontent-TYPE:  text/plain \t\r\nX-Two: a\r\nX-Two: b\r\n"
             "Content-Length: 0\r\n\r\n");
    _guardchar<char> v;
    ASSERT_TRUE(c.header("Content-Type", v));
    EXPECT_STREQ(v.ptr, "text/plain");
    ASSERT_TRUE(c.header("x-two", v));
    EXPECT_STREQ(v.ptr, "a");
    ASSERT_TRUE(c.header("X-Empty", v));
    EXPECT_TRUE(v.empty());
    EXPECT_FALSE(c.header("X-Missing", v));
    EXPECT_FALSE(c.header("HTTP/1.1 200 OK", v));
    EXPECT_EQ(c.httpMinor(), 1);
}

// Header names are ASCII words, read alike whatever LC_CTYPE the application took from its
// environment: a Turkish one pairs 'I' with no 'i'.
TEST(HttpResponseParser, NamesInCapitalsReadAlikeInEveryLocale) {
    const std::string wire = "HTTP/1.1 302 Found\r\nTRANSFER-ENCODING: chunked\r\nCONNECTION: close\r\n"
                             "LOCATION: http://h/next\r\n\r\n5\r\nhello\r\n0\r\n\r\n";
    testutil::forEachCtype([&] {
        Collector c;
        Result r = parse(c, wire);
        EXPECT_EQ(r.state, cHttpResponseParser::eDone) << r.error;
        EXPECT_TRUE(c.chunked());
        EXPECT_EQ(c.body, "hello");
        // The transport writes these itself, however a caller spells them.
        cHttpRequest q(cHttpRequest::eGet, "HTTP://h/", 1);
        EXPECT_TRUE(q.valid());
        for (const char* own : {"CONNECTION", "TRANSFER-ENCODING", "HOST", "USER-AGENT"})
            EXPECT_FALSE(q.addHeader(own, "x")) << own;
        EXPECT_TRUE(q.addHeader("X-CONNECTION", "x"));
        _guardchar<char> v;
        ASSERT_TRUE(c.header("Location", v));
        EXPECT_STREQ(v.ptr, "http://h/next");
    });
}

TEST(HttpResponseParser, ReceiverStartsAtZeroAndResetMarksLengthUnknown) {
    Collector c;
    EXPECT_EQ(c.RC(), 0);
    EXPECT_EQ(c.contentLength(), 0);
    c.reset();
    EXPECT_EQ(c.contentLength(), -1);
}
