#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompValues.h"

namespace {

// Records the events of a value and answers its validation.
class TRecorder : public TObject {
public:
    void Changed(TObject *Sender) {
        ++Changes;
        LastSender = Sender;
    }
    void ValidateFloat(TObject *Sender, const std::string &Text, bool &Accept) {
        Asked.push_back(Text);
        Accept = Text != Refused;
    }
    void ValidateComplex(TObject *Sender, const std::string &ReText, const std::string &ImText,
                         bool &Accept) {
        Asked.push_back(ReText + "|" + ImText);
        Accept = ReText != Refused && ImText != Refused;
    }
    void Attach(TFloatValue &Value) {
        Value.OnChange = MakeNotifyEvent<&TRecorder::Changed>(this);
        Value.OnValidate = MakeEvent<&TRecorder::ValidateFloat>(this);
    }
    void Attach(TComplexValue &Value) {
        Value.OnChange = MakeNotifyEvent<&TRecorder::Changed>(this);
        Value.OnValidate = MakeEvent<&TRecorder::ValidateComplex>(this);
    }

    int Changes = 0;
    TObject *LastSender = nullptr;
    std::vector<std::string> Asked;
    std::string Refused = "13";
};

std::string ErrorOf(auto &&Action) {
    try {
        Action();
    } catch (const EFloatValueError &e) {
        return e.Message();
    }
    return "";
}

TEST(FloatValue, SetTextRules) {
    TFloatValue value;
    TRecorder recorder;
    recorder.Attach(value);
    EXPECT_EQ(value.GetText(), "0");

    value.SetText("0");
    EXPECT_EQ(recorder.Changes, 0) << "an unchanged text fires nothing";
    EXPECT_TRUE(recorder.Asked.empty()) << "and asks nothing";

    value.SetText("+1.50");
    EXPECT_EQ(value.GetText(), "+1.50") << "the digits are kept as written";
    EXPECT_EQ(recorder.Changes, 1);
    EXPECT_EQ(recorder.LastSender, &value);

    EXPECT_EQ(ErrorOf([&] { value.SetText("1,5"); }), "Invalid floating-point number: '1,5'");
    EXPECT_EQ(recorder.Asked.size(), 1u) << "a syntax error is found before validation";
    EXPECT_EQ(ErrorOf([&] { value.SetText("13"); }), "Floating-point number out of range: '13'");
    EXPECT_EQ(value.GetText(), "+1.50");
    EXPECT_EQ(recorder.Changes, 1);

    value.AllowOutOfRange = true;
    EXPECT_EQ(ErrorOf([&] { value.SetText("13"); }), "") << "refused silently";
    EXPECT_EQ(value.GetText(), "+1.50");
    EXPECT_EQ(recorder.Changes, 1);
    EXPECT_EQ(ErrorOf([&] { value.SetText("x"); }), "Invalid floating-point number: 'x'")
        << "syntax errors are raised all the same";
}

TEST(FloatValue, SetValueWrites19SignificantDigits) {
    TFloatValue value;
    value.SetValue(1.0L / 3.0L);
    EXPECT_EQ(value.GetText(), "0.3333333333333333333");
    value.SetValue(-2.5e-300L);
    EXPECT_EQ(value.GetValue(), -2.5e-300L);
    // No decimal text holds an infinity.
    EXPECT_THROW(value.SetValue(INFINITY), EFloatValueError);
}

TEST(FloatValue, GetValueNeverFails) {
    TFloatValue value;
    value.SetText("1e99999");
    EXPECT_TRUE(std::isinf(value.GetValue()));
    value.SetText(".");
    EXPECT_EQ(value.GetValue(), 0.0L);
}

TEST(FloatValue, AssignAndAssignLiteralGoThroughSetText) {
    TFloatValue source("2.5"), target;
    TRecorder recorder;
    recorder.Attach(target);
    target.Assign(source);
    EXPECT_EQ(target.GetText(), "2.5");
    TFloatLiteral literal("13");
    EXPECT_THROW(target.AssignLiteral(literal), EFloatValueError);
    EXPECT_EQ(recorder.Changes, 1);
}

TEST(ComplexValue, SetTextAsksOnceAndFiresOnce) {
    TComplexValue value;
    TRecorder recorder;
    recorder.Attach(value);
    value.SetText("0", "0");
    EXPECT_EQ(recorder.Changes, 0);

    value.SetText("1.5", "-2");
    EXPECT_EQ(recorder.Asked, std::vector<std::string>{"1.5|-2"});
    EXPECT_EQ(recorder.Changes, 1);
    EXPECT_EQ(recorder.LastSender, &value);
    EXPECT_EQ(value.Re.GetText(), "1.5");
    EXPECT_EQ(value.Im.GetText(), "-2");

    EXPECT_EQ(ErrorOf([&] { value.SetText("13", "4"); }), "Complex value out of range: (13, 4)");
    value.SetAllowOutOfRange(true);
    EXPECT_TRUE(value.GetAllowOutOfRange());
    EXPECT_EQ(ErrorOf([&] { value.SetText("13", "4"); }), "");
    EXPECT_EQ(value.Re.GetText(), "1.5");
    EXPECT_EQ(recorder.Changes, 1);
}

// A bad imaginary part must not leave a new real part behind.
TEST(ComplexValue, InvalidPartChangesNothing) {
    TComplexValue value;
    TRecorder recorder;
    recorder.Attach(value);
    EXPECT_EQ(ErrorOf([&] { value.SetText("7", "oops"); }), "Invalid floating-point number: 'oops'");
    EXPECT_EQ(value.Re.GetText(), "0");
    EXPECT_EQ(value.Im.GetText(), "0");
    EXPECT_EQ(recorder.Changes, 0);
    EXPECT_TRUE(recorder.Asked.empty());
}

TEST(ComplexValue, PartEventsBelongToTheComplexValue) {
    TComplexValue value;
    TRecorder recorder;
    recorder.Attach(value);
    value.SetText("1", "2");
    recorder.Asked.clear();

    value.Im.SetText("3");
    EXPECT_EQ(recorder.Asked, std::vector<std::string>{"1|3"}) << "both texts, the new one in its place";
    EXPECT_EQ(recorder.Changes, 2);
    EXPECT_EQ(recorder.LastSender, &value);

    value.Re.SetText("5");
    EXPECT_EQ(recorder.Asked.back(), "5|3");
    EXPECT_EQ(ErrorOf([&] { value.Re.SetText("13"); }), "Floating-point number out of range: '13'");
    EXPECT_EQ(recorder.Changes, 3);
}

TEST(ComplexValue, SetValueWrites15SignificantDigits) {
    TComplexValue value;
    value.SetValue(1.0L / 3.0L, -2.0L / 3.0L);
    EXPECT_EQ(value.Re.GetText(), "0.333333333333333");
    EXPECT_EQ(value.Im.GetText(), "-0.666666666666667");
    long double re, im;
    value.GetValue(re, im);
    EXPECT_EQ(re, StrToFloat("0.333333333333333"));
    EXPECT_EQ(im, StrToFloat("-0.666666666666667"));
}

TEST(ComplexValue, AssignLiteral) {
    TComplexValue value;
    TComplexLiteral literal;
    literal.SetText("(-.5, 1e3)");
    value.AssignLiteral(literal);
    EXPECT_EQ(value.Re.GetText(), "-.5");
    EXPECT_EQ(value.Im.GetText(), "1e3");
}

} // namespace
