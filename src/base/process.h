// Child processes: opening paths and addresses on the desktop, running commands,
// and a child with its standard streams on pipes. No text reaches a shell. Every child
// starts a session of its own (no controlling terminal) and, unless given a pipe, reads
// its standard input from /dev/null.
#pragma once

#include <sys/types.h>

#include "base/buffers.h"

// Opens a text on the desktop. An existing path (a dangling link included) or an
// "http://" or "https://" address goes to `xdg-open` as its one argument (a path starting
// with "-" as "./-..."); any other address ("<scheme>:...") is refused; anything else is a
// command line, split into words (splitCommandLine) and started detached without a
// shell. False for a null or empty text, a refused address, or when nothing could be
// executed.
bool shellOpen(const char* text);


// Starts a program with its argument vector (argv[0] the program, looked up in PATH;
// null-terminated) and does not wait for it: the child is re-parented, never a zombie of
// ours; no shell. True when the program was executed.
bool startDetached(const char* const* argv);

// Runs a program and waits for it. The command-line form splits the line on blanks
// honouring double quotes (splitCommandLine), without a shell. The result is the
// wait status (0 for a normal exit with code 0), or -1 when nothing could be started;
// a program that cannot be executed exits with 127.
int execCmd(const char* commandLine);
int execCmd(const char* const* argv);

// Splits a command line into words: blanks (tab, line feed, carriage return, space)
// separate words, double quotes group blanks into a word and are dropped. `argv`
// receives count + 1 pointers into `storage`, the last one null. False when the line
// holds no word.
bool splitCommandLine(const char* line, _typebuf<char>& storage, _typebuf<char*>& argv);

// A child process whose standard input, output and error are pipes of this object.
// The pipes close and the child is reaped when the object is destroyed (a child that
// has not ended 2000 ms after its pipes closed is killed), so no zombie remains.
class cConProcess {
public:
    cConProcess();
    ~cConProcess();
    cConProcess(const cConProcess&) = delete;
    cConProcess& operator=(const cConProcess&) = delete;

    // Starts a child (a previous one is ended first, as by the destructor). The recorded
    // status is reset to 0. With `stderrToStdout` the error stream joins the output pipe.
    // False when the pipes or the process cannot be created; a program that cannot be
    // executed ends the child with status 127.
    bool startProcess(const char* commandLine, bool stderrToStdout = false);
    bool startProcess(const char* const* argv, bool stderrToStdout = false);
    // For callers that never read or write: the next start connects the child's three
    // streams to /dev/null, so a talkative child cannot block on a full pipe.
    void setDiscardOutput(bool discard) { myDiscard = discard; }

    // True while the child runs (does not block); once it has ended its wait status is
    // recorded, the process is forgotten and the result is false.
    bool isValid();
    // Waits for the child to end; the recorded wait status.
    int wait();
    // The recorded wait status: 0 for a normal exit with code 0; -1 when it was lost.
    int status() const { return myStatus; }
    pid_t pid() const { return myPid; }
    // Sends a signal to a running child.
    bool kill(int sig);

    // The child's output and errors: bytes read, 0 at the end, -1 on failure. Blocks.
    long long read(void* buffer, long long n);
    // Waits at most `ms` milliseconds until `read` would not block (output or its end
    // is there). False on time-out or without an output pipe.
    bool outputReady(int ms);
    long long readErr(void* buffer, long long n);
    // Writes to the child's input; the bytes written (all unless the child stopped
    // reading), -1 on failure. A closed reader gives -1, never SIGPIPE.
    long long write(const void* data, long long n);
    // Closes the child's input so that it sees the end of its input.
    void closeInput();

private:
    bool spawn(char* const* argv, bool stderrToStdout);
    void closePipes();
    void reap();

    pid_t myPid;
    int myStatus;
    int myIn;   // write end of the child's standard input
    int myOut;  // read end of its standard output
    int myErr;  // read end of its standard error
    bool myDiscard;
};
