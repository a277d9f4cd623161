// The storage list of a compiled formula and its data block.
#include "CompStorage.h"

#include <cstring>
#include <limits>

#include "CompMessages.h"
#include "CompRoutines.h"

static_assert(sizeof(void *) == 4, "the data block holds 32-bit handles of arbitrary-precision numbers");

namespace {

constexpr std::int64_t SizeLimit = std::numeric_limits<std::int64_t>::max();

// a * b, or SizeLimit when that does not fit.
std::int64_t SaturatingMultiply(std::int64_t a, std::int64_t b) {
    if (a == 0 || b == 0)
        return 0;
    if (a > SizeLimit / b)
        return SizeLimit;
    return a * b;
}

std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) {
    if (a > SizeLimit - b)
        return SizeLimit;
    return a + b;
}

std::int64_t AlignUp(std::int64_t value, std::int32_t alignment) {
    const std::int64_t rest = value % alignment;
    if (rest == 0)
        return value;
    return SaturatingAdd(value, alignment - rest);
}

// The formula control word for the duration of a scope; the caller's word comes back (with
// pending exceptions cleared) also when an exception leaves the scope.
class TFormulaFPUScope {
public:
    TFormulaFPUScope() { SetFormulaFPUControl(FSaved); }
    ~TFormulaFPUScope() { RestoreFPUControl(FSaved); }
    TFormulaFPUScope(const TFormulaFPUScope &) = delete;
    TFormulaFPUScope &operator=(const TFormulaFPUScope &) = delete;

private:
    std::uint16_t FSaved = 0;
};

// Slot of a 32-bit handle in the data block.
THugeFloatBase *ReadHandle(const std::uint8_t *slot) {
    THugeFloatBase *value;
    std::memcpy(&value, slot, sizeof value);
    return value;
}

void WriteHandle(std::uint8_t *slot, THugeFloatBase *value) {
    std::memcpy(slot, &value, sizeof value);
}

// Number of arbitrary-precision numbers per element of a type (two for complex, one for float).
int HugeSlotsPerElement(std::uint8_t dataType) {
    if (dataType == vtComplex)
        return 2;
    if (dataType == vtFloat)
        return 1;
    return 0;
}

void CopyConstant(const TConstant &constant, std::uint8_t *target) {
    switch (constant.Type) {
    case vtComplex: {
        const auto &complex = static_cast<const TComplexConstant &>(constant);
        if (complex.Precision == pmDouble) {
            const auto &value = static_cast<const TDoubleComplexConstant &>(constant);
            std::memcpy(target, &value.Re, 8);
            std::memcpy(target + 8, &value.Im, 8);
        } else if (complex.Precision == pmExtended) {
            const auto &value = static_cast<const TExtendedComplexConstant &>(constant);
            std::memcpy(target, &value.Re, 10);
            std::memcpy(target + 16, &value.Im, 10);
        } else {
            const auto &value = static_cast<const THugeComplexConstant &>(constant);
            if (THugeFloatBase *re = ReadHandle(target))
                re->Assign(value.Value.Re);
            if (THugeFloatBase *im = ReadHandle(target + 4))
                im->Assign(value.Value.Im);
        }
        break;
    }
    case vtFloat: {
        const auto &real = static_cast<const TFloatConstant &>(constant);
        if (real.Precision == pmDouble) {
            std::memcpy(target, &static_cast<const TDoubleFloatConstant &>(constant).Value, 8);
        } else if (real.Precision == pmExtended) {
            std::memcpy(target, &static_cast<const TExtendedFloatConstant &>(constant).Value, 10);
        } else if (THugeFloatBase *value = ReadHandle(target)) {
            value->Assign(static_cast<const THugeFloatConstant &>(constant).Value);
        }
        break;
    }
    case vtInteger:
        std::memcpy(target, &static_cast<const TIntConstant &>(constant).Value, 4);
        break;
    case vtBoolean:
        *target = static_cast<const TBoolConstant &>(constant).Value ? 1 : 0;
        break;
    case vtColor: {
        const auto &color = static_cast<const TColorConstant &>(constant);
        const float parts[4] = {color.Red, color.Green, color.Blue, color.Alpha};
        std::memcpy(target, parts, sizeof parts);
        break;
    }
    default:
        break;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Layout

std::int32_t StorageElementSize(std::uint8_t DataType, std::uint8_t Precision) {
    switch (DataType) {
    case vtComplex:
        return Precision == pmDouble ? 16 : Precision == pmExtended ? 32 : 8;
    case vtFloat:
        return Precision == pmDouble ? 8 : Precision == pmExtended ? 16 : 4;
    case vtInteger:
        return 4;
    case vtBoolean:
        return 1;
    case vtColor:
        return 16;
    default:
        return 0;
    }
}

std::int32_t StorageAlignment(std::uint8_t DataType, std::uint8_t Precision) {
    switch (DataType) {
    case vtComplex:
    case vtFloat:
        return Precision == pmDouble ? 8 : Precision == pmExtended ? 16 : 4;
    case vtInteger:
    case vtColor:
        return 4;
    default:
        return 1;
    }
}

// ---------------------------------------------------------------------------------------------
// Nodes

TVariableNode::TVariableNode(const std::string &AName, std::uint8_t ADataType)
    : TStorageNode(skVariable, ADataType), Name(AName) {
    FStates.push_back(TVariableState{});
}

std::int64_t TVariableNode::GetElementCount() const {
    std::int64_t count = 1;
    for (std::uint32_t size : FDimensions)
        count = SaturatingMultiply(count, size);
    return count;
}

std::unique_ptr<TStorageNode> TVariableNode::Clone() const {
    auto copy = std::make_unique<TVariableNode>(Name, DataType);
    copy->DeclarationPosition = DeclarationPosition;
    copy->FDimensions = FDimensions;
    return copy;
}

void TVariableNode::SetDimensionCount(std::int32_t Count) {
    if (Count < 0)
        Count = 0;
    FDimensions.resize(static_cast<std::size_t>(Count), 1);
}

void TVariableNode::CheckDimensionIndex(std::int32_t Index) const {
    if (Index < 0 || Index >= GetDimensionCount())
        throw EListError("List index out of bounds (%d)", Index);
}

std::uint32_t TVariableNode::GetDimension(std::int32_t Index) const {
    CheckDimensionIndex(Index);
    return FDimensions[static_cast<std::size_t>(Index)];
}

void TVariableNode::SetDimension(std::int32_t Index, std::uint32_t Size) {
    CheckDimensionIndex(Index);
    FDimensions[static_cast<std::size_t>(Index)] = Size;
}

void TVariableNode::ResetStates() {
    FStates.assign(1, TVariableState{0, true});
    Level = 0;
}

void TVariableNode::BeginBlock(std::int32_t ListLevel) {
    // A variable initialized before the block stays initialized inside it.
    if (IsInitialized())
        return;
    FStates.push_back(TVariableState{});
    Level = ListLevel;
}

void TVariableNode::NextBranch(std::int32_t ListLevel) {
    if (Level != ListLevel)
        return;
    TVariableState &top = FStates.back();
    if (top.Initialized)
        top.InitializedBranches++;
    top.Initialized = false;
}

void TVariableNode::EndBlock(std::int32_t ListLevel, std::int32_t BranchCount) {
    if (Level != ListLevel)
        return;
    const TVariableState top = FStates.back();
    FStates.pop_back();
    if (FStates.empty())
        FStates.push_back(TVariableState{});
    // Initialized after the block only when every branch, the last included, initialized it.
    if (BranchCount >= 1 && top.InitializedBranches == BranchCount && top.Initialized)
        FStates.back().Initialized = true;
    Level--;
}

std::unique_ptr<TStorageNode> TTempVariableNode::Clone() const {
    return std::make_unique<TTempVariableNode>(TempId, DataType);
}

TConstantNode::TConstantNode(std::unique_ptr<TConstant> AConstant)
    : TStorageNode(skConstant, AConstant ? AConstant->Type : vtNone), Constant(std::move(AConstant)) {
    if (!Constant)
        throw EStorageError("TConstantNode.Create: Constant expected");
}

std::unique_ptr<TStorageNode> TConstantNode::Clone() const {
    return std::make_unique<TConstantNode>(Constant->Clone());
}

std::unique_ptr<TStorageNode> TParameterNode::Clone() const {
    return std::make_unique<TParameterNode>(ParameterName, DataType);
}

// ---------------------------------------------------------------------------------------------
// List

TStorageList::TStorageList() {
    FBlocks.push_back(0);
}

TStorageList::~TStorageList() {
    Clear();
}

namespace {

// A hash of a constant's value that equal constants (Equals) share: a hash of exactly what
// Equals compares. Distinct values should rarely share one, since FindConstant compares every
// constant of the same hash.
std::size_t ConstantHash(const TConstant &Constant) {
    std::size_t hash = 2166136261u ^ Constant.Type;
    auto mix = [&hash](const void *Bytes, std::size_t Count) {
        for (std::size_t i = 0; i < Count; ++i)
            hash = (hash ^ static_cast<const unsigned char *>(Bytes)[i]) * 16777619u;
    };
    // Colours compare as numbers: 0 equals -0 (and a NaN equals nothing, so its bytes serve).
    auto mixNumber = [&mix](float Value) {
        const float number = Value == 0 ? 0.0f : Value;
        mix(&number, sizeof(number));
    };
    // Arbitrary-precision values compare by their fields and every mantissa word, so that values
    // apart only in their lowest words are told apart here too.
    auto mixHuge = [&mix](const THugeFloatBase &Value) {
        const std::int32_t fields[] = {Value.FWordCount, Value.FExponent, Value.FSign ? 1 : 0,
                                       static_cast<std::int32_t>(Value.FState)};
        mix(fields, sizeof(fields));
        mix(Value.FMantissa, sizeof(std::uint32_t) * static_cast<std::size_t>(Value.FWordCount));
    };
    constexpr std::size_t extendedBytes = 10; // the padding of a long double is not compared
    if (auto *c = dynamic_cast<const TIntConstant *>(&Constant))
        mix(&c->Value, sizeof(c->Value));
    else if (auto *c = dynamic_cast<const TBoolConstant *>(&Constant))
        mix(&c->Value, sizeof(c->Value));
    else if (auto *c = dynamic_cast<const TColorConstant *>(&Constant)) {
        for (float part : {c->Red, c->Green, c->Blue, c->Alpha})
            mixNumber(part);
    } else if (auto *c = dynamic_cast<const TDoubleFloatConstant *>(&Constant))
        mix(&c->Value, sizeof(double));
    else if (auto *c = dynamic_cast<const TExtendedFloatConstant *>(&Constant))
        mix(&c->Value, extendedBytes);
    else if (auto *c = dynamic_cast<const THugeFloatConstant *>(&Constant))
        mixHuge(c->Value);
    else if (auto *c = dynamic_cast<const TDoubleComplexConstant *>(&Constant)) {
        mix(&c->Re, sizeof(double));
        mix(&c->Im, sizeof(double));
    } else if (auto *c = dynamic_cast<const TExtendedComplexConstant *>(&Constant)) {
        mix(&c->Re, extendedBytes);
        mix(&c->Im, extendedBytes);
    } else if (auto *c = dynamic_cast<const THugeComplexConstant *>(&Constant)) {
        mixHuge(c->Value.Re);
        mixHuge(c->Value.Im);
    }
    return hash;
}

} // namespace

void TStorageList::IndexNode(TStorageNode *Node) {
    switch (Node->Kind) {
    case skVariable: {
        auto *variable = static_cast<TVariableNode *>(Node);
        FVariables.emplace(UpperCase(variable->Name), variable);
        break;
    }
    case skParameter: {
        auto *parameter = static_cast<TParameterNode *>(Node);
        FParameters.emplace(UpperCase(parameter->ParameterName), parameter);
        break;
    }
    case skTemporary: {
        auto *temporary = static_cast<TTempVariableNode *>(Node);
        FTemporaries.emplace(temporary->TempId, temporary);
        break;
    }
    case skConstant: {
        auto *constant = static_cast<TConstantNode *>(Node);
        if (constant->Constant)
            FConstants[ConstantHash(*constant->Constant)].push_back(constant);
        break;
    }
    default:
        break;
    }
}

void TStorageList::ClearIndex() {
    FVariables.clear();
    FParameters.clear();
    FTemporaries.clear();
    FConstants.clear();
}

TStorageNode *TStorageList::Add(std::unique_ptr<TStorageNode> Node) {
    if (!Node)
        throw EStorageError("TStorageList.Add: Node expected");
    TStorageNode *node = Node.release();
    node->Next = nullptr;
    if (FLast)
        FLast->Next = node;
    else
        FFirst = node;
    FLast = node;
    FCount++;
    IndexNode(node);
    if (node->Kind == skVariable) {
        auto *variable = static_cast<TVariableNode *>(node);
        for (std::int32_t level = 1; level <= Level; level++)
            variable->BeginBlock(level);
    }
    return node;
}

void TStorageList::Clear() {
    TStorageNode *node = FFirst;
    FFirst = nullptr;
    FLast = nullptr;
    FCount = 0;
    ClearIndex();
    while (node) {
        TStorageNode *next = node->Next;
        delete node;
        node = next;
    }
    FBlocks.assign(1, 0);
    DataSize = 0;
    Level = 0;
}

void TStorageList::Assign(const TStorageList &Source) {
    if (&Source == this)
        return;
    Clear();
    for (const TStorageNode *node = Source.FFirst; node; node = node->Next)
        Add(node->Clone());
}

void TStorageList::Unlink(TStorageNode *Previous, TStorageNode *Node) {
    if (Previous)
        Previous->Next = Node->Next;
    else
        FFirst = Node->Next;
    if (FLast == Node)
        FLast = Previous;
    FCount--;
}

void TStorageList::RemoveTemporaries() {
    FTemporaries.clear();
    FConstants.clear();
    TStorageNode *previous = nullptr;
    TStorageNode *node = FFirst;
    while (node) {
        TStorageNode *next = node->Next;
        if (node->Kind == skTemporary || node->Kind == skConstant) {
            Unlink(previous, node);
            delete node;
        } else {
            previous = node;
        }
        node = next;
    }
}

TVariableNode *TStorageList::FindVariable(const std::string &Name) const {
    auto found = FVariables.find(UpperCase(Name));
    return found == FVariables.end() ? nullptr : found->second;
}

TParameterNode *TStorageList::FindParameter(const std::string &Name) const {
    auto found = FParameters.find(UpperCase(Name));
    return found == FParameters.end() ? nullptr : found->second;
}

TTempVariableNode *TStorageList::FindTemporary(std::uint32_t TempId) const {
    auto found = FTemporaries.find(TempId);
    return found == FTemporaries.end() ? nullptr : found->second;
}

TConstantNode *TStorageList::FindConstant(const TConstant &Constant) const {
    auto found = FConstants.find(ConstantHash(Constant));
    if (found == FConstants.end())
        return nullptr;
    TFormulaFPUScope fpu;
    for (TConstantNode *node : found->second)
        if (node->Constant->Equals(Constant))
            return node;
    return nullptr;
}

std::int32_t TStorageList::IndexOf(const TStorageNode *Node) const {
    std::int32_t index = 0;
    for (const TStorageNode *node = FFirst; node; node = node->Next, index++)
        if (node == Node)
            return index;
    return -1;
}

std::int64_t TStorageList::LayoutSize(std::uint8_t APrecision) const {
    std::int64_t size = 0;
    for (const TStorageNode *node = FFirst; node; node = node->Next) {
        const std::int32_t element = StorageElementSize(node->DataType, APrecision);
        if (element == 0)
            continue;
        size = AlignUp(size, StorageAlignment(node->DataType, APrecision));
        size = SaturatingAdd(size, SaturatingMultiply(node->GetElementCount(), element));
    }
    return size;
}

void TStorageList::SetArrayDimension(TVariableNode &Node, std::int32_t Index, std::int32_t Value,
                                     const TCompilePosition &Position) {
    Node.SetDimension(Index, Value < 1 ? 1u : static_cast<std::uint32_t>(Value));
    for (std::uint8_t precision : {pmDouble, pmExtended, pmArbitrary}) {
        if (LayoutSize(precision) > MaxFormulaDataSize) {
            Node.SetDimension(Index, 1);
            throw ECompileError(ceLiteralOutOfRange, Position);
        }
    }
}

void TStorageList::AssignOffsets() {
    std::int64_t size = 0;
    for (TStorageNode *node = FFirst; node; node = node->Next) {
        const std::int32_t element = StorageElementSize(node->DataType, Precision);
        if (element == 0)
            continue;
        size = AlignUp(size, StorageAlignment(node->DataType, Precision));
        if (size > std::numeric_limits<std::int32_t>::max())
            break;
        node->Offset = static_cast<std::int32_t>(size);
        size = SaturatingAdd(size, SaturatingMultiply(node->GetElementCount(), element));
    }
    if (size > std::numeric_limits<std::int32_t>::max())
        throw EStorageError("TStorageList.AssignOffsets: Data block too large");
    DataSize = static_cast<std::int32_t>(size);
}

void TStorageList::InitData(void *Block) const {
    auto *block = static_cast<std::uint8_t *>(Block);
    TFormulaFPUScope fpu;
    try {
        for (const TStorageNode *node = FFirst; node; node = node->Next) {
            std::uint8_t *data = block + node->Offset;
            if (Precision == pmArbitrary) {
                const int perElement = HugeSlotsPerElement(node->DataType);
                const std::int64_t slots = node->GetElementCount() * perElement;
                for (std::int64_t i = 0; i < slots; i++)
                    WriteHandle(data + 4 * i, new TBasicHugeFloat(Digits));
            }
            if (node->Kind == skConstant)
                CopyConstant(*static_cast<const TConstantNode *>(node)->Constant, data);
        }
    } catch (...) {
        DoneData(Block);
        throw;
    }
}

void TStorageList::DoneData(void *Block) const {
    if (Precision != pmArbitrary)
        return;
    auto *block = static_cast<std::uint8_t *>(Block);
    for (const TStorageNode *node = FFirst; node; node = node->Next) {
        const int perElement = HugeSlotsPerElement(node->DataType);
        if (perElement == 0)
            continue;
        std::uint8_t *data = block + node->Offset;
        const std::int64_t slots = node->GetElementCount() * perElement;
        for (std::int64_t i = 0; i < slots; i++) {
            delete ReadHandle(data + 4 * i);
            WriteHandle(data + 4 * i, nullptr);
        }
    }
}

void TStorageList::BeginBlock() {
    Level++;
    FBlocks.push_back(0);
    for (TStorageNode *node = FFirst; node; node = node->Next)
        if (node->Kind == skVariable)
            static_cast<TVariableNode *>(node)->BeginBlock(Level);
}

void TStorageList::NextBranch() {
    FBlocks.back()++;
    for (TStorageNode *node = FFirst; node; node = node->Next)
        if (node->Kind == skVariable)
            static_cast<TVariableNode *>(node)->NextBranch(Level);
}

void TStorageList::EndBlock() {
    // Leaving a block that was never entered would break the level bookkeeping of every variable.
    if (FBlocks.size() <= 1)
        throw EStorageError("TStorageList.EndBlock: No open block");
    const std::int32_t branches = GetBranchCount();
    FBlocks.pop_back();
    for (TStorageNode *node = FFirst; node; node = node->Next)
        if (node->Kind == skVariable)
            static_cast<TVariableNode *>(node)->EndBlock(Level, branches);
    Level--;
}
