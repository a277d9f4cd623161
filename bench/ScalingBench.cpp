// How the readers and the compiler scale with hostile input: each input is measured at a size n
// and at 4n, and the ratio of the two times is printed. Work that grows linearly shows a ratio
// near 4; work that grows with the square of the input shows a ratio near 16.
//
// Usage: ScalingBench [factor [name]]; the factor (default 1) multiplies every base size, and
// with a name only the inputs whose name holds it are measured.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchEmulation.h"
#include "CompEntries.h"
#include "CompFileManager.h"
#include "CompHugeAccess.h"
#include "CompRoutines.h"
#include "CompStorage.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "HugeBase.h"
#include "TestFormulas.h"

namespace {

double Seconds() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The largest working set of the process so far, in MB.
double PeakMegabytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)))
        return 0;
    return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

struct TInput {
    const char *Name;
    int BaseSize;
    // Builds the input of size N outside the timing and returns the work to time, which returns
    // a short description of its result.
    std::function<std::function<std::string()>(int N)> Prepare;
};

std::string TempFolder() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    return base;
}

// Compiles a formula entry holding Body through the whole compiler chain, in Precision (with
// 40 digits in arbitrary precision).
std::function<std::string()> CompileBody(const std::string &Body, std::uint8_t Precision = pmExtended) {
    const std::string path = TempFolder() + "ScalingBench.ufm";
    std::string text = "Bench {\r\n" + Body + "}\r\n";
    FILE *file = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return [path, Precision]() {
        TTestCompiledFormula formula;
        formula.SetDigits(40);
        formula.SetPrecision(Precision);
        formula.SetSource(path, "Bench");
        if (formula.GetHasError())
            return Format("error at line %d", static_cast<int>(formula.GetErrorLine()));
        return Format("%d code bytes", static_cast<int>(formula.GetPixelRoutine().GetSize()));
    };
}

// A reader, with the text kept, of one entry E whose body is Head, N times Piece, and Tail.
std::shared_ptr<TEntryReader> RepeatedEntry(const std::string &Head, const std::string &Piece, int N,
                                            const std::string &Tail) {
    std::string text = "E {\r\n" + Head;
    for (int i = 0; i < N; ++i)
        text += Piece;
    text += Tail + "\r\n}\r\n";
    return std::shared_ptr<TEntryReader>(TEntryReader::CreateFromString(text, true));
}

// A body that adds N different constants, all apart only far behind the decimal point.
std::string ConstantsBody(int N) {
    std::string body = "init:\r\n  z = 0\r\n";
    for (int i = 0; i < N; ++i)
        body += Format("  z = z + 1.00000000000000000000000000000000%06d\r\n", i);
    body += "loop:\r\n  z = z*z + #pixel\r\nbailout:\r\n  |z| < 4\r\n";
    return body;
}

// Stores N constants made by Make(i), each looked up first as the optimizer does.
std::function<std::string()> StoreConstants(int N, std::function<std::unique_ptr<TConstant>(int)> Make) {
    auto constants = std::make_shared<std::vector<std::unique_ptr<TConstant>>>();
    for (int i = 0; i < N; ++i)
        constants->push_back(Make(i));
    return [constants]() {
        TStorageList list;
        int stored = 0;
        for (const std::unique_ptr<TConstant> &constant : *constants)
            if (!list.FindConstant(*constant)) {
                list.Add(std::make_unique<TConstantNode>(constant->Clone()));
                ++stored;
            }
        return Format("%d constants", stored);
    };
}

const char FormulaSections[] = "init:\r\n  z = 0\r\nloop:\r\n  z = z*z + #pixel\r\nbailout:\r\n  |z| < 4\r\n";

std::vector<TInput> Inputs() {
    return {
        {"scan: one line of \"a{\"", 8192,
         [](int n) {
             std::string text;
             for (int i = 0; i < n; ++i)
                 text += "a{";
             text += "}\r\n";
             return [text]() {
                 auto reader = TEntryReader::CreateFromString(text, false);
                 return Format("%d entries", reader->GetCount());
             };
         }},
        {"key over continued lines", 10000,
         [](int n) {
             auto reader = RepeatedEntry("fractal:\r\n  title=\"", "x \\\r\n", n, "end\"");
             return [reader]() {
                 std::string value;
                 reader->GetEntry(0)->FindKey("TITLE", {"FRACTAL"}, value);
                 return Format("%d characters", static_cast<int>(value.size()));
             };
         }},
        {"keys on one line", 5000,
         [](int n) {
             auto reader = RepeatedEntry("formula:", " entry=\"", n, "");
             return [reader]() {
                 TStringList values;
                 std::string first;
                 reader->GetEntry(0)->FindKey("ENTRY", {"FORMULA"}, first, &values);
                 const bool found = reader->GetEntry(0)->ReferencesEntry("absent");
                 return Format("%d values%s", values.Count(), found ? ", found" : "");
             };
         }},
        {"store huge constants", 2500,
         [](int n) {
             return StoreConstants(n, [](int i) {
                 auto constant = std::make_unique<THugeFloatConstant>(40);
                 constant->Value.SetInteger(1);
                 constant->Value.FMantissa[0] = static_cast<std::uint32_t>(i); // the lowest word
                 return constant;
             });
         }},
        {"store double constants", 2500,
         [](int n) {
             return StoreConstants(
                 n, [](int i) { return std::make_unique<TDoubleFloatConstant>(1.0 + i * 1e-12); });
         }},
        {"constants, arbitrary", 2500, [](int n) { return CompileBody(ConstantsBody(n), pmArbitrary); }},
        {"constants, double", 2500, [](int n) { return CompileBody(ConstantsBody(n), pmDouble); }},
        {"unique copy name", 5000,
         [](int n) {
             std::string text;
             for (int i = 0; i < n; ++i)
                 text += (i == 0 ? std::string("E") : "E" + IntToStr(i)) + " {\r\n}\r\n";
             auto reader = std::shared_ptr<TEntryReader>(TEntryReader::CreateFromString(text, false));
             return [reader]() { return reader->MakeUniqueName("E"); };
         }},
        {"search paths", 100000,
         [](int n) {
             std::string text;
             for (int i = 0; i < n; ++i)
                 text += "C:\\a;";
             auto manager = std::make_shared<TConfigManager>();
             return [text, manager]() {
                 manager->Folder->SetSearchPathsText(text);
                 return Format("%d paths", manager->Folder->SearchPaths->Count());
             };
         }},
        {"parameters", 1000,
         [](int n) {
             std::string body = FormulaSections;
             body += "default:\r\n";
             for (int i = 0; i < n; ++i)
                 body += Format("  float param p%d\r\n    default = 1\r\n  endparam\r\n", i);
             return CompileBody(body);
         }},
        {"variables", 1000,
         [](int n) {
             std::string body = "init:\r\n  z = 0\r\n";
             for (int i = 0; i < n; ++i)
                 body += Format("  float v%d = %d\r\n", i, i);
             body += "loop:\r\n  z = z*z + #pixel\r\nbailout:\r\n  |z| < 4\r\n";
             return CompileBody(body);
         }},
        {"defines", 2000,
         [](int n) {
             std::string body;
             for (int i = 0; i < n; ++i)
                 body += Format("$define D%d\r\n", i);
             body += FormulaSections;
             return CompileBody(body);
         }},
        {"statements", 2500,
         [](int n) {
             std::string body = "init:\r\n  z = 0\r\n";
             for (int i = 0; i < n; ++i)
                 body += "  z = z + 1\r\n";
             body += "loop:\r\n  z = z*z + #pixel\r\nbailout:\r\n  |z| < 4\r\n";
             return CompileBody(body);
         }},
        {"flat sum", 1000,
         [](int n) {
             std::string body = "init:\r\n  z = 0";
             for (int i = 0; i < n; ++i)
                 body += " + #pixel";
             body += "\r\nloop:\r\n  z = z*z + #pixel\r\nbailout:\r\n  |z| < 4\r\n";
             return CompileBody(body);
         }},
        {"long number text", 20000,
         [](int n) {
             std::string text = "0." + std::string(static_cast<std::size_t>(n), '1');
             return [text]() {
                 TBasicHugeFloat value(64);
                 value.SetText(text);
                 return value.GetText().substr(0, 12);
             };
         }},
    };
}

} // namespace

int main(int argc, char **argv) {
    PrintEmulationNotice();
    InitializeGenProgram();
    InitializeGenRegistry();
    InitializeGenUtils();
    InitializeCompFileManager();
    InitializeCompRoutines();
    InitializeCompHugeAccess();
    const int factor = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    std::printf("%-26s %9s %10s %9s %10s %7s %8s  %s\n", "input", "n", "seconds", "4n", "seconds", "ratio",
                "peak MB", "result at 4n");
    const std::string only = argc > 2 ? argv[2] : "";
    for (const TInput &input : Inputs()) {
        if (!only.empty() && std::string(input.Name).find(only) == std::string::npos)
            continue;
        const int n = input.BaseSize * factor;
        double times[2];
        std::string result;
        for (int k = 0; k < 2; ++k) {
            try {
                auto work = input.Prepare(k == 0 ? n : 4 * n);
                const double start = Seconds();
                result = work();
                times[k] = Seconds() - start;
            } catch (const std::exception &error) {
                result = std::string("failed: ") + error.what();
                times[k] = 0;
            }
        }
        std::printf("%-26s %9d %10.3f %9d %10.3f %7.1f %8.1f  %s\n", input.Name, n, times[0], 4 * n, times[1],
                    times[0] > 0 ? times[1] / times[0] : 0.0, PeakMegabytes(), result.c_str());
        std::fflush(stdout);
    }
    FinalizeCompHugeAccess();
    FinalizeCompRoutines();
    FinalizeCompFileManager();
    FinalizeGenUtils();
    FinalizeGenRegistry();
    FinalizeGenProgram();
    return 0;
}
