#include "FracFormulaBase.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include <windows.h>

#include "CompEntries.h"
#include "CompPixelContext.h"
#include "GenSetup.h"
#include "GenUtils.h"

namespace {

TFormulaDataAllocator *GlobalAllocator = nullptr;
// Installed by the shell; not owned.
TFormulaHelpViewer *HelpViewer = nullptr;

// Header: tag, size, and room for the gap up to the 16-byte boundary with the start pointer.
constexpr std::uint64_t BlockOverhead = 28;
constexpr std::uintptr_t HeaderSize = 12;

std::uint8_t *StartOf(const void *Data) {
    std::uint8_t *start;
    std::memcpy(&start, static_cast<const std::uint8_t *>(Data) - 4, sizeof start);
    return start;
}

} // namespace

const char *FormulaSectionWord(TFormulaKind Kind) {
    switch (Kind) {
    case TFormulaKind::Transform:
        return "transform";
    case TFormulaKind::Formula:
        return "formula";
    case TFormulaKind::Inside:
        return "inside";
    default:
        return "outside";
    }
}

bool FormulaSectionAccepted(TFormulaKind Kind, const std::string &Word) {
    const std::string word = LowerCase(Word);
    if (Kind == TFormulaKind::Inside || Kind == TFormulaKind::Outside)
        return word == "inside" || word == "outside";
    return word == FormulaSectionWord(Kind);
}

std::int32_t FormulaDataOffset(TFormulaKind Kind) {
    switch (Kind) {
    case TFormulaKind::Transform:
        return pcTransformData;
    case TFormulaKind::Formula:
        return pcFormulaData;
    case TFormulaKind::Inside:
        return pcInsideData;
    default:
        return pcOutsideData;
    }
}

TBrowserHelpCommand MakeBrowserHelpCommand(const std::string &Command, const std::string &File,
                                           const std::string &Topic) {
    if (File.find('"') != std::string::npos || Topic.find('"') != std::string::npos)
        throw EFormulaHelpError("Invalid help file or topic name");
    TBrowserHelpCommand result;
    const std::string command = Trim(Command);
    if (!command.empty() && command[0] == '"') {
        const std::size_t close = command.find('"', 1);
        result.Program = close == std::string::npos ? command : command.substr(0, close + 1);
    } else {
        result.Program = command.substr(0, command.find(' '));
    }
    result.Parameter = "\"" + (Topic.empty() ? File : File + "#" + Topic) + "\"";
    return result;
}

std::string ResolveHelpFile(const std::string &HelpFile, const std::string &ProgramFolder,
                            const std::string &FormulaFileFolder, const std::string &FormulaHelpFolder) {
    if (HelpFile.empty() || SameText(HelpFile.substr(0, 7), "http://"))
        return HelpFile;
    const bool relative = HelpFile[0] != '\\' && (HelpFile.size() < 2 || HelpFile[1] != ':');
    if (!relative)
        return HelpFile;
    for (const std::string &folder : {ProgramFolder, FormulaFileFolder}) {
        if (folder.empty())
            continue;
        const std::string path = IncludeTrailingPathDelimiter(folder) + HelpFile;
        if (FileExists(path))
            return path;
    }
    return FormulaHelpFolder.empty() ? HelpFile : IncludeTrailingPathDelimiter(FormulaHelpFolder) + HelpFile;
}

int HelpViewerKind(const std::string &HelpFile) {
    const std::string extension = LowerCase(ExtractFileExt(HelpFile));
    if (SameText(HelpFile.substr(0, 7), "http://") || extension == ".htm" || extension == ".html")
        return 0;
    return extension == ".chm" ? 1 : 2;
}

std::string WinHelpJumpMacro(const std::string &Topic) {
    if (Topic.find('"') != std::string::npos)
        throw EFormulaHelpError("Invalid help file or topic name");
    return "JumpID(\"\", \"" + Topic + "\")";
}

void SetFormulaHelpViewer(TFormulaHelpViewer *Viewer) {
    HelpViewer = Viewer;
}

TFormulaHelpViewer *FormulaHelpViewer() {
    return HelpViewer;
}

// ---------------------------------------------------------------------------------------------
// TFormulaDataAllocator

void *TFormulaDataAllocator::Alloc(std::uint64_t Size) {
    if (Size == 0)
        return nullptr;
    if (Size > 0x7FFFFFFFu - BlockOverhead)
        throw EOutOfMemory("Out of memory");
    const std::uint64_t total = Size + BlockOverhead;
    const bool paged = Size > HeapLimit;
    void *memory = paged ? VirtualAlloc(nullptr, static_cast<SIZE_T>(total), MEM_COMMIT, PAGE_READWRITE)
                         : std::malloc(static_cast<std::size_t>(total));
    if (!memory)
        throw EOutOfMemory("Out of memory");
    auto *start = static_cast<std::uint8_t *>(memory);
    const std::uint32_t tag = Tag, size = static_cast<std::uint32_t>(Size);
    std::memcpy(start, &tag, 4);
    std::memcpy(start + 4, &size, 4);
    const std::uintptr_t data =
        (reinterpret_cast<std::uintptr_t>(start) + HeaderSize + 15) & ~std::uintptr_t{15};
    auto *result = reinterpret_cast<std::uint8_t *>(data);
    std::memcpy(result - 4, &start, sizeof start);
    return result;
}

void TFormulaDataAllocator::Free(void *Data) {
    if (!Data)
        return;
    std::uint8_t *start = StartOf(Data);
    std::uint32_t tag;
    std::memcpy(&tag, start, 4);
    if (tag != Tag)
        throw EInvalidPointer("Invalid pointer operation");
    const bool paged = BlockSize(Data) > HeapLimit;
    std::memset(start, 0, 4);
    ReleaseMemory(start, paged);
}

std::uint32_t TFormulaDataAllocator::BlockSize(const void *Data) {
    std::uint32_t size;
    std::memcpy(&size, StartOf(Data) + 4, 4);
    return size;
}

void TFormulaDataAllocator::ReleaseMemory(void *Start, bool Paged) {
    if (Paged)
        VirtualFree(Start, 0, MEM_RELEASE);
    else
        std::free(Start);
}

TFormulaDataAllocator *GetFormulaDataAllocator() {
    return GlobalAllocator;
}

void InitializeFracFormulaBase() {
    if (!GlobalAllocator)
        GlobalAllocator = new TFormulaDataAllocator();
}

void FinalizeFracFormulaBase() {
    delete GlobalAllocator;
    GlobalAllocator = nullptr;
}

// ---------------------------------------------------------------------------------------------
// TFormulaBase

TFormulaBase::TFormulaBase(TFormulaKind AKind)
    : FKind(AKind), FGlobalRoutine(std::make_unique<TRoutineAssembler>()) {}

TFormulaBase::~TFormulaBase() = default;

void TFormulaBase::SetCaption(const std::string &Text) {
    if (Text == FCaption)
        return;
    FCaption = Text;
    ValueChanged();
}

void TFormulaBase::ShowHelp() const {
    TFormulaHelpViewer *viewer = HelpViewer;
    if (FHelpFile.empty() || !viewer)
        return;
    const std::string helpFolder =
        ConfigManager() && ConfigManager()->Folder ? ConfigManager()->Folder->FormulaHelp : "";
    const std::string file =
        ResolveHelpFile(FHelpFile, GetProgramFolder(), ExtractFilePath(GetFileName()), helpFolder);
    switch (HelpViewerKind(file)) {
    case 0:
        viewer->ShowBrowserHelpTopic(file, FHelpTopic);
        break;
    case 1:
        viewer->ShowHtmlHelpTopic(file, FHelpTopic);
        break;
    default:
        viewer->ShowWinHelpTopic(file, FHelpTopic);
        break;
    }
}

void TFormulaBase::ExecuteGlobal(void *Context, void *Data) const {
    FGlobalRoutine->Execute(Context, Data);
}

void TFormulaBase::EmitSectionRoutine(TRoutineAssembler &Routine, const std::uint8_t *Code, std::int32_t Size,
                                      int Variant) const {
    Routine.Clear();
    Routine.Precision = GetPrecision();
    if (Variant == 0)
        Routine.EmitEntry();
    Routine.EmitPushData(GetDataOffset());
    Routine.Emit(Code, Size);
    Routine.EmitPopData();
    if (Variant == 0)
        Routine.EmitExit();
    else
        Routine.EmitReturn();
}

void TFormulaBase::WriteParameters(TParWriter &Writer, std::uint32_t Flags) const {
    Writer.WriteSection(FormulaSectionWord(FKind));
    if ((Flags & wpCaption) || FCaption != FTitle)
        Writer.WriteQuoted("caption", FCaption);
    WriteSettings(Writer);
    const std::string &fileName = GetFileName();
    if (!fileName.empty()) {
        if (Flags & wpShortFileName) {
            const std::size_t cut = fileName.find_last_of("\\:");
            Writer.WriteQuoted("filename", cut == std::string::npos ? fileName : fileName.substr(cut + 1));
        } else {
            Writer.WriteQuoted("filename", fileName);
        }
    }
    if (!GetEntryName().empty())
        Writer.WriteQuoted("entry", GetEntryName());
    const TParamList &params = GetParams();
    for (int i = 0; i < params.GetCount(); ++i) {
        const TParam *param = params.GetItem(i);
        const std::string key = "p_" + param->GetName();
        switch (param->Type) {
        case vtComplex:
            Writer.WriteComplexValue(key, static_cast<const TComplexParam *>(param)->Value);
            break;
        case vtFloat:
            Writer.WriteFloatValue(key, static_cast<const TFloatParam *>(param)->Value);
            break;
        case vtInteger: {
            const auto *integer = static_cast<const TIntParam *>(param);
            const std::int32_t value = integer->GetValue();
            if (integer->Enum.Count() > 0 && value >= 0 && value < integer->Enum.Count())
                Writer.WriteQuoted(key, integer->Enum[value]);
            else
                Writer.WriteInteger(key, value);
            break;
        }
        case vtBoolean:
            Writer.WriteBoolean(key, static_cast<const TBoolParam *>(param)->GetValue());
            break;
        case vtColor:
            Writer.WriteCardinal(key, static_cast<const TColorParam *>(param)->GetValue());
            break;
        case vtFunction:
        case vtColorFunction:
            Writer.WriteString("f_" + param->GetName(),
                               FunctionIdToName(static_cast<const TCustomFuncParam *>(param)->GetValue()));
            break;
        default:
            break;
        }
    }
}

void TFormulaBase::Assign(const TLexical &Source) {
    if (const auto *other = dynamic_cast<const TFormulaBase *>(&Source)) {
        FHelpFile = other->FHelpFile;
        FHelpTopic = other->FHelpTopic;
        FCaption = other->FCaption;
        FTitle = other->FTitle;
        FRender = other->FRender;
        FExtraDigits = other->FExtraDigits;
        FGlobalSeen = other->FGlobalSeen;
    }
    TCompiler::Assign(Source);
}

void TFormulaBase::ResetCode() {
    FGlobalRoutine->Clear();
}

void TFormulaBase::Generate() {
    ResetCode();
    TCompiler::Generate();
    FDataSize = GetStorage().DataSize;
}

void TFormulaBase::GenerateEmpty() {
    ResetCode();
    TCompiler::GenerateEmpty();
    FHelpFile.clear();
    FHelpTopic.clear();
    FTitle = "(None)";
    FCaption = FTitle;
    FDataSize = 0;
    FExtraDigits = 0;
    FRender = true;
}

void TFormulaBase::InitCompile() {
    FHelpFile.clear();
    FHelpTopic.clear();
    FTitle = GetEntryName();
    FCaption = FTitle;
    FExtraDigits = 0;
    FGlobalSeen = false;
    FRender = true;
    TCompiler::InitCompile();
}

void TFormulaBase::ApplySetting(const std::string &Name, const TConstant &Value) {
    if (Name == "PRECISION" && Value.Type == vtInteger)
        FExtraDigits = std::max(static_cast<const TIntConstant &>(Value).Value, 0);
}

void TFormulaBase::GetSectionKind(const std::string &Label, std::uint8_t &Kind) {
    if (Label == "GLOBAL" && !FGlobalSeen) {
        FGlobalSeen = true;
        Kind = skdGlobal;
        return;
    }
    Kind = skdInvalid;
}

int TFormulaBase::GetSettingType(const std::string &Section, const std::string &Name, std::uint8_t &Type) {
    if (Section == "DEFAULT" && Name == "PRECISION") {
        Type = vtInteger;
        return 0;
    }
    return TCompiler::GetSettingType(Section, Name, Type);
}

int TFormulaBase::SetConstantSetting(const std::string &Section, const std::string &Name,
                                     const TLiteral &Value) {
    if (Section == "DEFAULT" && Name == "RENDER") {
        if (Value.Type != vtBoolean)
            return ceTypeError;
        FRender = static_cast<const TBoolLiteral &>(Value).Value;
        return 0;
    }
    return TCompiler::SetConstantSetting(Section, Name, Value);
}

int TFormulaBase::SetStringSetting(const std::string &Section, const std::string &Name,
                                   const std::string &Text) {
    if (Section == "DEFAULT") {
        if (Name == "TITLE") {
            FTitle = Text;
            FCaption = Text;
            return 0;
        }
        if (Name == "HELPFILE") {
            FHelpFile = Text;
            return 0;
        }
        if (Name == "HELPTOPIC") {
            FHelpTopic = Text;
            return 0;
        }
    }
    return TCompiler::SetStringSetting(Section, Name, Text);
}

bool TFormulaBase::IsPredefinedReadable(const std::string &, std::uint8_t SymbolId) {
    // Sections the kinds do not handle themselves (GLOBAL, DEFAULT) read only the constants.
    return IsConstantSymbol(SymbolId);
}

void TFormulaBase::CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) {
    if (Name == "GLOBAL")
        EmitSectionRoutine(*FGlobalRoutine, Code, Size, 0);
}

void TFormulaBase::OpenEntry(TParReader &Reader, const std::string &FileName, const std::string &EntryName) {
    std::string fileName = FileName, entryName = EntryName;
    for (;;) {
        try {
            const bool relative =
                !fileName.empty() && fileName[0] != '\\' && (fileName.size() < 2 || fileName[1] != ':');
            if (relative) {
                std::unique_ptr<TStringList> folders;
                if (ConfigManager() && ConfigManager()->Folder)
                    folders = ConfigManager()->Folder->GetFormulaFolders();
                else
                    folders = std::make_unique<TStringList>();
                FindSource(*folders, fileName, entryName);
            } else {
                SetSource(fileName, entryName);
            }
            return;
        } catch (const EEntryError &) {
            if (!Reader.ResolveMissingFormula(
                    fileName, entryName,
                    static_cast<int>(std::min<std::uint8_t>(static_cast<std::uint8_t>(FKind), 2))))
                throw EAbort("Could not find '%s' in '%s'", entryName, fileName);
        }
    }
}

bool TFormulaBase::ReadParameter(TParReader &Reader, const std::string &Key) {
    const bool function = Key.rfind("f_", 0) == 0;
    if (!function && Key.rfind("p_", 0) != 0)
        return false;
    const std::string name = Key.substr(2);
    const TParamList &params = GetParams();
    TParam *param = nullptr;
    for (int i = 0; i < params.GetCount() && !param; ++i) {
        TParam *candidate = params.GetItem(i);
        const bool isFunction = candidate->Type == vtFunction || candidate->Type == vtColorFunction;
        if (isFunction == function && SameText(candidate->GetName(), name))
            param = candidate;
    }
    if (!param) {
        Reader.MissingParameter(GetFileName(), GetEntryName(), name);
        return true;
    }
    switch (param->Type) {
    case vtComplex:
        Reader.ReadComplexValue(static_cast<TComplexParam *>(param)->Value);
        break;
    case vtFloat:
        Reader.ReadFloatValue(static_cast<TFloatParam *>(param)->Value);
        break;
    case vtInteger: {
        auto *integer = static_cast<TIntParam *>(param);
        const std::string &text = Reader.GetValue();
        int index = -1;
        for (int i = 0; i < integer->Enum.Count() && index < 0; ++i)
            if (SameText(integer->Enum[i], text))
                index = i;
        if (index >= 0) {
            integer->SetValue(index);
        } else {
            std::int32_t value;
            if (TryStrToInt(text, value))
                integer->SetValue(value);
            else if (integer->Enum.Count() > 0)
                Reader.MissingParameter(GetFileName(), GetEntryName(), name);
            else
                integer->SetValue(Reader.GetInteger());
        }
        break;
    }
    case vtBoolean:
        static_cast<TBoolParam *>(param)->SetValue(Reader.GetBoolean());
        break;
    case vtColor:
        static_cast<TColorParam *>(param)->SetValue(Reader.GetCardinal());
        break;
    case vtFunction:
    case vtColorFunction: {
        const int id = FunctionNameToId(Reader.GetLowerValue());
        if (id != UnknownFunctionId)
            static_cast<TCustomFuncParam *>(param)->SetValue(static_cast<std::uint8_t>(id));
        break;
    }
    default:
        break;
    }
    return true;
}

void TFormulaBase::LoadFromReader(TParReader &Reader) {
    ResetSettings();
    std::string section;
    std::string key = Reader.PeekKey(&section);
    if (key.empty() && !section.empty()) {
        if (!FormulaSectionAccepted(FKind, section))
            Reader.RaiseError();
        Reader.Next();
    }
    std::string caption, fileName, entryName;
    bool hasCaption = false, hasFile = false, hasEntry = false;
    while (!(hasFile && hasEntry)) {
        key = Reader.NextKeyInSection();
        if (key.empty())
            break;
        if (key == "caption") {
            caption = Reader.GetValue();
            hasCaption = true;
        } else if (key == "filename") {
            fileName = Reader.GetValue();
            hasFile = true;
        } else if (key == "entry") {
            entryName = Reader.GetValue();
            hasEntry = true;
        } else {
            ReadSetting(Reader, key);
        }
    }
    if (!(hasFile && hasEntry) || fileName.empty() || entryName.empty()) {
        ClearSource();
        BeginUpdate();
        ApplySettings();
        EndUpdate();
        return;
    }
    Reader.TranslateFileName(fileName, entryName);
    OpenEntry(Reader, fileName, entryName);
    if (GetHasError())
        Reader.CompileError(fileName, entryName);
    BeginUpdate();
    try {
        for (key = Reader.NextKeyInSection(); !key.empty(); key = Reader.NextKeyInSection()) {
            if (key == "caption") {
                caption = Reader.GetValue();
                hasCaption = true;
            } else if (!ReadParameter(Reader, key)) {
                ReadSetting(Reader, key);
            }
        }
        ApplySettings();
        SetCaption(hasCaption ? caption : FTitle);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}
