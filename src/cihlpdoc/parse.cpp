// The compiler's driver: text files, the index file, and writing the compiled document.
#include <cstring>

#include "base/byteorder.h"
#include "base/fileio.h"
#include "base/stdlangs.h"
#include "base/strings.h"
#include "cihlpdoc/hdlparse.h"
#include "compression/zlibstreams.h"

namespace {

bool isBlank(char c) { return c == 9 || c == 10 || c == 13 || c == 32; }
bool isLineBlank(char c) { return c == 9 || c == 13 || c == 32; }
// Skips white space, counting the line feeds it crosses.
void skipBlanks(const char*& p, unsigned int& line) {
    for (; isBlank(*p); p++)
        if (*p == '\n') line++;
}

bool indexFail(cHDLParser::sErrInfo& err, unsigned int line, const char* message) {
    err.line = line;
    err.column = 0;
    err.message.set(message);
    return false;
}

bool driverFail(cHDLParser::sErrInfo& err, const char* file, const char* message) {
    err.line = err.column = 0;
    err.file.set(file);
    err.message.set(message);
    return false;
}

// The folder of a path, up to and including its last "/"; empty without one.
void folderOf(const char* path, _guardchar<char>& out) {
    const char* slash = strrchr(path, '/');
    if (slash)
        out.set(path, slash - path + 1);
    else
        out.clear();
}

bool writeU32(cFileIOTarget* target, unsigned long long v) {
    if (v > 0xFFFFFFFFULL) return false;
    unsigned char b[4];
    putLe32(b, (unsigned int)v);
    return target->writef(b, 4);
}

// A table as its compressed size and zlib stream, or a size of 0 when empty.
bool writeDeflated(cFileIOTarget* target, cMemIOTarget& table) {
    if (table.size() == 0) return writeU32(target, 0);
    _typebuf<unsigned char> plain, packed;
    if (!table.toBuffer(plain) || !cZDeflate::compress(plain.ptr, plain.count, packed, 5)) return false;
    return writeU32(target, (unsigned long long)packed.count) && target->writef(packed.ptr, packed.count);
}

}  // namespace

bool cHDLParser::getFileContents(cFileIOTarget* file, _guardchar<char>& out) {
    out.clear();
    if (!file) return false;
    unsigned long long size = file->size();
    if (size > 0x400000 || size < 3) return false;
    _typebuf<unsigned char> data;
    if (!file->set_fp(0) || !data.set((long long)size) || !file->readf(data.ptr, data.count)) return false;
    const unsigned char* d = data.ptr;
    if (d[0] == 0xEF && d[1] == 0xBB && d[2] == 0xBF) return out.set((const char*)d + 3, data.count - 3);
    if (d[0] == 0xFF && d[1] == 0xFE) {
        long long units = (long long)(size / 2) - 1;
        _typebuf<unsigned short> wide;
        if (!wide.set(units + 1)) return false;
        for (long long i = 0; i < units; i++) wide.ptr[i] = (unsigned short)le16(d + 2 + 2 * i);
        wide.ptr[units] = 0;
        if (_w2pc(wide.ptr, units, out) < 0) return false;
        return out.ptr || out.set("");
    }
    return out.set((const char*)d, data.count);
}

void cHDLParser::langSearchInit() {
    myLangs.destroy();
    for (int i = 0; i <= 10; i++) *myLangs.insert(cStringKey(ciLangID(i))) = i;
}

bool cHDLParser::parseIndexFile(const char* text, cFasterTreeList<int, _guardchar<char> >& out, sErrInfo& err) {
    if (myLangs.empty()) langSearchInit();
    const char* p = text ? text : "";
    unsigned int line = 0;
    for (;;) {
        skipBlanks(p, line);
        if (!*p) return true;
        const char* code = p;
        while (*p && *p != '=' && !isBlank(*p)) p++;
        _guardchar<char> upper;
        if (!upper.set(code, p - code)) return indexFail(err, line, "invalid lang code");
        for (char* c = upper.ptr; *c; c++) *c = __acp_upper(*c);
        int* lang = myLangs.find(cStringKey(upper.ptr, p - code));
        if (!lang) return indexFail(err, line, "invalid lang code");
        skipBlanks(p, line);
        if (*p != '=') return indexFail(err, line, "expected EQ sign after lang code");
        p++;
        skipBlanks(p, line);
        if (*p != '"') return indexFail(err, line, "expected openning QUOTE sign after EQ");
        const char* path = ++p;
        while (*p && *p != '"' && *p != '\n') p++;
        if (*p != '"') return indexFail(err, line, "expected openning QUOTE sign after end of path");
        const char* pathEnd = p++;
        while (isLineBlank(*p)) p++;
        if (*p && *p != '\n') return indexFail(err, line, "not expected anything after file path");
        bool isNew;
        _guardchar<char>* slot = out.insert(*lang, isNew);
        if (!slot) return indexFail(err, line, "out of memory");
        if (!isNew) return indexFail(err, line, "lang already defined");
        slot->set(path, pathEnd - path);
    }
}

bool cHDLParser::parse(const char* indexPath, cFileIOTarget* target, sErrInfo& err) {
    err.clear();
    if (!target) return driverFail(err, nullptr, "bad target");
    const char* index = indexPath ? indexPath : "";
    _guardchar<char> text;
    {
        cFileIO f;
        if (!indexPath || !f.open(indexPath, cFileIO::eRead)) return driverFail(err, index, "Unable to open index");
        if (!getFileContents(&f, text)) return driverFail(err, index, "Unable to read idex");
    }
    langSearchInit();
    cFasterTreeList<int, _guardchar<char> > sources(512);
    if (!parseIndexFile(text.ptr, sources, err)) {
        err.file.set(index);
        return false;
    }
    if (target->write(kSiDocMagic, 8) != 8) return driverFail(err, nullptr, "Unable to write target");

    sHDLConfig cfg;
    _guardchar<char> indexFolder;
    folderOf(index, indexFolder);
    for (cFasterTreeList<int, _guardchar<char> >::sEntry* e = sources.first(); e; e = sources.next(e)) {
        const char* src = e->value().ptr;
        if (!src || !*src) continue;
        _guardchar<char> path;
        if (src[0] == '.' && src[1] == '/') {
            if (indexFolder.empty())
                return driverFail(err, index, "Path is specified as relative with no current folder");
            long long fl = indexFolder.length(), sl = (long long)strlen(src + 2);
            if (!path.set(fl + sl)) return driverFail(err, index, "Unable to open source file");
            memcpy(path.ptr, indexFolder.ptr, (size_t)fl);
            memcpy(path.ptr + fl, src + 2, (size_t)sl);
        } else {
            path.set(src);
        }
        _guardchar<char> source;
        {
            cFileIO f;
            if (!f.open(path.ptr, cFileIO::eRead)) return driverFail(err, path.ptr, "Unable to open source file");
            if (!getFileContents(&f, source)) return driverFail(err, path.ptr, "Unable to read source as text file");
        }
        folderOf(path.ptr, cfg.sourceFolder);
        cfg.currLang = e->key();
        if (!processHDL(cfg, source.ptr)) {
            err.line = cfg.errLine;
            err.column = cfg.errColumn;
            err.file.set(path.ptr);
            err.message.set(cfg.errMessage.empty() ? "out of memory" : cfg.errMessage.ptr);
            return false;
        }
        sHDLLangStreamCtx* ctx = cfg.langs.find(e->key());
        _typebuf<unsigned char> plain, packed;
        if (ctx->stream.size() > (unsigned long long)kSiDocMaxLangStream) {
            err.file.set(path.ptr);
            err.message.set("document too large");
            return false;
        }
        unsigned char lang = (unsigned char)e->key();
        if (!ctx->stream.toBuffer(plain) || !cZDeflate::compress(plain.ptr, plain.count, packed, 5) ||
            !target->writef(&lang, 1) || !writeU32(target, (unsigned long long)packed.count) ||
            !target->writef(packed.ptr, packed.count))
            return driverFail(err, nullptr, "Unable to write target");
        // The stream is not needed again; keep memory to one language at a time.
        ctx->stream.reset();
    }
    unsigned char end = 0xFF;
    if (!target->writef(&end, 1) || !writeDeflated(target, cfg.fonts) || !writeDeflated(target, cfg.strings))
        return driverFail(err, nullptr, "Unable to write target");
    if (cfg.images.size() == 0) {
        if (!writeU32(target, 0)) return driverFail(err, nullptr, "Unable to write target");
    } else {
        _typebuf<unsigned char> images;
        if (!cfg.images.toBuffer(images) || !writeU32(target, (unsigned long long)images.count) ||
            !target->writef(images.ptr, images.count))
            return driverFail(err, nullptr, "Unable to write target");
    }
    return true;
}
