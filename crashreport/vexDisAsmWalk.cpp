#include "vexDisAsmWalk.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <unwind.h>

#include "vexStrings.h"
#include "vexTools.h"

// The run time's own table lookup (libgcc): the unwind entry that covers a code address.
struct dwarf_eh_bases {
    void *tbase;
    void *dbase;
    void *func;
};
extern "C" const void *_Unwind_Find_FDE(void *pc, struct dwarf_eh_bases *bases);
extern "C" void __cxa_throw(void *, void *, void (*)(void *));
extern "C" void __cxa_rethrow();

namespace std {
void __throw_bad_alloc();
void __throw_bad_cast();
void __throw_logic_error(const char *);
void __throw_invalid_argument(const char *);
void __throw_length_error(const char *);
void __throw_out_of_range(const char *);
void __throw_out_of_range_fmt(const char *, ...);
void __throw_runtime_error(const char *);
void __throw_system_error(int);
} // namespace std

namespace {

// ---------------------------------------------------------------------------------------------
// Bounded reading of the unwind tables

struct TTableReader {
    std::uintptr_t At;
    std::uintptr_t Limit;
    const TRegionList *Regions;
    bool Fault = false;

    std::uint8_t Byte() {
        std::uint8_t value = 0;
        if (At >= Limit || !SafeReadMemory(reinterpret_cast<const void *>(At), &value, 1, Regions))
            Fault = true;
        else
            ++At;
        return value;
    }
    std::uint32_t Fixed(unsigned size) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < size; ++i)
            value |= std::uint32_t(Byte()) << (8 * i);
        return value;
    }
    std::uint32_t Unsigned128() {
        std::uint32_t value = 0;
        for (unsigned shift = 0; shift < 35 && !Fault; shift += 7) {
            const std::uint8_t b = Byte();
            value |= std::uint32_t(b & 0x7F) << shift;
            if (!(b & 0x80))
                return value;
        }
        Fault = true;
        return 0;
    }
    std::int32_t Signed128() {
        std::uint32_t value = 0;
        unsigned shift = 0;
        std::uint8_t b = 0;
        do {
            b = Byte();
            if (shift < 32)
                value |= std::uint32_t(b & 0x7F) << shift;
            shift += 7;
        } while ((b & 0x80) && !Fault && shift < 35);
        if (shift < 32 && (b & 0x40))
            value |= ~0u << shift;
        return static_cast<std::int32_t>(value);
    }
    // A pointer in one of the DWARF encodings GCC uses here (absolute, pc-relative, data-relative).
    std::uintptr_t Encoded(std::uint8_t encoding, std::uintptr_t dataBase = 0) {
        if (encoding == 0xFF)
            return 0;
        const std::uintptr_t position = At;
        std::uint32_t value = 0;
        switch (encoding & 0x0F) {
        case 0x00:
        case 0x03:
        case 0x0B:
            value = Fixed(4);
            break;
        case 0x01:
            value = Unsigned128();
            break;
        case 0x02:
            value = Fixed(2);
            break;
        case 0x0A:
            value = static_cast<std::uint32_t>(static_cast<std::int16_t>(Fixed(2)));
            break;
        case 0x09:
            value = static_cast<std::uint32_t>(Signed128());
            break;
        default:
            Fault = true;
            return 0;
        }
        switch (encoding & 0x70) {
        case 0x00:
            break;
        case 0x10:
            value += static_cast<std::uint32_t>(position);
            break;
        case 0x30:
            value += static_cast<std::uint32_t>(dataBase);
            break;
        default:
            Fault = true;
            return 0;
        }
        if (encoding & 0x80) {
            std::uint32_t indirect = 0;
            if (!SafeReadMemory(reinterpret_cast<const void *>(std::uintptr_t(value)), &indirect, 4, Regions))
                Fault = true;
            value = indirect;
        }
        return value;
    }
};

constexpr std::uint32_t MaxTableBytes = 1 << 20;

} // namespace

bool FindUnwindRange(const void *Address, TUnwindRange &Range, const TRegionList *Regions) {
    Range = TUnwindRange();
    dwarf_eh_bases bases = {};
    const auto fde = reinterpret_cast<std::uintptr_t>(_Unwind_Find_FDE(const_cast<void *>(Address), &bases));
    if (!fde)
        return false;
    TTableReader in{fde, fde + 8, Regions};
    const std::uint32_t length = in.Fixed(4);
    const std::uint32_t cieOffset = in.Fixed(4);
    if (in.Fault || length < 8 || length > MaxTableBytes)
        return false;
    // The common entry: its augmentation tells how the entry's pointers are encoded.
    const std::uintptr_t cie = fde + 4 - cieOffset;
    TTableReader cin{cie, cie + 4, Regions};
    const std::uint32_t cieLength = cin.Fixed(4);
    if (cin.Fault || cieLength > MaxTableBytes)
        return false;
    cin.Limit = cie + 4 + cieLength;
    cin.Fixed(4); // the entry's id
    const std::uint8_t version = cin.Byte();
    std::string augmentation;
    for (std::uint8_t c; (c = cin.Byte()) != 0 && !cin.Fault && augmentation.size() < 16;)
        augmentation.push_back(static_cast<char>(c));
    cin.Unsigned128();
    cin.Signed128();
    if (version == 1)
        cin.Byte();
    else
        cin.Unsigned128();
    std::uint8_t fdeEncoding = 0, lsdaEncoding = 0xFF;
    if (!augmentation.empty() && augmentation[0] == 'z') {
        cin.Unsigned128();
        for (std::size_t i = 1; i < augmentation.size() && !cin.Fault; ++i) {
            if (augmentation[i] == 'R')
                fdeEncoding = cin.Byte();
            else if (augmentation[i] == 'L')
                lsdaEncoding = cin.Byte();
            else if (augmentation[i] == 'P')
                cin.Encoded(cin.Byte());
            else
                break;
        }
    }
    if (cin.Fault)
        return false;
    in.Limit = fde + 4 + length;
    const std::uintptr_t begin = in.Encoded(fdeEncoding);
    const std::uintptr_t range = in.Encoded(fdeEncoding & 0x0F);
    if (in.Fault || range == 0 || range > (1u << 26))
        return false;
    Range.Begin = begin;
    Range.End = begin + range;
    if (augmentation.empty() || augmentation[0] != 'z' || lsdaEncoding == 0xFF)
        return true;
    in.Unsigned128();
    const std::uintptr_t lsda = in.Encoded(lsdaEncoding);
    if (in.Fault || lsda == 0)
        return true;

    // The language-specific table: its call-site entries name the landing pads.
    TTableReader lin{lsda, lsda + MaxTableBytes, Regions};
    const std::uint8_t startEncoding = lin.Byte();
    std::uintptr_t landingBase = begin;
    if (startEncoding != 0xFF)
        landingBase = lin.Encoded(startEncoding);
    if (lin.Byte() != 0xFF)
        lin.Unsigned128();
    const std::uint8_t siteEncoding = lin.Byte();
    const std::uint32_t tableLength = lin.Unsigned128();
    if (lin.Fault || tableLength > MaxTableBytes)
        return true;
    lin.Limit = lin.At + tableLength;
    while (lin.At < lin.Limit && !lin.Fault) {
        lin.Encoded(siteEncoding & 0x0F);
        lin.Encoded(siteEncoding & 0x0F);
        const std::uintptr_t pad = lin.Encoded(siteEncoding & 0x0F);
        lin.Unsigned128();
        if (!lin.Fault && pad != 0 && landingBase + pad >= Range.Begin && landingBase + pad < Range.End &&
            std::find(Range.LandingPads.begin(), Range.LandingPads.end(), landingBase + pad) ==
                Range.LandingPads.end())
            Range.LandingPads.push_back(landingBase + pad);
    }
    return true;
}

bool IsNoReturnRoutine(std::uintptr_t Address) {
    static std::uintptr_t routines[48] = {};
    static volatile LONG filled = 0;
    if (!filled) {
        const void *const known[] = {
            reinterpret_cast<const void *>(&_Unwind_Resume),
            reinterpret_cast<const void *>(&__cxa_throw),
            reinterpret_cast<const void *>(&__cxa_rethrow),
            reinterpret_cast<const void *>(&std::terminate),
            reinterpret_cast<const void *>(&abort),
            reinterpret_cast<const void *>(&exit),
            reinterpret_cast<const void *>(&_exit),
            reinterpret_cast<const void *>(&std::__throw_bad_alloc),
            reinterpret_cast<const void *>(&std::__throw_bad_cast),
            reinterpret_cast<const void *>(&std::__throw_logic_error),
            reinterpret_cast<const void *>(&std::__throw_invalid_argument),
            reinterpret_cast<const void *>(&std::__throw_length_error),
            reinterpret_cast<const void *>(&std::__throw_out_of_range),
            reinterpret_cast<const void *>(&std::__throw_out_of_range_fmt),
            reinterpret_cast<const void *>(&std::__throw_runtime_error),
            reinterpret_cast<const void *>(&std::__throw_system_error),
            reinterpret_cast<const void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "ExitProcess")),
            reinterpret_cast<const void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "ExitThread")),
        };
        std::size_t count = 0;
        for (const void *routine : known) {
            std::uintptr_t address = reinterpret_cast<std::uintptr_t>(routine);
            // Follow an import jump to the routine itself.
            InstructionRecord r;
            if (address && ParseInstruction(routine, r) && r.isJump && r.target)
                routines[count++] = r.target;
            routines[count++] = address;
            if (count + 2 > std::size(routines))
                break;
        }
        filled = 1;
    }
    return Address != 0 && std::find(std::begin(routines), std::end(routines), Address) != std::end(routines);
}

// ---------------------------------------------------------------------------------------------
// The walk

namespace {

constexpr std::size_t NoArea = static_cast<std::size_t>(-1);

struct TWalker {
    FunctionRecord &Record;
    const TRegionList *Regions;
    std::uintptr_t RangeBegin = 0, RangeEnd = 0;
    std::size_t Current = NoArea; // the area being walked
    RegisterKnowledge Knowledge{};
    bool Failed = false;
    std::uintptr_t FailAddress = 0;

    TWalker(FunctionRecord &record, const TRegionList *regions) : Record(record), Regions(regions) {}

    bool InRange(std::uintptr_t address) const { return address >= RangeBegin && address < RangeEnd; }

    static void Merge(RegisterKnowledge &into, const RegisterKnowledge &other) {
        for (std::size_t i = 0; i < into.size(); ++i)
            if (into[i] != other[i])
                into[i] = nullptr;
    }

    void AddArea(std::uintptr_t a, std::uintptr_t referrer) {
        std::vector<CodeArea> &areas = Record.areas;
        for (CodeArea &area : areas)
            if (area.start == a) {
                if (referrer > area.referrer && referrer < area.start)
                    area.referrer = referrer;
                Merge(area.knowledge, Knowledge);
                return;
            }
        for (std::size_t i = 0; i < areas.size(); ++i) {
            CodeArea &area = areas[i];
            if (area.end != 0 && area.start < a && a <= area.end && !area.isCaseTable &&
                !area.isExceptTable) {
                CodeArea cut;
                cut.start = a;
                cut.end = area.end;
                cut.referrer = referrer;
                cut.knowledge = Knowledge;
                Merge(cut.knowledge, area.knowledge);
                area.end = a - 1;
                areas.push_back(cut);
                if (i == Current)
                    Current = areas.size() - 1;
                return;
            }
        }
        if (areas.size() == areas.capacity())
            areas.reserve(std::max<std::size_t>(8, areas.capacity() * 2));
        CodeArea fresh;
        fresh.start = a;
        fresh.referrer = referrer;
        fresh.knowledge = Knowledge;
        areas.push_back(fresh);
    }

    void AddDataArea(std::uintptr_t start, std::uint32_t size, bool caseTable) {
        CodeArea area;
        area.start = start;
        area.end = start + size - 1;
        area.isCaseTable = caseTable;
        area.isExceptTable = !caseTable;
        Record.areas.push_back(area);
    }

    std::uintptr_t Bound(std::uintptr_t start) const {
        std::uintptr_t bound = RangeEnd;
        for (const CodeArea &area : Record.areas)
            if (area.start > start && area.start < bound)
                bound = area.start;
        return bound;
    }

    void RemoveUnknown(std::uintptr_t address) {
        std::erase_if(Record.unknownTargets, [&](const UnknownTarget &u) { return u.address == address; });
    }

    void HandleBranch(const InstructionRecord &r) {
        const auto address = reinterpret_cast<std::uintptr_t>(r.address);
        if (!r.targetOperand && !r.targetCell) {
            if (std::none_of(Record.unknownTargets.begin(), Record.unknownTargets.end(),
                             [&](const UnknownTarget &u) { return u.address == address; }))
                Record.unknownTargets.push_back(
                    {r.isCall, address, reinterpret_cast<std::uintptr_t>(r.next)});
            return;
        }
        const bool leaves = (r.targetSize == 4 && r.isCall) || !InRange(r.target);
        if (leaves) {
            std::uint32_t target = r.target;
            std::uint8_t first = 0;
            if (target &&
                SafeReadMemory(reinterpret_cast<const void *>(std::uintptr_t(target)), &first, 1, Regions) &&
                (first == 0xE9 || first == 0xEB || first == 0xFF)) {
                InstructionRecord jump;
                HMODULE module = nullptr;
                std::string fileName;
                const bool namedExport =
                    FindModuleOfAddress(reinterpret_cast<const void *>(std::uintptr_t(target)), module,
                                        fileName) &&
                    !ExportNameOfAddress(module, reinterpret_cast<const void *>(std::uintptr_t(target)),
                                         false)
                         .empty();
                if (!namedExport &&
                    ParseInstructionGuarded(reinterpret_cast<const void *>(std::uintptr_t(target)), Regions,
                                            jump) &&
                    jump.target)
                    target = jump.target;
            }
            const auto next = reinterpret_cast<std::uintptr_t>(r.next);
            if (std::none_of(Record.farCalls.begin(), Record.farCalls.end(),
                             [&](const FarCall &f) { return f.next == next; })) {
                Record.farCalls.push_back(
                    {r.isCall, address, next, target, r.relative, r.targetOperand, r.targetCell});
                if (r.targetCell)
                    Record.copySize += 4;
            }
        } else {
            AddArea(r.target, address);
        }
        RemoveUnknown(address);
    }

    // Case statement: CMP reg, n / JA or JAE (JG, JGE) / JMP [reg*4 + table].
    struct TCasePattern {
        int State = 0;
        int Register = 0;
        std::uint32_t Count = 0;
    };

    // True when the instruction completed a case statement (its targets are added).
    bool FollowCasePattern(TCasePattern &p, const InstructionRecord &r) {
        const InstructionDetail &d = r.detail;
        const std::uint16_t op = r.opcode;
        if ((op == 0x83 || op == 0x81) && r.modrm >= 0xF8 && !d.OperandSize) {
            const std::uint32_t n =
                op == 0x83 ? static_cast<std::uint8_t>(d.Immediate) : static_cast<std::uint32_t>(d.Immediate);
            p = TCasePattern();
            if (n != 0 && n < 4096) {
                p.State = 1;
                p.Register = r.modrm & 7;
                p.Count = n;
            }
            return false;
        }
        if (p.State == 1) {
            if (op == 0x77 || op == 0x7F || op == 0x0F87 || op == 0x0F8F) {
                p.State = 2;
                p.Count += 1;
                return false;
            }
            if (op == 0x73 || op == 0x7D || op == 0x0F83 || op == 0x0F8D) {
                p.State = 2;
                return false;
            }
        } else if (p.State == 2 && op == 0xFF && r.modrm == 0x24) {
            const auto *sibAt = r.address + (d.DisplacementAt - r.address) - 1;
            std::uint8_t sib = 0;
            SafeReadMemory(sibAt, &sib, 1, Regions);
            if ((sib & 0xC7) == 0x85 && ((sib >> 3) & 7) == p.Register) {
                const std::uintptr_t table = static_cast<std::uint32_t>(d.Displacement);
                const std::uint32_t count = p.Count;
                p = TCasePattern();
                std::vector<std::uint32_t> entries(count);
                if (!SafeReadMemory(reinterpret_cast<const void *>(table), entries.data(), count * 4,
                                    Regions))
                    return false;
                const auto address = reinterpret_cast<std::uintptr_t>(r.address);
                for (std::uint32_t entry : entries)
                    if (InRange(entry))
                        AddArea(entry, address);
                // A table directly behind the jump is part of the routine; GCC keeps its tables in
                // read-only data elsewhere.
                if (table == reinterpret_cast<std::uintptr_t>(r.next))
                    AddDataArea(table, count * 4, true);
                RemoveUnknown(address);
                return true;
            }
        }
        p = TCasePattern();
        return false;
    }

    // Walks the area Current; false on invalid code.
    bool WalkArea() {
        CodeArea &startArea = Record.areas[Current];
        std::uintptr_t at = startArea.start;
        Knowledge = startArea.knowledge;
        std::uintptr_t bound = Bound(startArea.start);
        TCasePattern casePattern;
        std::uint32_t pushedHandler = 0;
        bool pushedHandlerValid = false;
        for (;;) {
            const RegisterKnowledge before = Knowledge;
            InstructionRecord r;
            if (!ParseInstructionTracked(reinterpret_cast<const void *>(at), &Knowledge, false, r, Regions)) {
                FailAddress = reinterpret_cast<std::uintptr_t>(r.next);
                return false;
            }
            const auto next = reinterpret_cast<std::uintptr_t>(r.next);
            Record.areas[Current].end = next - 1;
            const std::uint16_t op = r.opcode;
            if (op == 0xC2 || op == 0xC3 || op == 0xCA || op == 0xCB || op == 0xCF || op == 0x0F0B)
                return true;

            // Structured exception frame: PUSH handler / PUSH dword ptr fs:[...].
            const bool fsPush =
                op == 0xFF && r.detail.Segment == 5 &&
                ((r.modrm >= 0x30 && r.modrm <= 0x37 && next - at == 3 && !before[r.modrm & 7]) ||
                 (r.modrm == 0x35 && next - at == 7 && r.detail.Displacement == 0));
            if (pushedHandlerValid && fsPush && InRange(pushedHandler)) {
                const RegisterKnowledge saved = Knowledge;
                Knowledge = RegisterKnowledge{};
                AddArea(pushedHandler, 0);
                Knowledge = saved;
            }
            pushedHandlerValid = false;
            if (op == 0x68 && next - at == 5) {
                std::uint8_t following = 0;
                if (SafeReadMemory(r.next, &following, 1, Regions) && following == 0x64) {
                    pushedHandler = static_cast<std::uint32_t>(r.detail.Immediate);
                    pushedHandlerValid = true;
                }
            }

            if (FollowCasePattern(casePattern, r))
                return true;
            const bool branch = r.isCall || r.isJump;
            if (branch)
                HandleBranch(r);
            const bool unconditional = op == 0xE9 || op == 0xEA || op == 0xEB ||
                                       (op == 0xFF && (r.detail.Reg == 4 || r.detail.Reg == 5));
            if (unconditional)
                return true;
            if (r.isCall && (IsNoReturnRoutine(r.target) ||
                             (!Record.farCalls.empty() && Record.farCalls.back().next == next &&
                              IsNoReturnRoutine(Record.farCalls.back().target))))
                return true;
            bound = Bound(Record.areas[Current].start);
            if (next > bound) {
                FailAddress = next;
                return false;
            }
            if (Knowledge != before || next >= bound) {
                if (next < RangeEnd)
                    AddArea(next, 0);
                return true;
            }
            at = next;
        }
    }

    std::size_t FirstUnwalked() const {
        for (std::size_t i = 0; i < Record.areas.size(); ++i)
            if (Record.areas[i].end == 0)
                return i;
        return NoArea;
    }

    bool WalkAll() {
        for (;;) {
            const std::size_t index = FirstUnwalked();
            if (index == NoArea)
                return true;
            Current = index;
            if (!WalkArea())
                return false;
        }
    }

    // The lowest address not covered when following the areas from codeBegin, and the highest end.
    void FindGap(std::uintptr_t &gap, std::uintptr_t &highest) const {
        std::uintptr_t begin = ~std::uintptr_t(0);
        highest = 0;
        for (const CodeArea &area : Record.areas) {
            begin = std::min(begin, area.start);
            highest = std::max(highest, area.end);
        }
        gap = begin;
        for (bool moved = true; moved;) {
            moved = false;
            for (const CodeArea &area : Record.areas)
                if (area.start == gap && area.end >= area.start) {
                    gap = area.end + 1;
                    moved = true;
                }
        }
    }

    bool Run(std::uintptr_t entry) {
        for (;;) {
            if (!WalkAll())
                return false;
            bool added = false;
            for (std::size_t u = Record.unknownTargets.size(); u-- > 0 && !added;) {
                const UnknownTarget unknown = Record.unknownTargets[u];
                for (const CodeArea &area : Record.areas) {
                    if (area.end == 0 || area.isCaseTable || area.isExceptTable ||
                        unknown.address < area.start || unknown.next - 1 > area.end)
                        continue;
                    // Replay the area up to the instruction to learn what the registers held there.
                    RegisterKnowledge knowledge = area.knowledge;
                    InstructionRecord r;
                    std::uintptr_t at = area.start;
                    while (at < unknown.address && ParseInstructionTracked(reinterpret_cast<const void *>(at),
                                                                           &knowledge, false, r, Regions))
                        at = reinterpret_cast<std::uintptr_t>(r.next);
                    Knowledge = knowledge;
                    if (at == unknown.address &&
                        ParseInstructionTracked(reinterpret_cast<const void *>(at), &Knowledge, true, r,
                                                Regions) &&
                        (r.targetOperand || r.targetCell)) {
                        const std::size_t before = Record.areas.size();
                        HandleBranch(r);
                        added = FirstUnwalked() != NoArea || Record.areas.size() != before;
                    }
                    break;
                }
            }
            if (added)
                continue;
            if (std::none_of(Record.unknownTargets.begin(), Record.unknownTargets.end(),
                             [](const UnknownTarget &u) { return !u.isCall; }))
                return true;
            std::uintptr_t gap, highest;
            FindGap(gap, highest);
            if (gap > highest || highest - gap >= 0x400 || !InRange(gap))
                return true;
            const std::size_t keep = Record.areas.size();
            Knowledge = RegisterKnowledge{};
            AddArea(gap, 0);
            if (!WalkAll()) {
                Record.areas.resize(keep);
                return false;
            }
            (void)entry;
        }
    }
};

void Finish(FunctionRecord &record) {
    record.areas.shrink_to_fit();
    std::uintptr_t begin = ~std::uintptr_t(0), highest = 0;
    for (const CodeArea &area : record.areas) {
        begin = std::min(begin, area.start);
        highest = std::max(highest, area.end);
    }
    record.codeBegin = begin;
    record.codeLength = static_cast<std::uint32_t>(highest - begin + 1);
    record.copySize += record.codeLength + 4;

    // Interceptable: at least 6 bytes of plain code from the entry on, and no branch in the first
    // 6 bytes that could not be moved.
    std::uintptr_t reach = record.entry;
    std::uint32_t sum = 0;
    for (bool moved = true; moved && sum < 6;) {
        moved = false;
        for (const CodeArea &area : record.areas)
            if (area.start == reach && area.end >= area.start && !area.isCaseTable && !area.isExceptTable &&
                area.referrer == 0) {
                sum += static_cast<std::uint32_t>(area.end - area.start + 1);
                reach = area.end + 1;
                moved = true;
                break;
            }
    }
    record.interceptable = sum >= 6;
    for (std::uintptr_t at = record.entry; record.interceptable && at < record.entry + 6;) {
        InstructionRecord r;
        if (!ParseInstruction(reinterpret_cast<const void *>(at), r)) {
            record.interceptable = false;
            break;
        }
        if ((r.isCall || r.isJump) &&
            ((!r.targetOperand && !r.targetCell) || (!r.widenable && r.targetSize < 4)))
            record.interceptable = false;
        at = reinterpret_cast<std::uintptr_t>(r.next);
    }
}

} // namespace

bool ParseFunctionGuarded(const void *Entry, const TRegionList *Regions, FunctionRecord &Record) {
    Record = FunctionRecord();
    const auto entry = reinterpret_cast<std::uintptr_t>(Entry);
    MEMORY_BASIC_INFORMATION info;
    if (!Entry || VirtualQuery(Entry, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT) {
        Record.errorAddress = entry;
        Record.errorCode = ERROR_INVALID_PARAMETER;
        Record.errorText = SystemErrorText(ERROR_INVALID_PARAMETER);
        return false;
    }
    TWalker walker(Record, Regions);
    // The routine's extent: the run time's unwind tables know it exactly (this keeps tail calls and
    // split-off cold parts out of the routine); otherwise the module's code and data, or the region.
    TUnwindRange unwind;
    const bool haveUnwind =
        FindUnwindRange(Entry, unwind, Regions) && unwind.Begin <= entry && entry < unwind.End;
    if (haveUnwind) {
        walker.RangeBegin = unwind.Begin;
        walker.RangeEnd = unwind.End;
    } else if (const IMAGE_NT_HEADERS32 *headers =
                   ImageNtHeaders(static_cast<HMODULE>(info.AllocationBase))) {
        const auto base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
        const IMAGE_OPTIONAL_HEADER32 &o = headers->OptionalHeader;
        const auto *section = IMAGE_FIRST_SECTION(headers);
        std::uintptr_t codeBegin = base + o.BaseOfCode, codeEnd = codeBegin + o.SizeOfCode;
        if (headers->FileHeader.NumberOfSections > 0 && (section->Characteristics & IMAGE_SCN_CNT_CODE)) {
            codeBegin = base + section->VirtualAddress;
            codeEnd = codeBegin + section->Misc.VirtualSize;
        }
        const std::uintptr_t dataBegin = base + o.BaseOfData;
        const std::uintptr_t dataEnd = dataBegin + o.SizeOfInitializedData + o.SizeOfUninitializedData;
        walker.RangeBegin = std::min(codeBegin, dataBegin);
        walker.RangeEnd = std::max(codeEnd, dataEnd);
    } else {
        walker.RangeBegin = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
        walker.RangeEnd = walker.RangeBegin + info.RegionSize;
    }
    Record.entry = entry;
    Record.areas.reserve(8);
    walker.AddArea(entry, 0);
    for (std::uintptr_t pad : unwind.LandingPads)
        walker.AddArea(pad, 0);
    if (!walker.Run(entry)) {
        Record.areas.shrink_to_fit();
        Record.valid = false;
        Record.errorAddress = walker.FailAddress;
        Record.errorCode = InvalidCodeError;
        Record.errorText = "Invalid code!";
        return false;
    }
    Record.valid = true;
    Finish(Record);
    return true;
}

bool ParseFunction(const void *Entry, FunctionRecord &Record) {
    return ParseFunctionGuarded(Entry, nullptr, Record);
}
