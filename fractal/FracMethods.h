// The drawing methods: the order in which a piece calculates its pixels and which of them are
// filled in without calculation. Linear calculates row by row; multi-pass calculates a coarse grid
// of blocks and refines it pass by pass; guessing refines like multi-pass but fills a sample from
// its neighbours where they all agree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "FracAntiAlias.h"

// Methods by number: dmGuessing, dmMultiPass, dmLinear (FracCompute.h), as layers store them.
// The parameter-text name of a method: "multipass", "linear", and "" for guessing (not written).
std::string ComputeMethodName(std::uint8_t Method);
// The method of a parameter-text name; anything else gives guessing.
std::uint8_t ComputeMethodFromName(const std::string &Name);

class TComputeLinear : public TComputeAntiAliasing {
public:
    using TComputeAntiAliasing::TComputeAntiAliasing;
    DECLARE_CLASS_NAME(TComputeLinear)

protected:
    void CalculatePixels() override;
};

class TComputeMultiPass : public TComputeAntiAliasing {
public:
    using TComputeAntiAliasing::TComputeAntiAliasing;
    DECLARE_CLASS_NAME(TComputeMultiPass)

protected:
    void CalculatePixels() override;
    // Refines the blocks of size Size in the row of blocks at Y to blocks of half the size.
    // Returns false when a stop interrupted it (the resume position is then set).
    virtual bool CalculatePass(int Y, int Size);
    // The first pass: one sample per block of size Size in the row of blocks at Y.
    bool CalculateBlockRow(int Y, int Size);

    // The first row of blocks of a pass: the resume row when resuming (a resume row between the
    // rows of blocks moves on to the next row of blocks), else the top edge.
    int StartRow(int Size);
    // The first block column of the row in work: the resume x on the block grid when resuming
    // (clearing the resume flag), else the left edge.
    int StartColumn(int Size);
    // Gives the block at (X, Y) back the value of its corner, as the pass before left it.
    void RestoreBlock(int X, int Y, int Size);
};

class TComputeGuessing : public TComputeMultiPass {
public:
    using TComputeMultiPass::TComputeMultiPass;
    DECLARE_CLASS_NAME(TComputeGuessing)

protected:
    bool CalculatePass(int Y, int Size) override;
};

// A new piece of the method (0 guessing, 1 multi-pass, 2 linear; other numbers give guessing)
// over the layer's objects; the method number is stored in the piece.
std::unique_ptr<TCompute> CreateCompute(std::uint8_t Method, TMapping *Mapping, TFormula *Formula,
                                        TLayerStatistics *Statistics, TUpdateRectList *UpdateRects,
                                        TLayerImage *Image, TColoring *OutsideColoring,
                                        TColoring *InsideColoring);
