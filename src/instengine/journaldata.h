// What a journal of the files in flight says: its state, its file, folder and menu-entry
// lines in order, and the registration its commit leaves to do.
#pragma once

#include "base/buffers.h"
#include "base/strings.h"
#include "instengine/pkgregistry.h"

// The kinds of a journal's file, folder and menu-entry lines. Each is stored as its
// letter at the start of the line: journals of earlier builds are read with the same
// letters.
enum eJournalLine : char {
    eLineReplaced = 'R',     // a file that existed, (to be) moved to "<path>.bkp"
    eLineNew = 'N',          // a new file
    eLineObsolete = 'O',     // a file of the earlier version that the new one no longer has
    eLineMadeFolder = 'M',   // a folder that did not exist, (to be) made
    eLineRoot = 'D',         // a folder below which emptied folders go
    eLineEntry = 'E',        // a menu entry, written as "<path>.tmp" before the commit
    eLineGoneEntry = 'Q',    // a menu entry that goes
    eLineEntryFolder = 'S',  // a folder made for the menu entries (the desktop's once committed)
};

// Whether a line names a file ("R", "N", "O"), not a folder or a menu entry.
inline bool isFileLine(eJournalLine kind) {
    return kind == eLineReplaced || kind == eLineNew || kind == eLineObsolete;
}

// The registration a committed journal leaves to do (its "register" or "unregister"
// line; versions 1 and 2 have none).
enum eJournalRegistration : char {
    eNoRegistration = 0,
    eRegister = 'r',    // the record replaces the package's
    eUnregister = 'u',  // the package's files, folders, entries and record go
};

struct sJournal {
    bool committed = false;
    // 4 with a digest (every journal this build writes); 1 to 3 as read.
    int version = 4;
    // The file, folder and menu entry lines in order.
    long long count() const { return paths.count(); }
    eJournalLine kind(long long i) const { return kinds[i]; }
    const char* path(long long i) const { return paths[i]; }
    eJournalRegistration registration = eNoRegistration;
    _guardchar<char> code;
    _guardchar<char> manager;  // the program the manager copy is made from (eRegister; may be empty)
    sPkgRegistryRecord record;

    // A line at the end; `shared`: the path outlives the journal and is held without a
    // copy (a run's own journal names each of its files once more than its list does).
    bool add(eJournalLine kind, const char* path, bool shared = false);
    // Takes over the text the journal was read from, which its shared paths point into: a
    // journal read back is held once, not once as text and once more as lines.
    void holdText(_typebuf<char>& text) { myText.swap(text); }

private:
    _typebuf<eJournalLine> kinds;
    cTextList paths;
    _typebuf<char> myText;
};
