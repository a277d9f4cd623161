#include "FracFormulaBase.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include <windows.h>

#include "CompPixelContext.h"

namespace {

TFormulaDataAllocator *GlobalAllocator = nullptr;

// Header: tag, size, and room for the gap up to the 16-byte boundary with the start pointer.
constexpr std::uint64_t BlockOverhead = 28;
constexpr std::uintptr_t HeaderSize = 12;



std::uint8_t *StartOf(const void *Data) {
    std::uint8_t *start;
    std::memcpy(&start, static_cast<const std::uint8_t *>(Data) - 4, sizeof start);
    return start;
}

} // namespace

const char *FormulaSectionWord(TFormulaKind Kind) {
    switch (Kind) {
    case TFormulaKind::Transform:
        return "transform";
    case TFormulaKind::Formula:
        return "formula";
    case TFormulaKind::Inside:
        return "inside";
    default:
        return "outside";
    }
}

bool FormulaSectionAccepted(TFormulaKind Kind, const std::string &Word) {
    const std::string word = LowerCase(Word);
    if (Kind == TFormulaKind::Inside || Kind == TFormulaKind::Outside)
        return word == "inside" || word == "outside";
    return word == FormulaSectionWord(Kind);
}

std::int32_t FormulaDataOffset(TFormulaKind Kind) {
    switch (Kind) {
    case TFormulaKind::Transform:
        return pcTransformData;
    case TFormulaKind::Formula:
        return pcFormulaData;
    case TFormulaKind::Inside:
        return pcInsideData;
    default:
        return pcOutsideData;
    }
}

TBrowserHelpCommand MakeBrowserHelpCommand(const std::string &Command, const std::string &File,
                                           const std::string &Topic) {
    if (File.find('"') != std::string::npos || Topic.find('"') != std::string::npos)
        throw EFormulaHelpError("Invalid help file or topic name");
    TBrowserHelpCommand result;
    const std::string command = Trim(Command);
    if (!command.empty() && command[0] == '"') {
        const std::size_t close = command.find('"', 1);
        result.Program = close == std::string::npos ? command : command.substr(0, close + 1);
    } else {
        result.Program = command.substr(0, command.find(' '));
    }
    result.Parameter = "\"" + (Topic.empty() ? File : File + "#" + Topic) + "\"";
    return result;
}

// ---------------------------------------------------------------------------------------------
// TFormulaDataAllocator

void *TFormulaDataAllocator::Alloc(std::uint64_t Size) {
    if (Size == 0)
        return nullptr;
    if (Size > 0x7FFFFFFFu - BlockOverhead)
        throw EOutOfMemory("Out of memory");
    const std::uint64_t total = Size + BlockOverhead;
    const bool paged = Size > HeapLimit;
    void *memory = paged ? VirtualAlloc(nullptr, static_cast<SIZE_T>(total), MEM_COMMIT, PAGE_READWRITE)
                         : std::malloc(static_cast<std::size_t>(total));
    if (!memory)
        throw EOutOfMemory("Out of memory");
    auto *start = static_cast<std::uint8_t *>(memory);
    const std::uint32_t tag = Tag, size = static_cast<std::uint32_t>(Size);
    std::memcpy(start, &tag, 4);
    std::memcpy(start + 4, &size, 4);
    const std::uintptr_t data =
        (reinterpret_cast<std::uintptr_t>(start) + HeaderSize + 15) & ~std::uintptr_t{15};
    auto *result = reinterpret_cast<std::uint8_t *>(data);
    std::memcpy(result - 4, &start, sizeof start);
    return result;
}

void TFormulaDataAllocator::Free(void *Data) {
    if (!Data)
        return;
    std::uint8_t *start = StartOf(Data);
    std::uint32_t tag;
    std::memcpy(&tag, start, 4);
    if (tag != Tag)
        throw EInvalidPointer("Invalid pointer operation");
    const bool paged = BlockSize(Data) > HeapLimit;
    std::memset(start, 0, 4);
    ReleaseMemory(start, paged);
}

std::uint32_t TFormulaDataAllocator::BlockSize(const void *Data) {
    std::uint32_t size;
    std::memcpy(&size, StartOf(Data) + 4, 4);
    return size;
}

void TFormulaDataAllocator::ReleaseMemory(void *Start, bool Paged) {
    if (Paged)
        VirtualFree(Start, 0, MEM_RELEASE);
    else
        std::free(Start);
}

TFormulaDataAllocator *GetFormulaDataAllocator() {
    return GlobalAllocator;
}

void InitializeFracFormulaBase() {
    if (!GlobalAllocator)
        GlobalAllocator = new TFormulaDataAllocator();
}

void FinalizeFracFormulaBase() {
    delete GlobalAllocator;
    GlobalAllocator = nullptr;
}
