// Exact decimal values: numbers the user typed, kept as their decimal text so that no digit is lost
// by a round trip through a machine number. Owners validate changes and hear about them.
#pragma once

#include <string>

#include "Classes.h"
#include "CompDefinitions.h"
#include "SysUtils.h"

// Refused texts.
DECLARE_EXCEPTION(EFloatValueError, Exception);

// OnValidate of a float value: Accept starts true; a handler clears it to refuse Text.
using TFloatValidateEvent = TMethod<void(TObject *Sender, const std::string &Text, bool &Accept)>;
// OnValidate of a complex value, with both part texts.
using TComplexValidateEvent =
    TMethod<void(TObject *Sender, const std::string &ReText, const std::string &ImText, bool &Accept)>;

class TFloatValue : public TObject {
public:
    TFloatValue() = default;
    explicit TFloatValue(const std::string &Text) : FText(Text) {
        if (!IsValidFloatText(Text))
            throw EFloatValueError("Invalid floating-point number: '%s'", Text);
    }
    TFloatValue(const TFloatValue &) = delete;
    TFloatValue &operator=(const TFloatValue &) = delete;
    DECLARE_CLASS_NAME(TFloatValue)

    const std::string &GetText() const { return FText; }
    // Nothing happens for the current text. Syntax errors raise EFloatValueError "Invalid
    // floating-point number: '%s'"; a text OnValidate refuses raises "Floating-point number out of
    // range: '%s'", or is ignored when AllowOutOfRange is set. An accepted text is stored and
    // OnChange fires.
    void SetText(const std::string &Text);
    // Checks the syntax (as SetText) and stores the text without asking or telling anyone.
    void SetTextQuiet(const std::string &Text);

    // The text as an 80-bit number; never fails (overflow gives infinity, underflow 0).
    long double GetValue() const { return FloatTextToExtended(FText); }
    // SetText with X in general format with 19 significant digits.
    void SetValue(long double X);
    void Assign(const TFloatValue &Other) { SetText(Other.FText); }
    void AssignLiteral(const TLiteral &Literal) { SetText(Literal.GetText()); }

    bool AllowOutOfRange = false;
    TNotifyEvent OnChange;
    TFloatValidateEvent OnValidate;

private:
    std::string FText = "0";
};

// Two exact decimal parts. The parts' own events belong to the complex value: a part's change fires
// the complex OnChange, and a part's validation asks the complex OnValidate with both texts.
class TComplexValue : public TObject {
public:
    TComplexValue();
    TComplexValue(const TComplexValue &) = delete;
    TComplexValue &operator=(const TComplexValue &) = delete;
    DECLARE_CLASS_NAME(TComplexValue)

    // Nothing happens when both texts are the current ones. Both texts must be valid numbers
    // (EFloatValueError "Invalid floating-point number: '%s'", nothing changed). OnValidate is
    // asked once with both; a refusal raises "Complex value out of range: (%s, %s)", or is ignored
    // when the parts allow out-of-range texts. Then both parts change and OnChange fires once.
    void SetText(const std::string &ReText, const std::string &ImText);
    // Both parts in general format with 15 significant digits.
    void SetValue(long double ARe, long double AIm);
    void GetValue(long double &ARe, long double &AIm) const {
        ARe = Re.GetValue();
        AIm = Im.GetValue();
    }
    void Assign(const TComplexValue &Other) { SetText(Other.Re.GetText(), Other.Im.GetText()); }
    void AssignLiteral(const TComplexLiteral &Literal) { SetText(Literal.Re.Text(), Literal.Im.Text()); }

    void SetAllowOutOfRange(bool B) {
        Re.AllowOutOfRange = B;
        Im.AllowOutOfRange = B;
    }
    bool GetAllowOutOfRange() const { return Re.AllowOutOfRange; }

    TFloatValue Im;
    TNotifyEvent OnChange;
    TComplexValidateEvent OnValidate;
    TFloatValue Re;

private:
    void PartChanged(TObject *Sender);
    void PartValidate(TObject *Sender, const std::string &Text, bool &Accept);
};
