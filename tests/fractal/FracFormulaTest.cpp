#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "FormulaModules.h"
#include "FracContext.h"
#include "FracFormula.h"
#include "FracTestSupport.h"
#include "HugeFPU.h"

namespace {

class TFormulaEnvironment : public testing::Environment {
public:
    void SetUp() override {
        StartFormulaModules();
    }
    void TearDown() override {
        StopFormulaModules();
    }
};

const testing::Environment *const FormulaEnvironment =
    testing::AddGlobalTestEnvironment(new TFormulaEnvironment);

std::string FixturePath() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\FracFormula_fixtures.ofm";
}

std::unique_ptr<TFormula> Compile(const std::string &Entry, std::uint8_t Precision = pmDouble) {
    auto formula = std::make_unique<TFormula>();
    formula->SetPrecision(Precision);
    ErrorManager()->SetFormula(formula.get());
    formula->SetSource(FixturePath(), Entry);
    return formula;
}

// The first error code of the formula's messages; 0 without error.
int FirstErrorCode() {
    for (int i = 0; i < ErrorManager()->GetCount(); ++i) {
        const TCompilerMessage message = ErrorManager()->GetMessage(i);
        if (message.ErrorCode)
            return message.ErrorCode;
    }
    return 0;
}

// A context for one formula in its precision, with coloring routines that count their calls.
class TFormulaRun : public TFormulaContext {
public:
    TFormulaRun(const TFormula &AFormula, std::int32_t MaxIter) : TFormulaContext(AFormula) {
        for (int i = 0; i < 6; ++i) {
            // inc dword [counter]; ret
            const std::uint32_t address =
                static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&Calls[i]));
            const std::uint8_t code[] = {0xFF,
                                         0x05,
                                         static_cast<std::uint8_t>(address),
                                         static_cast<std::uint8_t>(address >> 8),
                                         static_cast<std::uint8_t>(address >> 16),
                                         static_cast<std::uint8_t>(address >> 24)};
            Counters[i].Emit(code, sizeof code);
            Counters[i].EmitReturn();
        }
        TPixelContext &context = Block.Common();
        TContextCode *cells[6] = {&context.InsideInit,  &context.InsideLoop,  &context.InsideFinal,
                                  &context.OutsideInit, &context.OutsideLoop, &context.OutsideFinal};
        for (int i = 0; i < 6; ++i)
            *cells[i] = reinterpret_cast<TContextCode>(Counters[i].GetCode());
        Start(MaxIter);
    }

    std::int32_t Iterate(long double Re, long double Im) {
        for (std::uint32_t &calls : Calls)
            calls = 0;
        return TFormulaContext::Iterate(Re, Im);
    }
    long double ZRe() const { return Block.ReadValue(Block.Values().Z); }

    TRoutineAssembler Counters[6];
    // Calls of inside INIT, LOOP, FINAL, outside INIT, LOOP, FINAL in the last Iterate.
    std::uint32_t Calls[6] = {};
};

// Iterations done follow one rule on every path: maxiter minus the count left at the loop exit,
// where the count falls at the end of each round that did not bail out. With |z| the squared
// modulus and the bailout |z| < 4, the rounds are easy to count by hand.
TEST(FormulaIterations, EveryPathCountsTheSameWay) {
    struct TCase {
        const char *Name;
        const char *Entry; // nullptr: a formula without code
        std::int32_t MaxIter;
        long double Re, Im;
        std::int32_t Done;
        bool Inside; // inside FINAL called, else outside FINAL
    };
    const TCase cases[] = {
        {"bailout in the first round", "Mandelbrot", 100, 5, 0, 0, false},
        {"|z|^2 = 4 at once", "Mandelbrot", 100, -2, 0, 0, false},
        {"bailout in the second round", "Mandelbrot", 100, 1, 0, 1, false},
        {"c = 0.5: 0.5, 0.75, 1.0625, 1.62890625, 3.15333557", "Mandelbrot", 100, 0.5L, 0, 4, false},
        {"never bails out", "Mandelbrot", 100, 0, 0, 100, true},
        {"maxiter 1, stays", "Mandelbrot", 1, 0, 0, 1, true},
        {"maxiter 1, leaves at once", "Mandelbrot", 1, 5, 0, 0, false},
        {"no BAILOUT: LOOP runs once", "NoBailout", 100, 0, 0, 0, false},
        {"no code: coloring once", nullptr, 100, 7, 7, 1, false},
    };
    for (std::uint8_t precision : {pmDouble, pmExtended, pmArbitrary}) {
        for (const TCase &c : cases) {
            SCOPED_TRACE(testing::Message() << c.Name << ", precision " << int(precision));
            std::unique_ptr<TFormula> formula;
            if (c.Entry) {
                formula = Compile(c.Entry, precision);
                ASSERT_FALSE(formula->GetHasError());
                ASSERT_GT(formula->GetPixelRoutine().GetSize(), 0);
            } else {
                formula = std::make_unique<TFormula>();
                formula->SetPrecision(precision);
                formula->ClearSource();
                EXPECT_EQ(formula->GetTitle(), "(None)");
                EXPECT_EQ(formula->GetPixelRoutine().GetSize(), 0);
            }
            TFormulaRun run(*formula, c.MaxIter);
            EXPECT_EQ(run.Iterate(c.Re, c.Im), c.Done);
            EXPECT_EQ(run.Calls[2], c.Inside ? 1u : 0u);
            EXPECT_EQ(run.Calls[5], c.Inside ? 0u : 1u);
            EXPECT_EQ(run.Calls[3], 1u) << "outside INIT once";
            if (!c.Entry) {
                EXPECT_EQ(run.ZRe(), 0);
            } else if (std::string(c.Entry) == "NoBailout") {
                EXPECT_EQ(run.ZRe(), 1);
            }
        }
    }
}

TEST(FormulaSettings, DefaultSectionAndSymmetry) {
    auto formula = Compile("Settings");
    ASSERT_FALSE(formula->GetHasError()) << FirstErrorCode();
    EXPECT_EQ(formula->GetTitle(), "Settings test");
    EXPECT_EQ(formula->GetCaption(), "Settings test");
    EXPECT_EQ(formula->GetMaxIter(), 250);
    EXPECT_EQ(formula->GetPeriodicity(), 1);
    EXPECT_EQ(formula->GetDefaultMethod(), 1);
    EXPECT_EQ(formula->GetDefaultFlags(), 7);
    EXPECT_EQ(formula->GetExtraDigits(), 0) << "DEFAULT PRECISION below 0 counts as 0";
    EXPECT_EQ(formula->GetLocationSettings().Center.Re.GetText(), "-0.5");
    EXPECT_NEAR(static_cast<double>(formula->GetLocationSettings().Angle.GetValue()), 1.5707963267948966,
                1e-15);
    EXPECT_EQ(formula->GetSwitchType(), "Julia");
    ASSERT_EQ(formula->GetSwitchList().Nodes().size(), 2u);
    EXPECT_EQ(formula->GetSwitchList().Nodes()[0].Target, "seed");
    EXPECT_TRUE(formula->GetSwitchList().Nodes()[0].Location);
    EXPECT_EQ(formula->GetSwitchList().Nodes()[1].Source, "start");

    // XAXIS_NOREAL: x-axis symmetry only while every complex parameter has real part 0.
    EXPECT_EQ(formula->GetSymmetry(), 3);
    EXPECT_EQ(formula->ResolveSymmetry(), 1);
    auto *start = static_cast<TComplexParam *>(formula->GetParams().GetItem(0));
    start->Value.SetText("1", "0");
    EXPECT_EQ(formula->ResolveSymmetry(), 0);

    TFormulaSwitchList list;
    for (const char *name : {"a", "b", "c"})
        list.Add({name, "", true});
    EXPECT_EQ(list.Nodes()[0].Target, "a");
    EXPECT_EQ(list.Nodes()[1].Target, "c");
    EXPECT_EQ(list.Nodes()[2].Target, "b");
}

// A second object of the same entry reuses the first one's compile: the settings the entry
// declares come along.
TEST(FormulaSettings, AReusedCompileKeepsTheDeclaredSettings) {
    auto first = Compile("Settings");
    ASSERT_FALSE(first->GetHasError());
    ErrorManager()->ClearFormula();
    TFormula second;
    second.SetSource(FixturePath(), "Settings");
    EXPECT_EQ(second.GetTitle(), "Settings test");
    EXPECT_EQ(second.GetMaxIter(), 250);
    EXPECT_EQ(second.GetPeriodicity(), 1);
    EXPECT_EQ(second.GetSymmetry(), 3);
    EXPECT_EQ(second.GetSwitchType(), "Julia");
    EXPECT_EQ(second.GetSwitchList().Nodes().size(), 2u);
    EXPECT_EQ(second.GetLocationSettings().Center.Re.GetText(), "-0.5");
    EXPECT_GT(second.GetPixelRoutine().GetSize(), 0);
}

TEST(FormulaSettings, SwitchingCarriesParametersAndTheLocation) {
    auto previous = Compile("Settings"); // seed = #pixel, start = start
    static_cast<TComplexParam *>(previous->GetParams().GetItem(0))->Value.SetText("0.5", "0.5");
    auto next = Compile("Settings");
    auto julia = Compile("BuiltinJulia");
    TComplexValue location;
    location.SetText("0.3", "-0.2");

    next->ApplySwitch(*previous, location, true); // no "seed" here: skipped
    EXPECT_EQ(static_cast<TComplexParam *>(next->GetParams().GetItem(0))->Value.Re.GetText(), "0.5");
    julia->ApplySwitch(*previous, location, false);
    auto seed = [&] {
        return static_cast<TComplexParam *>(julia->GetParams().GetItem(0))->Value.Re.GetText();
    };
    EXPECT_EQ(seed(), "-0.8") << "the location only when asked for";
    julia->ApplySwitch(*previous, location, true);
    EXPECT_EQ(seed(), "0.3");
}

TEST(FormulaSettings, SectionRulesAndRefusedValues) {
    struct TCase {
        const char *Entry;
        int ErrorCode; // 0: compiles
    };
    const TCase cases[] = {
        {"BadPeriodicity", ceLiteralOutOfRange},
        {"BuiltinAfterInit", 18},
        {"SwitchThenDefault", 0},
        {"RenderNotBoolean", ceTypeError},
    };
    for (const TCase &c : cases) {
        auto formula = Compile(c.Entry);
        EXPECT_EQ(formula->GetHasError(), c.ErrorCode != 0) << c.Entry;
        EXPECT_EQ(FirstErrorCode(), c.ErrorCode) << c.Entry;
        if (std::string(c.Entry) == "BadPeriodicity") {
            EXPECT_EQ(formula->GetPeriodicity(), 2);
        }
        if (std::string(c.Entry) == "SwitchThenDefault") {
            EXPECT_EQ(formula->GetMaxIter(), 300);
        }
    }
}

TEST(FormulaSettings, MaxIterAdjustmentAndPeriodicityOfFormulasWithoutZ) {
    auto formula = Compile("Mandelbrot");
    formula->SetMaxIter(0);
    EXPECT_EQ(formula->GetMaxIter(), 100);
    formula->SetAdjustMaxIter(true);
    formula->Magnification.SetText("2");
    EXPECT_EQ(formula->GetMaxIter(), 200);
    formula->Magnification.SetText("0.25");
    EXPECT_EQ(formula->GetMaxIter(), 100);
    formula->Magnification.SetText("1000");
    EXPECT_EQ(formula->GetMaxIter(), 1097); // 100 + round(100 log2 1000)

    TPixelContextBlock block(pmDouble);
    formula->InitContext(block.Bytes());
    EXPECT_EQ(block.Common().PeriodicityMode, 2);
    formula->DoneContext(block.Bytes());

    auto noZ = Compile("NoZ");
    ASSERT_FALSE(noZ->GetHasError());
    EXPECT_FALSE(noZ->GetWritesZ());
    noZ->InitContext(block.Bytes());
    EXPECT_EQ(block.Common().PeriodicityMode, 0);
    noZ->DoneContext(block.Bytes());
}

TEST(FormulaParameters, SectionIsWrittenWithItsSettings) {
    auto formula = Compile("Settings");
    formula->SetPeriodicity(3);
    formula->SetAdjustMaxIter(true);
    TParWriter writer;
    formula->WriteParameters(writer, TFormulaBase::wpShortFileName);
    writer.Finish();
    EXPECT_EQ(writer.GetText(),
              "formula:\r\n  maxiter=250 percheck=rough adjust=yes "
              "filename=\"FracFormula_fixtures.ofm\"\r\n  entry=\"Settings\" p_start=0/1\r\n");
    formula->SetCaption("Mine");
    TParWriter captioned;
    formula->WriteParameters(captioned, 0);
    captioned.Finish();
    EXPECT_NE(captioned.GetText().find("caption=\"Mine\""), std::string::npos);
}

} // namespace

namespace {

// A reader that counts the hook calls and offers replacements for missing entries.
class TRecordingReader : public TParReader {
public:
    std::vector<std::string> Missing;
    std::vector<std::pair<std::string, std::string>> Replacements;
    int Asked = 0;

    void MissingParameter(const std::string &, const std::string &, const std::string &Name) override {
        Missing.push_back(Name);
    }
    bool ResolveMissingFormula(std::string &FileName, std::string &EntryName, int) override {
        if (Asked >= static_cast<int>(Replacements.size()))
            return false;
        FileName = Replacements[Asked].first;
        EntryName = Replacements[Asked].second;
        ++Asked;
        return true;
    }
};

std::string Section(const TFormula &Formula, std::uint32_t Flags = 0) {
    TParWriter writer;
    Formula.WriteParameters(writer, Flags);
    writer.Finish();
    return writer.GetText();
}

void Load(TFormula &Formula, TParReader &Reader, const std::string &Text) {
    Reader.LoadFirstEntry("e {\r\n" + Text + "}\r\n");
    Formula.LoadFromReader(Reader);
}

TEST(FormulaParameters, SectionsRoundTripThroughTheReader) {
    auto formula = Compile("Params");
    ASSERT_FALSE(formula->GetHasError()) << FirstErrorCode();
    formula->SetMaxIter(321);
    formula->SetPeriodicity(0);
    const std::string text = Section(*formula);
    EXPECT_NE(text.find("p_mode=\"second\""), std::string::npos) << text;
    EXPECT_NE(text.find("f_fn1=sin"), std::string::npos) << text;
    EXPECT_EQ(text.find("caption"), std::string::npos) << "a caption equal to the title is left out";

    // Parameter values of another text reach the freshly compiled parameters.
    std::string changed = text;
    for (const auto &[from, to] :
         std::vector<std::pair<std::string, std::string>>{{"p_shift=0.5/-0.25", "p_shift=1e-3/2"},
                                                          {"p_scale=1.5", "p_scale=0.125"},
                                                          {"p_on=yes", "p_on=no"},
                                                          {"p_mode=\"second\"", "p_mode=\"THIRD\""},
                                                          {"p_count=7", "p_count=9"},
                                                          {"f_fn1=sin", "f_fn1=cosh"}}) {
        const std::size_t at = changed.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        changed.replace(at, from.size(), to);
    }
    TFormula copy;
    TRecordingReader reader;
    Load(copy, reader, changed);
    EXPECT_FALSE(copy.GetHasError());
    EXPECT_EQ(copy.GetMaxIter(), 321);
    EXPECT_EQ(copy.GetPeriodicity(), 0);
    EXPECT_EQ(copy.GetCaption(), copy.GetTitle());
    // The item text is matched ignoring case and written as the list holds it.
    std::string expected = changed;
    expected.replace(expected.find("THIRD"), 5, "third");
    EXPECT_EQ(Section(copy), expected);
    TFormula again;
    TRecordingReader reader2;
    Load(again, reader2, expected);
    EXPECT_EQ(Section(again), expected);
    EXPECT_TRUE(reader.Missing.empty());

    // An enumeration stored as a bare index, unknown names, an unknown function and a caption.
    std::string other = text;
    other.replace(other.find("p_mode=\"second\""), 15, "p_mode=2 p_ghost=1 f_fn1=nofunction");
    other.replace(other.find("formula:\r\n"), 10, "formula:\r\n  caption=\"Mine\"\r\n");
    TFormula third;
    TRecordingReader reader3;
    Load(third, reader3, other);
    EXPECT_EQ(third.GetCaption(), "Mine");
    EXPECT_EQ(static_cast<TIntParam *>(third.GetParams().GetItem(4))->GetValue(), 2);
    EXPECT_EQ(reader3.Missing, std::vector<std::string>{"ghost"});
    EXPECT_NE(Section(third).find("f_fn1=sin"), std::string::npos)
        << "an unknown function leaves the default";
    EXPECT_NE(Section(third).find("caption=\"Mine\""), std::string::npos);
}

TEST(FormulaParameters, HeadersMissingEntriesAndReplacements) {
    TFormula formula;
    TRecordingReader wrong;
    EXPECT_THROW(Load(formula, wrong, "transform:\r\n  maxiter=5\r\n"), EInvalidParFile);

    // No entry named: the object has no source, settings still apply.
    TRecordingReader plain;
    Load(formula, plain, "formula:\r\n  maxiter=55\r\n");
    EXPECT_EQ(formula.GetTitle(), "(None)");
    EXPECT_EQ(formula.GetMaxIter(), 55);

    // A missing entry: the reader's replacements are tried in turn, then the load gives up.
    const std::string missing = "formula:\r\n  filename=\"" + FixturePath() + "\" entry=\"Nowhere\"\r\n";
    TRecordingReader replacing;
    replacing.Replacements = {{FixturePath(), "StillNowhere"}, {FixturePath(), "Mandelbrot"}};
    Load(formula, replacing, missing);
    EXPECT_EQ(replacing.Asked, 2);
    EXPECT_EQ(formula.GetEntryName(), "Mandelbrot");
    TRecordingReader givingUp;
    try {
        Load(formula, givingUp, missing);
        ADD_FAILURE() << "no exception";
    } catch (const EAbort &e) {
        EXPECT_STREQ(e.what(), ("Could not find 'Nowhere' in '" + FixturePath() + "'").c_str());
    }
}

} // namespace
