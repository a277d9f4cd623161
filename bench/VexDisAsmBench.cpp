// Speed of the crash library's code reading: decoding the program's own code, walking routines,
// and testing stack words for readability, the way a stack trace does. The reference for the
// guarded reads is the system's process-memory read, one call per word.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench/BenchEmulation.h"
#include "vexDisAsm.h"
#include "vexDisAsmWalk.h"
#include "vexTools.h"

namespace {

double Seconds(LARGE_INTEGER start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

void Row(const char *what, double count, double seconds, const char *unit) {
    std::printf("%-44s %10.0f %-14s %8.3f s %12.0f /s\n", what, count, unit, seconds, count / seconds);
}

} // namespace

int main() {
    PrintEmulationNotice();
    HMODULE self = GetModuleHandleA(nullptr);
    const IMAGE_NT_HEADERS32 *headers = ImageNtHeaders(self);
    const IMAGE_SECTION_HEADER *text = IMAGE_FIRST_SECTION(headers);
    const auto *begin = reinterpret_cast<const std::uint8_t *>(self) + text->VirtualAddress;
    const auto *end = begin + text->Misc.VirtualSize;
    TRegionList *regions = ReadableRegionList();

    std::printf("%-44s %10s %-14s %10s %14s\n", "operation", "count", "", "time", "rate");
    // Linear decoding of the code section (stepping one byte over what does not decode).
    for (const TRegionList *list :
         {static_cast<const TRegionList *>(regions), static_cast<const TRegionList *>(nullptr)}) {
        LARGE_INTEGER start = Now();
        double instructions = 0;
        for (const std::uint8_t *at = begin; at < end; ++instructions) {
            InstructionRecord r;
            ParseInstructionGuarded(at, list, r);
            at = r.valid && r.next > at ? r.next : at + 1;
        }
        Row(list ? "decode .text, region list" : "decode .text, region query per instruction", instructions,
            Seconds(start), "instructions");
    }

    // Walking routines: every 4096th byte's instruction start is taken as an entry (most are
    // not routine entries; the walk then fails fast or walks a fragment).
    {
        LARGE_INTEGER start = Now();
        double walks = 0;
        for (const std::uint8_t *at = begin; at < end; at += 4096, ++walks) {
            FunctionRecord f;
            ParseFunctionGuarded(at, regions, f);
        }
        Row("walk from sampled addresses", walks, Seconds(start), "walks");
    }

    // Readability tests of stack-sized data, as a stack trace does: words of the stack and words
    // that are not mapped.
    std::vector<std::uintptr_t> candidates;
    for (int i = 0; i < 100000; ++i)
        candidates.push_back(i % 2 ? reinterpret_cast<std::uintptr_t>(&candidates) - (i % 4096) * 4
                                   : 0x10000u + i * 4u);
    {
        LARGE_INTEGER start = Now();
        std::uint32_t value, readable = 0;
        for (std::uintptr_t address : candidates)
            readable += SafeReadMemory(reinterpret_cast<const void *>(address), &value, 4, regions);
        Row("SafeReadMemory, region list", double(candidates.size()), Seconds(start), "words");
    }
    {
        LARGE_INTEGER start = Now();
        std::uint32_t value, readable = 0;
        for (std::uintptr_t address : candidates)
            readable += SafeReadMemory(reinterpret_cast<const void *>(address), &value, 4, nullptr);
        Row("SafeReadMemory, region query per word", double(candidates.size()), Seconds(start), "words");
    }
    {
        LARGE_INTEGER start = Now();
        std::uint32_t value, readable = 0;
        const std::size_t count = candidates.size() / 10;
        for (std::size_t i = 0; i < count; ++i) {
            SIZE_T read = 0;
            readable += ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void *>(candidates[i]),
                                          &value, 4, &read) &&
                        read == 4;
        }
        Row("reference: ReadProcessMemory per word", double(count), Seconds(start), "words");
    }
    FreeRegionList(regions);
    return 0;
}
