// The navigation bar: segments and full paths for absolute, relative and slash-heavy
// paths, the visit history, a provider's whole navigation across threads (busy refusal,
// the done report, the return to normal mode), and the estimated progress job.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "controls_testutil.h"
#include "ui/controls/navigation.h"

using namespace ctltest;

namespace {

// A provider whose worker waits until the test opens the gate.
class cGateProvider : public cNavigationProvider {
public:
    std::atomic<bool> open{true};
    std::atomic<int> reads{0};
    ~cGateProvider() override { terminate(4000); }
    bool canAcceptPath(const char* path) override { return !path || strcmp(path, "/refused") != 0; }
    unsigned int navigationProc(const char* path) override {
        while (!open.load() && !haveToStop()) sleep(2);
        reads++;
        return 0;
    }
};

// Records the fractions the progress job delivers.
class cRecordingBar : public cNavigationChild {
public:
    std::vector<double> fractions;
    bool onAction(cChildElement* sender, cChildAction* action) override {
        auto* f = dynamic_cast<cNaviFakeProgressRecvAction*>(action);
        if (sender == this && f) fractions.push_back(f->fraction);
        return cNavigationChild::onAction(sender, action);
    }
};

struct cNaviFixture : cFixture {
    cRecordingBar* bar = nullptr;
    int ends = 0;
    cNaviFixture() {
        openRecorder(400, 60);
        bar = new cRecordingBar;
        rec->attach(bar, 10, 10, 380, 22);
        rec->inspect = [this](cChildElement* s, cChildElement::cChildAction* a) {
            auto* p = dynamic_cast<cNavigationChild::cNaviSetPathAction*>(a);
            if (s == bar && p && !p->path.ptr) {
                ends++;
                bar->postAction(new cChildElement::cChildAction(9));  // as the file chooser does
            }
        };
        pump();
    }
    std::vector<std::string> segments() {
        std::vector<std::string> out;
        for (int id = 0; id < 10; id++) {
            const char* p = bar->segmentPath(id);
            if (p) out.push_back(std::to_string(id) + ":" + bar->segmentText(id) + "=" + p);
        }
        return out;
    }
};

}  // namespace

TEST(Navigation, SegmentsAndFullPaths) {
    typedef std::vector<std::string> V;
    struct sCase {
        const char* path;
        bool slash;
        V want;
    } cases[] = {
        {"/usr/local", true, {"1:/=/", "2:usr=/usr", "3:local=/usr/local"}},
        {"/usr/local", false, {"2:usr=/usr", "3:local=/usr/local"}},
        {"usr//local/", true, {"1:usr=usr", "2:local=usr//local"}},
        {"//a//b", true, {"1:/=/", "2:a=//a", "3:b=//a//b"}},
        {"/", true, {"1:/=/"}},
        {"/", false, {}},
        {"a/b", true, {"1:a=a", "2:b=a/b"}},
        {nullptr, true, {}},
    };
    for (auto& c : cases) {
        cNaviFixture f;
        f.bar->setShowRootSlash(c.slash);
        f.bar->setPath(c.path);
        EXPECT_EQ(f.segments(), c.want) << (c.path ? c.path : "(null)") << " slash " << c.slash;
        // Button 0 (the folder) stands whenever there is a path; one button per segment.
        EXPECT_EQ(f.bar->segmentRow()->findButton(0) != nullptr, c.path != nullptr);
        for (int id = 1; id < 5; id++)
            EXPECT_EQ(f.bar->segmentRow()->findButton(id) != nullptr, f.bar->segmentPath(id) != nullptr);
        EXPECT_EQ(f.bar->history()->count(), c.path ? 1 : 0);
    }
}

TEST(Navigation, HistoryKeepsOneEntryPerPathNewestFirst) {
    cNaviFixture f;
    f.bar->setPath("/A");
    f.bar->setPath("/B");
    f.bar->setPath("/A");
    std::vector<std::string> seen;
    _guardchar<char> p;
    for (void* it = f.bar->history()->next(nullptr, p); it; it = f.bar->history()->next(it, p)) seen.push_back(p.ptr);
    EXPECT_EQ(seen, (std::vector<std::string>{"/A", "/B"}));
    f.bar->goEditMode();
    EXPECT_EQ(f.bar->naviMode(), cNavigationChild::nmEdit);
    EXPECT_STREQ(f.bar->pathEdit()->text(0), "/A");
    EXPECT_STREQ(f.bar->pathEdit()->text(1), "/B");
    EXPECT_EQ(f.bar->pathEdit()->selected(), 0);
    f.key(kKeyEscape);  // the first Escape drops the edit's selection, the second leaves
    f.key(kKeyEscape);
    EXPECT_EQ(f.bar->naviMode(), cNavigationChild::nmNormal);
    f.bar->clearHist();
    EXPECT_EQ(f.bar->history()->count(), 0);
}

TEST(Navigation, ProviderRunRefusesWhileBusyAndEndsInNormalMode) {
    cNaviFixture f;
    cGateProvider provider;
    f.bar->setNavigationProvider(&provider);
    EXPECT_FALSE(f.bar->navigate("/refused"));
    EXPECT_EQ(f.bar->path(), nullptr);
    provider.open = false;
    ASSERT_TRUE(f.bar->navigate("/usr/share"));
    EXPECT_EQ(f.bar->naviMode(), cNavigationChild::nmProgress);
    EXPECT_FALSE(f.bar->segmentRow()->enabled());
    // A second navigation while the first runs: refused, nothing changes.
    EXPECT_FALSE(f.bar->navigate("/tmp"));
    EXPECT_STREQ(f.bar->path(), "/usr/share");
    provider.open = true;
    f.pumpUntil([&] { return f.ends != 0; }, 30000);
    EXPECT_EQ(f.ends, 1);
    EXPECT_EQ(f.bar->naviMode(), cNavigationChild::nmNormal);
    EXPECT_TRUE(f.bar->segmentRow()->enabled());
    // Ended quickly: the bar heard only the final 1.0, no moving estimate.
    EXPECT_EQ(f.bar->fractions, (std::vector<double>{1.0}));
    // Right after the end report a new navigation is accepted.
    ASSERT_TRUE(f.bar->navigate("/usr"));
    f.pumpUntil([&] { return f.ends >= 2; }, 30000);
    EXPECT_EQ(f.ends, 2);
    EXPECT_EQ(provider.reads.load(), 2);
}

TEST(Navigation, EstimateRisesAfterTheDelayAndStaysEndedAfterTheEnd) {
    cNaviFixture f;
    cFakeNavigationProgressJob* job = f.bar->progressJob();
    f.bar->goProgressMode();
    // About 1.2 s pass before the first fraction (0.0, which starts the bar's animation).
    f.pumpUntil([&] { return f.bar->fractions.size() >= 3; }, 30000);
    ASSERT_GE(f.bar->fractions.size(), 3u);
    EXPECT_NEAR(f.bar->fractions[0], 0.0, 1e-9);
    EXPECT_GT(f.bar->fractions[2], f.bar->fractions[1]);
    EXPECT_NEAR(f.bar->fractions[1], 0.6366197723675814 * std::atan(0.05), 1e-9);
    f.bar->goNormalMode();
    size_t n = f.bar->fractions.size();
    // The job's next ticks must not revive the ended value.
    cJob::sleep(450);
    f.pump();
    EXPECT_DOUBLE_EQ(job->value(), -1.0);
    // After the 1.0 at most one fraction a tick had under way may still arrive.
    auto end = std::find(f.bar->fractions.begin() + (long)n - 1, f.bar->fractions.end(), 1.0);
    ASSERT_NE(end, f.bar->fractions.end());
    EXPECT_LE(f.bar->fractions.end() - end, 2);
}
