// cHDLParser: the rich-document compiler. Reads an index file naming one markup source
// per UI language and writes one compiled document ("QMXHDOCF") to a stream.
#pragma once

#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/fileiotarget.h"
#include "base/memio.h"
#include "base/stringkey.h"
#include "cihlpdoc/sidocloader.h"

// An entry of a shared table: where it starts in the table and its id.
struct sHDLExtObj {
    unsigned long long offset = 0;
    unsigned short id = 0;
};

// The box stream of one language being compiled.
struct sHDLLangStreamCtx {
    unsigned long long written = 0;
    cMemIOTarget stream{65536};
};

// State of one compilation, shared by all languages.
struct sHDLConfig {
    cFasterTreeList<int, sHDLLangStreamCtx> langs{512};
    unsigned long long imagesWritten = 0;
    cMemIOTarget images{65536};
    unsigned long long stringsWritten = 0;
    cMemIOTarget strings{65536};
    unsigned long long fontsWritten = 0;
    cMemIOTarget fonts{65536};
    cFasterTreeList<cStringKey, sHDLExtObj> knownPictures{2048};
    cFasterTreeList<unsigned long long, sHDLExtObj> knownFonts{1024};
    cFasterTreeList<cStringKey, sHDLExtObj> knownStrings{2048};
    unsigned int nextString = 0;
    unsigned int nextImage = 0;
    unsigned int errLine = 0;
    unsigned int errColumn = 0;
    _guardchar<char> errMessage;
    _guardchar<char> sourceFolder;
    int currLang = -1;
};

// Where the compiler is in one source.
struct sHDLParsePtr {
    char* pos = nullptr;
    unsigned int line = 0;
    unsigned int column = 0;
    sHDLLangStreamCtx* out = nullptr;
    sHDLConfig* cfg = nullptr;
    int depth = 0;  // open tags
};

// Properties in effect at one nesting level; each level works on its own copy.
struct sCurrProps {
    unsigned int fontHeight = 13;
    unsigned int fontWidth = 5;
    unsigned int face = 0;
    unsigned char italic = 0;
    unsigned char underline = 0;
    unsigned char bold = 0;
    unsigned int linkRef = 0xFFFFFFFF;
};

class cHDLParser {
public:
    struct sErrInfo {
        unsigned int line = 0;
        unsigned int column = 0;
        _guardchar<char> file;
        _guardchar<char> message;
        void clear() {
            line = column = 0;
            file.clear();
            message.clear();
        }
    };

    cHDLParser() {}
    cHDLParser(const cHDLParser&) = delete;
    cHDLParser& operator=(const cHDLParser&) = delete;

    // Compiles the document named by the index file into the target at its position.
    // False with err filled on the first error; the target may then hold a partial document.
    bool parse(const char* indexPath, cFileIOTarget* target, sErrInfo& err);
    // Index text -> language id -> source path ("" leaves the language out).
    bool parseIndexFile(const char* text, cFasterTreeList<int, _guardchar<char> >& out, sErrInfo& err);
    // Reads a whole text file (UTF-8, UTF-8 with BOM, or UTF-16LE with BOM) as UTF-8.
    static bool getFileContents(cFileIOTarget* file, _guardchar<char>& out);
    void langSearchInit();

    // One source (top level) and one nesting level; errors go to the config.
    static bool processHDL(sHDLConfig& cfg, char* text);
    static bool processSection(sCurrProps& props, sHDLParsePtr& ptr, cSiDocLoader::eKnownTags openTag,
                               unsigned int textColor);

    // The next word or tag; false at the end of the text or, with the config's error set,
    // on a tag that never closes.
    static bool getNextToken(sHDLParsePtr& ptr, _guardchar<char>& token);
    // The tag at the text after "<" or "</": id (-1 unknown) and the start of its
    // attribute text, null for an invalid tag.
    static char* getTagID(char* afterBracket, int& id);
    // name = value pairs up to ">"; names lower-cased, the later of two equal names wins.
    static bool extToProps(char* attributes, cFasterTreeList<cStringKey, _guardchar<char> >& out);
    // A font definition ("face[,height[,width[,styles]]]") applied to props; the font id,
    // or -1 with the error set.
    static int getCreateFont(sHDLParsePtr& ptr, char* value, sCurrProps& props);
    // The font of a word: 65535 unless a style is in effect; -1 when the table is full.
    static int getFontIDForText(sCurrProps& props, sHDLConfig& cfg);

private:
    cFasterTreeList<cStringKey, int> myLangs{512};
};
