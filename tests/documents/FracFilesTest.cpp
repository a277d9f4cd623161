// The fractal image file: save, open and save again give the same bytes; an interrupted
// calculation saved and opened finishes to the picture of an uninterrupted one; damaged files
// give their messages and leave the open document as it was; a failed Save As keeps the title;
// and the browser's peek at the parameter text.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "DocumentTestSupport.h"

#include "CompEntries.h"
#include "FracFiles.h"
#include "FracProgress.h"
#include "GenUtils.h"
#include "SysUtils.h"

namespace {

std::string ReadBytes(const std::string &FileName) {
    TFileStream stream(FileName, fmOpenRead);
    std::string bytes(static_cast<std::size_t>(stream.Size()), '\0');
    stream.ReadBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return bytes;
}

void WriteBytes(const std::string &FileName, const std::string &Bytes) {
    TFileStream stream(FileName, fmCreate);
    stream.WriteBuffer(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
}

void Put32(std::string &Bytes, std::size_t Offset, std::uint32_t Value) {
    std::memcpy(Bytes.data() + Offset, &Value, 4);
}

std::uint32_t Get32(const std::string &Bytes, std::size_t Offset) {
    std::uint32_t value;
    std::memcpy(&value, Bytes.data() + Offset, 4);
    return value;
}

class TFractalFileTest : public testing::Test {
protected:
    static void SetUpTestSuite() { Configuration = new TDocumentConfiguration("Alice"); }
    static void TearDownTestSuite() {
        delete Configuration;
        Configuration = nullptr;
    }
    void SetUp() override {
        TDocumentConfiguration::SetOwner("Alice");
        // Files name their formula files without folder: they are found in the formula folder.
        TFolderConfiguration &folders = *ConfigManager()->Folder;
        SavedFormulaFolder = folders.Formula;
        folders.Formula = DocumentDataPath("");
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        Folder = std::string(temp) + "ovfiles" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(Folder.c_str(), nullptr);
        CreateDirectoryA((Folder + "again\\").c_str(), nullptr);
    }
    void TearDown() override {
        ConfigManager()->Folder->Formula = SavedFormulaFolder;
        for (const char *folder : {"again\\", ""}) {
            WIN32_FIND_DATAA data;
            HANDLE find = FindFirstFileA((Folder + folder + "*").c_str(), &data);
            if (find != INVALID_HANDLE_VALUE) {
                do
                    DeleteFileA((Folder + folder + data.cFileName).c_str());
                while (FindNextFileA(find, &data));
                FindClose(find);
            }
            RemoveDirectoryA((Folder + folder).c_str());
        }
    }

    std::unique_ptr<TPersistentFractal> NewDocument() {
        return std::make_unique<TPersistentFractal>(&Manager, &HistoryManager);
    }
    static std::string Formulas() { return DocumentDataPath("FracPersistent_fixtures.ofm"); }

    // Two calculated layers of different locations, with comments, credits and a resolution.
    std::unique_ptr<TPersistentFractal> TwoLayerDocument() {
        auto document = NewDocument();
        SetUpMandelbrot(*document, Formulas(), 40, 30);
        document->SetComments("Two views\r\nof the set");
        document->GetResolution().SetText("150");
        document->SetCreditsText("Alice;1/2/2003;Bob;4/5/2006");
        document->DuplicateLayer("Second");
        document->GetLayers().Items(0).GetMapping().Center.SetText("-0.75", "0.1");
        WaitCalculated(*document);
        return document;
    }

    static inline TDocumentConfiguration *Configuration = nullptr;
    THistoryDataManager HistoryManager{"", 1 << 28};
    TCalculateManager Manager{2};
    std::string Folder;
    std::string SavedFormulaFolder;
};

// What a failed open must leave alone.
struct TDocumentSnapshot {
    std::string Text;
    std::string Title;
    std::vector<std::string> Pixels;
    int Steps;
    bool Modified;

    explicit TDocumentSnapshot(TPersistentFractal &Document)
        : Text(Document.StateText(TPersistentFractal::UndoWriteFlags)), Title(Document.GetTitle()),
          Steps(Document.GetHistory().GetCount()), Modified(Document.GetModified()) {
        for (int i = 0; i < Document.GetLayers().Count(); ++i)
            Pixels.push_back(LayerPixels(Document.GetLayers().Items(i)));
    }
    void ExpectSame(TPersistentFractal &Document) const {
        const TDocumentSnapshot now(Document);
        EXPECT_EQ(now.Text, Text);
        EXPECT_EQ(now.Title, Title);
        EXPECT_TRUE(now.Pixels == Pixels) << "pixels changed";
        EXPECT_EQ(now.Steps, Steps);
        EXPECT_EQ(now.Modified, Modified);
    }
};

} // namespace

TEST_F(TFractalFileTest, SaveOpenSaveGivesTheSameBytesAndThePictureWithoutCalculation) {
    auto document = TwoLayerDocument();
    const std::string first = Folder + "Two Views.ofr";
    document->SaveAs(first);
    EXPECT_EQ(document->GetTitle(), "Two Views");
    EXPECT_FALSE(document->GetModified());
    // Save As writes before the title changes: the entry took the old name.
    EXPECT_EQ(ReadBytes(first).substr(64, 10), "Default {\r");
    document->SaveToFile(first);
    const std::string bytes = ReadBytes(first);
    ASSERT_GT(bytes.size(), 64u);
    EXPECT_EQ(bytes.substr(0, 12), "OrbiskVantel");
    EXPECT_EQ(Get32(bytes, 12), 1u);
    EXPECT_EQ(Get32(bytes, 16), 64u);
    EXPECT_EQ(Get32(bytes, 36), 40u);
    EXPECT_EQ(Get32(bytes, 40), 30u);
    EXPECT_EQ(Get32(bytes, 44), 2u);
    EXPECT_EQ(bytes.substr(64, 11), "TwoViews {\r") << "the entry is named after the title";
    EXPECT_EQ(Get32(bytes, 20), Get32(bytes, 24) - 64);
    EXPECT_EQ(Get32(bytes, 28), Get32(bytes, 32) - Get32(bytes, 24));
    // Each layer's pixel store is one zlib stream (default level: 0x78 0x9C).
    EXPECT_EQ(static_cast<unsigned char>(bytes[Get32(bytes, 32)]), 0x78);
    EXPECT_EQ(static_cast<unsigned char>(bytes[Get32(bytes, 32) + 1]), 0x9C);

    auto opened = NewDocument();
    opened->LoadFromFile(first);
    EXPECT_EQ(opened->GetTitle(), "Two Views");
    EXPECT_FALSE(opened->GetModified());
    ASSERT_EQ(opened->GetLayers().Count(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(opened->GetLayers().Items(i).GetCalculationState(), csIdle) << "not calculated again";
        EXPECT_TRUE(LayerPixels(opened->GetLayers().Items(i)) == LayerPixels(document->GetLayers().Items(i)))
            << "pixels of layer " << i;
    }
    EXPECT_EQ(opened->GetComments(), "Two views\r\nof the set");
    EXPECT_EQ(opened->GetCreditsText(), document->GetCreditsText());
    EXPECT_EQ(opened->GetHistory().GetCurrent()->Caption, "Open Fractal");

    const std::string second = Folder + "again\\Two Views.ofr";
    opened->SaveToFile(second);
    const std::string again = ReadBytes(second);
    const auto differ = std::mismatch(bytes.begin(), bytes.end(), again.begin(), again.end());
    EXPECT_TRUE(again == bytes) << "the second save differs from the first at byte "
                                << (differ.first - bytes.begin()) << " of " << bytes.size() << " / "
                                << again.size() << ":\n"
                                << again.substr(64, Get32(again, 20));
}

TEST_F(TFractalFileTest, AnInterruptedCalculationContinuesToTheUninterruptedPicture) {
    auto reference = NewDocument();
    SetUpMandelbrot(*reference, Formulas(), 160, 120, "-0.7/0.2", "3", 400);

    auto document = NewDocument();
    SetUpMandelbrot(*document, Formulas(), 160, 120, "-0.7/0.2", "3", 12);
    document->GetActiveLayer()->GetFormula().SetMaxIter(400);
    document->PauseCalculation();
    // Usually with work left; a run that ended first is saved complete and reads back the same.
    const bool interrupted = document->GetLayers().Items(0).GetCalculationState() == csInterrupted;
    const std::string fileName = Folder + "Interrupted.ofr";
    document->SaveToFile(fileName);
    EXPECT_EQ(document->GetLayers().Items(0).GetCalculationState(), interrupted ? csInterrupted : csIdle)
        << "a stopped layer stays stopped";

    auto opened = NewDocument();
    opened->LoadFromFile(fileName);
    WaitCalculated(*opened);
    EXPECT_TRUE(LayerPixels(opened->GetLayers().Items(0)) == LayerPixels(reference->GetLayers().Items(0)))
        << (interrupted ? "resumed" : "complete") << " picture differs";
    if (!interrupted)
        GTEST_LOG_(INFO) << "the calculation ended before it could be interrupted";
}

TEST_F(TFractalFileTest, DamagedFilesGiveTheirMessagesAndLeaveTheDocumentAsItWas) {
    auto source = TwoLayerDocument();
    const std::string good = Folder + "Good.ofr";
    source->SaveToFile(good);
    const std::string bytes = ReadBytes(good);
    const std::uint32_t pixelOffset = Get32(bytes, 32);

    struct TCase {
        const char *Name;
        std::string Bytes;
        const char *Message; // %s: the file name
    };
    auto changed = [&](auto Change) {
        std::string copy = bytes;
        Change(copy);
        return copy;
    };
    const char *corrupted = "Could not read '%s'. The file is corrupted";
    // A valid zlib stream that inflates to more than the first layer can hold (40 x 30 pixels).
    std::string bomb(4u << 20, '\0');
    uLongf packedSize = compressBound(static_cast<uLong>(bomb.size()));
    std::string packed(packedSize, '\0');
    ASSERT_EQ(compress(reinterpret_cast<Bytef *>(packed.data()), &packedSize,
                       reinterpret_cast<const Bytef *>(bomb.data()), static_cast<uLong>(bomb.size())),
              Z_OK);
    packed.resize(packedSize);
    const TCase cases[] = {
        {"empty", std::string(), corrupted},
        {"short header", bytes.substr(0, 40), corrupted},
        {"wrong signature", changed([](std::string &B) { B[0] = 'X'; }), corrupted},
        {"text file", std::string("Mandel {\r\nfractal:\r\n}\r\n"), corrupted},
        {"later version, mixed-case signature", changed([](std::string &B) { Put32(B, 12, 2); }), corrupted},
        {"width other than the parameters'", changed([](std::string &B) { Put32(B, 36, 41); }), corrupted},
        {"height other than the parameters'", changed([](std::string &B) { Put32(B, 40, 29); }), corrupted},
        {"layer count other than the parameters'", changed([](std::string &B) { Put32(B, 44, 3); }),
         corrupted},
        {"parameter text beyond the file", changed([](std::string &B) { Put32(B, 24, 0xFFFFFF00u); }),
         corrupted},
        {"pixel data beyond the file", changed([](std::string &B) { Put32(B, 32, 0x7FFFFFF0u); }), corrupted},
        {"truncated pixel data", bytes.substr(0, bytes.size() - 20), corrupted},
        {"no entry in the parameter text",
         changed([](std::string &B) { std::fill(B.begin() + 64, B.begin() + Get32(B, 24), 'x'); }),
         corrupted},
        {"resume state of a later layer version",
         changed([](std::string &B) { Put32(B, Get32(B, 24), 257); }), corrupted},
        {"truncated resume states", bytes.substr(0, pixelOffset - 8), corrupted},
        {"broken zlib header", changed([&](std::string &B) { B[pixelOffset] = 0x00; }),
         "Could not decompress '%s'. The file is corrupted"},
        {"broken zlib data", changed([&](std::string &B) {
             for (std::uint32_t i = pixelOffset + 2; i < pixelOffset + 40; ++i)
                 B[i] = static_cast<char>(B[i] ^ 0x5A);
         }),
         "Could not decompress '%s'. The file is corrupted"},
        {"pixel stream larger than its layer", bytes.substr(0, pixelOffset) + packed,
         "Could not decompress '%s'. The file is corrupted"},
    };

    auto document = NewDocument();
    SetUpMandelbrot(*document, Formulas(), 24, 18);
    document->SetTitle("Keep");
    document->SetModified(true);
    const TDocumentSnapshot before(*document);
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string fileName = Folder + "Damaged.ofr";
        WriteBytes(fileName, c.Bytes);
        try {
            document->LoadFromFile(fileName);
            ADD_FAILURE() << "opened";
        } catch (const Exception &E) {
            std::string message = c.Message;
            message.replace(message.find("%s"), 2, fileName);
            EXPECT_EQ(E.Message(), message);
        }
        before.ExpectSame(*document);
    }

    const std::string missing = Folder + "Missing.ofr";
    try {
        document->LoadFromFile(missing);
        ADD_FAILURE() << "opened";
    } catch (const Exception &E) {
        EXPECT_EQ(E.Message(), "Could not open '" + missing + "'");
    }
    before.ExpectSame(*document);

    // A later version is read when its signature is the capital one.
    const std::string later = Folder + "Later.ofr";
    WriteBytes(later, changed([](std::string &B) {
                   B.replace(0, 12, "ORBISKVANTEL");
                   Put32(B, 12, 2);
               }));
    document->LoadFromFile(later);
    EXPECT_EQ(document->GetLayers().Count(), 2);
    EXPECT_EQ(document->GetTitle(), "Later");
    EXPECT_TRUE(LayerPixels(document->GetLayers().Items(1)) == LayerPixels(source->GetLayers().Items(1)));
    EXPECT_EQ(document->GetHistory().GetCount(), before.Steps + 1);

    // Opening is one undoable change: undo brings back the document and its pixels.
    document->GetHistory().Undo();
    WaitCalculated(*document);
    EXPECT_EQ(document->GetLayers().Count(), 1);
    EXPECT_EQ(document->StateText(TPersistentFractal::UndoWriteFlags), before.Text);
    EXPECT_TRUE(LayerPixels(document->GetLayers().Items(0)) == before.Pixels[0]) << "pixels after undo";
}

TEST_F(TFractalFileTest, ProgressRunsThroughTheLayersInEqualParts) {
    const bool started = ProgressManager() == nullptr;
    if (started)
        InitializeFracProgress();
    struct TRecorder {
        std::vector<int> Percents;
        std::vector<std::string> Captions;
        void Progress(TObject *, int Kind, const std::string &Text, int Percent) {
            if (Kind == 0)
                Captions.push_back(Text);
            if (Kind == 1)
                Percents.push_back(Percent);
        }
    } recorder;
    ProgressManager()->OnProgress = MakeEvent<&TRecorder::Progress>(&recorder);

    auto document = NewDocument();
    SetUpMandelbrot(*document, Formulas(), 40, 30);
    for (int i = 0; i < 3; ++i)
        document->DuplicateLayer("Copy");
    WaitCalculated(*document);
    ASSERT_EQ(document->GetLayers().Count(), 4);
    const std::string fileName = Folder + "Four.ofr";
    document->SaveToFile(fileName);
    ASSERT_EQ(recorder.Captions.size(), 1u);
    EXPECT_NE(recorder.Captions[0].find("Saving fractal file"), std::string::npos) << recorder.Captions[0];
    for (int boundary : {0, 25, 50, 75, 100})
        EXPECT_NE(std::find(recorder.Percents.begin(), recorder.Percents.end(), boundary),
                  recorder.Percents.end())
            << boundary << " %";
    EXPECT_TRUE(std::is_sorted(recorder.Percents.begin(), recorder.Percents.end()));

    recorder = TRecorder();
    auto opened = NewDocument();
    opened->LoadFromFile(fileName);
    ASSERT_EQ(recorder.Captions.size(), 1u);
    EXPECT_NE(recorder.Captions[0].find("Opening fractal file"), std::string::npos) << recorder.Captions[0];
    EXPECT_TRUE(std::is_sorted(recorder.Percents.begin(), recorder.Percents.end()));
    // The parameters take the first fifth, the pixels the rest.
    for (int boundary : {20, 40, 60, 80, 100})
        EXPECT_NE(std::find(recorder.Percents.begin(), recorder.Percents.end(), boundary),
                  recorder.Percents.end())
            << boundary << " %";
    EXPECT_LE(recorder.Percents.front(), 20);

    ProgressManager()->OnProgress = TProgressEvent();
    if (started)
        FinalizeFracProgress();
}

TEST_F(TFractalFileTest, AFailedSaveKeepsTheTitleAndAnExistingFile) {
    auto document = TwoLayerDocument();
    document->SetTitle("Unsaved");
    document->SetModified(true);
    const std::string nowhere = Folder + "no such folder\\Study.ofr";
    try {
        document->SaveAs(nowhere);
        ADD_FAILURE() << "saved";
    } catch (const Exception &E) {
        EXPECT_EQ(E.Message(), "Could not create '" + nowhere + "'");
    }
    EXPECT_EQ(document->GetTitle(), "Unsaved");
    EXPECT_TRUE(document->GetModified());

    // A save that cannot replace the existing file leaves it as it was, and no temporary file.
    const std::string target = Folder + "Study.ofr";
    WriteBytes(target, "old contents");
    HANDLE holder =
        CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    try {
        document->SaveAs(target);
        ADD_FAILURE() << "saved over a file held open";
    } catch (const Exception &E) {
        EXPECT_EQ(E.Message(), "Could not write to '" + target + "'. The destination drive may be full");
    }
    CloseHandle(holder);
    EXPECT_EQ(ReadBytes(target), "old contents");
    EXPECT_EQ(document->GetTitle(), "Unsaved");

    // A save over an existing file replaces it whole, and leaves no temporary file behind.
    document->SaveAs(target);
    EXPECT_EQ(document->GetTitle(), "Study");
    EXPECT_FALSE(document->GetModified());
    EXPECT_EQ(ReadBytes(target).substr(0, 12), "OrbiskVantel");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((Folder + "Study.*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int files = 0;
    do
        ++files;
    while (FindNextFileA(find, &data));
    FindClose(find);
    EXPECT_EQ(files, 1);
}

TEST_F(TFractalFileTest, ThePeekShowsTheEntryUnderTheFilesName) {
    auto document = TwoLayerDocument();
    document->SetTitle("Some Other Title");
    const std::string fileName = Folder + "Peek Me.ofr";
    document->SaveToFile(fileName);
    std::unique_ptr<TEntryCollection> entries = ReadFractalFileEntries(fileName);
    ASSERT_NE(entries, nullptr);
    ASSERT_EQ(entries->GetCount(), 1);
    EXPECT_EQ(entries->GetEntry(0)->GetTitle(), "Peek Me");

    // A text file, an empty file, a truncated header: nothing, and no message.
    const std::string text = Folder + "Text.ofr";
    WriteBytes(text, "Mandel {\r\nfractal:\r\n}\r\n");
    EXPECT_EQ(ReadFractalFileEntries(text), nullptr);
    WriteBytes(text, "");
    EXPECT_EQ(ReadFractalFileEntries(text), nullptr);
    WriteBytes(text, ReadBytes(fileName).substr(0, 30));
    EXPECT_EQ(ReadFractalFileEntries(text), nullptr);
    EXPECT_EQ(ReadFractalFileEntries(Folder + "Missing.ofr"), nullptr);
}
