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

// Box records byte by byte (no background, margins 0, automatic size): a word, a link
// word when sid is not -1, and a container; kEnd closes a container or the stream.
std::string wordRecord(const std::string& word, unsigned brk, unsigned colour, unsigned font, int sid = -1);
std::string boxRecord(unsigned brk, unsigned colour, unsigned font, unsigned align);
const std::string kEnd = "\xff";
// The inflated box stream of the document's first language; "" when it cannot be read.
std::string firstStream(const std::vector<unsigned char>& doc);
// A document of one English box stream and no tables.
std::vector<unsigned char> documentOf(const std::string& stream);

// Spacing the format cannot hold: words joined by a tag, blanks beside an inline
// container, words after a block container. All words link to "w", so drawing reports
// where each one went.
const std::string kFlowMarkup =
    "<link ref=w>Export<b>-Dialog</b> from our <text br=0>support</text> docs<text>Thank you!</text> for reading</link>";

}  // namespace hdoctest
