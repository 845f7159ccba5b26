// Glue between the package and the document compiler and loader.
#include "softmgr/sopkgdoc.h"

#include "base/memio.h"
#include "cihlpdoc/hdlparse.h"
#include "cihlpdoc/sidocloader.h"

void cSoftPkgDoc::clear() {
    delete myLoader;
    myLoader = nullptr;
    myLangs = 0;
    bytes.clear();
}

bool cSoftPkgDoc::take(_typebuf<unsigned char>& compiled) {
    clear();
    if (compiled.count <= 0) return false;
    bytes.swap(compiled);
    myLoader = new (std::nothrow) cSiDocLoader();
    bool ok = myLoader && myLoader->load(bytes.ptr, bytes.count);
    for (int l = 0; ok && l <= 10; l++)
        if (myLoader->forLang(l)) myLangs |= 1u << l;
    if (!ok || !myLangs) {
        clear();
        return false;
    }
    return true;
}

bool cSoftPkgDoc::hasLang(int lang) { return lang >= 0 && lang <= 10 && (myLangs & (1u << lang)); }

cSiDocContainer* cSoftPkgDoc::forLang(int lang) { return myLoader ? myLoader->forLang(lang) : nullptr; }

bool cSoftPkgDoc::compileDocument(const char* indexPath, _typebuf<unsigned char>& out) {
    out.clear();
    if (!indexPath) return false;
    cMemIOTarget mem(65536);
    cHDLParser parser;
    cHDLParser::sErrInfo err;
    if (!parser.parse(indexPath, &mem, err) || mem.size() == 0) return false;
    return mem.toBuffer(out) && out.count > 0;
}
