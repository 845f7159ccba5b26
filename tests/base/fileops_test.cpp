// Whole writes through interrupted calls, and a replaced file that is either the old or
// the new one whichever step fails.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/fileops.h"
#include "testutil.h"

namespace {

std::atomic<int> gInterrupts{0};
void onSignal(int) { gInterrupts++; }

std::string slurp(const std::string& path) {
    auto b = testutil::readFile(path);
    return std::string(b.begin(), b.end());
}

// Fails the one operation named, passes the others on.
struct FailingOps : cFileOps {
    std::string failing;
    bool fails(const char* op) const { return failing == op; }
    int createExclusive(const char* p, int m) override {
        return fails("create") ? (errno = EACCES, -1) : cFileOps::createExclusive(p, m);
    }
    bool write(int fd, const void* d, long long n) override { return !fails("write") && cFileOps::write(fd, d, n); }
    bool chmod(int fd, int m) override { return !fails("chmod") && cFileOps::chmod(fd, m); }
    bool sync(int fd) override { return !fails("sync") && cFileOps::sync(fd); }
    bool close(int fd) override { return cFileOps::close(fd) && !fails("close"); }
    bool rename(const char* a, const char* b) override { return !fails("rename") && cFileOps::rename(a, b); }
    bool syncFolder(const char* p) override { return !fails("syncFolder") && cFileOps::syncFolder(p); }
};

}  // namespace

// A signal handled without SA_RESTART interrupts a write blocked on a full pipe; the
// write goes on until every byte is through.
TEST(FileOps, WriteAllGoesOnAfterAnInterruptedWrite) {
    int p[2];
    ASSERT_EQ(0, pipe(p));
    struct sigaction sa = {}, old;
    sa.sa_handler = onSignal;
    ASSERT_EQ(0, sigaction(SIGUSR1, &sa, &old));
    // Fill the pipe, so that the next write blocks.
    ASSERT_EQ(0, fcntl(p[1], F_SETFL, O_NONBLOCK));
    long long filled = 0;
    char block[4096] = {};
    for (ssize_t w; (w = write(p[1], block, sizeof block)) > 0;) filled += w;
    ASSERT_EQ(0, fcntl(p[1], F_SETFL, 0));

    std::vector<unsigned char> data = testutil::randomBytes(100000, 7);
    pthread_t writer = pthread_self();
    std::string got;
    std::thread reader([&] {
        for (int i = 0; i < 3; i++) {
            usleep(50000);
            pthread_kill(writer, SIGUSR1);
        }
        char buf[8192];
        long long want = filled + (long long)data.size();
        for (ssize_t r; want > 0 && (r = read(p[0], buf, sizeof buf)) > 0; want -= r) got.append(buf, (size_t)r);
    });
    bool ok = writeAll(p[1], data.data(), (long long)data.size());
    close(p[1]);  // a write that gave up leaves the reader at the end
    reader.join();
    sigaction(SIGUSR1, &old, nullptr);
    close(p[0]);
    EXPECT_TRUE(ok);
    EXPECT_GT(gInterrupts.load(), 0);
    ASSERT_EQ(got.size(), (size_t)filled + data.size());
    EXPECT_EQ(got.substr((size_t)filled), std::string(data.begin(), data.end()));
}

TEST(FileOps, ReplacedFileIsTheOldOrTheNewWhicheverStepFails) {
    const struct {
        const char* failing;
        const char* tmpName;  // beside the target
        const char* leftover;  // what an interrupted run left at that name: "file", "link" or none
        int result;
        const char* after;
    } cases[] = {
        {"", "t.tmp", nullptr, eReplaceDone, "new"},
        {"", "t.tmp", "file", eReplaceDone, "new"},
        {"", "t.tmp", "link", eReplaceDone, "new"},
        {"", ".t.XXXXXX", nullptr, eReplaceDone, "new"},
        {"create", "t.tmp", nullptr, eReplaceCannotCreate, "old"},
        {"write", "t.tmp", nullptr, eReplaceFailed, "old"},
        {"chmod", "t.tmp", nullptr, eReplaceFailed, "old"},
        {"sync", ".t.XXXXXX", nullptr, eReplaceFailed, "old"},
        {"close", "t.tmp", nullptr, eReplaceFailed, "old"},
        {"rename", "t.tmp", "file", eReplaceFailed, "old"},
        {"syncFolder", "t.tmp", nullptr, eReplaceNotFlushed, "new"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.failing) + " " + c.tmpName + " " + (c.leftover ? c.leftover : ""));
        testutil::TempDir dir;
        std::string target = dir.file("t"), kept = dir.file("kept");
        ASSERT_TRUE(testutil::writeFile(target, "old", 3));
        ASSERT_TRUE(testutil::writeFile(kept, "kept", 4));
        struct stat st;
        ASSERT_EQ(0, stat(target.c_str(), &st));
        unsigned oldMode = st.st_mode & 0777;
        _guardchar<char> tmp;
        ASSERT_TRUE(tmp.set(dir.file(c.tmpName).c_str()));
        const std::string leftover = c.leftover ? c.leftover : "";
        if (leftover == "file") {
            ASSERT_TRUE(testutil::writeFile(tmp.ptr, "part", 4));
        } else if (leftover == "link") {
            ASSERT_EQ(0, symlink(kept.c_str(), tmp.ptr));
        }
        FailingOps ops;
        ops.failing = c.failing;
        int r = replaceFile(target.c_str(), tmp, 0640, [&](int fd) { return ops.write(fd, "new", 3); }, &ops);
        EXPECT_EQ(c.result, r);
        EXPECT_EQ(c.after, slurp(target));
        ASSERT_EQ(0, stat(target.c_str(), &st));
        EXPECT_EQ(std::string(c.after) == "new" ? 0640u : oldMode, st.st_mode & 0777) << std::oct << st.st_mode;
        // Nothing is left beside the target, and a link's target is never written through.
        EXPECT_NE(0, access(tmp.ptr, F_OK)) << tmp.ptr;
        EXPECT_EQ("kept", slurp(kept));
        EXPECT_EQ(nullptr, strstr(tmp.ptr, "XXXXXX")) << "a unique name is made";
    }
}
