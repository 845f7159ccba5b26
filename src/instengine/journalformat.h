// The journal's text: how a journal is written beside its place and renamed there, and
// read back whole and checked against its digest before anything it says is believed.
//
// "<store folder>/inflight-<code>", saved as "inflight-<code>~new" and renamed into place
// (its data and folder flushed): the line "QMXINFLIGHT 4" (versions 1 and 2, without
// folder, menu entry and registration lines, and 3, without the digest, are still read),
// the line "state pending" or "state committed", then lines "<kind> <path>": "R" a file
// that existed and is (to be) moved to "<path>.bkp", "N" a new file, "M" a folder that did
// not exist and is (to be) made, "D" a folder below which emptied folders go, "E" a menu
// entry written as "<path>.tmp" before the commit and moved into place after it, "O" a
// file of the earlier version that the new one no longer has, "Q" a menu entry that goes,
// "S" a folder made for the menu entries (like "M", but the desktop's once committed);
// then the registration: "code <code>", "register" (the record below replaces the
// package's) or "unregister" (the package's files, folders, entries and record go),
// "manager <program>" (the Software Manager copy is refreshed from it), "rec <field>
// <value>" the record's fields (values escaped: a backslash and two hex digits stand for
// a control character or a backslash); then "end <count>" (the number of lines between),
// and last "sha256 <64 hex digits>", the SHA-256 of every byte before that line: a
// journal whose digest does not match is refused like a cut one, before anything is done.
#pragma once

#include "instengine/installfs.h"
#include "instengine/journaldata.h"

// A journal's name in its folder is this and the package's code name.
const char kJournalPrefix[] = "inflight-";
// A journal is saved beside its place under this suffix, which no code name can end in.
const char kJournalSaving[] = "~new";

// What saving a journal did.
enum eJournalSave {
    eJournalNotSaved = 0,         // not put in place: an earlier journal stands
    eJournalSaved = 1,            // in place and flushed
    eJournalSavedNotFlushed = 2,  // in place, but its folder could not be flushed
};

// Saves a journal beside its place and renames it there.
eJournalSave saveJournal(const char* path, const sJournal& journal, bool committed, cInstallFS* fs = nullptr);

// What reading a journal found.
enum eJournalRead {
    eJournalReadWhole = 0,   // read whole and of the exact form: `out` holds it
    // Could not be opened or read, or held for want of memory (`error`: the system's errno).
    eJournalUnreadable = 1,
    eJournalDamaged = 2,     // read whole, and its form or its digest is wrong
};

// Reads and parses the journal at `path`.
eJournalRead readJournal(const char* path, sJournal& out, int* error = nullptr);

// Parses a journal's text without touching any file: its state and number of file,
// folder and menu entry lines. False for anything but the exact form.
bool parseJournalText(const char* data, long long size, bool& committed, long long& entries);
