// Method events, lists, string lists and streams.
#include <windows.h>

#include "Classes.h"
#include "MethodEventOtherUnit.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

// ---------------------------------------------------------------------------------------------
// Method events

class TCounter : public TObject {
public:
    int Calls = 0;
    TObject *LastSender = nullptr;
    void Changed(TObject *Sender) {
        ++Calls;
        LastSender = Sender;
    }
    void Other(TObject *) { Calls += 100; }
    int Add(int a, int b) const { return a + b + Calls; }
    virtual void Hook(TObject *) { Calls += 1000; }
};

class TOtherBase {
public:
    virtual ~TOtherBase() = default;
    int Padding = 0;
};

// A second base in front moves the TCounter part away from the start of the object.
class TDerivedCounter : public TOtherBase, public TCounter {
public:
    void Hook(TObject *) override { Calls += 5000; }
};

TEST(MethodEventTest, EqualWhenCodeAndObjectAreEqual) {
    TCounter a, b;
    TNotifyEvent ea = MakeNotifyEvent<&TCounter::Changed>(&a);
    EXPECT_TRUE(ea == MakeNotifyEvent<&TCounter::Changed>(&a));
    EXPECT_FALSE(ea == MakeNotifyEvent<&TCounter::Changed>(&b));
    EXPECT_FALSE(ea == MakeNotifyEvent<&TCounter::Other>(&a));
    EXPECT_FALSE(ea == TNotifyEvent());
    EXPECT_TRUE(TNotifyEvent() == TNotifyEvent(nullptr));

    // The same member made through a derived pointer with a shifted base is still the same event.
    TDerivedCounter d;
    TCounter *asBase = &d;
    EXPECT_TRUE(MakeNotifyEvent<&TCounter::Changed>(&d) == MakeNotifyEvent<&TCounter::Changed>(asBase));
}

TEST(MethodEventTest, CallsTheMemberOfTheObject) {
    TCounter a;
    TNotifyEvent e = MakeNotifyEvent<&TCounter::Changed>(&a);
    ASSERT_TRUE(e.Assigned());
    e(&a);
    e(nullptr);
    EXPECT_EQ(2, a.Calls);
    EXPECT_EQ(nullptr, a.LastSender);

    TDerivedCounter d;
    MakeNotifyEvent<&TCounter::Hook> (&d)(nullptr); // virtual: the override runs
    MakeNotifyEvent<&TCounter::Changed> (&d)(&d);
    EXPECT_EQ(5001, d.Calls);
    EXPECT_EQ(static_cast<TObject *>(static_cast<TCounter *>(&d)), d.LastSender);

    auto add = MakeEvent<&TCounter::Add>(&a);
    EXPECT_EQ(10, add(3, 5));

    TNotifyEvent none;
    EXPECT_FALSE(none.Assigned());
    EXPECT_FALSE(static_cast<bool>(none));
    none(&a); // does nothing
    EXPECT_EQ(2, a.Calls);
    TMethod<int(int, int)> noResult;
    EXPECT_EQ(0, noResult(1, 2));
}

// Same class and member names as in MethodEventOtherUnit.cpp, each in its own anonymous
// namespace: the two files' events must each call their own file's member, however the linker
// merges template code.
class TSameNamedHandler {
public:
    int Calls = 0;
    int Copy(int x) { return ++Calls * 1000 + x; }
    int Peek(int x) const { return 1000 + 10 * x; }
};

TEST(MethodEventTest, ThunksOfSameNamedLocalClassesStayApart) {
    TSameNamedHandler here;
    const TSameNamedHandler &constHere = here;
    EXPECT_EQ(1001, CallInOtherUnit(MakeEvent<&TSameNamedHandler::Copy>(&here), 1));
    EXPECT_EQ(1010, CallInOtherUnit(MakeEvent<&TSameNamedHandler::Peek>(&constHere), 1));
    EXPECT_EQ(2002, CallInOtherUnit(OtherUnitCopyEvent(), 2));
    EXPECT_EQ(2020, CallInOtherUnit(OtherUnitPeekEvent(), 2));
}

// ---------------------------------------------------------------------------------------------
// TList

void *P(intptr_t n) {
    return reinterpret_cast<void *>(n);
}
intptr_t N(void *p) {
    return reinterpret_cast<intptr_t>(p);
}

std::string Contents(const TList &list) {
    std::string s;
    for (int i = 0; i < list.Count(); ++i)
        s += std::to_string(N(list[i])) + (i + 1 < list.Count() ? "," : "");
    return s;
}

TEST(ListTest, EditsKeepOrder) {
    TList list;
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(i - 1, list.Add(P(i)));
    list.Insert(0, P(9));
    list.Insert(6, P(8));
    EXPECT_EQ("9,1,2,3,4,5,8", Contents(list));
    list.Delete(1);
    EXPECT_EQ(2, list.Remove(P(3)));
    EXPECT_EQ(-1, list.Remove(P(77)));
    EXPECT_EQ("9,2,4,5,8", Contents(list));
    list.Exchange(0, 4);
    list.Move(0, 2);
    EXPECT_EQ("2,4,8,5,9", Contents(list));
    EXPECT_EQ(P(8), list.Extract(P(8)));
    EXPECT_EQ(nullptr, list.Extract(P(8)));
    EXPECT_EQ(3, list.IndexOf(P(9)));
    list.SetItems(1, nullptr);
    list.Add(nullptr);
    list.Pack();
    EXPECT_EQ("2,5,9", Contents(list));
    EXPECT_EQ(P(2), list.First());
    EXPECT_EQ(P(9), list.Last());
    list.SetCount(5);
    EXPECT_EQ("2,5,9,0,0", Contents(list));
    list.Clear();
    EXPECT_EQ(0, list.Count());
}

TEST(ListTest, SortIsStable) {
    TList list;
    // Values 10*key + position: sorting by key must keep positions ascending within a key.
    const int values[] = {31, 12, 33, 14, 25, 16, 37, 18};
    for (int v : values)
        list.Add(P(v));
    list.Sort([](void *a, void *b) { return static_cast<int>(N(a) / 10 - N(b) / 10); });
    EXPECT_EQ("12,14,16,18,25,31,33,37", Contents(list));
}

TEST(ListTest, BadIndexesRaiseListError) {
    TList list;
    list.Add(P(1));
    list.Add(P(2));
    struct Case {
        const char *What;
        std::function<void()> Call;
        int Index;
    };
    const Case cases[] = {
        {"Items -1", [&] { list.Items(-1); }, -1},
        {"Items 2", [&] { list.Items(2); }, 2},
        {"SetItems", [&] { list.SetItems(2, nullptr); }, 2},
        {"Delete", [&] { list.Delete(5); }, 5},
        {"Insert", [&] { list.Insert(3, nullptr); }, 3},
        {"Exchange", [&] { list.Exchange(0, -2); }, -2},
        {"Move", [&] { list.Move(0, 2); }, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        try {
            c.Call();
            ADD_FAILURE() << "no exception";
        } catch (const EListError &e) {
            EXPECT_EQ("List index out of bounds (" + std::to_string(c.Index) + ")", e.Message());
        }
    }
    EXPECT_EQ("1,2", Contents(list));
    TList empty;
    EXPECT_THROW(empty.First(), EListError);
    EXPECT_THROW(empty.Last(), EListError);
}

// ---------------------------------------------------------------------------------------------
// TObjectList

struct TTracked : TObject {
    TTracked(int id, std::string &log) : Id(id), Log(log) {}
    ~TTracked() override { Log += "~" + std::to_string(Id); }
    int Id;
    std::string &Log;
};

TEST(ObjectListTest, OwnsWhatItHolds) {
    std::string log;
    {
        TObjectList<TTracked> list;
        for (int i = 1; i <= 5; ++i)
            list.Add(std::make_unique<TTracked>(i, log));
        list.Delete(0);
        EXPECT_EQ("~1", log);
        EXPECT_EQ(1, list.Remove(list[1]));
        EXPECT_EQ("~1~3", log);
        std::unique_ptr<TTracked> taken = list.Extract(list[0]);
        ASSERT_TRUE(taken);
        EXPECT_EQ(2, taken->Id);
        EXPECT_EQ("~1~3", log);
        list.SetItems(0, std::make_unique<TTracked>(6, log));
        EXPECT_EQ("~1~3~4", log);
        EXPECT_EQ(-1, list.Remove(taken.get()));
        log.clear();
    }
    // The extracted object goes with its holder (declared last, so freed first); the list frees
    // its own objects last first.
    EXPECT_EQ("~2~5~6", log);
}

TEST(ObjectListTest, SortIsStableAndSafeWithABadComparison) {
    std::string log;
    TObjectList<TTracked> list;
    const int ids[] = {31, 12, 33, 14, 25, 16, 37, 18};
    for (int id : ids)
        list.Add(std::make_unique<TTracked>(id, log));
    list.Sort([](const TTracked *a, const TTracked *b) { return a->Id / 10 - b->Id / 10; });
    std::string order;
    for (int i = 0; i < list.Count(); ++i)
        order += std::to_string(list[i]->Id) + " ";
    EXPECT_EQ("12 14 16 18 25 31 33 37 ", order);
    // A comparison that contradicts itself loses nothing and frees nothing.
    int flip = 0;
    list.Sort([&flip](const TTracked *, const TTracked *) { return (flip++ % 3) - 1; });
    EXPECT_EQ(8, list.Count());
    EXPECT_EQ("", log);
    EXPECT_THROW(list.Items(8), EListError);
}

// ---------------------------------------------------------------------------------------------
// Sorting with a comparison that answers at random: every list must keep exactly its items
// (nothing read from outside the list, nothing lost or doubled).

std::mt19937 &RandomAnswers() {
    static std::mt19937 generator(20261210);
    return generator;
}

int RandomOrder() {
    return static_cast<int>(RandomAnswers()() % 3) - 1;
}

class TRandomStringList : public TStringList {
public:
    int CompareStrings(const std::string &, const std::string &) const override { return RandomOrder(); }
};

TEST(ListSortTest, RandomComparisonKeepsEveryItem) {
    constexpr int Items = 600;
    std::vector<int> expected(Items);
    for (int i = 0; i < Items; ++i)
        expected[i] = i + 1;
    const std::function<std::vector<int>()> sorts[] = {
        [] {
            TList list;
            for (int i = 1; i <= Items; ++i)
                list.Add(P(i));
            list.Sort([](void *, void *) { return RandomOrder(); });
            std::vector<int> seen;
            for (int i = 0; i < list.Count(); ++i)
                seen.push_back(N(list[i]));
            return seen;
        },
        [] {
            TObjectList<TStringList> list; // any object type: only its identity is checked
            for (int i = 1; i <= Items; ++i) {
                list.Add(std::make_unique<TStringList>());
                list.Last()->Add(std::to_string(i));
            }
            list.Sort([](const TStringList *, const TStringList *) { return RandomOrder(); });
            std::vector<int> seen;
            for (int i = 0; i < list.Count(); ++i)
                seen.push_back(std::stoi(list[i]->Strings(0)));
            return seen;
        },
        [] {
            TRandomStringList list;
            for (int i = 1; i <= Items; ++i)
                list.Add(std::to_string(i));
            list.Sort();
            std::vector<int> seen;
            for (int i = 0; i < list.Count(); ++i)
                seen.push_back(std::stoi(list[i]));
            return seen;
        },
        [] {
            TStringList list;
            for (int i = 1; i <= Items; ++i)
                list.Add(std::to_string(i));
            list.CustomSort([](TStringList &, int, int) { return RandomOrder(); });
            std::vector<int> seen;
            for (int i = 0; i < list.Count(); ++i)
                seen.push_back(std::stoi(list[i]));
            return seen;
        }};
    for (size_t kind = 0; kind < std::size(sorts); ++kind) {
        for (int round = 0; round < 20; ++round) {
            std::vector<int> seen = sorts[kind]();
            std::sort(seen.begin(), seen.end());
            ASSERT_EQ(expected, seen) << "list kind " << kind << ", round " << round;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TStringList

std::string Joined(const TStrings &list) {
    std::string s;
    for (int i = 0; i < list.Count(); ++i)
        s += list[i] + "|";
    return s;
}

TEST(StringListTest, IndexOfAndSortIgnoreCase) {
    TStringList list;
    list.Add("beta");
    list.Add("Alpha");
    list.Add("gamma");
    list.Add("ALPHA");
    EXPECT_EQ(1, list.IndexOf("alpha"));
    EXPECT_EQ(2, list.IndexOf("GAMMA"));
    EXPECT_EQ(-1, list.IndexOf("delta"));
    list.Sort();
    EXPECT_EQ("Alpha|ALPHA|beta|gamma|", Joined(list)); // equal texts keep their order
    list.SetCaseSensitive(true);
    EXPECT_EQ(-1, list.IndexOf("alpha"));
    EXPECT_EQ(1, list.IndexOf("ALPHA"));
}

TEST(StringListTest, SortedListsKeepOrderAndApplyDuplicates) {
    TStringList list;
    list.SetSorted(true);
    list.Add("Mandelbrot");
    list.Add("julia");
    list.Add("Newton");
    EXPECT_EQ("julia|Mandelbrot|Newton|", Joined(list));
    EXPECT_EQ(0, list.Add("JULIA")); // dupIgnore: the existing entry
    EXPECT_EQ(3, list.Count());
    list.SetDuplicates(dupAccept);
    list.Add("NEWTON");
    EXPECT_EQ(4, list.Count());
    EXPECT_EQ(2, list.IndexOf("newton"));
    list.SetDuplicates(dupError);
    try {
        list.Add("julia");
        FAIL() << "no exception";
    } catch (const EStringListError &e) {
        EXPECT_EQ("String list does not allow duplicates", e.Message());
    }
    EXPECT_THROW(list.Insert(0, "x"), EStringListError);
    int index = -1;
    EXPECT_FALSE(list.Find("Lyapunov", index));
    EXPECT_EQ(1, index);
    EXPECT_TRUE(list.Find("MANDELBROT", index));
    EXPECT_EQ(1, index);
}

TEST(StringListTest, TextSplitsAtEveryLineBreakAndJoinsWithCrLf) {
    struct Case {
        const char *Text;
        const char *Lines;
    };
    const Case cases[] = {
        {"", ""},
        {"a", "a|"},
        {"a\r\n", "a|"},
        {"a\r\nb", "a|b|"},
        {"a\nb\rc\r\nd", "a|b|c|d|"},
        {"a\r\n\r\n", "a||"},
        {"\r\n", "|"},
        {"a\n\rb", "a||b|"}, // LF then CR: two line breaks
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Text);
        TStringList list;
        list.SetText(c.Text);
        EXPECT_EQ(c.Lines, Joined(list));
    }
    TStringList list;
    list.SetText(std::string("x\0y\nz", 5)); // a zero byte is kept as part of its line
    ASSERT_EQ(2, list.Count());
    EXPECT_EQ(std::string("x\0y", 3), list[0]);
    list.SetText("one\ntwo");
    EXPECT_EQ("one\r\ntwo\r\n", list.Text());
}

TEST(StringListTest, NamesAndValues) {
    TStringList list;
    list.SetText("Title=Julia set\r\nformula=z^2+c\r\nplain line\r\nEmpty=\r\nA=b=c");
    EXPECT_EQ("Title", list.Names(0));
    EXPECT_EQ("", list.Names(2));
    EXPECT_EQ("Julia set", list.Values("TITLE"));
    EXPECT_EQ("b=c", list.Values("a"));
    EXPECT_EQ("", list.Values("missing"));
    EXPECT_EQ(3, list.IndexOfName("empty"));
    list.SetValues("formula", "z^3+c");
    EXPECT_EQ("formula=z^3+c", list[1]);
    list.SetValues("New", "1");
    EXPECT_EQ("New=1", list[5]);
    list.SetValues("title", "");
    EXPECT_EQ(-1, list.IndexOfName("Title"));
    EXPECT_EQ(5, list.Count());
}

TEST(StringListTest, ObjectsTravelWithTheirStrings) {
    TStringList list;
    TObject a, b;
    list.AddObject("b", &b);
    list.AddObject("a", &a);
    list.Add("c");
    list.Sort();
    EXPECT_EQ(&a, list.Objects(0));
    EXPECT_EQ(&b, list.Objects(1));
    EXPECT_EQ(nullptr, list.Objects(2));
    list.Exchange(0, 2);
    EXPECT_EQ(&a, list.Objects(2));
    EXPECT_EQ(2, list.IndexOfObject(&a));
    TStringList copy;
    copy.Assign(list);
    EXPECT_TRUE(copy.Equals(list));
    EXPECT_EQ(&b, copy.Objects(1));
    EXPECT_THROW(list.Objects(3), EListError);
    EXPECT_THROW(list.Strings(-1), EListError);
}

TEST(StringListTest, ChangeEventsAreHeldDuringAnUpdate) {
    TCounter counter;
    TStringList list;
    list.OnChange = MakeNotifyEvent<&TCounter::Changed>(&counter);
    list.Add("a");
    list.Add("b");
    EXPECT_EQ(2, counter.Calls);
    EXPECT_EQ(&list, counter.LastSender);
    list.BeginUpdate();
    list.BeginUpdate();
    list.SetText("x\ny\nz");
    list.Delete(0);
    list.EndUpdate();
    EXPECT_EQ(2, counter.Calls);
    list.EndUpdate();
    EXPECT_EQ(3, counter.Calls);
}

// ---------------------------------------------------------------------------------------------
// Streams

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        FFolder = std::string(base) + "ovclasslib" + std::to_string(GetCurrentProcessId()) + "\\";
        ASSERT_TRUE(ForceDirectories(FFolder + "sub\\deeper"));
    }
    void TearDown() override {
        for (const char *name : {"a.bin", "b.txt", "c.bin", "renamed.bin"})
            DeleteFile(FFolder + name);
        RemoveDir(FFolder + "sub\\deeper");
        RemoveDir(FFolder + "sub");
        RemoveDir(FFolder);
    }
    std::string FFolder;
};

TEST_F(TempFolder, FileStreamWritesReadsAndSeeks) {
    std::string name = FFolder + "a.bin";
    {
        TFileStream stream(name, fmCreate);
        stream.WriteUInt32(0x11223344);
        stream.WriteString("fractal");
        stream.WriteInt16(-2);
        EXPECT_EQ(13, stream.Size());
        stream.SetSize(11);
        EXPECT_EQ(11, stream.Position());
    }
    EXPECT_TRUE(FileExists(name));
    EXPECT_FALSE(DirectoryExists(name));
    EXPECT_NE(-1, FileAge(name));
    TFileStream stream(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(11, stream.Size());
    unsigned char head[4];
    stream.ReadBuffer(head, 4);
    EXPECT_EQ(0x44, head[0]); // little-endian on disk
    EXPECT_EQ(0x11, head[3]);
    EXPECT_EQ("fractal", stream.ReadString(7, 100));
    EXPECT_EQ(4, stream.Seek(-7, soFromEnd));
    EXPECT_EQ('f', stream.ReadUInt8());
    char rest[16];
    EXPECT_EQ(6, stream.Read(rest, sizeof(rest)));
    EXPECT_EQ(0, stream.Read(rest, sizeof(rest)));
    try {
        stream.ReadBuffer(rest, 1);
        FAIL() << "no exception";
    } catch (const EReadError &e) {
        EXPECT_EQ("Stream read error in file \"" + name + "\"", e.Message());
    }
    // Writing to a stream opened for reading fails loudly, naming the file.
    try {
        stream.WriteUInt8(1);
        FAIL() << "no exception";
    } catch (const EWriteError &e) {
        EXPECT_EQ("Stream write error in file \"" + name + "\"", e.Message());
    }
}

TEST_F(TempFolder, FileStreamErrorsNameTheFile) {
    std::string missing = FFolder + "nothing.bin";
    try {
        TFileStream stream(missing, fmOpenRead);
        FAIL() << "no exception";
    } catch (const EFOpenError &e) {
        EXPECT_EQ("Cannot open file \"" + missing + "\"", e.Message());
    }
    std::string badFolder = FFolder + "no\\such\\folder\\x.bin";
    try {
        TFileStream stream(badFolder, fmCreate);
        FAIL() << "no exception";
    } catch (const EFCreateError &e) {
        EXPECT_EQ("Cannot create file \"" + badFolder + "\"", e.Message());
    }
    // Share modes: a file held with "deny write" cannot be opened for writing elsewhere.
    std::string name = FFolder + "a.bin";
    { TFileStream create(name, fmCreate); }
    TFileStream reader(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_THROW(TFileStream(name, fmOpenWrite | fmShareDenyNone), EFOpenError);
    TFileStream second(name, fmOpenRead | fmShareDenyNone);
    (void)second;
    EXPECT_THROW(TFileStream(name, 3), EFOpenError); // no such access mode
}

TEST_F(TempFolder, FileHelpers) {
    std::string a = FFolder + "a.bin", b = FFolder + "renamed.bin";
    { TFileStream create(a, fmCreate); }
    EXPECT_TRUE(RenameFile(a, b));
    EXPECT_FALSE(FileExists(a));
    EXPECT_TRUE(FileExists(b));
    EXPECT_TRUE(DeleteFile(b));
    EXPECT_FALSE(DeleteFile(b));
    EXPECT_TRUE(DirectoryExists(FFolder + "sub\\deeper"));
    EXPECT_TRUE(ForceDirectories(FFolder + "sub\\deeper\\")); // exists already
    EXPECT_EQ(-1, FileAge(FFolder + "sub"));
    EXPECT_FALSE(ForceDirectories(""));
}

TEST_F(TempFolder, StringListFilesUseCrLf) {
    std::string name = FFolder + "b.txt";
    TStringList list;
    list.Add("[fractal]");
    list.Add("layers=2");
    list.SaveToFile(name);
    TMemoryStream raw;
    raw.LoadFromFile(name);
    EXPECT_EQ("[fractal]\r\nlayers=2\r\n", std::string(static_cast<char *>(raw.Memory()), raw.Size()));
    TStringList back;
    back.Add("old");
    back.LoadFromFile(name);
    EXPECT_TRUE(back.Equals(list));
    EXPECT_THROW(back.LoadFromFile(FFolder + "missing.txt"), EFOpenError);
}

TEST(MemoryStreamTest, GrowsAndKeepsContent) {
    TMemoryStream stream;
    for (int i = 0; i < 100000; ++i)
        stream.WriteInt32(i);
    EXPECT_EQ(400000, stream.Size());
    EXPECT_GE(stream.Capacity(), 400000);
    stream.SetPosition(4 * 77777);
    EXPECT_EQ(77777, stream.ReadInt32());
    // Writing past the end leaves a gap of zeros, never stale memory.
    stream.Seek(10, soFromEnd);
    stream.WriteUInt8(0xAB);
    EXPECT_EQ(400011, stream.Size());
    stream.SetPosition(400000);
    unsigned char gap[11];
    stream.ReadBuffer(gap, 11);
    EXPECT_EQ(std::string(10, '\0') + "\xAB", std::string(reinterpret_cast<char *>(gap), 11));
    stream.SetSize(8);
    EXPECT_EQ(8, stream.Position());
    stream.SetPosition(0);
    EXPECT_EQ(0, stream.ReadInt32());
    EXPECT_EQ(1, stream.ReadInt32());
    EXPECT_THROW(stream.ReadInt32(), EReadError);
    stream.Clear();
    EXPECT_EQ(0, stream.Size());
    EXPECT_EQ(0, stream.Position());
    EXPECT_THROW(stream.Seek(-1, soFromBeginning), EStreamError);
}

TEST(MemoryStreamTest, FixedWidthValuesAreLittleEndian) {
    TMemoryStream stream;
    stream.WriteUInt16(0x0102);
    stream.WriteInt32(-2);
    stream.WriteUInt64(0x0102030405060708ull);
    stream.WriteFloat64(1.0);
    stream.WriteFloat80(-1.0L);
    stream.WriteInt8(-1);
    stream.WriteFloat32(2.0f);
    const unsigned char expected[] = {
        0x02, 0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0, 0, 0, 0,   0,
        0,    0xF0, 0x3F, 0,    0,    0,    0,    0,    0,    0,    0x80, 0xFF, 0xBF, 0xFF, 0, 0, 0, 0x40};
    ASSERT_EQ(static_cast<int64_t>(sizeof(expected)), stream.Size());
    EXPECT_EQ(0, std::memcmp(expected, stream.Memory(), sizeof(expected)));
    stream.SetPosition(0);
    EXPECT_EQ(0x0102, stream.ReadUInt16());
    EXPECT_EQ(-2, stream.ReadInt32());
    EXPECT_EQ(0x0102030405060708ull, stream.ReadUInt64());
    EXPECT_EQ(1.0, stream.ReadFloat64());
    EXPECT_EQ(-1.0L, stream.ReadFloat80());
    EXPECT_EQ(-1, stream.ReadInt8());
    EXPECT_EQ(2.0f, stream.ReadFloat32());
}

TEST(MemoryStreamTest, LengthsReadFromDataAreChecked) {
    TMemoryStream stream;
    stream.WriteInt32(1000); // claims more than follows
    stream.WriteString("abc");
    stream.SetPosition(0);
    int32_t length = stream.ReadInt32();
    EXPECT_THROW(stream.ReadString(length), EReadError);
    EXPECT_EQ(4, stream.Position()); // nothing consumed
    EXPECT_THROW(stream.ReadString(-1), EReadError);
    EXPECT_THROW(stream.ReadString(3, 2), EReadError); // beyond the caller's cap
    EXPECT_THROW(stream.CheckLength(4, 100), EReadError);
    EXPECT_EQ("abc", stream.ReadString(3, 3));
}

// A stream over a block the caller owns, as read-only views of network payloads use it.
class TCallerBlockStream : public TCustomMemoryStream {
public:
    TCallerBlockStream(void *block, int64_t size) { SetPointer(block, size); }
};

TEST(MemoryStreamTest, CallerBlockIsReadOnlyAndNeverFreed) {
    char block[] = {'o', 'r', 'b', 'i', 's', 'k'};
    {
        TCallerBlockStream stream(block, sizeof(block));
        char buffer[4];
        EXPECT_EQ(4, stream.Read(buffer, 4));
        EXPECT_EQ(0, std::memcmp(buffer, "orbi", 4));
        EXPECT_EQ(0, stream.Write("x", 1));
        EXPECT_THROW(stream.WriteUInt8(1), EWriteError);
        EXPECT_THROW(stream.SetSize(2), EStreamError);
        EXPECT_EQ(2, stream.Read(buffer, 4));
        EXPECT_EQ(block, stream.Memory());
        TMemoryStream copy;
        stream.SaveToStream(copy);
        EXPECT_EQ(6, copy.Size());
    }
    EXPECT_EQ('o', block[0]); // still ours, untouched
}

TEST(MemoryStreamTest, CopyFromAndStringStream) {
    TStringStream source("0123456789");
    source.SetPosition(3);
    TMemoryStream target;
    EXPECT_EQ(4, target.CopyFrom(source, 4));
    EXPECT_EQ("3456", std::string(static_cast<char *>(target.Memory()), 4));
    EXPECT_EQ(10, target.CopyFrom(source, 0)); // 0: all of it from the start
    EXPECT_EQ(14, target.Size());
    EXPECT_THROW(target.CopyFrom(source, 1), EReadError); // source at its end

    TStringStream text;
    text.WriteString("abc");
    text.SetPosition(1);
    text.WriteString("XYZ");
    EXPECT_EQ("aXYZ", text.DataString());
    text.SetSize(2);
    EXPECT_EQ("aX", text.DataString());
    EXPECT_EQ(2, text.Position());
}

} // namespace
