// The scenario data file: "QMXSOPKG", format byte, unpacked and packed lengths, the
// SHA-256 of the body, then the body (tagged sections) as one zlib stream.
//
// Both sides stream the body: the writer hashes it and deflates it on all cores straight
// into the destination, then fills in the header; the reader inflates it through a
// window, parsing as it goes, and leaves payload items where they are in the file.
// Format 2 is format 1 plus file records that stand for an empty file (item index
// cSoftPkg::kEmptyItem); it is written only when a package has one.
#include <cstring>

#include "base/byteorder.h"
#include "base/memio.h"
#include "hash/sha256.h"
#include "softmgr/pardeflate.h"
#include "softmgr/pkgbody.h"
#include "softmgr/softpkgscenario.h"

namespace {

const char kMagic[8] = {'Q', 'M', 'X', 'S', 'O', 'P', 'K', 'G'};
const int kHeaderSize = 49;
const unsigned int kFormatEmptyFiles = 2;

// The body on its way out: hashed, counted and deflated into the destination.
class cBodySink : public cFileIOTarget {
public:
    explicit cBodySink(cParDeflateStream* z) : myZ(z) { sha256_starts(&mySha); }
    unsigned long long size() override { return myCount; }
    long long read(void*, long long) override { return 0; }
    long long write(const void* p, long long n) override {
        if (n <= 0) return 0;
        sha256_update(&mySha, (const unsigned char*)p, (size_t)n);
        myCount += (unsigned long long)n;
        return myZ->write(p, n) ? n : 0;
    }
    bool set_fp(unsigned long long) override { return false; }
    void close() override {}
    bool valid() override { return true; }
    unsigned long long get_fp() override { return myCount; }
    void digest(unsigned char out[32]) { sha256_finish(&mySha, out); }

private:
    cParDeflateStream* myZ;
    sha256_context mySha;
    unsigned long long myCount = 0;
};

}  // namespace

// --- writing ---

class cSoftPkgBinWriter {
public:
    cSoftPkgBinWriter(cSoftPkgScenario& s, cFileIOTarget* target) : sc(s), myTarget(target) {}
    bool write();

private:
    // Sections, in the order they are written.
    void identity();        // 1: version and the four addresses
    void defaultStrings();  // 6
    void languages();       // 7: per language, its table
    void icon();            // 2
    void menu();            // 3
    void files();           // 4
    void runs();            // 5
    void params();          // 8
    void deprecates();      // 12
    void documents();       // 9, 10, 11
    void payload();         // 13

    // Building blocks.
    void bytes(const void* p, long long n) {
        if (ok && n > 0 && !myBody->writef(p, n)) ok = false;
    }
    void u8(unsigned int v) {
        unsigned char b = (unsigned char)v;
        bytes(&b, 1);
    }
    void u16(unsigned int v) {
        unsigned char b[2];
        putLe16(b, v);
        bytes(b, 2);
    }
    void u32(unsigned int v) {
        unsigned char b[4];
        putLe32(b, v);
        bytes(b, 4);
    }
    // A string with a 16-bit length; a longer one fails the save and is named.
    void str(const char* s, const char* what) {
        long long n = s ? (long long)strlen(s) : 0;
        if (n > 65535) {
            if (ok) fail(what);
            return;
        }
        u16((unsigned int)n);
        bytes(s, n);
    }
    void fail(const char* what) {
        ok = false;
        if (what) sc.myErrorPath.set(what);
    }
    void table(tSoftPkgStrings& t);
    unsigned int format();

    cSoftPkgScenario& sc;
    cFileIOTarget* myTarget;
    cFileIOTarget* myBody = nullptr;
    bool ok = true;
};

void cSoftPkgBinWriter::table(tSoftPkgStrings& t) {
    for (auto* e = t.first(); e && ok; e = t.next(e)) {
        _typebuf<char> key;
        if (!e->key().utf8(key)) {
            ok = false;
            return;
        }
        long long kn = e->key().length();
        if (kn < 1 || kn > 65535) {
            fail(key.ptr);
            return;
        }
        u8(1);
        u16((unsigned int)kn);
        bytes(key.ptr, kn);
        str(e->value().ptr, key.ptr);
    }
    u8(0);
}

void cSoftPkgBinWriter::identity() {
    u8(1);
    for (int i = 0; i < 4; i++) u32((unsigned int)sc.version[i]);
    str(sc.mySupportURL.ptr, "support_URL");
    str(sc.myPublisherURL.ptr, "publish_URL");
    str(sc.myUpdatesURL.ptr, "updates_URL");
    str(sc.myManualURL.ptr, "manual_URL");
}

void cSoftPkgBinWriter::defaultStrings() {
    if (sc.strings.empty()) return;
    u8(6);
    table(sc.strings);
}

void cSoftPkgBinWriter::languages() {
    if (sc.langStrings.empty()) return;
    u8(7);
    for (auto* e = sc.langStrings.first(); e && ok; e = sc.langStrings.next(e)) {
        u8((unsigned int)e->key());
        table(e->value());
    }
    u8(0xFF);
}

void cSoftPkgBinWriter::icon() {
    if (sc.myIcon.id.empty()) return;
    u8(2);
    str(sc.myIcon.id.ptr, "icon");
    str(sc.myIcon.path.ptr, "icon");
}

void cSoftPkgBinWriter::menu() {
    if (sc.menu.empty()) return;
    u8(3);
    for (auto* it = sc.menu.head; it && ok; it = it->next) {
        cSoftPkgScenario::sInMenuDef& m = it->value;
        u8(1);
        str(m.name.ptr, "[Menu]");
        str(m.target.id.ptr, "[Menu]");
        str(m.target.path.ptr, "[Menu]");
        str(m.args.ptr, "[Menu]");
        str(m.icon.id.ptr, "[Menu]");
        str(m.icon.path.ptr, "[Menu]");
        str(m.comment.ptr, "[Menu]");
        u8(m.flags);
    }
    u8(0);
}

// Each record: item index, the flag word (others, group, owner, architectures from the
// low byte up), base id, path, languages, 0xFF.
void cSoftPkgBinWriter::files() {
    if (sc.files.empty()) return;
    u8(4);
    for (auto* it = sc.files.head; it && ok; it = it->next) {
        cSoftPkgScenario::sIntFileDef& f = it->value;
        u8(1);
        u32(f.item);
        unsigned int arch = (f.x32 ? 1u : 0u) | (f.x64 ? 2u : 0u);
        u32((unsigned int)f.others | ((unsigned int)f.group << 8) | ((unsigned int)f.owner << 16) | (arch << 24));
        str(f.target.id, f.target.path);
        str(f.target.path, f.target.path);
        for (int l = 0; l < f.langs.count(); l++) u8((unsigned int)f.langs[l]);
        u8(0xFF);
    }
    u8(0);
}

void cSoftPkgBinWriter::runs() {
    if (sc.onCompletion.empty()) return;
    u8(5);
    for (auto* it = sc.onCompletion.head; it && ok; it = it->next) {
        cSoftPkgScenario::sOnCompletionRunInt& r = it->value;
        u8(1);
        u8(r.checked);
        str(r.name.ptr, "[Run]");
        str(r.target.id.ptr, "[Run]");
        str(r.target.path.ptr, "[Run]");
        str(r.args.ptr, "[Run]");
    }
    u8(0);
}

void cSoftPkgBinWriter::params() {
    if (sc.params.empty()) return;
    u8(8);
    for (auto* it = sc.params.head; it && ok; it = it->next) {
        cSoftPkgScenario::sDefineParam& p = it->value;
        long long nn = p.name.length();
        if (nn < 1 || nn > 65535 || p.data.count > 65535) {
            fail(p.name.ptr ? p.name.ptr : "[Settings]");
            break;
        }
        u8(1);
        u16((unsigned int)nn);
        bytes(p.name.ptr, nn);
        u16((unsigned int)p.data.count);
        bytes(p.data.ptr, p.data.count);
    }
    u8(0);
}

void cSoftPkgBinWriter::deprecates() {
    if (sc.deprecates.empty()) return;
    u8(12);
    for (auto* it = sc.deprecates.head; it && ok; it = it->next) {
        if (it->value.codename.empty()) {
            fail("[Deprecates]");
            break;
        }
        u8(1);
        str(it->value.codename.ptr, it->value.codename.ptr);
        u16(it->value.version);
    }
    u8(0);
}

void cSoftPkgBinWriter::documents() {
    cSoftPkgDoc* docs[3] = {&sc.myWelcome, &sc.myReadme, &sc.myEula};
    for (int d = 0; d < 3 && ok; d++) {
        _typebuf<unsigned char>& b = docs[d]->bytes;
        if (b.count <= 0) continue;
        if ((unsigned long long)b.count > 0xFFFFFFFFULL) {
            fail(d == 0 ? "welcome" : d == 1 ? "readme" : "eula");
            break;
        }
        u8(9 + (unsigned int)d);
        if (d == 1) u8(sc.myReadmeNeedsAccept);
        u32((unsigned int)b.count);
        bytes(b.ptr, b.count);
    }
}

void cSoftPkgBinWriter::payload() {
    if (!ok || sc.pkg.count() == 0) return;
    u8(13);
    if (ok && !sc.pkg.savePackage(myBody)) fail("payload");
}

unsigned int cSoftPkgBinWriter::format() {
    for (auto* it = sc.files.head; it; it = it->next)
        if (it->value.item == cSoftPkg::kEmptyItem) return kFormatEmptyFiles;
    return 1;
}

// The header goes first as a placeholder and is filled in once the body's lengths and
// digest are known.
bool cSoftPkgBinWriter::write() {
    unsigned long long start = myTarget->get_fp();
    unsigned char hdr[kHeaderSize] = {};
    if (!myTarget->writef(hdr, kHeaderSize)) return false;
    cParDeflateStream z;
    if (!z.begin(myTarget, 9)) {
        fail("body");
        return false;
    }
    cBodySink sink(&z);
    myBody = &sink;
    identity();
    defaultStrings();
    languages();
    icon();
    menu();
    files();
    runs();
    params();
    deprecates();
    documents();
    payload();
    u8(0);
    if (!ok) return false;
    // The format's lengths are 32-bit: a larger body is refused, never cut.
    if (!z.finish() || sink.size() > 0xFFFFFFFFULL || z.packedSize() > 0xFFFFFFFFULL) {
        fail("body");
        return false;
    }
    memcpy(hdr, kMagic, 8);
    hdr[8] = (unsigned char)format();
    putLe32(hdr + 9, (unsigned int)sink.size());
    putLe32(hdr + 13, (unsigned int)z.packedSize());
    sink.digest(hdr + 17);
    unsigned long long end = myTarget->get_fp();
    return myTarget->set_fp(start) && myTarget->writef(hdr, kHeaderSize) && myTarget->set_fp(end);
}

bool cSoftPkgScenario::saveBinConfig(cFileIOTarget* target) {
    myErrorPath.clear();
    if (!target) return false;
    // What the reader would refuse is not written; the error path names the kind.
    const char* over = overLimit();
    if (over) {
        myErrorPath.set(over);
        return false;
    }
    return cSoftPkgBinWriter(*this, target).write();
}

const char* cSoftPkgScenario::overLimit() {
    if (files.count() > kMaxFileRecords || pkg.count() > cSoftPkg::kMaxItems) return "[Install]";
    if (strings.count() > kMaxStrings) return "[Strings]";
    for (auto* e = langStrings.first(); e; e = langStrings.next(e))
        if (e->value().count() > kMaxStrings) return "[Strings]";
    if (menu.count() > kMaxEntries) return "[Menu]";
    if (onCompletion.count() > kMaxEntries) return "[Run]";
    if (params.count() > kMaxEntries) return "[Settings]";
    if (deprecates.count() > kMaxEntries) return "[Deprecates]";
    return nullptr;
}

// --- reading ---

namespace {

// The body on its way in: inflated through a window, hashed as it arrives, never read
// past its stated length U.
struct sCursor {
    cPkgBodyReader* in = nullptr;
    cPkgHasher sha;  // on a thread of its own while the next bytes are inflated
    unsigned char* buf = nullptr;
    long long fill = 0, used = 0;
    unsigned long long bufStart = 0;  // plain offset of buf[0]
    unsigned long long U = 0;
    _typebuf<char> key;  // a string table's key on its way in

    unsigned long long pos() const { return bufStart + (unsigned long long)used; }
    unsigned long long left() const { return U - pos(); }
    bool more() {
        bufStart += (unsigned long long)fill;
        fill = used = 0;
        unsigned long long rest = U - bufStart;
        long long want = rest < (unsigned long long)sha.bufferSize() ? (long long)rest : sha.bufferSize();
        if (want == 0 || !(buf = sha.next())) return false;
        fill = in->read(buf, want);
        if (fill < 0) fill = 0;
        if (fill > 0) sha.add(fill);
        return fill == want;
    }
    bool bytes(void* out, unsigned long long n) {
        unsigned char* o = (unsigned char*)out;
        while (n > 0) {
            if (used == fill && !more()) return false;
            long long k = fill - used < (long long)n ? fill - used : (long long)n;
            if (o) {
                memcpy(o, buf + used, (size_t)k);
                o += k;
            }
            used += k;
            n -= (unsigned long long)k;
        }
        return true;
    }
    bool skip(unsigned long long n) { return bytes(nullptr, n); }
    bool u8(unsigned int& v) {
        unsigned char b;
        if (!bytes(&b, 1)) return false;
        v = b;
        return true;
    }
    bool u16(unsigned int& v) {
        unsigned char b[2];
        if (!bytes(b, 2)) return false;
        v = le16(b);
        return true;
    }
    bool u32(unsigned int& v) {
        unsigned char b[4];
        if (!bytes(b, 4)) return false;
        v = le32(b);
        return true;
    }
    // n bytes into `out`, grown as they arrive: a stated length is not trusted with memory.
    bool take(unsigned long long n, _typebuf<unsigned char>& out) {
        out.clear();
        if (n > left()) return false;
        for (unsigned long long at = 0; at < n;) {
            unsigned long long step = n - at < (1ULL << 20) ? n - at : (1ULL << 20);
            if (!out.reset((long long)(at + step)) || !bytes(out.ptr + at, step)) return false;
            at += step;
        }
        return true;
    }
    bool str(_guardchar<char>& out) {
        unsigned int n;
        if (!u16(n) || n > left()) return false;
        if (n == 0) {
            out.clear();
            return true;
        }
        // A NUL would cut the text short of what the file says.
        if (!out.set(n) || !bytes(out.ptr, n)) return false;
        return memchr(out.ptr, 0, n) == nullptr;
    }
    // A text into the scratch buffer (terminated there), valid until the next one.
    bool text(const char*& out, unsigned int& n) {
        if (!u16(n) || n > left() || (!key.count && !key.set(65536)) || !bytes(key.ptr, n) || memchr(key.ptr, 0, n))
            return false;
        key.ptr[n] = 0;
        out = key.ptr;
        return true;
    }
    bool table(tSoftPkgStrings& t) {
        for (;;) {
            unsigned int mark, kn;
            if (!u8(mark)) return false;
            if (mark == 0) return true;
            if (mark != 1 || !u16(kn) || kn == 0 || (!key.count && !key.set(65536)) || !bytes(key.ptr, kn) ||
                memchr(key.ptr, 0, kn))
                return false;
            if (t.count() >= cSoftPkgScenario::kMaxStrings) return false;
            _guardchar<char>* v = t.insert_new(cStringKey(key.ptr, kn));
            if (!v || !str(*v)) return false;
        }
    }
    // 1 another record, 0 the end of the list, -1 a bad marker.
    int record() {
        unsigned int mark;
        if (!u8(mark) || mark > 1) return -1;
        return (int)mark;
    }
};

bool pathDefOk(cSoftPkgScenario& s, const char* id, const char* path) {
    int lang;
    if (!cSoftPkgScenario::isSafeRelPath(path)) return false;
    return !id || !*id || s.isValidDef(id, lang);
}

bool pathDefOk(cSoftPkgScenario& s, const cSoftPkgScenario::sPathDef& d) { return pathDefOk(s, d.id.ptr, d.path.ptr); }

bool nameOk(cSoftPkgScenario& s, const _guardchar<char>& id) {
    int lang;
    return !id.empty() && s.isValidDef(id.ptr, lang);
}

}  // namespace

class cSoftPkgBinReader {
public:
    explicit cSoftPkgBinReader(cSoftPkgScenario& s) : sc(s) {}
    ~cSoftPkgBinReader() {
        delete c.in;
        if (myBody) myBody->release();
    }
    bool read(cFileIOTarget* source);

private:
    bool header(cFileIOTarget* source);
    bool sections();
    // Sections by tag.
    bool identity();   // 1
    bool icon();       // 2
    bool menu();       // 3
    bool files();      // 4
    bool runs();       // 5
    bool defaultStrings() { return c.table(sc.strings); }  // 6
    bool languages();  // 7
    bool params();     // 8
    bool document(unsigned int tag);  // 9, 10, 11
    bool deprecates();  // 12
    bool payload();    // 13
    // After tag 0: the rest of the body, its end and digest, then every reference.
    bool finish();
    bool validate();

    cSoftPkgScenario& sc;
    sCursor c;
    cPkgBody* myBody = nullptr;
    unsigned int myFormat = 1;
    bool myPayloadSeen = false;
    unsigned char myDigest[32];
};

// Nothing is allocated for lengths the file cannot hold or zlib cannot reach.
bool cSoftPkgBinReader::header(cFileIOTarget* source) {
    unsigned char hdr[kHeaderSize];
    if (!source->readf(hdr, kHeaderSize) || memcmp(hdr, kMagic, 8) != 0 || hdr[8] > kFormatEmptyFiles) return false;
    myFormat = hdr[8];
    unsigned long long U = le32(hdr + 9), P = le32(hdr + 13);
    memcpy(myDigest, hdr + 17, 32);
    unsigned long long size = source->size(), pos = source->get_fp();
    unsigned long long remain = pos < size ? size - pos : 0;
    if (U == 0 || P == 0 || P > remain || U > P * cSoftPkgScenario::kMaxInflateRatio ||
        U > cSoftPkgScenario::kMaxBodyBytes)
        return false;
    myBody = cPkgBody::open(source, P, U);
    if (!myBody) return false;
    c.in = new (std::nothrow) cPkgBodyReader(myBody);
    if (c.in) c.in->readInRuns();
    c.U = U;
    return c.in && !c.in->failed();
}

bool cSoftPkgBinReader::read(cFileIOTarget* source) {
    if (!header(source)) return false;
    sc.pkg.useBody(myBody);
    return sections();
}

bool cSoftPkgBinReader::sections() {
    for (;;) {
        unsigned int tag;
        if (!c.u8(tag)) return false;  // a body must end with tag 0
        bool ok;
        switch (tag) {
        case 0: return finish();
        case 1: ok = identity(); break;
        case 2: ok = icon(); break;
        case 3: ok = menu(); break;
        case 4: ok = files(); break;
        case 5: ok = runs(); break;
        case 6: ok = defaultStrings(); break;
        case 7: ok = languages(); break;
        case 8: ok = params(); break;
        case 9:
        case 10:
        case 11: ok = document(tag); break;
        case 12: ok = deprecates(); break;
        case 13: ok = payload(); break;
        default: return false;
        }
        if (!ok) return false;
    }
}

bool cSoftPkgBinReader::identity() {
    unsigned int v;
    // Parts are compared as 16-bit fields (getVerID): a larger one would show one
    // version and compare as another.
    for (int i = 0; i < 4; i++) {
        if (!c.u32(v) || v > 65535) return false;
        sc.version[i] = (int)v;
    }
    return c.str(sc.mySupportURL) && c.str(sc.myPublisherURL) && c.str(sc.myUpdatesURL) && c.str(sc.myManualURL);
}

bool cSoftPkgBinReader::icon() { return c.str(sc.myIcon.id) && c.str(sc.myIcon.path); }

bool cSoftPkgBinReader::menu() {
    for (;;) {
        int r = c.record();
        if (r <= 0) return r == 0;
        if (sc.menu.count() >= cSoftPkgScenario::kMaxEntries) return false;
        cSoftPkgScenario::sInMenuDef* m = sc.menu.add();
        unsigned int flags;
        if (!m || !c.str(m->name) || !c.str(m->target.id) || !c.str(m->target.path) || !c.str(m->args) ||
            !c.str(m->icon.id) || !c.str(m->icon.path) || !c.str(m->comment) || !c.u8(flags))
            return false;
        m->flags = (unsigned char)flags;
    }
}

bool cSoftPkgBinReader::files() {
    for (;;) {
        int r = c.record();
        if (r <= 0) return r == 0;
        if (sc.files.count() >= cSoftPkgScenario::kMaxFileRecords) return false;
        cSoftPkgScenario::sIntFileDef* f = sc.files.add();
        unsigned int word;
        if (!f || !c.u32(f->item) || !c.u32(word)) return false;
        f->others = (unsigned char)word;
        f->group = (unsigned char)(word >> 8);
        f->owner = (unsigned char)(word >> 16);
        f->x32 = (word >> 24) & 1;
        f->x64 = (word >> 25) & 1;
        if (f->others > 8 || f->group > 8 || f->owner > 8) return false;
        const char* text;
        unsigned int n;
        if (!c.text(text, n) || !(f->target.id = sc.keepFileId(text, n)) || !c.text(text, n) ||
            !(f->target.path = sc.keepFilePath(text, n)))
            return false;
        // Each language at most once: twelve entries at most.
        for (;;) {
            unsigned int l;
            if (!c.u8(l)) return false;
            if (l == 0xFF) break;
            if (!f->langs.add((int)l)) return false;
        }
    }
}

bool cSoftPkgBinReader::runs() {
    for (;;) {
        int r = c.record();
        if (r <= 0) return r == 0;
        if (sc.onCompletion.count() >= cSoftPkgScenario::kMaxEntries) return false;
        cSoftPkgScenario::sOnCompletionRunInt* o = sc.onCompletion.add();
        unsigned int checked;
        if (!o || !c.u8(checked) || !c.str(o->name) || !c.str(o->target.id) || !c.str(o->target.path) ||
            !c.str(o->args))
            return false;
        o->checked = checked & 1;
    }
}

bool cSoftPkgBinReader::languages() {
    for (;;) {
        unsigned int l;
        if (!c.u8(l)) return false;
        if (l == 0xFF) return true;
        bool isNew;
        if ((int)l > cSoftPkgScenario::kMaxLangNumber) return false;
        tSoftPkgStrings* t = sc.langStrings.insert((int)l, isNew);
        if (!t || !isNew || !c.table(*t)) return false;
    }
}

bool cSoftPkgBinReader::params() {
    for (;;) {
        int r = c.record();
        if (r <= 0) return r == 0;
        if (sc.params.count() >= cSoftPkgScenario::kMaxEntries) return false;
        cSoftPkgScenario::sDefineParam* p = sc.params.add();
        unsigned int n;
        if (!p || !c.u16(n) || n == 0 || n > c.left() || !p->name.set(n) || !c.bytes(p->name.ptr, n) ||
            memchr(p->name.ptr, 0, n))
            return false;
        // Empty data is a valid value (an empty text parameter).
        if (!c.u16(n)) return false;
        if (n && !c.take(n, p->data)) return false;
    }
}

bool cSoftPkgBinReader::document(unsigned int tag) {
    unsigned int accept = 0, n;
    if (tag == 10 && !c.u8(accept)) return false;
    _typebuf<unsigned char> doc;
    if (!c.u32(n) || n == 0 || !c.take(n, doc)) return false;
    cSoftPkgDoc& d = tag == 9 ? sc.myWelcome : tag == 10 ? sc.myReadme : sc.myEula;
    if (tag == 10) sc.myReadmeNeedsAccept = accept & 1;
    return d.take(doc);
}

bool cSoftPkgBinReader::deprecates() {
    for (;;) {
        int r = c.record();
        if (r <= 0) return r == 0;
        if (sc.deprecates.count() >= cSoftPkgScenario::kMaxEntries) return false;
        cSoftPkgScenario::sDeprecateItem* d = sc.deprecates.add();
        unsigned int v;
        if (!d || !c.str(d->codename) || !c.u16(v)) return false;
        d->version = (unsigned short)v;
    }
}

// The payload's wire form; each item's bytes are passed over and remembered by place.
// One section only: a second would add its items to the first one's (a section of only
// the end marker adds none, so the count cannot tell: the flag does).
bool cSoftPkgBinReader::payload() {
    if (myPayloadSeen) return false;
    myPayloadSeen = true;
    unsigned int unpacked;
    if (!c.u32(unpacked)) return false;
    for (;;) {
        unsigned int stored;
        unsigned char digest[32];
        if (!c.u32(stored)) return false;
        if (stored == 0) return unpacked == 0;
        if (!c.bytes(digest, 32) || stored > c.left()) return false;
        unsigned long long at = c.pos();
        if (!c.skip(stored) || !sc.pkg.appendBodyItem(unpacked, digest, at, stored) || !c.u32(unpacked)) return false;
    }
}

bool cSoftPkgBinReader::finish() {
    // Bytes after tag 0 are not parsed, but they are part of the digest.
    if (!c.skip(c.left())) return false;
    unsigned char probe, sum[32];
    unsigned long adler, trailer;
    if (c.in->read(&probe, 1) != 0 || !c.in->ended() || !c.in->trailer(trailer)) return false;
    c.sha.finish(sum, adler);
    return adler == trailer && memcmp(sum, myDigest, 32) == 0 && validate();
}

// Every reference must resolve and every record must be installable.
bool cSoftPkgBinReader::validate() {
    if (!sc.myIcon.id.empty() || !sc.myIcon.path.empty())
        if (!pathDefOk(sc, sc.myIcon)) return false;
    // Targets need a base that is an absolute path in every language (only icons may go
    // without one): the installer's folder checks see file targets only.
    for (auto* it = sc.menu.head; it; it = it->next)
        if (!nameOk(sc, it->value.name) || !pathDefOk(sc, it->value.target) || !pathDefOk(sc, it->value.icon) ||
            !sc.hasBase(it->value.target))
            return false;
    for (auto* it = sc.files.head; it; it = it->next) {
        bool empty = myFormat >= kFormatEmptyFiles && it->value.item == cSoftPkg::kEmptyItem;
        const cSoftPkgScenario::sPathRef& t = it->value.target;
        if ((!empty && it->value.item >= sc.pkg.count()) || !pathDefOk(sc, t.id, t.path) || !sc.hasBase(t))
            return false;
    }
    for (auto* it = sc.onCompletion.head; it; it = it->next)
        if (!nameOk(sc, it->value.name) || !pathDefOk(sc, it->value.target) || !sc.hasBase(it->value.target))
            return false;
    return sc.checkCodeNames() && !sc.definesInstallFolder();
}

bool cSoftPkgScenario::loadBinConfig(cFileIOTarget* source) {
    close();
    if (!source) return false;
    return cSoftPkgBinReader(*this).read(source);
}
