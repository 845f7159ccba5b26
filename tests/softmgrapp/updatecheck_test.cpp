// The update check: the answer parser against a table of bodies (hostile ones included),
// version texts, the query address and the request as a loopback server sees it, the
// server's scripted answers (lengths, status, chunked, truncated, slow), and the "update"
// verb against a server that drips its answer (deadline, progress form, Stop).
#include "softmgrapp/updatecheck.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "apptest.h"
#include "ciplatform/headless.h"
#include "installtest.h"
#include "instengine/journalformat.h"
#include "memconfig.h"
#include "nethttp/httprequest.h"
#include "nethttp/httptransport.h"
#include "netio/pyserver.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/sopkglang.h"
#include "softmgrapp/updateform.h"
#include "testutil.h"
#include "ui/controls/progressform.h"
#include "ui/elementhost.h"

using namespace apptest;

namespace {

struct Parsed {
    bool ok = false;
    unsigned long long version = 0;
    std::string download, site, whatsNew;
};

Parsed parse(const std::string& body) {
    Parsed p;
    _guardchar<char> d, s, w;
    w.set("(unchanged)");
    p.ok = parseUpdateAnswer((const unsigned char*)body.data(), (long long)body.size(), p.version, d, s, w);
    p.download = d.ptr ? d.ptr : "";
    p.site = s.ptr ? s.ptr : "";
    p.whatsNew = w.ptr ? w.ptr : "";
    return p;
}

unsigned long long ver(unsigned a, unsigned b, unsigned c = 0, unsigned d = 0) {
    return (unsigned long long)a << 48 | (unsigned long long)b << 32 | (unsigned long long)c << 16 | d;
}

}  // namespace

TEST(UpdateAnswer, ParsesTheLinesAndRefusesHostileOnes) {
    const std::string U = "http://h.example/u.zip", S = "http://h.example/";
    struct Case {
        const char* name;
        std::string body;
        bool ok;
        unsigned long long version;
        std::string whatsNew;
    } cases[] = {
        {"three CRLF lines", "2.1\r\n" + U + "\r\n" + S + "\r\n", true, ver(2, 1), "(unchanged)"},
        {"runs of line ends skipped, inner kept", "1.2.3.4\r\r\n\n" + U + "\r\n\r\n" + S + "\r\n\r\nA\r\nB\n", true,
         ver(1, 2, 3, 4), "A\r\nB\n"},
        {"largest version", "65535.65535.65535.65535\r" + U + "\r" + S + "\r", true, ~0ULL, "(unchanged)"},
        {"text after the numbers in line 1", "3.0 beta\r" + U + "\r" + S + "\r", true, ver(3, 0), "(unchanged)"},
        // What's new is kept whole: control characters but line ends are made visible.
        {"controls in what's new", "2.0\r" + U + "\r" + S + "\rA" + std::string(1, '\0') + "B\x1b[2J\tC\r\nD\x7f", true,
         ver(2, 0), "A\xEF\xBF\xBD" "B\xEF\xBF\xBD[2J C\r\nD\xEF\xBF\xBD"},
        {"LF-only line ends", "2.0\n" + U + "\n" + S + "\n", false, 0, ""},
        {"one number", "2\r" + U + "\r" + S + "\r", false, 0, ""},
        {"part of 65536", "2.65536\r" + U + "\r" + S + "\r", false, 0, ""},
        {"negative part", "2.-1\r" + U + "\r" + S + "\r", false, 0, ""},
        // The minor number must come from line 1, never from the next line.
        {"version across lines", "2.\r5" + U + "\r" + S + "\r", false, 0, ""},
        {"empty line 1", "\r2.0\r" + U + "\r" + S + "\r", false, 0, ""},
        {"no line 3 end", "2.0\r" + U + "\r" + S, false, 0, ""},
        {"ends after line 1", "2.0\r\n", false, 0, ""},
        {"download not http", "2.0\rftp://h.example/u.zip\r" + S + "\r", false, 0, ""},
        {"download only the scheme", "2.0\rhttp://\r" + S + "\r", false, 0, ""},
        {"LF inside line 2", "2.0\rhttp://h.example/\nx\r" + S + "\r", false, 0, ""},
        {"control in line 2", "2.0\rhttp://h.example/\x1b[2J\r" + S + "\r", false, 0, ""},
        {"DEL in line 3", "2.0\r" + U + "\rhttp://h\x7f\r", false, 0, ""},
        {"empty", "", false, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Parsed p = parse(c.body);
        EXPECT_EQ(p.ok, c.ok);
        if (!c.ok || !p.ok) continue;
        EXPECT_EQ(p.version, c.version);
        EXPECT_EQ(p.download, U);
        EXPECT_EQ(p.site, S);
        EXPECT_EQ(p.whatsNew, c.whatsNew);
    }
    // A NUL inside line 3 is a control character even though strings stop there.
    std::string nul = "2.0\r" + U + "\rhttp://h";
    nul.push_back('\0');
    nul += "x\r";
    EXPECT_FALSE(parse(nul).ok);
}

TEST(UpdateAnswer, VersionTexts) {
    struct Case {
        unsigned long long v;
        const char* text;
    } cases[] = {{ver(1, 2), "1.2"},           {ver(1, 2, 3, 0), "1.2.3"}, {ver(1, 2, 0, 4), "1.2.0.4"},
                 {ver(0, 0), "0.0"},           {~0ULL, "65535.65535.65535.65535"}};
    for (const Case& c : cases) {
        _guardchar<char> t;
        strVer(c.v, t);
        EXPECT_STREQ(t.ptr, c.text);
    }
}

TEST(UpdateQuery, ServerFromTheEnvironmentAndEncodedCodeName) {
    struct Case {
        const char* env;
        const char* want;  // query for the code name "a b/c&d=é"
    } cases[] = {
        {"127.0.0.1:8080", "http://127.0.0.1:8080/autocheck.php?softwareid=a%20b%2Fc%26d%3D%C3%A9&os=mac"},
        {"http://mirror.example:81/upd/", "http://mirror.example:81/upd/autocheck.php?softwareid=a%20b%2Fc%26d%3D%C3%A9&os=mac"},
        // Unusable values leave the built-in server.
        {"no-port-here", nullptr},
        {"ftp://x.example", nullptr},
        {"http://bad host", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.env);
        ServerEnv env(c.env);
        _guardchar<char> q;
        ASSERT_TRUE(updateQueryAddress("a b/c&d=\xC3\xA9", q));
        if (c.want) {
            EXPECT_STREQ(q.ptr, c.want);
        } else {
            EXPECT_EQ(std::string(q.ptr).rfind(std::string(kUpdateServerBase) + "/autocheck.php?softwareid=", 0), 0u)
                << q.ptr;
        }
        cHttpRequest r;
        EXPECT_TRUE(r.create(cHttpRequest::eGet, q.ptr, 1)) << "the query must be a valid request";
    }
}

TEST(UpdateServer, ScriptedAnswers) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    testutil::TempDir dir;
    ASSERT_TRUE(testutil::writeFile(dir.file("org.x.pkg.answer"),
                                    std::vector<unsigned char>({'2', '.', '1', '\r', '\n'})));
    std::string good = "3.4.5\r\nhttp://h.example/files/u.zip\r\nhttp://h.example/\r\nNew: things\r\n";
    ASSERT_TRUE(testutil::writeFile(dir.file("org.qmx good.answer"), good.data(), good.size()));
    PyServer server({serverScript(), dir.path()});
    ASSERT_NE(server.port(), 0);
    ServerEnv env("127.0.0.1:" + std::to_string(server.port()));
    cHttpTransport::setTimeouts(5000, 1500, 5000);
    struct Case {
        const char* code;
        bool ok;
        unsigned long long version;
    } cases[] = {
        {"org.qmx good", true, ver(3, 4, 5)},
        {"org.x.pkg", false, 0},  // lines 2 and 3 missing
        {"mode-404", false, 0},      {"mode-nolen", false, 0}, {"mode-chunked", false, 0},
        {"mode-zero", false, 0},     {"mode-65536", true, ver(2, 0)}, {"mode-65537", false, 0},
        {"mode-lf", false, 0},       {"mode-trunc", false, 0}, {"unknown", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        unsigned long long v = 0;
        _guardchar<char> d, s, w;
        EXPECT_EQ(checkVersion(c.code, v, d, s, w), c.ok);
        if (c.ok && v == ver(3, 4, 5)) {
            EXPECT_STREQ(d.ptr, "http://h.example/files/u.zip");
            EXPECT_STREQ(w.ptr, "New: things\r\n");
        }
        if (c.ok) {
            EXPECT_EQ(v, c.version);
        }
    }
    // A server that never answers gives up at the read time-out.
    auto t0 = std::chrono::steady_clock::now();
    unsigned long long v = 0;
    _guardchar<char> d, s, w;
    EXPECT_FALSE(checkVersion("mode-slow", v, d, s, w));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(ms, 30000) << "far less than the server's silence";
    cHttpTransport::restoreTimeouts();

    // The request as the server saw it: path, parameters in order, encoding, user agent.
    std::ifstream log(dir.file("requests.log"));
    std::string first;
    std::getline(log, first);
    EXPECT_EQ(first, "/autocheck.php?softwareid=org.qmx%20good&os=mac\t" + std::string(cHttpRequest::userAgent()));
}

namespace {

class cVerbScript : public cHeadlessScript {
public:
    bool stop = false;
    std::string shown;
    void onModal(cHeadlessWindowMaker*, cPlatformWindow* w, int depth) override {
        cElementHost* h = static_cast<cElementHost*>(w->userData);
        cChildElement* root = h ? h->rootElement() : nullptr;
        if (!root) return;
        if (cStdBasicProgressForm* p = dynamic_cast<cStdBasicProgressForm*>(root)) {
            shown += "progress;";
            if (stop) p->onFormCancel();
            return;  // it ends itself with the check
        }
        if (cSoftUpdateInfoForm* u = dynamic_cast<cSoftUpdateInfoForm*>(root)) {
            shown += "update form " + std::string(u->ctx->name.ptr) + " " + u->ctx->version.ptr + ";";
            root->end_modal(0);
            return;
        }
        if (depth >= 2) {
            shown += std::string(root->text() ? root->text() : "") + ";";
            root->end_modal(1);
        }
    }
};

}  // namespace

// The verb's results: refused code names, the server's 404, an answer that is not newer,
// the largest version (even when quiet); a dripping server meets the deadline behind the
// progress form, whose Stop ends the check at once.
TEST(UpdateVerb, ResultsAndADrippingServerBehindAProgressFormWithStop) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    useLanguage(eLangENG);
    testutil::TempDir dir;
    std::string top = "65535.65535.65535.65535\r\nhttp://h.example/u.zip\r\nhttp://h.example/\r\n";
    ASSERT_TRUE(testutil::writeFile(dir.file("org.top.answer"), top.data(), top.size()));
    std::string same = "1.2\r\nhttp://h.example/u.zip\r\nhttp://h.example/\r\n";
    ASSERT_TRUE(testutil::writeFile(dir.file("org.same.answer"), same.data(), same.size()));
    PyServer server({serverScript(), dir.path()});
    ASSERT_NE(server.port(), 0);
    ServerEnv env(server.port());
    cMemConfig store;
    for (const char* code : {"mode-drip", "org.top", "org.same", "org.gone"})  // org.gone: the server answers 404
        store.setParamInt64(("install/" + std::string(code) + "/ver").c_str(), ver(1, 2));
    store.setParamStr("install/org.top/name", "Top", -1);
    cHeadlessWindowMaker maker;
    cVerbScript script;
    maker.setModalScript(&script);
    maker.setIdleTimeout(20000);
    int oldLimit = gUpdateCheckLimitMs;
    gUpdateCheckLimitMs = 2500;
    const std::string invalid = "Specified invalid Software Package ID!;", noInfo =
        "Unable to get update information from the Update Server!;";
    struct Case {
        const char* code;
        bool quiet, stop;
        int exit;
        std::string shown;
    } cases[] = {
        {"org/new", false, false, 1, invalid},
        {"", false, false, 1, invalid},
        {"org.missing", false, false, 1, invalid},
        {"org.gone", false, false, 1, noInfo},
        {"org.same", false, false, 0, "Update for this software is not required.;"},
        {"org.top", true, false, 0, "update form Top 65535.65535.65535.65535;"},
        {"mode-drip", false, false, 1, "progress;" + noInfo},
        {"mode-drip", false, true, 1, "progress;"},
        {"mode-drip", true, false, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.code) + (c.quiet ? " quiet" : "") + (c.stop ? " stop" : ""));
        script.stop = c.stop;
        script.shown.clear();
        EXPECT_EQ(check_updates(c.code, c.quiet, &store, &maker), c.exit);
        EXPECT_EQ(script.shown, c.shown);
    }
    gUpdateCheckLimitMs = oldLimit;
    // The refused code name never reached the server.
    std::string log = installtest::readTextFile(dir.file("requests.log"));
    EXPECT_EQ(log.find("org%2Fnew"), std::string::npos);
    EXPECT_EQ(log.find("org/new"), std::string::npos);
}

// A journal the check's start cannot carry out is said (unless quiet), and its package's
// version is then left unknown: nothing is checked for it. One it refuses is set aside,
// said once, and the check goes on.
TEST(UpdateVerb, UnfinishedJournalIsSaidAndItsPackageLeftUnchecked) {
    useLanguage(eLangENG);
    installtest::PrivateHome home;
    cMemConfig store;
    store.setParamInt64("install/org.top/ver", ver(1, 2));
    store.setParamStr("install/org.top/name", "Top", -1);
    ASSERT_TRUE(installtest::makeDirs(home.path() + "/.qmx"));
    const std::string journal = home.path() + "/.qmx/inflight-org.top";
    cHeadlessWindowMaker maker;
    cVerbScript script;
    maker.setModalScript(&script);
    maker.setIdleTimeout(20000);
    ASSERT_TRUE(installtest::writeTextFile(journal, "QMXINFLIGHT 3\nstate pending\nN " + home.path() + "/n\nend 1\n"));
    check_updates("org.top", false, &store, &maker);
    EXPECT_EQ(script.shown.rfind("The unfinished installation or removal of Top could not be checked.\n", 0), 0u)
        << script.shown;
    EXPECT_NE(script.shown.find("\n" + journal + ".refused\n"), std::string::npos) << script.shown;
    EXPECT_FALSE(installtest::exists(journal));
    // A backup that cannot go back over the folder at its target.
    const std::string folder = home.path() + "/Top", stuck = folder + "/stuck";
    sJournal j;
    ASSERT_TRUE(installtest::makeDirs(stuck) && installtest::writeTextFile(stuck + ".bkp", "earlier") &&
                j.add(eLineRoot, folder.c_str()) && j.add(eLineReplaced, stuck.c_str()) && saveJournal(journal.c_str(), j, false) == 1);
    for (bool quiet : {false, true}) {
        script.shown.clear();
        EXPECT_EQ(check_updates("org.top", quiet, &store, &maker), 1);
        EXPECT_EQ(script.shown.rfind(quiet ? "" : "The interrupted installation or removal of Top could not", 0), 0u)
            << script.shown;
        EXPECT_EQ(script.shown.empty(), quiet);
    }
    EXPECT_TRUE(installtest::exists(journal));
}
