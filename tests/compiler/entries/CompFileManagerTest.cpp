// The shared cache of open entry files: sharing, reference counts, change detection, change
// notification, virtual files and the locking between writers, subscribers and other threads.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompEntriesTestSupport.h"
#include "CompFileManager.h"
#include "CompPersistent.h"
#include "GenClasses.h"

namespace {

constexpr DWORD GenerousTimeout = 60000;

const char TwoEntries[] = "First {\r\na=1\r\n}\r\n\r\nSecond (Title two) {\r\nb=2\r\n}\r\n";

// Collects the notifications of a file manager.
class TRecorder {
public:
    void Changed(TFileManager *Sender, TStrings *ChangedFiles) {
        ++Calls;
        Names.clear();
        for (int i = 0; i < ChangedFiles->Count(); ++i)
            Names.push_back(ChangedFiles->Strings(i));
    }
    TFileChangeEvent Event() { return MakeEvent<&TRecorder::Changed>(this); }
    int Calls = 0;
    std::vector<std::string> Names;
};

class FileManagerTest : public testing::Test {
protected:
    std::string MakeFile(const std::string &Name, const std::string &Text = TwoEntries) {
        std::string path = Folder.File(Name);
        WriteFileBytes(path, Text);
        return path;
    }
    TTempFolder Folder;
    TFileManager Manager;
};

TEST_F(FileManagerTest, SharesOneObjectPerPath) {
    std::string path = MakeFile("Shared.ofm");
    TEntryFile *first = Manager.OpenFile(path);
    std::string other = path;
    for (char &c : other)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c >= 'A' && c <= 'Z' ? c + 32 : c);
    TEntryFile *second = Manager.OpenFileWithTexts(other);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->RefCount(), 2);
    EXPECT_TRUE(first->GetEntry(1)->TextLoaded()) << "the second open asked for the texts";
    EXPECT_EQ(first->GetEntry(1)->Title(), "Title two");
    first->Release();
    second->Release();
    EXPECT_EQ(first->RefCount(), 0);
    first->Release();
    EXPECT_EQ(first->RefCount(), 0) << "never below zero";
    EXPECT_EQ(Manager.OpenFileCount(), 1) << "an unreferenced file stays cached";
}

TEST_F(FileManagerTest, FreesOnlyUnreferencedFilesBeyondSixteen) {
    std::vector<TEntryFile *> files;
    for (int i = 0; i < 17; ++i)
        files.push_back(Manager.OpenFile(MakeFile("F" + std::to_string(i) + ".ofm")));
    EXPECT_EQ(Manager.OpenFileCount(), 17) << "every file is referenced";
    files[5]->Release();
    files[9]->Release();
    TEntryFile *next = Manager.OpenFile(MakeFile("F17.ofm"));
    EXPECT_EQ(Manager.OpenFileCount(), 17) << "one unreferenced file was freed";
    // The least recently acquired unreferenced file went (F5); F9 is still the same object.
    EXPECT_EQ(Manager.OpenFile(Folder.File("F9.ofm")), files[9]);
    EXPECT_EQ(files[9]->RefCount(), 1);
    for (int i = 0; i < 17; ++i)
        if (i != 5)
            files[i]->Release();
    next->Release();
}

TEST_F(FileManagerTest, ReindexesFilesChangedOnDisk) {
    std::string path = MakeFile("Changing.opr", "Only {\r\n}\r\n");
    TEntryFile *file = Manager.OpenFile(path);
    EXPECT_EQ(file->GetCount(), 1);
    file->Release();
    // Rewritten at once by another program: the same second, a different size.
    WriteFileBytes(path, TwoEntries);
    file = Manager.OpenFile(path);
    EXPECT_EQ(file->GetCount(), 2);
    EXPECT_EQ(file->GetEntry(1)->Name(), "Second");
    file->Release();
}

TEST_F(FileManagerTest, ReportsUnreadableFiles) {
    std::string missing = Folder.File("Missing.ofm");
    try {
        Manager.OpenFile(missing);
        ADD_FAILURE() << "no error";
    } catch (const EEntryError &e) {
        EXPECT_EQ(e.Message(), "Could not open '" + missing + "'");
    }
    EXPECT_EQ(Manager.OpenFileCount(), 0) << "nothing is cached for a failed open";

    TEntryFile *created = Manager.OpenFile(Folder.File("Created.ofm"), true);
    EXPECT_EQ(created->GetCount(), 0);
    EXPECT_TRUE(FileExists(Folder.File("Created.ofm")));
    created->Release();

    // A file another program holds open without sharing cannot be read.
    std::string locked = MakeFile("Locked.ofm");
    HANDLE handle =
        CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    try {
        Manager.OpenFile(locked);
        ADD_FAILURE() << "no error";
    } catch (const EEntryError &e) {
        EXPECT_EQ(e.Message(), "Could not open '" + locked + "'");
    }
    CloseHandle(handle);
    TEntryFile *file = Manager.OpenFile(locked);
    EXPECT_EQ(file->GetCount(), 2);
    file->Release();
}

// A file with a line longer than the scanner takes (a large file without line ends, named as a
// formula file by mistake) is refused with the library's error once that much was read, and a
// file already open that turns into one is left without entries.
TEST_F(FileManagerTest, RefusesFilesWithOverlongLines) {
    const std::string overlong(MaxEntryLineLength + 16, 'x');
    const std::string refusal =
        "Line 3 is longer than " + std::to_string(MaxEntryLineLength) + " characters: not an entry file";
    std::string path = MakeFile("Binary.ofm", "First {\r\n}\r\n" + overlong);
    try {
        Manager.OpenFile(path);
        ADD_FAILURE() << "no error";
    } catch (const EEntryError &e) {
        EXPECT_EQ(e.Message(), refusal);
    }
    EXPECT_EQ(Manager.OpenFileCount(), 0) << "nothing is cached for a refused file";

    // A line of exactly the limit is taken, in a comment or in a body.
    const std::string longest(MaxEntryLineLength - 1, 'x');
    const std::string taken = ";" + longest + "\r\nFirst {\r\n" + longest + "}\r\n";
    path = MakeFile("Longest.ofm", taken);
    TEntryFile *file = Manager.OpenFile(path);
    ASSERT_EQ(file->GetCount(), 1);
    EXPECT_TRUE(file->GetEntry(0)->GetText() == longest);

    // The open file becomes one with an overlong line: refused, and its old index is gone.
    WriteFileBytes(path, "First {\r\n}\r\n" + overlong);
    EXPECT_THROW(file->Scan(false), EEntryError);
    EXPECT_EQ(file->GetCount(), 0);
    WriteFileBytes(path, TwoEntries);
    file->Scan(false);
    EXPECT_EQ(file->GetCount(), 2);
    file->Release();
}

TEST_F(FileManagerTest, BatchesNotificationsOfWrites) {
    TRecorder recorder;
    Manager.Subscribe(recorder.Event());
    std::string a = MakeFile("A.ofm");
    std::string b = MakeFile("B.ofm");
    TEntryFile *fileA = Manager.OpenFile(a);
    TEntryFile *fileB = Manager.OpenFile(b);

    fileA->AppendEntry(std::string("x=1\r\n"), "Single", "", false);
    EXPECT_EQ(recorder.Calls, 1);
    EXPECT_EQ(recorder.Names, std::vector<std::string>{a});

    Manager.BeginUpdate();
    fileA->AppendEntry(std::string("x=1\r\n"), "Third", "", false);
    fileA->DeleteEntry(0);
    fileA->ChangeTitle(0, "Renamed");
    fileB->AppendEntry(std::string("y=2\r\n"), "Other", "", true);
    EXPECT_EQ(recorder.Calls, 1) << "held back";
    Manager.EndUpdate();
    EXPECT_EQ(recorder.Calls, 2);
    EXPECT_EQ(recorder.Names, (std::vector<std::string>{a, b}));

    // Reading reports nothing; a name reported by another writer is told too.
    fileA->GetEntry(0)->GetText();
    Manager.FileChanged(Folder.Path());
    EXPECT_EQ(recorder.Calls, 3);
    EXPECT_EQ(recorder.Names, std::vector<std::string>{Folder.Path()});

    auto reread = TEntryReader::CreateFromFile(a, false);
    EXPECT_EQ(reread->GetCount(), 3);
    EXPECT_EQ(reread->GetEntry(reread->IndexOfName("Second"))->GetTitle(), "Renamed");
    fileA->Release();
    fileB->Release();
    Manager.Unsubscribe(recorder.Event());
}

TEST_F(FileManagerTest, KeepsParameterFilesTitles) {
    std::string path = MakeFile("Fractint.par");
    TEntryFile *file = Manager.OpenFile(path);
    file->ChangeTitle(0, "New");
    EXPECT_EQ(ReadFileBytes(path), TwoEntries);
    file->Release();
}

TEST_F(FileManagerTest, LimitsSubscriptions) {
    std::vector<TRecorder> recorders(TFileManager::MaxSubscriptions + 1);
    for (int i = 0; i < TFileManager::MaxSubscriptions; ++i)
        Manager.Subscribe(recorders[i].Event());
    try {
        Manager.Subscribe(recorders.back().Event());
        ADD_FAILURE() << "no error";
    } catch (const EEntryError &e) {
        EXPECT_EQ(e.Message(), "TFileManager.Subscribe: Too many subscriptions");
    }
    try {
        Manager.Unsubscribe(recorders.back().Event());
        ADD_FAILURE() << "no error";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "TFileManager.Unsubscribe: Cannot find handler");
    }
    Manager.Unsubscribe(recorders[3].Event());
    Manager.FileChanged("x");
    for (int i = 0; i < TFileManager::MaxSubscriptions; ++i)
        EXPECT_EQ(recorders[i].Calls, i == 3 ? 0 : 1);
}

TEST_F(FileManagerTest, NamesVirtualAccountsAndFiles) {
    TVirtualAccount *first = Manager.CreateAccount();
    TVirtualAccount *second = Manager.CreateAccount();
    EXPECT_EQ(first->Name(), "00000000");
    EXPECT_EQ(second->Name(), "00000001");
    TVirtualEntryFile *f0 = second->GetFile("C:\\Client\\Standard.ofm");
    TVirtualEntryFile *f1 = second->GetFile("C:\\Client\\Other.ocl");
    EXPECT_EQ(second->GetFile("c:\\client\\STANDARD.ofm"), f0);
    EXPECT_EQ(f0->VirtualName(), "::00000001:0");
    EXPECT_EQ(f1->VirtualName(), "::00000001:1");

    f1->AppendEntry(std::string("init:\r\n  z=0\r\n"), "Smooth", "", true);
    EXPECT_EQ(Manager.OpenFile("::00000001:1"), f1);
    TEntryFile *resolved = Manager.OpenFile("::00000001:1");
    TEntryStream stream(*resolved, resolved->IndexOfName("smooth"));
    EXPECT_EQ(std::string(stream.Text(), stream.TextLength()), "init:\r\n  z=0\r\n");
    EXPECT_EQ(Manager.ResolveVirtualFile("::00000001:0"), f0);

    for (const char *name : {"::00000002:0", "::00000001:2", "::00000001", "::"}) {
        try {
            Manager.OpenFile(name);
            ADD_FAILURE() << name;
        } catch (const EEntryError &e) {
            EXPECT_EQ(e.Message(), std::string("Could not open '") + name + "'");
        }
    }
    Manager.FreeAccount(second);
    EXPECT_THROW(Manager.OpenFile("::00000001:0"), EEntryError);
    EXPECT_EQ(Manager.CreateAccount()->Name(), "00000002");
}

TEST_F(FileManagerTest, EntryStreamsFromFilesReleaseTheirReference) {
    std::string path = MakeFile("Streams.ofm");
    InitializeCompFileManager(); // the global manager of the test program is running already
    auto stream = TEntryStream::CreateFromFile(path, "SECOND");
    EXPECT_EQ(stream->Name(), "Second");
    EXPECT_EQ(stream->Line(), 5);
    try {
        TEntryStream::CreateFromFile(path, "Third");
        ADD_FAILURE() << "no error";
    } catch (const EEntryError &e) {
        EXPECT_EQ(e.Message(), "");
    }
    TEntryFile *file = FileManager()->OpenFile(path);
    EXPECT_EQ(file->RefCount(), 1) << "the streams released their references";
    file->Release();
}

// Threads stuck on a lock cannot be joined or cleaned up: the failure is reported and the
// program ends at once.
[[noreturn]] void EndStuckTest(const std::string &What) {
    ADD_FAILURE() << What;
    std::printf("\nFATAL: %s\n", What.c_str());
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 1);
    for (;;)
        Sleep(INFINITE);
}

// A thread for the tests; its end is waited for with a time-out, never for ever.
class TTestThread {
public:
    explicit TTestThread(std::function<void()> Body) : FBody(std::move(Body)) {
        FHandle = CreateThread(nullptr, 0, &Run, this, 0, nullptr);
    }
    ~TTestThread() {
        if (FHandle) {
            WaitForSingleObject(FHandle, GenerousTimeout);
            CloseHandle(FHandle);
        }
    }
    TTestThread(const TTestThread &) = delete;
    TTestThread &operator=(const TTestThread &) = delete;
    bool WaitFor(DWORD Timeout) { return WaitForSingleObject(FHandle, Timeout) == WAIT_OBJECT_0; }

private:
    static DWORD WINAPI Run(void *Self) {
        try {
            static_cast<TTestThread *>(Self)->FBody();
        } catch (...) {
            ADD_FAILURE() << "exception in a test thread";
        }
        return 0;
    }
    std::function<void()> FBody;
    HANDLE FHandle = nullptr;
};

// A subscriber runs after the written file's lock was released: another thread can take the
// file's lock while the subscriber waits for it.
TEST_F(FileManagerTest, NotifiesAfterTheFileLockIsReleased) {
    std::string path = MakeFile("Unlocked.ofm");
    TEntryFile *file = Manager.OpenFile(path);
    struct TProbe {
        TEntryFile *File;
        int Calls = 0;
        bool LockTaken = false;
        void Changed(TFileManager *, TStrings *) {
            ++Calls;
            TEvent taken(true, false);
            TTestThread locker([&] {
                File->Lock();
                taken.SetEvent();
                File->Unlock();
            });
            LockTaken = taken.WaitFor(GenerousTimeout) == WAIT_OBJECT_0;
            if (!LockTaken)
                EndStuckTest("the subscriber runs inside the file's lock");
        }
    } probe{file};
    Manager.Subscribe(MakeEvent<&TProbe::Changed>(&probe));
    file->AppendEntry(std::string("x=1\r\n"), "Third", "", false);
    EXPECT_EQ(probe.Calls, 1);
    EXPECT_TRUE(probe.LockTaken);
    file->Release();
    Manager.Unsubscribe(MakeEvent<&TProbe::Changed>(&probe));
}

// A subscriber that opens files while another thread keeps opening the written file finishes.
TEST_F(FileManagerTest, SubscribersOpeningFilesDoNotDeadlock) {
    const std::string written = MakeFile("Written.ofm");
    const std::string other = MakeFile("Other.ofm");
    struct TOpener {
        TFileManager *Manager;
        std::string Written, Other;
        int Calls = 0;
        void Changed(TFileManager *, TStrings *) {
            ++Calls;
            TEntryFile *a = Manager->OpenFile(Other);
            TEntryFile *b = Manager->OpenFileWithTexts(Written);
            b->GetEntry(0)->GetText();
            b->Release();
            a->Release();
        }
    } opener{&Manager, written, other};
    Manager.Subscribe(MakeEvent<&TOpener::Changed>(&opener));

    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::atomic<int> writes{0};
    TTestThread reader([&] {
        while (!stop) {
            try {
                TEntryFile *file = Manager.OpenFile(written);
                file->IndexOfName("First");
                file->Release();
            } catch (...) {
                ++failures;
            }
        }
    });
    TTestThread writer([&] {
        try {
            TEntryFile *file = Manager.OpenFile(written);
            for (int i = 0; i < 40; ++i) {
                file->AppendEntry(std::string("w=1\r\n"), "Added", "", false);
                ++writes;
            }
            file->Release();
        } catch (...) {
            ++failures;
        }
    });
    bool writerFinished = writer.WaitFor(GenerousTimeout);
    stop = true;
    bool readerFinished = reader.WaitFor(GenerousTimeout);
    if (!writerFinished || !readerFinished)
        EndStuckTest("deadlock after " + std::to_string(writes) + " writes");
    EXPECT_EQ(writes, 40);
    EXPECT_EQ(opener.Calls, 40);
    EXPECT_EQ(failures, 0);
    Manager.Unsubscribe(MakeEvent<&TOpener::Changed>(&opener));
}

} // namespace
