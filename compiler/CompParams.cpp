#include "CompParams.h"

#include <cmath>

#include "GenColor.h"

namespace {

// Bounds are doubles: values are compared as doubles, so a text written from a bound (with 19
// digits, which give the double back exactly) always counts as inside the range.
double BoundValue(const std::string &Text) {
    return FloatTextToDouble(Text);
}

std::string BoundText(double Bound) {
    return FloatToStrF(Bound, ffGeneral, 19, 0);
}

// The text of a machine number with Digits significant digits; empty for infinities and
// not-a-number values, which no decimal text can hold.
std::string NumberText(long double X, int Digits) {
    if (!std::isfinite(X))
        return std::string();
    return FloatToStrF(X, ffGeneral, Digits, 0);
}

// The texts a float or complex constant gives a float or complex default; empty texts when the
// value cannot be written. A float constant gives a real part with a zero imaginary part.
void ConstantTexts(const TConstant &Constant, std::string &ReText, std::string &ImText) {
    ReText.clear();
    ImText.assign(1, '0'); // (a plain "0" trips a false -Wrestrict of GCC 12)
    if (auto c = dynamic_cast<const TDoubleFloatConstant *>(&Constant)) {
        ReText = NumberText(c->Value, 15);
    } else if (auto c = dynamic_cast<const TExtendedFloatConstant *>(&Constant)) {
        ReText = NumberText(c->Value, 19);
    } else if (auto c = dynamic_cast<const THugeFloatConstant *>(&Constant)) {
        ReText = NumberText(c->Value.GetExtended(), 19);
    } else if (auto c = dynamic_cast<const TDoubleComplexConstant *>(&Constant)) {
        ReText = NumberText(c->Re, 15);
        ImText = NumberText(c->Im, 15);
    } else if (auto c = dynamic_cast<const TExtendedComplexConstant *>(&Constant)) {
        ReText = NumberText(c->Re, 15);
        ImText = NumberText(c->Im, 15);
    } else if (auto c = dynamic_cast<const THugeComplexConstant *>(&Constant)) {
        ReText = c->Value.Re.GetText();
        ImText = c->Value.Im.GetText();
    } else if (auto c = dynamic_cast<const TIntConstant *>(&Constant)) {
        ReText = IntToStr(c->Value);
    }
    if (!IsValidFloatText(ReText) || !IsValidFloatText(ImText)) {
        ReText.clear();
        ImText.clear();
    }
}

bool IsComplexParamName(const std::string &Name) {
    return Name.size() == 2 && (Name[0] == 'P' || Name[0] == 'p') && Name[1] >= '1' && Name[1] <= '6';
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TParam

TParam::TParam(const std::string &AName, std::uint8_t AType) : Type(AType), FCaption(AName), FName(AName) {}

void TParam::SetCaption(const std::string &Value) {
    if (Value == FCaption)
        return;
    FCaption = Value;
    Changed();
}

void TParam::SetEnabled(bool Value) {
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    Changed();
}

void TParam::SetVisible(bool Value) {
    if (Value == FVisible)
        return;
    FVisible = Value;
    Changed();
}

void TParam::CopyDescription(TParam &Target) const {
    Target.FCaption = FCaption;
    Target.Hint = Hint;
}

// ---------------------------------------------------------------------------------------------
// TComplexParam

TComplexParam::TComplexParam(const std::string &AName) : TParam(AName, vtComplex) {
    if (IsComplexParamName(AName))
        SetCaption(std::string("Parameter ") + AName[1]);
    Value.SetAllowOutOfRange(true);
    Default.SetAllowOutOfRange(true);
    Value.OnChange = MakeNotifyEvent<&TComplexParam::ValueChanged>(this);
    Value.OnValidate = MakeEvent<&TComplexParam::ValidateValue>(this);
}

void TComplexParam::ValueChanged(TObject *Sender) {
    Modified = true;
    Changed();
}

bool TComplexParam::InRange(long double Re, long double Im) const {
    if (HasMin && (Re < MinRe || Im < MinIm))
        return false;
    if (HasMax && (Re > MaxRe || Im > MaxIm))
        return false;
    return true;
}

void TComplexParam::ValidateValue(TObject *Sender, const std::string &ReText, const std::string &ImText,
                                  bool &Accept) {
    Accept = InRange(BoundValue(ReText), BoundValue(ImText));
}

void TComplexParam::AssignValue(const TParam &Other) {
    Modified = true;
    if (auto other = dynamic_cast<const TComplexParam *>(&Other))
        Value.Assign(other->Value);
}

std::unique_ptr<TParam> TComplexParam::Clone() const {
    auto copy = std::make_unique<TComplexParam>(GetName());
    CopyDescription(*copy);
    copy->MinRe = MinRe;
    copy->MinIm = MinIm;
    copy->MaxRe = MaxRe;
    copy->MaxIm = MaxIm;
    copy->HasMin = HasMin;
    copy->HasMax = HasMax;
    copy->Default.SetText(Default.Re.GetText(), Default.Im.GetText());
    copy->Value.Re.SetTextQuiet(Default.Re.GetText());
    copy->Value.Im.SetTextQuiet(Default.Im.GetText());
    return copy;
}

void TComplexParam::SetDefault(const TConstant *Constant) {
    if (!Constant) {
        Default.SetText(Value.Re.GetText(), Value.Im.GetText());
    } else {
        std::string reText, imText;
        ConstantTexts(*Constant, reText, imText);
        if (reText.empty())
            return; // not a number the default can hold; it stays as it was
        Default.SetText(reText, imText);
    }
    Clamp();
}

void TComplexParam::ResetToDefault() {
    Modified = true;
    Value.Assign(Default);
}

void TComplexParam::SetMin(double Re, double Im) {
    MinRe = Re;
    MinIm = Im;
    HasMin = true;
    Clamp();
}

void TComplexParam::SetMax(double Re, double Im) {
    MaxRe = Re;
    MaxIm = Im;
    HasMax = true;
    Clamp();
}

void TComplexParam::Clamp() {
    auto clampPart = [](TFloatValue &Part, bool HasLow, double Low, bool HasHigh, double High) {
        double value = BoundValue(Part.GetText());
        if (HasLow && value < Low)
            Part.SetTextQuiet(BoundText(Low));
        else if (HasHigh && value > High)
            Part.SetTextQuiet(BoundText(High));
    };
    for (TComplexValue *v : {&Default, &Value}) {
        clampPart(v->Re, HasMin, MinRe, HasMax, MaxRe);
        clampPart(v->Im, HasMin, MinIm, HasMax, MaxIm);
    }
}

// ---------------------------------------------------------------------------------------------
// TFloatParam

TFloatParam::TFloatParam(const std::string &AName) : TParam(AName, vtFloat) {
    Value.AllowOutOfRange = true;
    Default.AllowOutOfRange = true;
    Value.OnChange = MakeNotifyEvent<&TFloatParam::ValueChanged>(this);
    Value.OnValidate = MakeEvent<&TFloatParam::ValidateValue>(this);
}

void TFloatParam::ValueChanged(TObject *Sender) {
    Modified = true;
    Changed();
}

void TFloatParam::ValidateValue(TObject *Sender, const std::string &Text, bool &Accept) {
    double value = BoundValue(Text);
    Accept = !(HasMin && value < Min) && !(HasMax && value > Max);
}

void TFloatParam::AssignValue(const TParam &Other) {
    Modified = true;
    if (auto other = dynamic_cast<const TFloatParam *>(&Other))
        Value.Assign(other->Value);
}

std::unique_ptr<TParam> TFloatParam::Clone() const {
    auto copy = std::make_unique<TFloatParam>(GetName());
    CopyDescription(*copy);
    copy->Min = Min;
    copy->Max = Max;
    copy->HasMin = HasMin;
    copy->HasMax = HasMax;
    copy->Default.SetText(Default.GetText());
    copy->Value.SetTextQuiet(Default.GetText());
    return copy;
}

void TFloatParam::SetDefault(const TConstant *Constant) {
    if (!Constant) {
        Default.SetText(Value.GetText());
    } else {
        std::string reText, imText;
        ConstantTexts(*Constant, reText, imText);
        if (reText.empty())
            return;
        Default.SetText(reText);
    }
    Clamp();
}

void TFloatParam::ResetToDefault() {
    Modified = true;
    Value.Assign(Default);
}

void TFloatParam::SetMin(double M) {
    Min = M;
    HasMin = true;
    Clamp();
}

void TFloatParam::SetMax(double M) {
    Max = M;
    HasMax = true;
    Clamp();
}

void TFloatParam::Clamp() {
    for (TFloatValue *v : {&Default, &Value}) {
        double value = BoundValue(v->GetText());
        if (HasMin && value < Min)
            v->SetTextQuiet(BoundText(Min));
        else if (HasMax && value > Max)
            v->SetTextQuiet(BoundText(Max));
    }
}

// ---------------------------------------------------------------------------------------------
// TIntParam

TIntParam::TIntParam(const std::string &AName) : TParam(AName, vtInteger) {}

std::int32_t TIntParam::Clamp(std::int32_t AValue) const {
    if (HasMin && AValue < Min)
        return Min;
    if (HasMax && AValue > Max)
        return Max;
    return AValue;
}

void TIntParam::SetValue(std::int32_t AValue) {
    Modified = true;
    AValue = Clamp(AValue);
    if (AValue == FValue)
        return;
    FValue = AValue;
    Changed();
}

void TIntParam::SetMin(std::int32_t M) {
    Min = M;
    HasMin = true;
    Default = Clamp(Default);
    FValue = Clamp(FValue);
}

void TIntParam::SetMax(std::int32_t M) {
    Max = M;
    HasMax = true;
    Default = Clamp(Default);
    FValue = Clamp(FValue);
}

void TIntParam::AssignValue(const TParam &Other) {
    Modified = true;
    if (auto other = dynamic_cast<const TIntParam *>(&Other))
        SetValue(other->FValue);
}

std::unique_ptr<TParam> TIntParam::Clone() const {
    auto copy = std::make_unique<TIntParam>(GetName());
    CopyDescription(*copy);
    copy->Min = Min;
    copy->Max = Max;
    copy->HasMin = HasMin;
    copy->HasMax = HasMax;
    copy->Enum.Assign(Enum);
    copy->Default = Default;
    copy->FValue = Default;
    return copy;
}

void TIntParam::SetDefault(const TConstant *Constant) {
    if (!Constant)
        Default = FValue;
    else if (auto c = dynamic_cast<const TIntConstant *>(Constant))
        Default = Clamp(c->Value);
    else if (auto c = dynamic_cast<const TBoolConstant *>(Constant))
        Default = Clamp(c->Value ? 1 : 0);
}

void TIntParam::ResetToDefault() {
    SetValue(Default);
}

// ---------------------------------------------------------------------------------------------
// TBoolParam

void TBoolParam::SetValue(bool AValue) {
    Modified = true;
    if (AValue == FValue)
        return;
    FValue = AValue;
    Changed();
}

void TBoolParam::AssignValue(const TParam &Other) {
    Modified = true;
    if (auto other = dynamic_cast<const TBoolParam *>(&Other))
        SetValue(other->FValue);
}

std::unique_ptr<TParam> TBoolParam::Clone() const {
    auto copy = std::make_unique<TBoolParam>(GetName());
    CopyDescription(*copy);
    copy->Default = Default;
    copy->FValue = Default;
    return copy;
}

void TBoolParam::SetDefault(const TConstant *Constant) {
    if (!Constant)
        Default = FValue;
    else if (auto c = dynamic_cast<const TBoolConstant *>(Constant))
        Default = c->Value;
    else if (auto c = dynamic_cast<const TIntConstant *>(Constant))
        Default = c->Value != 0;
}

void TBoolParam::ResetToDefault() {
    SetValue(Default);
}

// ---------------------------------------------------------------------------------------------
// TColorParam

void TColorParam::SetValue(std::uint32_t AValue) {
    Modified = true;
    if (AValue == FValue)
        return;
    FValue = AValue;
    Changed();
}

void TColorParam::AssignValue(const TParam &Other) {
    Modified = true;
    if (auto other = dynamic_cast<const TColorParam *>(&Other))
        SetValue(other->FValue);
}

std::unique_ptr<TParam> TColorParam::Clone() const {
    auto copy = std::make_unique<TColorParam>(GetName());
    CopyDescription(*copy);
    copy->Default = Default;
    copy->FValue = Default;
    return copy;
}

void TColorParam::SetDefault(const TConstant *Constant) {
    if (!Constant) {
        Default = FValue;
    } else if (auto c = dynamic_cast<const TColorConstant *>(Constant)) {
        // Components outside 0..1 (or not numbers at all) are limited first; the byte conversion
        // is only defined inside that range.
        TFloatColor color{c->Red, c->Green, c->Blue, c->Alpha}, clamped;
        ClampFloatColor(color, clamped);
        Default = FloatColorToPixel(clamped);
    }
}

void TColorParam::ResetToDefault() {
    SetValue(Default);
}

// ---------------------------------------------------------------------------------------------
// Function parameters

namespace {

bool IsSelectableId(std::uint8_t Type, std::uint8_t Id) {
    if (Type == vtColorFunction)
        return Id >= FirstMergeId && Id <= LastMergeId;
    return Id <= LastUserFunctionId;
}

} // namespace

void TCustomFuncParam::SetValue(std::uint8_t AValue) {
    // An id this kind of parameter cannot select (an unknown name read from parameter text, a merge
    // mode for a plain function) would reach the code generator as a function it has no code
    // for; it is ignored.
    if (!IsSelectableId(Type, AValue))
        return;
    Modified = true;
    if (AValue == FValue)
        return;
    FValue = AValue;
    Changed();
}

void TCustomFuncParam::AssignValue(const TParam &Other) {
    Modified = true;
    if (auto other = dynamic_cast<const TCustomFuncParam *>(&Other))
        SetValue(other->FValue);
}

void TCustomFuncParam::SetDefault(const TConstant *Constant) {
    Default = FValue;
}

void TCustomFuncParam::ResetToDefault() {
    SetValue(Default);
}

TFuncParam::TFuncParam(const std::string &AName) : TCustomFuncParam(AName, vtFunction, FirstUserFunctionId) {
    std::string upper = UpperCase(AName);
    if (upper.size() == 3 && upper[0] == 'F' && upper[1] == 'N' && upper[2] >= '1' && upper[2] <= '4')
        SetCaption(std::string("Function ") + upper[2]);
}

std::unique_ptr<TParam> TFuncParam::Clone() const {
    auto copy = std::make_unique<TFuncParam>(GetName());
    CopyDescription(*copy);
    copy->Default = Default;
    copy->SetValue(Default);
    copy->Modified = false;
    return copy;
}

std::unique_ptr<TParam> TColorFuncParam::Clone() const {
    auto copy = std::make_unique<TColorFuncParam>(GetName());
    CopyDescription(*copy);
    copy->Default = Default;
    copy->SetValue(Default);
    copy->Modified = false;
    return copy;
}

std::unique_ptr<TParam> THeadingParam::Clone() const {
    auto copy = std::make_unique<THeadingParam>(GetName());
    CopyDescription(*copy);
    return copy;
}

// ---------------------------------------------------------------------------------------------
// TParamList

void TParamList::Add(std::unique_ptr<TParam> Param) {
    Param->OnChange = MakeNotifyEvent<&TParamList::ParamChanged>(this);
    FItems.Add(std::move(Param));
    IndexItem(FItems.Count() - 1);
}

void TParamList::Clear() {
    FItems.Clear();
    Reindex();
}

void TParamList::Delete(int I) {
    FItems.Delete(I);
    Reindex();
}

void TParamList::Assign(const TParamList &Other) {
    if (&Other == this)
        return;
    Clear();
    for (int i = 0; i < Other.GetCount(); ++i)
        Add(Other.GetItem(i)->Clone());
}

namespace {

bool IsFunctionParam(const TParam &Param) {
    return Param.Type == vtFunction || Param.Type == vtColorFunction;
}

} // namespace

void TParamList::IndexItem(int I) {
    const TParam *param = FItems[I];
    (IsFunctionParam(*param) ? FFirstFunction : FFirstOrdinary).emplace(UpperCase(param->GetName()), I);
}

void TParamList::Reindex() {
    FFirstOrdinary.clear();
    FFirstFunction.clear();
    for (int i = 0; i < FItems.Count(); ++i)
        IndexItem(i);
}

int TParamList::IndexOfName(const std::string &Name, int Kinds) const {
    const std::string key = UpperCase(Name);
    int result = -1;
    for (const auto *index :
         {Kinds & pkOrdinary ? &FFirstOrdinary : nullptr, Kinds & pkFunction ? &FFirstFunction : nullptr}) {
        if (!index)
            continue;
        auto found = index->find(key);
        if (found != index->end() && (result < 0 || found->second < result))
            result = found->second;
    }
    return result;
}

void TParamList::SortByCaption() {
    FItems.Sort(
        [](const TParam *A, const TParam *B) { return CompareText(A->GetCaption(), B->GetCaption()); });
    Reindex();
}

void TParamList::ParamChanged(TObject *Sender) {
    Changed(static_cast<TParam *>(Sender)->GetCaption());
}

void TParamList::Changed(const std::string &Caption) {
    ChangeCaption = Caption;
    ChangePending = true;
    if (!HoldChanges)
        Flush();
}

void TParamList::Flush() {
    if (!ChangePending)
        return;
    ChangePending = false;
    OnChange(this, ChangeCaption);
}
