// The one exception type of the program: a message, a code, and where it was thrown.
// Thrown by value only for faults (an index out of range, a translated signal).
#pragma once

class cException {
public:
    cException(const char* message, int code = 0, const char* file = nullptr, int line = 0);
    cException(const cException& other);
    cException& operator=(const cException& other);
    virtual ~cException();

    const char* message() const { return myMessage; }
    int code() const { return myCode; }
    const char* file() const { return myFile; }
    int line() const { return myLine; }

    // Turns SIGSEGV, SIGFPE and SIGBUS into a thrown cException ("Signal received")
    // on the faulting thread, and ignores SIGPIPE and SIGHUP.
    static void init();

private:
    char myMessage[256];
    int myCode;
    const char* myFile;  // a string literal (__FILE__) or null
    int myLine;
};

#define QMX_THROW(msg) throw cException((msg), 0, __FILE__, __LINE__)
