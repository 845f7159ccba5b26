// cHttpTransport end to end against python3's http.server and a scripted python3 server,
// both on loopback ports the tests open themselves.
#include "nethttp/httptransport.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "netio/pyserver.h"
#include "netio/socketio.h"
#include "testutil.h"

namespace {

class Collector : public cHttpResponse {
public:
    std::string body;
    bool offsetsContiguous = true;
    int dataCalls = 0;
    int stopAfterData = -1;
    bool onData(const void* d, long long n, unsigned long long offset) override {
        if (offset != body.size()) offsetsContiguous = false;
        body.append((const char*)d, (size_t)n);
        return dataCalls++ != stopAfterData;
    }
};

std::string pattern(size_t n) {
    std::string s(n, 0);
    for (size_t i = 0; i < n; i++) s[i] = (char)((i * 131 + (i >> 9)) & 255);
    return s;
}

std::string scriptPath() { return std::string(QMX_TESTS_DIR) + "/nethttp/scripted_server.py"; }

std::string base64url(const std::string& in) {
    static const char* t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
        out += {t[v >> 18], t[(v >> 12) & 63], t[(v >> 6) & 63], t[v & 63]};
    }
    if (i + 1 == in.size()) {
        unsigned v = (unsigned char)in[i] << 16;
        out += {t[v >> 18], t[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == in.size()) {
        unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8;
        out += {t[v >> 18], t[(v >> 12) & 63], t[(v >> 6) & 63], '='};
    }
    return out;
}

struct Fetch {
    bool ok;
    int error;
};

Fetch get(const std::string& url, Collector& c, int version11 = 1) {
    cHttpRequest r(cHttpRequest::eGet, url.c_str(), version11);
    int err = -1;
    bool ok = cHttpTransport::processRequest(r, c, &err);
    return {ok, err};
}

class ScriptedServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
        server.reset(new PyServer({scriptPath()}));
        ASSERT_NE(server->port(), 0) << "scripted server did not start";
        base = "http://127.0.0.1:" + std::to_string(server->port());
    }
    void TearDown() override { cHttpTransport::restoreTimeouts(); }
    std::unique_ptr<PyServer> server;
    std::string base;
};

}  // namespace

TEST(HttpTransport, FetchesLargeFileFromHttpServerByteExact) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    ASSERT_TRUE(initSockLib());
    testutil::TempDir dir;
    std::vector<unsigned char> data = testutil::randomBytes((6 << 20) + 12345, 99);
    ASSERT_TRUE(testutil::writeFile(dir.file("blob.bin"), data));
    struct Case {
        const char* bind;
        const char* host;
        int version11;
    } cases[] = {{"127.0.0.1", "127.0.0.1", 1}, {"127.0.0.1", "localhost", 0}, {"::1", "[::1]", 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.host);
        PyServer server({"-m", "http.server", "--bind", k.bind, "--directory", dir.path(), "0"});
        if (server.port() == 0) {
            if (std::string(k.bind) == "::1") continue;  // no IPv6 loopback here
            FAIL() << "http.server did not start";
        }
        std::string base = std::string("http://") + k.host + ":" + std::to_string(server.port());
        Collector c;
        Fetch f = get(base + "/blob.bin", c, k.version11);
        ASSERT_TRUE(f.ok) << f.error;
        EXPECT_EQ(c.RC(), 200);
        EXPECT_EQ(c.contentLength(), (long long)data.size());
        EXPECT_TRUE(c.offsetsContiguous);
        ASSERT_EQ(c.body.size(), data.size());
        EXPECT_TRUE(memcmp(c.body.data(), data.data(), data.size()) == 0);

        Collector missing;
        f = get(base + "/no/such/file", missing);
        EXPECT_TRUE(f.ok);  // a complete answer; the status is the caller's business
        EXPECT_EQ(missing.RC(), 404);
    }
}

TEST_F(ScriptedServer, AnswersOfEveryShape) {
    struct Case {
        std::string path;
        bool ok;
        int error;
        int rc;
        long long contentLength;
        std::string body;
    } cases[] = {
        {"/404", true, cHttpTransport::eHttpOk, 404, 9, "not found"},
        {"/noclen?n=300000", true, cHttpTransport::eHttpOk, 200, -1, pattern(300000)},
        {"/chunked?n=1000000&seed=3", true, cHttpTransport::eHttpOk, 200, -1, pattern(1000000)},
        {"/chunked?n=0", true, cHttpTransport::eHttpOk, 200, -1, ""},
        {"/zero", true, cHttpTransport::eHttpOk, 200, 0, ""},
        {"/short", false, cHttpTransport::eHttpTruncated, 200, 1000, pattern(500)},
        {"/trickle?n=200", true, cHttpTransport::eHttpOk, 200, 200, pattern(200)},
        {"/bighead", false, cHttpTransport::eHttpProtocol, 0, -1, ""},
        {"/raw?b=" + base64url("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n"), false,
         cHttpTransport::eHttpProtocol, 0, -1, ""},
        {"/raw?b=" + base64url("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFF\r\n"), false,
         cHttpTransport::eHttpProtocol, 200, -1, ""},
        {"/raw?b=" + base64url("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n"), false,
         cHttpTransport::eHttpTruncated, 200, -1, "abcd"},
        {"/raw?b=", false, cHttpTransport::eHttpTruncated, 0, -1, ""},
    };
    // Trickle pauses are 20 ms; a 2 s read time-out leaves ample room without slowing failures.
    cHttpTransport::setTimeouts(5000, 2000, 5000);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.path);
        Collector c;
        Fetch f = get(base + k.path, c);
        EXPECT_EQ(f.ok, k.ok);
        EXPECT_EQ(f.error, k.error);
        EXPECT_EQ(c.RC(), k.rc);
        EXPECT_EQ(c.contentLength(), k.contentLength);
        EXPECT_TRUE(c.body == k.body) << c.body.size() << " bytes";
        EXPECT_TRUE(c.offsetsContiguous);
    }
}

TEST_F(ScriptedServer, SilentServerHitsReadTimeout) {
    cHttpTransport::setTimeouts(5000, 300, 5000);
    Collector c;
    Fetch f = get(base + "/hang?s=3", c);
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.error, cHttpTransport::eHttpTimeout);
    EXPECT_EQ(c.RC(), 0);
    EXPECT_EQ(c.contentLength(), -1);
}

TEST_F(ScriptedServer, AbortRequestEndsASilentWaitAtOnce) {
    // Long time-outs: only the receiver's abort can end the wait early.
    cHttpTransport::setTimeouts(20000, 20000, 20000);
    struct Aborter : public Collector {
        std::chrono::steady_clock::time_point at = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        bool abortRequested() override { return std::chrono::steady_clock::now() >= at; }
    } c;
    auto t0 = std::chrono::steady_clock::now();
    Fetch f = get(base + "/hang?s=60", c);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.error, cHttpTransport::eHttpStopped);
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 20000) << "far less than the server's silence";
}

TEST_F(ScriptedServer, ReceiverStopEndsTransfer) {
    Collector c;
    c.stopAfterData = 0;
    Fetch f = get(base + "/noclen?n=3000000", c);
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.error, cHttpTransport::eHttpStopped);
    EXPECT_EQ(c.dataCalls, 1);
    EXPECT_LT(c.body.size(), 3000000u);
}

TEST_F(ScriptedServer, ServerSeesWellFormedRequest) {
    // The scripted server echoes our request head back as the body.
    cHttpRequest r(cHttpRequest::eGet, (base + "/echohead?x=1").c_str(), 1);
    ASSERT_TRUE(r.addHeader("X-Custom", "yes"));
    Collector c;
    ASSERT_TRUE(cHttpTransport::processRequest(r, c));
    EXPECT_EQ(c.body.find("GET /echohead?x=1 HTTP/1.1\r\n"), 0u);
    EXPECT_NE(c.body.find("\r\nHost: 127.0.0.1:" + std::to_string(server->port()) + "\r\n"), std::string::npos);
    EXPECT_NE(c.body.find("\r\nUser-Agent: QMXNetHTTP (compatible; cross-platform)\r\n"), std::string::npos);
    EXPECT_NE(c.body.find("\r\nX-Custom: yes\r\n"), std::string::npos);
}

TEST_F(ScriptedServer, FormPartsArriveIntactThroughMimeParser) {
    // Python's email parser is the oracle for our multipart encoding.
    std::string binary;
    for (int i = 0; i < 3000; i++) binary += (char)((i * 37) & 255);
    binary += "\r\n--not-a-boundary\r\n";
    struct Part {
        std::string name, data, file, type;
    } parts[] = {
        {"softwareid", "abc", "", ""},
        {"file", binary, "data.bin", "application/octet-stream"},
        {"empty", "", "", ""},
    };
    cHttpRequest r(cHttpRequest::ePost, (base + "/form").c_str(), 1);
    std::string expect;
    auto hex = [](const std::string& s) {
        std::string h;
        char b[3];
        for (unsigned char ch : s) {
            snprintf(b, sizeof(b), "%02x", ch);
            h += b;
        }
        return h;
    };
    for (auto& p : parts) {
        ASSERT_TRUE(r.addFormPart(p.name.c_str(), p.data.data(), (long long)p.data.size(),
                                  p.file.empty() ? nullptr : p.file.c_str(), p.type.empty() ? nullptr : p.type.c_str()));
        expect += p.name + "|" + p.file + "|" + p.type + "|" + hex(p.data) + "\n";
    }
    Collector c;
    ASSERT_TRUE(cHttpTransport::processRequest(r, c));
    EXPECT_EQ(c.body, expect);

    cHttpRequest raw(cHttpRequest::ePost, (base + "/form").c_str(), 0);
    ASSERT_TRUE(raw.setBody("a=1&b=2", 7, "application/x-www-form-urlencoded"));
    Collector c2;
    ASSERT_TRUE(cHttpTransport::processRequest(raw, c2));
    EXPECT_EQ(c2.body, "raw|application/x-www-form-urlencoded|" + hex("a=1&b=2") + "\n");
}

TEST(HttpTransport, UnreachableTargetsFail) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, (sockaddr*)&a, sizeof(a)), 0);
    socklen_t len = sizeof(a);
    getsockname(fd, (sockaddr*)&a, &len);
    // Bound but never listening: refused, and no other program can take the port meanwhile.
    struct Case {
        std::string url;
        int error;
    } cases[] = {
        {"http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/", cHttpTransport::eHttpConnect},
        {"http://no-such-host.invalid/", cHttpTransport::eHttpResolve},
        {"https://127.0.0.1/", cHttpTransport::eHttpBadRequest},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.url);
        Collector c;
        Fetch f = get(k.url, c);
        EXPECT_FALSE(f.ok);
        EXPECT_EQ(f.error, k.error);
        EXPECT_EQ(c.contentLength(), -1);
    }
    close(fd);
}
