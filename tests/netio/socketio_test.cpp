// cSocketIO against a python3 echo server on loopback and against socket pairs.
#include "netio/socketio.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "netio/pyserver.h"
#include "testutil.h"

namespace {

std::string echoScript() { return std::string(QMX_TESTS_DIR) + "/netio/echo_server.py"; }

// A loopback port that nothing listens on: bound but never listening, and kept bound
// for the rest of the run so that no other program takes it meanwhile.
int closedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, (sockaddr*)&a, sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(fd, (sockaddr*)&a, &len);
    return ntohs(a.sin_port);
}

}  // namespace

TEST(SocketIO, EchoRoundTripIsByteExactOverV4AndV6) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    ASSERT_TRUE(initSockLib());
    struct Case {
        const char* bind;
        const char* connectTo;
    } cases[] = {{"127.0.0.1", "127.0.0.1"}, {"127.0.0.1", "localhost"}, {"::1", "::1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.connectTo);
        PyServer server({echoScript(), c.bind});
        if (server.port() == 0) {
            if (std::string(c.bind) == "::1") continue;  // no IPv6 loopback here
            FAIL() << "echo server did not start";
        }
        cSocketIO sock;
        sock.setTimeouts(5000, 10000, 10000);
        ASSERT_TRUE(sock.connect(c.connectTo, server.port())) << sock.lastError();
        EXPECT_EQ(sock.typeOf(), cFileIOTarget::eIOSocket);
        std::vector<unsigned char> data = testutil::randomBytes(4 << 20, 7), back(data.size());
        // Lock-step pieces keep both socket buffers from filling up.
        const size_t piece = 48 * 1024;
        size_t got = 0;
        for (size_t at = 0; at < data.size(); at += piece) {
            size_t n = std::min(piece, data.size() - at);
            ASSERT_TRUE(sock.writef(data.data() + at, (long long)n));
            for (int guard = 0; guard < 100000 && got < at + n; guard++) {
                long long r = sock.read(back.data() + got, (long long)(at + n - got));
                ASSERT_GT(r, 0) << "error " << sock.lastError();
                got += (size_t)r;
            }
        }
        EXPECT_TRUE(data == back);
        EXPECT_EQ(sock.get_fp(), data.size());
        // Our end closes; the echo server follows, and read reports a clean end.
        ASSERT_TRUE(sock.shutdownWrite());
        char c1;
        EXPECT_EQ(sock.read(&c1, 1), 0);
        EXPECT_TRUE(sock.peerClosed());
        EXPECT_EQ(sock.lastError(), cSocketIO::eSockNone);
    }
}

TEST(SocketIO, ReadTimesOutWhenPeerStaysSilent) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    PyServer server({echoScript()});
    ASSERT_NE(server.port(), 0);
    cSocketIO sock;
    sock.setTimeouts(5000, 200, 5000);
    ASSERT_TRUE(sock.connect("127.0.0.1", server.port()));
    char buf[16];
    EXPECT_EQ(sock.read(buf, sizeof(buf)), 0);
    EXPECT_EQ(sock.lastError(), cSocketIO::eSockTimeout);
    EXPECT_FALSE(sock.valid());
    EXPECT_FALSE(sock.peerClosed());
}

TEST(SocketIO, WriteTimesOutWhenPeerNeverReads) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    cSocketIO sock;
    sock.setTimeouts(1000, 1000, 200);
    ASSERT_TRUE(sock.attach(sv[0]));
    std::vector<char> big(32 << 20, 'x');
    long long n = sock.write(big.data(), (long long)big.size());
    EXPECT_LT(n, (long long)big.size());
    EXPECT_EQ(sock.lastError(), cSocketIO::eSockTimeout);
    close(sv[1]);
}

TEST(SocketIO, WriteToClosedPeerFailsWithoutSignal) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    cSocketIO sock;
    ASSERT_TRUE(sock.attach(sv[0]));
    close(sv[1]);
    std::vector<char> big(1 << 20, 'x');
    // SIGPIPE would kill the test program; the failure must come back as a result instead.
    EXPECT_FALSE(sock.writef(big.data(), (long long)big.size()));
    EXPECT_EQ(sock.lastError(), cSocketIO::eSockIO);
}

TEST(SocketIO, BadTargetsFailWithTheirReason) {
    struct Case {
        const char* host;
        int port;
        int error;
    } cases[] = {
        {"127.0.0.1", closedPort(), cSocketIO::eSockRefused},
        {"no-such-host.invalid", 80, cSocketIO::eSockResolve},
        {"127.0.0.1", 0, cSocketIO::eSockBadArgument},
        {"127.0.0.1", 65536, cSocketIO::eSockBadArgument},
        {"127.0.0.1", -5, cSocketIO::eSockBadArgument},
        {"", 80, cSocketIO::eSockBadArgument},
        {nullptr, 80, cSocketIO::eSockBadArgument},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host ? c.host : "(null)") + ":" + std::to_string(c.port));
        cSocketIO sock;
        sock.setTimeouts(3000, 1000, 1000);
        EXPECT_FALSE(sock.connect(c.host, c.port));
        EXPECT_EQ(sock.lastError(), c.error);
        EXPECT_FALSE(sock.valid());
        char b[4];
        EXPECT_EQ(sock.read(b, 4), 0);
        EXPECT_EQ(sock.write(b, 4), 0);
        EXPECT_EQ(sock.lastError(), cSocketIO::eSockNotConnected);
    }
}

namespace {

// A resolver that never answers in time: it holds its worker for 60 s, then fails.
int hungResolver(const char*, const char*, const void*, void** list) {
    *list = nullptr;
    usleep(60000 * 1000);
    return EAI_AGAIN;
}

bool abortAlways(void*) { return true; }

long long msSince(const std::chrono::steady_clock::time_point& t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

TEST(SocketIO, HungResolverIsLeftBehindAtTheConnectTimeOut) {
    cSocketIO::setResolverForTests(hungResolver);
    cSocketIO sock;
    sock.setTimeouts(300, 1000, 1000);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(sock.connect("any.host.example", 80));
    long long took = msSince(t0);
    cSocketIO::setResolverForTests(nullptr);
    EXPECT_EQ(sock.lastError(), cSocketIO::eSockResolve);
    EXPECT_GE(took, 250);
    EXPECT_LT(took, 20000) << "the caller waited for the resolver itself";
    // The real resolver is back and a numeric host still connects past the worker.
    cSocketIO again;
    again.setTimeouts(1000, 1000, 1000);
    EXPECT_FALSE(again.connect("127.0.0.1", closedPort()));
    EXPECT_EQ(again.lastError(), cSocketIO::eSockRefused);
}

TEST(SocketIO, AbortCheckEndsResolvingAndReadingAtOnce) {
    cSocketIO::setResolverForTests(hungResolver);
    cSocketIO sock;
    sock.setTimeouts(20000, 20000, 20000);
    sock.setAbortCheck(abortAlways, nullptr);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(sock.connect("any.host.example", 80));
    cSocketIO::setResolverForTests(nullptr);
    EXPECT_EQ(sock.lastError(), cSocketIO::eSockAborted);
    EXPECT_LT(msSince(t0), 15000);  // far less than the time-outs

    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    cSocketIO reader;
    reader.setTimeouts(20000, 20000, 20000);
    ASSERT_TRUE(reader.attach(sv[0]));
    reader.setAbortCheck(abortAlways, nullptr);
    char b[4];
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(reader.read(b, 4), 0);
    EXPECT_EQ(reader.lastError(), cSocketIO::eSockAborted);
    EXPECT_LT(msSince(t0), 15000);  // far less than the time-outs
    close(sv[1]);
}
