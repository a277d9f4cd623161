// Stand-ins for the formula classes, for the tests of the compiler stages: the section, symbol,
// function and setting rules of a fractal formula, a coloring and a transformation, and compiled
// objects built on the parser that record what the compile driver asks of them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CompAssembler.h"
#include "CompCompiler.h"
#include "CompParser.h"
#include "CompPersistent.h"
#include "HugeFPU.h"

enum class TTestFormulaKind { Transform, Formula, Coloring };

// The answers of one kind of formula. Section order is state: Reset before every compile. A
// stage's own test class can hold one of these and forward its virtual operations to it.
class TTestFormulaRules {
public:
    explicit TTestFormulaRules(TTestFormulaKind AKind) : Kind(AKind) {}
    void Reset();

    // The tokenizer's section questions.
    std::string LoopSection() const;
    std::string BailoutSection() const;
    std::string DefaultSection() const;
    std::string LeadingSection(const std::string &Label) const;
    bool FindPredefinedSymbol(const std::string &Name, int &Id) const;

    // The kind of section Label (upper case) starts in the current order state, and the new
    // state; 0 when the label is refused.
    std::uint8_t SectionKind(const std::string &Label);

    // The checker's questions (section names in upper case).
    bool IsFunctionAllowed(const std::string &Section, int FunctionId) const;
    bool IsPredefinedReadable(const std::string &Section, int SymbolId) const;
    bool IsPredefinedWritable(const std::string &Section, int SymbolId);

    // The settings parser's questions; the answers are 0 (accepted), 29 (no such setting) or an
    // error code for the value. Accepted values are recorded in Values under "SECTION.NAME".
    int GetSettingType(const std::string &Section, const std::string &Name, std::uint8_t &Type) const;
    int SetConstantSetting(const std::string &Section, const std::string &Name, const TLiteral &Literal);
    int SetIdentifierSetting(const std::string &Section, const TToken &NameToken, const TToken &ValueToken);
    int SetStringSetting(const std::string &Section, const std::string &Name, const std::string &Text);

    const TTestFormulaKind Kind;
    std::map<std::string, std::string> Values;

private:
    int Order = 0;
    bool GlobalSeen = false;
    bool IndexWritten = false;
    bool ColorWritten = false;
};

// Forwards the section and symbol questions of a parser stage to Rules, and resets Rules at the
// start of every compile. Base is the stage the test object is built on.
template <class Base> class TSectionRuleForwarding : public Base {
public:
    explicit TSectionRuleForwarding(TTestFormulaKind AKind) : Rules(AKind) {}

    void InitCompile() override {
        Rules.Reset();
        Base::InitCompile();
    }
    void GetLoopSection(std::string &Name) override { Name = Rules.LoopSection(); }
    void GetBailoutSection(std::string &Name) override { Name = Rules.BailoutSection(); }
    void GetDefaultSection(std::string &Name) override { Name = Rules.DefaultSection(); }
    void GetLeadingSection(const std::string &Label, std::string &Name) override {
        Name = Rules.LeadingSection(Label);
    }
    bool FindPredefinedSymbol(const std::string &Name, int &Id) override {
        return Rules.FindPredefinedSymbol(Name, Id);
    }
    void GetSectionKind(const std::string &Label, std::uint8_t &Kind) override {
        Kind = Rules.SectionKind(Label);
    }

    TTestFormulaRules Rules;
};

// Also forwards the questions of the settings parser and the checker; Base is the checker or a
// stage built on it.
template <class Base> class TRuleForwarding : public TSectionRuleForwarding<Base> {
public:
    using TSectionRuleForwarding<Base>::TSectionRuleForwarding;
    using TSectionRuleForwarding<Base>::Rules;

    int GetSettingType(const std::string &Section, const std::string &Name, std::uint8_t &Type) override {
        return Rules.GetSettingType(Section, Name, Type);
    }
    int SetConstantSetting(const std::string &Section, const std::string &Name,
                           const TLiteral &Value) override {
        return Rules.SetConstantSetting(Section, Name, Value);
    }
    int SetIdentifierSetting(const std::string &Section, const TToken &Name, const TToken &Value) override {
        return Rules.SetIdentifierSetting(Section, Name, Value);
    }
    int SetStringSetting(const std::string &Section, const std::string &Name,
                         const std::string &Text) override {
        return Rules.SetStringSetting(Section, Name, Text);
    }
    bool IsFunctionAllowed(const std::string &Section, std::uint8_t FunctionId) override {
        return Rules.IsFunctionAllowed(Section, FunctionId);
    }
    bool IsPredefinedReadable(const std::string &Section, std::uint8_t SymbolId) override {
        return Rules.IsPredefinedReadable(Section, SymbolId);
    }
    bool IsPredefinedWritable(const std::string &Section, std::uint8_t SymbolId) override {
        return Rules.IsPredefinedWritable(Section, SymbolId);
    }
};

// A checker-based test object that runs the front end (tokenizer, parser, settings parser,
// checker) over a text without a file, as a compile does but without generating code.
template <class Base> class TTextCompiling : public TRuleForwarding<Base> {
public:
    using TRuleForwarding<Base>::TRuleForwarding;

    // InitCompile, the tokenizer, Check and EndParse over Text; the lists start empty.
    // ECompileError passes to the caller.
    void CompileText(const std::string &Text) {
        this->Expressions->Clear();
        this->Storage->Clear();
        this->Settings->Clear();
        this->Params->Clear();
        TEntryStream stream(Text.data(), Text.size());
        struct TScope {
            TTextCompiling &Owner;
            ~TScope() {
                Owner.Stream = nullptr;
                Owner.Params->HoldChanges = false;
                Owner.Params->ChangePending = false;
            }
        } scope{*this};
        // A compile runs with code generation held back; parameters the checker adds must not
        // start one.
        this->Params->HoldChanges = true;
        this->Stream = &stream;
        this->InitCompile();
        this->Tokenizer->Tokenize(stream);
        this->Check();
        this->EndParse({stream.Line(), stream.Column()});
    }
};

// A compiled object on the parser that records the driver's calls in Log ("check", "generate",
// "empty", "settings NAME KIND", "setting N tokens", "end settings L:C") and lets a test hook
// into the check and the code generation. Settings statements are only recorded.
class TTestParser : public TSectionRuleForwarding<TParser> {
public:
    explicit TTestParser(TTestFormulaKind AKind) : TSectionRuleForwarding<TParser>(AKind) {}
    DECLARE_CLASS_NAME(TTestParser)

    // Runs the parser stages over Text without a file: InitCompile, the tokenizer, EndParse.
    // A line feed without a carriage return before it counts as CR LF, as in entry files.
    // ECompileError passes to the caller.
    void ParseText(const std::string &Text);
    // The statements parsed, one line each (see DumpExpression).
    std::vector<std::string> DumpStatements() const;
    // Adds a parameter to the list being compiled (for the Check hook).
    void AddParam(std::unique_ptr<TParam> Param) { Params->Add(std::move(Param)); }

    void Check() override;
    void Generate() override;
    void GenerateEmpty() override;
    void BeginSettingsSection(const std::string &Name, std::uint8_t Kind) override;
    void EndSettingsSection(const TCompilePosition &Position) override;
    void ParseSettingStatement(TToken *FirstToken) override;

    std::vector<std::string> Log;
    int CheckCount = 0;
    int GenerateCount = 0;
    int GenerateEmptyCount = 0;
    // Precision seen by the last Generate.
    std::uint8_t GeneratedPrecision = 0;
    std::function<void(TTestParser &)> OnCheck;
    std::function<void(TTestParser &)> OnGenerate;
};

// One class per kind, so that objects of different kinds are objects of different classes, as
// the real formula classes are.
class TTestFormula : public TTestParser {
public:
    TTestFormula() : TTestParser(TTestFormulaKind::Formula) {}
    DECLARE_CLASS_NAME(TTestFormula)
};

class TTestColoring : public TTestParser {
public:
    TTestColoring() : TTestParser(TTestFormulaKind::Coloring) {}
    DECLARE_CLASS_NAME(TTestColoring)
};

class TTestTransform : public TTestParser {
public:
    TTestTransform() : TTestParser(TTestFormulaKind::Transform) {}
    DECLARE_CLASS_NAME(TTestTransform)
};

// A formula object of one kind on the whole compiler chain, compiled from entry files through
// the compile driver. It keeps the code of every section and, as a fractal formula, joins its
// INIT, LOOP and BAILOUT code into a pixel routine the way the formula classes do; colorings are
// the code pointers the caller puts into the pixel context. Double, extended and arbitrary
// precision (with the digits set through SetDigits).
class TTestCompiledFormula : public TRuleForwarding<TCompiler> {
public:
    explicit TTestCompiledFormula(TTestFormulaKind AKind = TTestFormulaKind::Formula)
        : TRuleForwarding<TCompiler>(AKind) {}
    DECLARE_CLASS_NAME(TTestCompiledFormula)

    // The section's code as handed over by the generator; empty when there is none.
    std::vector<std::uint8_t> Section(const std::string &Name) const;
    // Size of the data block the pixel routine expects in the context's formula data cell.
    std::int32_t GetDataSize() const { return DataSize; }
    const TRoutineAssembler &GetPixelRoutine() const { return PixelRoutine; }

    // Empties the routines, generates, then joins the pixel routine of a fractal formula; a
    // missing BAILOUT section bails out after the first pass (xor al, al).
    void Generate() override;
    void GenerateEmpty() override;
    void ResetCode() override;
    void CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) override;

    // Generations that ran to the end, and empty generations.
    int GenerateCount = 0;
    int GenerateEmptyCount = 0;

private:
    void AssemblePixelRoutine();

    std::map<std::string, std::vector<std::uint8_t>> Sections;
    TRoutineAssembler PixelRoutine;
    std::int32_t DataSize = 0;
};

// A zeroed, 16-byte aligned pixel context for a compiled formula, with the formula's data block
// (constants in place) in its data cell and empty coloring routines in every coloring cell. In
// arbitrary precision it also holds the context's numbers, created with the formula's digits,
// and the processor the routine runs on.
class TTestPixelContext {
public:
    // Offsets the callers of a pixel routine fill in.
    static constexpr std::int32_t PeriodThreshold = 0x00, PeriodMask = 0x04, SavesLeft = 0x08,
                                  SavesPerStep = 0x10, PeriodTolerance = 0x14, MaxIterCell = 0x34,
                                  IterationsDone = 0x38, FormulaDataCell = 0x6C, StopFlagCell = 0x98;

    TTestPixelContext(const TTestCompiledFormula &AFormula, std::int32_t MaxIter);
    ~TTestPixelContext();
    TTestPixelContext(const TTestPixelContext &) = delete;
    TTestPixelContext &operator=(const TTestPixelContext &) = delete;

    // Periodicity window of one pixel: the test runs while the remaining count is below
    // Threshold; initial mask, saves per mask step and tolerance as a piece sets them.
    void SetPeriodicity(std::uint32_t Threshold, std::uint32_t Mask, std::int32_t Saves, float Tolerance);
    // PIXEL in the formula's precision (in arbitrary precision, the 80-bit values exactly).
    void SetPixel(long double Re, long double Im);
    // PIXEL as decimal text; arbitrary precision only.
    void SetPixelText(const std::string &Re, const std::string &Im);
    // An arbitrary-precision number of the context by the offset of its handle (Z at 0xA8, PIXEL
    // at 0xB8); arbitrary precision only.
    THugeFloatBase &Huge(std::int32_t Offset) { return *At<THugeFloatBase *>(Offset); }
    // The processor of an arbitrary-precision routine; null in the other precisions.
    THugeProcessor *Processor() const { return FProcessor.get(); }
    // Runs the pixel routine once; returns the iterations done.
    std::int32_t Iterate();

    template <class T> T &At(std::int32_t Offset) { return *reinterpret_cast<T *>(Bytes + Offset); }
    // The stop flag, which another thread may set while Iterate runs.
    volatile std::uint8_t &StopFlag() {
        return *reinterpret_cast<volatile std::uint8_t *>(Bytes + StopFlagCell);
    }

    std::uint8_t *Bytes;

private:
    const TTestCompiledFormula &Formula;
    std::vector<std::uint8_t> Memory;
    std::vector<std::uint8_t> DataMemory;
    std::uint8_t *Data = nullptr;
    std::unique_ptr<THugeProcessor> FProcessor;
    TRoutineAssembler EmptyRoutine;
    std::int32_t PerSavesPerStep = 0;
    std::uint32_t PerMask = 0;
};

// An expression tree as compact text: binary operators as "(op left right)", unary operators as
// "(neg x)", "(mod x)", "(not x)", variables by name with "[indices]", parameters as "@name",
// predefined symbols as "#id", built-in functions as "fID(args)", user functions as
// "name(args)", keyword statements as "(kwID operand)", labels as "label NAME KIND", directives
// as "define NAME" / "undef NAME", literals by their text, strings in double quotes.
std::string DumpExpression(const TExpression *Expression);
