#include "CompValues.h"

namespace {

void CheckSyntax(const std::string &Text) {
    if (!IsValidFloatText(Text))
        throw EFloatValueError("Invalid floating-point number: '%s'", Text);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TFloatValue

void TFloatValue::SetText(const std::string &Text) {
    if (Text == FText)
        return;
    CheckSyntax(Text);
    if (OnValidate) {
        bool accept = true;
        OnValidate(this, Text, accept);
        if (!accept) {
            if (AllowOutOfRange)
                return;
            throw EFloatValueError("Floating-point number out of range: '%s'", Text);
        }
    }
    FText = Text;
    OnChange(this);
}

void TFloatValue::SetTextQuiet(const std::string &Text) {
    CheckSyntax(Text);
    FText = Text;
}

void TFloatValue::SetValue(long double X) {
    SetText(FloatToStrF(X, ffGeneral, 19, 0));
}

// ---------------------------------------------------------------------------------------------
// TComplexValue

TComplexValue::TComplexValue() {
    Re.OnChange = MakeNotifyEvent<&TComplexValue::PartChanged>(this);
    Im.OnChange = MakeNotifyEvent<&TComplexValue::PartChanged>(this);
    Re.OnValidate = MakeEvent<&TComplexValue::PartValidate>(this);
    Im.OnValidate = MakeEvent<&TComplexValue::PartValidate>(this);
}

void TComplexValue::SetText(const std::string &ReText, const std::string &ImText) {
    if (ReText == Re.GetText() && ImText == Im.GetText())
        return;
    // Both texts are checked before anything changes, so a bad imaginary part cannot leave a new
    // real part behind without a change notification.
    CheckSyntax(ReText);
    CheckSyntax(ImText);
    if (OnValidate) {
        bool accept = true;
        OnValidate(this, ReText, ImText, accept);
        if (!accept) {
            if (GetAllowOutOfRange())
                return;
            throw EFloatValueError("Complex value out of range: (%s, %s)", ReText, ImText);
        }
    }
    Re.SetTextQuiet(ReText);
    Im.SetTextQuiet(ImText);
    OnChange(this);
}

void TComplexValue::SetValue(long double ARe, long double AIm) {
    SetText(FloatToStrF(ARe, ffGeneral, 15, 0), FloatToStrF(AIm, ffGeneral, 15, 0));
}

void TComplexValue::PartChanged(TObject *Sender) {
    OnChange(this);
}

void TComplexValue::PartValidate(TObject *Sender, const std::string &Text, bool &Accept) {
    if (!OnValidate)
        return;
    if (Sender == &Re)
        OnValidate(this, Text, Im.GetText(), Accept);
    else
        OnValidate(this, Re.GetText(), Text, Accept);
}
