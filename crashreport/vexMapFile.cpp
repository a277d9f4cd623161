#include "vexMapFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "vexCrypt.h"
#include "vexDisAsmText.h"
#include "vexStrings.h"
#include "vexTools.h"
#include "vexZip.h"

// ---------------------------------------------------------------------------------------------
// TMiniStream

TMiniStream::TMiniStream(const void *Data, std::size_t Size) : FData(static_cast<const char *>(Data), Size) {}

int TMiniStream::Read(void *Buffer, int Count) {
    if (Count <= 0)
        return 0;
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(Count), Remaining());
    std::memcpy(Buffer, FData.data() + FPosition, count);
    FPosition += count;
    return static_cast<int>(count);
}

// ---------------------------------------------------------------------------------------------
// Packed maps

namespace {

const char MapSignature[] = "vexcrashreport";
constexpr std::size_t HeaderSize = 22;
constexpr std::uint32_t MapVersion = 2;
const char KeyWord[] = "Orbisk";

bool ReadWord(TMiniStream &in, std::uint32_t &value) {
    std::uint8_t bytes[4];
    if (in.Read(bytes, 4) != 4)
        return false;
    value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t(bytes[3]) << 24);
    return true;
}

bool ReadName(TMiniStream &in, std::string &name) {
    std::uint8_t length = 0;
    if (in.Read(&length, 1) != 1)
        return false;
    name.resize(length);
    return in.Read(name.data(), length) == length;
}

// One signed byte; -128 announces a 32-bit value.
bool ReadCompact(TMiniStream &in, std::int32_t &value) {
    std::int8_t small = 0;
    if (in.Read(&small, 1) != 1)
        return false;
    if (small != -128) {
        value = small;
        return true;
    }
    std::uint32_t wide = 0;
    if (!ReadWord(in, wide))
        return false;
    value = static_cast<std::int32_t>(wide);
    return true;
}

// A count may not promise more records than the bytes left can hold.
bool ReadCount(TMiniStream &in, std::uint32_t &count, std::size_t smallestRecord) {
    return ReadWord(in, count) && count <= in.Remaining() / smallestRecord;
}

std::uint32_t ReadLittle(const std::string &bytes, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

} // namespace

std::string PackageKey(std::uint32_t PayloadLength) {
    std::string text = std::string(KeyWord) + UpperCaseText(HexText(PayloadLength, 7, '0')) + KeyWord +
                       IntegerText(PayloadLength, 8, '0');
    text += text;
    const std::string key = text;
    EncipherBlocks(text, key);
    return text;
}

bool TMapFile::ReadPackedMap(const std::string &Packed) {
    if (Packed.size() < HeaderSize + 1 || Packed.compare(0, 14, MapSignature) != 0 ||
        ReadLittle(Packed, 18) != MapVersion)
        return false;
    const std::uint32_t length = ReadLittle(Packed, 14);
    if (length > Packed.size() - HeaderSize)
        return false;
    std::string block = Packed.substr(HeaderSize, length);
    DecipherBlocks(block, PackageKey(length));
    const std::string payload = UnpackBlock(block);
    if (payload.empty())
        return false;

    TMiniStream in(payload.data(), payload.size());
    std::vector<MapSegment> segments;
    std::vector<MapPublic> publics;
    std::vector<MapLine> lines;
    std::uint32_t count = 0;
    if (!ReadCount(in, count, 9))
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        MapSegment segment;
        std::uint32_t start = 0;
        if (!ReadWord(in, start) || !ReadWord(in, segment.length) || !ReadName(in, segment.unit))
            return false;
        segment.start = CodeStart + start;
        segments.push_back(std::move(segment));
    }
    if (!ReadCount(in, count, 2))
        return false;
    std::uintptr_t address = CodeStart;
    for (std::uint32_t i = 0; i < count; ++i) {
        MapPublic item;
        if (!ReadName(in, item.name))
            return false;
        if (i == 0) {
            std::uint32_t offset = 0;
            if (!ReadWord(in, offset))
                return false;
            address = CodeStart + offset;
        } else {
            std::int32_t delta = 0;
            if (!ReadCompact(in, delta))
                return false;
            address += static_cast<std::uint32_t>(delta);
        }
        item.address = address;
        publics.push_back(std::move(item));
    }
    if (!ReadCount(in, count, 2))
        return false;
    if (count > 0) {
        std::uint32_t line = 0, offset = 0;
        if (!ReadWord(in, line) || !ReadWord(in, offset))
            return false;
        address = CodeStart + offset;
        lines.push_back({line, address});
        for (std::uint32_t i = 1; i < count; ++i) {
            std::int32_t lineDelta = 0, addressDelta = 0;
            if (!ReadCompact(in, lineDelta) || !ReadCompact(in, addressDelta))
                return false;
            line += static_cast<std::uint32_t>(lineDelta);
            address += static_cast<std::uint32_t>(addressDelta);
            lines.push_back({line, address});
        }
    }
    std::uint32_t entry = 0;
    if (in.Remaining() == 4 && ReadWord(in, entry))
        EntryPoint = CodeStart + entry;

    auto byStart = [](const MapSegment &a, const MapSegment &b) { return a.start < b.start; };
    std::stable_sort(segments.begin(), segments.end(), byStart);
    std::stable_sort(publics.begin(), publics.end(),
                     [](const MapPublic &a, const MapPublic &b) { return a.address < b.address; });
    std::stable_sort(lines.begin(), lines.end(),
                     [](const MapLine &a, const MapLine &b) { return a.address < b.address; });
    Segments = std::move(segments);
    Publics = std::move(publics);
    Lines = std::move(lines);
    Valid = true;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Look-ups

const MapSegment *FindUnit(const TMapFile &Map, std::uintptr_t Address) {
    if (!Map.Valid)
        return nullptr;
    for (const MapSegment &segment : Map.Segments)
        if (segment.isCode && segment.start <= Address && Address - segment.start < segment.length)
            return &segment;
    return nullptr;
}

const MapPublic *FindPublic(const TMapFile &Map, std::uintptr_t Address) {
    if (!Map.Valid)
        return nullptr;
    auto after = std::upper_bound(Map.Publics.begin(), Map.Publics.end(), Address,
                                  [](std::uintptr_t a, const MapPublic &p) { return a < p.address; });
    if (after == Map.Publics.begin())
        return nullptr;
    const std::uintptr_t limit = after == Map.Publics.end() ? Map.CodeEnd : after->address;
    return limit > Address ? &*std::prev(after) : nullptr;
}

std::uint32_t FindLine(const TMapFile &Map, std::uintptr_t Address) {
    if (!Map.Valid)
        return 0;
    auto after = std::upper_bound(Map.Lines.begin(), Map.Lines.end(), Address,
                                  [](std::uintptr_t a, const MapLine &l) { return a < l.address; });
    if (after == Map.Lines.begin())
        return 0;
    const std::uintptr_t limit = after == Map.Lines.end() ? Map.CodeEnd : after->address;
    const MapLine &line = *std::prev(after);
    if (limit <= Address)
        return 0;
    const MapSegment *unit = FindUnit(Map, Address);
    return unit && unit == FindUnit(Map, line.address) ? line.line : 0;
}

// ---------------------------------------------------------------------------------------------
// The cache

namespace {

struct TCachedMap {
    std::unique_ptr<TMapFile> Map;
    std::uint32_t FileTime;
};

// The cache has no lock: maps are looked up from the crash handler while the other threads are
// stopped.
std::vector<TCachedMap> *MapCache = nullptr;

std::uint32_t DosFileTime(const std::string &fileName) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(fileName.c_str(), GetFileExInfoStandard, &data))
        return 0;
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
        !FileTimeToDosDateTime(&local, &date, &time))
        return 0;
    return (std::uint32_t(date) << 16) | time;
}

bool ReadWholeFile(const std::string &fileName, std::string &bytes) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    // A map file beyond this size is not one of ours.
    if (size <= 0 || size > (64 << 20))
        return false;
    bytes.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    return static_cast<bool>(in.read(bytes.data(), size));
}

std::unique_ptr<TMapFile> CreateMap(HMODULE module, const std::string &fileName) {
    auto map = std::make_unique<TMapFile>();
    map->Module = module;
    map->ModuleFileName = fileName;
    const IMAGE_NT_HEADERS32 *headers = ImageNtHeaders(module);
    if (!headers)
        return map;
    const auto base = reinterpret_cast<std::uintptr_t>(module);
    const IMAGE_OPTIONAL_HEADER32 &o = headers->OptionalHeader;
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(headers);
    if (headers->FileHeader.NumberOfSections > 0 && (section->Characteristics & IMAGE_SCN_CNT_CODE)) {
        map->CodeStart = base + section->VirtualAddress;
        map->CodeEnd = map->CodeStart + section->Misc.VirtualSize;
    } else {
        map->CodeStart = base + o.BaseOfCode;
        map->CodeEnd = map->CodeStart + o.SizeOfCode;
    }
    map->DataStart = base + o.BaseOfData;
    map->DataEnd = map->DataStart + o.SizeOfInitializedData + o.SizeOfUninitializedData;

    if (HRSRC resource = FindResourceA(module, "EXCEPT", "VEX")) {
        const DWORD size = SizeofResource(module, resource);
        HGLOBAL loaded = LoadResource(module, resource);
        const void *bytes = loaded ? LockResource(loaded) : nullptr;
        if (bytes && size > 0 && map->ReadPackedMap(std::string(static_cast<const char *>(bytes), size)))
            return map;
    }
    const std::size_t dot = fileName.find_last_of(".\\/");
    const std::string stem =
        dot != std::string::npos && fileName[dot] == '.' ? fileName.substr(0, dot) : fileName;
    std::string packed;
    if (ReadWholeFile(stem + ".vex", packed) && map->ReadPackedMap(packed))
        map->MapFileName = stem + ".vex";
    return map;
}

const TMapFile *EmptyMap() {
    static const TMapFile empty;
    return &empty;
}

} // namespace

const TMapFile *GetModuleMap(const void *Address) {
    try {
        HMODULE module = nullptr;
        std::string fileName;
        if (!Address)
            Address = reinterpret_cast<const void *>(GetModuleHandleA(nullptr));
        if (!FindModuleOfAddress(Address, module, fileName))
            return EmptyMap();
        const std::uint32_t fileTime = DosFileTime(fileName);
        if (!MapCache)
            MapCache = new std::vector<TCachedMap>();
        for (auto it = MapCache->begin(); it != MapCache->end(); ++it)
            if (EqualIgnoreCase(it->Map->ModuleFileName, fileName)) {
                if (it->FileTime == fileTime && it->Map->Module == module)
                    return it->Map.get();
                MapCache->erase(it);
                break;
            }
        std::unique_ptr<TMapFile> map = CreateMap(module, fileName);
        if (!map->Valid)
            return EmptyMap();
        MapCache->push_back({std::move(map), fileTime});
        return MapCache->back().Map.get();
    } catch (...) {
        return EmptyMap();
    }
}

std::string NameOfExactAddress(std::uintptr_t Address) {
    const TMapFile *map = GetModuleMap(reinterpret_cast<const void *>(Address));
    const MapPublic *item = FindPublic(*map, Address);
    return item && item->address == Address ? item->name : std::string();
}

void FreeModuleMaps() {
    delete MapCache;
    MapCache = nullptr;
}

void InitializeVexMapFile() {
    SetDisassemblyNameFallback(&NameOfExactAddress);
}

void FinalizeVexMapFile() {
    SetDisassemblyNameFallback(nullptr);
    FreeModuleMaps();
}
