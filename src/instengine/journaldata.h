// What a journal of the files in flight says: its state, its file, folder and menu-entry
// lines in order, and the registration its commit leaves to do.
#pragma once

#include "base/buffers.h"
#include "base/strings.h"
#include "instengine/pkgregistry.h"

struct sJournal {
    bool committed = false;
    // 4 with a digest (every journal this build writes); 1 to 3 as read.
    int version = 4;
    // The file, folder and menu entry lines in order: kind(i) is 'R', 'N', 'O', 'M',
    // 'D', 'E', 'Q' or 'S'.
    long long count() const { return paths.count(); }
    char kind(long long i) const { return kinds[i]; }
    const char* path(long long i) const { return paths[i]; }
    // Version 3: the registration to finish. 0 none (versions 1 and 2), 'r' the record
    // replaces the package's, 'u' the package goes.
    char registration = 0;
    _guardchar<char> code;
    _guardchar<char> manager;  // the program the manager copy is made from ('r'; may be empty)
    sPkgRegistryRecord record;

    // A line at the end; `shared`: the path outlives the journal and is held without a
    // copy (a run's own journal names each of its files once more than its list does).
    bool add(char kind, const char* path, bool shared = false);

private:
    _typebuf<char> kinds;
    cTextList paths;
};
