#include "vexDisAsmText.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "vexStrings.h"
#include "vexTools.h"

namespace {

TNameOfExactAddress NameFallback = nullptr;

const char *const Registers8[] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
const char *const Registers16[] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
const char *const Registers32[] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
const char *const Segments[] = {"es", "cs", "ss", "ds", "fs", "gs", "?", "?"};
const char *const Conditions[] = {"o", "no", "b", "nb", "z", "nz", "be", "a",
                                  "s", "ns", "p", "np", "l", "ge", "le", "g"};

// Decimal below 10, '$' hexadecimal from 10 on.
std::string Number(std::uint32_t value) {
    return value < 10 ? IntegerText(value) : HexText(value, 1, '0');
}

std::string SignedNumber(std::int32_t value, bool plus) {
    if (value < 0)
        return "-" + Number(0u - static_cast<std::uint32_t>(value));
    return (plus ? "+" : "") + Number(static_cast<std::uint32_t>(value));
}

std::string Hex(std::uintptr_t value) {
    return HexText(static_cast<std::uint32_t>(value), 1, '0').substr(1);
}

std::string Address8(std::uintptr_t value) {
    return HexText(static_cast<std::uint32_t>(value), 8, '0').substr(1);
}

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string MnemonicText(const InstructionRecord &r) {
    const InstructionDetail &d = r.detail;
    if (r.opcode == 0x0F0F) {
        const char *name = Amd3DNowName(d.Suffix);
        return name ? name : "";
    }
    std::string text = MnemonicEntry(d.Mnemonic);
    ReplaceSubstring(text, "%cc", Conditions[r.opcode & 15], false);
    ReplaceSubstring(text, "%seg", Segments[(r.opcode >> 3) & 7], false);
    if (text.find('/') != std::string::npos) {
        const std::vector<std::string> parts = Split(text, '/');
        std::size_t choice = d.OperandSize ? 1 : d.Repne ? 2 : d.Rep ? 3 : 0;
        text = choice < parts.size() && !parts[choice].empty() ? parts[choice] : parts[0];
    }
    if (text.find('|') != std::string::npos) {
        const std::vector<std::string> parts = Split(text, '|');
        if (parts.size() < 9 || d.MemoryForm || !d.HasModRM) {
            text = d.Reg < parts.size() ? parts[d.Reg] : "";
        } else {
            text = d.Reg + 8u < parts.size() ? parts[d.Reg + 8] : "";
            if (text.find('-') != std::string::npos) {
                const std::vector<std::string> forms = Split(text, '-');
                text = d.RM < forms.size() ? forms[d.RM] : "";
            }
        }
    }
    if (text.find(':') != std::string::npos) {
        const std::vector<std::string> forms = Split(text, ':');
        text = d.MemoryForm ? forms[1] : forms[0];
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == 'S')
            text.replace(i, 1, d.OperandSize || d.Repne ? "d" : "s");
        else if (text[i] == 'P')
            text.replace(i, 1, d.Repne || d.Rep ? "s" : "p");
    }
    if (r.opcode >= 0xD8 && r.opcode <= 0xDF)
        text = "f" + text;
    return text;
}

// Operand kinds after the prefixes of the SSE forms have been applied.
struct TOperandKinds {
    unsigned Reg, RM;
};

TOperandKinds OperandKinds(const InstructionRecord &r) {
    const InstructionDetail &d = r.detail;
    TOperandKinds k{d.Properties & 7u, (d.Properties >> 3) & 7u};
    const bool repeat = d.Repne || d.Rep;
    switch (r.opcode) {
    case 0x0F2A:
        if (repeat)
            k.RM = 4;
        break;
    case 0x0F2C:
    case 0x0F2D:
        if (repeat)
            k.Reg = 4;
        break;
    case 0x0F6F:
    case 0x0F70:
    case 0x0F7E:
    case 0x0F7F:
        if (repeat)
            k.Reg = 7, k.RM = 7;
        break;
    case 0x0FD6:
        if (d.Rep)
            k.Reg = 7, k.RM = 5;
        else if (d.Repne)
            k.Reg = 5, k.RM = 7;
        break;
    default:
        break;
    }
    return k;
}

std::string RegisterName(unsigned kind, unsigned number, bool widened, const InstructionRecord &r) {
    switch (kind) {
    case 1:
        return Registers8[number];
    case 2:
        return Registers16[number];
    case 3:
        if (r.opcode >= 0x0F20 && r.opcode <= 0x0F23)
            return ((r.opcode & 1) ? "dr" : "cr") + IntegerText(number);
        return Segments[number];
    case 4:
        return widened ? Registers16[number] : Registers32[number];
    case 5:
        return (widened ? "xmm" : "mm") + IntegerText(number);
    case 6:
        return "st";
    case 7:
        return "xmm" + IntegerText(number);
    default:
        return "";
    }
}

std::string SegmentPrefix(const InstructionDetail &d) {
    return d.Segment ? std::string(Segments[d.Segment - 1]) + ":" : std::string();
}

std::string MemoryOperand(const InstructionRecord &r, unsigned rmKind, bool widened) {
    const InstructionDetail &d = r.detail;
    const char *const *names = d.AddressSize ? Registers16 : Registers32;
    std::string inside;
    if (d.Base >= 0)
        inside = names[d.Base];
    if (d.Index >= 0) {
        inside += (inside.empty() ? "" : "+") + std::string(names[d.Index]);
        if (d.Scale > 1)
            inside += "*" + IntegerText(static_cast<std::uint32_t>(d.Scale));
    }
    if (inside.empty())
        inside = Number(d.AddressSize ? static_cast<std::uint16_t>(d.Displacement)
                                      : static_cast<std::uint32_t>(d.Displacement));
    else if (d.Displacement != 0)
        inside += SignedNumber(d.Displacement, true);
    std::string text = SegmentPrefix(d) + "[" + inside + "]";
    if (d.Properties & 0x100) {
        static const char *const sizes[] = {"", "", "byte", "word", "dword", "qword", "tbyte", "oword"};
        std::string size = sizes[rmKind];
        if (widened && rmKind == 4)
            size = "word";
        else if (widened && rmKind == 5)
            size = "oword";
        if (!size.empty())
            text = size + " ptr " + text;
    }
    return text;
}

std::string RMOperand(const InstructionRecord &r, unsigned rmKind) {
    const InstructionDetail &d = r.detail;
    const bool widened = (d.Properties & 0x80) && d.OperandSize;
    if (d.MemoryForm)
        return MemoryOperand(r, rmKind, widened);
    switch (rmKind) {
    case 2:
        return Registers8[d.RM];
    case 3:
        return Registers16[d.RM];
    case 4:
        return widened ? Registers16[d.RM] : Registers32[d.RM];
    case 5:
        return (widened ? "xmm" : "mm") + IntegerText(static_cast<std::uint32_t>(d.RM));
    case 6:
        return "st(" + IntegerText(static_cast<std::uint32_t>(d.RM)) + ")";
    case 7:
        return "xmm" + IntegerText(static_cast<std::uint32_t>(d.RM));
    default:
        return "";
    }
}

std::string ImmediateText(const InstructionRecord &r) {
    const InstructionDetail &d = r.detail;
    const std::uint16_t op = r.opcode;
    if (d.ImmediateSize == 0 || op == 0x0F0F)
        return "";
    if (d.Properties & 0x1000)
        return SignedNumber(d.Immediate, true) + " (" + HexText(r.target, 1, '0') + ")";
    if (op == 0x69 || op == 0x6B || (op >= 0x80 && op <= 0x83))
        return SignedNumber(d.Immediate, false);
    if (op == 0xC8) {
        std::uint8_t bytes[3] = {};
        SafeReadMemory(d.ImmediateAt, bytes, 3, nullptr);
        const std::uint32_t size = bytes[0] | (bytes[1] << 8);
        if (bytes[2] == 0)
            return Number(size);
        return HexText(size, 1, '0') + ", " + HexText(static_cast<std::uint32_t>(bytes[2]), 1, '0');
    }
    if (op == 0x9A || op == 0xEA) {
        std::uint8_t bytes[6] = {};
        SafeReadMemory(d.ImmediateAt, bytes, d.ImmediateSize, nullptr);
        std::uint32_t offset = 0;
        const unsigned offsetSize = d.ImmediateSize - 2u;
        for (unsigned i = 0; i < offsetSize; ++i)
            offset |= std::uint32_t(bytes[i]) << (8 * i);
        const std::uint32_t segment = bytes[offsetSize] | (bytes[offsetSize + 1] << 8);
        if (segment == 0)
            return Number(offset);
        return HexText(segment, 1, '0') + ":" + HexText(offset, 1, '0');
    }
    if (op == 0x6A)
        return Number(d.OperandSize ? static_cast<std::uint16_t>(d.Immediate)
                                    : static_cast<std::uint32_t>(d.Immediate));
    if ((op == 0xD4 || op == 0xD5) && d.Immediate == 10)
        return "";
    const std::uint32_t mask = d.ImmediateSize == 1 ? 0xFFu : d.ImmediateSize == 2 ? 0xFFFFu : 0xFFFFFFFFu;
    const std::string value = Number(static_cast<std::uint32_t>(d.Immediate) & mask);
    if ((d.Properties & 0x100) && !d.HasModRM)
        return SegmentPrefix(d) + "[" + value + "]";
    return value;
}

std::string FileNameWithoutFolder(const std::string &name) {
    const std::size_t slash = name.find_last_of("\\/");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string NameOfAddress(std::uintptr_t address, int depth = 0) {
    HMODULE module = nullptr;
    std::string fileName;
    if (!address || !FindModuleOfAddress(reinterpret_cast<const void *>(address), module, fileName))
        return "";
    std::string name = ExportNameOfAddress(module, reinterpret_cast<const void *>(address), true);
    if (name.empty() && NameFallback)
        name = NameFallback(address);
    if (name.empty() && depth == 0) {
        const IMAGE_NT_HEADERS32 *headers = ImageNtHeaders(module);
        const auto base = reinterpret_cast<std::uintptr_t>(module);
        if (headers && address < base + headers->OptionalHeader.SizeOfImage) {
            InstructionRecord r;
            if (ParseInstruction(reinterpret_cast<const void *>(address), r) && r.target)
                return NameOfAddress(r.target, depth + 1);
        }
        return "";
    }
    if (!name.empty() && module != GetModuleHandleA(nullptr))
        name += " (" + FileNameWithoutFolder(fileName) + ")";
    return name;
}

// The text at an address when it looks like one.
std::string StringAt(std::uintptr_t address, bool dereference) {
    HMODULE module = nullptr;
    std::string fileName;
    auto insideImage = [&](std::uintptr_t at) {
        if (!FindModuleOfAddress(reinterpret_cast<const void *>(at), module, fileName))
            return false;
        const IMAGE_NT_HEADERS32 *headers = ImageNtHeaders(module);
        const auto base = reinterpret_cast<std::uintptr_t>(module);
        return headers && at >= base && at + 100 <= base + headers->OptionalHeader.SizeOfImage;
    };
    if (!insideImage(address))
        return "";
    char bytes[100];
    if (!SafeReadMemory(reinterpret_cast<const void *>(address), bytes, sizeof bytes, nullptr))
        return "";
    std::string text;
    int a = 0, b = 0, c = 0, d = 0;
    for (char ch : bytes) {
        const unsigned char u = static_cast<unsigned char>(ch);
        if (u == 0 || u == 10 || u == 12)
            break;
        if (u < 32)
            return "";
        text.push_back(ch);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == ' ')
            ++a;
        else if (u == ',' || u == '.' || u == ':' || u == '\\')
            ++b;
        else if (u >= 0x21 && u <= 0x5D)
            ++c;
        else
            ++d;
    }
    if (text.size() >= 4 && 5 * b < 2 * a && 8 * c < b / 2 + a && 10 * d < b / 2 + a + c / 4)
        return text;
    if (dereference) {
        std::uint32_t cell = 0;
        std::memcpy(&cell, bytes, 4);
        return StringAt(cell, false);
    }
    return "";
}

void PadTo(std::string &line, std::size_t width) {
    if (line.size() < width)
        line.append(width - line.size(), ' ');
}

} // namespace

std::string InstructionMnemonic(const InstructionRecord &Record) {
    return MnemonicText(Record);
}

void SetDisassemblyNameFallback(TNameOfExactAddress Fallback) {
    NameFallback = Fallback;
}

std::string InstructionText(const void *Address, RegisterKnowledge *Knowledge, InstructionRecord &Record,
                            bool WithAddress) {
    ParseInstructionTracked(Address, Knowledge, true, Record, nullptr);
    const auto address = reinterpret_cast<std::uintptr_t>(Address);
    const std::string lead = WithAddress ? Address8(address) + "   " : std::string();
    if (!Record.valid) {
        std::string lines;
        const std::uintptr_t end = std::max(reinterpret_cast<std::uintptr_t>(Record.next), address + 1);
        for (std::uintptr_t at = address; at < end; ++at) {
            std::uint8_t byte = 0;
            if (!SafeReadMemory(reinterpret_cast<const void *>(at), &byte, 1, nullptr))
                break;
            if (!lines.empty())
                lines += "\r\n";
            lines += (WithAddress ? Address8(at) + "   " : std::string()) + "db " +
                     HexText(static_cast<std::uint32_t>(byte), 2, '0');
        }
        return lines;
    }
    const InstructionDetail &d = Record.detail;
    std::string line = lead;
    if (d.Lock)
        line += "lock ";
    if (Record.opcode < 0x100 && d.Repne)
        line += "repne ";
    else if (Record.opcode < 0x100 && d.Rep)
        line += "rep ";
    line += MnemonicText(Record);

    const TOperandKinds kinds = OperandKinds(Record);
    const bool rmFirst = d.Properties & 0x200;
    const bool regWidened = (d.Properties & 0x40) && d.OperandSize;
    std::vector<std::string> operands;
    std::string immediate = ImmediateText(Record);
    if (d.HasModRM) {
        std::string reg = RegisterName(kinds.Reg, d.Reg, regWidened, Record);
        std::string rm = RMOperand(Record, kinds.RM);
        if (rmFirst)
            std::swap(reg, rm);
        for (std::string *operand : {&reg, &rm})
            if (!operand->empty())
                operands.push_back(*operand);
    } else {
        const unsigned opReg = Record.opcode & 7;
        const std::string accumulator = regWidened ? "ax" : "eax";
        switch (kinds.Reg) {
        case 1:
            operands.push_back("al");
            break;
        case 2:
            operands.push_back(accumulator);
            break;
        case 4:
            operands.push_back(Registers8[opReg]);
            break;
        case 5:
            operands.push_back(regWidened ? Registers16[opReg] : Registers32[opReg]);
            break;
        case 6:
            operands.push_back(accumulator);
            operands.push_back(regWidened ? Registers16[opReg] : Registers32[opReg]);
            break;
        case 7:
            operands.push_back((Record.opcode & 1) ? accumulator : "al");
            operands.push_back("dx");
            if (rmFirst)
                std::swap(operands[0], operands[1]);
            break;
        default:
            break;
        }
    }
    if (!immediate.empty()) {
        if (rmFirst && !d.HasModRM && kinds.Reg != 7)
            operands.insert(operands.begin(), immediate);
        else
            operands.push_back(immediate);
    }
    if (Record.opcode == 0xD0 || Record.opcode == 0xD1)
        operands.push_back("1");
    else if (Record.opcode == 0xD2 || Record.opcode == 0xD3 || Record.opcode == 0x0FA5 ||
             Record.opcode == 0x0FAD)
        operands.push_back("cl");
    if (!operands.empty()) {
        line += " ";
        PadTo(line, lead.size() + 8);
        for (std::size_t i = 0; i < operands.size(); ++i)
            line += (i ? ", " : "") + operands[i];
    }

    std::string comment;
    if (Record.target) {
        const std::string name = NameOfAddress(Record.target);
        if (!name.empty())
            comment = "  ; " + name;
    } else {
        auto describe = [&](std::uint32_t value, bool dereference) {
            std::string name = NameOfAddress(value);
            if (!name.empty())
                return "  ; " + name;
            const std::string text = StringAt(value, dereference);
            return text.empty() ? std::string() : "  ; '" + text + "'";
        };
        if (d.MemoryForm && d.DisplacementSize == 4)
            comment = describe(static_cast<std::uint32_t>(d.Displacement), true);
        if (comment.empty() && d.ImmediateSize == 4)
            comment =
                describe(static_cast<std::uint32_t>(d.Immediate), (d.Properties & 0x100) && !d.HasModRM);
    }
    if (!comment.empty()) {
        PadTo(line, lead.size() + 29);
        line += comment;
    }
    return line;
}

// ---------------------------------------------------------------------------------------------
// Function listing

namespace {

struct TListingLine {
    std::uintptr_t Address;
    std::string Text;
    bool Code;
};

const char *const Separator = "; ---------------------------------------------------------";

} // namespace

std::string DisassembleFunction(const void *Entry, const void *FailAddress, FunctionRecord &Record,
                                bool ShowStructure, int LineLimit) {
    if (!ParseFunction(Entry, Record))
        return "";
    const auto entry = reinterpret_cast<std::uintptr_t>(Entry);
    const auto fail = reinterpret_cast<std::uintptr_t>(FailAddress);
    std::string name = NameOfAddress(entry, 1);
    std::string entryLabel = name.empty() ? "sub_" + Hex(entry) : "public " + name;
    std::string entryTarget = name.empty() ? entryLabel : name;

    // The areas in address order, each starting behind the previous one.
    std::vector<const CodeArea *> ordered;
    std::uintptr_t from = 0;
    for (;;) {
        const CodeArea *nextArea = nullptr;
        for (const CodeArea &area : Record.areas)
            if (area.start >= from && (!nextArea || area.start < nextArea->start))
                nextArea = &area;
        if (!nextArea)
            break;
        ordered.push_back(nextArea);
        from = nextArea->end + 1;
    }
    if (ordered.size() < Record.areas.size())
        return "Internal error in ParseFunction while composing the disassembling string...  :-(";
    auto labelOf = [&](std::uintptr_t address) {
        return address == entry ? entryTarget : "loc_" + Hex(address);
    };
    auto startsArea = [&](std::uintptr_t address) {
        return std::any_of(Record.areas.begin(), Record.areas.end(),
                           [&](const CodeArea &a) { return a.start == address; });
    };

    std::vector<TListingLine> lines;
    auto add = [&](std::uintptr_t address, const std::string &text, bool code = false) {
        lines.push_back({address, Address8(address) + (text.empty() ? "" : " " + text), code});
    };
    bool codeBefore = false;
    for (const CodeArea *area : ordered) {
        if (area->isCaseTable) {
            if (ShowStructure) {
                add(area->start, "");
                if (codeBefore) {
                    add(area->start, Separator);
                    add(area->start, "");
                }
            }
            for (std::uintptr_t at = area->start; at + 3 <= area->end; at += 4) {
                std::uint32_t target = 0;
                SafeReadMemory(reinterpret_cast<const void *>(at), &target, 4, nullptr);
                std::string text = "  dd loc_" + Hex(target);
                if (at == area->start) {
                    PadTo(text, 31);
                    text += "  ; case jump table";
                }
                add(at, text);
            }
            if (ShowStructure) {
                add(area->end, "");
                add(area->end, Separator);
                add(area->end, "");
            }
            codeBefore = false;
            continue;
        }
        if (area->isExceptTable)
            continue;
        if (area->start == entry || (ShowStructure && area->referrer != 0)) {
            if (codeBefore)
                add(area->start, "");
            if (area->start == entry) {
                std::string text = entryLabel + ":";
                PadTo(text, 31);
                add(area->start, text + "  ; function entry point");
            } else {
                add(area->start, "loc_" + Hex(area->start) + ":");
            }
        }
        RegisterKnowledge knowledge = area->knowledge;
        for (std::uintptr_t at = area->start; at <= area->end;) {
            InstructionRecord r;
            std::string text = InstructionText(reinterpret_cast<const void *>(at), &knowledge, r, true);
            if (!r.valid || r.next == nullptr)
                break;
            if (r.relative && startsArea(r.target)) {
                const std::size_t blank = text.find(' ', 11);
                text = text.substr(0, blank);
                PadTo(text, 19);
                text += labelOf(r.target);
            }
            if (fail >= at && fail < reinterpret_cast<std::uintptr_t>(r.next) && text.size() > 9)
                text[9] = '>';
            lines.push_back({at, text, true});
            codeBefore = true;
            const std::uint16_t op = r.opcode;
            const bool returns = op == 0xC2 || op == 0xC3 || op == 0xCA || op == 0xCB || op == 0xCF;
            const bool unconditional =
                (op >= 0xE9 && op <= 0xEB) || (op == 0xFF && (r.detail.Reg == 4 || r.detail.Reg == 5));
            if (ShowStructure && (r.isCall || r.isJump || returns)) {
                add(at, "");
                if (returns || unconditional) {
                    add(at, Separator);
                    add(at, "");
                }
            }
            at = reinterpret_cast<std::uintptr_t>(r.next);
        }
    }
    // No blank or separator lines after the last instruction.
    while (!lines.empty() && !lines.back().Code && ShowStructure &&
           (lines.back().Text.size() == 8 || lines.back().Text.find(Separator) != std::string::npos))
        lines.pop_back();

    std::size_t first = 0, last = lines.size();
    bool cutBefore = false, cutAfter = false;
    const bool failInside = fail >= Record.codeBegin && fail < Record.codeBegin + Record.codeLength;
    if (LineLimit > 0 && failInside) {
        const auto n = static_cast<std::size_t>(LineLimit);
        std::size_t failLine = lines.size();
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].Address >= fail) {
                failLine = i;
                break;
            }
        if (failLine < lines.size()) {
            if (failLine + 1 > n * 12 / 10) {
                first = failLine >= n ? failLine - n : 0;
                cutBefore = first > 0;
            }
            if (lines.size() - failLine - 1 > n) {
                last = failLine + 1 + n;
                cutAfter = true;
            }
        }
    }
    std::string text = cutBefore ? "[...]" : "";
    for (std::size_t i = first; i < last; ++i)
        text += (text.empty() ? "" : "\r\n") + lines[i].Text;
    if (cutAfter)
        text += "\r\n[...]";
    return text;
}
