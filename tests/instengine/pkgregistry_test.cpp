// The package registry: key names, a record's round trip through the store (in memory
// and the real one), and damaged records.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "configstore/ciappconfig.h"
#include "installtest.h"
#include "instengine/pkgregistry.h"
#include "memconfig.h"
#include "softmgr/softpkgscenario.h"
#include "testutil.h"

namespace {

void addText(_List<_guardchar<char>>& list, const char* text) { list.add()->set(text); }
void addText(cTextList& list, const char* text) { list.add(text); }

void addCommand(sPkgRegistryRecord& r, const char* label, const char* command) {
    sPkgRunCommand* c = r.commands.add();
    c->label.set(label);
    c->command.set(command);
}

// A record with `files` files, one shortcut, an icon and three commands of which the
// middle one has no label.
void sample(sPkgRegistryRecord& r, int files) {
    r.ver = 0x0001000400020007ULL;
    r.lang = 3;
    r.path.set("/home/u/Applications/Hello Tool");
    r.name.set("Hello Tool");
    r.updates.set("http://example.org/u");
    r.support.set("http://example.org/s");
    r.publisher.set("http://example.org/p");
    r.icon.set("/home/u/Applications/Hello Tool/share/hello.png");
    r.utime = 0xFEDCBA98u;
    for (int i = 0; i < files; i++) addText(r.files, ("/t/file" + std::to_string(i)).c_str());
    addText(r.shortcuts, "/home/u/.local/share/applications/hello.desktop");
    addCommand(r, "Start", "\"/t/bin/hello\" --first-run");
    addCommand(r, "", "\"/t/bin/orphan\"");
    addCommand(r, "Notes", "/t/doc/README.txt");
}

std::vector<std::string> texts(const cTextList& l) { return std::vector<std::string>(l.begin(), l.end()); }

TEST(RegistryKeys, SectionNamesOnlyForSafeCodeNames) {
    _guardchar<char> s;
    ASSERT_TRUE(regSectionName("org.qmx.example-1_2", s));
    EXPECT_STREQ(s.ptr, "install/org.qmx.example-1_2");
    const char* refused[] = {"", "a/b", "../x", "a b", "x\n", "a;b", "\xC3\xA9t\xC3\xA9"};
    for (const char* r : refused) EXPECT_FALSE(regSectionName(r, s)) << r;
    EXPECT_FALSE(regSectionName(nullptr, s));
    EXPECT_TRUE(regSectionName(std::string(128, 'a').c_str(), s));
    EXPECT_FALSE(regSectionName(std::string(129, 'a').c_str(), s));

    ASSERT_TRUE(regKey("install/x", kRegFile, 12, s));
    EXPECT_STREQ(s.ptr, "install/x/file12");
    ASSERT_TRUE(regKey("install/x", kRegRunCommand, 0, s));
    EXPECT_STREQ(s.ptr, "install/x/cplcs0");
}

std::vector<std::string> readBack(const char* record) {
    sRunCommandLine line;
    std::vector<std::string> v;
    if (!splitRunCommand(record, line)) return v;
    for (char** a = line.argv.ptr; *a; a++) v.push_back(*a);
    return v;
}

// An on-completion command as the registry records it and as the manager reads the
// record back: the program or document, then each argument.
TEST(RunCommands, RecordsReadBackAsTheProgramAndItsArguments) {
    const std::string hello = "/opt/Hello Tool/bin/hello", intl = "/home/\xC3\xBC/\xE3\x83\x8F \xE3\x83\xAD/run",
                      odd = "/tmp/it's $(x) `y`;z", quoted = "/tmp/say \"hi\"/run";
    struct {
        std::string path, args;
        const char* record;  // null: not recorded
        std::vector<std::string> argv;
    } written[] = {
        {hello, "--first-run", "\"/opt/Hello Tool/bin/hello\" --first-run", {hello, "--first-run"}},
        {"/opt/Hello Tool/doc/README.txt", "", "/opt/Hello Tool/doc/README.txt", {"/opt/Hello Tool/doc/README.txt"}},
        {intl, "--lang \"de DE\"  -v", nullptr, {intl, "--lang", "de DE", "-v"}},
        {odd, "a", nullptr, {odd, "a"}},
        // A double quote in the path: alone it is the whole record; with arguments no
        // reader could tell where the path ends, so it is not recorded.
        {quoted, "", "/tmp/say \"hi\"/run", {quoted}},
        {quoted, "--x", nullptr, {}},
    };
    for (auto& c : written) {
        SCOPED_TRACE(c.path + " | " + c.args);
        cSoftPkgScenario::sOnCompletionRun r;
        r.target.set(c.path.c_str());
        r.args.set(c.args.c_str());
        _guardchar<char> record;
        ASSERT_EQ(r.command(record), !c.argv.empty());
        if (c.argv.empty()) continue;
        if (c.record) {
            EXPECT_STREQ(record.ptr, c.record);
        }
        EXPECT_EQ(readBack(record.ptr), c.argv);
    }
    // Records of earlier versions (the path in shell quotes) and texts that only look like them.
    struct {
        const char* record;
        std::vector<std::string> argv;  // empty: nothing to start
    } stored[] = {
        {"'/opt/Hello Tool/bin/hello' --first-run", {hello, "--first-run"}},
        {"'/opt/Hello Tool/doc/README.txt'", {"/opt/Hello Tool/doc/README.txt"}},
        {"'/tmp/it'\\''s \"q\"/a' -x", {"/tmp/it's \"q\"/a", "-x"}},
        {"'quoted name' x", {"'quoted name' x"}},
        {"'/unterminated x", {"'/unterminated x"}},
        {"\"/a\"b c", {"\"/a\"b c"}},
        {"\"/t/doc/README.txt\"", {"/t/doc/README.txt"}},
        {"\"\" x", {}},
        {"", {}},
    };
    for (auto& c : stored) EXPECT_EQ(readBack(c.record), c.argv) << c.record;
}

TEST(CtxToConfig, WritesEveryKeyWithItsWidth) {
    cMemConfig store;
    sPkgRegistryRecord r;
    sample(r, 2);
    ASSERT_TRUE(ctxToConfig(r, &store, "install/org.x"));
    // Reference: the catalogue written out by hand (key, integer width or 0 for text, value).
    struct {
        const char* key;
        int width;
        unsigned long long number;
        const char* text;
    } expect[] = {
        {"install/org.x/ver", 8, 0x0001000400020007ULL, nullptr},
        {"install/org.x/lang", 2, 3, nullptr},
        {"lang/current", 2, 3, nullptr},
        {"install/org.x/path", 0, 0, "/home/u/Applications/Hello Tool"},
        {"install/org.x/name", 0, 0, "Hello Tool"},
        {"install/org.x/updates", 0, 0, "http://example.org/u"},
        {"install/org.x/support", 0, 0, "http://example.org/s"},
        {"install/org.x/publisher", 0, 0, "http://example.org/p"},
        {"install/org.x/icon", 0, 0, "/home/u/Applications/Hello Tool/share/hello.png"},
        {"install/org.x/utime", 4, 0xFEDCBA98u, nullptr},
        {"install/org.x/files", 4, 2, nullptr},
        {"install/org.x/file0", 0, 0, "/t/file0"},
        {"install/org.x/file1", 0, 0, "/t/file1"},
        {"install/org.x/shortc", 4, 1, nullptr},
        {"install/org.x/shortc0", 0, 0, "/home/u/.local/share/applications/hello.desktop"},
        {"install/org.x/cplns0", 0, 0, "Start"},
        {"install/org.x/cplcs0", 0, 0, "\"/t/bin/hello\" --first-run"},
        // The command without a label takes no index.
        {"install/org.x/cplns1", 0, 0, "Notes"},
        {"install/org.x/cplcs1", 0, 0, "/t/doc/README.txt"},
    };
    EXPECT_EQ(store.values.size(), sizeof(expect) / sizeof(expect[0]));
    for (auto& e : expect) {
        auto it = store.values.find(e.key);
        ASSERT_NE(it, store.values.end()) << e.key;
        if (e.width) {
            EXPECT_TRUE(it->second.isInt) << e.key;
            EXPECT_EQ(it->second.width, e.width) << e.key;
            EXPECT_EQ(it->second.number, e.number) << e.key;
        } else {
            EXPECT_FALSE(it->second.isInt) << e.key;
            EXPECT_EQ(it->second.text, e.text) << e.key;
        }
    }
    EXPECT_EQ(store.saves, 0);  // saving is the caller's
}

TEST(CtxToConfig, RefusesSectionsThatAreNotPackages) {
    cMemConfig store;
    sPkgRegistryRecord r;
    sample(r, 1);
    const char* bad[] = {"install", "install/", "install/a/b", "install/../x", "lang", "installx/a", "/install/a"};
    for (const char* s : bad) EXPECT_FALSE(ctxToConfig(r, &store, s)) << s;
    EXPECT_FALSE(ctxToConfig(r, nullptr, "install/a"));
    EXPECT_FALSE(ctxToConfig(r, &store, nullptr));
    EXPECT_TRUE(store.values.empty());
}

// Remove the section, write, save: what the installation does.
void reinstall(cApplicationConfig& store, const sPkgRegistryRecord& r) {
    // Removing a section that is not there yet is not a failure, so only the outcome counts.
    store.removeSection("install/org.qmx.hello");
    ASSERT_FALSE(store.hasSection("install/org.qmx.hello"));
    ASSERT_TRUE(ctxToConfig(r, &store, "install/org.qmx.hello"));
    ASSERT_TRUE(store.saveConfig());
}

// `current` answers the store in use; `reopen` may replace it with a fresh one.
void roundTrip(const std::function<cApplicationConfig&()>& current, const std::function<void()>& reopen) {
    sPkgRegistryRecord first;
    sample(first, 5);
    reinstall(current(), first);
    // A later version with fewer files and no icon replaces the record completely.
    sPkgRegistryRecord second;
    sample(second, 2);
    second.ver = 0x0001000500000000ULL;
    second.icon.clear();
    second.lang = 2;
    reinstall(current(), second);
    reopen();
    cApplicationConfig& store = current();

    sPkgRegistryRecord back;
    ASSERT_TRUE(readRegistryRecord(&store, "org.qmx.hello", back));
    EXPECT_EQ(back.ver, second.ver);
    EXPECT_EQ(back.lang, 2);
    EXPECT_STREQ(back.path.ptr, second.path.ptr);
    EXPECT_STREQ(back.name.ptr, "Hello Tool");
    EXPECT_STREQ(back.support.ptr, "http://example.org/s");
    EXPECT_TRUE(back.icon.empty());
    EXPECT_EQ(back.utime, 0xFEDCBA98u);
    EXPECT_EQ(texts(back.files), (std::vector<std::string>{"/t/file0", "/t/file1"}));
    EXPECT_EQ(installtest::listed(back.shortcuts), installtest::listed(second.shortcuts));
    ASSERT_EQ(back.commands.count(), 2);
    EXPECT_STREQ(back.commands.head->value.label.ptr, "Start");
    EXPECT_STREQ(back.commands.tail->value.command.ptr, "/t/doc/README.txt");
    unsigned long long v = 0;
    EXPECT_TRUE(store.getParamInt(kRegLangCurrent, v));
    EXPECT_EQ(v, 2u);
    // Stale keys of the first record are gone.
    _guardchar<char> s;
    EXPECT_FALSE(store.getParamStr("install/org.qmx.hello/file4", s));
    EXPECT_FALSE(store.getParamStr("install/org.qmx.hello/icon", s));
}

TEST(RegistryRoundTrip, InMemory) {
    cMemConfig store;
    roundTrip([&]() -> cApplicationConfig& { return store; }, [] {});
}

TEST(RegistryRoundTrip, RealStoreInTemporaryHome) {
    testutil::TempDir home;
    testutil::EnvScope homeVar("HOME", home.path());
    {
        cCIAppFullConfig* store = new cCIAppFullConfig;
        ASSERT_TRUE(store->create("qmx"));
        ASSERT_TRUE(store->open("qmx"));
        // Reopen from disk before reading back.
        roundTrip([&]() -> cApplicationConfig& { return *store; }, [&] {
            delete store;
            store = new cCIAppFullConfig;
            ASSERT_TRUE(store->open("qmx"));
        });
        delete store;
    }
}

TEST(RegistryRead, DamagedRecordsAreRefused) {
    struct {
        const char* what;
        std::function<void(cMemConfig&)> damage;
    } cases[] = {
        {"no version", [](cMemConfig& s) { s.removeParam("install/org.x/ver"); }},
        {"a listed file missing", [](cMemConfig& s) { s.removeParam("install/org.x/file1"); }},
        {"a listed shortcut missing", [](cMemConfig& s) { s.removeParam("install/org.x/shortc0"); }},
        {"a huge file count", [](cMemConfig& s) { s.setParamInt32("install/org.x/files", 0xFFFFFFFFu); }},
        {"a file count past the cap", [](cMemConfig& s) { s.setParamInt64("install/org.x/shortc", 1ULL << 40); }},
        {"a file stored as a number", [](cMemConfig& s) { s.setParamInt32("install/org.x/file0", 5); }},
    };
    for (auto& c : cases) {
        cMemConfig store;
        sPkgRegistryRecord r;
        sample(r, 2);
        ASSERT_TRUE(ctxToConfig(r, &store, "install/org.x"));
        sPkgRegistryRecord ok;
        ASSERT_TRUE(readRegistryRecord(&store, "org.x", ok)) << c.what;
        c.damage(store);
        sPkgRegistryRecord back;
        EXPECT_FALSE(readRegistryRecord(&store, "org.x", back)) << c.what;
    }
    cMemConfig empty;
    sPkgRegistryRecord back;
    EXPECT_FALSE(readRegistryRecord(&empty, "org.x", back));
    EXPECT_FALSE(readRegistryRecord(&empty, "../org.x", back));
}

}  // namespace
