// The parameter-set readers: where their text comes from and what they say when it cannot be had,
// the embedded formula copies, the user's replacements and the warnings collected over a read.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Clipbrd.h"
#include "CompFileManager.h"
#include "DocumentTestSupport.h"
#include "FracReaders.h"
#include "ReaderTestSupport.h"

namespace {

class TParReadersTest : public testing::Test {
protected:
    static void SetUpTestSuite() { Configuration = new TDocumentConfiguration("Alice"); }
    static void TearDownTestSuite() {
        delete Configuration;
        Configuration = nullptr;
    }
    void SetUp() override {
        Folder = std::make_unique<TScratchFormulaFolder>();
        Folder->Copy("Readers.ofm");
        Parameters = Folder->Copy("Readers.opr");
    }
    void TearDown() override {
        // The cache gives the scratch files up before they are deleted.
        Folder.reset();
    }

    // The text of entry Name of the file as the cache sees it now; empty when there is none.
    static std::string EntryText(const std::string &FileName, const std::string &Name) {
        TEntryFile *file = FileManager()->OpenFile(FileName, false);
        TEntryFileReference reference(file);
        const int index = file->IndexOfName(Name);
        return index < 0 ? std::string() : file->GetEntry(index)->GetText();
    }

    std::unique_ptr<TPersistentFractal> NewDocument() {
        return std::make_unique<TPersistentFractal>(&Manager, &HistoryManager);
    }

    static inline TDocumentConfiguration *Configuration = nullptr;
    THistoryDataManager HistoryManager{"", 1 << 28};
    TCalculateManager Manager{2};
    std::unique_ptr<TScratchFormulaFolder> Folder;
    std::string Parameters;
    TScriptedDialogs Dialogs;
};

// ---------------------------------------------------------------------------------------------
// Creating a reader

TEST_F(TParReadersTest, EntryAndIndexReadersTakeTheirEntryAndHoldTheFileWhileTheyLive) {
    TEntryFile *file = FileManager()->OpenFile(Parameters, false);
    const int before = file->RefCount();
    {
        auto reader = TCollectionParReader::CreateFromEntry(Parameters, "two_LAYERS_embedded");
        EXPECT_EQ(reader->Name(), "Two_Layers_Embedded");
        EXPECT_EQ(reader->Collection(), file);
        EXPECT_TRUE(reader->OwnsCollection());
        EXPECT_EQ(file->RefCount(), before + 1);
        auto byIndex = TCollectionParReader::CreateFromIndex<TInteractiveParReader>(Parameters, 0);
        EXPECT_EQ(byIndex->Name(), "Plain");
        EXPECT_EQ(file->RefCount(), before + 2);
    }
    EXPECT_EQ(file->RefCount(), before) << "the readers gave the file back";
    file->Release();
}

TEST_F(TParReadersTest, AnEntryThatCannotBeHadIsNamedWithItsFileAndNothingIsHeld) {
    TEntryFile *file = FileManager()->OpenFile(Parameters, false);
    const int before = file->RefCount();
    const std::string gone = Folder->File("Gone.opr");
    struct TCase {
        std::string Message, Expected;
    } cases[] = {
        {ErrorOf([&] { TCollectionParReader::CreateFromEntry(Parameters, "Nothing"); }),
         "Could not open 'Nothing' in '" + Parameters + "'"},
        {ErrorOf([&] { TCollectionParReader::CreateFromEntry(gone, "Plain"); }),
         "Could not open 'Plain' in '" + gone + "'"},
        {ErrorOf([&] { TCollectionParReader::CreateFromIndex(Parameters, 40); }),
         "Could not open entry 40 in '" + Parameters + "'"},
        {ErrorOf([&] { TCollectionParReader::CreateFromIndex(Parameters, -1); }),
         "Could not open entry -1 in '" + Parameters + "'"},
        {ErrorOf([&] { TCollectionParReader::CreateFromString("; only a comment\r\n"); }),
         "Invalid parameter set. The first error \r\nwas encountered at position (1:1)."},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(c.Message, c.Expected);
    EXPECT_EQ(file->RefCount(), before);
    file->Release();
}

TEST_F(TParReadersTest, ClipboardAndStreamReadersTakeTheFirstEntryOfACollectionOfTheirOwn) {
    const std::string text = "; copied\r\nFirst {\r\nfractal:\r\n  width=3\r\n}\r\nSecond {\r\n}\r\n";
    Clipboard().SetAsText(text);
    auto fromClipboard = TCollectionParReader::CreateFromClipboard<TInteractiveParReader>();
    EXPECT_EQ(fromClipboard->Name(), "First");
    EXPECT_TRUE(fromClipboard->OwnsCollection());
    EXPECT_EQ(fromClipboard->Collection()->GetCount(), 2);
    EXPECT_EQ(fromClipboard->Next(), "");
    EXPECT_EQ(fromClipboard->GetSectionName(), "fractal");

    Clipboard().SetAsText("no entry at all");
    EXPECT_EQ(ErrorOf([] { TCollectionParReader::CreateFromClipboard(); }),
              "Invalid parameter set. The first error \r\nwas encountered at position (1:1).");

    // A stream is read from where it stands, and stays the caller's.
    TMemoryStream stream;
    const std::string header = "binary part";
    stream.Write(header.data(), static_cast<int32_t>(header.size()));
    stream.Write(text.data(), static_cast<int32_t>(text.size()));
    stream.Seek(static_cast<int64_t>(header.size()), 0);
    {
        auto fromStream = TCollectionParReader::CreateFromText(stream);
        EXPECT_EQ(fromStream->Name(), "First");
        EXPECT_NE(fromStream->Collection(), nullptr);
    }
    EXPECT_EQ(stream.Size(), static_cast<int64_t>(header.size() + text.size()));
}

// ---------------------------------------------------------------------------------------------
// Formulas embedded in the parameter file

TEST_F(TParReadersTest, EmbeddedCopiesAreFoundByFileAndEntryThenByTheFrmName) {
    const std::string embedded = "My_Formulas.ofm:Spiral {\r\n  z = 1 ; named after the file\r\n}\r\n";
    const std::string imported = "FRM:Spiral {\r\n  z = 2 ; imported\r\n}\r\n";
    struct TCase {
        const char *Name;
        std::string Collection;
        bool Found;
        const char *Body;
    } cases[] = {
        {"both", "P {\r\n}\r\n" + imported + embedded, true, "named after the file"},
        {"file and entry", "P {\r\n}\r\n" + embedded, true, "named after the file"},
        {"FRM only", "P {\r\n}\r\n" + imported, true, "imported"},
        {"neither", "P {\r\n}\r\nMy_Formulas.ofm:Other {\r\n}\r\nSpiral {\r\n}\r\n", false, ""},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        // A folder of its own for each case, so that each starts without the formula file.
        Folder.reset();
        Folder = std::make_unique<TScratchFormulaFolder>();
        const std::string target = Folder->File("My Formulas.ofm");
        auto reader = TCollectionParReader::CreateFromString(c.Collection);
        std::string fileName = "My Formulas.ofm", entryName = "Spiral";
        EXPECT_EQ(reader->ResolveMissingFormula(fileName, entryName, 1), c.Found);
        // The relative name comes back with the Formula folder, found or not.
        EXPECT_EQ(fileName, target);
        EXPECT_EQ(entryName, "Spiral");
        if (c.Found)
            EXPECT_NE(EntryText(target, "Spiral").find(c.Body), std::string::npos)
                << EntryText(target, "Spiral");
        else
            EXPECT_FALSE(FileExists(target));
    }
    // A name with a folder keeps it.
    auto reader = TCollectionParReader::CreateFromString("P {\r\n}\r\n" + imported);
    std::string fileName = Folder->File("Elsewhere.ofm"), entryName = "spiral";
    EXPECT_TRUE(reader->ResolveMissingFormula(fileName, entryName, 1));
    EXPECT_EQ(fileName, Folder->File("Elsewhere.ofm"));
    EXPECT_NE(EntryText(fileName, "spiral").find("imported"), std::string::npos);
}

TEST_F(TParReadersTest, AParameterSetWithAnEmbeddedFormulaReadsWithoutAskingAnyone) {
    auto fractal = NewDocument();
    auto reader =
        TCollectionParReader::CreateFromEntry<TInteractiveParReader>(Parameters, "Two_Layers_Embedded");
    fractal->ReadParameters(*reader, 1, TFractalProgressEvent());
    ASSERT_EQ(fractal->GetLayers().Count(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(fractal->GetLayers().Items(i).GetFormula().GetFileName(), Folder->File("My Formulas.ofm"));
        EXPECT_FALSE(fractal->GetLayers().Items(i).GetFormula().GetHasError());
    }
    EXPECT_TRUE(Dialogs.Questions.empty());
    EXPECT_NE(EntryText(Folder->File("My Formulas.ofm"), "Spiral").find("+ 0.25"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Asking the user

TEST_F(TParReadersTest, EachAnswerOfTheMissingFormulaDialogGivesItsNames) {
    const std::string missing = Folder->File("Gone.ofm");
    struct TCase {
        const char *Name;
        TMissingFormulaAnswer Answer;
        bool Picks;
        bool Result;
        std::string FileName, EntryName;
        bool Remembered;
    } cases[] = {
        {"use the selected match",
         {TMissingFormulaAction::UseSelected, Folder->File("Readers.ofm"), "Mandel"},
         false,
         true,
         Folder->File("Readers.ofm"),
         "Mandel",
         true},
        {"use a match of the same names",
         {TMissingFormulaAction::UseSelected, missing, "Lost"},
         false,
         true,
         missing,
         "Lost",
         false},
        {"look and pick",
         {TMissingFormulaAction::LookOnComputer},
         true,
         true,
         "C:\\Picked.ofm",
         "Picked",
         true},
        {"look and give up", {TMissingFormulaAction::LookOnComputer}, false, false, missing, "Lost", false},
        {"download", {TMissingFormulaAction::Download}, false, true, "Gone.ofm", "Lost", false},
        {"try again", {TMissingFormulaAction::TryAgain}, false, true, "Gone.ofm", "Lost", false},
        {"cancel", {TMissingFormulaAction::Cancelled}, false, false, missing, "Lost", false},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedDialogs dialogs;
        dialogs.Answers.push_back(c.Answer);
        dialogs.Picks = c.Picks;
        dialogs.PickedFile = "C:\\Picked.ofm";
        dialogs.PickedEntry = "Picked";
        auto reader = TCollectionParReader::CreateFromEntry<TInteractiveParReader>(Parameters, "Plain");
        std::string fileName = "Gone.ofm", entryName = "Lost";
        EXPECT_EQ(reader->ResolveMissingFormula(fileName, entryName, 2), c.Result);
        if (c.Result) {
            EXPECT_EQ(fileName, c.FileName);
            EXPECT_EQ(entryName, c.EntryName);
        }
        ASSERT_EQ(dialogs.Questions.size(), 1u);
        EXPECT_EQ(dialogs.Questions[0].EntryName, "Lost");
        EXPECT_EQ(dialogs.Questions[0].FileName, missing);
        EXPECT_EQ(reader->Replacements().size(), c.Remembered ? 1u : 0u);
        if (c.Answer.Action == TMissingFormulaAction::LookOnComputer)
            EXPECT_EQ(dialogs.PickKinds, std::vector<int>{8}) << "an inside coloring is looked for as one";
        EXPECT_EQ(dialogs.Downloads, c.Answer.Action == TMissingFormulaAction::Download
                                         ? std::vector<std::string>{"Gone.ofm"}
                                         : std::vector<std::string>{});
    }
}

TEST_F(TParReadersTest, AReplacementIsNotAskedForTwiceWhileTheReaderLives) {
    Dialogs.Answers.push_back({TMissingFormulaAction::UseSelected, Folder->File("Readers.ofm"), "Mandel"});
    auto fractal = NewDocument();
    auto reader = TCollectionParReader::CreateFromEntry<TInteractiveParReader>(Parameters, "Missing_Twice");
    fractal->ReadParameters(*reader, 1, TFractalProgressEvent());
    ASSERT_EQ(Dialogs.Questions.size(), 1u) << "the second layer took the remembered replacement";
    ASSERT_EQ(fractal->GetLayers().Count(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(fractal->GetLayers().Items(i).GetFormula().GetFileName(), Folder->File("Readers.ofm"));
        EXPECT_EQ(fractal->GetLayers().Items(i).GetFormula().GetEntryName(), "Mandel");
    }
    // The same names in another letter case are the same formula.
    std::string fileName = UpperCase(Folder->File("Gone.ofm")), entryName = "LOST";
    EXPECT_TRUE(reader->ResolveMissingFormula(fileName, entryName, 1));
    EXPECT_EQ(entryName, "Mandel");
    EXPECT_EQ(Dialogs.Questions.size(), 1u);

    // A new reader asks again; cancelling ends the read with the formula's message.
    auto other = NewDocument();
    auto again = TCollectionParReader::CreateFromEntry<TInteractiveParReader>(Parameters, "Missing_Twice");
    EXPECT_THROW(other->ReadParameters(*again, 1, TFractalProgressEvent()), Exception);
    EXPECT_EQ(Dialogs.Questions.size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// Warnings

TEST_F(TParReadersTest, WarningsOfSeveralLayersAreListedOnceAndShownOnce) {
    auto fractal = NewDocument();
    auto reader = TCollectionParReader::CreateFromEntry<TInteractiveParReader>(Parameters, "Warnings");
    fractal->ReadParameters(*reader, 1, TFractalProgressEvent());
    EXPECT_EQ(fractal->GetLayers().Count(), 4);
    EXPECT_EQ(reader->CompileErrors(),
              std::vector<std::string>{"Error compiling 'Broken' in 'Readers.ofm'."});
    EXPECT_EQ(reader->MissingParameters(),
              std::vector<std::string>{"Could not locate parameter 'gone' in 'Mandel' in '" +
                                       Folder->File("Readers.ofm") + "'."});
    EXPECT_TRUE(Dialogs.Questions.empty()) << "every formula was found in the Formula folder";
    EXPECT_TRUE(Dialogs.Warnings.empty()) << "nothing is shown before the caller asks";
    reader->ShowWarnings();
    ASSERT_EQ(Dialogs.Warnings.size(), 1u);
    EXPECT_EQ(Dialogs.Warnings[0].first, reader->CompileErrors());
    EXPECT_EQ(Dialogs.Warnings[0].second, reader->MissingParameters());

    // A clean read shows nothing.
    auto clean = TCollectionParReader::CreateFromEntry<TInteractiveParReader>(Parameters, "Plain");
    auto plain = NewDocument();
    plain->ReadParameters(*clean, 1, TFractalProgressEvent());
    EXPECT_FALSE(clean->HasWarnings());
    clean->ShowWarnings();
    EXPECT_EQ(Dialogs.Warnings.size(), 1u);
}

} // namespace
