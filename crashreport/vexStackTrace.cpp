#include "vexStackTrace.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <vector>

#include "vexDisAsm.h"
#include "vexDisAsmWalk.h"
#include "vexMapFile.h"
#include "vexProgressBar.h"
#include "vexStrings.h"
#include "vexThreadHooks.h"
#include "vexThreads.h"
#include "vexTools.h"

namespace {

template <class T> using TVexVector = std::vector<T, TVexAllocator<T>>;

constexpr int None = -1;
constexpr std::uint64_t ReachedGoal = 0x4000000000000000ULL;
constexpr std::uint64_t AllFunctions = 0x2000000000000000ULL;
constexpr std::uint64_t NoLinkScore = 0x1000000000000000ULL;

struct TModuleCacheEntry {
    HMODULE Module = nullptr;
    std::string FileName;
    std::uintptr_t CodeStart = 0, CodeEnd = 0, DataStart = 0, DataEnd = 0;
};

struct TFunctionCacheEntry {
    int ModuleIndex = None;
    std::uintptr_t Entry = 0;
    std::string Name;
    bool Analysed = false;
    bool FromMap = false;
    FunctionRecord Analysis;
    bool Used = false;
    bool Discarded = false;
};

struct TLink {
    int Target = None; // None: the item's own function link
    std::uintptr_t CallAddress = 0;
    bool TargetKnown = false;
    std::uint32_t CallTarget = 0;
    int Function = None;
    std::uint64_t Score = 0;
};

struct TStackItem {
    std::uintptr_t Slot = 0;
    std::uintptr_t Value = 0;
    int PreviousFrame = None, NextFrame = None;
    int ModuleIndex = None;
    bool Certain = false;
    bool StartEntry = false;
    bool Hidden = false;
    TVexVector<TLink> Newer, Older;
    int NewerChoice = None, OlderChoice = None;
    // Output.
    std::uintptr_t CodeAddress = 0;
    std::uint32_t Line = 0;
    std::string ModuleName, UnitName, FunctionName;
    std::uintptr_t FunctionStart = 0;
};

// The outcome of a call test: the call instruction, and its target when known.
struct TCallFact {
    std::uintptr_t CallAddress = 0;
    bool TargetKnown = false;
    std::uint32_t Target = 0;
};

TVexVector<TModuleCacheEntry> *Modules = nullptr;
TVexVector<TFunctionCacheEntry> *Functions = nullptr;
void EnsureCaches() {
    static std::atomic<int> state{0};
    CallOnce(state, [] {
        Modules = new (HeapAlloc(VexHeap(), 0, sizeof(*Modules))) TVexVector<TModuleCacheEntry>();
        Functions = new (HeapAlloc(VexHeap(), 0, sizeof(*Functions))) TVexVector<TFunctionCacheEntry>();
        Modules->reserve(16);
        Functions->reserve(16);
    });
}

// An internal failure of a phase (never leaves TraceStack).
struct TPhaseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class TTracer {
public:
    explicit TTracer(const TTraceInput &Input) : In(Input) {}
    std::string Run();

private:
    TTraceInput In;
    TRegionList *Regions = nullptr;
    TVexVector<TStackItem> Items;
    int CreatorItem = None;

    // Memory and modules.
    bool Read(std::uintptr_t Address, void *Buffer, std::size_t Count) const {
        return SafeReadMemory(reinterpret_cast<const void *>(Address), Buffer, Count, Regions);
    }
    static bool CommittedRegion(std::uintptr_t Address, MEMORY_BASIC_INFORMATION &Info) {
        return VirtualQuery(reinterpret_cast<const void *>(Address), &Info, sizeof(Info)) == sizeof(Info) &&
               Info.State == MEM_COMMIT && Info.AllocationBase != nullptr;
    }
    // The symbol maps belong to the map cache, which may be emptied between traces: they are taken
    // once per trace and module, never kept in the module cache.
    TVexVector<const TMapFile *> Maps;
    TVexVector<bool> MapsTaken;
    const TMapFile *MapOf(int ModuleIndex);
    int ModuleOfAddress(std::uintptr_t Address);
    int ModuleByHandle(HMODULE Module);
    std::uintptr_t FunctionBefore(std::uintptr_t Address, int ModuleIndex, bool &FromMap);
    int LookupFunction(std::uintptr_t Entry, bool Used, const std::string &Name, bool Force,
                       bool FromMap = false);
    void MarkUsed(int Index);
    static bool Contains(const TFunctionCacheEntry &F, std::uintptr_t Value);
    bool CallTest(const TStackItem &Item, int Function, bool Collecting, TCallFact &Fact);

    // Links.
    void RemoveLinkPair(int Item, bool NewerTable, std::size_t Index);
    void RemoveAllLinks(int Item);
    void DropItem(int Item);
    void DiscardFunction(int Function);

    // Phases.
    bool Examine(std::uintptr_t Value, std::uintptr_t Slot, bool Certain, bool Start);
    void CollectPossibleStackItems();
    void RemoveRecursive(bool FirstPhase);
    void InDeepChecks();
    void ForwardSearch(int Item, std::uintptr_t Call, bool TargetKnown, std::uint32_t Target, bool Strict);
    void SearchFrom(int Item, std::uintptr_t Call, int Function, bool Strict);
    std::uint64_t Best(int From, int Goal, bool Strict);
    void ResolveStretch(int Low, int High);
    void RealizeOptimalLinkChains();
    void FillFinalOutput();
    std::string ComposeResult();
    void Progress(std::uint32_t Permille) {
        if (In.Progress)
            In.Progress->SetProgress(Permille, GetTickCount());
    }
};

int TTracer::ModuleByHandle(HMODULE Module) {
    for (std::size_t i = 0; i < Modules->size(); ++i)
        if ((*Modules)[i].Module == Module)
            return static_cast<int>(i);
    const IMAGE_NT_HEADERS32 *headers = ImageNtHeaders(Module);
    if (!headers)
        return None;
    TModuleCacheEntry entry;
    entry.Module = Module;
    entry.FileName = FileNameOfPath(ModuleFileName(Module));
    const auto base = reinterpret_cast<std::uintptr_t>(Module);
    const IMAGE_OPTIONAL_HEADER32 &optional = headers->OptionalHeader;
    IMAGE_SECTION_HEADER first;
    const auto *section = reinterpret_cast<const std::uint8_t *>(&headers->OptionalHeader) +
                          headers->FileHeader.SizeOfOptionalHeader;
    if (headers->FileHeader.NumberOfSections > 0 &&
        Read(reinterpret_cast<std::uintptr_t>(section), &first, sizeof(first)) &&
        (first.Characteristics & IMAGE_SCN_CNT_CODE)) {
        entry.CodeStart = base + first.VirtualAddress;
        entry.CodeEnd = entry.CodeStart + first.Misc.VirtualSize;
    } else {
        entry.CodeStart = base + optional.BaseOfCode;
        entry.CodeEnd = entry.CodeStart + optional.SizeOfCode;
    }
    entry.DataStart = base + optional.BaseOfData;
    entry.DataEnd = entry.DataStart + optional.SizeOfInitializedData + optional.SizeOfUninitializedData;
    Modules->push_back(std::move(entry));
    return static_cast<int>(Modules->size() - 1);
}

const TMapFile *TTracer::MapOf(int ModuleIndex) {
    if (ModuleIndex == None)
        return nullptr;
    if (Maps.size() <= static_cast<std::size_t>(ModuleIndex)) {
        Maps.resize(ModuleIndex + 1, nullptr);
        MapsTaken.resize(ModuleIndex + 1, false);
    }
    if (!MapsTaken[ModuleIndex]) {
        MapsTaken[ModuleIndex] = true;
        const HMODULE module = (*Modules)[ModuleIndex].Module;
        const TMapFile *map = GetModuleMap(reinterpret_cast<const void *>((*Modules)[ModuleIndex].CodeStart));
        Maps[ModuleIndex] = map && map->Valid && map->Module == module ? map : nullptr;
    }
    return Maps[ModuleIndex];
}

int TTracer::ModuleOfAddress(std::uintptr_t Address) {
    for (std::size_t i = 0; i < Modules->size(); ++i) {
        const TModuleCacheEntry &m = (*Modules)[i];
        if ((m.CodeStart <= Address && Address < m.CodeEnd) ||
            (m.DataStart <= Address && Address < m.DataEnd))
            return static_cast<int>(i);
    }
    MEMORY_BASIC_INFORMATION info;
    if (!CommittedRegion(Address, info))
        return None;
    return ModuleByHandle(static_cast<HMODULE>(info.AllocationBase));
}

// The highest exported routine at or below Address (bounds-checked reading of the export table).
std::uintptr_t NearestExportBelow(HMODULE Module, std::uintptr_t Address, const TRegionList *Regions) {
    const IMAGE_NT_HEADERS32 *headers = ImageNtHeaders(Module);
    std::uint32_t size = 0;
    const auto *directory = static_cast<const IMAGE_EXPORT_DIRECTORY *>(ImageDirectory(Module, 0, &size));
    if (!headers || !directory)
        return 0;
    IMAGE_EXPORT_DIRECTORY exports;
    if (!SafeReadMemory(directory, &exports, sizeof(exports), Regions))
        return 0;
    const auto base = reinterpret_cast<std::uintptr_t>(Module);
    const std::uint32_t imageSize = headers->OptionalHeader.SizeOfImage;
    if (exports.AddressOfFunctions >= imageSize ||
        exports.NumberOfFunctions > (imageSize - exports.AddressOfFunctions) / 4)
        return 0;
    const auto dirStart = reinterpret_cast<std::uintptr_t>(directory) - base;
    std::uintptr_t best = 0;
    for (std::uint32_t i = 0; i < exports.NumberOfFunctions; ++i) {
        std::uint32_t rva = 0;
        if (!SafeReadMemory(reinterpret_cast<const void *>(base + exports.AddressOfFunctions + 4 * i), &rva,
                            4, Regions))
            break;
        if (rva == 0 || rva >= imageSize || (rva >= dirStart && rva < dirStart + size)) // forwarders
            continue;
        const std::uintptr_t at = base + rva;
        if (at <= Address && at > best)
            best = at;
    }
    return best;
}

// The entry of the routine that holds Address: from the module's map, else (for the program) from
// the run time's unwind tables, else the nearest export or the module's entry point.
std::uintptr_t TTracer::FunctionBefore(std::uintptr_t Address, int ModuleIndex, bool &FromMap) {
    FromMap = false;
    if (ModuleIndex == None)
        return 0;
    const TModuleCacheEntry &module = (*Modules)[ModuleIndex];
    if (const TMapFile *map = MapOf(ModuleIndex)) {
        const MapPublic *routine = FindPublic(*map, Address);
        FromMap = routine != nullptr;
        return routine ? routine->address : 0;
    }
    TUnwindRange range;
    if (FindUnwindRange(reinterpret_cast<const void *>(Address), range, Regions))
        return range.Begin;
    if (module.Module == GetModuleHandleA(nullptr))
        return 0;
    const IMAGE_NT_HEADERS32 *headers = ImageNtHeaders(module.Module);
    std::uintptr_t entry =
        headers && headers->OptionalHeader.AddressOfEntryPoint
            ? reinterpret_cast<std::uintptr_t>(module.Module) + headers->OptionalHeader.AddressOfEntryPoint
            : 0;
    if (entry > Address)
        entry = 0;
    return std::max(entry, NearestExportBelow(module.Module, Address, Regions));
}

void TTracer::MarkUsed(int Index) {
    if ((*Functions)[Index].Used)
        return;
    (*Functions)[Index].Used = true;
    // Copied: looking targets up may grow the cache.
    TVexVector<std::uint32_t> jumps;
    for (const FarCall &call : (*Functions)[Index].Analysis.farCalls)
        if (!call.isCall && call.target)
            jumps.push_back(call.target);
    for (std::uint32_t target : jumps)
        LookupFunction(target, true, "", false);
}

int TTracer::LookupFunction(std::uintptr_t Entry, bool Used, const std::string &Name, bool Force,
                            bool FromMap) {
    if (Entry == 0 && !Force)
        return None;
    for (std::size_t i = 0; i < Functions->size(); ++i)
        if ((*Functions)[i].Entry == Entry) {
            if (Used)
                MarkUsed(static_cast<int>(i));
            return static_cast<int>(i);
        }
    TFunctionCacheEntry entry;
    entry.Entry = Entry;
    entry.ModuleIndex = ModuleOfAddress(Entry);
    entry.Analysed = ParseFunctionGuarded(reinterpret_cast<const void *>(Entry), Regions, entry.Analysis);
    if (!entry.Analysed && !Force)
        return None;
    entry.Used = Used;
    entry.FromMap = FromMap;
    entry.Name = Name;
    if (entry.Name.empty() && entry.ModuleIndex != None) {
        const TModuleCacheEntry &module = (*Modules)[entry.ModuleIndex];
        const TMapFile *map = MapOf(entry.ModuleIndex);
        const MapPublic *routine = map ? FindPublic(*map, Entry) : nullptr;
        if (routine && routine->address == Entry)
            entry.Name = routine->name;
        else
            entry.Name = ExportNameOfAddress(module.Module, reinterpret_cast<const void *>(Entry), false);
    }
    TVexVector<std::uint32_t> jumps;
    for (const FarCall &call : entry.Analysis.farCalls)
        if (!call.isCall && call.target)
            jumps.push_back(call.target);
    Functions->push_back(std::move(entry));
    const int index = static_cast<int>(Functions->size() - 1);
    for (std::uint32_t target : jumps)
        LookupFunction(target, Used, "", false);
    return index;
}

bool TTracer::Contains(const TFunctionCacheEntry &F, std::uintptr_t Value) {
    if (!F.Analysed)
        return Value == F.Entry;
    for (const CodeArea &area : F.Analysis.areas)
        if (!area.isCaseTable && !area.isExceptTable && area.end && area.start < Value &&
            Value <= area.end + 1)
            return true;
    return false;
}

bool TTracer::CallTest(const TStackItem &Item, int Function, bool Collecting, TCallFact &Fact) {
    const TFunctionCacheEntry &f = (*Functions)[Function];
    if (f.Discarded)
        return false;
    Fact = TCallFact();
    if (!Item.StartEntry) {
        for (const UnknownTarget &call : f.Analysis.unknownTargets)
            if (call.isCall && call.next == Item.Value) {
                Fact.CallAddress = call.address;
                return true;
            }
        for (const FarCall &call : f.Analysis.farCalls)
            if (call.isCall && call.next == Item.Value) {
                Fact.CallAddress = call.address;
                Fact.TargetKnown = true;
                Fact.Target = call.target;
                return true;
            }
        return false;
    }
    if (!f.Analysed)
        return Item.Value == f.Entry;
    // A language exception is reported from the code that raised it: the call of the raise routine
    // that the start address returns to.
    if (Collecting && !In.ProcessorException && f.FromMap) {
        for (const FarCall &call : f.Analysis.farCalls) {
            if (!call.isCall || call.next != In.StartAddress)
                continue;
            const int target = LookupFunction(call.target, false, "", false);
            const std::string name = target == None ? "" : (*Functions)[target].Name;
            if (name.find("__cxa_throw") != std::string::npos ||
                name.find("RaiseException") != std::string::npos || name.find("Error") != std::string::npos) {
                Fact.CallAddress = call.address;
                Fact.TargetKnown = true;
                Fact.Target = call.target;
                return true;
            }
        }
    }
    for (const CodeArea &area : f.Analysis.areas) {
        if (area.isCaseTable || area.isExceptTable ||
            !(area.start < Item.Value && Item.Value <= area.end + 1))
            continue;
        for (std::uintptr_t at = area.start; at < Item.Value;) {
            InstructionRecord record;
            if (!ParseInstructionGuarded(reinterpret_cast<const void *>(at), Regions, record) || !record.next)
                return false;
            const auto next = reinterpret_cast<std::uintptr_t>(record.next);
            if (next == Item.Value) {
                Fact.CallAddress = at;
                return true;
            }
            at = next;
        }
        return false;
    }
    return false;
}

// ------------------------------------------------------------------------------------------------
// Links

void TTracer::RemoveLinkPair(int Item, bool NewerTable, std::size_t Index) {
    TVexVector<TLink> &table = NewerTable ? Items[Item].Newer : Items[Item].Older;
    const TLink link = table[Index];
    table.erase(table.begin() + Index);
    if (link.Target == None)
        return;
    TVexVector<TLink> &other = NewerTable ? Items[link.Target].Older : Items[link.Target].Newer;
    for (std::size_t i = 0; i < other.size(); ++i)
        if (other[i].Target == Item && other[i].Function == link.Function) {
            other.erase(other.begin() + i);
            break;
        }
}

void TTracer::RemoveAllLinks(int Item) {
    while (!Items[Item].Newer.empty())
        RemoveLinkPair(Item, true, Items[Item].Newer.size() - 1);
    while (!Items[Item].Older.empty())
        RemoveLinkPair(Item, false, Items[Item].Older.size() - 1);
    Items[Item].NewerChoice = Items[Item].OlderChoice = None;
}

void TTracer::DropItem(int Item) {
    if (Items[Item].Certain)
        return;
    Items[Item].Hidden = true;
    RemoveAllLinks(Item);
}

void TTracer::DiscardFunction(int Function) {
    (*Functions)[Function].Discarded = true;
    for (std::size_t i = 0; i < Items.size(); ++i) {
        for (std::size_t l = Items[i].Newer.size(); l-- > 0;)
            if (l < Items[i].Newer.size() && Items[i].Newer[l].Function == Function)
                RemoveLinkPair(static_cast<int>(i), true, l);
        for (std::size_t l = Items[i].Older.size(); l-- > 0;)
            if (l < Items[i].Older.size() && Items[i].Older[l].Function == Function)
                RemoveLinkPair(static_cast<int>(i), false, l);
    }
}

// ------------------------------------------------------------------------------------------------
// Collecting

bool TTracer::Examine(std::uintptr_t Value, std::uintptr_t Slot, bool Certain, bool Start) {
    TStackItem item;
    item.Slot = Slot;
    item.Certain = Certain || Start;
    item.StartEntry = Start;
    std::uintptr_t holder = Value - 1; // an address inside the routine
    if (Start) {
        InstructionRecord record;
        if (!ParseInstructionGuarded(reinterpret_cast<const void *>(Value), Regions, record) || !record.next)
            return false;
        item.Value = reinterpret_cast<std::uintptr_t>(record.next);
        holder = Value;
    } else {
        MEMORY_BASIC_INFORMATION info;
        if (Value <= 7 || !CommittedRegion(Value - 1, info) || !FollowsCallInstruction(Value))
            return false;
        item.Value = Value;
    }
    item.ModuleIndex = ModuleOfAddress(holder);
    if (item.ModuleIndex == None)
        return false;
    const TModuleCacheEntry &module = (*Modules)[item.ModuleIndex];
    if (!(module.CodeStart <= holder && holder < module.CodeEnd) &&
        !(module.DataStart <= holder && holder < module.DataEnd))
        return false;
    bool fromMap = false;
    const std::uintptr_t entry = FunctionBefore(holder, item.ModuleIndex, fromMap);
    const int function = LookupFunction(entry, true, "", item.Certain, fromMap);
    if (function == None)
        return false;
    TCallFact fact;
    if (!CallTest(item, function, true, fact))
        return false;
    // A raise call found for the start entry: the item stands for the raise call's return address.
    if (Start && fact.TargetKnown && fact.CallAddress != 0)
        item.Value = In.StartAddress;
    Items.push_back(std::move(item));
    return true;
}

void TTracer::CollectPossibleStackItems() {
    if (In.CreatorAddress && Examine(In.CreatorAddress, 0, true, false)) {
        CreatorItem = 0;
    }
    // Return-address slots of the frame-pointer chain.
    TVexVector<std::uintptr_t> frameSlots;
    for (std::uintptr_t frame = In.FramePointer, previous = 0;
         frame > previous && frame + 8 <= In.StackTop;) {
        if (frame + 4 >= In.StackPointer)
            frameSlots.push_back(frame + 4);
        previous = frame;
        if (!Read(frame, &frame, 4))
            break;
    }
    int lastFrameItem = None;
    bool startFound = false;
    const std::uint64_t range = In.StackTop - In.StackPointer;
    for (std::uintptr_t slot = In.StackTop - 4; slot >= In.StackPointer && slot < In.StackTop; slot -= 4) {
        if ((slot & 0xFFF) == 0)
            Progress(static_cast<std::uint32_t>((In.StackTop - slot) * 25 / range));
        std::uintptr_t value = 0;
        if (!Read(slot, &value, 4))
            continue;
        if (In.ExceptionThread && value == In.StartAddress) {
            startFound = Examine(value, slot, true, true);
            if (startFound)
                break;
            continue;
        }
        const bool certain = std::find(frameSlots.begin(), frameSlots.end(), slot) != frameSlots.end();
        if (!Examine(value, slot, certain, false))
            continue;
        if (certain) {
            const int index = static_cast<int>(Items.size() - 1);
            Items[index].PreviousFrame = lastFrameItem;
            if (lastFrameItem != None)
                Items[lastFrameItem].NextFrame = index;
            lastFrameItem = index;
            slot -= 4; // the saved frame pointer below it
        }
    }
    if (!startFound)
        Examine(In.StartAddress, 0, true, true);
}

void TTracer::RemoveRecursive(bool FirstPhase) {
    const int count = static_cast<int>(Items.size());
    auto previousShown = [&](int from) {
        for (int i = from - 1; i >= 0; --i)
            if (!Items[i].Hidden)
                return i;
        return None;
    };
    for (bool changed = true; changed;) {
        changed = false;
        for (int i = count - 1; i >= 1; --i) {
            if (Items[i].Hidden)
                continue;
            int j = previousShown(i);
            int k = 0;
            while (j != None && Items[j].Value != Items[i].Value) {
                ++k;
                j = previousShown(j);
            }
            if (j == None)
                continue;
            // The k items below j must repeat the k items between j and i.
            bool repeated = true;
            for (int a = previousShown(i), b = previousShown(j), n = 0; n < k; ++n) {
                if (b == None || Items[a].Value != Items[b].Value) {
                    repeated = false;
                    break;
                }
                a = previousShown(a);
                b = previousShown(b);
            }
            if (!repeated)
                continue;
            for (int r = i, n = 0; n <= k; ++n) {
                const int below = previousShown(r);
                TStackItem &item = Items[r];
                if (item.PreviousFrame != None)
                    Items[item.PreviousFrame].NextFrame = item.NextFrame;
                if (item.NextFrame != None)
                    Items[item.NextFrame].PreviousFrame = item.PreviousFrame;
                item.PreviousFrame = item.NextFrame = None;
                item.Certain = false;
                item.Hidden = true;
                if (FirstPhase)
                    RemoveAllLinks(r);
                r = below;
            }
            changed = true;
        }
    }
}

// ------------------------------------------------------------------------------------------------
// Links between candidates

void TTracer::SearchFrom(int Item, std::uintptr_t Call, int Function, bool Strict) {
    for (int j = Item + 1; j < static_cast<int>(Items.size()); ++j) {
        if (Items[j].Hidden)
            continue;
        TCallFact fact;
        bool qualifies = Function == None || CallTest(Items[j], Function, false, fact);
        if (qualifies && !Strict && fact.CallAddress != 0)
            for (const TLink &link : Items[j].Older)
                if (link.Function != None && (*Functions)[link.Function].Used &&
                    link.CallAddress != fact.CallAddress)
                    qualifies = false;
        if (qualifies) {
            TLink older;
            older.Target = Item;
            older.Function = Function;
            older.CallTarget = fact.Target;
            older.CallAddress = fact.CallAddress;
            older.TargetKnown = fact.TargetKnown;
            Items[j].Older.push_back(older);
            TLink newer;
            newer.Target = j;
            newer.Function = Function;
            newer.CallAddress = Call;
            Items[Item].Newer.push_back(newer);
        }
        if (Items[j].Certain)
            break;
    }
}

void TTracer::ForwardSearch(int Item, std::uintptr_t Call, bool TargetKnown, std::uint32_t Target,
                            bool Strict) {
    auto searchWithoutFunction = [&] {
        for (const TLink &link : Items[Item].Newer)
            if (link.Function == None)
                return;
        SearchFrom(Item, Call, None, Strict);
    };
    if (!TargetKnown) {
        searchWithoutFunction();
        return;
    }
    const int function = LookupFunction(Target, Strict, "", false);
    if (function == None)
        return;
    const FunctionRecord &analysis = (*Functions)[function].Analysis;
    if (std::any_of(analysis.unknownTargets.begin(), analysis.unknownTargets.end(),
                    [](const UnknownTarget &t) { return !t.isCall; }))
        searchWithoutFunction();
    SearchFrom(Item, Call, function, Strict);
}

void TTracer::InDeepChecks() {
    for (int i = 0; i < static_cast<int>(Items.size()); ++i) {
        Progress(static_cast<std::uint32_t>(25 + 625 * static_cast<std::uint64_t>(i) / Items.size()));
        if (Items[i].Hidden || i == CreatorItem)
            continue;
        auto usedLink = [&]() -> int {
            for (std::size_t l = 0; l < Items[i].Older.size(); ++l) {
                const TLink &link = Items[i].Older[l];
                if (link.Function != None && (*Functions)[link.Function].Used)
                    return static_cast<int>(l);
            }
            return None;
        };
        int chosen = usedLink();
        if (chosen == None) {
            bool contained = false;
            for (std::size_t f = 0; f < Functions->size(); ++f) {
                const TFunctionCacheEntry &function = (*Functions)[f];
                if (!function.Used || function.Discarded || !Contains(function, Items[i].Value))
                    continue;
                contained = true;
                TCallFact fact;
                if (!CallTest(Items[i], static_cast<int>(f), false, fact)) {
                    DropItem(i);
                } else {
                    TLink own;
                    own.Function = static_cast<int>(f);
                    own.CallTarget = fact.Target;
                    own.CallAddress = fact.CallAddress;
                    own.TargetKnown = fact.TargetKnown;
                    Items[i].Older.push_back(own);
                    chosen = usedLink();
                }
                break;
            }
            if (!contained) {
                // No known routine holds the value: any call that ends exactly at it.
                MEMORY_BASIC_INFORMATION info;
                std::uintptr_t from = Items[i].Value - 7;
                if (CommittedRegion(Items[i].Value - 1, info))
                    from = std::max(from, reinterpret_cast<std::uintptr_t>(info.BaseAddress));
                for (std::uintptr_t at = from; at + 2 <= Items[i].Value; ++at) {
                    InstructionRecord record;
                    if (ParseInstructionGuarded(reinterpret_cast<const void *>(at), Regions, record) &&
                        record.isCall && reinterpret_cast<std::uintptr_t>(record.next) == Items[i].Value)
                        ForwardSearch(i, at, record.relative || record.target != 0, record.target, false);
                }
                continue;
            }
        }
        if (chosen == None || Items[i].Hidden)
            continue;
        const TLink link = Items[i].Older[chosen];
        TVexVector<int> contradicted;
        for (const TLink &other : Items[i].Older)
            if (other.Function != None && other.Function != link.Function &&
                other.CallAddress != link.CallAddress)
                contradicted.push_back(other.Function);
        for (int function : contradicted)
            DiscardFunction(function);
        ForwardSearch(i, link.CallAddress, link.TargetKnown, link.CallTarget, true);
    }
}

// ------------------------------------------------------------------------------------------------
// The best chain

std::uint64_t TTracer::Best(int From, int Goal, bool Strict) {
    const bool upward = From < Goal;
    TVexVector<TLink> &table = upward ? Items[From].Newer : Items[From].Older;
    std::uint64_t best = NoLinkScore;
    for (std::size_t l = 0; l < table.size(); ++l) {
        if (table[l].Target == None)
            continue;
        if (table[l].Score == 0) {
            const TLink link = table[l];
            const bool hasFunction = link.Function != None;
            std::uint64_t score;
            if (link.Target == Goal)
                score = hasFunction ? 0x7000000000000000ULL : 0x5000000000000000ULL;
            else if ((upward && link.Target > Goal) || (!upward && link.Target < Goal))
                score = NoLinkScore; // beyond the goal: no chain through it
            else
                score = Best(link.Target, Goal, Strict && hasFunction);
            if (hasFunction) {
                const std::uint64_t add = (*Functions)[link.Function].Used ? 0x1000000 : 0x1000;
                score += (Strict || (score & AllFunctions)) ? add << 16 : add;
            } else {
                score &= ~AllFunctions;
                const TStackItem &holder = Items[From], &other = Items[link.Target];
                if (holder.ModuleIndex != None && other.ModuleIndex != None && MapOf(holder.ModuleIndex)) {
                    const TMapFile *otherMap = MapOf(other.ModuleIndex);
                    score += otherMap && FindLine(*MapOf(holder.ModuleIndex), holder.Value - 1) &&
                                     FindLine(*otherMap, other.Value - 1)
                                 ? 1024
                                 : 256;
                } else {
                    score += 1;
                }
            }
            table[l].Score = score;
        }
        if (table[l].Score > best) {
            best = table[l].Score;
            (upward ? Items[From].NewerChoice : Items[From].OlderChoice) = static_cast<int>(l);
        }
    }
    return best;
}

void TTracer::ResolveStretch(int Low, int High) {
    if (High - Low < 2)
        return;
    const std::uint64_t up = Low == None ? 0 : Best(Low, High, true);
    const std::uint64_t down = (up & ReachedGoal) ? 0 : Best(High, Low, true);
    for (int i = Low + 1; i < High; ++i)
        Items[i].Hidden = true;
    if (up > down) {
        for (int at = Low; at != None;) {
            const int choice = Items[at].NewerChoice;
            if (choice == None)
                break;
            const int next = Items[at].Newer[choice].Target;
            if (next >= High || next <= at)
                break;
            Items[next].Hidden = false;
            at = next;
        }
    } else {
        for (int at = High; at != None;) {
            const int choice = Items[at].OlderChoice;
            if (choice == None)
                break;
            const int next = Items[at].Older[choice].Target;
            if (next <= Low || next >= at || next == None)
                break;
            Items[next].Hidden = false;
            at = next;
        }
    }
}

void TTracer::RealizeOptimalLinkChains() {
    int high = static_cast<int>(Items.size()) - 1;
    for (int c = high - 1; c >= 0; --c)
        if (Items[c].Certain && !Items[c].Hidden) {
            ResolveStretch(c, high);
            high = c;
        }
    ResolveStretch(None, high);
}

// ------------------------------------------------------------------------------------------------
// Output

void TTracer::FillFinalOutput() {
    bool handedBack = false;
    for (int i = static_cast<int>(Items.size()) - 1; i >= 0; --i) {
        TStackItem &item = Items[i];
        if (item.Hidden)
            continue;
        int function = None;
        item.CodeAddress = 0;
        for (const TLink &link : item.Older)
            if (link.Function != None && (*Functions)[link.Function].Used) {
                function = link.Function;
                item.CodeAddress = link.CallAddress;
                break;
            }
        if (function != None) {
            const TFunctionCacheEntry &f = (*Functions)[function];
            item.FunctionName = f.Name;
            item.FunctionStart = f.Entry;
            UnmangleMethodName(item.FunctionName, item.UnitName);
        }
        if (!item.CodeAddress)
            for (const TLink &link : item.Older)
                if (link.CallAddress) {
                    item.CodeAddress = link.CallAddress;
                    break;
                }
        if (!item.CodeAddress && item.NewerChoice != None)
            item.CodeAddress = item.Newer[item.NewerChoice].CallAddress;
        if (!item.CodeAddress)
            item.CodeAddress = item.Value;
        const TModuleCacheEntry *module = item.ModuleIndex == None ? nullptr : &(*Modules)[item.ModuleIndex];
        item.ModuleName = module ? module->FileName : "???";
        if (const TMapFile *map = MapOf(item.ModuleIndex)) {
            if (item.FunctionName.empty())
                if (const MapPublic *routine = FindPublic(*map, item.CodeAddress)) {
                    item.FunctionName = routine->name;
                    item.FunctionStart = routine->address;
                    UnmangleMethodName(item.FunctionName, item.UnitName);
                }
            if (const MapSegment *unit = FindUnit(*map, item.CodeAddress))
                item.UnitName = unit->unit;
            item.Line = FindLine(*map, item.CodeAddress);
        }
        if (!handedBack && item.StartEntry) {
            handedBack = true;
            if (In.HandBackCodeAddress)
                *In.HandBackCodeAddress = item.CodeAddress;
            if (In.HandBackFunctionStart && function != None && (*Functions)[function].Analysed)
                *In.HandBackFunctionStart = item.FunctionStart;
        }
    }
}

std::string TTracer::ComposeResult() {
    std::size_t moduleWidth = 0, unitWidth = 0, lineWidth = 0;
    for (const TStackItem &item : Items) {
        if (item.Hidden)
            continue;
        moduleWidth = std::max(moduleWidth, item.ModuleName.size() + 1);
        unitWidth = std::max(unitWidth, item.UnitName.size() + 1);
        if (item.Line)
            lineWidth = std::max(lineWidth, IntegerText(item.Line).size() + 1);
    }
    std::string result;
    std::uintptr_t previous = 0;
    for (int i = static_cast<int>(Items.size()) - 1; i >= 0; --i) {
        const TStackItem &item = Items[i];
        if (item.Hidden || (item.FunctionName.empty() && !item.StartEntry) || item.CodeAddress == previous)
            continue;
        previous = item.CodeAddress;
        std::string lineText = item.Line ? IntegerText(item.Line) : "";
        if (lineWidth > 0)
            lineText = PadText(lineText, static_cast<int>(lineWidth) - 1, ' ') + " ";
        result += "\r\n" + HexText(static_cast<std::uint32_t>(item.CodeAddress), 8, '0').substr(1) + " " +
                  PadText(item.ModuleName, -static_cast<int>(moduleWidth), ' ') +
                  PadText(item.UnitName, -static_cast<int>(unitWidth), ' ') + lineText + item.FunctionName;
    }
    return result.size() >= 2 ? result.substr(2) : result;
}

std::string TTracer::Run() {
    // The range is checked with the system's region query, not by catching a fault.
    if (In.StackPointer >= In.StackTop ||
        !IsReadableRange(reinterpret_cast<const void *>(In.StackPointer), In.StackTop - In.StackPointer))
        return "";
    Regions = ReadableRegionList();
    Items.reserve(64);
    std::string result;
    const char *phase = "";
    try {
        phase = "CollectPossibleStackItems";
        CollectPossibleStackItems();
        Progress(25);
        phase = "RemoveRecursiveStackAreas";
        RemoveRecursive(true);
        phase = "InDeepChecks";
        InDeepChecks();
        phase = "RealizeOptimalLinkChains";
        RealizeOptimalLinkChains();
        Progress(1000);
        phase = "RemoveRecursiveAreas";
        RemoveRecursive(false);
        phase = "FillFinalOutput";
        FillFinalOutput();
        phase = "ComposeResult";
        result = ComposeResult();
    } catch (...) {
        result = std::string("Internal error in vexStackTrace.") + phase + " (" +
                 HexText(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(In.HandBackCodeAddress)),
                         1, '0') +
                 ")";
    }
    FreeRegionList(Regions);
    Regions = nullptr;
    return result;
}

} // namespace

TProgressTracker::TProgressTracker(std::uint32_t StartTicks) : FStartTicks(StartTicks) {}

TProgressTracker::~TProgressTracker() = default;

void TProgressTracker::AddTask(std::uint64_t Weight) {
    if (FTaskCount == std::size(FTasks)) // more threads than tasks: the last task takes the rest
        FTasks[FTaskCount - 1].Weight += Weight;
    else
        FTasks[FTaskCount++] = {FTotal, Weight};
    FTotal += Weight;
}

void TProgressTracker::SetProgress(std::uint32_t Permille, std::uint32_t NowTicks) {
    if (FCurrent < FTaskCount)
        FDone =
            FTasks[FCurrent].Start + FTasks[FCurrent].Weight * std::min<std::uint32_t>(Permille, 1000) / 1000;
    Update(NowTicks);
}

void TProgressTracker::TaskDone(std::uint32_t NowTicks) {
    SetProgress(1000, NowTicks);
    if (FCurrent < FTaskCount)
        ++FCurrent;
}

std::uint32_t TProgressTracker::Overall() const {
    return FTotal ? static_cast<std::uint32_t>(FDone * 1000 / FTotal) : 0;
}

void TProgressTracker::Update(std::uint32_t NowTicks) {
    if (!FBarShown && TicksBetween(FStartTicks, NowTicks) > 750 && Overall() < 500) {
        FBarShown = true;
        FShownAt = Overall();
    }
    if (FBarShown && FWindowed) {
        if (!FBar)
            FBar = std::make_unique<TProgressBar>();
        FBar->Draw(BarPosition());
    }
}

std::uint32_t TProgressTracker::BarPosition() const {
    if (!FBarShown || FShownAt >= 1000)
        return 0;
    return (Overall() - FShownAt) * 1000 / (1000 - FShownAt);
}

std::string TProgressTracker::BarText() const {
    return IntegerText((BarPosition() + 5) / 10) + "%";
}

__attribute__((noinline)) std::string TraceStack(const TTraceInput &Input) {
    TTraceInput input = Input;
    if (input.StackTop == 0 && input.StackPointer == 0) {
        // The caller's own stack: from just above this routine's return slot, its caller's frame.
        const auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        input.StackTop = CurrentStackBase();
        input.StackPointer = frame + 8;
        if (input.FramePointer == 0)
            SafeReadMemory(reinterpret_cast<const void *>(frame), &input.FramePointer, 4, nullptr);
    }
    if (input.StartAddress == 0 && !input.ExceptionThread)
        input.StartAddress = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    try {
        EnsureCaches();
        TSectionGuard guard(ReportLock());
        TTracer tracer(input);
        return tracer.Run();
    } catch (...) {
        return "";
    }
}

void FinalizeVexStackTrace() {
    EnsureCaches();
    TSectionGuard guard(ReportLock());
    Modules->clear();
}
