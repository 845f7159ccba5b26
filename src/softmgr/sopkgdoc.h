// cSoftPkgDoc: one compiled rich document of a package (welcome, readme or licence):
// its compiled bytes and the loader that turns them into per-language box trees.
#pragma once

#include "base/buffers.h"

class cSiDocLoader;
class cSiDocContainer;

class cSoftPkgDoc {
public:
    cSoftPkgDoc() {}
    ~cSoftPkgDoc() { clear(); }
    cSoftPkgDoc(const cSoftPkgDoc&) = delete;
    cSoftPkgDoc& operator=(const cSoftPkgDoc&) = delete;

    // Takes over the compiled bytes and loads them; false (and empty) when refused.
    bool take(_typebuf<unsigned char>& compiled);
    bool empty() const { return bytes.count == 0; }
    bool hasLang(int lang);
    // The root of that language's tree, or null.
    cSiDocContainer* forLang(int lang);
    void clear();

    // Compiles the markup document named by an index file into its compiled bytes
    // (a document that will not load is caught by take).
    static bool compileDocument(const char* indexPath, _typebuf<unsigned char>& out);

    _typebuf<unsigned char> bytes;

private:
    cSiDocLoader* myLoader = nullptr;
    unsigned int myLangs = 0;  // bit per language present
};
