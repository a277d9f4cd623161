#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FracProgress.h"

namespace {

struct TReport {
    int Kind;
    std::string Text;
    int Percent;
    bool operator==(const TReport &) const = default;
};

struct TRecorder {
    std::vector<TReport> Reports;
    void Progress(TObject *, int Kind, const std::string &Text, int Percent) {
        Reports.push_back({Kind, Text, Percent});
    }
};

} // namespace

TEST(FracProgress, OnlyTheOutermostOperationIsReported) {
    TProgressManager manager;
    TRecorder recorder;
    manager.OnProgress = MakeEvent<&TRecorder::Progress>(&recorder);
    manager.BeginProgress("Loading");
    manager.SetProgress(30);
    manager.BeginProgress("Inner");
    manager.SetProgress(99);
    manager.SetProgress(7, 50);
    manager.EndProgress();
    manager.SetProgress(3, 60);
    manager.EndProgress();
    EXPECT_EQ(manager.Level(), 0);
    const std::vector<TReport> expected = {{0, " Loading... (0%)", 0},
                                           {1, " Loading... (30%)", 30},
                                           {1, " Loading... (60%)", 60},
                                           {2, " Loading... (100%)", 100}};
    EXPECT_EQ(recorder.Reports, expected);
}

TEST(FracProgress, UnmatchedEndAndNoHandlerReportNothing) {
    TProgressManager manager;
    TRecorder recorder;
    manager.OnProgress = MakeEvent<&TRecorder::Progress>(&recorder);
    manager.EndProgress();
    manager.SetProgress(40);
    EXPECT_EQ(manager.Level(), 0);
    EXPECT_TRUE(recorder.Reports.empty());
    manager.OnProgress = nullptr;
    manager.BeginProgress("Quiet");
    manager.SetProgress(10);
    manager.EndProgress();
    EXPECT_EQ(manager.Level(), 0);
}
