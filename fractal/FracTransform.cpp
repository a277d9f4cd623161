#include "FracTransform.h"

#include <algorithm>
#include <cstring>

#include "CompPixelContext.h"

TTransform::TTransform()
    : TFormulaBase(TFormulaKind::Transform), FTransformRoutine(std::make_unique<TRoutineAssembler>()) {
    ClearSource();
}

TTransform::~TTransform() = default;

void TTransform::SetEnabled(bool Value) {
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    PropertyChanged(Value ? "Enable Transformation" : "Disable Transformation");
}

void TTransform::SetSolidColor(std::uint32_t Value) {
    if (Value == FSolidColor)
        return;
    FSolidColor = Value;
    if (OnSolidChanged)
        OnSolidChanged(this);
}

void TTransform::Execute(void *Context, void *Second) const {
    if (FEnabled)
        FTransformRoutine->Execute(Context, Second);
}

void TTransform::InitData(void *Context) const {
    if (GetDataSize() <= 0)
        return;
    void *data = static_cast<TPixelContext *>(Context)->TransformData;
    std::memset(data, 0, static_cast<std::size_t>(GetDataSize()));
    GetStorage().InitData(data);
}

void TTransform::DoneData(void *Context) const {
    if (GetDataSize() > 0)
        GetStorage().DoneData(static_cast<TPixelContext *>(Context)->TransformData);
}

void TTransform::ReadWithDefaultSolid(TParReader &Reader, std::uint32_t Color) {
    LoadWithDefaultSolid(*this, FDefaultSolid, Reader, Color);
}

void TTransform::ResetCode() {
    TFormulaBase::ResetCode();
    FTransformRoutine->Clear();
}

void TTransform::GenerateEmpty() {
    TFormulaBase::GenerateEmpty();
    FEnabled = true;
}

void TTransform::InitCompile() {
    FSectionOrder = 0;
    TFormulaBase::InitCompile();
}

void TTransform::GetSectionKind(const std::string &Label, std::uint8_t &Kind) {
    TFormulaBase::GetSectionKind(Label, Kind);
    if (Kind != skdInvalid || Label == "GLOBAL")
        return;
    if (Label == "TRANSFORM" && FSectionOrder < 1) {
        FSectionOrder = 1;
        Kind = skdCode;
    } else if (Label == "DEFAULT" && FSectionOrder < 2) {
        FSectionOrder = 2;
        Kind = skdParameters;
    }
}

bool TTransform::IsFunctionAllowed(const std::string &, std::uint8_t FunctionId) {
    return FunctionId != fnOldZ && FunctionId != fnGradient;
}

bool TTransform::IsPredefinedReadable(const std::string &Section, std::uint8_t SymbolId) {
    if (Section == "TRANSFORM")
        return SymbolId == psPixel || SymbolId == psRandom || SymbolId == psPi || SymbolId == psE ||
               SymbolId == psRandomRange || (SymbolId >= psScreenMax && SymbolId <= psSkew);
    return TFormulaBase::IsPredefinedReadable(Section, SymbolId);
}

bool TTransform::IsPredefinedWritable(const std::string &, std::uint8_t SymbolId) {
    return SymbolId == psPixel || SymbolId == psSolidColor;
}

void TTransform::CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) {
    TFormulaBase::CompileSection(Name, Code, Size);
    if (Name == "TRANSFORM")
        EmitSectionRoutine(*FTransformRoutine, Code, Size, 0);
}

void TTransform::WriteSettings(TParWriter &Writer) const {
    if (!FEnabled)
        Writer.WriteBoolean("enabled", false);
    if (FSolidColor != OpaqueBlack)
        Writer.WriteCardinal("solid", FSolidColor);
}

void TTransform::ResetSettings() {
    FPendingEnabled = true;
    FPendingSolid = FDefaultSolid;
}

void TTransform::ReadSetting(TParReader &Reader, const std::string &Key) {
    if (Key == "enabled")
        FPendingEnabled = Reader.GetBoolean();
    else if (Key == "solid")
        FPendingSolid = Reader.GetCardinal();
}

void TTransform::ApplySettings() {
    SetEnabled(FPendingEnabled);
    SetSolidColor(FPendingSolid);
}

// ---------------------------------------------------------------------------------------------
// TTransformList

void TTransformList::Changing() {
    if (OnChanging)
        OnChanging(this);
}

void TTransformList::Changed(const std::string &Caption) {
    if (OnListChange)
        OnListChange(this);
    if (OnModify)
        OnModify(this, Caption);
    if (OnChange)
        OnChange(this);
}

void TTransformList::MemberModified(TObject *, const std::string &Caption) {
    if (OnModify)
        OnModify(this, Caption);
}

void TTransformList::MemberChanging(TObject *) {
    Changing();
}

void TTransformList::MemberCompiled(TObject *) {
    if (OnChange)
        OnChange(this);
}

int TTransformList::Insert(int Index, std::unique_ptr<TTransform> &Transform) {
    if (GetCount() >= MaxCount)
        throw ETransformListError("Cannot add more than %d transformations", MaxCount);
    Index = std::clamp(Index, 0, GetCount());
    Transform->OnModify = MakeEvent<&TTransformList::MemberModified>(this);
    Transform->OnBeforeCompile = MakeEvent<&TTransformList::MemberChanging>(this);
    Transform->OnCompiled = MakeEvent<&TTransformList::MemberCompiled>(this);
    Changing();
    FItems.insert(FItems.begin() + Index, std::move(Transform));
    Changed("Add Transformation");
    return Index;
}

void TTransformList::Delete(int Index) {
    if (Index < 0 || Index >= GetCount())
        return;
    Changing();
    FItems.erase(FItems.begin() + Index);
    Changed("Remove Transformation");
}

void TTransformList::Move(int From, int To) {
    if (From < 0 || From >= GetCount() || To < 0 || To >= GetCount() || From == To)
        return;
    Changing();
    std::unique_ptr<TTransform> item = std::move(FItems[static_cast<std::size_t>(From)]);
    FItems.erase(FItems.begin() + From);
    FItems.insert(FItems.begin() + To, std::move(item));
    Changed("Move Transformation");
}
