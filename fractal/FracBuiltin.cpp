#include "FracBuiltin.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "CompAssembler.h"
#include "CompRoutines.h"
#include "HugeFPU.h"
#include "HugeMath.h"

extern "C" __attribute__((regparm(3))) void FracCallContextCode(TContextCode Code, void *Context,
                                                                void *Second) __asm__("FracCallContextCode");

namespace {

TBuiltInManager *GlobalBuiltIns = nullptr;

// Offsets in the data block.
constexpr std::int32_t bdStart = 0x00, bdDoubleSquare = 0x10, bdExtendedSquare = 0x20, bdBailout = 0x40;

template <class T> T &At(void *Block, std::int32_t Offset) {
    return *reinterpret_cast<T *>(static_cast<std::uint8_t *>(Block) + Offset);
}

std::uint32_t HighWord(double Value) {
    std::uint64_t bits;
    std::memcpy(&bits, &Value, 8);
    return static_cast<std::uint32_t>(bits >> 32);
}

std::uint32_t FloatBits(float Value) {
    std::uint32_t bits;
    std::memcpy(&bits, &Value, 4);
    return bits;
}

const TParam *FindParam(const TParamList &Params, const std::string &Name, std::uint8_t Type) {
    for (int i = 0; i < Params.GetCount(); ++i) {
        const TParam *param = Params.GetItem(i);
        if (param->Type == Type && SameText(param->GetName(), Name))
            return param;
    }
    return nullptr;
}

// The loop of one pixel in the context's precision; TFloat is how the context and the data block
// keep values (double or 80-bit), the arithmetic runs on 80-bit registers.
template <class TFloat> void IteratePixel(std::uint8_t Kind, void *Context, void *Second) {
    auto &context = *static_cast<TPixelContext *>(Context);
    const TContextValueOffsets &values = ContextValueOffsets[sizeof(TFloat) == sizeof(double) ? 0 : 1];
    const std::int32_t step = values.ImaginaryStep;
    void *data = context.FormulaData;
    auto load = [&](void *Block, std::int32_t Offset) {
        return static_cast<long double>(At<TFloat>(Block, Offset));
    };
    auto storeZ = [&](long double Re, long double Im) {
        At<TFloat>(Context, values.Z) = static_cast<TFloat>(Re);
        At<TFloat>(Context, values.Z + step) = static_cast<TFloat>(Im);
    };
    auto call = [&](TContextCode Code) {
        if (Code)
            FracCallContextCode(Code, Context, Second);
    };
    SetFormulaFPUControl(context.SavedControlWord);

    const long double pixelRe = load(Context, values.Pixel), pixelIm = load(Context, values.Pixel + step);
    const long double seedRe = load(data, bdStart), seedIm = load(data, bdStart + step);
    long double cRe, cIm, zRe, zIm;
    storeZ(Kind == 0 ? seedRe : pixelRe, Kind == 0 ? seedIm : pixelIm);
    call(context.InsideInit);
    call(context.OutsideInit);
    call(context.OrbitRoutine);
    if (Kind == 0) {
        const std::int32_t square = sizeof(TFloat) == sizeof(double) ? bdDoubleSquare : bdExtendedSquare;
        cRe = pixelRe;
        cIm = pixelIm;
        zRe = load(data, square) + cRe;
        zIm = load(data, square + step) + cIm;
    } else {
        cRe = seedRe;
        cIm = seedIm;
        zRe = pixelRe;
        zIm = pixelIm;
    }
    const std::uint32_t bailout = HighWord(At<double>(data, bdBailout));
    const std::uint32_t maxIter = static_cast<std::uint32_t>(std::max(context.MaxIter, 1));
    std::uint32_t remaining = maxIter;
    bool escaped = false;
    auto stepAndTest = [&]() {
        const long double re = zRe * zRe - zIm * zIm + cRe;
        zIm = (zRe + zRe) * zIm + cIm;
        zRe = re;
        --remaining;
        return HighWord(static_cast<double>(zRe * zRe + zIm * zIm)) > bailout;
    };

    const bool tracing = context.InsideLoop || context.OutsideLoop || context.OrbitWrite;
    if (tracing) {
        // Every step tested; Z, the coloring loops and the orbit see z before each step.
        while (remaining > 1) {
            storeZ(zRe, zIm);
            call(context.InsideLoop);
            call(context.OutsideLoop);
            if (context.OrbitWrite) {
                auto *point = static_cast<double *>(context.OrbitWrite);
                point[0] = static_cast<double>(zRe);
                point[1] = static_cast<double>(zIm);
                context.OrbitWrite = point + 2;
            }
            if (stepAndTest()) {
                escaped = true;
                break;
            }
        }
    } else {
        // The threshold carries the periodicity window; the mask and the saves left stay local.
        const std::uint32_t threshold = context.PeriodicityThreshold;
        std::uint32_t mask = context.PeriodicityMask;
        std::int32_t savesLeft = context.SavesLeft;
        const std::uint32_t tolerance = FloatBits(context.Tolerance);
        long double savedRe = 0, savedIm = 0;
        while (remaining > 1) {
            const bool last = remaining == 2;
            if (stepAndTest() && !last) {
                escaped = true;
                break;
            }
            if (remaining < threshold) {
                if ((remaining & mask) == 0) {
                    savedRe = zRe;
                    savedIm = zIm;
                    if (--savesLeft <= 0) {
                        mask = mask * 2 + 1;
                        savesLeft = context.SavesPerStep;
                    }
                } else if (FloatBits(static_cast<float>(std::fabs(zRe - savedRe))) <= tolerance &&
                           FloatBits(static_cast<float>(std::fabs(zIm - savedIm))) <= tolerance) {
                    break; // periodic: inside
                }
            }
            if (context.StopFlag)
                break;
        }
    }
    storeZ(zRe, zIm);
    context.IterationsDone =
        escaped ? static_cast<std::int32_t>(maxIter - remaining) : static_cast<std::int32_t>(maxIter);
    call(escaped ? context.OutsideFinal : context.InsideFinal);
    RestoreFPUControl(context.SavedControlWord);
}

// The arbitrary-precision loop on the context's numbers through the thread's processor.
void IterateHuge(std::uint8_t Kind, void *Context, THugeProcessor *Processor) {
    auto &context = *static_cast<TPixelContext *>(Context);
    const TContextValueOffsets &values = ContextValueOffsets[2];
    void *data = context.FormulaData;
    THugeFloatBase *zRe = At<THugeFloatBase *>(Context, values.Z),
                   *zIm = At<THugeFloatBase *>(Context, values.Z + 4);
    THugeFloatBase *pRe = At<THugeFloatBase *>(Context, values.Pixel),
                   *pIm = At<THugeFloatBase *>(Context, values.Pixel + 4);
    THugeFloatBase *sRe = At<THugeFloatBase *>(data, bdStart), *sIm = At<THugeFloatBase *>(data, bdStart + 4),
                   *bailout = At<THugeFloatBase *>(data, bdBailout);
    if (!Processor || !zRe || !zIm || !pRe || !pIm || !sRe || !sIm || !bailout)
        return;
    THugeProcessor &p = *Processor;
    auto call = [&](TContextCode Code) {
        if (Code)
            FracCallContextCode(Code, Context, Processor);
    };
    const THugeFloatBase &cRe = Kind == 0 ? *pRe : *sRe, &cIm = Kind == 0 ? *pIm : *sIm;
    zRe->Assign(Kind == 0 ? *sRe : *pRe);
    zIm->Assign(Kind == 0 ? *sIm : *pIm);
    call(context.InsideInit);
    call(context.OutsideInit);
    call(context.OrbitRoutine);
    const std::uint32_t maxIter = static_cast<std::uint32_t>(std::max(context.MaxIter, 1));
    std::uint32_t remaining = maxIter;
    while (remaining > 0) {
        // Stack pictures list the registers top first.
        p.LoadHuge(*zRe);
        p.Square();
        p.LoadHuge(*zIm);
        p.Square();
        p.AddPop(1); // [|z|^2]
        p.LoadHuge(*bailout);
        const bool above = p.Compare(1) < 0; // bailout below |z|^2
        p.Pop();
        p.Pop();
        if (above)
            break;
        p.LoadHuge(*zRe);
        p.LoadHuge(*zIm);
        p.LoadRegister(1);
        p.Multiply(1); // [re*im im re]
        p.MultiplyByTwo();
        p.LoadHuge(cIm);
        p.AddPop(1); // [im' im re]
        p.Exchange(2);
        p.Square();
        p.Exchange(1);
        p.Square();
        p.SubtractPop(1); // [re^2-im^2 im']
        p.LoadHuge(cRe);
        p.AddPop(1);
        p.StoreHugePop(*zRe);
        p.StoreHugePop(*zIm);
        call(context.InsideLoop);
        call(context.OutsideLoop);
        if (context.OrbitWrite)
            call(context.OrbitRoutine);
        if (remaining < context.PeriodicityThreshold)
            remaining = HugePeriodicityCheck(Processor, Context, remaining);
        if (context.StopFlag)
            break;
        --remaining;
    }
    context.IterationsDone = static_cast<std::int32_t>(maxIter - remaining);
    call(remaining > 0 ? context.OutsideFinal : context.InsideFinal);
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
        IteratePixel<double>(Kind, Context, Second);
    else if (Precision == 1)
        IteratePixel<long double>(Kind, Context, Second);
    else
        IterateHuge(Kind, Context, static_cast<THugeProcessor *>(Second));
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
