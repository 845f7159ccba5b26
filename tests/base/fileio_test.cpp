// Disk files: open modes and what they do to an existing or missing file, random
// transfers against a model, truncation, renaming, times and byte-range locks.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>

#include "base/fileio.h"
#include "base/textfileio.h"
#include "base/timestamp.h"
#include "testutil.h"

using testutil::TempDir;

namespace {

std::string slurp(const std::string& path) {
    auto b = testutil::readFile(path);
    return std::string(b.begin(), b.end());
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(FileIO, OpenModesCreateAndTruncateOnlyWhenAsked) {
    const struct {
        bool create;  // create() instead of open()
        int mode;
        bool fileThere;
        bool ok;
        const char* after;  // content afterwards (null: no file)
        bool canRead, canWrite;
    } cases[] = {
        {false, 1, true, true, "hello", true, false},
        {false, 1, false, false, nullptr, false, false},
        {false, 2, true, true, "hello", false, true},
        {false, 2, false, true, "", false, true},
        {false, 3, true, true, "hello", true, true},
        {false, 6, true, true, "hello", false, true},
        {false, 6, false, false, nullptr, false, false},  // no creating with 6
        {false, 0, true, false, "hello", false, false},
        {true, 2, true, true, "", false, true},  // create truncates
        {true, 2, false, true, "", false, true},
        {true, 3, true, true, "", true, true},
    };
    int i = 0;
    for (const auto& c : cases) {
        TempDir dir;
        std::string path = dir.file("f.bin");
        if (c.fileThere) {
            ASSERT_TRUE(testutil::writeFile(path, "hello", 5));
        }
        cFileIO f;
        bool ok = c.create ? f.create(path.c_str(), c.mode) : f.open(path.c_str(), c.mode);
        ASSERT_EQ(c.ok, ok) << "case " << i;
        EXPECT_EQ(c.ok, f.valid());
        if (ok) {
            char b[2];
            EXPECT_EQ(c.canRead && c.fileThere && !c.create, f.read(b, 2) == 2) << "case " << i;
            // A byte appended and cut again: proves write access without changing the file.
            unsigned long long end = f.size();
            ASSERT_TRUE(f.set_fp(end));
            EXPECT_EQ(c.canWrite, f.write("Q", 1) == 1) << "case " << i;
            if (c.canWrite) {
                EXPECT_EQ(end + 1, f.size());
                ASSERT_TRUE(f.set_fp(end));
                EXPECT_TRUE(f.set_eof());
            }
            f.close();
        }
        if (c.after)
            EXPECT_EQ(c.after, slurp(path)) << "case " << i;
        else
            EXPECT_FALSE(exists(path)) << "case " << i;
        i++;
    }
}

TEST(FileIO, ReadOnlyFileRefusesWritesAndFoldersAreRefused) {
    TempDir dir;
    std::string path = dir.file("r.txt");
    ASSERT_TRUE(testutil::writeFile(path, "abc", 3));
    cFileIO f;
    ASSERT_TRUE(f.open(path.c_str(), 1));
    EXPECT_EQ(0, f.write("zz", 2));
    EXPECT_FALSE(f.writef("zz", 2));
    EXPECT_EQ("abc", slurp(path));
    EXPECT_FALSE(f.open(dir.path().c_str(), 1));
    EXPECT_FALSE(f.valid());
    EXPECT_FALSE(f.open(nullptr, 1));
    EXPECT_FALSE(f.open("", 1));
    EXPECT_FALSE(f.create(dir.file("no/such/dir").c_str(), 2));
}

// A file whose reads fail part-way: this process's memory through /proc/self/mem, one
// readable page followed by an unmapped one, where the kernel answers EIO. A failed read
// is -1 with the position kept, never a short read taken for the end of the file.
TEST(FileIO, AFailedReadIsNeverTheEndOfTheFile) {
    const long page = sysconf(_SC_PAGESIZE);
    char* p = (char*)mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    memset(p, 'x', page);
    ASSERT_EQ(munmap(p + page, page), 0);
    cFileIO f;
    if (!f.open("/proc/self/mem", cFileIO::eRead)) GTEST_SKIP() << "no /proc/self/mem";
    std::string buf(2 * page, 0);
    const unsigned long long at = (uintptr_t)p;
    const struct {
        unsigned long long at;
        long long n, want;
    } cases[] = {{at, page, page}, {at + page / 2, 2 * page, -1}, {at + page, 1, -1}};
    for (auto& c : cases) {
        ASSERT_TRUE(f.set_fp(c.at));
        EXPECT_EQ(f.read(&buf[0], c.n), c.want) << c.at - at;
        EXPECT_EQ(f.get_fp(), c.at + (c.want > 0 ? c.want : 0));
    }
    EXPECT_EQ(buf.substr(0, page), std::string(page, 'x'));
    // Lines read from it: a failure, not a file that ended.
    cTextFileIO t;
    ASSERT_TRUE(t.open("/proc/self/mem"));
    _typebuf<char> line;
    EXPECT_FALSE(t.gets(line));
    EXPECT_FALSE(t.valid());
    munmap(p, page);
}

TEST(FileIO, RandomTransfersMatchModel) {
    TempDir dir;
    std::string path = dir.file("rw.bin");
    cFileIO f;
    ASSERT_TRUE(f.create(path.c_str(), 3));
    std::vector<unsigned char> model;
    unsigned long long pos = 0;
    std::mt19937 rng(7);
    std::vector<unsigned char> buf(20000), got(20000);
    for (int step = 0; step < 400; step++) {
        int op = rng() % 8;
        size_t n = rng() % buf.size();
        if (op < 3) {
            for (size_t i = 0; i < n; i++) buf[i] = (unsigned char)rng();
            ASSERT_EQ((long long)n, f.write(buf.data(), (long long)n));
            if (n && pos + n > model.size()) model.resize(pos + n, 0);
            std::copy(buf.begin(), buf.begin() + n, model.begin() + pos);
            pos += n;
        } else if (op < 5) {
            long long want = pos >= model.size() ? 0 : std::min<long long>(n, model.size() - pos);
            ASSERT_EQ(want, f.read(got.data(), (long long)n));
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + want, model.begin() + pos));
            pos += want;
        } else if (op < 7) {
            pos = rng() % (model.size() + 3000);  // past the end too: a later write leaves a hole of zeros
            ASSERT_TRUE(f.set_fp(pos));
        } else {
            ASSERT_TRUE(f.set_eof());
            model.resize(pos, 0);
        }
        ASSERT_EQ(model.size(), f.size());
        ASSERT_EQ(pos, f.get_fp());
    }
    ASSERT_TRUE(f.sync());
    f.close();
    EXPECT_EQ(model, testutil::readFile(path));
}

TEST(FileIO, MoveAndRemove) {
    TempDir dir;
    std::string a = dir.file("a"), b = dir.file("b");
    ASSERT_TRUE(testutil::writeFile(a, "1", 1));
    ASSERT_TRUE(testutil::writeFile(b, "22", 2));
    EXPECT_TRUE(cFileIO::move(a.c_str(), b.c_str()));  // replaces the target
    EXPECT_FALSE(exists(a));
    EXPECT_EQ("1", slurp(b));
    EXPECT_FALSE(cFileIO::move(a.c_str(), b.c_str()));  // source gone
    EXPECT_FALSE(cFileIO::move(nullptr, b.c_str()));
    EXPECT_TRUE(cFileIO::remove(b.c_str()));
    EXPECT_FALSE(exists(b));
    EXPECT_FALSE(cFileIO::remove(b.c_str()));
    EXPECT_FALSE(cFileIO::remove(dir.path().c_str()));  // folders are not files
    EXPECT_FALSE(cFileIO::remove(nullptr));
}

TEST(FileIO, SetTimeIsLocalCalendarTime) {
    TempDir dir;
    std::string path = dir.file("t");
    cFileIO f;
    ASSERT_TRUE(f.create(path.c_str(), 2));
    const sTimestamp when = {2001, 2, 3, 4, 5, 6};
    ASSERT_TRUE(f.set_time(&when));
    const sTimestamp bad[] = {{0, 1, 1, 0, 0, 0}, {2001, 13, 1, 0, 0, 0}, {2001, 1, 0, 0, 0, 0}, {2001, 1, 1, 24, 0, 0}};
    for (const auto& b : bad) EXPECT_FALSE(f.set_time(&b));
    EXPECT_FALSE(f.set_time(nullptr));
    f.close();
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    struct tm tmv;
    ASSERT_TRUE(localtime_r(&st.st_mtime, &tmv));
    EXPECT_EQ(2001, tmv.tm_year + 1900);
    EXPECT_EQ(1, tmv.tm_mon);
    EXPECT_EQ(3, tmv.tm_mday);
    EXPECT_EQ(4, tmv.tm_hour);
    EXPECT_EQ(5, tmv.tm_min);
    EXPECT_EQ(6, tmv.tm_sec);
}

TEST(FileIO, ExclusiveLockKeepsOtherProcessesOut) {
    TempDir dir;
    std::string path = dir.file("lock");
    cFileIO f;
    ASSERT_TRUE(f.create(path.c_str(), 3));
    ASSERT_TRUE(f.lock(true, true));
    // fcntl locks are per process: only another process can see the conflict.
    auto childTries = [&](bool exclusive) {
        pid_t pid = fork();
        if (pid == 0) {
            cFileIO g;
            bool got = g.open(path.c_str(), 3) && g.lock(exclusive, false);
            _exit(got ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    EXPECT_FALSE(childTries(true));
    EXPECT_FALSE(childTries(false));
    ASSERT_TRUE(f.unlock());
    ASSERT_TRUE(f.lock(false, true));
    EXPECT_TRUE(childTries(false));  // shared locks coexist
    EXPECT_FALSE(childTries(true));
    f.close();
    EXPECT_TRUE(childTries(true));  // closing releases the lock
}
