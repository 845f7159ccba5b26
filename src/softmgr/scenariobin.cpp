// The scenario data file: "QMXSOPKG", format byte, unpacked and packed lengths, the
// SHA-256 of the body, then the body (tagged sections) as one zlib stream.
#include <cstring>

#include "base/memio.h"
#include "compression/zlibstreams.h"
#include "hash/sha256.h"
#include "softmgr/pardeflate.h"
#include "softmgr/softpkgscenario.h"

namespace {

const char kMagic[8] = {'Q', 'M', 'X', 'S', 'O', 'P', 'K', 'G'};
const int kHeaderSize = 49;

// --- writing ---

struct sBodyWriter {
    cMemIOTarget mem{65536};
    _guardchar<char>* errorPath;
    bool ok = true;

    void bytes(const void* p, long long n) {
        if (ok && n > 0 && !mem.writef(p, n)) ok = false;
    }
    void u8(unsigned int v) {
        unsigned char b = (unsigned char)v;
        bytes(&b, 1);
    }
    void u16(unsigned int v) {
        unsigned char b[2] = {(unsigned char)v, (unsigned char)(v >> 8)};
        bytes(b, 2);
    }
    void u32(unsigned int v) {
        unsigned char b[4] = {(unsigned char)v, (unsigned char)(v >> 8), (unsigned char)(v >> 16),
                              (unsigned char)(v >> 24)};
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
        if (errorPath && what) errorPath->set(what);
    }
    void table(tSoftPkgStrings& t) {
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
};

// --- reading ---

struct sCursor {
    const unsigned char* p;
    unsigned long long left;

    bool u8(unsigned int& v) {
        if (left < 1) return false;
        v = p[0];
        p++;
        left--;
        return true;
    }
    bool u16(unsigned int& v) {
        if (left < 2) return false;
        v = (unsigned int)p[0] | ((unsigned int)p[1] << 8);
        p += 2;
        left -= 2;
        return true;
    }
    bool u32(unsigned int& v) {
        if (left < 4) return false;
        v = (unsigned int)p[0] | ((unsigned int)p[1] << 8) | ((unsigned int)p[2] << 16) | ((unsigned int)p[3] << 24);
        p += 4;
        left -= 4;
        return true;
    }
    bool take(unsigned long long n, const unsigned char*& at) {
        if (n > left) return false;
        at = p;
        p += n;
        left -= n;
        return true;
    }
    bool str(_guardchar<char>& out) {
        unsigned int n;
        const unsigned char* at;
        if (!u16(n) || !take(n, at)) return false;
        // A NUL would cut the text short of what the file says.
        if (memchr(at, 0, n)) return false;
        if (n == 0) {
            out.clear();
            return true;
        }
        return out.set((const char*)at, n);
    }
    bool table(tSoftPkgStrings& t) {
        for (;;) {
            unsigned int mark, kn;
            if (!u8(mark)) return false;
            if (mark == 0) return true;
            const unsigned char* key;
            if (mark != 1 || !u16(kn) || kn == 0 || !take(kn, key) || memchr(key, 0, kn)) return false;
            if (t.count() >= cSoftPkgScenario::kMaxStrings) return false;
            _guardchar<char>* v = t.insert_new(cStringKey((const char*)key, kn));
            if (!v || !str(*v)) return false;
        }
    }
    // 1 another record, 0 the end of the list, -1 a bad marker.
    int record() {
        unsigned int mark;
        if (!u8(mark) || mark > 1) return -1;
        return (int)mark;
    }
    bool skipStr() {
        unsigned int n;
        const unsigned char* at;
        return u16(n) && take(n, at);
    }
};

// Walks a list of file records without building any: false when it is malformed or
// holds more than `room`. A record of a dozen bytes costs far more than that in memory,
// so the count is known before the first one is made.
bool fileRecordsFit(sCursor c, long long room) {
    for (long long n = 0;; n++) {
        int r = c.record();
        if (r < 0) return false;
        if (r == 0) return true;
        unsigned int v;
        if (n >= room || !c.u32(v) || !c.u32(v) || !c.skipStr() || !c.skipStr()) return false;
        do {
            if (!c.u8(v)) return false;
        } while (v != 0xFF);
    }
}

bool pathDefOk(cSoftPkgScenario& s, const cSoftPkgScenario::sPathDef& d) {
    int lang;
    if (!cSoftPkgScenario::isSafeRelPath(d.path.ptr)) return false;
    return d.id.empty() || s.isValidDef(d.id.ptr, lang);
}

bool nameOk(cSoftPkgScenario& s, const _guardchar<char>& id) {
    int lang;
    return !id.empty() && s.isValidDef(id.ptr, lang);
}

}  // namespace

bool cSoftPkgScenario::saveBinConfig(cFileIOTarget* target) {
    myErrorPath.clear();
    if (!target) return false;
    // What the reader would refuse is not written; the error path names the kind.
    const char* over = overLimit();
    if (over) {
        myErrorPath.set(over);
        return false;
    }
    sBodyWriter w;
    w.errorPath = &myErrorPath;

    w.u8(1);
    for (int i = 0; i < 4; i++) w.u32((unsigned int)version[i]);
    w.str(mySupportURL.ptr, "support_URL");
    w.str(myPublisherURL.ptr, "publish_URL");
    w.str(myUpdatesURL.ptr, "updates_URL");
    w.str(myManualURL.ptr, "manual_URL");
    if (!strings.empty()) {
        w.u8(6);
        w.table(strings);
    }
    if (!langStrings.empty()) {
        w.u8(7);
        for (auto* e = langStrings.first(); e && w.ok; e = langStrings.next(e)) {
            w.u8((unsigned int)e->key());
            w.table(e->value());
        }
        w.u8(0xFF);
    }
    if (!myIcon.id.empty()) {
        w.u8(2);
        w.str(myIcon.id.ptr, "icon");
        w.str(myIcon.path.ptr, "icon");
    }
    if (!menu.empty()) {
        w.u8(3);
        for (auto* it = menu.head; it && w.ok; it = it->next) {
            sInMenuDef& m = it->value;
            w.u8(1);
            w.str(m.name.ptr, "[Menu]");
            w.str(m.target.id.ptr, "[Menu]");
            w.str(m.target.path.ptr, "[Menu]");
            w.str(m.args.ptr, "[Menu]");
            w.str(m.icon.id.ptr, "[Menu]");
            w.str(m.icon.path.ptr, "[Menu]");
            w.str(m.comment.ptr, "[Menu]");
            w.u8(m.flags);
        }
        w.u8(0);
    }
    if (!files.empty()) {
        w.u8(4);
        for (auto* it = files.head; it && w.ok; it = it->next) {
            sIntFileDef& f = it->value;
            w.u8(1);
            w.u32(f.item);
            unsigned int arch = (f.x32 ? 1u : 0u) | (f.x64 ? 2u : 0u);
            w.u32((unsigned int)f.others | ((unsigned int)f.group << 8) | ((unsigned int)f.owner << 16) | (arch << 24));
            w.str(f.target.id.ptr, f.target.path.ptr);
            w.str(f.target.path.ptr, f.target.path.ptr);
            for (auto* l = f.langs.head; l; l = l->next) w.u8((unsigned int)l->value);
            w.u8(0xFF);
        }
        w.u8(0);
    }
    if (!onCompletion.empty()) {
        w.u8(5);
        for (auto* it = onCompletion.head; it && w.ok; it = it->next) {
            sOnCompletionRunInt& r = it->value;
            w.u8(1);
            w.u8(r.checked);
            w.str(r.name.ptr, "[Run]");
            w.str(r.target.id.ptr, "[Run]");
            w.str(r.target.path.ptr, "[Run]");
            w.str(r.args.ptr, "[Run]");
        }
        w.u8(0);
    }
    if (!params.empty()) {
        w.u8(8);
        for (auto* it = params.head; it && w.ok; it = it->next) {
            sDefineParam& p = it->value;
            long long nn = p.name.length();
            if (nn < 1 || nn > 65535 || p.data.count > 65535) {
                w.fail(p.name.ptr ? p.name.ptr : "[Settings]");
                break;
            }
            w.u8(1);
            w.u16((unsigned int)nn);
            w.bytes(p.name.ptr, nn);
            w.u16((unsigned int)p.data.count);
            w.bytes(p.data.ptr, p.data.count);
        }
        w.u8(0);
    }
    if (!deprecates.empty()) {
        w.u8(12);
        for (auto* it = deprecates.head; it && w.ok; it = it->next) {
            if (it->value.codename.empty()) {
                w.fail("[Deprecates]");
                break;
            }
            w.u8(1);
            w.str(it->value.codename.ptr, it->value.codename.ptr);
            w.u16(it->value.version);
        }
        w.u8(0);
    }
    cSoftPkgDoc* docs[3] = {&myWelcome, &myReadme, &myEula};
    for (int d = 0; d < 3 && w.ok; d++) {
        _typebuf<unsigned char>& b = docs[d]->bytes;
        if (b.count <= 0) continue;
        if ((unsigned long long)b.count > 0xFFFFFFFFULL) {
            w.fail(d == 0 ? "welcome" : d == 1 ? "readme" : "eula");
            break;
        }
        w.u8(9 + (unsigned int)d);
        if (d == 1) w.u8(myReadmeNeedsAccept);
        w.u32((unsigned int)b.count);
        w.bytes(b.ptr, b.count);
    }
    if (w.ok && pkg.count() > 0) {
        w.u8(13);
        if (!pkg.savePackage(&w.mem)) w.fail("payload");
    }
    w.u8(0);
    if (!w.ok) return false;

    // The format's lengths are 32-bit: a larger body is refused, never cut.
    if (w.mem.size() > 0xFFFFFFFFULL) {
        myErrorPath.set("body");
        return false;
    }
    _typebuf<unsigned char> body;
    if (!w.mem.toBuffer(body) || body.count <= 0) return false;
    w.mem.close();
    unsigned char hdr[kHeaderSize];
    memcpy(hdr, kMagic, 8);
    hdr[8] = 1;
    SHA2Hash(body.ptr, hdr + 17, (size_t)body.count);
    cParDeflate z;
    if (!z.compress(body.ptr, (unsigned long long)body.count, 9) || z.packedSize() == 0 ||
        z.packedSize() > 0xFFFFFFFFULL) {
        myErrorPath.set("body");
        return false;
    }
    unsigned long long lens[2] = {(unsigned long long)body.count, z.packedSize()};
    for (int i = 0; i < 2; i++)
        for (int k = 0; k < 4; k++) hdr[9 + i * 4 + k] = (unsigned char)(lens[i] >> (8 * k));
    return target->writef(hdr, kHeaderSize) && z.writeTo(target);
}

const char* cSoftPkgScenario::overLimit() {
    if (files.count() > kMaxFileRecords || pkg.count() > cSoftPkg::kMaxItems) return "[Install]";
    for (auto* it = files.head; it; it = it->next) {
        unsigned int seen = 0;
        for (auto* l = it->value.langs.head; l; l = l->next) {
            if (l->value < 0 || l->value > 10 || (seen >> l->value) & 1) return "[Install]";
            seen |= 1u << l->value;
        }
    }
    if (strings.count() > kMaxStrings) return "[Strings]";
    for (auto* e = langStrings.first(); e; e = langStrings.next(e))
        if (e->value().count() > kMaxStrings) return "[Strings]";
    if (menu.count() > kMaxEntries) return "[Menu]";
    if (onCompletion.count() > kMaxEntries) return "[Run]";
    if (params.count() > kMaxEntries) return "[Settings]";
    if (deprecates.count() > kMaxEntries) return "[Deprecates]";
    return nullptr;
}

bool cSoftPkgScenario::loadBinConfig(cFileIOTarget* source) {
    close();
    if (!source) return false;
    unsigned char hdr[kHeaderSize];
    if (!source->readf(hdr, kHeaderSize) || memcmp(hdr, kMagic, 8) != 0 || hdr[8] > 1) return false;
    unsigned long long U = 0, P = 0;
    for (int k = 0; k < 4; k++) {
        U |= (unsigned long long)hdr[9 + k] << (8 * k);
        P |= (unsigned long long)hdr[13 + k] << (8 * k);
    }
    // Nothing is allocated for lengths the file cannot hold or zlib cannot reach.
    unsigned long long size = source->size(), pos = source->get_fp();
    unsigned long long remain = pos < size ? size - pos : 0;
    if (U == 0 || P == 0 || P > remain || U > P * kMaxInflateRatio || U > kMaxBodyBytes) return false;
    _typebuf<unsigned char> packed, body;
    if (!packed.set((long long)P) || !source->readf(packed.ptr, (long long)P)) return false;
    if (!body.set((long long)U)) return false;
    {
        cZInflate inf;
        if (inf.inflate(packed.ptr, (long long)P, body.ptr, (long long)U) != (long long)U) return false;
    }
    packed.clear();
    unsigned char sum[32];
    SHA2Hash(body.ptr, sum, (size_t)U);
    if (memcmp(sum, hdr + 17, 32) != 0) return false;

    sCursor c = {body.ptr, U};
    for (;;) {
        unsigned int tag;
        if (!c.u8(tag)) return false;
        switch (tag) {
        case 0: {
            // Every reference must resolve and every record must be installable.
            if (!myIcon.id.empty() || !myIcon.path.empty())
                if (!pathDefOk(*this, myIcon)) return false;
            // Targets need a base (only icons may go without one).
            for (auto* it = menu.head; it; it = it->next)
                if (!nameOk(*this, it->value.name) || !pathDefOk(*this, it->value.target) ||
                    !pathDefOk(*this, it->value.icon) || !hasBase(it->value.target))
                    return false;
            for (auto* it = files.head; it; it = it->next)
                if (it->value.item >= pkg.count() || !pathDefOk(*this, it->value.target) || !hasBase(it->value.target))
                    return false;
            for (auto* it = onCompletion.head; it; it = it->next)
                if (!nameOk(*this, it->value.name) || !pathDefOk(*this, it->value.target) ||
                    !hasBase(it->value.target))
                    return false;
            return checkCodeNames() && !definesInstallFolder();
        }
        case 1: {
            unsigned int v;
            // Parts are compared as 16-bit fields (getVerID): a larger one would show one
            // version and compare as another.
            for (int i = 0; i < 4; i++) {
                if (!c.u32(v) || v > 65535) return false;
                version[i] = (int)v;
            }
            if (!c.str(mySupportURL) || !c.str(myPublisherURL) || !c.str(myUpdatesURL) || !c.str(myManualURL))
                return false;
            break;
        }
        case 2:
            if (!c.str(myIcon.id) || !c.str(myIcon.path)) return false;
            break;
        case 3:
            for (;;) {
                int r = c.record();
                if (r < 0) return false;
                if (r == 0) break;
                if (menu.count() >= kMaxEntries) return false;
                sInMenuDef* m = menu.add();
                unsigned int flags;
                if (!m || !c.str(m->name) || !c.str(m->target.id) || !c.str(m->target.path) || !c.str(m->args) ||
                    !c.str(m->icon.id) || !c.str(m->icon.path) || !c.str(m->comment) || !c.u8(flags))
                    return false;
                m->flags = (unsigned char)flags;
            }
            break;
        case 4:
            if (!fileRecordsFit(c, kMaxFileRecords - files.count())) return false;
            for (;;) {
                int r = c.record();
                if (r < 0) return false;
                if (r == 0) break;
                sIntFileDef* f = files.add();
                unsigned int word;
                if (!f || !c.u32(f->item) || !c.u32(word)) return false;
                f->others = (unsigned char)word;
                f->group = (unsigned char)(word >> 8);
                f->owner = (unsigned char)(word >> 16);
                f->x32 = (word >> 24) & 1;
                f->x64 = (word >> 25) & 1;
                if (f->others > 8 || f->group > 8 || f->owner > 8) return false;
                if (!c.str(f->target.id) || !c.str(f->target.path)) return false;
                // Each language at most once: eleven entries at most.
                unsigned int seen = 0;
                for (;;) {
                    unsigned int l;
                    if (!c.u8(l)) return false;
                    if (l == 0xFF) break;
                    if (l > 10 || (seen >> l) & 1) return false;
                    seen |= 1u << l;
                    int* v = f->langs.add();
                    if (!v) return false;
                    *v = (int)l;
                }
            }
            break;
        case 5:
            for (;;) {
                int r = c.record();
                if (r < 0) return false;
                if (r == 0) break;
                if (onCompletion.count() >= kMaxEntries) return false;
                sOnCompletionRunInt* o = onCompletion.add();
                unsigned int checked;
                if (!o || !c.u8(checked) || !c.str(o->name) || !c.str(o->target.id) || !c.str(o->target.path) ||
                    !c.str(o->args))
                    return false;
                o->checked = checked & 1;
            }
            break;
        case 6:
            if (!c.table(strings)) return false;
            break;
        case 7:
            for (;;) {
                unsigned int l;
                if (!c.u8(l)) return false;
                if (l == 0xFF) break;
                bool isNew;
                if (l > 10) return false;
                tSoftPkgStrings* t = langStrings.insert((int)l, isNew);
                if (!t || !isNew || !c.table(*t)) return false;
            }
            break;
        case 8:
            for (;;) {
                int r = c.record();
                if (r < 0) return false;
                if (r == 0) break;
                if (params.count() >= kMaxEntries) return false;
                sDefineParam* p = params.add();
                unsigned int n;
                const unsigned char* at;
                if (!p || !c.u16(n) || n == 0 || !c.take(n, at) || memchr(at, 0, n) || !p->name.set((const char*)at, n))
                    return false;
                // Empty data is a valid value (an empty text parameter).
                if (!c.u16(n) || !c.take(n, at)) return false;
                if (n && !p->data.set(at, n)) return false;
            }
            break;
        case 9:
        case 10:
        case 11: {
            unsigned int accept = 0, n;
            const unsigned char* at;
            if (tag == 10 && !c.u8(accept)) return false;
            if (!c.u32(n) || n == 0 || !c.take(n, at)) return false;
            _typebuf<unsigned char> doc;
            if (!doc.set(at, n)) return false;
            cSoftPkgDoc& d = tag == 9 ? myWelcome : tag == 10 ? myReadme : myEula;
            if (tag == 10) myReadmeNeedsAccept = accept & 1;
            if (!d.take(doc)) return false;
            break;
        }
        case 12:
            for (;;) {
                int r = c.record();
                if (r < 0) return false;
                if (r == 0) break;
                if (deprecates.count() >= kMaxEntries) return false;
                sDeprecateItem* d = deprecates.add();
                unsigned int v;
                if (!d || !c.str(d->codename) || !c.u16(v)) return false;
                d->version = (unsigned short)v;
            }
            break;
        case 13: {
            cBufWrapperIO w(c.p, (long long)c.left, false);
            if (!pkg.loadPackage(&w)) return false;
            unsigned long long used = w.get_fp();
            c.p += used;
            c.left -= used;
            break;
        }
        default:
            return false;
        }
    }
}
