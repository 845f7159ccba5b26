// The program's version ID and the query of another copy's version.
#include "instengine/version.h"

#include <csignal>
#include <cstdio>

#include "base/folders.h"
#include "base/job.h"
#include "base/process.h"
#include "base/strings.h"
#include "base/timeutil.h"

const char* const kSoftMgrVersion = "1.2.1";

unsigned long long makeVerID(const char* text) {
    if (!text) return kUnknownVerID;
    unsigned long long id = 0;
    int parts = 0;
    const char* p = text;
    while (parts < 4) {
        if (*p < '0' || *p > '9') break;
        unsigned long long v = 0;
        while (*p >= '0' && *p <= '9') {
            v = v * 10 + (unsigned)(*p - '0');
            if (v > 0xFFFF) return kUnknownVerID;
            p++;
        }
        id |= v << (48 - 16 * parts);
        parts++;
        if (*p != '.') break;
        p++;
    }
    return parts ? id : kUnknownVerID;
}

unsigned long long getCurrVerID() { return makeVerID(kSoftMgrVersion); }

int printverinfo() {
    unsigned long long id = getCurrVerID();
    if (id == kUnknownVerID) return 1;
    printf("%016llX\n", id);
    fflush(stdout);
    return 0;
}

unsigned long long parseVerIDLine(const char* line, long long length) {
    if (!line || length < 16) return kUnknownVerID;
    unsigned long long v = 0;
    for (int i = 0; i < 8; i++) {
        int b = getHexb(line + 2 * i);
        if (b < 0) return kUnknownVerID;
        v = (v << 8) | (unsigned)b;
    }
    return v;
}

unsigned long long getVerID(const char* path, int timeoutMs) {
    if (!path || cFolderContents::objtype(path) != cFolderContents::eFile) return kUnknownVerID;
    const char* argv[] = {path, "version", nullptr};
    cConProcess child;
    if (!child.startProcess(argv)) return kUnknownVerID;
    // The copy has nothing to read; an open input must not keep it waiting.
    child.closeInput();
    if (timeoutMs < 0) timeoutMs = 0;
    unsigned int start = ticks_ms();
    // One line of at most 99 characters.
    char line[100];
    long long have = 0;
    while (have < 99) {
        unsigned int spent = ticks_ms() - start;
        if (spent >= (unsigned int)timeoutMs || !child.outputReady(timeoutMs - (int)spent)) break;
        long long got = child.read(line + have, 99 - have);
        if (got <= 0) break;
        long long end = have + got;
        bool eol = false;
        for (long long i = have; i < end; i++) {
            if (line[i] == '\n') {
                end = i;
                eol = true;
                break;
            }
        }
        have = end;
        if (eol) break;
    }
    line[have] = 0;
    // A copy that is still running when its time is up is killed, and reaped either way,
    // so the caller never waits on it again.
    while (child.isValid() && ticks_ms() - start < (unsigned int)timeoutMs) cJob::sleep(5);
    if (child.isValid()) {
        child.kill(SIGKILL);
        child.wait();
    }
    return parseVerIDLine(line, have);
}
