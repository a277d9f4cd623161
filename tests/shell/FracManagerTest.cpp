// The active-fractal manager: who is told of which event kind, in which order, and what the
// subscription list does at its limit and while a notification runs.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FracManager.h"

namespace {

// Subscribers that write their name into one shared log; each checks the sender.
struct TLog {
    TFractalManager *Manager = nullptr;
    std::vector<std::string> Calls;
};

struct TSubscriber {
    std::string Name;
    TLog *Log;
    std::function<void()> Then; // what the subscriber does after logging, if anything
    void Event(TObject *Sender) {
        EXPECT_EQ(Sender, Log->Manager) << Name;
        Log->Calls.push_back(Name);
        if (Then)
            Then();
    }
    TNotifyEvent Method() { return MakeNotifyEvent<&TSubscriber::Event>(this); }
};

// Two stand-ins for fractal windows; the manager only keeps and compares their addresses.
char WindowStorage[2];
TFractalForm *const WindowA = reinterpret_cast<TFractalForm *>(&WindowStorage[0]);
TFractalForm *const WindowB = reinterpret_cast<TFractalForm *>(&WindowStorage[1]);

class FracManagerTest : public testing::Test {
protected:
    TFractalManager Manager;
    TLog Log{&Manager, {}};
    TSubscriber A{"A", &Log, nullptr}, B{"B", &Log, nullptr}, C{"C", &Log, nullptr};
};

TEST_F(FracManagerTest, EventKindsReachTheirSubscribersInSubscriptionOrder) {
    struct TCase {
        const char *What;
        std::function<void()> Run;
        std::vector<std::string> Expected;
    };
    // Subscribed per case: A for {1}, B for {0}, C for every kind 0..7.
    const TCase cases[] = {
        {"activating the active window sends nothing",
         [&] {
             Manager.SetActiveFractal(WindowA);
             Log.Calls.clear();
             Manager.SetActiveFractal(WindowA);
         },
         {}},
        {"activating another window sends kind 1, then kind 0",
         [&] {
             Manager.SetActiveFractal(WindowA);
             Log.Calls.clear();
             Manager.SetActiveFractal(WindowB);
         },
         {"A", "C", "B", "C"}},
        {"clearing the active window is a change as well",
         [&] {
             Manager.SetActiveFractal(WindowA);
             Log.Calls.clear();
             Manager.SetActiveFractal(nullptr);
         },
         {"A", "C", "B", "C"}},
        {"a subscriber for {1} hears nothing of kinds 0, 2 and 3",
         [&] {
             for (int kind : {fekInteraction, fekCalculation, fekProgress})
                 Manager.Notify(kind);
         },
         {"B", "C", "C", "C"}},
        {"kinds of 8 and more reach nobody",
         [&] {
             Manager.Notify(7);
             Manager.Notify(8);
             Manager.Notify(255);
             Manager.Notify(-1);
         },
         {"C"}},
        {"unsubscribing a method never subscribed changes nothing",
         [&] {
             TSubscriber stranger{"X", &Log, nullptr};
             Manager.Unsubscribe(stranger.Method());
             Manager.Notify(fekFractal);
         },
         {"A", "C"}},
        {"a changed event set takes effect at once",
         [&] {
             Manager.ChangeEvents(B.Method(), FractalEventSet({fekInteraction, fekFractal, fekProgress}));
             Manager.Notify(fekFractal);
             Manager.Notify(fekProgress);
         },
         {"A", "B", "C", "B", "C"}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.What);
        Manager.SetActiveFractal(nullptr);
        for (TSubscriber *s : {&A, &B, &C})
            Manager.Unsubscribe(s->Method());
        ASSERT_EQ(Manager.Count(), 0);
        Manager.Subscribe(FractalEventSet({fekFractal}), A.Method());
        Manager.Subscribe(FractalEventSet({fekInteraction}), B.Method());
        Manager.Subscribe(0xFF, C.Method());
        Log.Calls.clear();
        c.Run();
        EXPECT_EQ(Log.Calls, c.Expected);
    }
    // The window that became active is the one the subscribers read while they are told.
    TFractalForm *seen = nullptr;
    A.Then = [&] { seen = Manager.ActiveFractal(); };
    Manager.SetActiveFractal(WindowA);
    EXPECT_EQ(seen, WindowA);
}

TEST_F(FracManagerTest, EmptyManagerNotifiesNobodyAndIgnoresUnknownMethods) {
    for (int kind = 0; kind < 8; ++kind)
        Manager.Notify(kind);
    Manager.Unsubscribe(A.Method());
    Manager.ChangeEvents(A.Method(), 0xFF);
    Manager.SetActiveFractal(WindowA);
    EXPECT_EQ(Manager.Count(), 0);
    EXPECT_EQ(Manager.ActiveFractal(), WindowA);
    EXPECT_TRUE(Log.Calls.empty());
}

TEST_F(FracManagerTest, ASecondSubscriptionOfAMethodIsRemovedAndChangedOnlyAfterTheFirst) {
    Manager.Subscribe(FractalEventSet({fekInteraction}), A.Method());
    Manager.Subscribe(FractalEventSet({fekInteraction}), B.Method());
    Manager.Subscribe(FractalEventSet({fekFractal}), A.Method());
    Manager.Notify(fekInteraction);
    Manager.Notify(fekFractal);
    EXPECT_EQ(Log.Calls, (std::vector<std::string>{"A", "B", "A"}));

    // Only the first subscription's set changes.
    Manager.ChangeEvents(A.Method(), FractalEventSet({fekProgress}));
    EXPECT_EQ(Manager.Events(0), FractalEventSet({fekProgress}));
    EXPECT_EQ(Manager.Events(2), FractalEventSet({fekFractal}));

    // Unsubscribing removes the first one; the later ones move up.
    Manager.Unsubscribe(A.Method());
    ASSERT_EQ(Manager.Count(), 2);
    EXPECT_EQ(Manager.Method(0), B.Method());
    EXPECT_EQ(Manager.Method(1), A.Method());
    EXPECT_EQ(Manager.Events(1), FractalEventSet({fekFractal}));
    Log.Calls.clear();
    Manager.Notify(fekProgress);
    Manager.Notify(fekFractal);
    EXPECT_EQ(Log.Calls, std::vector<std::string>{"A"});
}

TEST_F(FracManagerTest, TheSubscriptionPastTheLimitIsRefusedAndChangesNothing) {
    for (int i = 0; i < TFractalManager::MaxSubscriptions; ++i)
        Manager.Subscribe(FractalEventSet({fekInteraction}), A.Method());
    ASSERT_EQ(Manager.Count(), 1024);
    try {
        Manager.Subscribe(FractalEventSet({fekFractal}), B.Method());
        ADD_FAILURE() << "the 1025th subscription was taken";
    } catch (const Exception &error) {
        EXPECT_STREQ(error.what(), "TFractalManager.Subscribe: Too many subscriptions");
    }
    EXPECT_EQ(Manager.Count(), 1024);
    Manager.Notify(fekFractal);
    EXPECT_TRUE(Log.Calls.empty());
    Manager.Notify(fekInteraction);
    EXPECT_EQ(Log.Calls.size(), 1024u);
    // Room for one again after a removal.
    Manager.Unsubscribe(A.Method());
    Manager.Subscribe(FractalEventSet({fekFractal}), B.Method());
    EXPECT_EQ(Manager.Count(), 1024);
}

// A tool window that goes while the manager tells the windows (it unsubscribes in its destructor)
// is not called afterwards; one that comes is told from the next notification on.
TEST_F(FracManagerTest, SubscriptionsChangedDuringANotificationAreRespected) {
    TSubscriber late{"late", &Log, nullptr};
    A.Then = [&] {
        Manager.Unsubscribe(B.Method());
        Manager.Unsubscribe(A.Method());
        Manager.Subscribe(0xFF, late.Method());
    };
    Manager.Subscribe(0xFF, A.Method());
    Manager.Subscribe(0xFF, B.Method());
    Manager.Subscribe(0xFF, C.Method());
    Manager.Notify(fekCalculation);
    EXPECT_EQ(Log.Calls, (std::vector<std::string>{"A", "C"}));
    Log.Calls.clear();
    Manager.Notify(fekCalculation);
    EXPECT_EQ(Log.Calls, (std::vector<std::string>{"C", "late"}));
}

TEST(FracManagerModule, LivesFromInitializationToFinalization) {
    ASSERT_EQ(FractalManager(), nullptr);
    InitializeFracManager();
    ASSERT_NE(FractalManager(), nullptr);
    EXPECT_EQ(FractalManager()->Count(), 0);
    EXPECT_EQ(FractalManager()->ActiveFractal(), nullptr);
    FinalizeFracManager();
    EXPECT_EQ(FractalManager(), nullptr);
}

} // namespace
