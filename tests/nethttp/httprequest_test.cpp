// cHttpRequest: which addresses are accepted, how they split, and that nothing a caller
// passes can add header lines.
#include "nethttp/httprequest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string built(const cHttpRequest& r) {
    cHttpBytes b;
    if (!r.build(b)) return "";
    return std::string(b.buf.ptr, (size_t)b.used);
}

}  // namespace

TEST(HttpRequest, SplitsAcceptedAddresses) {
    struct Case {
        const char* address;
        const char* host;
        int port;
        const char* target;
    } cases[] = {
        {"http://example.org", "example.org", 80, "/"},
        {"HTTP://Example.ORG/", "Example.ORG", 80, "/"},
        {"hTtP://h:8080/a/b?x=1&y=2", "h", 8080, "/a/b?x=1&y=2"},
        {"http://h?q", "h", 80, "/?q"},
        {"http://h/p#fragment dropped", "h", 80, "/p"},
        {"http://127.0.0.1:65535/x", "127.0.0.1", 65535, "/x"},
        {"http://h:1/", "h", 1, "/"},
        {"http://[::1]:8080/v6", "::1", 8080, "/v6"},
        {"http://[fe80::1:2]/", "fe80::1:2", 80, "/"},
        {"http://h/autocheck.php?softwareid=abc&os=mac", "h", 80, "/autocheck.php?softwareid=abc&os=mac"},
        {"http://h/caf\xc3\xa9", "h", 80, "/caf%C3%A9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        cHttpRequest r(cHttpRequest::eGet, c.address, 1);
        ASSERT_TRUE(r.valid());
        EXPECT_STREQ(r.host(), c.host);
        EXPECT_EQ(r.port(), c.port);
        EXPECT_STREQ(r.target(), c.target);
    }
}

TEST(HttpRequest, RefusesBadOrInjectingAddresses) {
    const char* bad[] = {
        nullptr,
        "",
        "http://",
        "http:///path",
        "https://example.org/",
        "ftp://example.org/",
        " http://example.org/",
        "http://exa mple.org/",
        "http://example.org/a b",
        "http://example.org/a?b=c d",
        "http://example.org/a\r\nX-Injected: 1",
        "http://example.org/?q=\nX",
        "http://example.org\r\n/",
        "http://example.org/\x01",
        "http://example.org/\x7f",
        "http://example.org/\t",
        "http://example.org:0/",
        "http://example.org:65536/",
        "http://example.org:99999/",
        "http://example.org:123456/",
        "http://example.org:-1/",
        "http://example.org:80x/",
        "http://example.org:/",
        "http://user:pw@example.org/",
        "http://exa%6dple.org/",
        "http://[::1/",
        "http://[::1]x/",
        "http://[::g]/",
    };
    for (const char* a : bad) {
        SCOPED_TRACE(a ? a : "(null)");
        cHttpRequest r;
        EXPECT_FALSE(r.create(cHttpRequest::eGet, a, 1));
        EXPECT_FALSE(r.valid());
        EXPECT_EQ(built(r), "");
    }
    cHttpRequest m;
    EXPECT_FALSE(m.create(2, "http://h/", 1));  // no such method
}

TEST(HttpRequest, HeadersCannotInjectLines) {
    cHttpRequest r(cHttpRequest::eGet, "http://h/", 1);
    ASSERT_TRUE(r.valid());
    EXPECT_TRUE(r.addHeader("X-Ok", "value\twith tab"));
    EXPECT_FALSE(r.addHeader("X-Bad", "a\r\nX-Injected: 1"));
    EXPECT_FALSE(r.addHeader("X-Bad", "a\nb"));
    EXPECT_FALSE(r.addHeader("X Bad", "a"));
    EXPECT_FALSE(r.addHeader("X-Bad:", "a"));
    EXPECT_FALSE(r.addHeader("", "a"));
    EXPECT_FALSE(r.addHeader("host", "evil"));
    EXPECT_FALSE(r.addHeader("Content-Length", "5"));
    EXPECT_FALSE(r.addHeader("Transfer-Encoding", "chunked"));
    std::string s = built(r);
    EXPECT_EQ(s.find("Injected"), std::string::npos);
    EXPECT_NE(s.find("\r\nX-Ok: value\twith tab\r\n"), std::string::npos);
    // Form parts are POST only, and their names cannot break out of the quoted parameter.
    EXPECT_FALSE(r.addFormPart("a", "b", 1));
    cHttpRequest p(cHttpRequest::ePost, "http://h/", 1);
    EXPECT_FALSE(p.addFormPart("a\"; x=\"y", "b", 1));
    EXPECT_FALSE(p.addFormPart("a", "b", 1, "f\r\nX: y"));
    EXPECT_FALSE(p.addFormPart("a", "b", 1, nullptr, "text/plain\r\nX: y"));
    EXPECT_FALSE(p.addFormPart("a", nullptr, 5));
    EXPECT_FALSE(p.addFormPart("a", "b", -1));
}

TEST(HttpRequest, RequestLineFollowsVersionFlag) {
    struct Case {
        int method, version;
        const char* address;
        const char* expect;
    } cases[] = {
        {0, 1, "http://h:81/x?y",
         "GET /x?y HTTP/1.1\r\nHost: h:81\r\nUser-Agent: QMXNetHTTP (compatible; cross-platform)\r\n"
         "Accept: */*\r\nConnection: close\r\n\r\n"},
        {0, 0, "http://h/",
         "GET / HTTP/1.0\r\nHost: h\r\nUser-Agent: QMXNetHTTP (compatible; cross-platform)\r\n"
         "Accept: */*\r\nConnection: close\r\n\r\n"},
        {1, 1, "http://[::1]:8/",
         "POST / HTTP/1.1\r\nHost: [::1]:8\r\nUser-Agent: QMXNetHTTP (compatible; cross-platform)\r\n"
         "Accept: */*\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"},
    };
    for (const Case& c : cases) {
        cHttpRequest r(c.method, c.address, c.version);
        EXPECT_EQ(built(r), c.expect);
    }
}
