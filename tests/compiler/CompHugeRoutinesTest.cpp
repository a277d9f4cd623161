#include "CompHugeRoutines.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "CompHugeAccess.h"
#include "CompRoutines.h"
#include "HugeFPU.h"

namespace {

constexpr int Digits = 50;

// Runs code emitted by a THugeAccess as generated code runs it: esi the context, edi the data
// block, ebp the processor, eax an int operand; the final eax is kept.
class THugeCodeRunner {
public:
    THugeCodeRunner() {
        FArea = static_cast<std::uint8_t *>(
            VirtualAlloc(nullptr, AreaSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    }
    ~THugeCodeRunner() {
        if (FArea)
            VirtualFree(FArea, 0, MEM_RELEASE);
    }

    std::uint32_t Run(const TCodeAssembler &Code, void *Context, void *Data, THugeProcessor &Processor,
                      std::uint32_t Eax = 0) {
        std::vector<std::uint8_t> bytes = {0x55, 0x53, 0x56, 0x57}; // push ebp, ebx, esi, edi
        auto load = [&](std::uint8_t Opcode, const void *Value) {
            bytes.push_back(Opcode);
            const auto v = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Value));
            for (int i = 0; i < 4; ++i)
                bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        };
        load(0xBE, Context);                                             // mov esi
        load(0xBF, Data);                                                // mov edi
        load(0xBD, &Processor);                                          // mov ebp
        load(0xB8, reinterpret_cast<const void *>(std::uintptr_t{Eax})); // mov eax
        bytes.insert(bytes.end(), Code.GetCode(), Code.GetCode() + Code.GetSize());
        load(0xA3, &FEaxOut);                                      // mov [FEaxOut], eax
        bytes.insert(bytes.end(), {0x5F, 0x5E, 0x5B, 0x5D, 0xC3}); // pop edi, esi, ebx, ebp; ret
        if (!FArea || bytes.size() > AreaSize)
            throw std::runtime_error("no room for the code");
        std::memcpy(FArea, bytes.data(), bytes.size());
        FlushInstructionCache(GetCurrentProcess(), FArea, bytes.size());
        std::uint16_t saved;
        SetFormulaFPUControl(saved);
        reinterpret_cast<void (*)()>(FArea)();
        RestoreFPUControl(saved);
        return FEaxOut;
    }

private:
    static constexpr size_t AreaSize = 65536;
    std::uint8_t *FArea = nullptr;
    static inline std::uint32_t FEaxOut = 0;
};

struct TReferenceCase {
    int Routine = 0;
    std::vector<std::string> In, Out;
    bool HasEax = false;
    std::int32_t Eax = 0;
    int Line = 0;
};

std::vector<std::string> SplitList(const std::string &Text) {
    std::vector<std::string> items;
    std::string trimmed;
    for (char ch : Text)
        if (ch != ' ')
            trimmed += ch;
    if (trimmed == "-")
        return items;
    std::stringstream in(trimmed);
    std::string item;
    while (std::getline(in, item, ','))
        items.push_back(item);
    return items;
}

std::vector<TReferenceCase> ReadReferenceCases() {
    std::ifstream file(std::string(TEST_DATA_DIR) + "compiler\\data\\CompHugeRoutines_reference.txt");
    std::vector<TReferenceCase> cases;
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::vector<std::string> fields;
        std::stringstream in(line);
        std::string field;
        while (std::getline(in, field, '|'))
            fields.push_back(field);
        if (fields.size() != 4)
            throw std::runtime_error("bad reference line " + std::to_string(number));
        TReferenceCase c;
        c.Line = number;
        c.Routine = std::stoi(fields[0]);
        c.In = SplitList(fields[1]);
        c.Out = SplitList(fields[2]);
        const std::vector<std::string> eax = SplitList(fields[3]);
        c.HasEax = !eax.empty();
        if (c.HasEax)
            c.Eax = static_cast<std::int32_t>(std::stol(eax[0]));
        cases.push_back(c);
    }
    return cases;
}

class CompHugeRoutinesTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitializeCompRoutines();
        InitializeCompHugeRoutines();
        Processor = std::make_unique<THugeProcessor>(Digits);
        for (auto &value : Values) {
            value = std::make_unique<THugeFloat>(Digits);
            value->SetInteger(0);
        }
        std::memset(Data, 0, sizeof Data);
        for (int i = 0; i < SlotCount; ++i)
            Data[i] = Values[i].get();
        std::memset(Context, 0, sizeof Context);
    }
    void TearDown() override {
        DonePrintLine(Context);
        FinalizeCompHugeRoutines();
        FinalizeCompRoutines();
    }

    // Slot i of the data block (offset 4 i) holds number i.
    static constexpr int SlotCount = 24;
    std::unique_ptr<THugeProcessor> Processor;
    std::unique_ptr<THugeFloat> Values[SlotCount];
    THugeFloatBase *Data[SlotCount + 8];
    alignas(16) std::uint8_t Context[0x200];
    THugeCodeRunner Runner;
};

// Difference of a result and its reference, scaled: the reference is read at the same precision.
long double Error(const THugeFloatBase &Got, const std::string &Expected) {
    THugeFloat expected(Digits);
    expected.SetText(Expected);
    THugeFloat difference(Digits);
    difference.Assign(Got);
    difference.Subtract(expected);
    return std::fabs(difference.GetExtended());
}

TEST_F(CompHugeRoutinesTest, ResultsMatchFiftyDigitReferences) {
    const std::vector<TReferenceCase> cases = ReadReferenceCases();
    ASSERT_FALSE(cases.empty());
    for (const TReferenceCase &c : cases) {
        SCOPED_TRACE("reference line " + std::to_string(c.Line) + ", routine " + std::to_string(c.Routine));
        const int in = static_cast<int>(c.In.size());
        const int out = static_cast<int>(c.Out.size());
        const int use = HugeRoutineStackUse(c.Routine);
        // Sentinels fill the registers the routine may not touch: any push beyond its allowance
        // overflows the processor, which marks itself failed.
        const int sentinels = 8 - std::max(in + use, out);
        ASSERT_GE(sentinels, 0);
        Processor->Reset();
        Processor->ClearFailure();
        for (int i = 0; i < sentinels; ++i)
            Processor->LoadInteger(1000 + i);

        long double scale = 1;
        for (int i = 0; i < in; ++i) {
            Values[i]->SetText(c.In[i]);
            scale = std::max(scale, std::fabs(Values[i]->GetExtended()));
        }
        THugeAccess access;
        for (int i = in - 1; i >= 0; --i) // the first listed ends on top
            access.LoadReal(4 * i, false);
        access.EmitRoutine(c.Routine);
        for (int i = 0; i < out; ++i)
            access.StoreRealPop(4 * (8 + i), false);
        const std::int32_t eax = static_cast<std::int32_t>(Runner.Run(access, Context, Data, *Processor));

        EXPECT_FALSE(Processor->Failed()) << "stack or pool misuse";
        EXPECT_EQ(Processor->TempIndex(), 0);
        ASSERT_EQ(Processor->Top(), 8 - sentinels);
        for (int i = 0; i < sentinels; ++i)
            EXPECT_EQ(Processor->Register(i).GetExtended(), 1000 + sentinels - 1 - i);
        for (int i = 0; i < out; ++i) {
            THugeFloat expected(Digits);
            expected.SetText(c.Out[i]);
            scale = std::max(scale, std::fabs(expected.GetExtended()));
        }
        for (int i = 0; i < out; ++i) {
            SCOPED_TRACE("result " + std::to_string(i) + ": " + Values[8 + i]->GetText() + " expected " +
                         c.Out[i]);
            EXPECT_LE(Error(*Values[8 + i], c.Out[i]), 1e-44L * scale);
        }
        if (c.HasEax) {
            if (c.Routine >= 68 && c.Routine <= 73 || c.Routine >= 118 && c.Routine <= 123)
                EXPECT_EQ(eax & 0xFF, c.Eax);
            else
                EXPECT_EQ(eax, c.Eax);
        }
    }
}

} // namespace
