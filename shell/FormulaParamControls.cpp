#include "FormulaParamControls.h"

#include <algorithm>
#include <cmath>

#include "CompDefinitions.h"
#include "CompLexical.h"
#include "FracClipboard.h"
#include "GenColor.h"
#include "GenEyedrop.h"
#include "GenSetup.h"
#include "GenUtils.h"

namespace {

int S(int Size) {
    return ScaleForScreenFont(Size);
}

int OwnGroupLimitSetting = 0;

// Sets a flag for the life of a scope.
class TFlagGuard {
public:
    explicit TFlagGuard(bool &AFlag) : Flag(AFlag), Saved(AFlag) { Flag = true; }
    ~TFlagGuard() { Flag = Saved; }
    TFlagGuard(const TFlagGuard &) = delete;
    TFlagGuard &operator=(const TFlagGuard &) = delete;

private:
    bool &Flag;
    bool Saved;
};

const char *const FunctionRows[] = {"sin",   "sinh", "asin",  "asinh", "cos",   "cosh",   "acos",  "acosh",
                                    "tan",   "tanh", "atan",  "atanh", "cotan", "cotanh", "sqr",   "sqrt",
                                    "log",   "exp",  "abs",   "cabs",  "conj",  "flip",   "ident", "zero",
                                    "recip", "ceil", "floor", "trunc", "round"};
const char *const MergeRows[] = {"Normal",       "Multiply", "Screen",    "Overlay",    "Soft Light",
                                 "Hard Light",   "Darken",   "Lighten",   "Difference", "Hue",
                                 "Saturation",   "Color",    "Luminance", "Addition",   "Subtraction",
                                 "HSL Addition", "Red",      "Green",     "Blue"};

int InputDelay() {
    TConfigManager *config = ConfigManager();
    return GetInputDelayTime(config ? config->General->ToolInputDelay : 0);
}

} // namespace

bool ParseIntegerText(const std::string &Text, long long &Value) {
    std::string trimmed = Trim(Text);
    if (trimmed.empty())
        return false;
    std::size_t at = 0;
    if (trimmed[0] == '-' || trimmed[0] == '+')
        at = 1;
    if (at == trimmed.size() || trimmed.size() - at > 10)
        return false;
    for (std::size_t i = at; i < trimmed.size(); ++i)
        if (trimmed[i] < '0' || trimmed[i] > '9')
            return false;
    Value = std::stoll(trimmed);
    return Value >= INT32_MIN && Value <= INT32_MAX;
}

namespace {

// A float text inside optional bounds.
bool FloatTextInRange(const std::string &Text, bool HasMin, double Min, bool HasMax, double Max) {
    if (!IsValidFloatText(Text))
        return false;
    const long double value = FloatTextToExtended(Text);
    return (!HasMin || value >= Min) && (!HasMax || value <= Max);
}

// The line beside a heading's caption.
class THeadingLine : public TGraphicControl {
public:
    explicit THeadingLine(TComponent *AOwner) : TGraphicControl(AOwner) {}

protected:
    void Paint() override {
        RECT r = ClientRect();
        DrawEdge(Canvas().Handle(), &r, EDGE_ETCHED, BF_TOP);
    }
};

template <class TEdit> TEdit *MakeEdit(TComponent *Owner, TAdvGroup *Group, int Top) {
    auto *edit = new TEdit(Owner);
    edit->SetParent(Group);
    edit->SetBounds(S(108), Top, Group->ClientWidth() - S(112), S(21));
    edit->SetAnchors(akLeft | akTop | akRight);
    edit->SetDelay(InputDelay());
    return edit;
}

TAdvComboBox *MakeList(TComponent *Owner, TAdvGroup *Group, int Top) {
    auto *list = new TAdvComboBox(Owner);
    list->SetParent(Group);
    list->SetStyle(csDropDownList);
    list->SetDropDownCount(15);
    list->SetBounds(S(108), Top, Group->ClientWidth() - S(112), S(21));
    list->SetAnchors(akLeft | akTop | akRight);
    return list;
}

void SetTextWhenDifferent(TWinControl &Control, const std::string &Text) {
    if (Control.Text() != Text)
        Control.SetText(Text);
}

THelpForm *HelpForm = nullptr;

} // namespace

// =============================================================================================
// TParamInterface

TParamInterface::TParamInterface(TComponent *AOwner, TAdvGroup *AGroup)
    : TComponent(AOwner), FGroup(AGroup) {}

void TParamInterface::SetParameter(TParam *AParameter, int Top, int TabOrder) {
    if (!AcceptsParameter(AParameter))
        throw EInterfaceError("TParamInterface.Create: Invalid parameter");
    FParameter = AParameter;
}

void TParamInterface::ControlHelp(TObject *, int X, int Y) {
    if (FParameter)
        ShowParameterHelp(X, Y, FParameter->Hint);
}

TAdvLabel *TParamInterface::MakeLabel(const std::string &Caption, int Top) {
    auto *label = new TAdvLabel(this);
    label->SetParent(FGroup);
    label->SetAutoSize(false);
    label->SetBounds(S(4), Top, S(101), S(16));
    label->SetCaption(Caption);
    label->OnHelp = MakeEvent<&TParamInterface::ControlHelp>(this);
    return label;
}

void TParamInterface::PlaceMainAndLabel(int Top, int LabelOffset) {
    FMainControl->SetTop(Top);
    FLabel->SetTop(Top + LabelOffset);
    FLabel->SetCaption(FParameter->GetCaption() + ":");
}

void TParamInterface::ApplyState(TWinControl *Control, int TabOrder) {
    const bool visible = FParameter->GetVisible();
    Control->SetVisible(visible);
    if (FLabel)
        FLabel->SetVisible(visible);
    if (visible) {
        Control->SetEnabled(FParameter->GetEnabled());
        if (FLabel)
            FLabel->SetEnabled(FParameter->GetEnabled());
    }
    if (TabOrder >= 0)
        Control->SetTabOrder(TabOrder);
}

TParamInterface *CreateParamInterface(TComponent *AOwner, TAdvGroup *AGroup, TParam *AParameter, int TabOrder,
                                      int Top) {
    TParamInterface *group;
    if (dynamic_cast<TBoolParam *>(AParameter))
        group = new TBoolInterface(AOwner, AGroup);
    else if (auto *integer = dynamic_cast<TIntParam *>(AParameter))
        group = integer->Enum.Count() > 0
                    ? static_cast<TParamInterface *>(new TIntEnumInterface(AOwner, AGroup))
                    : new TIntInterface(AOwner, AGroup);
    else if (dynamic_cast<TFloatParam *>(AParameter))
        group = new TFloatInterface(AOwner, AGroup);
    else if (dynamic_cast<TComplexParam *>(AParameter))
        group = new TComplexInterface(AOwner, AGroup);
    else if (dynamic_cast<TColorParam *>(AParameter))
        group = new TColorInterface(AOwner, AGroup);
    else if (dynamic_cast<TFuncParam *>(AParameter))
        group = new TFuncInterface(AOwner, AGroup);
    else if (dynamic_cast<TColorFuncParam *>(AParameter))
        group = new TColorFuncInterface(AOwner, AGroup);
    else
        group = new THeadingInterface(AOwner, AGroup);
    try {
        group->CreateControls(Top);
        if (AParameter)
            group->SetParameter(AParameter, Top, TabOrder);
    } catch (...) {
        delete group;
        throw;
    }
    return group;
}

// =============================================================================================
// Check box

int TBoolInterface::GetHeight() const {
    return S(20);
}

bool TBoolInterface::AcceptsParameter(const TParam *AParameter) const {
    return dynamic_cast<const TBoolParam *>(AParameter) != nullptr;
}

void TBoolInterface::CreateControls(int Top) {
    auto *check = new TAdvCheckBox(this);
    check->SetParent(FGroup);
    check->SetBounds(S(108), Top, FGroup->ClientWidth() - S(112), S(17));
    check->SetAnchors(akLeft | akTop | akRight);
    check->OnClick = MakeNotifyEvent<&TBoolInterface::CheckClick>(this);
    check->OnHelp = MakeEvent<&TParamInterface::ControlHelp>(this);
    FMainControl = check;
}

void TBoolInterface::SetParameter(TParam *AParameter, int Top, int TabOrder) {
    TParamInterface::SetParameter(AParameter, Top, TabOrder);
    auto *check = static_cast<TAdvCheckBox *>(FMainControl);
    if (FParameter->GetVisible()) {
        TFlagGuard filling(FFilling);
        check->SetTop(Top);
        check->SetCaption(FParameter->GetCaption());
        const bool value = static_cast<TBoolParam *>(FParameter)->GetValue();
        if (check->Checked() != value)
            check->SetChecked(value);
    }
    ApplyState(check, TabOrder);
}

void TBoolInterface::CheckClick(TObject *) {
    if (!FFilling && FParameter)
        static_cast<TBoolParam *>(FParameter)->SetValue(static_cast<TAdvCheckBox *>(FMainControl)->Checked());
}

// =============================================================================================
// Integer edit and enumeration list

int TIntInterface::GetHeight() const {
    return S(24);
}

bool TIntInterface::AcceptsParameter(const TParam *AParameter) const {
    auto *integer = dynamic_cast<const TIntParam *>(AParameter);
    return integer && integer->Enum.Count() == 0;
}

void TIntInterface::CreateControls(int Top) {
    auto *edit = MakeEdit<TAdvEdit>(this, FGroup, Top);
    edit->OnInput = MakeNotifyEvent<&TIntInterface::EditInput>(this);
    edit->OnValidate = MakeEvent<&TIntInterface::EditValidate>(this);
    edit->OnHelp = MakeEvent<&TParamInterface::ControlHelp>(this);
    FMainControl = edit;
    FLabel = MakeLabel("", Top + S(3));
}

void TIntInterface::SetParameter(TParam *AParameter, int Top, int TabOrder) {
    TParamInterface::SetParameter(AParameter, Top, TabOrder);
    if (FParameter->GetVisible()) {
        TFlagGuard filling(FFilling);
        PlaceMainAndLabel(Top, S(3));
        SetTextWhenDifferent(*FMainControl, IntToStr(static_cast<TIntParam *>(FParameter)->GetValue()));
    }
    ApplyState(FMainControl, TabOrder);
}

void TIntInterface::EditValidate(TObject *, bool &Valid) {
    long long value = 0;
    auto *param = static_cast<TIntParam *>(FParameter);
    Valid = param && ParseIntegerText(FMainControl->Text(), value) &&
            (!param->HasMin || value >= param->Min) && (!param->HasMax || value <= param->Max);
}

void TIntInterface::EditInput(TObject *) {
    long long value = 0;
    if (!FFilling && FParameter && ParseIntegerText(FMainControl->Text(), value))
        static_cast<TIntParam *>(FParameter)->SetValue(static_cast<std::int32_t>(value));
}

int TIntEnumInterface::GetHeight() const {
    return S(24);
}

bool TIntEnumInterface::AcceptsParameter(const TParam *AParameter) const {
    auto *integer = dynamic_cast<const TIntParam *>(AParameter);
    return integer && integer->Enum.Count() > 0;
}

void TIntEnumInterface::CreateControls(int Top) {
    TAdvComboBox *list = MakeList(this, FGroup, Top);
    list->OnClick = MakeNotifyEvent<&TIntEnumInterface::ListClick>(this);
    list->OnHelp = MakeEvent<&TParamInterface::ControlHelp>(this);
    FMainControl = list;
    FLabel = MakeLabel("", Top + S(3));
}

void TIntEnumInterface::SetParameter(TParam *AParameter, int Top, int TabOrder) {
    TParamInterface::SetParameter(AParameter, Top, TabOrder);
    auto *list = static_cast<TAdvComboBox *>(FMainControl);
    auto *param = static_cast<TIntParam *>(FParameter);
    if (param->GetVisible()) {
        TFlagGuard filling(FFilling);
        PlaceMainAndLabel(Top, S(3));
        bool same = list->Items().Count() == param->Enum.Count();
        for (int i = 0; same && i < param->Enum.Count(); ++i)
            same = list->Items().Strings(i) == param->Enum.Strings(i);
        if (!same)
            list->Items().Assign(param->Enum);
        list->SetItemIndex(param->GetValue());
    }
    ApplyState(list, TabOrder);
}

void TIntEnumInterface::ListClick(TObject *) {
    const int index = static_cast<TAdvComboBox *>(FMainControl)->ItemIndex();
    if (!FFilling && FParameter && index >= 0)
        static_cast<TIntParam *>(FParameter)->SetValue(index);
}

// =============================================================================================
// Float edit

int TFloatInterface::GetHeight() const {
    return S(24);
}

bool TFloatInterface::AcceptsParameter(const TParam *AParameter) const {
    return dynamic_cast<const TFloatParam *>(AParameter) != nullptr;
}

void TFloatInterface::CreateControls(int Top) {
    auto *edit = MakeEdit<TAdvEdit>(this, FGroup, Top);
    edit->OnInput = MakeNotifyEvent<&TFloatInterface::EditInput>(this);
    edit->OnValidate = MakeEvent<&TFloatInterface::EditValidate>(this);
    edit->OnHelp = MakeEvent<&TParamInterface::ControlHelp>(this);
    FMainControl = edit;
    FLabel = MakeLabel("", Top + S(3));
}

void TFloatInterface::SetParameter(TParam *AParameter, int Top, int TabOrder) {
    TParamInterface::SetParameter(AParameter, Top, TabOrder);
    if (FParameter->GetVisible()) {
        TFlagGuard filling(FFilling);
        PlaceMainAndLabel(Top, S(3));
        SetTextWhenDifferent(*FMainControl, static_cast<TFloatParam *>(FParameter)->Value.GetText());
    }
    ApplyState(FMainControl, TabOrder);
}

void TFloatInterface::EditValidate(TObject *, bool &Valid) {
    auto *param = static_cast<TFloatParam *>(FParameter);
    Valid =
        param && FloatTextInRange(FMainControl->Text(), param->HasMin, param->Min, param->HasMax, param->Max);
}

void TFloatInterface::EditInput(TObject *) {
    if (!FFilling && FParameter)
        static_cast<TFloatParam *>(FParameter)->Value.SetText(Trim(FMainControl->Text()));
}

// =============================================================================================
// Complex edits

TComplexInterface::~TComplexInterface() {
    CancelPick();
}

int TComplexInterface::GetHeight() const {
    return S(48);
}

bool TComplexInterface::AcceptsParameter(const TParam *AParameter) const {
    return dynamic_cast<const TComplexParam *>(AParameter) != nullptr;
}

void TComplexInterface::CreateControls(int Top) {
    for (TAdvComplexEdit **edit : {&FRealEdit, &FImagEdit}) {
        *edit = MakeEdit<TAdvComplexEdit>(this, FGroup, *edit == FRealEdit ? Top : Top + S(24));
        (*edit)->OnInput = MakeNotifyEvent<&TComplexInterface::EditInput>(this);
        (*edit)->OnValidate = MakeEvent<&TComplexInterface::EditValidate>(this);
        (*edit)->OnComplexCopy = MakeEvent<&TComplexInterface::EditCopy>(this);
        (*edit)->OnComplexPaste = MakeEvent<&TComplexInterface::EditPaste>(this);
        (*edit)->OnEyedropper = MakeNotifyEvent<&TComplexInterface::EditEyedropper>(this);
        (*edit)->OnHelp = MakeEvent<&TParamInterface::ControlHelp>(this);
    }
    FImagEdit->SetTop(Top + S(24));
    FMainControl = FRealEdit;
    FLabel = MakeLabel("", Top + S(3));
    FImagLabel = MakeLabel("", Top + S(27));
}

void TComplexInterface::SetParameter(TParam *AParameter, int Top, int TabOrder) {
    CancelPick();
    TParamInterface::SetParameter(AParameter, Top, TabOrder);
    if (FParameter->GetVisible()) {
        TFlagGuard filling(FFilling);
        FRealEdit->SetTop(Top);
        FImagEdit->SetTop(Top + S(24));
        FLabel->SetTop(Top + S(3));
        FImagLabel->SetTop(Top + S(27));
        FLabel->SetCaption(FParameter->GetCaption() + " (Re):");
        FImagLabel->SetCaption(FParameter->GetCaption() + " (Im):");
        SetTextWhenDifferent(*FRealEdit, Complex().Value.Re.GetText());
        SetTextWhenDifferent(*FImagEdit, Complex().Value.Im.GetText());
    }
    ApplyState(FRealEdit, TabOrder);
    FImagEdit->SetVisible(FParameter->GetVisible());
    FImagLabel->SetVisible(FParameter->GetVisible());
    if (FParameter->GetVisible()) {
        FImagEdit->SetEnabled(FParameter->GetEnabled());
        FImagLabel->SetEnabled(FParameter->GetEnabled());
    }
    if (TabOrder >= 0)
        FImagEdit->SetTabOrder(TabOrder + 1);
}

void TComplexInterface::EditValidate(TObject *Sender, bool &Valid) {
    if (!FParameter) {
        Valid = false;
        return;
    }
    const TComplexParam &param = Complex();
    const bool real = Sender == FRealEdit;
    Valid =
        FloatTextInRange(static_cast<TAdvEdit *>(Sender)->Text(), param.HasMin,
                         real ? param.MinRe : param.MinIm, param.HasMax, real ? param.MaxRe : param.MaxIm);
}

void TComplexInterface::EditInput(TObject *Sender) {
    if (FFilling || !FParameter)
        return;
    const std::string text = Trim(static_cast<TAdvEdit *>(Sender)->Text());
    TComplexValue &value = Complex().Value;
    if (Sender == FRealEdit)
        value.SetText(text, value.Im.GetText());
    else
        value.SetText(value.Re.GetText(), text);
}

void TComplexInterface::EditCopy(TObject *, std::string &Re, std::string &Im) {
    if (FParameter) {
        Re = Complex().Value.Re.GetText();
        Im = Complex().Value.Im.GetText();
    }
}

void TComplexInterface::EditPaste(TObject *, const std::string &Re, const std::string &Im) {
    if (FParameter)
        Complex().Value.SetText(Trim(Re), Trim(Im));
}

void TComplexInterface::EditEyedropper(TObject *Sender) {
    if (static_cast<TAdvComplexEdit *>(Sender)->Eyedropping()) {
        FRealEdit->SetEyedropping(true);
        FImagEdit->SetEyedropping(true);
        Eyedropper().StartLocation(this, MakeEvent<&TComplexInterface::EyedropperPick>(this));
    } else {
        CancelPick();
    }
}

void TComplexInterface::EyedropperPick(uint8_t Action, const TComplexValue *Value) {
    // A cancellation made by rebinding or freeing passes no old value: the parameter keeps its own.
    TComplexValue *old = FCancelling || !FParameter ? nullptr : &Complex().Value;
    EyedropperShowLocation(Action, FRealEdit, FImagEdit, Value, old);
}

void TComplexInterface::CancelPick() {
    if (!Eyedropper().IsActive() || Eyedropper().PickOwner() != this)
        return;
    TFlagGuard cancelling(FCancelling);
    Eyedropper().Cancel();
}

// =============================================================================================
// Colour selector

TColorInterface::~TColorInterface() {
    CancelPick();
}

int TColorInterface::GetHeight() const {
    return S(24);
}

bool TColorInterface::AcceptsParameter(const TParam *AParameter) const {
    return dynamic_cast<const TColorParam *>(AParameter) != nullptr;
}

void TColorInterface::CreateControls(int Top) {
    FSelector = new TColorSelector(this);
    FSelector->SetParent(FGroup);
    FSelector->SetBounds(S(108), Top, FGroup->ClientWidth() - S(112), S(21));
    FSelector->SetAnchors(akLeft | akTop | akRight);
    FSelector->SetPreviewEnabled(false);
    FSelector->OnChange = MakeNotifyEvent<&TColorInterface::SelectorChange>(this);
    FSelector->OnEyedropper = MakeNotifyEvent<&TColorInterface::SelectorEyedropper>(this);
    FSelector->OnHelp = MakeEvent<&TParamInterface::ControlHelp>(this);
    FLabel = MakeLabel("", Top + S(3));
}

void TColorInterface::SetParameter(TParam *AParameter, int Top, int TabOrder) {
    CancelPick();
    TParamInterface::SetParameter(AParameter, Top, TabOrder);
    const bool visible = FParameter->GetVisible();
    if (visible) {
        TFlagGuard filling(FFilling);
        FSelector->SetTop(Top);
        FLabel->SetTop(Top + S(3));
        FLabel->SetCaption(FParameter->GetCaption() + ":");
        const std::uint32_t pixel = static_cast<TColorParam *>(FParameter)->GetValue();
        FSelector->SetSelection(static_cast<TColor>(PixelToColor(pixel)), static_cast<int>(pixel >> 24));
        FSelector->SetEnabled(FParameter->GetEnabled());
        FLabel->SetEnabled(FParameter->GetEnabled());
    }
    FSelector->SetVisible(visible);
    FLabel->SetVisible(visible);
}

void TColorInterface::SelectorChange(TObject *) {
    if (!FFilling && FParameter)
        static_cast<TColorParam *>(FParameter)
            ->SetValue(ColorToPixel(static_cast<std::uint32_t>(FSelector->SelectedColor()),
                                    static_cast<std::uint8_t>(FSelector->SelectedOpacity())));
}

void TColorInterface::SelectorEyedropper(TObject *) {
    if (FSelector->Eyedropping())
        Eyedropper().StartColor(this, MakeEvent<&TColorInterface::EyedropperPick>(this));
    else
        CancelPick();
}

void TColorInterface::EyedropperPick(uint8_t Action, TColor Color) {
    if (!FParameter)
        return;
    const TColor old = static_cast<TColor>(PixelToColor(static_cast<TColorParam *>(FParameter)->GetValue()));
    EyedropperShowColor(Action, FSelector, Color, old);
    if (Action == eaPicked && !FCancelling)
        static_cast<TColorParam *>(FParameter)
            ->SetValue(ColorToPixel(static_cast<std::uint32_t>(Color), 255));
}

void TColorInterface::CancelPick() {
    if (!Eyedropper().IsActive() || Eyedropper().PickOwner() != this)
        return;
    TFlagGuard cancelling(FCancelling);
    Eyedropper().Cancel();
}

// =============================================================================================
// Function lists

int TCustomFuncInterface::GetHeight() const {
    return S(24);
}

void TCustomFuncInterface::CreateControls(int Top) {
    TAdvComboBox *list = MakeList(this, FGroup, Top);
    for (int i = 0; i < FRowCount; ++i)
        list->Items().Add(FRows[i]);
    list->SetDropDownCount(std::max(15, FRowCount == 19 ? 19 : 15));
    list->OnClick = MakeNotifyEvent<&TCustomFuncInterface::ListClick>(this);
    list->OnHelp = MakeEvent<&TParamInterface::ControlHelp>(this);
    FMainControl = list;
    FLabel = MakeLabel("", Top + S(4));
}

void TCustomFuncInterface::SetParameter(TParam *AParameter, int Top, int TabOrder) {
    TParamInterface::SetParameter(AParameter, Top, TabOrder);
    if (FParameter->GetVisible()) {
        TFlagGuard filling(FFilling);
        PlaceMainAndLabel(Top, S(4));
        static_cast<TAdvComboBox *>(FMainControl)
            ->SetItemIndex(static_cast<TCustomFuncParam *>(FParameter)->GetValue() - FIdOffset);
    }
    ApplyState(FMainControl, TabOrder);
}

void TCustomFuncInterface::ListClick(TObject *) {
    const int index = static_cast<TAdvComboBox *>(FMainControl)->ItemIndex();
    if (!FFilling && FParameter && index >= 0)
        static_cast<TCustomFuncParam *>(FParameter)->SetValue(static_cast<std::uint8_t>(index + FIdOffset));
}

TFuncInterface::TFuncInterface(TComponent *AOwner, TAdvGroup *AGroup)
    : TCustomFuncInterface(AOwner, AGroup, 0, FunctionRows, 29) {}

bool TFuncInterface::AcceptsParameter(const TParam *AParameter) const {
    return dynamic_cast<const TFuncParam *>(AParameter) != nullptr;
}

TColorFuncInterface::TColorFuncInterface(TComponent *AOwner, TAdvGroup *AGroup)
    : TCustomFuncInterface(AOwner, AGroup, FirstMergeId, MergeRows, 19) {}

bool TColorFuncInterface::AcceptsParameter(const TParam *AParameter) const {
    return dynamic_cast<const TColorFuncParam *>(AParameter) != nullptr;
}

// =============================================================================================
// Heading

int THeadingInterface::GetHeight() const {
    return S(20);
}

bool THeadingInterface::AcceptsParameter(const TParam *AParameter) const {
    // Whatever the factory does not know is shown as a heading.
    return AParameter && !dynamic_cast<const TBoolParam *>(AParameter) &&
           !dynamic_cast<const TIntParam *>(AParameter) && !dynamic_cast<const TFloatParam *>(AParameter) &&
           !dynamic_cast<const TComplexParam *>(AParameter) &&
           !dynamic_cast<const TColorParam *>(AParameter) &&
           !dynamic_cast<const TCustomFuncParam *>(AParameter);
}

void THeadingInterface::CreateControls(int Top) {
    FLabel = MakeLabel("", Top + S(1));
    FLabel->SetShowAccelChar(false);
    FLabel->Font().Assign(FGroup->Font());
    FLabel->Font().SetStyle(FLabel->Font().Style() | fsBold);
    FLine = new THeadingLine(this);
    FLine->SetParent(FGroup);
    FLine->SetAnchors(akLeft | akTop | akRight);
}

void THeadingInterface::SetParameter(TParam *AParameter, int Top, int TabOrder) {
    TParamInterface::SetParameter(AParameter, Top, TabOrder);
    const bool visible = FParameter->GetVisible();
    if (visible) {
        FLabel->SetCaption(FParameter->GetCaption());
        int width = S(8);
        if (FGroup->HandleAllocated()) {
            TControlCanvas canvas;
            canvas.SetControl(FLabel);
            canvas.Font().Assign(FLabel->Font());
            width += canvas.TextWidth(FParameter->GetCaption());
        } else {
            width += static_cast<int>(FParameter->GetCaption().size()) * S(7);
        }
        FLabel->SetBounds(S(4), Top + S(1), width, S(16));
        const int left = S(4) + width;
        FLine->SetBounds(left, Top + S(8), std::max(0, FGroup->ClientWidth() - S(4) - left), 5);
    }
    FLabel->SetVisible(visible);
    FLine->SetVisible(visible);
}

// =============================================================================================
// "More Parameters:"

int TSelectInterface::GetHeight() const {
    return S(24) +
           (FShown && FShown->Parameter() && FShown->Parameter()->GetVisible() ? FShown->GetHeight() : 0);
}

void TSelectInterface::CreateControls(int Top) {
    FList = MakeList(this, FGroup, Top);
    FList->OnClick = MakeNotifyEvent<&TSelectInterface::ListClick>(this);
    FMainControl = FList;
    FLabel = MakeLabel("More Parameters:", Top + S(3));
    FLabel->Font().Assign(FGroup->Font());
    FLabel->Font().SetStyle(FLabel->Font().Style() | fsBold);
}

void TSelectInterface::SetParameters(TParamList *AList, int AFirst, int TabOrder, int Top) {
    FList_ = AList;
    FFirst = AFirst;
    FTabOrder = TabOrder;
    FList->SetTop(Top);
    FLabel->SetTop(Top + S(3));
    TStringList rows;
    int chosen = -1;
    for (int i = AFirst; i < AList->GetCount(); ++i) {
        TParam *param = AList->GetItem(i);
        if (!param->GetVisible())
            continue;
        if (chosen < 0 && param->GetName() == FChosenName)
            chosen = rows.Count();
        rows.Add(dynamic_cast<THeadingParam *>(param) ? "---- " + param->GetCaption() + " ----"
                                                      : param->GetCaption());
    }
    bool same = rows.Count() == FList->Items().Count();
    for (int i = 0; same && i < rows.Count(); ++i)
        same = rows.Strings(i) == FList->Items().Strings(i);
    if (!same)
        FList->Items().Assign(rows);
    FList->SetItemIndex(rows.Count() == 0 ? -1 : std::max(chosen, 0));
    FList->SetTabOrder(TabOrder);
    ShowChosen();
}

void TSelectInterface::ShowChosen() {
    const int row = FList->ItemIndex();
    if (!FList_ || row < 0)
        return;
    TParam *chosen = nullptr;
    for (int i = FFirst, n = 0; i < FList_->GetCount() && !chosen; ++i)
        if (FList_->GetItem(i)->GetVisible() && n++ == row)
            chosen = FList_->GetItem(i);
    if (!chosen)
        return;
    const int top = FList->Top() + S(24);
    if (FShown && FShown->AcceptsParameter(chosen)) {
        FShown->SetParameter(chosen, top, FTabOrder + 1);
    } else {
        delete FShown;
        FShown = nullptr;
        FShown = CreateParamInterface(this, FGroup, chosen, FTabOrder + 1, top);
    }
    FChosenName = chosen->GetName();
}

void TSelectInterface::ListClick(TObject *) {
    ShowChosen();
    FGroup->UpdateScrollRange();
    FGroup->VertScrollBar().SetPosition(FGroup->VertScrollBar().Range());
}

// =============================================================================================
// TFormulaInterface

namespace {
const char *const FormulaInterfaceClass = "TFormulaInterfaceWindow";
}

TFormulaInterface::TFormulaInterface(TComponent *AOwner) : TComponent(AOwner) {
    FWindow =
        AllocateUtilityWindow(FormulaInterfaceClass, &TFormulaInterface::WindowProc, HWND_MESSAGE, this);
}

TFormulaInterface::~TFormulaInterface() {
    ClearControls();
    if (FWindow)
        DestroyWindow(FWindow);
}

int TFormulaInterface::OwnGroupLimit() {
    if (OwnGroupLimitSetting > 0)
        return OwnGroupLimitSetting;
    // Windows 9x ran out of window resources long before NT does.
    return (GetVersion() & 0x80000000u) == 0 ? 100 : 40;
}

void TFormulaInterface::SetOwnGroupLimit(int Value) {
    OwnGroupLimitSetting = Value;
}

LRESULT CALLBACK TFormulaInterface::WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    if (Msg == WM_USER) {
        auto *self = reinterpret_cast<TFormulaInterface *>(GetWindowLongPtrA(Window, GWLP_USERDATA));
        // A window procedure is a border: the failure is shown, the groups built so far stay.
        try {
            if (self)
                self->Relayout();
        } catch (...) {
            if (Application)
                Application->HandleException(self);
        }
        return 0;
    }
    return DefWindowProcA(Window, Msg, WParam, LParam);
}

void TFormulaInterface::SetParameters(TAdvGroup *AGroup, TLexical *AFormula) {
    if (AGroup != FGroup) {
        ClearControls();
        if (FGroup)
            FGroup->VertScrollBar().SetPosition(0);
        FGroup = AGroup;
    }
    FFormula = AFormula;
    PostMessageA(FWindow, WM_USER, 0, 0);
}

void TFormulaInterface::FreeGroup(int Slot) {
    TParamInterface *group = FGroups.at(Slot);
    FGroups.erase(FGroups.begin() + Slot);
    delete group;
}

void TFormulaInterface::ClearControls() {
    while (!FGroups.empty())
        FreeGroup(static_cast<int>(FGroups.size()) - 1);
}

void TFormulaInterface::PlaceParameter(int Slot, TParam *Parameter, int &Top, int &TabOrder) {
    TParamInterface *group;
    if (Slot >= static_cast<int>(FGroups.size())) {
        group = CreateParamInterface(this, FGroup, Parameter, TabOrder, Top);
        FGroups.push_back(group);
    } else if (FGroups[Slot]->AcceptsParameter(Parameter)) {
        group = FGroups[Slot];
        group->SetParameter(Parameter, Top, TabOrder);
    } else {
        delete FGroups[Slot];
        FGroups[Slot] = nullptr;
        group = CreateParamInterface(this, FGroup, Parameter, TabOrder, Top);
        FGroups[Slot] = group;
    }
    if (Parameter->GetVisible())
        Top += group->GetHeight();
    TabOrder += group->GetTabStopCount();
}

void TFormulaInterface::PlaceRemaining(int Slot, int First, int &Top, int &TabOrder) {
    TParamList &params = FFormula->GetParams();
    int visible = 0;
    TParam *single = nullptr;
    for (int i = First; i < params.GetCount(); ++i)
        if (params.GetItem(i)->GetVisible()) {
            ++visible;
            single = params.GetItem(i);
        }
    if (visible == 0)
        return;
    if (visible == 1) {
        PlaceParameter(Slot, single, Top, TabOrder);
        return;
    }
    auto *select =
        Slot < static_cast<int>(FGroups.size()) ? dynamic_cast<TSelectInterface *>(FGroups[Slot]) : nullptr;
    if (!select) {
        select = new TSelectInterface(this, FGroup);
        try {
            select->CreateControls(Top);
        } catch (...) {
            delete select;
            throw;
        }
        if (Slot < static_cast<int>(FGroups.size())) {
            delete FGroups[Slot];
            FGroups[Slot] = select;
        } else {
            FGroups.push_back(select);
        }
    }
    select->SetParameters(&params, First, TabOrder, Top);
    Top += select->GetHeight();
    TabOrder += select->GetTabStopCount();
}

void TFormulaInterface::Relayout() {
    if (!FGroup || !FFormula)
        return;
    const int limit = OwnGroupLimit();
    int top = S(6) - FGroup->VertScrollBar().Position();
    int tabOrder = 0;
    int slot = 0;
    TParamList &params = FFormula->GetParams();
    FGroup->DisableAlign();
    try {
        for (int i = 0; i < params.GetCount(); ++i) {
            TParam *param = params.GetItem(i);
            if (!param->GetVisible())
                continue;
            if (slot == limit) {
                PlaceRemaining(slot, i, top, tabOrder);
                ++slot;
                break;
            }
            PlaceParameter(slot, param, top, tabOrder);
            ++slot;
        }
        while (static_cast<int>(FGroups.size()) > slot)
            FreeGroup(static_cast<int>(FGroups.size()) - 1);
    } catch (...) {
        FGroup->EnableAlign();
        throw;
    }
    FGroup->EnableAlign();
    if (FGroup->HandleAllocated()) {
        const UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW;
        for (int i = 0; i < FGroup->ControlCount(); ++i)
            if (auto *child = dynamic_cast<TWinControl *>(FGroup->Controls(i)))
                if (child->HandleAllocated() && child->Visible())
                    SetWindowPos(child->Handle(), nullptr, 0, 0, 0, 0, flags);
        if (FGroup->Visible())
            SetWindowPos(FGroup->Handle(), nullptr, 0, 0, 0, 0, flags);
    }
    FGroup->UpdateScrollRange();
}

// =============================================================================================
// Help popup

THelpForm *ParameterHelpForm() {
    return HelpForm;
}

void ShowParameterHelp(int X, int Y, const std::string &Text) {
    if (HelpForm) {
        if (Text.empty())
            HelpForm->CloseHelp();
        else
            HelpForm->SetText(X, Y, Text);
        return;
    }
    if (Text.empty())
        return;
    HelpForm = new THelpForm(Application, X, Y, Text);
    HelpForm->Show();
}

THelpForm::THelpForm(TComponent *AOwner, int X, int Y, const std::string &Text) : TForm(AOwner), FText(Text) {
    SetBorderStyle(bsNone);
    SetFormStyle(fsStayOnTop);
    if (TConfigManager *config = ConfigManager()) {
        const TFontSetting &font = config->General->Font;
        if (!font.Name.empty())
            Font().SetName(font.Name);
        Font().SetSize(font.Size);
        Font().SetStyle(static_cast<TFontStyles>(font.Style));
    }
    FMenu = new TPopupMenu(this);
    auto addItem = [this](const char *Caption, const char *Hint, TNotifyEvent Click) {
        auto *item = new TMenuItem(FMenu);
        item->SetCaption(Caption);
        item->SetHint(Hint);
        item->OnClick = Click;
        FMenu->Items().Add(item);
    };
    addItem("&Copy", "Copies the help text to the Clipboard.", MakeNotifyEvent<&THelpForm::CopyClick>(this));
    addItem("Cl&ose", "Closes the help window.", MakeNotifyEvent<&THelpForm::CloseClick>(this));
    Application->AddMessageFilter(MakeEvent<&THelpForm::MessageFilter>(this));

    const SIZE size = LayoutSize([this](int Width) { return MeasureText(Width); });
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const int width = static_cast<int>(size.cx), height = static_cast<int>(size.cy);
    const int left = std::max(10, std::min(X - width / 2, screenWidth - width - 10));
    const int top = std::max(10, std::min(Y + 10, screenHeight - height - 10));
    SetBounds(left, top, size.cx, size.cy);
}

THelpForm::~THelpForm() {
    if (Application)
        Application->RemoveMessageFilter(MakeEvent<&THelpForm::MessageFilter>(this));
    if (HelpForm == this)
        HelpForm = nullptr;
}

SIZE THelpForm::MeasureText(int MaxWidth) {
    HDC dc = GetDC(nullptr);
    HFONT old = static_cast<HFONT>(SelectObject(dc, Font().Handle()));
    RECT r = {0, 0, MaxWidth, 0};
    DrawTextA(dc, FText.c_str(), static_cast<int>(FText.size()), &r,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

void THelpForm::SetText(int X, int Y, const std::string &Text) {
    if (Text == FText)
        return;
    FText = Text;
    SetBounds(X, Y, Width(), Height());
}

void THelpForm::Paint() {
    RECT client = ClientRect();
    Canvas().Brush().SetColor(clInfoBk);
    Canvas().FillRect(client);
    DrawEdge(Canvas().Handle(), &client, BDR_RAISEDOUTER, BF_RECT);
    RECT text = {4, 0, client.right - 4, 0};
    Canvas().Font().Assign(Font());
    Canvas().Font().SetColor(clInfoText);
    SetBkMode(Canvas().Handle(), TRANSPARENT);
    DrawTextA(Canvas().Handle(), FText.c_str(), static_cast<int>(FText.size()), &text,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    const int height = text.bottom - text.top;
    text.top = (client.bottom - height) / 2;
    text.bottom = text.top + height;
    text.right = client.right - 4;
    DrawTextA(Canvas().Handle(), FText.c_str(), static_cast<int>(FText.size()), &text,
              DT_WORDBREAK | DT_NOPREFIX);
}

void THelpForm::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TForm::MouseUp(Button, Shift, X, Y);
    if (Button == mbLeft)
        CloseHelp();
}

TPopupMenu *THelpForm::GetPopupMenu() {
    return FMenu;
}

void THelpForm::MessageFilter(MSG &Msg, bool &Handled) {
    if (FClosing)
        return;
    switch (Msg.message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
        if (!HandleAllocated() || (Msg.hwnd != Handle() && !IsChild(Handle(), Msg.hwnd)))
            CloseHelp();
        break;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
        CloseHelp();
        break;
    default:
        break;
    }
}

void THelpForm::CopyClick(TObject *) {
    if (TClipboardManager *clipboard = ClipboardManager())
        clipboard->SetText(FText, cbText);
}

void THelpForm::CloseClick(TObject *) {
    CloseHelp();
}

void THelpForm::CloseHelp() {
    if (FClosing)
        return;
    FClosing = true;
    // The filter and the global go at once; the window itself is freed once the message that
    // asked for the close has been handled.
    Application->RemoveMessageFilter(MakeEvent<&THelpForm::MessageFilter>(this));
    if (HelpForm == this)
        HelpForm = nullptr;
    Hide();
    Release();
}
