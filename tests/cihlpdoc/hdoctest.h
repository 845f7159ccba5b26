// Helpers of the rich-document tests: a text dump of a loaded document in the format of
// the independent python reader, PNG files built with zlib directly, and compiling
// markup held in strings.
#pragma once

#include <string>
#include <vector>

#include "cihlpdoc/hdlparse.h"
#include "cihlpdoc/sidocloader.h"
#include "testutil.h"

namespace hdoctest {

// The loaded document as the python reader prints a compiled one.
std::string dump(cSiDocLoader& loader);
// The python reader's dump of a compiled file, or "" without python3.
bool havePython();
std::string pythonDump(const std::string& file);
std::string toolPath();

// A w x h RGBA PNG made with zlib itself.
// A PNG of the given rows (each starting with its filter byte), deflated at level 9.
std::vector<unsigned char> pngFromRows(unsigned w, unsigned h, unsigned char depth, unsigned char colourType,
                                       const std::vector<unsigned char>& rows);
std::vector<unsigned char> makePng(unsigned w, unsigned h, unsigned seed = 1);

struct Compiled {
    bool ok = false;
    cHDLParser::sErrInfo err;
    std::vector<unsigned char> bytes;
};

// Writes index and sources (name -> content) into dir and compiles dir/index.txt.
Compiled compileFiles(const testutil::TempDir& dir, const std::string& index,
                      const std::vector<std::pair<std::string, std::string> >& files);
// One English source.
Compiled compileSource(const testutil::TempDir& dir, const std::string& source);

std::vector<std::string> lines(const std::string& text);

}  // namespace hdoctest
