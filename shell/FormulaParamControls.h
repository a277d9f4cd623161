// Editing controls for the parameters a formula object declares (a transformation, a fractal
// formula or a coloring algorithm): one control group per visible parameter, stacked on a
// scrolling group, rebound in place as the formula changes, each writing its edits straight into
// the parameter (whose change notification makes the undo step and recalculates the layer); and
// the small popup that shows a parameter's hint text.
#pragma once

#include <windows.h>

#include <cmath>
#include <string>
#include <vector>

#include "AdvCtrls.h"
#include "ColorSelector.h"
#include "CompParams.h"
#include "Forms.h"
#include "Menus.h"

class TLexical;

DECLARE_EXCEPTION(EInterfaceError, Exception);

// Whether Text (blanks around it ignored) is a whole number in the 32-bit range; Value is set.
bool ParseIntegerText(const std::string &Text, long long &Value);

// The control group of one parameter. Groups are made by CreateParamInterface, which builds the
// controls and binds the parameter; a group can be rebound to another parameter it accepts.
class TParamInterface : public TComponent {
public:
    DECLARE_CLASS_NAME(TParamInterface)
    TParamInterface(TComponent *AOwner, TAdvGroup *AGroup);

    virtual int GetHeight() const = 0;
    virtual int GetTabStopCount() const { return 1; }
    // Builds the controls at Top (not yet placed or filled).
    virtual void CreateControls(int Top) = 0;
    // Binds the parameter: the base checks AcceptsParameter (EInterfaceError otherwise) and stores
    // it; descendants place and fill their controls when it is visible.
    virtual void SetParameter(TParam *AParameter, int Top, int TabOrder);
    virtual bool AcceptsParameter(const TParam *AParameter) const = 0;

    TParam *Parameter() const { return FParameter; }
    TAdvGroup *Group() const { return FGroup; }
    TWinControl *MainControl() const { return FMainControl; }
    TAdvLabel *Label() const { return FLabel; }

    // Shows the parameter's hint for a help request at a screen point.
    void ControlHelp(TObject *Sender, int X, int Y);

protected:
    // A label at (4, Top) of width 101 reading Caption.
    TAdvLabel *MakeLabel(const std::string &Caption, int Top);
    // The main control at Top, the label LabelOffset lower reading the parameter's caption.
    void PlaceMainAndLabel(int Top, int LabelOffset);
    // Visible, enabled and tab order of the main control and the label.
    void ApplyState(TWinControl *Control, int TabOrder);

    TAdvGroup *FGroup;
    TParam *FParameter = nullptr;
    TWinControl *FMainControl = nullptr;
    TAdvLabel *FLabel = nullptr;
    // Set while the controls are filled from the parameter: their change events write nothing.
    bool FFilling = false;
};

// The factory: the group class that shows the parameter's kind, built at Top and bound.
TParamInterface *CreateParamInterface(TComponent *AOwner, TAdvGroup *AGroup, TParam *AParameter, int TabOrder,
                                      int Top);

class TBoolInterface : public TParamInterface {
public:
    DECLARE_CLASS_NAME(TBoolInterface)
    using TParamInterface::TParamInterface;
    int GetHeight() const override;
    void CreateControls(int Top) override;
    void SetParameter(TParam *AParameter, int Top, int TabOrder) override;
    bool AcceptsParameter(const TParam *AParameter) const override;

private:
    void CheckClick(TObject *Sender);
};

class TIntInterface : public TParamInterface {
public:
    DECLARE_CLASS_NAME(TIntInterface)
    using TParamInterface::TParamInterface;
    int GetHeight() const override;
    void CreateControls(int Top) override;
    void SetParameter(TParam *AParameter, int Top, int TabOrder) override;
    bool AcceptsParameter(const TParam *AParameter) const override;

private:
    void EditInput(TObject *Sender);
    void EditValidate(TObject *Sender, bool &Valid);
};

class TIntEnumInterface : public TParamInterface {
public:
    DECLARE_CLASS_NAME(TIntEnumInterface)
    using TParamInterface::TParamInterface;
    int GetHeight() const override;
    void CreateControls(int Top) override;
    void SetParameter(TParam *AParameter, int Top, int TabOrder) override;
    bool AcceptsParameter(const TParam *AParameter) const override;

private:
    void ListClick(TObject *Sender);
};

class TFloatInterface : public TParamInterface {
public:
    DECLARE_CLASS_NAME(TFloatInterface)
    using TParamInterface::TParamInterface;
    int GetHeight() const override;
    void CreateControls(int Top) override;
    void SetParameter(TParam *AParameter, int Top, int TabOrder) override;
    bool AcceptsParameter(const TParam *AParameter) const override;

private:
    void EditInput(TObject *Sender);
    void EditValidate(TObject *Sender, bool &Valid);
};

class TComplexInterface : public TParamInterface {
public:
    DECLARE_CLASS_NAME(TComplexInterface)
    using TParamInterface::TParamInterface;
    ~TComplexInterface() override;
    int GetHeight() const override;
    int GetTabStopCount() const override { return 2; }
    void CreateControls(int Top) override;
    void SetParameter(TParam *AParameter, int Top, int TabOrder) override;
    bool AcceptsParameter(const TParam *AParameter) const override;
    TAdvComplexEdit *RealEdit() const { return FRealEdit; }
    TAdvComplexEdit *ImagEdit() const { return FImagEdit; }

private:
    TComplexParam &Complex() const { return static_cast<TComplexParam &>(*FParameter); }
    void EditInput(TObject *Sender);
    void EditValidate(TObject *Sender, bool &Valid);
    void EditCopy(TObject *Sender, std::string &Re, std::string &Im);
    void EditPaste(TObject *Sender, const std::string &Re, const std::string &Im);
    void EditEyedropper(TObject *Sender);
    void EyedropperPick(uint8_t Action, const TComplexValue *Value);
    void CancelPick();

    TAdvComplexEdit *FRealEdit = nullptr;
    TAdvComplexEdit *FImagEdit = nullptr;
    TAdvLabel *FImagLabel = nullptr;
    bool FCancelling = false;
};

class TColorInterface : public TParamInterface {
public:
    DECLARE_CLASS_NAME(TColorInterface)
    using TParamInterface::TParamInterface;
    ~TColorInterface() override;
    int GetHeight() const override;
    int GetTabStopCount() const override { return 0; }
    void CreateControls(int Top) override;
    void SetParameter(TParam *AParameter, int Top, int TabOrder) override;
    bool AcceptsParameter(const TParam *AParameter) const override;
    TColorSelector *Selector() const { return FSelector; }

private:
    void SelectorChange(TObject *Sender);
    void SelectorEyedropper(TObject *Sender);
    void EyedropperPick(uint8_t Action, TColor Color);
    void CancelPick();

    TColorSelector *FSelector = nullptr;
    bool FCancelling = false;
};

class TCustomFuncInterface : public TParamInterface {
public:
    DECLARE_CLASS_NAME(TCustomFuncInterface)
    int GetHeight() const override;
    void CreateControls(int Top) override;
    void SetParameter(TParam *AParameter, int Top, int TabOrder) override;

protected:
    TCustomFuncInterface(TComponent *AOwner, TAdvGroup *AGroup, int AIdOffset, const char *const *ARows,
                         int ARowCount)
        : TParamInterface(AOwner, AGroup), FIdOffset(AIdOffset), FRows(ARows), FRowCount(ARowCount) {}

private:
    void ListClick(TObject *Sender);
    int FIdOffset;
    const char *const *FRows;
    int FRowCount;
};

class TFuncInterface : public TCustomFuncInterface {
public:
    DECLARE_CLASS_NAME(TFuncInterface)
    TFuncInterface(TComponent *AOwner, TAdvGroup *AGroup);
    bool AcceptsParameter(const TParam *AParameter) const override;
};

class TColorFuncInterface : public TCustomFuncInterface {
public:
    DECLARE_CLASS_NAME(TColorFuncInterface)
    TColorFuncInterface(TComponent *AOwner, TAdvGroup *AGroup);
    bool AcceptsParameter(const TParam *AParameter) const override;
};

class THeadingInterface : public TParamInterface {
public:
    DECLARE_CLASS_NAME(THeadingInterface)
    using TParamInterface::TParamInterface;
    int GetHeight() const override;
    int GetTabStopCount() const override { return 0; }
    void CreateControls(int Top) override;
    void SetParameter(TParam *AParameter, int Top, int TabOrder) override;
    bool AcceptsParameter(const TParam *AParameter) const override;

private:
    TControl *FLine = nullptr;
};

// The parameters past the limit of groups of their own: a list of them, and below it the group
// of the one chosen. The choice is kept by name across rebinding.
class TSelectInterface : public TParamInterface {
public:
    DECLARE_CLASS_NAME(TSelectInterface)
    using TParamInterface::TParamInterface;
    int GetHeight() const override;
    int GetTabStopCount() const override { return 2; }
    void CreateControls(int Top) override;
    void SetParameter(TParam *AParameter, int Top, int TabOrder) override {}
    bool AcceptsParameter(const TParam *AParameter) const override { return false; }
    void SetParameters(TParamList *AList, int AFirst, int TabOrder, int Top);
    void ShowChosen();
    TAdvComboBox *List() const { return FList; }
    TParamInterface *Shown() const { return FShown; }

private:
    void ListClick(TObject *Sender);
    TParamInterface *FShown = nullptr;
    TParamList *FList_ = nullptr;
    int FFirst = 0;
    std::string FChosenName;
    TAdvComboBox *FList = nullptr;
    int FTabOrder = 0;
};

// Shows the parameters of a formula object on a scrolling group; the layout runs when the posted
// request arrives, so that many changes in a row lay out once.
class TFormulaInterface : public TComponent {
public:
    DECLARE_CLASS_NAME(TFormulaInterface)
    explicit TFormulaInterface(TComponent *AOwner);
    ~TFormulaInterface() override;

    void SetParameters(TAdvGroup *AGroup, TLexical *AFormula);
    void ClearControls();
    // Lays out now (what the posted request does).
    void Relayout();

    int GroupCount() const { return static_cast<int>(FGroups.size()); }
    TParamInterface *Groups(int Index) const { return FGroups.at(Index); }
    TAdvGroup *Group() const { return FGroup; }
    TLexical *Formula() const { return FFormula; }

    // The number of parameters that get groups of their own before the rest go into a "More
    // Parameters:" list: 100 on Windows NT, 40 on other systems. Settable (0 restores the system's).
    static int OwnGroupLimit();
    static void SetOwnGroupLimit(int Value);

private:
    static LRESULT CALLBACK WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam);
    void PlaceParameter(int Slot, TParam *Parameter, int &Top, int &TabOrder);
    void PlaceRemaining(int Slot, int First, int &Top, int &TabOrder);
    void FreeGroup(int Slot);

    TAdvGroup *FGroup = nullptr;
    TLexical *FFormula = nullptr;
    HWND FWindow = nullptr;
    std::vector<TParamInterface *> FGroups;
};

// The hint popup: one at most. An empty text closes an open one; another text goes to the open
// one; with none open a non-empty text opens one centred under (X, Y).
void ShowParameterHelp(int X, int Y, const std::string &Text);

class THelpForm : public TForm {
public:
    DECLARE_CLASS_NAME(THelpForm)
    THelpForm(TComponent *AOwner, int X, int Y, const std::string &Text);
    ~THelpForm() override;
    // A different text is stored and the window's corner moves to (X, Y); its size stays.
    void SetText(int X, int Y, const std::string &Text);
    const std::string &Text() const { return FText; }
    void CloseHelp();

    // The popup's size for a text measured by Measure (width limit in, text size out).
    template <class TMeasure> static SIZE LayoutSize(TMeasure Measure);

protected:
    void Paint() override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    TPopupMenu *GetPopupMenu() override;

private:
    void MessageFilter(MSG &Msg, bool &Handled);
    void CopyClick(TObject *Sender);
    void CloseClick(TObject *Sender);
    SIZE MeasureText(int MaxWidth);

    std::string FText;
    TPopupMenu *FMenu = nullptr;
    bool FClosing = false;
};

// The open popup, nullptr without one.
THelpForm *ParameterHelpForm();

template <class TMeasure> SIZE THelpForm::LayoutSize(TMeasure Measure) {
    SIZE text = Measure(250);
    if (text.cx > 125 && 4 * text.cy > 750) {
        const double area = static_cast<double>(text.cy) * 250;
        text = Measure(static_cast<int>(std::lround(std::sqrt(area / 0.75))));
    }
    return SIZE{text.cx + 8, text.cy + 8};
}
