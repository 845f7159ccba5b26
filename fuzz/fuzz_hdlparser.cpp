// libFuzzer target: the markup compiler on an arbitrary source text. Whatever compiles
// is wrapped into a document that the loader must accept.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/memio.h"
#include "cihlpdoc/hdlparse.h"
#include "compression/zlibstreams.h"

namespace {

bool putTable(cMemIOTarget& doc, cMemIOTarget& table, bool deflate) {
    _typebuf<unsigned char> plain, packed;
    if (table.size() && !table.toBuffer(plain)) return false;
    if (plain.count && deflate && !cZDeflate::compress(plain.ptr, plain.count, packed, 1)) return false;
    _typebuf<unsigned char>& out = deflate ? packed : plain;
    unsigned int n = (unsigned int)out.count;
    unsigned char b[4] = {(unsigned char)n, (unsigned char)(n >> 8), (unsigned char)(n >> 16), (unsigned char)(n >> 24)};
    return doc.writef(b, 4) && (!n || doc.writef(out.ptr, out.count));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    _guardchar<char> text;
    if (!text.set((const char*)data, (long long)size)) return 0;
    sHDLConfig cfg;
    cfg.currLang = 0;
    if (!cHDLParser::processHDL(cfg, text.ptr)) return 0;
    cMemIOTarget doc;
    unsigned char lang = 0, end = 0xFF;
    doc.writef(kSiDocMagic, 8);
    doc.writef(&lang, 1);
    if (!putTable(doc, cfg.langs.find(0)->stream, true) || !doc.writef(&end, 1) || !putTable(doc, cfg.fonts, true) ||
        !putTable(doc, cfg.strings, true) || !putTable(doc, cfg.images, false))
        return 0;
    _typebuf<unsigned char> bytes;
    doc.toBuffer(bytes);
    cSiDocLoader loader;
    if (!loader.load(bytes.ptr, bytes.count)) abort();
    return 0;
}
