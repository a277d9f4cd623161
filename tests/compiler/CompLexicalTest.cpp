#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompEntriesTestSupport.h"
#include "CompFileManager.h"
#include "CompGlobalsTestSupport.h"
#include "CompLexical.h"
#include "CompMessages.h"
#include "TestFormulas.h"

namespace {

const char *const FormulaFile = "Mandel {\r\n"
                                "init:\r\n"
                                "  z = 0\r\n"
                                "loop:\r\n"
                                "  z = z*z + #pixel\r\n"
                                "bailout:\r\n"
                                "  |z| < 4\r\n"
                                "}\r\n"
                                "Broken {\r\n"
                                "  x = sin()\r\n"
                                "}\r\n";

// Gives a file a last-write time of its own (a day of 2020), so that tests need not wait for the
// clock to tell two versions of a file apart.
void SetFileDay(const std::string &Path, int Day) {
    SYSTEMTIME time{};
    time.wYear = 2020;
    time.wMonth = 1;
    time.wDay = static_cast<WORD>(Day);
    time.wHour = 12;
    FILETIME local, utc;
    ASSERT_TRUE(SystemTimeToFileTime(&time, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    HANDLE file = CreateFileA(Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Path;
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &utc));
    CloseHandle(file);
}

// Writes every event of an object into its log, next to what the object itself records.
void RecordEvents(TTestParser &Object) {
    struct TRecorder {
        static void Change(void *Data, TObject *) {
            static_cast<TTestParser *>(Data)->Log.push_back("change");
        }
        static void Before(void *Data, TObject *) {
            static_cast<TTestParser *>(Data)->Log.push_back("before");
        }
        static void Compiled(void *Data, TObject *) {
            static_cast<TTestParser *>(Data)->Log.push_back("compiled");
        }
        static void Modify(void *Data, TObject *, const std::string &Caption) {
            static_cast<TTestParser *>(Data)->Log.push_back("modify:" + Caption);
        }
    };
    Object.OnChange = TNotifyEvent(&TRecorder::Change, &Object);
    Object.OnBeforeCompile = TNotifyEvent(&TRecorder::Before, &Object);
    Object.OnCompiled = TNotifyEvent(&TRecorder::Compiled, &Object);
    Object.OnModify = TModifyEvent(&TRecorder::Modify, &Object);
}

class LexicalTest : public testing::Test {
protected:
    void SetUp() override {
        FGlobals.Start(true);
        File = Folder.File("test.ofm");
        WriteFileBytes(File, FormulaFile);
        SetFileDay(File, 1);
    }
    void TearDown() override { FGlobals.Finish(); }

    // A fractal formula compiled from entry Mandel, with a clean log.
    std::unique_ptr<TTestFormula> CompiledFormula() {
        auto formula = std::make_unique<TTestFormula>();
        formula->SetSource(File, "Mandel");
        EXPECT_FALSE(formula->GetHasError());
        formula->Log.clear();
        return formula;
    }

    TTempFolder Folder;
    std::string File;

private:
    TCompilerGlobals FGlobals;
};

TEST_F(LexicalTest, SelectingASourceCompilesOnce) {
    TTestFormula formula;
    RecordEvents(formula);
    EXPECT_TRUE(formula.GetNoSource());
    formula.SetSource(File, "Mandel");
    EXPECT_EQ(formula.Log,
              (std::vector<std::string>{"before", "check", "generate", "modify:Select Formula", "compiled"}));
    EXPECT_FALSE(formula.GetHasError());
    EXPECT_FALSE(formula.GetNoSource());
    EXPECT_EQ(formula.GetFileDate(), FileAge(File));
    EXPECT_NE(formula.GetSourceText().find("|z| < 4"), std::string::npos);
    EXPECT_TRUE(CompiledObjects()->Contains(&formula));
    EXPECT_EQ(formula.DumpStatements().front(), "label init 2");
    EXPECT_FALSE(formula.IsGenerating());

    // The same source with an unchanged file: nothing happens.
    formula.Log.clear();
    formula.SetSource(File, "Mandel");
    EXPECT_TRUE(formula.Log.empty());

    // A new last-write time compiles again.
    SetFileDay(File, 2);
    formula.SetSource(File, "Mandel");
    EXPECT_EQ(formula.CheckCount, 2);
    EXPECT_EQ(formula.GetFileDate(), FileAge(File));
}

TEST_F(LexicalTest, CompileErrorIsRecordedAndStopsCodeGeneration) {
    TTestFormula formula;
    ErrorManager()->SetFormula(&formula);
    formula.SetSource(File, "Broken");
    EXPECT_TRUE(formula.GetHasError());
    EXPECT_EQ(formula.GetErrorLine(), 9);
    EXPECT_EQ(formula.GetErrorColumn(), 10);
    EXPECT_EQ(formula.GenerateCount, 0);
    EXPECT_EQ(formula.GenerateEmptyCount, 1);
    EXPECT_FALSE(CompiledObjects()->Contains(&formula));
    ASSERT_EQ(ErrorManager()->GetCount(), 1);
    const TCompilerMessage message = ErrorManager()->GetMessageA(0);
    EXPECT_EQ(message.Kind, mkError);
    EXPECT_EQ(message.ErrorCode, ceExprExpected);
    EXPECT_EQ(message.Text, "Expression expected.");
    EXPECT_EQ(message.Line, 9);
    EXPECT_EQ(message.Column, 10);

    // A later parameter change does not generate code for the failed program.
    formula.ParamChanged(nullptr, "Value");
    formula.SetPrecision(pmExtended);
    EXPECT_EQ(formula.GenerateCount, 0);

    // Selecting the good entry clears the error.
    formula.SetSource(File, "Mandel");
    EXPECT_FALSE(formula.GetHasError());
    EXPECT_EQ(formula.GetErrorLine(), 0);
    EXPECT_EQ(ErrorManager()->GetCount(), 0);
    EXPECT_EQ(formula.GenerateCount, 1);
}

// An open conditional block is found when the program is completed, after the check.
TEST_F(LexicalTest, OpenConditionalIsReportedAfterTheCheck) {
    WriteFileBytes(File, "Open {\r\n$ifdef VER20\r\nz = 1\r\n}\r\n");
    TTestFormula formula;
    ErrorManager()->SetFormula(&formula);
    formula.SetSource(File, "Open");
    EXPECT_EQ(formula.CheckCount, 1);
    EXPECT_TRUE(formula.GetHasError());
    ASSERT_EQ(ErrorManager()->GetCount(), 1);
    EXPECT_EQ(ErrorManager()->GetMessageA(0).ErrorCode, ceDirectiveEndIfExpected);
    EXPECT_EQ(ErrorManager()->GetMessageA(0).Text, "$ENDIF expected after $IFDEF.");
    EXPECT_GE(formula.GetErrorLine(), 2);
}

TEST_F(LexicalTest, IdenticalObjectsReuseTheCompiledProgram) {
    std::unique_ptr<TTestFormula> first = CompiledFormula();
    first->OnCheck = [](TTestParser &Self) { Self.AddParam(std::make_unique<TFloatParam>("a")); };
    first->ReloadSource();
    ASSERT_EQ(first->GetParams().GetCount(), 1);
    static_cast<TFloatParam *>(first->GetParams().GetItem(0))->Value.SetText("2.5");

    // The twin takes the program without parsing or checking, and generates its own code with
    // its own parameter values.
    TTestFormula second;
    second.SetSource(File, "Mandel");
    EXPECT_EQ(second.CheckCount, 0);
    EXPECT_EQ(second.GenerateCount, 1);
    EXPECT_EQ(second.DumpStatements(), first->DumpStatements());
    EXPECT_EQ(second.GetSourceText(), first->GetSourceText());
    ASSERT_EQ(second.GetParams().GetCount(), 1);
    auto *copy = static_cast<TFloatParam *>(second.GetParams().GetItem(0));
    EXPECT_EQ(copy->Value.GetText(), copy->Default.GetText());
    EXPECT_TRUE(CompiledObjects()->Contains(&second));

    // The object whose messages are shown always compiles for itself, so its messages exist.
    TTestFormula shown;
    ErrorManager()->SetFormula(&shown);
    shown.SetSource(File, "Mandel");
    EXPECT_EQ(shown.CheckCount, 1);

    // Another kind of formula never takes a fractal formula's program: a coloring refuses the
    // BAILOUT label under its own rules.
    TTestColoring coloring;
    coloring.SetSource(File, "Mandel");
    EXPECT_EQ(coloring.CheckCount, 0);
    EXPECT_TRUE(coloring.GetHasError());
    EXPECT_EQ(coloring.GetErrorLine(), 5);

    // After the file changed, an object selecting it is no twin of the ones compiled before.
    SetFileDay(File, 3);
    TTestFormula third;
    third.SetSource(File, "Mandel");
    EXPECT_EQ(third.CheckCount, 1);
}

TEST_F(LexicalTest, ReloadKeepsValuesWhoseNameAndTypeSurvive) {
    std::unique_ptr<TTestFormula> formula = CompiledFormula();
    formula->OnCheck = [](TTestParser &Self) {
        Self.AddParam(std::make_unique<TFloatParam>("a"));
        Self.AddParam(std::make_unique<TIntParam>("b"));
        Self.AddParam(std::make_unique<TFuncParam>("fn1"));
    };
    formula->ReloadSource();
    TParamList &params = formula->GetParams();
    ASSERT_EQ(params.GetCount(), 3);
    static_cast<TFloatParam *>(params.GetItem(0))->Value.SetText("2.5");
    static_cast<TIntParam *>(params.GetItem(1))->SetValue(7);
    static_cast<TFuncParam *>(params.GetItem(2))->SetValue(fnCos);
    formula->OnCheck = [](TTestParser &Self) {
        Self.AddParam(std::make_unique<TFloatParam>("A"));
        Self.AddParam(std::make_unique<TFloatParam>("b"));
        Self.AddParam(std::make_unique<TFuncParam>("FN1"));
        Self.AddParam(std::make_unique<TIntParam>("c"));
    };
    formula->ReloadSource();
    TParamList &reloaded = formula->GetParams();
    ASSERT_EQ(reloaded.GetCount(), 4);
    EXPECT_EQ(static_cast<TFloatParam *>(reloaded.GetItem(0))->Value.GetText(), "2.5");
    auto *retyped = static_cast<TFloatParam *>(reloaded.GetItem(1));
    EXPECT_EQ(retyped->Value.GetText(), retyped->Default.GetText());
    EXPECT_EQ(static_cast<TFuncParam *>(reloaded.GetItem(2))->GetValue(), fnCos);
    EXPECT_EQ(static_cast<TIntParam *>(reloaded.GetItem(3))->GetValue(), 0);
    EXPECT_FALSE(formula->GetKeepValues());

    // A plain recompile gives the new parameters their own defaults.
    SetFileDay(File, 4);
    formula->SetSource(File, "Mandel");
    auto *fresh = static_cast<TFloatParam *>(formula->GetParams().GetItem(0));
    EXPECT_EQ(fresh->Value.GetText(), fresh->Default.GetText());
}

TEST_F(LexicalTest, ParameterChangesRegenerateCodeExceptWhileGenerating) {
    std::unique_ptr<TTestFormula> formula = CompiledFormula();
    formula->OnCheck = [](TTestParser &Self) { Self.AddParam(std::make_unique<TIntParam>("n")); };
    formula->ReloadSource();
    RecordEvents(*formula);
    formula->Log.clear();
    auto *n = static_cast<TIntParam *>(formula->GetParams().GetItem(0));
    n->SetValue(3);
    EXPECT_EQ(formula->Log,
              (std::vector<std::string>{"before", "generate", "modify:" + n->GetCaption(), "compiled"}));
    // Code generation that writes a parameter does not ask for more code generation.
    formula->Log.clear();
    formula->OnGenerate = [n](TTestParser &Self) {
        EXPECT_TRUE(Self.IsGenerating());
        n->SetValue(n->GetValue() + 1);
    };
    formula->SetPrecision(pmExtended);
    EXPECT_EQ(formula->Log, (std::vector<std::string>{"before", "generate", "modify:", "compiled"}));
    EXPECT_EQ(n->GetValue(), 4);
}

// Requests inside one bracket give one application of the highest level, with the caption of the
// request that raised the level, and the events in their fixed order.
TEST_F(LexicalTest, ChangeBracketsApplyOnce) {
    struct TCase {
        const char *Name;
        std::function<void(TTestParser &)> Requests;
        const char *EndCaption;
        std::vector<std::string> Events;
    } cases[] = {
        {"value", [](TTestParser &F) { F.ValueChanged(); }, "", {"change"}},
        {"value with caption", [](TTestParser &F) { F.ValueChanged(); }, "X", {"change"}},
        {"property", [](TTestParser &F) { F.PropertyChanged("P"); }, "", {"modify:P"}},
        {"mixed",
         [](TTestParser &F) {
             F.ValueChanged();
             F.CodeChanged("C");
             F.PropertyChanged("P");
         },
         "",
         {"before", "generate", "modify:C", "compiled"}},
        {"first caption of a level stays",
         [](TTestParser &F) {
             F.CodeChanged("C");
             F.CodeChanged("D");
         },
         "",
         {"before", "generate", "modify:C", "compiled"}},
        {"raised level takes its caption",
         [](TTestParser &F) {
             F.PropertyChanged("P");
             F.CodeChanged("C");
         },
         "",
         {"before", "generate", "modify:C", "compiled"}},
        {"end caption replaces",
         [](TTestParser &F) { F.CodeChanged("C"); },
         "E",
         {"before", "generate", "modify:E", "compiled"}},
        {"source change compiles",
         [](TTestParser &F) {
             F.CodeChanged("C");
             F.SourceChanged("S");
             F.PropertyChanged("P");
         },
         "",
         {"before", "check", "generate", "modify:S", "compiled"}},
        {"precision, digits and parameters",
         [](TTestParser &F) {
             F.SetPrecision(pmArbitrary);
             F.SetDigits(40);
             F.ParamChanged(nullptr, "Param");
             F.SetPrecision(pmExtended);
         },
         "",
         {"before", "generate", "modify:", "compiled"}},
        {"nested",
         [](TTestParser &F) {
             F.BeginUpdate();
             F.CodeChanged("Inner");
             F.EndUpdate();
             EXPECT_TRUE(F.Log.empty());
             EXPECT_EQ(F.GetPendingLevel(), clRegenerate);
         },
         "",
         {"before", "generate", "modify:Inner", "compiled"}},
        {"nothing", [](TTestParser &) {}, "", {}},
    };
    for (const TCase &c : cases) {
        std::unique_ptr<TTestFormula> formula = CompiledFormula();
        RecordEvents(*formula);
        formula->BeginUpdate();
        c.Requests(*formula);
        EXPECT_TRUE(formula->Log.empty()) << c.Name;
        formula->EndUpdateWithCaption(c.EndCaption);
        EXPECT_EQ(formula->Log, c.Events) << c.Name;
        EXPECT_EQ(formula->GetPendingLevel(), clNoChange) << c.Name;
        EXPECT_EQ(formula->GetUpdateCount(), 0) << c.Name;
    }
}

TEST_F(LexicalTest, DigitsMatterOnlyInArbitraryPrecision) {
    std::unique_ptr<TTestFormula> formula = CompiledFormula();
    formula->SetPrecision(pmExtended);
    EXPECT_EQ(formula->GenerateCount, 2);
    formula->SetDigits(40);
    EXPECT_EQ(formula->GenerateCount, 2);
    EXPECT_EQ(formula->GetStorage().Digits, 40);
    formula->SetPrecision(pmArbitrary);
    EXPECT_EQ(formula->GenerateCount, 3);
    EXPECT_EQ(formula->GeneratedPrecision, pmArbitrary);
    EXPECT_EQ(formula->GetStorage().Precision, pmArbitrary);
    formula->SetDigits(60);
    EXPECT_EQ(formula->GenerateCount, 4);
    formula->SetDigits(60);
    EXPECT_EQ(formula->GenerateCount, 4);
}

TEST_F(LexicalTest, MissingSourcesAreReportedAndChangeNothing) {
    std::unique_ptr<TTestFormula> formula = CompiledFormula();
    struct TCase {
        std::string FileName;
        std::string EntryName;
    } cases[] = {{File, "Nope"}, {Folder.File("missing.ofm"), "Mandel"}};
    for (const TCase &c : cases) {
        try {
            formula->SetSource(c.FileName, c.EntryName);
            ADD_FAILURE() << c.FileName << " " << c.EntryName;
        } catch (const EEntryError &error) {
            EXPECT_EQ(error.Message(), "Could not open '" + c.EntryName + "' in '" + c.FileName + "'");
        }
        EXPECT_EQ(formula->GetFileName(), File);
        EXPECT_EQ(formula->GetEntryName(), "Mandel");
        EXPECT_EQ(formula->CheckCount, 1);
    }
}

TEST_F(LexicalTest, FindSourceSearchesFoldersAndSubfoldersInOrder) {
    TTempFolder first, second;
    CreateDirectoryA((second.Path() + "a").c_str(), nullptr);
    CreateDirectoryA((second.Path() + "b").c_str(), nullptr);
    CreateDirectoryA((second.Path() + "b\\deep").c_str(), nullptr);
    // The first folder has the file but not the entry; in the second the entry lies two levels
    // down.
    WriteFileBytes(first.File("test.ofm"), "Other {\r\nz = 1\r\n}\r\n");
    WriteFileBytes(second.Path() + "a\\test.ofm", "Other {\r\nz = 1\r\n}\r\n");
    WriteFileBytes(second.Path() + "b\\deep\\test.ofm", FormulaFile);
    TStringList folders;
    folders.Add(first.Path());
    folders.Add(second.Path());

    TTestFormula formula;
    formula.FindSource(folders, "test.ofm", "Mandel");
    EXPECT_EQ(formula.GetFileName(), second.Path() + "b\\deep\\test.ofm");
    EXPECT_EQ(formula.CheckCount, 1);
    // Found again under another letter case: nothing to do.
    formula.FindSource(folders, "TEST.OFM", "mandel");
    EXPECT_EQ(formula.CheckCount, 1);

    try {
        formula.FindSource(folders, "test.ofm", "Nope");
        ADD_FAILURE();
    } catch (const EEntryError &error) {
        EXPECT_EQ(error.Message(), "Could not open 'Nope' in 'test.ofm'");
    }
    EXPECT_EQ(formula.GetEntryName(), "Mandel");
}

TEST_F(LexicalTest, ClearSourceLeavesAnObjectWithoutFormula) {
    std::unique_ptr<TTestFormula> formula = CompiledFormula();
    RecordEvents(*formula);
    formula->ClearSource();
    EXPECT_EQ(formula->Log, (std::vector<std::string>{"before", "empty", "modify:", "compiled"}));
    EXPECT_TRUE(formula->GetNoSource());
    EXPECT_EQ(formula->GetFileName(), "");
    EXPECT_FALSE(CompiledObjects()->Contains(formula.get()));

    // Without a source only empty code is generated again.
    formula->Log.clear();
    formula->ClearSource();
    EXPECT_EQ(formula->Log, (std::vector<std::string>{"before", "empty", "modify:", "compiled"}));

    // A selection and a clear in one bracket end without source, and the same file can be
    // selected afterwards.
    TTestFormula fresh;
    fresh.BeginUpdate();
    fresh.SetSource(File, "Mandel");
    fresh.ClearSource();
    fresh.EndUpdate();
    EXPECT_TRUE(fresh.GetNoSource());
    EXPECT_EQ(fresh.GetFileName(), "");
    fresh.SetSource(File, "Mandel");
    EXPECT_FALSE(fresh.GetNoSource());
    EXPECT_EQ(fresh.GenerateCount, 1);
}

TEST_F(LexicalTest, OtherFailuresPropagateAfterCleaningUp) {
    std::unique_ptr<TTestFormula> formula = CompiledFormula();
    formula->OnCheck = [](TTestParser &) { throw EInternalCompilerError("broken stage"); };
    EXPECT_THROW(formula->ReloadSource(), EInternalCompilerError);
    EXPECT_FALSE(formula->IsGenerating());
    EXPECT_FALSE(formula->GetKeepValues());
    EXPECT_FALSE(formula->GetHasError());
    EXPECT_EQ(formula->GenerateEmptyCount, 1);
    EXPECT_FALSE(CompiledObjects()->Contains(formula.get()));

    // The entry vanished after it was selected.
    formula->OnCheck = nullptr;
    WriteFileBytes(File, "Renamed {\r\n}\r\n");
    SetFileDay(File, 5);
    EXPECT_THROW(formula->SourceChanged("Again"), EEntryError);
    EXPECT_FALSE(formula->IsGenerating());
}

TEST_F(LexicalTest, WarningsGoToTheShownObjectOnly) {
    TTestFormula shown, other;
    ErrorManager()->SetFormula(&shown);
    auto warn = [](TTestParser &Self) { Self.Warning(cwResultIgnored, {2, 4}); };
    shown.OnCheck = warn;
    other.OnCheck = warn;
    other.SetSource(File, "Broken"); // a failed compile of another object adds nothing either
    other.SetSource(File, "Mandel");
    shown.SetSource(File, "Mandel");
    EXPECT_TRUE(shown.GetHasWarnings());
    EXPECT_TRUE(other.GetHasWarnings());
    ASSERT_EQ(ErrorManager()->GetCount(), 1);
    EXPECT_EQ(ErrorManager()->GetMessageA(0).Kind, mkWarning);
    EXPECT_EQ(ErrorManager()->GetMessageA(0).Text, "Result of expression is ignored.");
    EXPECT_EQ(ErrorManager()->GetMessageA(0).Line, 2);
    EXPECT_EQ(ErrorManager()->GetMessageA(0).Column, 4);
}

// Lets a fixed number of threads start each round together: every thread's Arrive returns once
// all have arrived (false after a minute without them).
class TRoundGate {
public:
    explicit TRoundGate(int AParties) : FParties(AParties) {}
    bool Arrive() {
        std::unique_lock<std::mutex> lock(FMutex);
        const long round = FRound;
        if (++FArrived == FParties) {
            FArrived = 0;
            ++FRound;
            FChanged.notify_all();
            return true;
        }
        return FChanged.wait_for(lock, std::chrono::seconds(60), [&] { return FRound != round; });
    }

private:
    const int FParties;
    int FArrived = 0;
    long FRound = 0;
    std::mutex FMutex;
    std::condition_variable FChanged;
};

// Compiles on two threads at once (as the interface thread and a render or server thread do),
// each following its own faulty formula: each sees exactly the messages of its own compile, in
// every round.
TEST_F(LexicalTest, ThreadsCompilingAtOnceSeeTheirOwnMessages) {
    WriteFileBytes(File, "FaultA {\r\n  x = sin()\r\n}\r\n"
                         "FaultB {\r\n$ifdef VER20\r\nz = 1\r\n}\r\n");
    struct TExpected {
        std::uint8_t Kind, Code;
        std::string Text;
        int Line, Column;
        bool operator==(const TExpected &) const = default;
    };
    auto ownMessages = [] {
        TScopeLock<TErrorManager> lock(*ErrorManager());
        std::vector<TExpected> messages;
        for (int i = 0; i < ErrorManager()->GetCount(); ++i) {
            const TCompilerMessage m = ErrorManager()->GetMessageA(i);
            messages.push_back(
                {m.Kind, m.Kind == mkWarning ? m.WarningCode : m.ErrorCode, m.Text, m.Line, m.Column});
        }
        return messages;
    };
    constexpr int Rounds = 40;
    TRoundGate gate(2);
    // Failures are collected per thread and reported on the test's thread.
    auto compileRounds = [&](TTestFormula &Formula, const std::string &Entry,
                             std::vector<std::string> &Failures,
                             const std::function<std::vector<TExpected>()> &Expected) {
        ErrorManager()->SetFormula(&Formula);
        for (int round = 0; round < Rounds; ++round) {
            if (!gate.Arrive()) {
                Failures.push_back("the other thread did not arrive");
                break;
            }
            if (round == 0)
                Formula.SetSource(File, Entry);
            else
                Formula.ReloadSource();
            if (ownMessages() != Expected())
                Failures.push_back(Entry + ": other messages in round " + std::to_string(round));
        }
        ErrorManager()->ClearFormula();
    };
    TTestFormula a, b;
    b.OnCheck = [](TTestParser &Self) { Self.Warning(cwResultIgnored, {5, 3}); };
    std::vector<std::string> failuresA, failuresB;
    std::thread first([&] {
        compileRounds(a, "FaultA", failuresA, [] {
            return std::vector<TExpected>{{mkError, ceExprExpected, "Expression expected.", 1, 10}};
        });
    });
    std::thread second([&] {
        compileRounds(b, "FaultB", failuresB, [&b] {
            return std::vector<TExpected>{
                {mkWarning, cwResultIgnored, "Result of expression is ignored.", 5, 3},
                {mkError, ceDirectiveEndIfExpected, "$ENDIF expected after $IFDEF.", b.GetErrorLine(),
                 b.GetErrorColumn()}};
        });
    });
    first.join();
    second.join();
    EXPECT_TRUE(a.GetHasError());
    EXPECT_TRUE(b.GetHasError());
    EXPECT_EQ(failuresA, std::vector<std::string>{});
    EXPECT_EQ(failuresB, std::vector<std::string>{});
}

// While one object generates code, the compile lock keeps every other thread away from the list
// of compiled objects (and so from compiling or generating code itself).
TEST_F(LexicalTest, CodeGenerationHoldsTheCompileLock) {
    std::unique_ptr<TTestFormula> formula = CompiledFormula();
    HANDLE generating = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE counted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> released{false};
    std::atomic<bool> countedWhileReleased{false};
    formula->OnGenerate = [&](TTestParser &) {
        SetEvent(generating);
        EXPECT_EQ(WaitForSingleObject(release, 30000), WAIT_OBJECT_0);
    };
    std::thread generator([&] { formula->SetPrecision(pmExtended); });
    ASSERT_EQ(WaitForSingleObject(generating, 30000), WAIT_OBJECT_0);
    std::thread other([&] {
        CompiledObjects()->Count();
        countedWhileReleased = released.load();
        SetEvent(counted);
    });
    // The other thread must still be waiting for the lock.
    EXPECT_EQ(WaitForSingleObject(counted, 300), static_cast<DWORD>(WAIT_TIMEOUT));
    released = true;
    SetEvent(release);
    EXPECT_EQ(WaitForSingleObject(counted, 30000), WAIT_OBJECT_0);
    generator.join();
    other.join();
    EXPECT_TRUE(countedWhileReleased);
    EXPECT_EQ(formula->GenerateCount, 2);
    CloseHandle(generating);
    CloseHandle(release);
    CloseHandle(counted);
}

// Every truncation of a formula file either cannot be opened or compiles to a result: no other
// failure, and a failed compile leaves the object usable.
TEST_F(LexicalTest, TruncatedFilesGiveMessages) {
    const std::string text = FormulaFile;
    for (std::size_t length = 0; length <= text.size(); ++length) {
        WriteFileBytes(File, text.substr(0, length));
        TTestFormula formula;
        try {
            formula.SetSource(File, "Mandel");
        } catch (const EEntryError &) {
            EXPECT_TRUE(formula.GetNoSource());
            continue;
        }
        EXPECT_FALSE(formula.IsGenerating());
        EXPECT_EQ(formula.GenerateCount + formula.GenerateEmptyCount, 1) << length;
        EXPECT_EQ(CompiledObjects()->Contains(&formula), !formula.GetHasError()) << length;
    }
}

TEST_F(LexicalTest, DestructionLeavesListAndMessages) {
    auto formula = CompiledFormula();
    ErrorManager()->SetFormula(formula.get());
    const TLexical *address = formula.get();
    formula.reset();
    EXPECT_EQ(ErrorManager()->GetFormula(), nullptr);
    EXPECT_FALSE(CompiledObjects()->Contains(address));
    // A later object compiles on its own instead of taking the freed one for a twin.
    TTestFormula next;
    next.SetSource(File, "Mandel");
    EXPECT_EQ(next.CheckCount, 1);
}

} // namespace
