// Actions: later delivery in queue order, bubbling with the original sender, many
// threads at once, blocking sends, and actions whose element went away.
#include <atomic>
#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "element_testutil.h"

using namespace elemtest;

namespace {

std::atomic<int> gLiveActions{0};

class cSeqAction : public cChildElement::cChildAction {
public:
    cSeqAction(int type, int thread, int seq) : cChildAction(type), thread(thread), seq(seq) { gLiveActions++; }
    ~cSeqAction() override { gLiveActions--; }
    int thread, seq;
};

class cAsk : public cChildElement::cSentChildAction {
public:
    cAsk(int* answer) : cSentChildAction(9), answer(answer) { gLiveActions++; }
    ~cAsk() override { gLiveActions--; }
    int* answer;
};

// Records (thread, seq) of every cSeqAction; answers cAsk with 42.
class cCollector : public cProbe {
public:
    cCollector(const char* name, cLog* log = nullptr) : cProbe(name, log) {}
    std::vector<std::pair<int, int>> got;
    std::function<void(cChildAction*)> onEach;
    bool onAction(cChildElement* sender, cChildAction* a) override {
        if (auto* s = dynamic_cast<cSeqAction*>(a)) got.push_back({s->thread, s->seq});
        if (auto* q = dynamic_cast<cAsk*>(a)) *q->answer = 42;
        if (onEach) onEach(a);
        return true;
    }
};

}  // namespace

TEST(ElementActions, DeliveredOnALaterTurnInQueueOrder) {
    cLog log;
    cCollector* root = new cCollector("R", &log);
    cCollector* a = new cCollector("A");
    cCollector* b = new cCollector("B");
    root->attach(a, 0, 0, 10, 10);
    root->attach(b, 0, 0, 10, 10);
    std::vector<std::pair<int, int>> order;
    auto rec = [&order](cChildElement::cChildAction* x) {
        if (auto* s = dynamic_cast<cSeqAction*>(x)) order.push_back({s->thread, s->seq});
    };
    a->onEach = rec;
    b->onEach = rec;
    root->onEach = rec;
    cChildElement* targets[] = {a, b, a, root, b};
    for (int i = 0; i < 5; i++) EXPECT_TRUE(targets[i]->notifyAction(new cSeqAction(3, 0, i)));
    EXPECT_TRUE(order.empty());  // never synchronous
    EXPECT_EQ(cChildElement::processActions(), 5);
    ASSERT_EQ(order.size(), 5u);
    for (int i = 0; i < 5; i++) EXPECT_EQ(order[i].second, i);

    // An action queued by a handler waits for the next drain.
    order.clear();
    a->onEach = [&](cChildElement::cChildAction* x) {
        rec(x);
        if (auto* s = dynamic_cast<cSeqAction*>(x))
            if (s->seq == 100) a->notifyAction(new cSeqAction(3, 0, 101));
    };
    a->notifyAction(new cSeqAction(3, 0, 100));
    EXPECT_EQ(cChildElement::processActions(), 1);
    ASSERT_EQ(order.size(), 1u);
    EXPECT_EQ(cChildElement::processActions(), 1);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[1].second, 101);
    delete root;
    EXPECT_EQ(gLiveActions.load(), 0);
}

TEST(ElementActions, BubblesUpWithTheOriginalSender) {
    struct Case {
        int takenBy;  // 0 child, 1 parent, 2 grand-parent, 3 nobody
        bool postOnly;
        std::vector<std::string> want;
    } cases[] = {
        {2, false, {"C:act 5 from C", "P:act 5 from C", "G:act 5 from C"}},
        {1, false, {"C:act 5 from C", "P:act 5 from C"}},
        {0, false, {"C:act 5 from C"}},
        {3, false, {"C:act 5 from C", "P:act 5 from C", "G:act 5 from C"}},
        {2, true, {"C:act 5 from C"}},
    };
    for (auto& c : cases) {
        cLog log;
        cProbe* g = new cProbe("G", &log);
        cProbe* p = new cProbe("P", &log);
        cProbe* ch = new cProbe("C", &log);
        g->attach(p, 0, 0, 10, 10);
        p->attach(ch, 0, 0, 5, 5);
        cProbe* who[] = {ch, p, g};
        if (c.takenBy < 3) who[c.takenBy]->myTakeAction = 5;
        if (c.postOnly)
            ch->postAction(new cChildElement::cChildAction(5));
        else
            ch->notifyAction(new cChildElement::cChildAction(5));
        cChildElement::processActions();
        EXPECT_EQ(log.lines, c.want) << "taken by " << c.takenBy << (c.postOnly ? " (post)" : "");
        delete g;
    }
    // A null action is a plain type-0 action.
    cLog log;
    cProbe e("E", &log);
    e.notifyAction(nullptr);
    cChildElement::processActions();
    EXPECT_EQ(log.lines, std::vector<std::string>{"E:act 0 from E"});
}

TEST(ElementActions, ManyThreadsNotifyAndEveryActionArrivesOnceInEachThreadsOrder) {
    cWindowFixture f;
    cCollector* root = new cCollector("R");
    cCollector* kids[3];
    for (auto& k : kids) {
        k = new cCollector("K");
        root->attach(k, 0, 0, 5, 5);
    }
    f.open(root, 50, 50);
    const int threads = 8, perThread = 400;
    std::vector<std::thread> jobs;
    for (int t = 0; t < threads; t++)
        jobs.emplace_back([&, t] {
            for (int i = 0; i < perThread; i++) kids[(t + i) % 3]->notifyAction(new cSeqAction(4, t, i));
        });
    // The UI thread keeps draining while the jobs run.
    auto total = [&] { return kids[0]->got.size() + kids[1]->got.size() + kids[2]->got.size(); };
    bool all = f.pumpUntil([&] { return total() == (size_t)threads * perThread; });
    for (auto& j : jobs) j.join();
    f.pump();
    EXPECT_TRUE(all);
    // Merge the three per-element logs back into per-thread sequences: each element's
    // log must hold a thread's actions in increasing order, and every one exactly once.
    std::map<int, std::vector<int>> seen;
    for (auto* k : kids) {
        std::map<int, int> last;
        for (auto& g : k->got) {
            auto it = last.find(g.first);
            if (it != last.end()) {
                EXPECT_LT(it->second, g.second);
            }
            last[g.first] = g.second;
            seen[g.first].push_back(g.second);
        }
    }
    for (int t = 0; t < threads; t++) {
        auto v = seen[t];
        std::sort(v.begin(), v.end());
        ASSERT_EQ(v.size(), (size_t)perThread);
        for (int i = 0; i < perThread; i++) EXPECT_EQ(v[i], i);
    }
    f.close();
    EXPECT_EQ(gLiveActions.load(), 0);
}

TEST(ElementActions, SendActionBlocksTheJobUntilTheUIThreadAnswered) {
    cWindowFixture f;
    cCollector* root = new cCollector("R");
    f.open(root, 20, 20);
    int answer = 0;
    std::atomic<bool> returned{false};
    bool result = false;
    std::thread job([&] {
        result = root->sendAction(new cAsk(&answer));
        returned = true;
    });
    EXPECT_TRUE(f.pumpUntil([&] { return returned.load(); }));
    job.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(gLiveActions.load(), 0);
}

TEST(ElementActions, SendActionOnTheUIThreadDeliversInOrderInsteadOfBlocking) {
    cCollector* e = new cCollector("E");
    std::vector<int> types;
    e->onEach = [&](cChildElement::cChildAction* a) { types.push_back(a->type); };
    cChildElement::processActions();  // this thread drains: it is the UI thread
    e->notifyAction(new cSeqAction(3, 0, 0));
    int answer = 0;
    EXPECT_TRUE(e->sendAction(new cAsk(&answer)));
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(types, (std::vector<int>{3, 9}));
    delete e;
}

TEST(ElementActions, ActionsForADeletedElementAreDropped) {
    cLog log;
    cProbe* parent = new cProbe("P", &log);
    cProbe* child = new cProbe("C", &log);
    parent->attach(child, 0, 0, 5, 5);
    for (int i = 0; i < 3; i++) child->notifyAction(new cSeqAction(2, 0, i));
    parent->notifyAction(new cSeqAction(2, 0, 9));
    EXPECT_EQ(gLiveActions.load(), 4);
    delete child;
    EXPECT_EQ(gLiveActions.load(), 1);  // freed at once, not left for the drain
    EXPECT_EQ(cChildElement::processActions(), 1);
    EXPECT_EQ(log.lines, std::vector<std::string>{"P:act 2 from P"});
    EXPECT_EQ(gLiveActions.load(), 0);
    EXPECT_FALSE(cChildElement::alive(child));
    EXPECT_TRUE(cChildElement::alive(parent));
    delete parent;
}

TEST(ElementActions, SendToAnElementDeletedWhileTheJobWaitsReturnsFalse) {
    cWindowFixture f;
    cCollector* root = new cCollector("R");
    cCollector* victim = new cCollector("V");
    root->attach(victim, 0, 0, 5, 5);
    f.open(root, 20, 20);
    f.pump();
    long long wakes = f.maker.wakeCount();
    int answer = 0;
    std::atomic<bool> returned{false};
    bool result = true;
    std::thread job([&] {
        result = victim->sendAction(new cAsk(&answer));
        returned = true;
    });
    // Queued (the loop was woken) but not yet delivered: delete the element now.
    for (int i = 0; i < 20000 && f.maker.wakeCount() == wakes; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GT(f.maker.wakeCount(), wakes);
    delete victim;
    EXPECT_TRUE(f.pumpUntil([&] { return returned.load(); }));
    job.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(gLiveActions.load(), 0);
}

TEST(ElementActions, RepaintFromAJobOnlyMarksAndWakes) {
    cWindowFixture f;
    cProbe* root = new cProbe("R", nullptr);
    cProbe* e = new cProbe("E", nullptr);
    root->attach(e, 5, 5, 10, 10);
    f.open(root, 30, 30);
    int before = e->myPaints;
    ASSERT_GT(before, 0);
    long long wakes = f.maker.wakeCount();
    std::thread job([&] {
        for (int i = 0; i < 50; i++) e->repaint();
    });
    job.join();
    EXPECT_EQ(e->myPaints, before);  // nothing drawn off the UI thread
    EXPECT_GT(f.maker.wakeCount(), wakes);
    f.pump();
    EXPECT_GT(e->myPaints, before);
}

TEST(ElementActions, AHandlerThatThrowsStillReleasesTheSender) {
    class cThrower : public cChildElement {
    public:
        bool onAction(cChildElement*, cChildAction*) override { throw cException("boom"); }
    };
    cThrower* t = new cThrower;
    cChildElement::processActions();
    int answer = 0;
    std::atomic<bool> returned{false};
    bool result = false;
    std::thread job([&] {
        result = t->sendAction(new cAsk(&answer));
        returned = true;
    });
    bool threw = false;
    for (int i = 0; i < 20000 && !returned; i++) {
        try {
            cChildElement::processActions();
        } catch (const cException&) {
            threw = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    job.join();
    EXPECT_TRUE(threw);
    EXPECT_TRUE(result);
    EXPECT_EQ(gLiveActions.load(), 0);
    delete t;
}
