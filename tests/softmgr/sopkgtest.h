// Shared helpers of the package engine tests: files, compiled documents, the canonical
// dump of a scenario (the same text the python reader prints) and the python oracle.
#pragma once

#include <string>
#include <vector>

#include "softmgr/softpkgscenario.h"

namespace sopkgtest {

std::string oracle();  // path of sopkg_oracle.py
bool havePython();
std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& text);
std::vector<unsigned char> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<unsigned char>& d);

// Writes an index file and one source per language code ("ENG", ...) into dir and
// returns the index path; `extra` goes into every source (for example an img tag).
std::string makeDocSource(const std::string& dir, const std::string& name, const std::vector<std::string>& langs,
                          const std::string& extra = "");

// The canonical dump of a loaded scenario, line for line as the python reader prints it.
std::string dump(cSoftPkgScenario& s);

// Saves the scenario to a file and loads it back into `back`.
bool saveLoad(cSoftPkgScenario& s, const std::string& path, cSoftPkgScenario& back);

}  // namespace sopkgtest
