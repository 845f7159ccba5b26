// Helpers shared by the test programs: private temporary folders, files, peer tools,
// a private X server, a Turkish LC_CTYPE.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testutil {

// A private temporary folder (mode 0700) removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return myPath; }
    std::string file(const std::string& name) const { return myPath + "/" + name; }

private:
    std::string myPath;
};

std::vector<unsigned char> readFile(const std::string& path);
bool writeFile(const std::string& path, const void* data, size_t size);
inline bool writeFile(const std::string& path, const std::vector<unsigned char>& d) {
    return writeFile(path, d.data(), d.size());
}

// Makes a Unix socket file at `path` (bound, then closed), however long the path: it is bound
// by a short name through its open folder, since a socket's address holds only 107 bytes.
// False when the system refused it.
bool makeSocketFile(const std::string& path);

// True when `tool` is found on PATH (tests that need a peer skip without it).
bool haveTool(const std::string& tool);
// Runs a peer tool's argument vector (see execPeer), returns its exit status (-1 when it
// could not start); standard output is collected into `out` when given.
int run(const std::vector<std::string>& argv, std::string* out = nullptr);
// Ends a child forked to start a peer tool (an oracle, a server, a window manager) by starting
// it: in the C.UTF-8 locale whatever the runner's (LC_ALL, which LANG and every LC_* give way
// to), in this test program's scratch folder, so that no peer answers by the runner's locale
// and nothing a peer writes beside it lands in the build tree; exit status 127 when it cannot
// start. The program under test is started otherwise and keeps the runner's locale.
[[noreturn]] void execPeer(const std::vector<std::string>& argv);

// `text` as one word of a POSIX shell line, whatever it holds: in single quotes, a quote
// within as '\''.
std::string shellQuoted(const std::string& text);

// `text` as a quoted string of a text scenario, whatever it holds: in double quotes, a
// backslash before each '"' and '\' within.
std::string scenarioQuoted(const std::string& text);

// `folder` as one entry of PATH, which is split at colons: the folder itself, or where its
// path holds a colon (TMPDIR may), /proc/<this process>/fd/N of a descriptor kept open for
// the program's life. A program found there is started by that name.
std::string pathEntry(const std::string& folder);
// PATH with `folder` (as pathEntry gives it) before what PATH holds now.
std::string pathBefore(const std::string& folder);

// A private Xvfb server on a display number it picks itself (-displayfd), handed out
// only once its display answers; ended with the object (or with the test process).
// Tests that need a display make one themselves, so that no other test pays for it.
class Xvfb {
public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;
    // ":N", or "" when the server is absent or did not answer (the reason is in why()).
    const std::string& display() const { return myDisplay; }
    const std::string& why() const { return myWhy; }

private:
    int myPid = -1;
    std::string myDisplay, myWhy;
};

// Sets an environment variable (unsets it for null) for the life of the object, then
// restores what was there (TZ takes effect at once both times).
class EnvScope {
public:
    EnvScope(const char* name, const char* value);
    EnvScope(const char* name, const std::string& value) : EnvScope(name, value.c_str()) {}
    ~EnvScope();
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    std::string myName, myOld;
    bool myHad = false;
};

// Runs `body` with LC_CTYPE set to each of "C", "tr_TR.UTF-8" and "tr_TR.ISO-8859-9" in
// turn (traced by name), then sets it back: outside words must read alike in all three, though
// the C library pairs 'I' with no 'i' in UTF-8 and with 0xFD (a dotless i) in ISO-8859-9. The
// Turkish locales are compiled by localedef once per test program into a scratch folder,
// which LOCPATH names meanwhile. One that cannot be set is left out and the test skips at the
// end, saying why (a failure under CI=true).
void forEachCtype(const std::function<void()>& body);

// The printf conversions of a text in order, "%%" left out as text (flags, width and
// precision with digits or '*', the length modifiers, then the conversion letter).
std::vector<std::string> printfConversions(const std::string& text);

// Runs `body` with an ordinary user's rights, which permission bits bind: when this process
// is the superuser (as in CI), in a child that gives up its rights to "nobody" (65534)
// first, after handing it `paths` (chown, not recursive; their modes are the caller's to set,
// the umask being the runner's); in this process otherwise. Its result (1 true, 0 false), -1
// when the rights could not be given up (a user namespace that maps only the superuser: the
// test skips with kNoOrdinaryUser), -2 when the child crashed.
int asOrdinaryUser(const std::function<bool()>& body, const std::vector<std::string>& paths = {});
// The reason a test gives when the superuser cannot become uid 65534 (tests/ci_skips.txt).
extern const char* const kNoOrdinaryUser;

// The shared test data beside the checkout, not part of the repository: $QMX_SHARED_DATA,
// else ../shared/testdata. Under CI=true a test that skips saying it is absent fails while
// the folder is there (tests/ci_skips.txt's "shared" lines).
std::string sharedDataFolder();

// Deterministic pseudo-random bytes.
std::vector<unsigned char> randomBytes(size_t n, unsigned seed);

}  // namespace testutil
