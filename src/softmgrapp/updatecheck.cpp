// The update check. The answer is hostile text: only line 1 is read for the version,
// lines 2 and 3 refuse control characters, and the download address must be "http://".
#include "softmgrapp/updatecheck.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "base/job.h"
#include "base/strings.h"
#include "base/timeutil.h"
#include "instengine/journalrecovery.h"
#include "instengine/pkgregistry.h"
#include "nethttp/httprequest.h"
#include "nethttp/httptransport.h"
#include "netio/socketio.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/updateform.h"
#include "ui/application.h"
#include "ui/controls/progressform.h"
#include "ui/lang.h"

const char kUpdateServerBase[] = "http://updates.vantorel.example";

namespace {

const char kQueryPath[] = "/autocheck.php?softwareid=";
const long long kMaxAnswer = 0x10000;

_guardchar<char> gQueryUrl;

bool makeQueryUrl(const char* base, long long baseLength, _guardchar<char>& out) {
    while (baseLength > 0 && base[baseLength - 1] == '/') baseLength--;
    long long n = baseLength + (long long)sizeof(kQueryPath) - 1;
    if (!out.set(n)) return false;
    memcpy(out.ptr, base, (size_t)baseLength);
    memcpy(out.ptr + baseLength, kQueryPath, sizeof(kQueryPath));
    return true;
}

// "host:port" or "http://host[:port][/prefix]"; the query must parse as a request.
bool serverFromEnvironment(const char* value, _guardchar<char>& out) {
    if (!value || !*value) return false;
    _guardchar<char> base;
    if (strncmp(value, "http://", 7) == 0) {
        if (!base.set(value)) return false;
    } else {
        if (strchr(value, '/') || !strchr(value, ':')) return false;
        long long n = 7 + (long long)strlen(value);
        if (!base.set(n)) return false;
        _sprintf_s(base.ptr, n + 1, "http://%s", value);
    }
    _guardchar<char> url;
    cHttpRequest probe;
    if (!makeQueryUrl(base.ptr, (long long)strlen(base.ptr), url) || !probe.create(cHttpRequest::eGet, url.ptr, 1))
        return false;
    out.attach(url.dettach());
    return true;
}

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Line 1: optional blanks, then 2-4 parts of 1-5 digits separated by dots, each at most
// 65535. What follows the last number in that line is not looked at.
bool parseVersionLine(const unsigned char* p, long long n, unsigned long long& version) {
    long long i = 0;
    while (i < n && (p[i] == ' ' || p[i] == '\t')) i++;
    unsigned long long parts[4] = {0, 0, 0, 0};
    int count = 0;
    while (count < 4) {
        long long start = i;
        unsigned long long v = 0;
        while (i < n && p[i] >= '0' && p[i] <= '9' && i - start < 6) v = v * 10 + (p[i++] - '0');
        if (i == start || v > 65535 || (i < n && p[i] >= '0' && p[i] <= '9')) return false;
        parts[count++] = v;
        if (i + 1 < n && p[i] == '.' && p[i + 1] >= '0' && p[i + 1] <= '9')
            i++;
        else
            break;
    }
    if (count < 2) return false;
    version = parts[0] << 48 | parts[1] << 32 | parts[2] << 16 | parts[3];
    return true;
}

long long skipLineEnds(const unsigned char* p, long long n, long long i) {
    while (i < n && (p[i] == '\r' || p[i] == '\n')) i++;
    return i;
}

// A line from `start` to the next carriage return; false without one, or with a
// control character inside. `end` receives the carriage return's place.
bool takeLine(const unsigned char* p, long long n, long long start, long long& end) {
    for (long long i = start; i < n; i++) {
        if (p[i] == '\r') {
            end = i;
            return true;
        }
        if (isControl(p[i])) return false;
    }
    return false;
}

// The what's-new text as sent, every control character but the line ends made visible
// (U+FFFD, a tab a blank), so nothing after a NUL byte is lost.
void keepWhatsNew(const unsigned char* p, long long n, _guardchar<char>& out) {
    long long extra = 0;
    for (long long i = 0; i < n; i++)
        if (isControl(p[i]) && p[i] != '\r' && p[i] != '\n' && p[i] != '\t') extra += 2;
    if (!out.set(n + extra)) return;
    char* o = out.ptr;
    for (long long i = 0; i < n; i++) {
        unsigned char c = p[i];
        if (c == '\t') {
            *o++ = ' ';
        } else if (isControl(c) && c != '\r' && c != '\n') {
            memcpy(o, "\xEF\xBF\xBD", 3);
            o += 3;
        } else {
            *o++ = (char)c;
        }
    }
    *o = 0;
}

const char* str(const char* section, int index) {
    const char* s = cCiomLangData::string(section, index);
    return s ? s : "";
}

// The verb's check on a thread of its own, so that a window can offer Stop meanwhile.
class cVerbCheck : public cJob {
public:
    explicit cVerbCheck(const char* code) { myCode.set(code); }
    ~cVerbCheck() override { terminate(4000); }
    std::atomic<bool> cancelled{false};
    bool ok = false;
    unsigned long long offered = 0;
    _guardchar<char> download, site, whatsNew;

protected:
    unsigned int job() override {
        ok = checkVersion(myCode.ptr, offered, download, site, whatsNew, this);
        return 0;
    }

private:
    _guardchar<char> myCode;
};

// The progress form shown while the verb's check runs: its own job waits for the check
// and hands Stop on to it.
class cCheckWaitForm : public cStdUnknownProgressForm {
public:
    explicit cCheckWaitForm(cVerbCheck& check) : myCheck(check) {}
    ~cCheckWaitForm() override { terminate(4000); }

protected:
    unsigned int job() override {
        while (myCheck.runs()) {
            if (haveToStop()) {
                myCheck.cancelled = true;
                myCheck.stop();
                break;
            }
            cJob::sleep(20);
        }
        return 0;
    }

private:
    cVerbCheck& myCheck;
};

const int kQuietWaitMs = 1000;

}  // namespace

const char* __check_updates_url = nullptr;
int gUpdateCheckLimitMs = 30000;

bool initUpdateServer() {
    bool ok = true;
    const char* env = getenv("QMX_UPDATE_SERVER");
    _guardchar<char> url;
    if (env && *env && !serverFromEnvironment(env, url)) ok = false;
    if (!url.ptr) makeQueryUrl(kUpdateServerBase, (long long)strlen(kUpdateServerBase), url);
    gQueryUrl.attach(url.dettach());
    __check_updates_url = gQueryUrl.ptr;
    return ok;
}

void strVer(unsigned long long v, _guardchar<char>& out) {
    unsigned a = (unsigned)(v >> 48 & 0xFFFF), b = (unsigned)(v >> 32 & 0xFFFF), c = (unsigned)(v >> 16 & 0xFFFF),
             d = (unsigned)(v & 0xFFFF);
    char buf[32];
    if (d)
        _sprintf_s(buf, sizeof(buf), "%u.%u.%u.%u", a, b, c, d);
    else if (c)
        _sprintf_s(buf, sizeof(buf), "%u.%u.%u", a, b, c);
    else
        _sprintf_s(buf, sizeof(buf), "%u.%u", a, b);
    out.set(buf);
}

bool percentEncode(const char* text, _guardchar<char>& out) {
    if (!text) return false;
    long long n = (long long)strlen(text);
    if (n > (1LL << 20) || !out.set(3 * n)) return false;
    static const char kHex[] = "0123456789ABCDEF";
    char* o = out.ptr;
    for (const unsigned char* p = (const unsigned char*)text; *p; p++) {
        unsigned char c = *p;
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_' || c == '~';
        if (plain) {
            *o++ = (char)c;
        } else {
            *o++ = '%';
            *o++ = kHex[c >> 4];
            *o++ = kHex[c & 15];
        }
    }
    *o = 0;
    return true;
}

bool updateQueryAddress(const char* code, _guardchar<char>& out) {
    if (!code) return false;
    if (!__check_updates_url) initUpdateServer();
    _guardchar<char> encoded;
    if (!__check_updates_url || !percentEncode(code, encoded)) return false;
    long long n = (long long)strlen(__check_updates_url) + (long long)strlen(encoded.ptr) + 7;
    if (!out.set(n)) return false;
    _sprintf_s(out.ptr, n + 1, "%s%s&os=mac", __check_updates_url, encoded.ptr);
    return true;
}

bool cPlainDataReader::onHeaderDone() {
    if (RC() != 200 || contentLength() < 1 || contentLength() > kMaxAnswer) return false;
    data.reset();
    return true;
}

bool cPlainDataReader::abortRequested() {
    return (owner && owner->haveToStop()) || (deadlineUs && ticks_us() >= deadlineUs);
}

bool cPlainDataReader::onData(const void* bytes, long long length, unsigned long long) {
    // The parser delivers no more than the Content-Length; the cap guards anyway.
    if (length < 0 || (long long)data.size() + length > kMaxAnswer) return false;
    return data.writef(bytes, length);
}

bool parseUpdateAnswer(const unsigned char* p, long long n, unsigned long long& version, _guardchar<char>& download,
                       _guardchar<char>& site, _guardchar<char>& whatsNew) {
    if (!p || n <= 0) return false;
    const unsigned char* cr = (const unsigned char*)memchr(p, '\r', (size_t)n);
    if (!cr || cr == p) return false;
    unsigned long long v = 0;
    if (!parseVersionLine(p, cr - p, v)) return false;

    long long line2 = skipLineEnds(p, n, cr - p);
    long long end2 = 0, end3 = 0;
    if (line2 >= n || !takeLine(p, n, line2, end2)) return false;
    if (end2 - line2 <= 7 || __memicmp(p + line2, "http://", 7) != 0) return false;
    long long line3 = skipLineEnds(p, n, end2);
    if (line3 >= n || !takeLine(p, n, line3, end3)) return false;

    if (!download.set((const char*)p + line2, end2 - line2) || !site.set((const char*)p + line3, end3 - line3))
        return false;
    version = v;
    long long rest = skipLineEnds(p, n, end3);
    if (rest < n) keepWhatsNew(p + rest, n - rest, whatsNew);
    return true;
}

bool checkVersion(const char* code, unsigned long long& version, _guardchar<char>& download, _guardchar<char>& site,
                  _guardchar<char>& whatsNew, const cJob* owner) {
    if (!code || !initSockLib()) return false;
    _guardchar<char> address;
    if (!updateQueryAddress(code, address)) return false;
    cHttpRequest request(cHttpRequest::eGet, address.ptr, 1);
    cPlainDataReader reader;
    reader.owner = owner;
    reader.deadlineUs = ticks_us() + (unsigned long long)(gUpdateCheckLimitMs > 0 ? gUpdateCheckLimitMs : 0) * 1000ULL;
    if (!request.valid() || !cHttpTransport::processRequest(request, reader)) return false;
    _typebuf<unsigned char> body;
    if (!reader.data.toBuffer(body) || body.count <= 0) return false;
    return parseUpdateAnswer(body.ptr, body.count, version, download, site, whatsNew);
}

int check_updates(const char* code, bool quiet, cApplicationConfig* store, cWindowMaker* maker) {
    bool speak = !quiet && cCiomLangData::string("pkgm::updr", eUpdrBadId) != nullptr;
    // An interrupted run is finished or undone first: the version read is the one in place.
    // One that cannot be is said, and this package's then leaves its version unknown.
    _List<_guardchar<char> > unfinished;
    _List<sSetAsideJournal> aside;
    _List<sUnreadJournal> unread;
    bool recovered = !store || recoverAllInterrupted(store, nullptr, &unfinished, &aside, &unread);
    if (speak && !aside.empty()) {
        _guardchar<char> m;
        setAsideMessage(store, aside, m);
        appMessageBox(nullptr, maker, eBoxWarning, m.ptr);
    }
    if (!recovered && !unfinished.empty()) {
        if (speak) {
            _guardchar<char> names, m;
            packageNames(store, unfinished, names, &unread);
            if (!names.empty()) {
                unfinishedMessage(names.ptr, m);
                appMessageBox(nullptr, maker, eBoxError, m.ptr);
            }
            if (!unread.empty()) {
                unreadableMessage(store, unread, m);
                appMessageBox(nullptr, maker, eBoxError, m.ptr);
            }
        }
        for (auto* it = unfinished.head; it; it = it->next)
            if (code && strcmp(it->value.ptr, code) == 0) return 1;
    }
    _guardchar<char> section, key;
    unsigned long long installed = 0;
    if (!code || !*code || strchr(code, '/') || !regSectionName(code, section) || !store ||
        !regKey(section.ptr, kRegVer, key) || !store->getParamInt(key.ptr, installed)) {
        if (speak) cWLMsgForm::modal(eBoxError, str("pkgm::updr", eUpdrBadId), maker);
        return 1;
    }
    cSoftUpdateInfoForm::sUpdateInfoCtx ctx;
    if (regKey(section.ptr, kRegName, key)) store->getParamStr(key.ptr, ctx.name);
    cVerbCheck check(code);
    if (!check.start()) return 1;
    // A quick answer shows no window; a slow one shows the progress form with Stop.
    for (int waited = 0; waited < kQuietWaitMs && check.runs(); waited += 10) cJob::sleep(10);
    if (check.runs() && !quiet && !gConsoleMessages) {
        cWindowMaker* m = maker ? maker : appWindowMaker();
        if (m)
            cChildElement::modalWindow(m, str("pkgm::softm", eSoftmCheckingUpdates), 600, 106,
                                       new cCheckWaitForm(check), nullptr, 0);
    }
    // The check's own deadline ends it; Stop ends it at once.
    while (check.runs()) cJob::sleep(10);
    if (check.cancelled) return 1;
    unsigned long long offered = check.offered;
    ctx.download.attach(check.download.dettach());
    ctx.site.attach(check.site.dettach());
    ctx.whatsNew.attach(check.whatsNew.dettach());
    if (!check.ok) {
        if (speak) cWLMsgForm::modal(eBoxError, str("pkgm::updr", eUpdrNoInformation), maker);
        return 1;
    }
    if (offered <= installed) {
        if (speak) cWLMsgForm::modal(eBoxInfo, str("pkgm::updr", eUpdrNotRequired), maker);
        return 0;
    }
    strVer(offered, ctx.version);
    ctx.store = store;
    cSoftUpdateInfoForm::installUpdate(ctx, nullptr, maker);
    return 0;
}
