// Child processes through fork/execvp with argument vectors; descriptors are
// close-on-exec, so children inherit only their three standard streams.
#include "base/process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/job.h"
#include "base/strings.h"
#include "base/timeutil.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void closeFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

int waitChild(pid_t pid, int* status, int flags) {
    int rc;
    do {
        rc = waitpid(pid, status, flags);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

// In the child after fork: only async-signal-safe calls until exec.
// Starts a session of its own, so the child has no controlling terminal (a program that
// asks for a password on /dev/tty fails instead of waiting for ever), puts `fds[i]` on
// descriptor i (a negative one leaves output and errors as inherited; input then comes
// from /dev/null, never our terminal), undoes the parent's ignored SIGPIPE and SIGHUP and
// its signal mask, then executes. A failed exec writes errno to `reportFd` when there is
// one and exits with 127.
[[noreturn]] void execChild(char* const* argv, const int given[3], int reportFd) {
    setsid();
    int fds[3] = {given[0], given[1], given[2]};
    if (fds[0] < 0) fds[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fds[0] < 0) _exit(127);
    int moved[3];
    for (int i = 0; i < 3; i++) {
        moved[i] = fds[i];
        // Lift sources off 0-2 first so that one dup2 cannot clobber another's source.
        if (fds[i] >= 0 && fds[i] < 3) moved[i] = fcntl(fds[i], F_DUPFD_CLOEXEC, 3);
    }
    for (int i = 0; i < 3; i++) {
        if (moved[i] >= 0 && dup2(moved[i], i) < 0) _exit(127);
    }
    signal(SIGPIPE, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvp(argv[0], argv);
    if (reportFd >= 0) {
        int err = errno;
        ssize_t w = ::write(reportFd, &err, sizeof(err));
        (void)w;
    }
    _exit(127);
}

}  // namespace

// Starts a program that outlives the call: an intermediate child starts it and ends
// at once (so it is re-parented and never a zombie of ours); a close-on-exec pipe
// reports whether exec succeeded.
static bool spawnDetached(char* const* argv) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    pid_t mid = fork();
    if (mid < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (mid == 0) {
        close(report[0]);
        pid_t leaf = fork();
        if (leaf == 0) {
            int fds[3] = {-1, -1, -1};
            execChild(argv, fds, report[1]);
        }
        if (leaf < 0) {
            int err = errno;
            ssize_t w = ::write(report[1], &err, sizeof(err));
            (void)w;
        }
        _exit(0);
    }
    close(report[1]);
    int st = 0;
    waitChild(mid, &st, 0);
    int err = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &err, sizeof(err));
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    return got == 0;
}

namespace {

// "http://" or "https://" (any case): the only addresses handed to the desktop's opener.
bool isWebAddress(const char* s) { return __stricmp(s, "http://", 7) == 0 || __stricmp(s, "https://", 8) == 0; }

// "<scheme>:" at the start: an address of another kind (file:, smb:, mailto:, a handler's
// own scheme), which a server or a package could name to start anything.
bool hasScheme(const char* s) {
    const char* p = s;
    while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') || *p == '+' ||
           *p == '-' || *p == '.')
        p++;
    return p > s && *p == ':';
}

}  // namespace

bool splitCommandLine(const char* line, _typebuf<char>& storage, _typebuf<char*>& argv) {
    storage.clear();
    argv.clear();
    if (!line) return false;
    long long len = (long long)strlen(line);
    // Each word ends with one terminator and takes at least one source byte.
    if (!storage.set(len + 1)) return false;
    long long words = 0;
    char* out = storage.ptr;
    const char* p = line;
    while (true) {
        while (isBlank(*p)) p++;
        if (!*p) break;
        bool quoted = false;
        while (*p && (quoted || !isBlank(*p))) {
            if (*p == '"')
                quoted = !quoted;
            else
                *out++ = *p;
            p++;
        }
        *out++ = 0;
        words++;
    }
    if (words == 0 || !argv.set(words + 1)) {
        storage.clear();
        return false;
    }
    char* w = storage.ptr;
    for (long long i = 0; i < words; i++) {
        argv.ptr[i] = w;
        w += strlen(w) + 1;
    }
    argv.ptr[words] = nullptr;
    return true;
}

bool startDetached(const char* const* argv) {
    return argv && argv[0] && spawnDetached((char* const*)argv);
}

bool shellOpen(const char* text) {
    if (!text || !*text) return false;
    // lstat: a dangling link is still a path, never a command line.
    struct stat st;
    bool path = lstat(text, &st) == 0;
    if (path || isWebAddress(text)) {
        // A path is never taken for one of the opener's options.
        _guardchar<char> guarded;
        if (text[0] == '-') {
            long long n = (long long)strlen(text);
            if (!guarded.set(n + 2)) return false;
            memcpy(guarded.ptr, "./", 2);
            memcpy(guarded.ptr + 2, text, (size_t)n + 1);
        }
        const char* argv[] = {"xdg-open", guarded.ptr ? guarded.ptr : text, nullptr};
        return spawnDetached((char* const*)argv);
    }
    if (hasScheme(text)) return false;
    _typebuf<char> storage;
    _typebuf<char*> argv;
    return splitCommandLine(text, storage, argv) && spawnDetached(argv.ptr);
}

int execCmd(const char* const* argv) {
    if (!argv || !argv[0]) return -1;
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        int fds[3] = {-1, -1, -1};
        execChild((char* const*)argv, fds, -1);
    }
    int st = 0;
    if (waitChild(pid, &st, 0) < 0) return -1;
    return st;
}

int execCmd(const char* commandLine) {
    _typebuf<char> storage;
    _typebuf<char*> argv;
    if (!splitCommandLine(commandLine, storage, argv)) return -1;
    return execCmd((const char* const*)argv.ptr);
}

cConProcess::cConProcess() : myPid(0), myStatus(0), myIn(-1), myOut(-1), myErr(-1), myDiscard(false) {}

cConProcess::~cConProcess() {
    closePipes();
    reap();
}

void cConProcess::closePipes() {
    closeFd(myIn);
    closeFd(myOut);
    closeFd(myErr);
}

void cConProcess::reap() {
    if (myPid <= 0) return;
    for (int i = 0; i < 200; i++) {
        if (!isValid()) return;
        cJob::sleep(10);
    }
    ::kill(myPid, SIGKILL);
    wait();
}

bool cConProcess::startProcess(const char* commandLine, bool stderrToStdout) {
    _typebuf<char> storage;
    _typebuf<char*> argv;
    if (!splitCommandLine(commandLine, storage, argv)) return false;
    return spawn(argv.ptr, stderrToStdout);
}

bool cConProcess::startProcess(const char* const* argv, bool stderrToStdout) {
    if (!argv || !argv[0]) return false;
    return spawn((char* const*)argv, stderrToStdout);
}

bool cConProcess::spawn(char* const* argv, bool stderrToStdout) {
    closePipes();
    reap();
    myStatus = 0;
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    int nul = -1;
    bool ok;
    if (myDiscard) {
        nul = open("/dev/null", O_RDWR | O_CLOEXEC);
        ok = nul >= 0;
    } else {
        ok = pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0 &&
             (stderrToStdout || pipe2(err, O_CLOEXEC) == 0);
    }
    pid_t pid = ok ? fork() : -1;
    if (pid == 0) {
        int fds[3];
        fds[0] = myDiscard ? nul : in[0];
        fds[1] = myDiscard ? nul : out[1];
        fds[2] = myDiscard ? nul : (stderrToStdout ? out[1] : err[1]);
        execChild(argv, fds, -1);
    }
    // The child's ends belong to the child now; ours stay close-on-exec.
    const int childEnds[4] = {in[0], out[1], err[1], nul};
    for (int fd : childEnds)
        if (fd >= 0) close(fd);
    if (pid < 0) {
        const int ourEnds[3] = {in[1], out[0], err[0]};
        for (int fd : ourEnds)
            if (fd >= 0) close(fd);
        return false;
    }
    myPid = pid;
    myIn = in[1];
    myOut = out[0];
    myErr = err[0];
    return true;
}

bool cConProcess::isValid() {
    if (myPid <= 0) return false;
    int st = 0;
    int rc = waitChild(myPid, &st, WNOHANG);
    if (rc == 0) return true;
    myStatus = rc == myPid ? st : -1;
    myPid = 0;
    return false;
}

int cConProcess::wait() {
    if (myPid > 0) {
        int st = 0;
        int rc = waitChild(myPid, &st, 0);
        myStatus = rc == myPid ? st : -1;
        myPid = 0;
    }
    return myStatus;
}

bool cConProcess::kill(int sig) { return myPid > 0 && ::kill(myPid, sig) == 0; }

namespace {

long long readFd(int fd, void* buffer, long long n) {
    if (fd < 0 || !buffer || n < 0) return -1;
    ssize_t got;
    do {
        got = ::read(fd, buffer, (size_t)n);
    } while (got < 0 && errno == EINTR);
    return got;
}

}  // namespace

long long cConProcess::read(void* buffer, long long n) { return readFd(myOut, buffer, n); }

bool cConProcess::outputReady(int ms) {
    if (myOut < 0) return false;
    struct pollfd p;
    p.fd = myOut;
    p.events = POLLIN;
    p.revents = 0;
    unsigned long long until = ticks_us() + (unsigned long long)(ms > 0 ? ms : 0) * 1000ULL;
    for (;;) {
        unsigned long long now = ticks_us();
        int left = now >= until ? 0 : (int)((until - now + 999) / 1000);
        int rc = poll(&p, 1, left);
        if (rc > 0) return true;  // data, end of output (POLLHUP) or an error read reports
        if (rc == 0 || errno != EINTR) return false;
    }
}

long long cConProcess::readErr(void* buffer, long long n) { return readFd(myErr, buffer, n); }

long long cConProcess::write(const void* data, long long n) {
    if (myIn < 0 || (!data && n > 0) || n < 0) return -1;
    // A reader that went away must give EPIPE here, not end the process: hold
    // SIGPIPE back on this thread and swallow the one this write raised.
    sigset_t pipeSet, old;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    bool wasPending = false;
    {
        sigset_t pending;
        sigpending(&pending);
        wasPending = sigismember(&pending, SIGPIPE) == 1;
    }
    const char* p = (const char*)data;
    long long done = 0;
    bool broken = false;
    while (done < n) {
        ssize_t w = ::write(myIn, p + done, (size_t)(n - done));
        if (w < 0) {
            if (errno == EINTR) continue;
            broken = errno == EPIPE;
            break;
        }
        done += w;
    }
    if (broken && !wasPending) {
        struct timespec zero = {0, 0};
        sigtimedwait(&pipeSet, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (done == 0 && n > 0) return -1;
    return done;
}

void cConProcess::closeInput() { closeFd(myIn); }
