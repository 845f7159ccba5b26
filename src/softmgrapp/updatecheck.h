// The update check: the query to the update server for one package, the parse of its
// answer (version, download address, web site, what's new) and the "update" verb.
#pragma once

#include "base/buffers.h"
#include "base/memio.h"
#include "nethttp/httpresponse.h"

class cApplicationConfig;
class cJob;
class cWindowMaker;

// The update server's query address, up to and including "softwareid=": the built-in
// server, or the one QMX_UPDATE_SERVER names ("host:port" or an "http://" base).
extern const char* __check_updates_url;
// The built-in server's base address.
extern const char kUpdateServerBase[];
// Re-reads QMX_UPDATE_SERVER (start-up and tests); false when it is set but unusable
// (then the built-in server stays).
bool initUpdateServer();

// "%d.%d.%d.%d" without the zero parts at the end (the revision, then the build).
void strVer(unsigned long long version, _guardchar<char>& out);

// Percent-encodes every byte but A-Z, a-z, 0-9 and "-._~" (RFC 3986 unreserved).
bool percentEncode(const char* text, _guardchar<char>& out);

// The address asked for one code name: the query address, the encoded code name, "&os=mac".
bool updateQueryAddress(const char* code, _guardchar<char>& out);

// The longest a whole check of one package may take, however the server drips its answer
// (30 s; tests shorten it).
extern int gUpdateCheckLimitMs;

// The collected answer: only status 200 with a Content-Length of 1 to 65536.
class cPlainDataReader : public cHttpResponse {
public:
    cPlainDataReader() : data(0x10000) {}
    bool onHeaderDone() override;
    bool onData(const void* bytes, long long length, unsigned long long offset) override;
    bool abortRequested() override;
    cMemIOTarget data;
    const cJob* owner = nullptr;       // the request ends at once when it is asked to stop
    unsigned long long deadlineUs = 0;  // ticks_us() at which the request ends (0: none)
};

// Parses an answer body. Line 1 (to the first carriage return) holds the version, two
// to four dot-separated numbers of 0-65535, read within that line only; lines 2 and 3
// must be free of control characters and line 2 must be an "http://" address; the rest
// is the what's-new text (left unchanged when there is none), kept whole with every
// control character but carriage return and line feed replaced (a tab by a blank, the
// others by U+FFFD), so a NUL byte cannot cut it short.
bool parseUpdateAnswer(const unsigned char* body, long long length, unsigned long long& version,
                       _guardchar<char>& download, _guardchar<char>& site, _guardchar<char>& whatsNew);

// Asks the update server about one package; true when it answered well-formed lines
// within gUpdateCheckLimitMs. A job running the check may pass itself: its stop request
// ends the query at once.
bool checkVersion(const char* code, unsigned long long& version, _guardchar<char>& download, _guardchar<char>& site,
                  _guardchar<char>& whatsNew, const cJob* owner = nullptr);

// The "update" verb: 0 or 1, with the package's record in `store` (none: not installed);
// the window maker is the application's when null.
// The check runs as a job; unless quiet, a progress form with Stop appears when it takes
// longer than a second (stopping it ends the verb with 1 and no message).
int check_updates(const char* code, bool quiet, cApplicationConfig* store = nullptr, cWindowMaker* maker = nullptr);
