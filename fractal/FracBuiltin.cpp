#include "FracBuiltin.h"

#include <algorithm>
#include <cstring>

#include "FracBuiltinData.h"
#include "HugeFPU.h"
#include "HugeMath.h"

// The loops of FracBuiltinLoops.S: context, kind (0 Mandelbrot, 1 Julia), second argument.
extern "C" {
__attribute__((regparm(3))) void FracBuiltinLoopDouble(void *Context, std::uint32_t Kind,
                                                       void *Second) __asm__("FracBuiltinLoopDouble");
__attribute__((regparm(3))) void FracBuiltinLoopExtended(void *Context, std::uint32_t Kind,
                                                         void *Second) __asm__("FracBuiltinLoopExtended");
__attribute__((regparm(3))) void FracBuiltinLoopHuge(void *Context, std::uint32_t Kind,
                                                     void *Processor) __asm__("FracBuiltinLoopHuge");
}

namespace {

TBuiltInManager *GlobalBuiltIns = nullptr;

// Offsets in the data block.
constexpr std::int32_t bdStart = BD_START, bdDoubleSquare = BD_DOUBLE_SQUARE,
                       bdExtendedSquare = BD_EXTENDED_SQUARE, bdBailout = BD_BAILOUT;
static_assert(BD_NORM + 8 <= TBuiltInFormula::DataSize);

template <class T> T &At(void *Block, std::int32_t Offset) {
    return *reinterpret_cast<T *>(static_cast<std::uint8_t *>(Block) + Offset);
}

const TParam *FindParam(const TParamList &Params, const std::string &Name, std::uint8_t Type) {
    for (int i = 0; i < Params.GetCount(); ++i) {
        const TParam *param = Params.GetItem(i);
        if (param->Type == Type && SameText(param->GetName(), Name))
            return param;
    }
    return nullptr;
}

} // namespace

void TBuiltInFormula::DoneContext(void *Data, std::uint8_t Precision) const {
    if (Precision < 2 || !Data)
        return;
    for (std::int32_t offset : {bdStart, bdStart + 4, bdBailout}) {
        delete At<THugeFloat *>(Data, offset);
        At<THugeFloat *>(Data, offset) = nullptr;
    }
}

void TBuiltInFormula::InitContext(void *Data, std::uint8_t Precision, const TParamList &Params,
                                  std::int32_t Digits) const {
    std::memset(Data, 0, DataSize);
    if (Precision >= 2) {
        const TParam *start = FindParam(Params, Kind == 0 ? "start" : "seed", vtComplex);
        const TParam *limit = FindParam(Params, "bailout", vtFloat);
        const std::string texts[3] = {
            start ? static_cast<const TComplexParam *>(start)->Value.Re.GetText() : "0",
            start ? static_cast<const TComplexParam *>(start)->Value.Im.GetText() : "0",
            limit ? static_cast<const TFloatParam *>(limit)->Value.GetText() : "0"};
        const std::int32_t offsets[3] = {bdStart, bdStart + 4, bdBailout};
        const int digits = std::clamp(Digits, HugeMinDigits, HugeMaxDigits);
        try {
            for (int i = 0; i < 3; ++i) {
                auto number = std::make_unique<THugeFloat>(digits);
                number->SetText(texts[i]);
                At<THugeFloat *>(Data, offsets[i]) = number.release();
            }
        } catch (...) {
            DoneContext(Data, Precision);
            throw;
        }
        return;
    }
    long double re = 0, im = 0, bailout = 0;
    if (const TParam *start = FindParam(Params, Kind == 0 ? "start" : "seed", vtComplex))
        static_cast<const TComplexParam *>(start)->Value.GetValue(re, im);
    if (const TParam *limit = FindParam(Params, "bailout", vtFloat))
        bailout = static_cast<const TFloatParam *>(limit)->Value.GetValue();
    At<double>(Data, bdBailout) = static_cast<double>(bailout);
    const long double squareRe = re * re - im * im, squareIm = 2 * re * im;
    if (Precision == 0) {
        At<double>(Data, bdStart) = static_cast<double>(re);
        At<double>(Data, bdStart + 8) = static_cast<double>(im);
        const double dRe = static_cast<double>(re), dIm = static_cast<double>(im);
        At<double>(Data, bdDoubleSquare) = dRe * dRe - dIm * dIm;
        At<double>(Data, bdDoubleSquare + 8) = 2 * dRe * dIm;
    } else {
        At<long double>(Data, bdStart) = re;
        At<long double>(Data, bdStart + 16) = im;
        At<long double>(Data, bdExtendedSquare) = squareRe;
        At<long double>(Data, bdExtendedSquare + 16) = squareIm;
    }
}

void TBuiltInFormula::Iterate(std::uint8_t Precision, void *Context, void *Second) const {
    if (Precision == 0)
        FracBuiltinLoopDouble(Context, Kind, Second);
    else if (Precision == 1)
        FracBuiltinLoopExtended(Context, Kind, Second);
    else
        FracBuiltinLoopHuge(Context, Kind, Second);
}

TBuiltInManager::TBuiltInManager() {
    FFormulas.push_back(std::make_unique<TBuiltInFormula>(
        "Mandelbrot: Z = Z^2 + C", 0, std::vector<TBuiltInParam>{{"start", 0}, {"bailout", 1}}));
    FFormulas.push_back(std::make_unique<TBuiltInFormula>(
        "Julia: Z = Z^2 + C", 1, std::vector<TBuiltInParam>{{"seed", 0}, {"bailout", 1}}));
}

TBuiltInManager *BuiltInManager() {
    return GlobalBuiltIns;
}

void InitializeFracBuiltin() {
    if (!GlobalBuiltIns)
        GlobalBuiltIns = new TBuiltInManager();
}

void FinalizeFracBuiltin() {
    delete GlobalBuiltIns;
    GlobalBuiltIns = nullptr;
}
