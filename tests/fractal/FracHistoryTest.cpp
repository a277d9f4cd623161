#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "FracHistory.h"

namespace {

std::string ReadAll(THistoryDataStream &Stream) {
    Stream.SetPosition(0);
    std::string text(static_cast<std::size_t>(Stream.Size()), '\0');
    if (!text.empty())
        Stream.ReadBuffer(text.data(), static_cast<std::int32_t>(text.size()));
    return text;
}

void WriteAll(THistoryDataStream &Stream, const std::string &Text) {
    Stream.SetSize(0);
    Stream.SetPosition(0);
    Stream.WriteBuffer(Text.data(), static_cast<std::int32_t>(Text.size()));
}

// A history of documents with one layer; step i's state is "state i".
struct TDocumentHistory {
    explicit TDocumentHistory(std::int64_t MemoryBudget = 1 << 30, int MaxCount = 32)
        : Manager("", MemoryBudget), History(MaxCount, true, &Manager) {}

    void AddStep(const std::string &State) {
        History.Add("Step", State);
        if (History.GetCurrent()->Data->GetCount() == 0)
            History.GetCurrent()->Data->Insert(0);
    }
    THistoryDataStream &Layer(int Step) { return *History.GetItem(Step)->Data->GetItem(0); }

    THistoryDataManager Manager;
    THistoryList History;
};

} // namespace

TEST(FracHistory, UndoRedoAndRedoStepsFollowTheCurrentStep) {
    THistoryList history(5, false);
    int changes = 0;
    struct TCounter {
        int *Count;
        void Changed(TObject *) { ++*Count; }
    } counter{&changes};
    history.OnChange = MakeNotifyEvent<&TCounter::Changed>(&counter);
    EXPECT_THROW(history.GetCurrent(), EHistoryError);
    for (int i = 0; i < 4; ++i)
        history.Add("Step " + std::to_string(i), "state " + std::to_string(i));
    EXPECT_EQ(changes, 0);
    history.Redo(); // at the last step: nothing
    EXPECT_EQ(history.ItemIndex(), 3);
    history.Undo();
    history.Undo();
    EXPECT_EQ(history.GetCurrent()->State, "state 1");
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(history.CanRedo());
    history.Add("New", "state new"); // the two redo steps go first
    EXPECT_EQ(history.GetCount(), 3);
    EXPECT_EQ(history.GetCurrent()->State, "state new");
    EXPECT_FALSE(history.CanRedo());
    history.SetItemIndex(0);
    history.Undo(); // at step 0: nothing
    EXPECT_EQ(history.ItemIndex(), 0);
    EXPECT_EQ(changes, 3);
    try {
        history.SetItemIndex(3);
        ADD_FAILURE();
    } catch (const EHistoryError &e) {
        EXPECT_EQ(e.Message(), "History list index out of range");
    }
    history.Recording = false;
    history.Add("Ignored", "ignored");
    EXPECT_EQ(history.GetCount(), 3);
    EXPECT_EQ(history.ItemIndex(), 0);
    history.Recording = true;
    for (int i = 0; i < 6; ++i)
        history.Add("More", "more " + std::to_string(i));
    EXPECT_EQ(history.GetCount(), 5); // the oldest steps were freed
    EXPECT_EQ(history.GetItem(0)->State, "more 1");
    history.Undo();
    history.Clear();
    EXPECT_EQ(history.GetCount(), 1);
    EXPECT_EQ(history.GetCurrent()->State, "more 4");
}

TEST(FracHistory, AFreshStreamCannotBeRead) {
    THistoryDataManager manager("", 1 << 20);
    THistoryDataStream stream(manager);
    char byte;
    try {
        stream.Read(&byte, 1);
        ADD_FAILURE();
    } catch (const EHistoryError &e) {
        EXPECT_EQ(e.Message(), "History stream is still empty");
    }
    EXPECT_THROW(stream.Seek(0, soFromBeginning), EHistoryError);
    EXPECT_EQ(stream.Size(), 0);
}

TEST(FracHistory, StreamsShareDataUntilWritten) {
    TDocumentHistory doc;
    doc.AddStep("state 0");
    doc.AddStep("state 1"); // made before step 0 had data: step 0 will read what step 1 receives
    doc.AddStep("state 2");
    WriteAll(doc.Layer(2), "image 2");
    EXPECT_EQ(ReadAll(doc.Layer(0)), "image 2");
    EXPECT_EQ(ReadAll(doc.Layer(1)), "image 2");
    doc.AddStep("state 3"); // shares step 2's data
    EXPECT_EQ(ReadAll(doc.Layer(3)), "image 2");
    WriteAll(doc.Layer(3), "image 3");
    EXPECT_EQ(ReadAll(doc.Layer(2)), "image 2");
    EXPECT_EQ(ReadAll(doc.Layer(3)), "image 3");
    // Writing an older step's stream leaves the newer steps that shared it as they were.
    doc.AddStep("state 4");
    doc.History.SetItemIndex(3);
    WriteAll(doc.Layer(3), "image 3 again");
    EXPECT_EQ(ReadAll(doc.Layer(4)), "image 3");
    EXPECT_EQ(ReadAll(doc.Layer(2)), "image 2");
}

TEST(FracHistory, TheOldestStepLeavesACopyOfItsSharedData) {
    TDocumentHistory doc;
    doc.AddStep("state 0");
    WriteAll(doc.Layer(0), "the oldest image");
    for (int i = 1; i < 32; ++i)
        doc.AddStep("state " + std::to_string(i));
    ASSERT_EQ(doc.History.GetCount(), 32);
    doc.AddStep("state 32");
    EXPECT_EQ(doc.History.GetCount(), 32);
    EXPECT_EQ(doc.History.GetItem(0)->State, "state 1");
    for (int i = 0; i < 32; ++i)
        ASSERT_EQ(ReadAll(doc.Layer(i)), "the oldest image") << i;
    // Redo steps that lent their data to older steps leave copies with them.
    TDocumentHistory lent;
    lent.AddStep("state 0");
    lent.AddStep("state 1");
    lent.AddStep("state 2");
    WriteAll(lent.Layer(2), "written last");
    lent.History.SetItemIndex(0);
    lent.AddStep("after undo");
    EXPECT_EQ(lent.History.GetCount(), 2);
    EXPECT_EQ(ReadAll(lent.Layer(0)), "written last");
    EXPECT_EQ(ReadAll(lent.Layer(1)), "written last");
}

TEST(FracHistory, ABudgetSqueezeDropsOnlyDataTheCurrentStepDoesNotHold) {
    TDocumentHistory doc(0); // no unlocked data may stay in memory
    doc.AddStep("state 0");
    WriteAll(doc.Layer(0), std::string(1000, 'a'));
    doc.AddStep("state 1"); // shares step 0's block, which must stay while step 1 is current
    doc.AddStep("state 2");
    WriteAll(doc.Layer(2), std::string(1000, 'c'));
    doc.AddStep("state 3");
    WriteAll(doc.Layer(3), std::string(500, 'd'));
    EXPECT_EQ(ReadAll(doc.Layer(3)), std::string(500, 'd'));
    // Steps 0 to 2 are not current: their blocks went (they read back empty, and their owner
    // recalculates); the states are all there.
    doc.History.Undo();
    EXPECT_EQ(doc.History.GetCurrent()->State, "state 2");
    EXPECT_EQ(ReadAll(doc.Layer(2)), "");
    doc.History.Undo();
    doc.History.Undo();
    EXPECT_EQ(doc.History.GetCurrent()->State, "state 0");
    // The current step keeps data it shares with another step while it is current.
    TDocumentHistory shared(0);
    shared.AddStep("state 0");
    WriteAll(shared.Layer(0), "shared image");
    shared.AddStep("state 1");
    shared.AddStep("state 2"); // touches other blocks
    EXPECT_EQ(ReadAll(shared.Layer(2)), "shared image");
}

TEST(FracHistory, BlocksThatLeaveMemorySpillToFilesWithinTheDiskBudget) {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    std::string folder = std::string(temp) + "FracHistoryTest" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string stale = folder + "\\OBH1234.tmp";
    CloseHandle(CreateFileA(stale.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    {
        THistoryDataManager manager(folder, 0, 1500);
        EXPECT_EQ(GetFileAttributesA(stale.c_str()), INVALID_FILE_ATTRIBUTES); // stale swap file deleted
        THistoryList history(8, true, &manager);
        history.Add("0", "s0");
        THistoryDataStream *first = history.GetCurrent()->Data->Insert(0);
        WriteAll(*first, std::string(1000, 'x'));
        history.Add("1", "s1");
        WriteAll(*history.GetCurrent()->Data->GetItem(0), std::string(1000, 'y'));
        history.Add("2", "s2");
        WriteAll(*history.GetCurrent()->Data->GetItem(0), std::string(1000, 'z'));
        // Step 0's block went to a file and then made room for step 1's; only step 1 survives.
        EXPECT_EQ(first->Data()->State(), THistoryData::hsNone);
        THistoryData *second = history.GetItem(1)->Data->GetItem(0)->Data();
        EXPECT_EQ(second->State(), THistoryData::hsFile);
        EXPECT_EQ(second->FileName().substr(folder.size() + 1, 3), "OBH");
        history.Undo();
        EXPECT_EQ(ReadAll(*history.GetCurrent()->Data->GetItem(0)), std::string(1000, 'y'));
        EXPECT_EQ(ReadAll(*history.GetItem(0)->Data->GetItem(0)), "");
    }
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str())); // no swap file is left behind
}

TEST(FracHistory, AResetStreamIsEmptyAndUnsharedAndItsNeighboursKeepTheirData) {
    TDocumentHistory doc;
    doc.AddStep("state 0");
    WriteAll(doc.Layer(0), "image 0");
    doc.AddStep("state 1");
    doc.AddStep("state 2"); // reads step 0's data through step 1
    doc.Layer(1).Reset();
    EXPECT_FALSE(doc.Layer(1).Filled());
    EXPECT_EQ(doc.Layer(1).Predecessor(), nullptr);
    EXPECT_EQ(doc.Layer(1).Size(), 0);
    EXPECT_THROW(ReadAll(doc.Layer(1)), EHistoryError);
    EXPECT_EQ(ReadAll(doc.Layer(0)), "image 0");
    EXPECT_EQ(ReadAll(doc.Layer(2)), "image 0");
    WriteAll(doc.Layer(1), "image 1");
    EXPECT_EQ(ReadAll(doc.Layer(0)), "image 0");
    EXPECT_EQ(ReadAll(doc.Layer(1)), "image 1");
    EXPECT_EQ(ReadAll(doc.Layer(2)), "image 0");

    // An older stream that read what this one received keeps a copy of it.
    TDocumentHistory lent;
    lent.AddStep("state 0");
    lent.AddStep("state 1");
    WriteAll(lent.Layer(1), "lent image");
    lent.Layer(1).Reset();
    EXPECT_EQ(ReadAll(lent.Layer(0)), "lent image");
    EXPECT_FALSE(lent.Layer(1).Filled());
}
