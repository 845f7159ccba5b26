// cException: copying of the message and the signal translation.
#include "base/cexception.h"

#include <csignal>
#include <cstring>

cException::cException(const char* message, int code, const char* file, int line)
    : myCode(code), myFile(file), myLine(line) {
    myMessage[0] = 0;
    if (message) {
        strncpy(myMessage, message, sizeof(myMessage) - 1);
        myMessage[sizeof(myMessage) - 1] = 0;
    }
}

cException::cException(const cException& other) { *this = other; }

cException& cException::operator=(const cException& other) {
    memcpy(myMessage, other.myMessage, sizeof(myMessage));
    myCode = other.myCode;
    myFile = other.myFile;
    myLine = other.myLine;
    return *this;
}

cException::~cException() {}

namespace {

void onFaultSignal(int sig) {
    // Unblock the signal so that a later fault on this thread is translated too:
    // leaving the handler by an exception skips the kernel's own unblocking.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    throw cException("Signal received", sig, __FILE__, __LINE__);
}

}  // namespace

void cException::init() {
    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = onFaultSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_NODEFER;
    sigaction(SIGSEGV, &sa, nullptr);
    sigaction(SIGFPE, &sa, nullptr);
    sigaction(SIGBUS, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
}
