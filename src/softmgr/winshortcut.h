// The Windows shell link (.lnk) writer, for packages built here and installed on Windows:
// the Shell Link Binary File Format's header, target ID list, LinkInfo and StringData.
#pragma once

// Writes a shell link at `path` to `target`, a path that begins with a drive letter and
// ":" ("C:\Tools\tool.exe"; "/" and "\" both separate its parts). The target must exist
// as a file or folder, a given working folder as a folder and a given icon file as a
// file; they are looked up as written, "\" read as "/" (here "C:/x" names the entry "x"
// of a folder "C:" in the working folder). `workDir`, `iconFile`, `description` and
// `arguments` are optional (null or empty: not written); texts are UTF-8. The link is
// written beside `path` and renamed into place. False, with nothing written, when a check
// fails, the ID list would reach 65,536 bytes or a text 65,536 UTF-16 units.
bool createWinShortcut(const char* path, const char* target, const char* workDir, const char* iconFile,
                       int iconIndex, const char* description, bool runAsAdmin, const char* arguments);
