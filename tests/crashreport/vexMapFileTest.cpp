#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "VexTestData.h"
#include "vexDisAsmText.h"
#include "vexDisAsmWalk.h"
#include "vexMapFile.h"

namespace {

std::string ReadBinary(const std::string &name) {
    std::ifstream in(VexDataPath(name), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

constexpr std::uintptr_t CodeStart = 0x10000000;

TMapFile FixtureMap(const std::string &name, bool &read) {
    TMapFile map;
    map.CodeStart = CodeStart;
    map.CodeEnd = CodeStart + 0x2000;
    read = map.ReadPackedMap(ReadBinary(name));
    return map;
}

// Small maps written by tools/vex_map_fixtures.py.
TEST(vexMapFileTest, PackedMapLookups) {
    bool read = false;
    const TMapFile map = FixtureMap("map_valid.vex", read);
    ASSERT_TRUE(read);
    ASSERT_EQ(map.Segments.size(), 2u);
    ASSERT_EQ(map.Publics.size(), 4u);
    ASSERT_EQ(map.Lines.size(), 4u);
    EXPECT_EQ(map.EntryPoint, CodeStart + 0x40);
    struct Case {
        std::uintptr_t offset;
        const char *unit, *routine;
        std::uint32_t line;
    } cases[] = {
        {0x000, "UnitA", "First", 10},  {0x00F, "UnitA", "First", 10},  {0x010, "UnitA", "First", 12},
        {0x045, "UnitA", "Second", 12}, {0x0FF, "UnitA", "Second", 12}, {0x100, "UnitB", "Third", 200},
        {0x17F, "UnitB", "Third", 201}, {0x180, nullptr, "Third", 0},   {0x1000, nullptr, "Far", 0},
        {0x1FFF, nullptr, "Far", 0},    {0x2000, nullptr, nullptr, 0},
    };
    for (const Case &c : cases) {
        const std::uintptr_t address = CodeStart + c.offset;
        const MapSegment *unit = FindUnit(map, address);
        const MapPublic *routine = FindPublic(map, address);
        EXPECT_EQ(unit != nullptr, c.unit != nullptr) << c.offset;
        if (c.unit) {
            EXPECT_EQ(unit->unit, c.unit);
        }
        EXPECT_EQ(routine ? routine->name : std::string("-"), c.routine ? c.routine : "-") << c.offset;
        EXPECT_EQ(FindLine(map, address), c.line) << c.offset;
    }
    EXPECT_EQ(FindPublic(map, CodeStart - 1), nullptr);
}

TEST(vexMapFileTest, ASingleLineAnswersUpToTheCodeEnd) {
    bool read = false;
    const TMapFile map = FixtureMap("map_single_line.vex", read);
    ASSERT_TRUE(read);
    EXPECT_EQ(FindLine(map, CodeStart + 0x1F), 0u);
    EXPECT_EQ(FindLine(map, CodeStart + 0x20), 5u);
    EXPECT_EQ(FindLine(map, CodeStart + 0xFF), 5u);
    EXPECT_EQ(FindLine(map, CodeStart + 0x100), 0u) << "another unit";
}

TEST(vexMapFileTest, DamagedMapsAreRefused) {
    for (const char *name : {"map_version1.vex", "map_wrong_text.vex", "map_flipped.vex", "map_short.vex",
                             "map_long_length.vex", "map_huge_count.vex"}) {
        bool read = true;
        const TMapFile map = FixtureMap(name, read);
        EXPECT_FALSE(read) << name;
        EXPECT_FALSE(map.Valid) << name;
        EXPECT_EQ(FindPublic(map, CodeStart), nullptr) << name;
    }
    TMiniStream stream("abc", 3);
    char buffer[8];
    EXPECT_EQ(stream.Read(buffer, -1), 0);
    EXPECT_EQ(stream.Read(buffer, 8), 3);
    EXPECT_EQ(stream.Read(buffer, 8), 0);
}

// The routine's own name from a demangled name: the last scope component without template
// arguments, parameter lists, ABI tags and clone suffixes. addr2line spells template arguments
// differently and sometimes drops the scopes or a leading underscore; the routine's own name is
// what both sources agree on.
std::string NameKey(const std::string &name) {
    std::string flat;
    int depth = 0;
    for (char c : name) {
        if (c == '<' || c == '(' || c == '[')
            ++depth;
        else if ((c == '>' || c == ')' || c == ']') && depth > 0)
            --depth;
        else if (depth == 0)
            flat.push_back(c);
    }
    for (bool trimmed = true; trimmed;) {
        trimmed = false;
        for (const char *suffix : {" ", " const", " volatile", "&"})
            if (flat.size() >= std::strlen(suffix) &&
                flat.compare(flat.size() - std::strlen(suffix), std::string::npos, suffix) == 0) {
                flat.resize(flat.size() - std::strlen(suffix));
                trimmed = true;
            }
    }
    const std::size_t scope = flat.rfind("::");
    std::string last = scope == std::string::npos ? flat : flat.substr(scope + 2);
    const std::size_t blank = last.rfind(' ');
    if (blank != std::string::npos && last.compare(0, 8, "operator") != 0)
        last = last.substr(blank + 1);
    while (!last.empty() && last[0] == '_')
        last.erase(0, 1);
    // C routines' clones: "name.constprop.0", "name.isra.0", "name.part.0".
    return last.substr(0, last.find('.'));
}

std::string ProgramFile(const char *extension) {
    char name[MAX_PATH];
    GetModuleFileNameA(nullptr, name, MAX_PATH);
    const std::string path = name;
    return path.substr(0, path.rfind('.')) + extension;
}

// The build packs this program's map beside it and asks addr2line about 1,000 random addresses.
TEST(vexMapFileTest, ProgramMapAgreesWithAddr2line) {
    const TMapFile *map = GetModuleMap(nullptr);
    ASSERT_TRUE(map->Valid);
    EXPECT_EQ(map->MapFileName, ProgramFile(".vex"));
    EXPECT_EQ(map->Module, GetModuleHandleA(nullptr));
    EXPECT_EQ(GetModuleMap(reinterpret_cast<void *>(&GetModuleMap)), map) << "cached";
    EXPECT_FALSE(GetModuleMap(reinterpret_cast<void *>(0x10))->Valid);

    std::ifstream in(ProgramFile(".addr2line"));
    ASSERT_TRUE(in.good());
    int checked = 0, lineMismatches = 0, nameMismatches = 0;
    std::ostringstream report;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string address, number, function;
        int alias = 0;
        fields >> address >> number >> alias;
        std::getline(fields >> std::ws, function);
        const std::uintptr_t at = std::stoul(address, nullptr, 16);
        const std::uint32_t expectedLine = static_cast<std::uint32_t>(std::stoul(number));
        const MapPublic *routine = FindPublic(*map, at);
        const std::string ours = routine ? NameKey(routine->name) : "";
        // A name cut at the map's length limit matches as a prefix.
        const std::string theirs = NameKey(function);
        const bool cut = routine && routine->name.size() == 255;
        const bool sameName =
            !ours.empty() && (ours == theirs || alias || (cut && theirs.compare(0, ours.size(), ours) == 0));
        if (!sameName && nameMismatches++ < 30)
            report << address << " name " << (routine ? routine->name : "") << " / " << function << "\n";
        if (FindLine(*map, at) != expectedLine && lineMismatches++ < 5)
            report << address << " line " << FindLine(*map, at) << " / " << expectedLine << "\n";
        ++checked;
    }
    EXPECT_GE(checked, 900);
    EXPECT_EQ(nameMismatches, 0) << report.str();
    EXPECT_EQ(lineMismatches, 0) << report.str();
    EXPECT_EQ(NameOfExactAddress(reinterpret_cast<std::uintptr_t>(&FindLine)),
              "FindLine(TMapFile const&, unsigned int)");
    EXPECT_EQ(NameOfExactAddress(reinterpret_cast<std::uintptr_t>(&FindLine) + 1), "");
}

// A map stays cached while its module's file is unchanged; a new write time brings a new map.
TEST(vexMapFileTest, AChangedModuleFileGetsANewMap) {
    auto *cached = const_cast<TMapFile *>(GetModuleMap(nullptr));
    ASSERT_TRUE(cached->Valid);
    cached->MapFileName = "marked";
    EXPECT_EQ(GetModuleMap(nullptr)->MapFileName, "marked");

    const std::string program = ProgramFile(".exe");
    HANDLE file = CreateFileA(program.c_str(), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME created, accessed, written;
    ASSERT_TRUE(GetFileTime(file, &created, &accessed, &written));
    ULARGE_INTEGER later;
    later.LowPart = written.dwLowDateTime;
    later.HighPart = written.dwHighDateTime;
    later.QuadPart -= 600ULL * 10000000ULL; // ten minutes earlier
    FILETIME changed = {later.LowPart, later.HighPart};
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &changed));
    const TMapFile *fresh = GetModuleMap(nullptr);
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    EXPECT_TRUE(fresh->Valid);
    EXPECT_EQ(fresh->MapFileName, ProgramFile(".vex"));
    FreeModuleMaps();
}

// Once the module has started, listings name the program's routines from its map.
TEST(vexMapFileTest, ListingsNameRoutinesFromTheMap) {
    InitializeVexMapFile();
    FunctionRecord f;
    const std::string listing =
        DisassembleFunction(reinterpret_cast<void *>(&FindUnit), nullptr, f, false, 0);
    FinalizeVexMapFile();
    EXPECT_EQ(listing.find(" public FindUnit(TMapFile const&, unsigned int):"), 8u) << listing.substr(0, 200);
    EXPECT_EQ(DisassembleFunction(reinterpret_cast<void *>(&FindUnit), nullptr, f, false, 0).find(" sub_"),
              8u);
}

// Every routine of the program walks to an end.
TEST(vexMapFileTest, EveryPublicRoutineWalks) {
    const TMapFile *map = GetModuleMap(nullptr);
    ASSERT_TRUE(map->Valid);
    TRegionList *regions = ReadableRegionList();
    int walked = 0, failed = 0;
    std::ostringstream report;
    for (const MapPublic &routine : map->Publics) {
        FunctionRecord f;
        if (ParseFunctionGuarded(reinterpret_cast<const void *>(routine.address), regions, f)) {
            ++walked;
        } else if (failed++ < 10) {
            report << std::hex << routine.address << " " << routine.name << " at " << f.errorAddress
                   << std::dec << "\n";
        }
    }
    FreeRegionList(regions);
    EXPECT_GT(walked, 1000);
    EXPECT_EQ(failed, 0) << report.str();
}

} // namespace
