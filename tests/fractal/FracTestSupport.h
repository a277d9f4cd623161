// A pixel context for one fractal formula object in the formula's precision: in arbitrary
// precision with the context's numbers and a processor. The formula's part is set up by Start,
// after the caller filled the coloring cells, and released with the context.
#pragma once

#include <cstdint>
#include <memory>

#include "CompDefinitions.h"
#include "FracContext.h"
#include "FracFormula.h"
#include "HugeFPU.h"

class TFormulaContext {
public:
    explicit TFormulaContext(const TFormula &AFormula, std::int32_t Digits = 30)
        : Formula(AFormula), Block(AFormula.GetPrecision()) {
        if (Formula.GetPrecision() == pmArbitrary) {
            InitHugeContextValues(Block.Bytes(), Digits);
            Processor = std::make_unique<THugeProcessor>(Digits);
        }
    }
    ~TFormulaContext() {
        if (FStarted)
            Formula.DoneContext(Block.Bytes());
        if (Processor)
            DoneHugeContextValues(Block.Bytes());
    }
    TFormulaContext(const TFormulaContext &) = delete;
    TFormulaContext &operator=(const TFormulaContext &) = delete;

    void Start(std::int32_t MaxIter) {
        Formula.InitContext(Block.Bytes());
        FStarted = true;
        Block.Common().MaxIter = MaxIter;
    }
    // One pixel; the iterations done.
    std::int32_t Iterate(long double Re, long double Im) {
        Block.SetPixel(Re, Im);
        Formula.Iterate(Block.Bytes(), Processor.get());
        return Block.Common().IterationsDone;
    }

    const TFormula &Formula;
    TPixelContextBlock Block;
    std::unique_ptr<THugeProcessor> Processor;

private:
    bool FStarted = false;
};
