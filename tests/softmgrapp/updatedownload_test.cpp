// The update's download into a file against the loopback server: complete, truncated,
// refused, not http, cancelled while the server stalls.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "apptest.h"
#include "base/fileio.h"
#include "base/job.h"
#include "netio/pyserver.h"
#include "softmgrapp/updateform.h"
#include "testutil.h"

namespace {

// Runs a transfer on a job thread so that a stop request reaches it as the form's would.
class cTransferJob : public cJob {
public:
    cTransferJob(cFileIO& f, const char* address) : transfer(f, address) {}
    ~cTransferJob() override { terminate(4000); }
    cUpdateTransfer transfer;
    std::atomic<int> result{-1};

protected:
    unsigned int job() override {
        result = transfer.runTransfer(nullptr, this);
        return 0;
    }
};

int download(const std::string& address, const std::string& path, int stopAfterMs = -1) {
    cFileIO f;
    if (!f.create(path.c_str())) return -1;
    cTransferJob job(f, address.c_str());
    job.start();
    if (stopAfterMs >= 0) {
        usleep(stopAfterMs * 1000);
        job.stop();
    }
    for (int i = 0; i < 3000 && job.runs(); i++) usleep(10000);
    return job.result;
}

}  // namespace

TEST(UpdateDownload, ResultsAgainstTheLoopbackServer) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    testutil::TempDir dir;
    ASSERT_TRUE(apptest::makeDirs(dir.path() + "/files"));
    std::vector<unsigned char> body = testutil::randomBytes(300000, 7);
    ASSERT_TRUE(testutil::writeFile(dir.file("files/u.zip"), body));
    PyServer server({apptest::serverScript(), dir.path()});
    ASSERT_NE(server.port(), 0);
    std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    struct Case {
        std::string address;
        int want;
    } cases[] = {
        {base + "/files/u.zip", eDLComplete},
        {base + "/files-trunc/u.zip", eDLIncomplete},
        {base + "/files-404/u.zip", eDLStatus},
        {"https://127.0.0.1/u.zip", eDLNoRequest},
        {"ftp://127.0.0.1/u.zip", eDLNoRequest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        std::string out = dir.file("out.bin");
        EXPECT_EQ(download(c.address, out), c.want);
        if (c.want == eDLComplete) {
            EXPECT_EQ(testutil::readFile(out), body);
        }
    }
    // Cancel while the server sends nothing: the job ends at once, with its own result.
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(download(base + "/files-slow/u.zip", dir.file("slow.bin"), 300), eDLCancelled);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(ms, 15000) << "far less than the server's silence or the read time-out";
}
