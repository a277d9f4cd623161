// Transformations: small formulas that move each mapped point (#pixel) or mark it solid (#solid)
// before the fractal formula sees it, and the ordered list of a layer's transformations.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "FracColoring.h"
#include "FracFormulaBase.h"

class TTransform : public TFormulaBase {
public:
    TTransform();
    ~TTransform() override;
    DECLARE_CLASS_NAME(TTransform)

    bool GetEnabled() const { return FEnabled; }
    // A setting change "Enable Transformation" or "Disable Transformation".
    void SetEnabled(bool Value);
    std::uint32_t GetSolidColor() const { return FSolidColor; }
    void SetSolidColor(std::uint32_t Value);
    const TRoutineAssembler &GetTransformRoutine() const { return *FTransformRoutine; }

    // Runs the TRANSFORM routine on a context whose transformation data cell holds this
    // transformation's block; nothing when disabled or without code.
    void Execute(void *Context, void *Second) const;
    // Prepares or finalizes the variables of the block in the context's transformation data cell.
    void InitData(void *Context) const;
    void DoneData(void *Context) const;
    // LoadFromReader with a solid colour for a section that has none.
    void ReadWithDefaultSolid(TParReader &Reader, std::uint32_t Color);

    TNotifyEvent OnSolidChanged;

    void ResetCode() override;
    void GenerateEmpty() override;
    void InitCompile() override;
    void GetDefaultSection(std::string &Name) override { Name = "TRANSFORM"; }
    void GetSectionKind(const std::string &Label, std::uint8_t &Kind) override;
    bool IsFunctionAllowed(const std::string &Section, std::uint8_t FunctionId) override;
    bool IsPredefinedReadable(const std::string &Section, std::uint8_t SymbolId) override;
    bool IsPredefinedWritable(const std::string &Section, std::uint8_t SymbolId) override;
    void CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) override;

    void WriteSettings(TParWriter &Writer) const override;
    void ResetSettings() override;
    void ReadSetting(TParReader &Reader, const std::string &Key) override;
    void ApplySettings() override;

private:
    std::unique_ptr<TRoutineAssembler> FTransformRoutine;
    std::uint32_t FDefaultSolid = OpaqueBlack;
    bool FEnabled = true;
    bool FPendingEnabled = true;
    std::uint32_t FPendingSolid = OpaqueBlack;
    std::uint8_t FSectionOrder = 0;
    std::uint32_t FSolidColor = OpaqueBlack;
};

DECLARE_EXCEPTION(ETransformListError, Exception);

// The transformations of one location, in order; owned.
class TTransformList : public TObject {
public:
    static constexpr int MaxCount = 1024;
    DECLARE_CLASS_NAME(TTransformList)

    int GetCount() const { return static_cast<int>(FItems.size()); }
    TTransform &GetItem(int Index) const { return *FItems.at(static_cast<std::size_t>(Index)); }
    // The list takes the transformation; with MaxCount members ETransformListError "Cannot add
    // more than 1024 transformations" and the caller keeps it.
    int Add(std::unique_ptr<TTransform> &Transform) { return Insert(GetCount(), Transform); }
    int Insert(int Index, std::unique_ptr<TTransform> &Transform);
    void Delete(int Index);
    void Move(int From, int To);

    TNotifyEvent OnListChange, OnChange, OnChanging;
    TModifyEvent OnModify;

private:
    void Changing();
    void Changed(const std::string &Caption);
    void MemberModified(TObject *Sender, const std::string &Caption);
    void MemberChanging(TObject *Sender);
    void MemberCompiled(TObject *Sender);

    std::vector<std::unique_ptr<TTransform>> FItems;
};
