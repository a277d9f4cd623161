#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompParams.h"

namespace {

// A parameter list that records what it reports.
class TParamListFixture : public testing::Test, public TObject {
protected:
    void SetUp() override { List.OnChange = MakeEvent<&TParamListFixture::ListChanged>(this); }
    void ListChanged(TObject *Sender, const std::string &Caption) {
        EXPECT_EQ(Sender, &List);
        Reports.push_back(Caption);
    }
    template <class T> T *Add(std::unique_ptr<T> Param) {
        T *raw = Param.get();
        List.Add(std::move(Param));
        return raw;
    }

    TParamList List;
    std::vector<std::string> Reports;
};

TEST_F(TParamListFixture, IntegerValueIsClampedAndNotifiedOnlyWhenItChanges) {
    TIntParam *p = Add(std::make_unique<TIntParam>("count"));
    p->SetMin(1);
    p->SetMax(10);
    EXPECT_TRUE(Reports.empty()) << "bounds clamp without notification";
    EXPECT_EQ(p->GetValue(), 1);
    p->Modified = false;
    p->SetValue(20);
    EXPECT_EQ(p->GetValue(), 10);
    EXPECT_TRUE(p->Modified);
    EXPECT_EQ(Reports, std::vector<std::string>{"count"});
    p->Modified = false;
    p->SetValue(10);
    EXPECT_EQ(Reports.size(), 1u) << "an equal value notifies nothing";
    EXPECT_TRUE(p->Modified) << "but counts as set";
}

TEST_F(TParamListFixture, FloatRangeIsKeptSilently) {
    TFloatParam *p = Add(std::make_unique<TFloatParam>("size"));
    p->Value.SetText("5");
    EXPECT_EQ(Reports.size(), 1u);
    p->Modified = false;
    p->SetMax(2.5);
    EXPECT_EQ(p->Value.GetText(), "2.5");
    EXPECT_FALSE(p->Modified) << "a bound moves the value without counting as a user change";
    EXPECT_EQ(Reports.size(), 1u);

    p->SetMin(0);
    p->Value.SetText("-1");
    EXPECT_EQ(p->Value.GetText(), "2.5") << "a text below the minimum is ignored, not raised";
    // A value written from a bound is inside the range, however the bound prints.
    p->SetMax(0.1);
    EXPECT_EQ(p->Value.GetValue(), StrToFloat(p->Value.GetText()));
    TFloatParam other("other");
    other.SetMax(0.1);
    other.Value.SetText(p->Value.GetText());
    EXPECT_EQ(other.Value.GetText(), p->Value.GetText());
}

TEST_F(TParamListFixture, CaptionEnabledAndVisibleNotifyOnChangeOnly) {
    TBoolParam *p = Add(std::make_unique<TBoolParam>("flag"));
    EXPECT_EQ(p->GetCaption(), "flag");
    p->SetEnabled(true);
    p->SetVisible(true);
    p->SetCaption("flag");
    EXPECT_TRUE(Reports.empty());
    p->SetCaption("Flag");
    p->SetVisible(false);
    EXPECT_EQ(Reports, (std::vector<std::string>{"Flag", "Flag"}));
}

TEST_F(TParamListFixture, HeldChangesAreFlushedOnce) {
    TIntParam *a = Add(std::make_unique<TIntParam>("a"));
    TIntParam *b = Add(std::make_unique<TIntParam>("b"));
    List.HoldChanges = true;
    a->SetValue(1);
    b->SetValue(2);
    EXPECT_TRUE(Reports.empty());
    EXPECT_TRUE(List.ChangePending);
    List.Flush();
    EXPECT_EQ(Reports, std::vector<std::string>{"b"}) << "the caption of the last change";
    List.Flush();
    EXPECT_EQ(Reports.size(), 1u) << "nothing pending, nothing fired";
}

TEST(Params, CloneTakesTheDefaultNotTheValue) {
    TBoolParam boolean("b");
    boolean.SetValue(true);
    auto clone = boolean.Clone();
    EXPECT_FALSE(static_cast<TBoolParam &>(*clone).GetValue());

    TIntParam integer("i");
    integer.SetMin(-5);
    integer.SetMax(5);
    integer.Enum.Add("one");
    integer.Default = 3;
    integer.SetValue(-4);
    integer.SetCaption("Integer");
    integer.Hint = "a hint";
    auto intClone = integer.Clone();
    auto &i2 = static_cast<TIntParam &>(*intClone);
    EXPECT_EQ(i2.GetValue(), 3);
    EXPECT_EQ(i2.Default, 3);
    EXPECT_EQ(i2.Max, 5);
    EXPECT_TRUE(i2.HasMin);
    EXPECT_EQ(i2.Enum.Count(), 1);
    EXPECT_EQ(i2.GetCaption(), "Integer");
    EXPECT_EQ(i2.Hint, "a hint");

    TComplexParam complex("z");
    complex.SetMax(1, 1);
    complex.Default.SetText("0.5", "-1");
    complex.Value.SetText("0.25", "0.25");
    auto complexClone = complex.Clone();
    auto &z2 = static_cast<TComplexParam &>(*complexClone);
    EXPECT_EQ(z2.Value.Re.GetText(), "0.5");
    EXPECT_EQ(z2.Value.Im.GetText(), "-1");
    EXPECT_FALSE(z2.Modified);
    z2.Value.SetText("3", "0");
    EXPECT_EQ(z2.Value.Re.GetText(), "0.5") << "the range travels with the clone";

    TFuncParam function("fn1");
    function.SetValue(5);
    auto functionClone = function.Clone();
    EXPECT_EQ(static_cast<TFuncParam &>(*functionClone).GetValue(), 0);
    EXPECT_EQ(functionClone->GetCaption(), "Function 1");
}

TEST(Params, Captions) {
    struct TCase {
        std::unique_ptr<TParam> Param;
        const char *Caption;
    } cases[] = {
        {std::make_unique<TComplexParam>("p3"), "Parameter 3"},
        {std::make_unique<TComplexParam>("P6"), "Parameter 6"},
        {std::make_unique<TComplexParam>("p7"), "p7"},
        {std::make_unique<TComplexParam>("seed"), "seed"},
        {std::make_unique<TFuncParam>("Fn4"), "Function 4"},
        {std::make_unique<TFuncParam>("fn5"), "fn5"},
        {std::make_unique<TFloatParam>("p1"), "p1"},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(c.Param->GetCaption(), c.Caption) << c.Param->GetName();
}

TEST(Params, DefaultsFromConstants) {
    TFloatParam f("f");
    TDoubleFloatConstant third(1.0 / 3.0);
    f.SetDefault(&third);
    EXPECT_EQ(f.Default.GetText(), "0.333333333333333");
    TExtendedFloatConstant extThird(1.0L / 3.0L);
    f.SetDefault(&extThird);
    EXPECT_EQ(f.Default.GetText(), "0.3333333333333333333");
    f.SetMax(0.25);
    f.SetDefault(&extThird);
    EXPECT_EQ(f.Default.GetText(), "0.25") << "limited to the range";
    TDoubleFloatConstant infinite(std::numeric_limits<double>::infinity());
    f.SetDefault(&infinite);
    EXPECT_EQ(f.Default.GetText(), "0.25") << "no text holds an infinity; the default stays";
    f.Value.SetText("0.125");
    f.SetDefault(nullptr);
    EXPECT_EQ(f.Default.GetText(), "0.125");

    TComplexParam z("z");
    THugeComplex huge(30);
    huge.Re.SetText("1.5");
    huge.Im.SetText("-2");
    THugeComplexConstant hugeConstant(30, huge);
    z.SetDefault(&hugeConstant);
    EXPECT_EQ(z.Default.Re.GetText(), "1.5");
    EXPECT_EQ(z.Default.Im.GetText(), "-2");
    TExtendedComplexConstant pair(1.0L / 3.0L, 2);
    z.SetDefault(&pair);
    EXPECT_EQ(z.Default.Re.GetText(), "0.333333333333333");
    z.SetMin(0, 0);
    EXPECT_EQ(z.Default.Im.GetText(), "2");
    TDoubleComplexConstant negative(-1, -1);
    z.SetDefault(&negative);
    EXPECT_EQ(z.Default.Re.GetText(), "0");
    EXPECT_EQ(z.Default.Im.GetText(), "0");

    TIntParam i("i");
    i.SetMax(3);
    TIntConstant seven(7);
    i.SetDefault(&seven);
    EXPECT_EQ(i.Default, 3);

    // Colour components are limited to 0..1 before they become bytes.
    TColorParam c("c");
    TColorConstant orange(1, 0.5f, 0, 1);
    c.SetDefault(&orange);
    EXPECT_EQ(c.Default, 0xFFFF8000u);
    TColorConstant wild(2, NAN, -1, 1);
    c.SetDefault(&wild);
    EXPECT_EQ(c.Default, 0xFFFF0000u);

    // Function parameters always take their current value.
    TFuncParam fn("fn1");
    fn.SetValue(14);
    TIntConstant ignored(3);
    fn.SetDefault(&ignored);
    EXPECT_EQ(fn.Default, 14);
}

TEST(Params, ResetAndAssignSetModified) {
    TIntParam a("a"), b("b");
    b.SetValue(9);
    a.AssignValue(b);
    EXPECT_EQ(a.GetValue(), 9);
    EXPECT_TRUE(a.Modified);
    a.Modified = false;
    a.ResetToDefault();
    EXPECT_EQ(a.GetValue(), 0);
    EXPECT_TRUE(a.Modified);

    TFloatParam f("f"), g("g");
    g.Value.SetText("2.5");
    f.AssignValue(g);
    EXPECT_EQ(f.Value.GetText(), "2.5");
    f.Modified = false;
    f.AssignValue(g);
    EXPECT_TRUE(f.Modified) << "even an equal value counts as set";
}

// An id the parameter cannot select would reach the code generator as a function without code.
TEST(Params, FunctionParametersRefuseIdsTheyCannotSelect) {
    TFuncParam fn("fn1");
    TColorFuncParam merge("m");
    EXPECT_EQ(merge.GetValue(), 49) << "mergenormal";
    for (int id : {29, 49, 76, 255}) {
        fn.SetValue(static_cast<std::uint8_t>(id));
        EXPECT_EQ(fn.GetValue(), 0) << id;
    }
    for (int id : {0, 28, 48, 68, 76}) {
        merge.SetValue(static_cast<std::uint8_t>(id));
        EXPECT_EQ(merge.GetValue(), 49) << id;
    }
    fn.SetValue(28);
    merge.SetValue(67);
    EXPECT_EQ(fn.GetValue(), 28);
    EXPECT_EQ(merge.GetValue(), 67);
}

TEST(ParamList, IndexOfNameByKind) {
    TParamList list;
    list.Add(std::make_unique<TComplexParam>("P1"));
    list.Add(std::make_unique<TFuncParam>("FN1"));
    list.Add(std::make_unique<THeadingParam>("~~0"));
    list.Add(std::make_unique<TColorFuncParam>("Blend"));
    struct TCase {
        const char *Name;
        int Kinds;
        int Index;
    } cases[] = {{"fn1", pkOrdinary, -1},  {"fn1", pkFunction, 1},    {"FN1", pkOrdinary | pkFunction, 1},
                 {"p1", pkOrdinary, 0},    {"p1", pkFunction, -1},    {"~~0", pkOrdinary, 2},
                 {"blend", pkFunction, 3}, {"blend", pkOrdinary, -1}, {"nothing", 3, -1}};
    for (const TCase &c : cases)
        EXPECT_EQ(list.IndexOfName(c.Name, c.Kinds), c.Index) << c.Name << " " << c.Kinds;
}

TEST(ParamList, AssignClonesAndSortIsStableIgnoringCase) {
    TParamList source;
    const char *captions[] = {"beta", "Alpha", "alpha", "Gamma"};
    for (int i = 0; i < 4; ++i) {
        auto param = std::make_unique<TIntParam>("n" + std::to_string(i));
        param->SetCaption(captions[i]);
        source.Add(std::move(param));
    }
    TParamList copy;
    copy.Assign(source);
    ASSERT_EQ(copy.GetCount(), 4);
    EXPECT_NE(copy.GetItem(0), source.GetItem(0));
    copy.SortByCaption();
    std::vector<std::string> names;
    for (int i = 0; i < copy.GetCount(); ++i)
        names.push_back(copy.GetItem(i)->GetName());
    EXPECT_EQ(names, (std::vector<std::string>{"n1", "n2", "n0", "n3"}));

    // Clones report to their new list.
    std::vector<std::string> reports;
    struct TListener : TObject {
        std::vector<std::string> *Reports;
        void Changed(TObject *, const std::string &Caption) { Reports->push_back(Caption); }
    } listener;
    listener.Reports = &reports;
    copy.OnChange = MakeEvent<&TListener::Changed>(&listener);
    static_cast<TIntParam *>(copy.GetItem(0))->SetValue(42);
    EXPECT_EQ(reports, std::vector<std::string>{"Alpha"});
}

} // namespace
