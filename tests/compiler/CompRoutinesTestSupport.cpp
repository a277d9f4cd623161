#include "CompRoutinesTestSupport.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include <windows.h>

#include "CompRoutines.h"

namespace {

// Everything the harness code reads and writes, at fixed addresses.
struct TRunState {
    long double In[8];
    long double Sentinel[8];
    long double Out[8];
    long double SentinelOut[8];
    std::uint32_t Eax, Edx, Ecx;
    float ColorsIn[8];
    std::uint32_t EaxOut, EbxOut, EsiOut, EdiOut, EbpOut;
    std::uint32_t EspBefore, EspAfter;
    float ColorOut[4];
    std::uint16_t Status;
    std::uint16_t SavedControl;
    std::uint16_t FormulaControl;
    std::uint8_t Environment[28];
    std::uint32_t SavedEsp;
};

TRunState State;

constexpr std::uint32_t EbxMark = 0xB0B1B2B3, EbpMark = 0x5E5F6061;

class TEmitter {
public:
    explicit TEmitter(std::uint8_t *Code) : FCode(Code) {}
    void Bytes(std::initializer_list<std::uint8_t> Values) {
        for (std::uint8_t v : Values)
            FCode[FSize++] = v;
    }
    void Long(std::uint32_t Value) {
        std::memcpy(FCode + FSize, &Value, 4);
        FSize += 4;
    }
    void Address(const void *Pointer) {
        Long(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Pointer)));
    }
    void Raw(const std::uint8_t *Data, int Length) {
        std::memcpy(FCode + FSize, Data, static_cast<size_t>(Length));
        FSize += Length;
    }
    int Size() const { return FSize; }

private:
    std::uint8_t *FCode;
    int FSize = 0;
};

constexpr int CodeAreaSize = 65536;

std::uint8_t *CodeArea() {
    static std::uint8_t *area = static_cast<std::uint8_t *>(
        VirtualAlloc(nullptr, CodeAreaSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    if (!area)
        throw std::runtime_error("no executable memory");
    return area;
}

} // namespace

void RunCode(const std::uint8_t *Code, int Length, TCodeRun &Run) {
    const int inCount = static_cast<int>(Run.X87In.size());
    const int colorsIn = static_cast<int>(Run.ColorsIn.size()) / 4;
    if (inCount > 8 || Run.X87OutCount > 8 || colorsIn > 2 || Length > CodeAreaSize - 1024)
        throw std::runtime_error("harness limits");
    const int peak = std::max(inCount + Run.StackUse, Run.X87OutCount);
    Run.SentinelCount = std::max(0, 8 - peak);

    std::memset(&State, 0, sizeof State);
    for (int i = 0; i < inCount; ++i)
        State.In[i] = Run.X87In[i];
    for (int i = 0; i < Run.SentinelCount; ++i)
        State.Sentinel[i] = 1000.25L + i;
    State.Eax = Run.Eax;
    State.Edx = Run.Edx;
    State.Ecx = Run.Ecx;
    for (int i = 0; i < colorsIn * 4; ++i)
        State.ColorsIn[i] = Run.ColorsIn[i];
    State.FormulaControl = FormulaControlWord;

    std::uint8_t *code = CodeArea();
    TEmitter e(code);
    e.Bytes({0x60});       // pushad
    e.Bytes({0x89, 0x25}); // mov [SavedEsp], esp
    e.Address(&State.SavedEsp);
    e.Bytes({0xD9, 0x3D}); // fnstcw [SavedControl]
    e.Address(&State.SavedControl);
    e.Bytes({0xDB, 0xE3, 0xD9, 0x2D}); // fninit; fldcw [FormulaControl]
    e.Address(&State.FormulaControl);
    if (colorsIn > 0) {
        e.Bytes({0x83, 0xEC, static_cast<std::uint8_t>(16 * colorsIn)}); // sub esp, 16 * n
        for (int i = 0; i < colorsIn * 4; ++i) {
            e.Bytes({0xA1}); // mov eax, [ColorsIn + 4i]
            e.Address(&State.ColorsIn[i]);
            e.Bytes({0x89, 0x44, 0x24, static_cast<std::uint8_t>(4 * i)}); // mov [esp + 4i], eax
        }
    }
    // Sentinels deepest first, then the operands, so that X87In[0] ends on top.
    for (int i = Run.SentinelCount - 1; i >= 0; --i) {
        e.Bytes({0xDB, 0x2D}); // fld tbyte
        e.Address(&State.Sentinel[i]);
    }
    for (int i = inCount - 1; i >= 0; --i) {
        e.Bytes({0xDB, 0x2D});
        e.Address(&State.In[i]);
    }
    e.Bytes({0xBE}); // mov esi, context
    e.Address(Run.Context);
    e.Bytes({0xBF}); // mov edi, data
    e.Address(Run.Data);
    e.Bytes({0xBB}); // mov ebx, mark
    e.Long(EbxMark);
    e.Bytes({0xBD}); // mov ebp, mark
    e.Long(EbpMark);
    e.Bytes({0x8B, 0x15}); // mov edx, [Edx]
    e.Address(&State.Edx);
    e.Bytes({0x8B, 0x0D}); // mov ecx, [Ecx]
    e.Address(&State.Ecx);
    e.Bytes({0xA1}); // mov eax, [Eax]
    e.Address(&State.Eax);
    e.Bytes({0x89, 0x25}); // mov [EspBefore], esp
    e.Address(&State.EspBefore);

    e.Raw(Code, Length);

    e.Bytes({0x89, 0x25}); // mov [EspAfter], esp
    e.Address(&State.EspAfter);
    e.Bytes({0xA3}); // mov [EaxOut], eax
    e.Address(&State.EaxOut);
    e.Bytes({0x89, 0x1D});
    e.Address(&State.EbxOut);
    e.Bytes({0x89, 0x35});
    e.Address(&State.EsiOut);
    e.Bytes({0x89, 0x3D});
    e.Address(&State.EdiOut);
    e.Bytes({0x89, 0x2D});
    e.Address(&State.EbpOut);
    if (Run.ColorOut) {
        for (int i = 0; i < 4; ++i) {
            e.Bytes({0x8B, 0x44, 0x24, static_cast<std::uint8_t>(4 * i)}); // mov eax, [esp + 4i]
            e.Bytes({0xA3});
            e.Address(&State.ColorOut[i]);
        }
    }
    for (int i = 0; i < Run.X87OutCount; ++i) {
        e.Bytes({0xDB, 0x3D}); // fstp tbyte
        e.Address(&State.Out[i]);
    }
    for (int i = 0; i < Run.SentinelCount; ++i) {
        e.Bytes({0xDB, 0x3D});
        e.Address(&State.SentinelOut[i]);
    }
    e.Bytes({0xDF, 0xE0, 0x66, 0xA3}); // fnstsw ax; mov [Status], ax
    e.Address(&State.Status);
    e.Bytes({0xD9, 0x35}); // fnstenv [Environment]
    e.Address(State.Environment);
    e.Bytes({0xDB, 0xE3, 0xD9, 0x2D}); // fninit; fldcw [SavedControl]
    e.Address(&State.SavedControl);
    e.Bytes({0x8B, 0x25}); // mov esp, [SavedEsp]
    e.Address(&State.SavedEsp);
    e.Bytes({0x61, 0xC3}); // popad; ret

    FlushInstructionCache(GetCurrentProcess(), code, static_cast<SIZE_T>(e.Size()));
    reinterpret_cast<void (*)()>(code)();

    Run.X87Out.assign(State.Out, State.Out + Run.X87OutCount);
    Run.EaxOut = State.EaxOut;
    std::memcpy(Run.ColorOutValue, State.ColorOut, sizeof State.ColorOut);
    Run.SentinelsIntact = true;
    for (int i = 0; i < Run.SentinelCount; ++i)
        Run.SentinelsIntact = Run.SentinelsIntact && SameExtended(State.SentinelOut[i], State.Sentinel[i]);
    Run.StackFault = (State.Status & 0x40) != 0;
    std::uint16_t tags;
    std::memcpy(&tags, State.Environment + 8, 2);
    Run.FpuEmpty = tags == 0xFFFF;
    Run.RegistersKept = State.EbxOut == EbxMark && State.EbpOut == EbpMark &&
                        State.EsiOut == reinterpret_cast<std::uintptr_t>(Run.Context) &&
                        State.EdiOut == reinterpret_cast<std::uintptr_t>(Run.Data);
    Run.EspChange = static_cast<int>(State.EspAfter - State.EspBefore);
}

long double ParseExactNumber(const std::string &Text) {
    if (Text == "inf")
        return INFINITY;
    if (Text == "-inf")
        return -INFINITY;
    if (Text == "nan")
        return NAN;
    const size_t p = Text.find(" p ");
    if (p == std::string::npos)
        throw std::runtime_error("bad number: " + Text);
    std::string mantissa = Text.substr(0, p);
    const bool negative = !mantissa.empty() && mantissa[0] == '-';
    if (negative)
        mantissa.erase(0, 1);
    const unsigned long long m = std::stoull(mantissa);
    const int exponent = std::stoi(Text.substr(p + 3));
    const long double value = std::ldexp(static_cast<long double>(m), exponent);
    return negative ? -value : value;
}

bool SameExtended(long double A, long double B) {
    return std::memcmp(&A, &B, 10) == 0;
}
