// The test server and peer processes (see xvfb.h).
#include "xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "testutil.h"
#include "x11/x11maker.h"

namespace xvfbtest {

namespace {

// One server for the whole test program, started by the first test that asks for it.
testutil::Xvfb& server() {
    static testutil::Xvfb s;
    return s;
}

}  // namespace

const std::string& display(std::string* why) {
    testutil::Xvfb& s = server();
    if (why) *why = s.why();
    return s.display();
}

int spawn(const std::vector<std::string>& argv, const std::string* input, int* outFd) {
    int in[2] = {-1, -1};
    if (input && pipe(in) != 0) return -1;
    int out[2] = {-1, -1};
    if (pipe(out) != 0) return -1;
    int pid = fork();
    if (pid == 0) {
        if (input) {
            dup2(in[0], 0);
            close(in[0]);
            close(in[1]);
        } else {
            int devnull = open("/dev/null", O_RDONLY);
            dup2(devnull, 0);
        }
        dup2(out[1], 1);
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 2);
        close(out[0]);
        close(out[1]);
        setenv("DISPLAY", display().c_str(), 1);
        testutil::execPeer(argv);
    }
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return -1;
    }
    if (input) {
        close(in[0]);
        ssize_t w = write(in[1], input->data(), input->size());
        (void)w;
        close(in[1]);
    }
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    if (outFd)
        *outFd = out[0];
    else
        close(out[0]);
    return pid;
}

namespace {
struct sWait {
    int pid;
    int status;
    bool done;
    std::string* out;
    int fd;
};
bool finished(void* arg) {
    sWait* w = (sWait*)arg;
    char buf[4096];
    ssize_t n;
    while (w->fd >= 0 && (n = read(w->fd, buf, sizeof(buf))) > 0)
        if (w->out) w->out->append(buf, (size_t)n);
    int st = 0;
    if (waitpid(w->pid, &st, WNOHANG) == w->pid) {
        while (w->fd >= 0 && (n = read(w->fd, buf, sizeof(buf))) > 0)
            if (w->out) w->out->append(buf, (size_t)n);
        w->status = WIFEXITED(st) ? WEXITSTATUS(st) : -3;
        w->done = true;
    }
    return w->done;
}
}  // namespace

int waitPumping(cX11WindowMaker* maker, int pid, int outFd, std::string* out, int timeoutMs) {
    sWait w = {pid, -1, false, out, outFd};
    bool ok = maker->runUntil(finished, &w, timeoutMs);
    if (!ok) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (outFd >= 0) close(outFd);
    return ok ? w.status : -2;
}

int runPumping(cX11WindowMaker* maker, const std::vector<std::string>& argv, std::string* out,
               const std::string* input, int timeoutMs) {
    int fd = -1;
    int pid = spawn(argv, input, &fd);
    if (pid < 0) return -1;
    return waitPumping(maker, pid, fd, out, timeoutMs);
}

}  // namespace xvfbtest
