// Helpers of the application tests.
#include "apptest.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "softmgrapp/jobforms.h"
#include "softmgrapp/makeinstaller.h"
#include "softmgrapp/processhooks.h"
#include "softmgrapp/sopkglang.h"
#include "softmgrapp/updatecheck.h"
#include "testutil.h"
#include "ui/elementhost.h"

extern char** environ;

namespace apptest {

Result runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& home,
                  const std::string& cwd, const std::string& argv0) {
    Result r;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0) return r;
    if (pipe(errPipe) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return r;
    }
    std::vector<std::string> env;
    for (char** e = environ; *e; e++)
        if (strncmp(*e, "HOME=", 5) != 0 && strncmp(*e, "DISPLAY=", 8) != 0) env.push_back(*e);
    env.push_back("HOME=" + home);
    std::vector<char*> envp, argv;
    for (auto& s : env) envp.push_back(const_cast<char*>(s.c_str()));
    envp.push_back(nullptr);
    std::string a0 = argv0.empty() ? program : argv0;
    argv.push_back(const_cast<char*>(a0.c_str()));
    for (auto& s : args) argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) return r;
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int live = 2;
    char buf[4096];
    while (live > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof(buf));
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, (size_t)n);
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                live--;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
    return r;
}

std::string stagedProgram() { return std::string(QMX_BINARY_DIR) + "/SoftManager.app/Contents/MacOS/softmgr"; }
std::string stagedIcon() { return std::string(QMX_BINARY_DIR) + "/SoftManager.app/Contents/Resources/icon.icns"; }
int makeBundle(const std::string& scenario, const std::string& bundle, const std::string& cwd) {
    testutil::TempDir standIn;
    const std::string exe = installtest::makeStandInBundle(standIn.path());
    char old[4096];
    if (!getcwd(old, sizeof old) || (!cwd.empty() && chdir(cwd.c_str()) != 0)) return -1;
    int made = makeInstaller(exe.c_str(), scenario.c_str(), bundle.c_str(), nullptr);
    return chdir(old) == 0 ? made : -1;
}

std::string exampleDir() { return std::string(QMX_TESTS_DIR) + "/../examples/hello"; }

void useLanguage(int lang) {
    installProcessHooks(nullptr, false);
    cCiomToolkitLang::init();
    cSOPKGLang::applyLang(lang);
    gConsoleMessages = false;
}

void cAnswerScript::onModal(cHeadlessWindowMaker* m, cPlatformWindow* w, int depth) {
    cElementHost* h = static_cast<cElementHost*>(w->userData);
    cChildElement* root = h ? h->rootElement() : nullptr;
    if (!root || !answer) return;
    int code = answer(m, w, root, depth);
    if (code != -2) root->end_modal(code);
}

bool pumpUntil(cHeadlessWindowMaker* m, const std::function<bool()>& done, int ms) {
    for (int i = 0; i < ms / 10; i++) {
        m->pumpAll(5);
        if (done()) return true;
        usleep(10000);
    }
    return done();
}

std::string serverScript() { return std::string(QMX_TESTS_DIR) + "/softmgrapp/update_server.py"; }

std::string snapshotDir() {
    std::string dir = std::string(QMX_BINARY_DIR) + "/snapshots";
    makeDirs(dir);
    return dir;
}

WindowManager::WindowManager(const std::string& display) {
    if (!testutil::haveTool("openbox")) return;
    pid = fork();
    if (pid == 0) {
        setenv("DISPLAY", display.c_str(), 1);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        testutil::execPeer({"openbox"});
    }
    usleep(500000);
}

WindowManager::~WindowManager() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

ServerEnv::ServerEnv(const std::string& hostPort) {
    setenv("QMX_UPDATE_SERVER", hostPort.c_str(), 1);
    initUpdateServer();
}

ServerEnv::~ServerEnv() {
    unsetenv("QMX_UPDATE_SERVER");
    initUpdateServer();
}

}  // namespace apptest
