#include "CompChecker.h"

#include <algorithm>
#include <vector>

#include "CompAccess.h"
#include "CompMessages.h"
#include "CompParams.h"

namespace {

// The zero a variable of Type starts with; nullptr for a type without one.
std::unique_ptr<TLiteral> ZeroLiteral(std::uint8_t Type) {
    switch (Type) {
    case vtComplex:
        return std::make_unique<TComplexLiteral>("0", "0");
    case vtFloat:
        return std::make_unique<TFloatLiteral>("0");
    case vtInteger:
        return std::make_unique<TIntLiteral>(0);
    case vtBoolean:
        return std::make_unique<TBoolLiteral>(false);
    default:
        return nullptr;
    }
}

// An assignment the checker makes itself, typed as it would have typed it.
TExpressionPtr MakeAssignment(const TCompilePosition &Position, TStorageNode *Target, TExpressionPtr Value) {
    auto assignment = std::make_unique<TBinaryOperatorExpression>(
        Position, std::make_unique<TStorageExpression>(Position, Target), std::move(Value), opAssign);
    assignment->SetReturnType(Target->DataType);
    return assignment;
}

} // namespace

bool TChecker::IsConstantSymbol(std::uint8_t SymbolId) {
    switch (SymbolId) {
    case psPi:
    case psE:
    case psMaxIter:
    case psScreenMax:
    case psWidth:
    case psHeight:
    case psCenter:
    case psMagn:
    case psAngle:
    case psStretch:
    case psSkew:
    case psRandomRange:
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// The walk

void TChecker::Check() {
    Constructs.Clear();
    CheckSectionName.clear();
    CheckSectionKind = 0;
    WrittenParameters.clear();
    PassedParameterWrites.clear();
    ParameterCopyStarts.clear();
    OpenLeadingSection();
    FindWrittenParameters();

    TExpressionList &list = GetExpressions();
    TCompilePosition last;
    bool bailout = false;
    // Statements inserted while checking go before the current one, so the walk never meets them.
    for (TExpressionNode *node = list.GetFirst(); node; node = node->Next) {
        TExpression *statement = node->Expression.get();
        if (!statement)
            continue;
        last = statement->Position;
        switch (statement->Kind) {
        case ekDirective:
            break;
        case ekLabel: {
            const auto &label = static_cast<const TLabelExpression &>(*statement);
            CheckSectionName = UpperCase(label.Name);
            CheckSectionKind = label.SectionKind;
            CloseBlocks(label.Position);
            bailout = false;
            break;
        }
        default:
            if (bailout)
                throw ECompileError(ceLabelExpected, statement->Position);
            CheckStatement(node->Expression);
            bailout = CheckSectionKind == skdBailout;
            break;
        }
    }
    CloseBlocks(Stream ? TCompilePosition{Stream->Line(), Stream->Column()} : last);
    StartCopiesAfterSettings();
    ReportUnused();
}

void TChecker::OpenLeadingSection() {
    // A formula that starts with GLOBAL gets no section opened before its first label by the
    // tokenizer. Initializations and parameter copies that the walk inserts from later sections
    // go after the section following GLOBAL; when that is a loop section they would run on
    // every iteration and reset the values the loop carries. So the section that a formula
    // without GLOBAL would get before that label is opened here as well.
    TExpressionList &list = GetExpressions();
    TExpressionNode *first = list.GetFirst();
    if (!first || !first->Expression || first->Expression->Kind != ekLabel ||
        static_cast<const TLabelExpression &>(*first->Expression).SectionKind != skdGlobal)
        return;
    TExpressionNode *next = first->Next;
    while (next && (!next->Expression || next->Expression->Kind != ekLabel))
        next = next->Next;
    if (!next)
        return;
    const auto &label = static_cast<const TLabelExpression &>(*next->Expression);
    std::string leading;
    GetLeadingSection(UpperCase(label.Name), leading);
    if (leading.empty() || SameText(leading, label.Name))
        return;

    // The list offers no insertion in front of a node; rebuild it with the new label in place.
    auto opened = std::make_unique<TLabelExpression>(label.Position, skdCode, leading);
    std::vector<TExpressionPtr> statements;
    statements.reserve(static_cast<std::size_t>(list.GetCount()) + 1);
    for (TExpressionNode *node = first; node; node = node->Next) {
        if (node == next)
            statements.push_back(std::move(opened));
        statements.push_back(std::move(node->Expression));
    }
    list.Clear();
    for (TExpressionPtr &statement : statements)
        if (statement)
            list.Add(std::move(statement));
}

void TChecker::FindWrittenParameters() {
    // A parameter the program writes is read through its copy everywhere, also before the first
    // write in the text: in a loop the reads before the write see what the previous pass wrote.
    // So the walk must know every written parameter before it reaches the first read.
    std::vector<const TExpression *> pending;
    for (const TExpressionNode *node = GetExpressions().GetFirst(); node; node = node->Next)
        if (node->Expression)
            pending.push_back(node->Expression.get());
    while (!pending.empty()) {
        const TExpression *expression = pending.back();
        pending.pop_back();
        if (expression->Kind == ekBinaryOperator) {
            const auto &binary = static_cast<const TBinaryOperatorExpression &>(*expression);
            if (binary.Operator == opAssign && binary.Left && binary.Left->Kind == ekParameter)
                WrittenParameters.insert(
                    UpperCase(static_cast<const TParameterExpression &>(*binary.Left).Name));
        }
        for (std::int32_t i = 0; i < expression->ChildCount(); i++)
            if (const TExpression *child = expression->GetChild(i))
                pending.push_back(child);
    }
}

void TChecker::StartCopiesAfterSettings() {
    // A copy's start folds to the parameter's value at the moment the optimizer reaches it, but a
    // DEFAULT setting placed after it would only then give the parameter its value: the first
    // code generated would start the copy from the value before the default. Settings carry no
    // code, so moving the start behind them leaves it at the same place in the section.
    if (ParameterCopyStarts.empty())
        return;
    auto isStart = [this](const TExpression *Statement) {
        return std::find(ParameterCopyStarts.begin(), ParameterCopyStarts.end(), Statement) !=
               ParameterCopyStarts.end();
    };
    TExpressionList &list = GetExpressions();
    std::vector<TExpressionPtr> statements, pending;
    statements.reserve(static_cast<std::size_t>(list.GetCount()));
    for (TExpressionNode *node = list.GetFirst(); node; node = node->Next) {
        TExpressionPtr &statement = node->Expression;
        if (!statement)
            continue;
        if (isStart(statement.get())) {
            pending.push_back(std::move(statement));
            continue;
        }
        if (statement->Kind != ekSetting) {
            for (TExpressionPtr &start : pending)
                statements.push_back(std::move(start));
            pending.clear();
        }
        statements.push_back(std::move(statement));
    }
    for (TExpressionPtr &start : pending)
        statements.push_back(std::move(start));
    list.Clear();
    for (TExpressionPtr &statement : statements)
        list.Add(std::move(statement));
}

void TChecker::CloseBlocks(const TCompilePosition &Position) {
    const TConstructRecord *top = Constructs.Top();
    if (!top)
        return;
    switch (top->Kind) {
    case kwWhile:
        throw ECompileError(ceEndWhileExpected, Position);
    case kwRepeat:
        throw ECompileError(ceUntilExpected, Position);
    default:
        throw ECompileError(ceEndIfExpected, Position);
    }
}

void TChecker::CheckStatement(TExpressionPtr &Slot) {
    if (CheckSectionKind == skdBailout) {
        CheckExpression(Slot, vtBoolean, 0);
        // REPEAT, ELSE and the other keywords without a condition have no value to test.
        if (Slot->Kind == ekKeyword) {
            const auto &keyword = static_cast<const TKeywordExpression &>(*Slot);
            if (keyword.KeywordId != kwIf && keyword.KeywordId != kwElseIf && keyword.KeywordId != kwWhile &&
                keyword.KeywordId != kwUntil)
                throw ECompileError(ceKeywordMisplaced, keyword.Position);
        }
        ConvertTo(Slot, vtBoolean);
        return;
    }
    const TExpression &statement = *Slot;
    if (statement.Kind == ekKeyword) {
        const auto &keyword = static_cast<const TKeywordExpression &>(statement);
        if (IsTypeKeyword(keyword.KeywordId)) {
            CheckDeclaration(Slot);
            return;
        }
    }
    const bool used = statement.Kind == ekKeyword || statement.Kind == ekSetting ||
                      (statement.Kind == ekBinaryOperator &&
                       static_cast<const TBinaryOperatorExpression &>(statement).Operator == opAssign) ||
                      (statement.Kind == ekFunction &&
                       static_cast<const TFunctionExpression &>(statement).FunctionId == fnPrint);
    if (!used)
        Warning(cwResultIgnored, statement.Position);
    CheckExpression(Slot, vtComplex, 0);
}

void TChecker::CheckExpression(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags) {
    switch (Slot->Kind) {
    case ekVariable:
        CheckVariableRead(Slot, Flags);
        break;
    case ekParameter:
        CheckParameterRead(Slot, Flags);
        break;
    case ekUserFunction:
        CheckUserFunction(Slot, Expected, Flags);
        break;
    case ekPredefined:
        CheckPredefinedRead(Slot, Flags);
        break;
    case ekUnaryOperator:
        CheckUnaryOperator(Slot, Expected, Flags);
        break;
    case ekBinaryOperator:
        if (static_cast<const TBinaryOperatorExpression &>(*Slot).Operator == opAssign)
            CheckAssignment(Slot, Expected, Flags);
        else
            CheckBinaryOperator(Slot, Expected, Flags);
        break;
    case ekFunction:
        CheckFunction(Slot, Expected, Flags);
        break;
    case ekKeyword:
        CheckKeyword(Slot, Flags);
        break;
    case ekSetting:
        CheckSetting(Slot);
        break;
    case ekString:
        InternString(*Slot);
        break;
    default:
        // Literals, storage references and constants carry their types already.
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Blocks

void TChecker::CheckCondition(TKeywordExpression &Keyword, std::uint32_t Flags) {
    if (!Keyword.Operand)
        throw ECompileError(ceExprExpected, Keyword.Position);
    CheckExpression(Keyword.Operand, vtBoolean, Flags);
    ConvertTo(Keyword.Operand, vtBoolean);
}

void TChecker::CheckKeyword(TExpressionPtr &Slot, std::uint32_t Flags) {
    auto &keyword = static_cast<TKeywordExpression &>(*Slot);
    const TCompilePosition position = keyword.Position;
    if (Flags & cfConstant)
        throw ECompileError(ceConstantExpected, position);
    TConstructRecord *top = Constructs.Top();
    const int topKind = top ? top->Kind : -1;
    TStorageList &storage = GetStorage();
    // The error for a keyword that does not match the innermost open block.
    auto mismatch = [&](std::uint8_t Empty, std::uint8_t AfterElse, std::uint8_t InIf) {
        switch (topKind) {
        case -1:
            throw ECompileError(Empty, position);
        case kwWhile:
            throw ECompileError(ceEndWhileExpected, position);
        case kwRepeat:
            throw ECompileError(ceUntilExpected, position);
        case kwElse:
            throw ECompileError(AfterElse, position);
        default:
            throw ECompileError(InIf, position);
        }
    };
    switch (keyword.KeywordId) {
    case kwIf:
        Constructs.Push(kwIf);
        CheckCondition(keyword, Flags);
        storage.BeginBlock();
        break;
    case kwElseIf:
        if (topKind != kwIf)
            mismatch(ceElseIfMisplaced, ceElseAfterElse, ceElseAfterElse);
        // The condition runs only when the branches before it were not taken, so it is checked
        // in the new branch: what an earlier branch wrote is not there for it to read.
        storage.NextBranch();
        CheckCondition(keyword, Flags);
        break;
    case kwElse:
        if (topKind != kwIf)
            mismatch(ceElseMisplaced, ceElseAfterElse, ceElseAfterElse);
        top->Kind = kwElse;
        storage.NextBranch();
        break;
    case kwEndIf:
        if (topKind == kwElse) {
            Constructs.Pop();
            storage.EndBlock();
        } else if (topKind == kwIf) {
            Constructs.Pop();
            storage.NextBranch();
            storage.EndBlock();
        } else {
            mismatch(ceEndIfMisplaced, ceEndIfMisplaced, ceEndIfMisplaced);
        }
        break;
    case kwWhile:
        Constructs.Push(kwWhile);
        CheckCondition(keyword, Flags);
        storage.BeginBlock();
        break;
    case kwEndWhile:
        if (topKind == kwWhile) {
            Constructs.Pop();
            storage.EndBlock();
        } else if (topKind == -1) {
            throw ECompileError(ceEndWhileMisplaced, position);
        } else if (topKind == kwRepeat) {
            throw ECompileError(ceUntilExpected, position);
        } else {
            throw ECompileError(ceEndIfExpected, position);
        }
        break;
    case kwRepeat:
        // The body always runs once, so it opens no block level.
        Constructs.Push(kwRepeat);
        break;
    case kwUntil:
        if (topKind == kwRepeat) {
            Constructs.Pop();
            CheckCondition(keyword, Flags);
        } else if (topKind == -1) {
            throw ECompileError(ceUntilMisplaced, position);
        } else if (topKind == kwWhile) {
            throw ECompileError(ceEndWhileExpected, position);
        } else {
            throw ECompileError(ceEndIfExpected, position);
        }
        break;
    default:
        throw ECompileError(ceKeywordMisplaced, position);
    }
}

// ---------------------------------------------------------------------------------------------
// Declarations and assignments

void TChecker::CheckIndices(TExpressionArray &Indices, std::uint32_t Flags) {
    for (std::int32_t i = 0; i < Indices.Count(); i++) {
        CheckExpression(Indices.Slot(i), vtInteger, Flags);
        ConvertTo(Indices.Slot(i), vtInteger);
    }
}

TExpressionPtr TChecker::MakeStorageReference(TVariableExpression &Variable, TStorageNode *Node) {
    auto reference = std::make_unique<TStorageExpression>(Variable.Position, Node);
    for (std::int32_t i = 0; i < Variable.Count(); i++)
        reference->Add(Variable.Indices.Extract(i));
    return reference;
}

void TChecker::DeclareDimensions(TVariableNode &Node, TVariableExpression &Variable) {
    Node.SetDimensionCount(Variable.Count());
    // The sizes are folded by the optimizer; here they only have to be constant integers.
    CheckIndices(Variable.Indices, cfConstant);
}

void TChecker::CheckDeclaration(TExpressionPtr &Slot) {
    auto &keyword = static_cast<TKeywordExpression &>(*Slot);
    if (!keyword.Operand || keyword.Operand->Kind != ekVariable)
        throw ECompileError(ceVariableExpected, keyword.Position);
    auto &variable = static_cast<TVariableExpression &>(*keyword.Operand);
    TStorageList &storage = GetStorage();
    if (storage.FindVariable(variable.Name))
        throw ECompileError(ceAlreadyDeclared, variable.Position);
    TVariableNode *node =
        storage.AddNode(std::make_unique<TVariableNode>(variable.Name, TypeOfKeyword(keyword.KeywordId)));
    node->Global = CheckSectionKind == skdGlobal;
    node->DeclarationPosition = variable.Position;
    DeclareDimensions(*node, variable);
    Slot = std::make_unique<TDeclarationExpression>(std::move(keyword.Operand), node);
}

std::uint8_t TChecker::ParameterType(const std::string &Name) {
    TParamList &params = GetParams();
    const int index = params.IndexOfName(Name, pkOrdinary);
    if (index >= 0)
        return params.GetItem(index)->Type;
    AddImplicitParam(params, std::make_unique<TComplexParam>(Name));
    return vtComplex;
}

void TChecker::CheckAssignment(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags) {
    auto &assignment = static_cast<TBinaryOperatorExpression &>(*Slot);
    if (Flags & cfConstant)
        throw ECompileError(ceConstantExpected, assignment.Left->Position);
    TStorageList &storage = GetStorage();

    // 1. A declaration with assignment, and the type of the target.
    bool declaration = false;
    std::uint8_t target = vtComplex;
    if (assignment.Left->Kind == ekKeyword) {
        auto &keyword = static_cast<TKeywordExpression &>(*assignment.Left);
        if (!IsTypeKeyword(keyword.KeywordId))
            throw ECompileError(ceKeywordMisplaced, keyword.Position);
        if (!keyword.Operand)
            throw ECompileError(ceVariableExpected, keyword.Position);
        declaration = true;
        target = TypeOfKeyword(keyword.KeywordId);
        TExpressionPtr operand = std::move(keyword.Operand);
        assignment.Left = std::move(operand);
    } else {
        const TExpression &left = *assignment.Left;
        if (left.Kind == ekVariable) {
            const auto &variable = static_cast<const TVariableExpression &>(left);
            if (const TVariableNode *node = storage.FindVariable(variable.Name))
                target = node->GetDimensionCount() > 0 && variable.Count() == 0 ? vtArray : node->DataType;
        } else if (left.Kind == ekPredefined) {
            target = PredefinedSymbolType(static_cast<const TPredefinedExpression &>(left).SymbolId);
        } else if (left.Kind == ekParameter) {
            const auto &parameter = static_cast<const TParameterExpression &>(left);
            if (const TParameterNode *copy = storage.FindParameter(parameter.Name)) {
                target = copy->DataType;
            } else {
                const int index = GetParams().IndexOfName(parameter.Name, pkOrdinary);
                if (index >= 0)
                    target = GetParams().GetItem(index)->Type;
            }
        }
    }

    // 2. The value.
    CheckExpression(assignment.Right, target, Flags);

    // 3. The target.
    const TCompilePosition leftPosition = assignment.Left->Position;
    switch (assignment.Left->Kind) {
    case ekVariable: {
        auto &variable = static_cast<TVariableExpression &>(*assignment.Left);
        TVariableNode *node = storage.FindVariable(variable.Name);
        if (node && declaration && node->DataType != target)
            throw ECompileError(ceAlreadyDeclared, leftPosition);
        bool wholeArray = false;
        if (!node) {
            node = storage.AddNode(std::make_unique<TVariableNode>(variable.Name, target));
            node->Global = CheckSectionKind == skdGlobal;
            node->DeclarationPosition = leftPosition;
            if (declaration && variable.Count() > 0) {
                // The declaration of the array goes to the start of the program; the statement
                // itself assigns the whole array.
                DeclareDimensions(*node, variable);
                TExpressionPtr declared = std::move(assignment.Left);
                assignment.Left = std::make_unique<TStorageExpression>(leftPosition, node);
                GetExpressions().InsertSetting(
                    std::make_unique<TDeclarationExpression>(std::move(declared), node), false);
                wholeArray = true;
            }
        }
        node->SetInitialized();
        if (node->Global && CheckSectionKind != skdGlobal)
            throw ECompileError(ceLocalWriteToGlobal, leftPosition);
        if (!wholeArray)
            assignment.Left = MakeStorageReference(variable, node);
        auto &reference = static_cast<TStorageExpression &>(*assignment.Left);
        if (node->GetDimensionCount() > 0 && reference.Count() == 0) {
            target = vtArray;
        } else {
            if (reference.Count() != node->GetDimensionCount())
                throw ECompileError(ceInvalidArrayReference, leftPosition);
            CheckIndices(reference.Indices, Flags);
            target = node->DataType;
        }
        break;
    }
    case ekParameter: {
        if (declaration)
            throw ECompileError(ceVariableExpected, leftPosition);
        if (CheckSectionKind == skdGlobal)
            throw ECompileError(ceGlobalWriteToParameter, leftPosition);
        Warning(cwWriteToParameter, leftPosition);
        const std::string name = static_cast<const TParameterExpression &>(*assignment.Left).Name;
        TParameterNode *copy = ParameterCopy(name, leftPosition);
        PassedParameterWrites.insert(UpperCase(name));
        target = copy->DataType;
        assignment.Left = std::make_unique<TStorageExpression>(leftPosition, copy);
        break;
    }
    case ekPredefined: {
        const std::uint8_t id = static_cast<const TPredefinedExpression &>(*assignment.Left).SymbolId;
        if (!IsPredefinedWritable(CheckSectionName, id))
            throw ECompileError(ceWritePredefined, leftPosition);
        if (declaration && target != PredefinedSymbolType(id))
            throw ECompileError(ceTypeError, leftPosition);
        target = PredefinedSymbolType(id);
        break;
    }
    default:
        throw ECompileError(declaration ? ceVariableExpected : ceCannotAssign, leftPosition);
    }

    // 4. The value takes the target's type.
    ConvertTo(assignment.Right, target, leftPosition);
    assignment.SetReturnType(target);
}

TParameterNode *TChecker::ParameterCopy(const std::string &Name, const TCompilePosition &Position) {
    TStorageList &storage = GetStorage();
    if (TParameterNode *copy = storage.FindParameter(Name))
        return copy;
    const std::uint8_t type = ParameterType(Name);
    TParameterNode *copy = storage.AddNode(std::make_unique<TParameterNode>(Name, type));
    // The copy takes the parameter's value once per pixel, before the formula's own code runs.
    auto source = std::make_unique<TParameterExpression>(Position, Name);
    source->SetReturnType(type);
    TExpressionPtr start = MakeAssignment(Position, copy, std::move(source));
    ParameterCopyStarts.push_back(start.get());
    GetExpressions().InsertSetting(std::move(start), InsertAfterGlobal());
    return copy;
}

// ---------------------------------------------------------------------------------------------
// Reads

void TChecker::InsertInitialization(TVariableNode &Node, const TCompilePosition &Position) {
    Node.ResetStates();
    std::unique_ptr<TLiteral> zero = ZeroLiteral(Node.DataType);
    if (!zero)
        return;
    // A global variable is set where globals are computed: from a later section the
    // initialization would run for every pixel, after the global section, and overwrite what
    // that section computed.
    const bool afterGlobal = InsertAfterGlobal() && !Node.Global;
    GetExpressions().InsertSetting(
        MakeAssignment(Position, &Node, std::make_unique<TLiteralExpression>(Position, std::move(zero))),
        afterGlobal);
}

void TChecker::CheckVariableRead(TExpressionPtr &Slot, std::uint32_t Flags) {
    auto &variable = static_cast<TVariableExpression &>(*Slot);
    if (Flags & cfConstant)
        throw ECompileError(ceConstantExpected, variable.Position);
    TStorageList &storage = GetStorage();
    TVariableNode *node = storage.FindVariable(variable.Name);
    if (!node) {
        Warning(cwUndeclaredVariable, variable.Position);
        node = storage.AddNode(std::make_unique<TVariableNode>(variable.Name, vtComplex));
        node->Global = CheckSectionKind == skdGlobal;
        node->DeclarationPosition = variable.Position;
        InsertInitialization(*node, variable.Position);
    } else if (node->GetDimensionCount() == 0 && !node->IsInitialized()) {
        Warning(cwUninitializedVariable, variable.Position);
        InsertInitialization(*node, variable.Position);
    }
    node->Read = true;
    const TCompilePosition position = variable.Position;
    Slot = MakeStorageReference(variable, node);
    auto &reference = static_cast<TStorageExpression &>(*Slot);
    if (reference.Count() > 0) {
        if (reference.Count() != node->GetDimensionCount())
            throw ECompileError(ceInvalidArrayReference, position);
        CheckIndices(reference.Indices, Flags);
    }
}

void TChecker::CheckParameterRead(TExpressionPtr &Slot, std::uint32_t Flags) {
    auto &parameter = static_cast<TParameterExpression &>(*Slot);
    if (Flags & cfNoParameters)
        throw ECompileError(ceParameterNotAllowed, parameter.Position);
    const std::uint8_t type = ParameterType(parameter.Name);
    const std::string key = UpperCase(parameter.Name);
    if (Flags & cfConstant) {
        // Constant expressions are evaluated once, when the code is generated: before the first
        // write they take the parameter's value, after it there is no single value to take.
        if (PassedParameterWrites.count(key))
            throw ECompileError(ceConstantExpected, parameter.Position);
        parameter.SetReturnType(type);
        return;
    }
    // The global section runs before any pixel's copy is set and cannot write the parameter, so
    // there the parameter itself holds the value the copy starts from.
    if (CheckSectionKind != skdGlobal && WrittenParameters.count(key)) {
        Slot = std::make_unique<TStorageExpression>(parameter.Position,
                                                    ParameterCopy(parameter.Name, parameter.Position));
        return;
    }
    parameter.SetReturnType(type);
}

void TChecker::CheckPredefinedRead(TExpressionPtr &Slot, std::uint32_t Flags) {
    const auto &symbol = static_cast<const TPredefinedExpression &>(*Slot);
    if (!IsPredefinedReadable(CheckSectionName, symbol.SymbolId))
        throw ECompileError(ceReadPredefined, symbol.Position);
    if ((Flags & cfConstant) && !IsConstantSymbol(symbol.SymbolId))
        throw ECompileError(ceConstantExpected, symbol.Position);
}

void TChecker::CheckSetting(TExpressionPtr &Slot) {
    auto &setting = static_cast<TSettingExpression &>(*Slot);
    const std::uint32_t flags = cfConstant | (setting.AllowsParameters() ? 0 : cfNoParameters);
    CheckExpression(setting.Value, setting.SettingType, flags);
    ConvertTo(setting.Value, setting.SettingType);
}

void TChecker::InternString(TExpression &Expression) {
    auto &text = static_cast<TStringExpression &>(Expression);
    TStringList &strings = GetSettings();
    // Texts are printed as written, so the lookup respects letter case.
    for (int i = 0; i < strings.Count(); i++) {
        if (strings.Strings(i) == text.Text) {
            text.StringIndex = i;
            return;
        }
    }
    strings.Add(text.Text);
    text.StringIndex = strings.Count() - 1;
}

void TChecker::ReportUnused() {
    for (TStorageNode *node = GetStorage().GetFirst(); node; node = node->Next) {
        if (node->Kind != skVariable)
            continue;
        const auto &variable = static_cast<const TVariableNode &>(*node);
        if (!variable.Read)
            Warning(variable.IsInitialized() ? cwVariableNeverRead : cwVariableNeverUsed,
                    variable.DeclarationPosition);
    }
}
