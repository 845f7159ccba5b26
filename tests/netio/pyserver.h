// A python3 loopback server started by a test: reads the port it prints, stops it on destruction.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "testutil.h"

class PyServer {
public:
    // Runs python3 with the arguments and waits (up to 60 s: a loaded machine starts it
    // slowly) for a line holding "port <n>".
    explicit PyServer(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe(fds) != 0) return;
        std::vector<std::string> argv = {"python3", "-u"};
        argv.insert(argv.end(), args.begin(), args.end());
        myPid = fork();
        if (myPid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            int null = open("/dev/null", O_WRONLY);
            if (null >= 0) dup2(null, 2);
            testutil::execPeer(argv);
        }
        close(fds[1]);
        myOut = fds[0];
        if (myPid > 0) readPort();
    }
    ~PyServer() {
        if (myPid > 0) {
            kill(myPid, SIGTERM);
            int st;
            waitpid(myPid, &st, 0);
        }
        if (myOut >= 0) close(myOut);
    }
    int port() const { return myPort; }

private:
    void readPort() {
        std::string line;
        for (int i = 0; i < 600 && myPort == 0; i++) {
            pollfd p = {myOut, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buf[256];
            ssize_t n = read(myOut, buf, sizeof(buf));
            if (n <= 0) return;
            line.append(buf, (size_t)n);
            std::string low;
            for (char c : line) low += (char)tolower((unsigned char)c);
            size_t at = low.find("port ");
            if (at != std::string::npos && low.find('\n', at) != std::string::npos)
                myPort = atoi(low.c_str() + at + 5);
        }
    }
    pid_t myPid = -1;
    int myOut = -1;
    int myPort = 0;
};
