// The package engine's calls into the system: menu shortcuts (desktop entries here),
// registration with the system's package registry (none on this platform), the Software
// Manager's place and name, and the background update check it starts.
#pragma once

#include "base/buffers.h"
#include "base/job.h"

class cApplicationConfig;
class cSoftPkgScenario;

// The Software Manager's name by index (0 the default, 1 Japanese, 2 Korean), or null.
const char* softmgrName(int index);
// "$HOME/Applications/<name>.app/Contents/MacOS/SoftManager": one place, whatever the UI
// language, so every installation refreshes the same copy. False without a home folder.
bool getAppManagerPath(_guardchar<char>& out);
// The folder desktop entries go to: "$XDG_DATA_HOME/applications" when that variable
// holds an absolute path, else "$HOME/.local/share/applications".
bool desktopEntryFolder(_guardchar<char>& out);
// The file extension of shortcuts (without the dot).
const char* shortcutExtension();

// Creates a menu shortcut: a desktop entry "<prefix>-<name>.desktop" (both made safe
// for a file name) in desktopEntryFolder, replacing one of that name. `prefix` keeps
// packages apart (their code name). Elevated entries start through pkexec when it is
// installed. `arguments` is a command line (blanks separate words, double quotes group
// them). True with `outPath` set to the entry; false (outPath untouched when nothing
// was created) when a required text is missing or the entry cannot be written.
bool createSysShortcut(_guardchar<char>& outPath, const char* name, const char* categories, const char* executable,
                       const char* icon, const char* comment, bool elevated, const char* arguments,
                       const char* prefix = "qmx");
// The path createSysShortcut gives the entry of `name` and `prefix`, nothing written.
bool sysShortcutPath(_guardchar<char>& out, const char* name, const char* prefix = "qmx");
// What every entry of `prefix` begins with: "<desktopEntryFolder>/<prefix>-" (the prefix
// made safe for a file name, as createSysShortcut makes it).
bool sysShortcutPrefix(_guardchar<char>& out, const char* prefix);
// The text createSysShortcut writes for an entry (the launcher chosen as it does), for a
// caller that writes and moves the file itself.
bool sysShortcutText(_guardchar<char>& out, const char* name, const char* categories, const char* executable,
                     const char* icon, const char* comment, bool elevated, const char* arguments);
// The text of a desktop entry (see createLinShortcut).
bool desktopEntryText(_guardchar<char>& out, const char* executable, const char* categories, const char* name,
                      const char* icon, const char* comment, const char* launcher, const char* arguments);
// Writes a desktop entry at `path` (the freedesktop desktop-entry format 1.0: values escaped,
// Exec quoted word by word). `launcher` is put before the executable when given.
bool createLinShortcut(const char* path, const char* executable, const char* categories, const char* name,
                       const char* icon, const char* comment, const char* launcher, const char* arguments);
// The Exec value for a program, its launcher (or null) and a command line of arguments.
bool desktopExecValue(const char* launcher, const char* executable, const char* arguments, _guardchar<char>& out);

// Registration with the system's package registry: this platform has none, so
// registering and deregistering succeed without doing anything and the query answers
// version 0.0.0.0 with no command.
bool OSRegisterPackage(const char* managerPath, cSoftPkgScenario& scenario, bool perUser);
bool OSDeregisterPackage(const char* codename, bool perUser);
bool OSGetRegistedVersion(const char* codename, int version[4], _guardchar<char>* command, _guardchar<char>* name,
                          bool perUser);

// Starts the Software Manager in the background as "<manager> update <code> quite|normal".
class cStartCheckUpdatesJob : public cJob {
public:
    ~cStartCheckUpdatesJob() override { terminate(4000); }
    // The program and its arguments (the program first).
    bool setCommand(const char* program, const char* code, bool quiet);
    // The argument vector, for tests.
    const char* arg(int i) const { return i >= 0 && i < 4 ? myArgs[i].ptr : nullptr; }

protected:
    unsigned int job() override;

private:
    _guardchar<char> myArgs[4];
};

// The day number (year * 12 + month) * 31 + day of a local date (month 1-12, day 1-31).
unsigned int updateDayNumber(int year, int month, int day);
// Starts the background check of a package at most once a day (key "updates/<code>" of
// the caller's store; without a store, every call starts one). True when a check was
// started or was already made today.
bool autoCheckUpdates(const char* codename, bool quiet, cApplicationConfig* store);
// The process-wide job, for tests.
cStartCheckUpdatesJob& updateCheckJob();
