#include "TestFormulas.h"

#include <algorithm>
#include <initializer_list>

#include "CompAccess.h"

namespace {

bool OneOf(int Value, std::initializer_list<int> Values) {
    return std::find(Values.begin(), Values.end(), Value) != Values.end();
}

// Readable in the sections every kind leaves to the common rule (GLOBAL and DEFAULT).
bool CommonReadable(int Id) {
    return OneOf(Id, {psPi, psE, psMaxIter, psScreenMax, psWidth, psHeight, psCenter, psMagn, psAngle,
                      psStretch, psSkew, psRandomRange});
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TTestFormulaRules

void TTestFormulaRules::Reset() {
    Order = 0;
    GlobalSeen = false;
    IndexWritten = false;
    ColorWritten = false;
    Values.clear();
}

std::string TTestFormulaRules::LoopSection() const {
    return Kind == TTestFormulaKind::Formula ? "LOOP" : "";
}

std::string TTestFormulaRules::BailoutSection() const {
    return Kind == TTestFormulaKind::Formula ? "BAILOUT" : "";
}

std::string TTestFormulaRules::DefaultSection() const {
    switch (Kind) {
    case TTestFormulaKind::Formula:
        return "INIT";
    case TTestFormulaKind::Coloring:
        return "FINAL";
    default:
        return "TRANSFORM";
    }
}

std::string TTestFormulaRules::LeadingSection(const std::string &Label) const {
    switch (Kind) {
    case TTestFormulaKind::Formula:
        return Label == "GLOBAL" || Label == "INIT" || Label == "BUILTIN" ? "" : "INIT";
    case TTestFormulaKind::Coloring:
        return Label == "GLOBAL" || Label == "INIT" ? "" : "INIT";
    default:
        return "";
    }
}

bool TTestFormulaRules::FindPredefinedSymbol(const std::string &Name, int &Id) const {
    if (Kind == TTestFormulaKind::Formula && Name == "Z") {
        Id = psZ;
        return true;
    }
    return false;
}

std::uint8_t TTestFormulaRules::SectionKind(const std::string &Label) {
    if (Label == "GLOBAL") {
        if (GlobalSeen)
            return skdInvalid;
        GlobalSeen = true;
        return skdGlobal;
    }
    // (label, allowed while the order is below, kind, new order)
    struct TStep {
        const char *Label;
        int Below;
        std::uint8_t Kind;
        int NewOrder;
    };
    auto apply = [&](std::initializer_list<TStep> Steps) -> std::uint8_t {
        for (const TStep &step : Steps)
            if (Label == step.Label && Order < step.Below) {
                Order = step.NewOrder;
                return step.Kind;
            }
        return skdInvalid;
    };
    switch (Kind) {
    case TTestFormulaKind::Formula:
        if (Label == "DEFAULT" && Order == 6) {
            Order = 7;
            return skdParameters;
        }
        if (Label == "SWITCH" && Order < 5) {
            Order = Order == 4 ? 5 : 6;
            return skdSettings;
        }
        return apply({{"INIT", 1, skdCode, 1},
                      {"LOOP", 2, skdCode, 2},
                      {"BAILOUT", 3, skdBailout, 3},
                      {"BUILTIN", 1, skdSettings, 3},
                      {"DEFAULT", 4, skdParameters, 4}});
    case TTestFormulaKind::Coloring:
        return apply({{"INIT", 1, skdCode, 1},
                      {"LOOP", 2, skdCode, 2},
                      {"FINAL", 3, skdCode, 3},
                      {"DEFAULT", 4, skdParameters, 4}});
    default:
        return apply({{"TRANSFORM", 1, skdCode, 1}, {"DEFAULT", 2, skdParameters, 2}});
    }
}

bool TTestFormulaRules::IsFunctionAllowed(const std::string &Section, int FunctionId) const {
    if (Kind == TTestFormulaKind::Coloring)
        return FunctionId != fnOldZ || Section == "FINAL";
    return FunctionId != fnOldZ && FunctionId != fnGradient;
}

bool TTestFormulaRules::IsPredefinedReadable(const std::string &Section, int SymbolId) const {
    switch (Kind) {
    case TTestFormulaKind::Formula:
        if (Section == "INIT" || Section == "LOOP" || Section == "BAILOUT")
            return OneOf(SymbolId, {psPixel, psRandom, psPi, psE, psMaxIter, psScreenMax, psScreenPixel,
                                    psWhiteSq, psWidth, psHeight, psX, psY, psCenter, psMagn, psAngle,
                                    psStretch, psSkew, psZ, psRandomRange});
        break;
    case TTestFormulaKind::Coloring:
        if (Section == "INIT" || Section == "LOOP" || Section == "FINAL")
            return OneOf(SymbolId, {psPixel, psRandom, psPi, psE, psMaxIter, psZ, psRandomRange}) ||
                   (SymbolId >= psScreenMax && SymbolId <= psSkew) ||
                   (SymbolId == psNumIter && Section == "FINAL");
        break;
    default:
        if (Section == "TRANSFORM")
            return OneOf(SymbolId, {psPixel, psRandom, psPi, psE, psRandomRange}) ||
                   (SymbolId >= psScreenMax && SymbolId <= psSkew);
        break;
    }
    return CommonReadable(SymbolId);
}

bool TTestFormulaRules::IsPredefinedWritable(const std::string &Section, int SymbolId) {
    switch (Kind) {
    case TTestFormulaKind::Formula:
        return SymbolId == psZ;
    case TTestFormulaKind::Coloring:
        if (Section != "FINAL")
            return false;
        if (SymbolId == psIndex && !ColorWritten) {
            IndexWritten = true;
            return true;
        }
        if (SymbolId == psColor && !IndexWritten) {
            ColorWritten = true;
            return true;
        }
        return SymbolId == psSolidColor;
    default:
        return SymbolId == psPixel || SymbolId == psSolidColor;
    }
}

int TTestFormulaRules::GetSettingType(const std::string &Section, const std::string &Name,
                                      std::uint8_t &Type) const {
    if (Section == "DEFAULT" && Name == "PRECISION") {
        Type = vtInteger;
        return 0;
    }
    return ceInvalidSetting;
}

int TTestFormulaRules::SetConstantSetting(const std::string &Section, const std::string &Name,
                                          const TLiteral &Literal) {
    const std::string key = Section + "." + Name;
    auto accept = [&]() {
        Values[key] = Literal.GetText();
        return 0;
    };
    const bool number = Literal.Type == vtInteger || Literal.Type == vtFloat;
    if (Section == "DEFAULT" && Name == "RENDER")
        return Literal.Type == vtBoolean ? accept() : ceTypeError;
    if (Kind != TTestFormulaKind::Formula)
        return ceInvalidSetting;
    if (Section == "DEFAULT") {
        if (Name == "MAXITER" || Name == "PERIODICITY") {
            if (Literal.Type != vtInteger)
                return ceTypeError;
            const std::int32_t value = static_cast<const TIntLiteral &>(Literal).Value;
            if (Name == "MAXITER" ? value < 1 : value >= 4)
                return ceLiteralOutOfRange;
            return accept();
        }
        if (Name == "CENTER")
            return Literal.Type == vtComplex ? accept() : ceTypeError;
        if (Name == "MAGN" || Name == "STRETCH" || Name == "ANGLE" || Name == "SKEW")
            return number ? accept() : ceTypeError;
    }
    if (Section == "BUILTIN" && Name == "TYPE") {
        if (Literal.Type != vtInteger)
            return ceTypeError;
        const std::int32_t value = static_cast<const TIntLiteral &>(Literal).Value;
        // The test formulas know two built-in formulas.
        return value >= 1 && value <= 2 ? accept() : ceLiteralOutOfRange;
    }
    return ceInvalidSetting;
}

int TTestFormulaRules::SetIdentifierSetting(const std::string &Section, const TToken &NameToken,
                                            const TToken &ValueToken) {
    if (Kind != TTestFormulaKind::Formula)
        return ceInvalidSetting;
    auto text = [](const TToken &Token) { return static_cast<const TTextToken &>(Token).Text; };
    const bool nameIsWord = NameToken.Kind == tkVariable || NameToken.Kind == tkParameter;
    if (Section == "DEFAULT" && NameToken.Kind == tkVariable && UpperCase(text(NameToken)) == "METHOD") {
        if (ValueToken.Kind != tkVariable)
            return ceInvalidSetting;
        const std::string method = UpperCase(text(ValueToken));
        if (method != "GUESSING" && method != "MULTIPASS" && method != "ONEPASS")
            return ceInvalidSetting;
        Values["DEFAULT.METHOD"] = method;
        return 0;
    }
    if (Section == "SWITCH" && nameIsWord) {
        std::string value;
        if (ValueToken.Kind == tkVariable || ValueToken.Kind == tkParameter)
            value = text(ValueToken);
        else if (!(ValueToken.Kind == tkPredefined &&
                   static_cast<const TIdToken &>(ValueToken).Id == psPixel))
            return ceInvalidSetting;
        Values["SWITCH." + UpperCase(text(NameToken))] = value;
        return 0;
    }
    return ceInvalidSetting;
}

int TTestFormulaRules::SetStringSetting(const std::string &Section, const std::string &Name,
                                        const std::string &Text) {
    if ((Section == "DEFAULT" && (Name == "TITLE" || Name == "HELPFILE" || Name == "HELPTOPIC")) ||
        (Kind == TTestFormulaKind::Formula && Section == "SWITCH" && Name == "TYPE")) {
        Values[Section + "." + Name] = Text;
        return 0;
    }
    return ceInvalidSetting;
}

// ---------------------------------------------------------------------------------------------
// TTestParser

void TTestParser::ParseText(const std::string &Text) {
    std::string text;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\n' && (i == 0 || Text[i - 1] != '\r'))
            text += '\r';
        text += Text[i];
    }
    Expressions->Clear();
    TEntryStream stream(text.data(), text.size());
    InitCompile();
    Tokenizer->Tokenize(stream);
    EndParse({stream.Line(), stream.Column()});
}

std::vector<std::string> TTestParser::DumpStatements() const {
    std::vector<std::string> lines;
    for (TExpressionNode *node = Expressions->GetFirst(); node; node = node->Next)
        lines.push_back(DumpExpression(node->Expression.get()));
    return lines;
}

void TTestParser::Check() {
    ++CheckCount;
    Log.push_back("check");
    if (OnCheck)
        OnCheck(*this);
}

void TTestParser::Generate() {
    ++GenerateCount;
    GeneratedPrecision = GetPrecision();
    Log.push_back("generate");
    if (OnGenerate)
        OnGenerate(*this);
}

void TTestParser::GenerateEmpty() {
    ++GenerateEmptyCount;
    Log.push_back("empty");
    TParser::GenerateEmpty();
}

void TTestParser::BeginSettingsSection(const std::string &Name, std::uint8_t Kind) {
    Log.push_back("settings " + Name + " " + std::to_string(Kind));
}

void TTestParser::EndSettingsSection(const TCompilePosition &Position) {
    Log.push_back("end settings " + std::to_string(Position.Line) + ":" + std::to_string(Position.Column));
}

void TTestParser::ParseSettingStatement(TToken *FirstToken) {
    int count = 0;
    for (TToken *token = FirstToken; token->Kind != tkEnd; token = token->Next.get())
        ++count;
    Log.push_back("setting " + std::to_string(count) + " tokens");
}

// ---------------------------------------------------------------------------------------------
// Dump

namespace {

const char *OperatorText(int Code) {
    switch (Code) {
    case opAdd:
        return "+";
    case opSubtract:
        return "-";
    case opMultiply:
        return "*";
    case opDivide:
        return "/";
    case opPower:
        return "^";
    case opAssign:
        return "=";
    case opModulo:
        return "%";
    case opEqual:
        return "==";
    case opNotEqual:
        return "!=";
    case opLess:
        return "<";
    case opLessEqual:
        return "<=";
    case opGreater:
        return ">";
    case opGreaterEqual:
        return ">=";
    case opAnd:
        return "&&";
    case opOr:
        return "||";
    default:
        return "?";
    }
}

std::string DumpList(const TExpressionArray &List, const char *Open, const char *Close) {
    std::string text = Open;
    for (std::int32_t i = 0; i < List.Count(); ++i) {
        if (i > 0)
            text += ",";
        text += DumpExpression(List.Get(i));
    }
    return text + Close;
}

} // namespace

std::string DumpExpression(const TExpression *Expression) {
    if (!Expression)
        return "<none>";
    switch (Expression->Kind) {
    case ekLiteral:
        return static_cast<const TLiteralExpression *>(Expression)->Literal->GetText();
    case ekVariable: {
        auto variable = static_cast<const TVariableExpression *>(Expression);
        return variable->Name + (variable->Count() > 0 ? DumpList(variable->Indices, "[", "]") : "");
    }
    case ekParameter:
        return "@" + static_cast<const TParameterExpression *>(Expression)->Name;
    case ekUserFunction: {
        auto function = static_cast<const TUserFunctionExpression *>(Expression);
        return function->Name + DumpList(function->Arguments, "(", ")");
    }
    case ekPredefined:
        return "#" + std::to_string(static_cast<const TPredefinedExpression *>(Expression)->SymbolId);
    case ekUnaryOperator: {
        auto unary = static_cast<const TUnaryOperatorExpression *>(Expression);
        const char *name = unary->Operator == uoNegate ? "neg" : unary->Operator == uoModulus ? "mod" : "not";
        return std::string("(") + name + " " + DumpExpression(unary->Operand.get()) + ")";
    }
    case ekBinaryOperator: {
        auto binary = static_cast<const TBinaryOperatorExpression *>(Expression);
        return std::string("(") + OperatorText(binary->Operator) + " " + DumpExpression(binary->Left.get()) +
               " " + DumpExpression(binary->Right.get()) + ")";
    }
    case ekFunction: {
        auto function = static_cast<const TFunctionExpression *>(Expression);
        return "f" + std::to_string(function->FunctionId) + DumpList(function->Arguments, "(", ")");
    }
    case ekKeyword: {
        auto keyword = static_cast<const TKeywordExpression *>(Expression);
        std::string text = "(kw" + std::to_string(keyword->KeywordId);
        if (keyword->Operand)
            text += " " + DumpExpression(keyword->Operand.get());
        return text + ")";
    }
    case ekLabel: {
        auto label = static_cast<const TLabelExpression *>(Expression);
        return "label " + label->Name + " " + std::to_string(label->SectionKind);
    }
    case ekDirective: {
        auto directive = static_cast<const TDirectiveExpression *>(Expression);
        return (directive->DirectiveId == diDefine ? "define " : "undef ") + directive->Name;
    }
    case ekString:
        return "\"" + static_cast<const TStringExpression *>(Expression)->Text + "\"";
    default:
        return "<kind " + std::to_string(Expression->Kind) + ">";
    }
}

// ---------------------------------------------------------------------------------------------
// TTestCompiledFormula

std::vector<std::uint8_t> TTestCompiledFormula::Section(const std::string &Name) const {
    auto found = Sections.find(Name);
    return found == Sections.end() ? std::vector<std::uint8_t>() : found->second;
}

void TTestCompiledFormula::ResetCode() {
    Sections.clear();
    PixelRoutine.Clear();
    DataSize = 0;
}

void TTestCompiledFormula::GenerateEmpty() {
    ResetCode();
    TCompiler::GenerateEmpty();
    ++GenerateEmptyCount;
}

void TTestCompiledFormula::Generate() {
    ResetCode();
    TCompiler::Generate();
    DataSize = GetStorage().DataSize;
    if (Rules.Kind == TTestFormulaKind::Formula) {
        if (Sections.find("BAILOUT") == Sections.end())
            Sections["BAILOUT"] = {0x30, 0xC0}; // xor al, al: bail out
        AssemblePixelRoutine();
    }
    ++GenerateCount;
}

void TTestCompiledFormula::CompileSection(const std::string &Name, const std::uint8_t *Code,
                                          std::int32_t Size) {
    Sections[Name].assign(Code, Code + Size);
}

void TTestCompiledFormula::AssemblePixelRoutine() {
    const std::vector<std::uint8_t> init = Section("INIT"), loop = Section("LOOP"),
                                    bailout = Section("BAILOUT");
    // No coloring loop code is joined in: the colorings here are the context's routines only.
    PixelRoutine.AssemblePixelRoutine(GetPrecision(), TTestPixelContext::FormulaDataCell, init, loop,
                                      bailout);
}

// ---------------------------------------------------------------------------------------------
// TTestPixelContext

TTestPixelContext::TTestPixelContext(const TTestCompiledFormula &AFormula, std::int32_t MaxIter)
    : Formula(AFormula), Memory(512 + 16), DataMemory(static_cast<std::size_t>(AFormula.GetDataSize()) + 32) {
    auto align = [](std::uint8_t *P) {
        return reinterpret_cast<std::uint8_t *>((reinterpret_cast<std::uintptr_t>(P) + 15) &
                                                ~std::uintptr_t(15));
    };
    Bytes = align(Memory.data());
    Data = align(DataMemory.data());
    if (Formula.GetPrecision() == pmArbitrary) {
        FProcessor = std::make_unique<THugeProcessor>(Formula.GetDigits());
        InitHugeContextValues(Bytes, Formula.GetDigits());
        try {
            Formula.GetStorage().InitData(Data);
        } catch (...) {
            DoneHugeContextValues(Bytes);
            throw;
        }
    } else {
        Formula.GetStorage().InitData(Data);
    }
    At<void *>(FormulaDataCell) = Data;
    EmptyRoutine.EmitReturn();
    for (const std::int32_t cell : {0x3C, 0x40, 0x44, 0x48, 0x4C, 0x50})
        At<const void *>(cell) = EmptyRoutine.GetCode();
    At<std::int32_t>(MaxIterCell) = MaxIter;
}

TTestPixelContext::~TTestPixelContext() {
    Formula.GetStorage().DoneData(Data);
    if (FProcessor)
        DoneHugeContextValues(Bytes);
}

void TTestPixelContext::SetPeriodicity(std::uint32_t Threshold, std::uint32_t Mask, std::int32_t Saves,
                                       float Tolerance) {
    At<std::uint32_t>(PeriodThreshold) = Threshold;
    At<std::uint32_t>(0x0C) = Mask;
    At<std::int32_t>(SavesPerStep) = Saves;
    At<float>(PeriodTolerance) = Tolerance;
    PerMask = Mask;
    PerSavesPerStep = Saves;
}

void TTestPixelContext::SetPixel(long double Re, long double Im) {
    if (FProcessor) {
        Huge(0xB8).SetExtended(Re);
        Huge(0xBC).SetExtended(Im);
    } else if (Formula.GetPrecision() == pmDouble) {
        At<double>(0xD0) = static_cast<double>(Re);
        At<double>(0xD8) = static_cast<double>(Im);
    } else {
        At<long double>(0x100) = Re;
        At<long double>(0x110) = Im;
    }
}

void TTestPixelContext::SetPixelText(const std::string &Re, const std::string &Im) {
    Huge(0xB8).SetText(Re);
    Huge(0xBC).SetText(Im);
}

std::int32_t TTestPixelContext::Iterate() {
    // What a piece resets before every pixel.
    At<std::uint32_t>(PeriodMask) = PerMask;
    At<std::int32_t>(SavesLeft) = PerSavesPerStep;
    Formula.GetPixelRoutine().Execute(Bytes, FProcessor.get());
    return At<std::int32_t>(IterationsDone);
}
