// cWakeChannel over an eventfd (a non-blocking pipe where there is none).
#include "ciplatform/wakeup.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/eventfd.h>
#endif

cWakeChannel::cWakeChannel() {
    myFd[0] = myFd[1] = -1;
#ifdef __linux__
    myFd[0] = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (myFd[0] >= 0) return;
#endif
    if (pipe(myFd) == 0) {
        for (int i = 0; i < 2; i++) {
            fcntl(myFd[i], F_SETFL, fcntl(myFd[i], F_GETFL) | O_NONBLOCK);
            fcntl(myFd[i], F_SETFD, FD_CLOEXEC);
        }
    } else {
        myFd[0] = myFd[1] = -1;
    }
}

cWakeChannel::~cWakeChannel() {
    if (myFd[0] >= 0) close(myFd[0]);
    if (myFd[1] >= 0) close(myFd[1]);
}

void cWakeChannel::signal() {
    int saved = errno;
    if (myFd[1] >= 0) {
        char c = 1;
        ssize_t r = write(myFd[1], &c, 1);  // a full pipe is already signalled
        (void)r;
    } else if (myFd[0] >= 0) {
        unsigned long long one = 1;
        ssize_t r = write(myFd[0], &one, sizeof(one));
        (void)r;
    }
    errno = saved;
}

bool cWakeChannel::wait(int ms) {
    if (myFd[0] < 0) return false;
    struct pollfd p = {myFd[0], POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, ms < 0 ? -1 : ms);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & POLLIN);
}

bool cWakeChannel::drain() {
    if (myFd[0] < 0) return false;
    bool any = false;
    if (myFd[1] >= 0) {
        char buf[256];
        while (read(myFd[0], buf, sizeof(buf)) > 0) any = true;
    } else {
        unsigned long long v;
        while (read(myFd[0], &v, sizeof(v)) == (ssize_t)sizeof(v)) any = true;
    }
    return any;
}
