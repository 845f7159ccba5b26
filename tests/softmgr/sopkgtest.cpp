// Shared helpers of the package engine tests.
#include "sopkgtest.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/fileio.h"
#include "hash/sha256.h"
#include "testutil.h"

namespace sopkgtest {

std::string oracle() { return std::string(QMX_TESTS_DIR) + "/softmgr/sopkg_oracle.py"; }

bool havePython() { return testutil::haveTool("python3"); }

std::string readText(const std::string& path) {
    std::vector<unsigned char> d = testutil::readFile(path);
    return std::string(d.begin(), d.end());
}

void writeText(const std::string& path, const std::string& text) { testutil::writeFile(path, text.data(), text.size()); }

std::vector<unsigned char> readBytes(const std::string& path) { return testutil::readFile(path); }

void writeBytes(const std::string& path, const std::vector<unsigned char>& d) { testutil::writeFile(path, d); }

std::string makeDocSource(const std::string& dir, const std::string& name, const std::vector<std::string>& langs,
                          const std::string& extra) {
    std::string index;
    for (const std::string& l : langs) {
        std::string src = name + "_" + l + ".txt";
        writeText(dir + "/" + src, "<text>" + name + " " + l + " text " + extra + "</text>\n");
        index += l + " = \"./" + src + "\"\n";
    }
    std::string ip = dir + "/" + name + ".idx";
    writeText(ip, index);
    return ip;
}

namespace {

std::string hex(const char* p, long long n) {
    if (!p || n <= 0) return "-";
    static const char* k = "0123456789abcdef";
    std::string s;
    for (long long i = 0; i < n; i++) {
        unsigned char c = (unsigned char)p[i];
        s += k[c >> 4];
        s += k[c & 15];
    }
    return s;
}
std::string hs(const char* p) { return p ? hex(p, (long long)strlen(p)) : "-"; }
std::string hk(const cStringKey& k) {
    _typebuf<char> b;
    k.utf8(b);
    return hex(b.ptr, k.length());
}

}  // namespace

std::string dump(cSoftPkgScenario& s) {
    std::ostringstream o;
    o << "version " << s.version[0] << " " << s.version[1] << " " << s.version[2] << " " << s.version[3] << "\n";
    o << "url " << hs(s.supportURL()) << "\nurl " << hs(s.publisherURL()) << "\nurl " << hs(s.updatesURL())
      << "\nurl " << hs(s.manualURL()) << "\n";
    for (auto* e = s.strings.first(); e; e = s.strings.next(e))
        o << "str " << hk(e->key()) << " " << hs(e->value().ptr) << "\n";
    for (auto* l = s.langStrings.first(); l; l = s.langStrings.next(l))
        for (auto* e = l->value().first(); e; e = l->value().next(e))
            o << "lstr " << l->key() << " " << hk(e->key()) << " " << hs(e->value().ptr) << "\n";
    o << "icon " << hs(s.icon().id.ptr) << " " << hs(s.icon().path.ptr) << "\n";
    for (auto* m = s.menu.head; m; m = m->next) {
        auto& v = m->value;
        o << "menu " << hs(v.name.ptr) << " " << hs(v.target.id.ptr) << " " << hs(v.target.path.ptr) << " "
          << hs(v.args.ptr) << " " << hs(v.icon.id.ptr) << " " << hs(v.icon.path.ptr) << " " << hs(v.comment.ptr)
          << " " << (int)v.flags << "\n";
    }
    for (auto* f = s.files.head; f; f = f->next) {
        auto& v = f->value;
        o << "file " << v.item << " " << (int)v.owner << (int)v.group << (int)v.others << " " << (int)v.x32 << " "
          << (int)v.x64 << " " << hs(v.target.id) << " " << hs(v.target.path) << " ";
        std::string langs;
        for (int l = 0; l < v.langs.count(); l++) langs += (langs.empty() ? "" : ",") + std::to_string(v.langs[l]);
        o << (langs.empty() ? "*" : langs) << "\n";
    }
    for (auto* r = s.onCompletion.head; r; r = r->next) {
        auto& v = r->value;
        o << "run " << (int)v.checked << " " << hs(v.name.ptr) << " " << hs(v.target.id.ptr) << " "
          << hs(v.target.path.ptr) << " " << hs(v.args.ptr) << "\n";
    }
    _List<cSoftPkgScenario::sDefineParam> params;
    s.getParams(params);
    for (auto* p = params.head; p; p = p->next)
        o << "param " << hs(p->value.name.ptr) << " " << hex((const char*)p->value.data.ptr, p->value.data.count)
          << "\n";
    for (auto* d = s.deprecates.head; d; d = d->next)
        o << "dep " << hs(d->value.codename.ptr) << " " << d->value.version << "\n";
    cSoftPkgDoc* docs[3] = {&s.welcomeDoc(), &s.readmeDoc(), &s.eulaDoc()};
    for (int i = 0; i < 3; i++) {
        if (docs[i]->empty()) continue;
        unsigned char sum[32];
        SHA2Hash(docs[i]->bytes.ptr, sum, (size_t)docs[i]->bytes.count);
        o << "doc " << 9 + i << " " << hex((const char*)sum, 32) << "\n";
    }
    o << "accept " << (int)s.readme_needs_accept() << "\n";
    for (unsigned int i = 0; i < s.payload().count(); i++) {
        const cSoftPkg::sPkgItem* it = s.payload().itemAt((int)i);
        o << "item " << it->unpackedSize << " " << it->stored << " " << hex((const char*)it->digest, 32) << "\n";
    }
    return o.str();
}

bool saveLoad(cSoftPkgScenario& s, const std::string& path, cSoftPkgScenario& back) {
    {
        cFileIO f;
        if (!f.create(path.c_str()) || !s.saveBinConfig(&f)) return false;
    }
    cFileIO f;
    return f.open(path.c_str()) && back.loadBinConfig(&f);
}

}  // namespace sopkgtest
