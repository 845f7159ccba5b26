// Helpers of the rich-document tests.
#include "hdoctest.h"

#include <zlib.h>

#include <cstdio>

#include "base/memio.h"
#include "ciplatform/picture.h"

namespace hdoctest {

namespace {

std::string colour(unsigned v) {
    if (v == 0xFFFFFFFF) return "none";
    char b[16];
    snprintf(b, sizeof b, "%x", v);
    return b;
}
std::string sizeText(int v) { return v == -1 ? "auto" : std::to_string(v); }
std::string idText(unsigned v) { return v == 0xFFFFFFFF ? "none" : std::to_string(v); }

std::string common(cSiDocBox* b) {
    return "bg=" + colour(b->bgColor()) + " br=" + (b->isBreak() ? "1" : "0") + " m=" +
           std::to_string(b->leftMargin()) + "," + std::to_string(b->rightMargin()) + "," +
           std::to_string(b->topMargin()) + "," + std::to_string(b->bottomMargin()) + " w=" + sizeText(b->width()) +
           " h=" + sizeText(b->height());
}

std::string imageId(cSiDocLoader& loader, cPicture* p) {
    if (!p) return "none";
    for (int i = 0; i < loader.imageCount(); i++)
        if (loader.image(i) == p) return std::to_string(i);
    return "?";
}

void dumpBoxes(cSiDocLoader& loader, cSiDocContainer* c, int depth, std::string& out) {
    std::string ind(depth + 1, ' ');
    for (auto* it = c->children().head; it; it = it->next) {
        cSiDocBox* b = it->value.ptr;
        if (auto* l = dynamic_cast<cSiDocLink*>(b)) {
            out += ind + "link " + common(b) + " color=" + colour(l->color()) + " font=" + idText(l->fontId());
            if (l->ref()) out += " ref=\"" + std::string(l->ref()) + "\"";
            out += " \"" + std::string(l->text() ? l->text() : "") + "\"\n";
        } else if (auto* t = dynamic_cast<cSiDocText*>(b)) {
            out += ind + "text " + common(b) + " color=" + colour(t->color()) + " font=" + idText(t->fontId()) +
                   " \"" + std::string(t->text() ? t->text() : "") + "\"\n";
        } else if (auto* il = dynamic_cast<cSiDocImageLink*>(b)) {
            out += ind + "imagelink " + common(b) + " img=" + imageId(loader, il->image());
            if (il->ref()) out += " ref=\"" + std::string(il->ref()) + "\"";
            out += "\n";
        } else if (auto* im = dynamic_cast<cSiDocImage*>(b)) {
            out += ind + "image " + common(b) + " img=" + imageId(loader, im->image()) + "\n";
        } else if (auto* k = dynamic_cast<cSiDocContainer*>(b)) {
            out += ind + "box " + common(b) + " color=" + colour(k->color()) + " font=" + idText(k->fontId()) +
                   " align=" + std::to_string((int)k->align()) + "\n";
            dumpBoxes(loader, k, depth + 1, out);
        }
    }
}

}  // namespace

std::string dump(cSiDocLoader& loader) {
    std::string out;
    for (int lang = 0; lang <= 10; lang++) {
        cSiDocContainer* root = loader.forLang(lang);
        if (!root) continue;
        out += "lang " + std::to_string(lang) + "\n";
        dumpBoxes(loader, root, 0, out);
    }
    for (int i = 0; i < loader.fontCount(); i++) {
        const cSiDocLoader::sIntFontDef* f = loader.fontDef(i);
        out += "font " + std::to_string(i) + " face=" + std::to_string(f->face) + " w=" + std::to_string(f->width) +
               " h=" + std::to_string(f->height) + " b=" + (f->bold ? "1" : "0") + " i=" + (f->italic ? "1" : "0") +
               " u=" + (f->underline ? "1" : "0") + "\n";
    }
    for (int i = 0; i < loader.stringCount(); i++)
        out += "string " + std::to_string(i) + " \"" + std::string(loader.string(i)) + "\"\n";
    for (int i = 0; i < loader.imageCount(); i++)
        out += "image " + std::to_string(i) + " " + std::to_string(loader.image(i)->width()) + "x" +
               std::to_string(loader.image(i)->height()) + "\n";
    return out;
}

bool havePython() { return testutil::haveTool("python3"); }

std::string toolPath() { return std::string(QMX_TESTS_DIR) + "/cihlpdoc/hdoc_tool.py"; }

std::string pythonDump(const std::string& file) {
    std::string out;
    testutil::run({"python3", toolPath(), "dump", file}, &out);
    return out;
}

std::vector<unsigned char> pngFromRows(unsigned w, unsigned h, unsigned char depth, unsigned char colourType,
                                       const std::vector<unsigned char>& rows) {
    uLongf zn = compressBound((uLong)rows.size());
    std::vector<unsigned char> z(zn);
    compress2(z.data(), &zn, rows.data(), (uLong)rows.size(), 9);
    z.resize(zn);
    std::vector<unsigned char> out = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    auto be = [](std::vector<unsigned char>& v, unsigned x) {
        for (int s = 24; s >= 0; s -= 8) v.push_back((unsigned char)(x >> s));
    };
    auto chunk = [&](const char* kind, const std::vector<unsigned char>& body) {
        be(out, (unsigned)body.size());
        std::vector<unsigned char> kb(kind, kind + 4);
        kb.insert(kb.end(), body.begin(), body.end());
        out.insert(out.end(), kb.begin(), kb.end());
        be(out, (unsigned)crc32(0, kb.data(), (uInt)kb.size()));
    };
    std::vector<unsigned char> ihdr;
    be(ihdr, w);
    be(ihdr, h);
    ihdr.insert(ihdr.end(), {depth, colourType, 0, 0, 0});
    chunk("IHDR", ihdr);
    chunk("IDAT", z);
    chunk("IEND", {});
    return out;
}

std::vector<unsigned char> makePng(unsigned w, unsigned h, unsigned seed) {
    std::vector<unsigned char> raw;
    for (unsigned y = 0; y < h; y++) {
        raw.push_back(0);
        for (unsigned x = 0; x < w * 4; x++) raw.push_back((unsigned char)(x * 37 + y * 11 + seed));
    }
    return pngFromRows(w, h, 8, 6, raw);
}

Compiled compileFiles(const testutil::TempDir& dir, const std::string& index,
                      const std::vector<std::pair<std::string, std::string> >& files) {
    testutil::writeFile(dir.file("index.txt"), index.data(), index.size());
    for (auto& f : files) testutil::writeFile(dir.file(f.first), f.second.data(), f.second.size());
    Compiled c;
    cMemIOTarget target;
    cHDLParser parser;
    c.ok = parser.parse(dir.file("index.txt").c_str(), &target, c.err);
    _typebuf<unsigned char> bytes;
    target.toBuffer(bytes);
    c.bytes.assign(bytes.ptr, bytes.ptr + bytes.count);
    return c;
}

Compiled compileSource(const testutil::TempDir& dir, const std::string& source) {
    return compileFiles(dir, "ENG = \"./en.txt\"\n", {{"en.txt", source}});
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t p = 0;
    while (p < text.size()) {
        size_t e = text.find('\n', p);
        if (e == std::string::npos) e = text.size();
        out.push_back(text.substr(p, e - p));
        p = e + 1;
    }
    return out;
}

namespace {

std::string le(unsigned v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; i++) out += (char)(v >> (8 * i));
    return out;
}

std::string head(int type, unsigned brk) {
    return std::string(1, (char)type) + le(0xFFFFFFFF, 4) + (char)brk + std::string(8, '\0') + le(65535, 2) +
           le(65535, 2);
}

}  // namespace

std::string wordRecord(const std::string& word, unsigned brk, unsigned colour, unsigned font, int sid) {
    return head(sid < 0 ? 0 : 3, brk) + le(colour, 4) + le(font, 2) + le((unsigned)word.size(), 2) +
           (sid < 0 ? "" : le((unsigned)sid, 2)) + word;
}

std::string boxRecord(unsigned brk, unsigned colour, unsigned font, unsigned align) {
    return head(2, brk) + le(colour, 4) + le(font, 2) + (char)align;
}

std::string firstStream(const std::vector<unsigned char>& doc) {
    if (doc.size() < 13) return "";
    unsigned n = doc[9] | doc[10] << 8 | doc[11] << 16 | (unsigned)doc[12] << 24;
    if (n > doc.size() - 13) return "";
    std::string plain(1 << 20, '\0');
    uLongf size = (uLongf)plain.size();
    if (uncompress((Bytef*)&plain[0], &size, doc.data() + 13, n) != Z_OK) return "";
    plain.resize(size);
    return plain;
}

std::vector<unsigned char> documentOf(const std::string& stream) {
    uLongf zn = compressBound((uLong)stream.size());
    std::vector<unsigned char> z(zn);
    compress2(z.data(), &zn, (const Bytef*)stream.data(), (uLong)stream.size(), 5);
    std::string out = "QMXHDOCF" + std::string(1, '\0') + le((unsigned)zn, 4);
    out.append((const char*)z.data(), zn);
    out += "\xff" + std::string(12, '\0');
    return std::vector<unsigned char>(out.begin(), out.end());
}

}  // namespace hdoctest
