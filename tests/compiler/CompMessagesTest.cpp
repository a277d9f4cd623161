#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CompMessages.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenSetup.h"

namespace {

TEST(CompileError, TextCodeAndPosition) {
    ECompileError tab(4, "'\t'", {3, 7});
    EXPECT_EQ(tab.Message(), "Invalid character encountered: '\t'");
    EXPECT_EQ(tab.Code, 4);
    EXPECT_EQ(tab.Line, 3);
    EXPECT_EQ(tab.Column, 7);

    struct TCase {
        int Code;
        const char *Text;
    } cases[] = {{6, "Unterminated string (\" expected)"},
                 {9, "')' expected"},
                 {65, "Parameters are not allowed here"},
                 {0, ""},
                 {66, ""}};
    for (const TCase &c : cases) {
        EXPECT_EQ(GetErrorText(c.Code), c.Text) << c.Code;
        EXPECT_EQ(ECompileError(static_cast<std::uint8_t>(c.Code), TCompilePosition{}).Message(), c.Text);
    }
}

TEST(CompileError, WarningAndRunTimeTexts) {
    EXPECT_EQ(GetWarningText(1), "Result of expression is ignored.");
    EXPECT_EQ(GetWarningText(10), "Function oldz is deprecated.");
    EXPECT_EQ(GetRuntimeErrorText(2), "Arrays are not compatible.");
    for (int code : {0, 11, -1, 255})
        EXPECT_EQ(GetWarningText(code), "") << code;
    for (int code : {0, 3, -1})
        EXPECT_EQ(GetRuntimeErrorText(code), "") << code;
}

// A message list with a counter of its notifications. Two objects stand for two formulas.
class TErrorManagerFixture : public testing::Test, public TObject {
protected:
    void SetUp() override { Manager.AddHandler(MakeNotifyEvent<&TErrorManagerFixture::Notified>(this)); }
    void Notified(TObject *Sender) {
        EXPECT_EQ(Sender, &Manager);
        ++Notifications;
    }
    std::vector<std::string> Texts() {
        TScopeLock<TNotificationManager> lock(Manager);
        std::vector<std::string> texts;
        for (int i = 0; i < Manager.GetCount(); ++i)
            texts.push_back(Manager.GetMessage(i).Text);
        return texts;
    }

    TErrorManager Manager;
    int Notifications = 0; // handlers run inside the manager's lock
    TObject Formula, Other;
};

TEST_F(TErrorManagerFixture, SetFormula) {
    Manager.SetFormula(&Formula);
    EXPECT_EQ(Notifications, 1);
    Manager.AddError(&Formula, 3, {1, 2}, "Syntax error in literal number.");
    Notifications = 0;
    Manager.SetFormula(&Formula);
    EXPECT_EQ(Notifications, 0) << "the same object changes nothing";
    EXPECT_EQ(Manager.GetCount(), 1);
    Manager.SetFormula(&Other);
    EXPECT_EQ(Notifications, 1);
    EXPECT_EQ(Manager.GetCount(), 0);
    EXPECT_EQ(Manager.GetFormula(), &Other);
    Manager.ClearFormula();
    EXPECT_EQ(Manager.GetFormula(), nullptr);
}

TEST_F(TErrorManagerFixture, MessagesOfOtherObjectsAreDropped) {
    Manager.SetFormula(&Formula);
    Notifications = 0;
    Manager.AddError(&Other, 1, {}, "x");
    Manager.AddWarning(&Other, 1, "x", {});
    Manager.AddOutput(&Other, {}, okPrint, "x", "entry", "file");
    Manager.EndCompile(&Other);
    EXPECT_EQ(Manager.GetCount(), 0);
    EXPECT_EQ(Notifications, 0);
}

TEST_F(TErrorManagerFixture, WarningsAreKeptInPositionOrder) {
    Manager.SetFormula(&Formula);
    Manager.BeginCompile(&Formula);
    struct TWarning {
        const char *Text;
        TCompilePosition Position;
    } warnings[] = {{"b", {5, 1}},     {"a", {2, 9}},     {"c", {5, 0}},
                    {"first", {5, 1}}, {"later", {5, 1}}, {"d", {9, 0}}};
    for (const TWarning &w : warnings)
        Manager.AddWarning(&Formula, 1, w.Text, w.Position);
    // At the same place the later warning comes first.
    EXPECT_EQ(Texts(), (std::vector<std::string>{"a", "c", "later", "first", "b", "d"}));
    EXPECT_EQ(Notifications, 1) << "only SetFormula notified; warnings wait for EndCompile";
    Manager.EndCompile(&Formula);
    EXPECT_EQ(Notifications, 2);
    const TCompilerMessage message = Manager.GetMessage(0);
    EXPECT_EQ(message.Kind, mkWarning);
    EXPECT_EQ(message.WarningCode, 1);
    EXPECT_EQ(message.Line, 2);
    EXPECT_EQ(message.Column, 9);
}

TEST_F(TErrorManagerFixture, CompileClearsAndClearOutputKeepsTheRest) {
    Manager.SetFormula(&Formula);
    Manager.AddOutput(&Formula, {1, 1}, okPrint, "old output", "e", "f");
    Manager.BeginCompile(&Other);
    EXPECT_EQ(Manager.GetCount(), 1) << "another object's compile leaves the list alone";
    Manager.BeginCompile(&Formula);
    EXPECT_EQ(Manager.GetCount(), 0);
    Manager.AddWarning(&Formula, 2, "warning", {1, 0});
    Manager.AddError(&Formula, 9, {2, 4}, "')' expected.");
    Manager.AddOutput(&Formula, {3, 0}, okArrayIndexOutOfBounds, "Array index out of bounds.", "entry",
                      "file.ofm");
    Notifications = 0;
    Manager.ClearOutput();
    EXPECT_EQ(Notifications, 1);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"warning", "')' expected."}));
    EXPECT_EQ(Manager.GetMessage(1).ErrorCode, 9);
    EXPECT_EQ(Manager.GetMessage(1).Kind, mkError);
    // A message handed out stays whole when the next compile empties the list.
    const TCompilerMessage kept = Manager.GetMessage(0);
    Manager.BeginCompile(&Formula);
    Manager.AddError(&Formula, 4, {7, 7}, "replacement");
    EXPECT_EQ(kept.Text, "warning");
    EXPECT_EQ(kept.WarningCode, 2);
    EXPECT_THROW(Manager.GetMessage(1), EListError);
}

// Output past the limit is cut off with one note; the list takes output again once cleared.
TEST_F(TErrorManagerFixture, OutputLimit) {
    bool started = ConfigManager() == nullptr;
    if (started) {
        InitializeGenProgram();
        InitializeGenRegistry();
        InitializeGenSetup();
    }
    int saved = ConfigManager()->General->RunTimeMessageCount;
    ConfigManager()->General->RunTimeMessageCount = 10;

    Manager.SetFormula(&Formula);
    for (int i = 0; i < 20; ++i)
        Manager.AddOutput(&Formula, {i, 0}, okPrint, "line " + std::to_string(i), "entry", "file");
    std::vector<std::string> texts = Texts();
    ASSERT_EQ(texts.size(), 12u);
    EXPECT_EQ(texts[10], "line 10");
    EXPECT_EQ(texts[11], "Too many messages.");
    EXPECT_EQ(Manager.GetMessage(11).OutputKind, okPrint);
    EXPECT_EQ(Manager.GetMessage(3).EntryName, "entry");
    EXPECT_EQ(Manager.GetMessage(3).FileName, "file");
    EXPECT_EQ(Manager.GetOutputCount(), -1);
    Manager.ClearOutput();
    Manager.AddOutput(&Formula, {}, okPrint, "again", "entry", "file");
    EXPECT_EQ(Texts(), std::vector<std::string>{"again"});

    ConfigManager()->General->RunTimeMessageCount = saved;
    if (started) {
        FinalizeGenSetup();
        FinalizeGenRegistry();
        FinalizeGenProgram();
    }
}

// Calculation threads add output while another thread reads the list under its lock.
TEST_F(TErrorManagerFixture, OutputFromSeveralThreads) {
    Manager.SetFormula(&Formula);
    constexpr int ThreadCount = 4;
    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};
    TEvent done(true, false);
    std::vector<std::thread> writers;
    for (int t = 0; t < ThreadCount; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i)
                Manager.AddOutput(&Formula, {t, i}, okPrint, "x", "entry", "file");
            if (++finished == ThreadCount)
                done.SetEvent();
        });
    std::atomic<bool> emptyText{false};
    // The reader follows the formula too, so its own list fills while it reads.
    std::thread reader([&] {
        Manager.SetFormula(&Formula);
        while (!stop) {
            TScopeLock<TNotificationManager> lock(Manager);
            for (int i = 0; i < Manager.GetCount(); ++i)
                if (Manager.GetMessage(i).Text.empty())
                    emptyText = true;
        }
        Manager.ClearFormula();
    });
    EXPECT_EQ(done.WaitFor(60000), TEvent::wrSignaled);
    stop = true;
    for (std::thread &writer : writers)
        writer.join();
    reader.join();
    EXPECT_FALSE(emptyText);
    // 100 kept, one more, and the note (the default limit without a configuration is 100).
    int limit = ConfigManager() ? ConfigManager()->General->RunTimeMessageCount : 100;
    EXPECT_EQ(Manager.GetCount(), limit + 2);
    EXPECT_EQ(Manager.GetMessage(limit + 1).Text, "Too many messages.");
}

// Each thread follows an object of its own: a worker compiling another object neither empties nor
// fills the list of the thread that shows a formula, output of the shown formula from any thread
// reaches that thread's list only, and a freed object is forgotten by every thread.
TEST_F(TErrorManagerFixture, EachThreadSeesTheMessagesOfTheObjectItFollows) {
    Manager.SetFormula(&Formula);
    Manager.BeginCompile(&Formula);
    Manager.AddWarning(&Formula, 2, "shown warning", {1, 0});
    Manager.EndCompile(&Formula);

    TEvent following(true, false), compiled(true, false), checked(true, false), done(true, false);
    std::vector<std::string> workerTexts;
    const TObject *workerFormula = nullptr;
    const TObject *workerAfterForget = &Other;
    std::thread worker([&] {
        EXPECT_EQ(Manager.GetFormula(), nullptr) << "a thread follows nothing at first";
        EXPECT_EQ(Manager.GetCount(), 0);
        Manager.SetFormula(&Other);
        following.SetEvent();
        // The shown formula compiles again meanwhile; this list must not change.
        EXPECT_EQ(compiled.WaitFor(60000), TEvent::wrSignaled);
        Manager.BeginCompile(&Other);
        Manager.AddWarning(&Other, 3, "worker warning", {4, 1});
        Manager.AddError(&Other, 9, {5, 2}, "')' expected.");
        Manager.EndCompile(&Other);
        workerFormula = Manager.GetFormula();
        workerTexts = Texts();
        checked.SetEvent();
        EXPECT_EQ(done.WaitFor(60000), TEvent::wrSignaled);
        workerAfterForget = Manager.GetFormula();
    });
    ASSERT_EQ(following.WaitFor(60000), TEvent::wrSignaled);
    EXPECT_TRUE(Manager.IsFollowed(&Other));
    EXPECT_EQ(Texts(), std::vector<std::string>{"shown warning"})
        << "another thread's choice empties nothing";
    Manager.BeginCompile(&Formula);
    Manager.AddError(&Formula, 3, {2, 2}, "Syntax error in literal number.");
    Manager.EndCompile(&Formula);
    compiled.SetEvent();
    ASSERT_EQ(checked.WaitFor(60000), TEvent::wrSignaled);
    EXPECT_EQ(workerFormula, &Other);
    EXPECT_EQ(workerTexts, (std::vector<std::string>{"worker warning", "')' expected."}));
    EXPECT_EQ(Texts(), std::vector<std::string>{"Syntax error in literal number."});

    // Output of the shown formula, added by a calculation thread.
    std::thread calculation([&] {
        Manager.AddOutput(&Formula, {3, 0}, okPrint, "printed", "entry", "file");
    });
    calculation.join();
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Syntax error in literal number.", "printed"}));
    EXPECT_EQ(Manager.GetOutputCount(), 1);

    // The worker's object is freed: no thread follows it any more.
    Notifications = 0;
    Manager.Forget(&Other);
    EXPECT_EQ(Notifications, 1);
    EXPECT_FALSE(Manager.IsFollowed(&Other));
    done.SetEvent();
    worker.join();
    EXPECT_EQ(workerAfterForget, nullptr);
    EXPECT_EQ(Manager.GetFormula(), &Formula);
    EXPECT_EQ(Manager.GetCount(), 2);
}

TEST(ErrorManager, GlobalInstance) {
    bool started = ErrorManager() == nullptr;
    if (started)
        InitializeCompMessages();
    ASSERT_NE(ErrorManager(), nullptr);
    if (started) {
        FinalizeCompMessages();
        EXPECT_EQ(ErrorManager(), nullptr);
    }
}

} // namespace
