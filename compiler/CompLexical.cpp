#include "CompLexical.h"

#include <typeinfo>

#include "CompEntries.h"
#include "CompFileManager.h"
#include "GenClasses.h"
#include "GenSetup.h"

namespace {

TCompiledObjectList *CompiledObjectList = nullptr;

// Folder levels searched below each formula folder; deeper trees (or folder links that loop)
// are not followed further.
constexpr int MaxFolderDepth = 32;

bool WarningsEnabled() {
    TConfigManager *config = ConfigManager();
    return !config || !config->General || config->General->GenerateWarnings;
}

// Whether FileName is an entry file holding EntryName. Files that cannot be read count as not
// holding it.
bool FileHoldsEntry(const std::string &FileName, const std::string &EntryName) {
    if (!FileManager() || !FileExists(FileName))
        return false;
    try {
        TEntryFile *file = FileManager()->OpenFile(FileName, false);
        TEntryFileReference reference(file);
        TEntryCollectionLock lock(*file);
        return file->IndexOfName(EntryName) >= 0;
    } catch (const Exception &) {
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TCompiledObjectList

void TCompiledObjectList::Add(TLexical *Object) {
    TScopeLock<TCriticalSection> lock(FLock);
    for (TLexical *item : FItems)
        if (item == Object)
            return;
    FItems.push_back(Object);
}

void TCompiledObjectList::Remove(TLexical *Object) {
    TScopeLock<TCriticalSection> lock(FLock);
    for (auto it = FItems.begin(); it != FItems.end(); ++it)
        if (*it == Object) {
            FItems.erase(it);
            return;
        }
}

bool TCompiledObjectList::Contains(const TLexical *Object) {
    TScopeLock<TCriticalSection> lock(FLock);
    for (TLexical *item : FItems)
        if (item == Object)
            return true;
    return false;
}

int TCompiledObjectList::Count() {
    TScopeLock<TCriticalSection> lock(FLock);
    return static_cast<int>(FItems.size());
}

TLexical *TCompiledObjectList::FindTwin(const TLexical *Except) {
    TScopeLock<TCriticalSection> lock(FLock);
    for (TLexical *item : FItems)
        if (item != Except && typeid(*item) == typeid(*Except) &&
            item->GetFileName() == Except->GetFileName() && item->GetEntryName() == Except->GetEntryName() &&
            item->GetFileDate() == Except->GetFileDate())
            return item;
    return nullptr;
}

TCompiledObjectList *CompiledObjects() {
    return CompiledObjectList;
}

void InitializeCompLexical() {
    if (!CompiledObjectList)
        CompiledObjectList = new TCompiledObjectList;
}

void FinalizeCompLexical() {
    delete CompiledObjectList;
    CompiledObjectList = nullptr;
}

// ---------------------------------------------------------------------------------------------
// TLexical

TLexical::TLexical()
    : Expressions(std::make_unique<TExpressionList>()), Storage(std::make_unique<TStorageList>()),
      Settings(std::make_unique<TStringList>()), Tokenizer(std::make_unique<TTokenizer>()) {
    Params = NewParamList();
    Tokenizer->OnGetLoopSection = MakeEvent<&TLexical::TokenizerLoopSection>(this);
    Tokenizer->OnGetBailoutSection = MakeEvent<&TLexical::TokenizerBailoutSection>(this);
    Tokenizer->OnGetDefaultSection = MakeEvent<&TLexical::TokenizerDefaultSection>(this);
    Tokenizer->OnGetLeadingSection = MakeEvent<&TLexical::TokenizerLeadingSection>(this);
    Tokenizer->OnFindSymbol = MakeEvent<&TLexical::TokenizerFindSymbol>(this);
    Tokenizer->OnSectionFound = MakeEvent<&TLexical::TokenizerSectionFound>(this);
    Tokenizer->OnStatement = MakeEvent<&TLexical::TokenizerStatement>(this);
}

TLexical::~TLexical() {
    if (TCompiledObjectList *list = CompiledObjects())
        list->Remove(this);
    // Whichever threads follow this object stop following it.
    if (TErrorManager *messages = ErrorManager())
        messages->Forget(this);
}

std::unique_ptr<TParamList> TLexical::NewParamList() {
    auto params = std::make_unique<TParamList>();
    params->OnChange = MakeEvent<&TLexical::ParamChanged>(this);
    return params;
}

bool TLexical::FileUnchanged(const std::string &AFileName) const {
    if (AFileName.empty())
        return false;
    std::int32_t age = FileAge(AFileName);
    return age != -1 && age == FFileDate;
}

// --- Source selection ------------------------------------------------------------------------

void TLexical::SetSource(const std::string &AFileName, const std::string &AEntryName) {
    if (AFileName == FFileName && AEntryName == FEntryName && FileUnchanged(AFileName))
        return;
    if (!FileManager())
        throw EEntryError("Could not open '%s' in '%s'", AEntryName, AFileName);
    std::int32_t date;
    try {
        TEntryFile *file = FileManager()->OpenFile(AFileName, false);
        TEntryFileReference reference(file);
        TEntryCollectionLock lock(*file);
        if (file->IndexOfName(AEntryName) < 0)
            throw EEntryError("Could not open '%s' in '%s'", AEntryName, AFileName);
        date = FileAge(AFileName);
    } catch (const EEntryError &error) {
        // A missing or unreadable file is reported like a missing entry, naming both.
        throw EEntryError("Could not open '%s' in '%s'", AEntryName, AFileName);
    }
    FFileName = AFileName;
    FEntryName = AEntryName;
    FFileDate = date;
    SourceChanged("Select Formula");
}

void TLexical::FindSource(const TStrings &Folders, const std::string &AFileName,
                          const std::string &AEntryName) {
    if (SameText(AEntryName, FEntryName) && SameText(AFileName, ExtractFileName(FFileName)) &&
        FileUnchanged(FFileName))
        return;
    // Depth first through the folder and its subfolders; the first folder holding the entry wins.
    struct TSearch {
        TLexical &Self;
        const std::string &FileName;
        const std::string &EntryName;
        bool Run(const std::string &Folder, int Depth) {
            std::string path = Folder + FileName;
            if (FileHoldsEntry(path, EntryName)) {
                Self.SetSource(path, EntryName);
                return true;
            }
            if (Depth >= MaxFolderDepth)
                return false;
            TFileEnumerator folders(Folder + "*.*", faDirectory);
            while (folders.Next()) {
                if (!folders.HasAttribute(faDirectory))
                    continue;
                std::string name = folders.GetName();
                if (name == "." || name == "..")
                    continue;
                if (Run(Folder + name + "\\", Depth + 1))
                    return true;
            }
            return false;
        }
    } search{*this, AFileName, AEntryName};
    for (int i = 0; i < Folders.Count(); ++i)
        if (search.Run(Folders.Strings(i), 0))
            return;
    throw EEntryError("Could not open '%s' in '%s'", AEntryName, AFileName);
}

void TLexical::ReloadSource() {
    if (FFileName.empty())
        return;
    std::int32_t date = FFileDate;
    bool keep = FKeepValues;
    FFileDate = 0;
    FKeepValues = true;
    try {
        SetSource(FFileName, FEntryName);
    } catch (const EEntryError &) {
        // The previous source stays as it was.
        FFileDate = date;
        FKeepValues = keep;
        throw;
    }
}

void TLexical::ClearSource() {
    // An object that has selected a file counts as having a source even before its first
    // compile: otherwise a selection followed by a clear in one bracket would leave the file
    // name behind, and selecting the same file again would then do nothing.
    if (!FNoSource || !FFileName.empty()) {
        FClearRequested = true;
        FPendingLevel = clCompile;
    } else
        FPendingLevel = clRegenerate;
    if (FUpdateCount == 0)
        ApplyChanges();
}

// --- Change batching -------------------------------------------------------------------------

void TLexical::ValueChanged() {
    if (FPendingLevel < clValue)
        FPendingLevel = clValue;
    if (FUpdateCount == 0)
        ApplyChanges();
}

void TLexical::PropertyChanged(const std::string &Caption) {
    if (FPendingLevel < clProperty) {
        FPendingLevel = clProperty;
        FUndoCaption = Caption;
    }
    if (FUpdateCount == 0)
        ApplyChanges();
}

void TLexical::CodeChanged(const std::string &Caption) {
    if (FPendingLevel < clRegenerate) {
        FPendingLevel = clRegenerate;
        FUndoCaption = Caption;
    }
    if (FUpdateCount == 0)
        ApplyChanges();
}

void TLexical::SourceChanged(const std::string &Caption) {
    FClearRequested = false;
    FPendingLevel = clCompile;
    FUndoCaption = Caption;
    if (FUpdateCount == 0)
        ApplyChanges();
}

void TLexical::BeginUpdate() {
    ++FUpdateCount;
}

void TLexical::EndUpdateWithCaption(const std::string &Caption) {
    --FUpdateCount;
    if (!Caption.empty())
        FUndoCaption = Caption;
    if (FUpdateCount < 1) {
        FUpdateCount = 0;
        ApplyChanges();
    }
}

void TLexical::ParamChanged(TObject *Sender, const std::string &Caption) {
    if (!IsGenerating())
        CodeChanged(Caption);
}

void TLexical::ResetParameters() {
    BeginUpdate();
    try {
        for (int i = 0; i < Params->GetCount(); ++i)
            Params->GetItem(i)->ResetToDefault();
    } catch (...) {
        --FUpdateCount;
        throw;
    }
    EndUpdateWithCaption("Reset Parameters");
}

void TLexical::SetPrecision(std::uint8_t APrecision) {
    if (APrecision == FPrecision)
        return;
    FPrecision = APrecision;
    Storage->Precision = APrecision;
    CodeChanged();
}

void TLexical::SetDigits(std::int32_t ADigits) {
    if (ADigits == FDigits)
        return;
    FDigits = ADigits;
    Storage->Digits = ADigits;
    if (FPrecision == pmArbitrary)
        CodeChanged();
}

// --- Compiling -------------------------------------------------------------------------------

void TLexical::ApplyChanges() {
    std::uint8_t level = FPendingLevel;
    std::string caption = FUndoCaption;
    FPendingLevel = clNoChange;
    FUndoCaption.clear();
    switch (level) {
    case clValue:
        OnChange(this);
        break;
    case clProperty:
        OnModify(this, caption);
        break;
    case clRegenerate:
    case clCompile:
        OnBeforeCompile(this);
        if (level == clCompile)
            Compile();
        else
            GenerateCode();
        OnModify(this, caption);
        OnCompiled(this);
        break;
    default:
        break;
    }
}

void TLexical::CompileFromSource() {
    TErrorManager *messages = ErrorManager();
    if (messages)
        messages->BeginCompile(this);
    Expressions->Clear();
    Storage->Clear();
    Settings->Clear();
    std::unique_ptr<TEntryStream> stream = TEntryStream::CreateFromFile(FFileName, FEntryName);
    struct TStreamScope {
        TEntryStream *&Field;
        ~TStreamScope() { Field = nullptr; }
    } scope{Stream};
    Stream = stream.get();
    FSourceText.assign(stream->Text(), static_cast<std::size_t>(stream->TextLength()));
    FEntryTitle = stream->Title();
    InitCompile();
    Tokenizer->Tokenize(*stream);
    FSourceEnd = {stream->Line(), stream->Column()};
    Check();
    EndParse(FSourceEnd);
    if (messages)
        messages->EndCompile(this);
}

void TLexical::RecordCompileError(const ECompileError &Error) {
    FHasError = true;
    FErrorLine = Error.Line;
    FErrorColumn = Error.Column;
    if (TErrorManager *messages = ErrorManager())
        messages->AddError(this, Error.Code, Error.Position(), Error.Message() + ".");
}

void TLexical::Compile() {
    FHasError = false;
    FHasWarnings = false;
    FErrorLine = 0;
    FErrorColumn = 0;
    TCompiledObjectList *list = CompiledObjects();
    if (FClearRequested) {
        FNoSource = true;
        FFileName.clear();
        FEntryName.clear();
        // An object without source was compiled from nothing; no other object may take it for
        // a twin.
        if (list)
            list->Remove(this);
        GenerateEmpty();
        FClearRequested = false;
        return;
    }

    std::unique_ptr<TParamList> oldParams = std::move(Params);
    FNoSource = false;
    Params = NewParamList();
    // Parameter changes made while the program is built are part of the compile, never a
    // request to generate code.
    ++FGenerateDepth;
    struct TCleanUp {
        TLexical &Self;
        ~TCleanUp() {
            Self.FKeepValues = false;
            --Self.FGenerateDepth;
        }
    } cleanUp{*this};

    bool failed = false;
    try {
        bool reused = false;
        if (list) {
            TScopeLock<TCompiledObjectList> lock(*list);
            list->Remove(this);
            // An object whose messages a thread follows compiles for itself, so they exist.
            TErrorManager *messages = ErrorManager();
            if (!messages || !messages->IsFollowed(this))
                if (TLexical *twin = list->FindTwin(this)) {
                    InitCompile();
                    Assign(*twin);
                    EndParse(FSourceEnd);
                    reused = true;
                }
        }
        if (!reused)
            CompileFromSource();
    } catch (const ECompileError &error) {
        GenerateEmpty();
        RecordCompileError(error);
        failed = true;
    } catch (...) {
        try {
            GenerateEmpty();
        } catch (...) {
            // The original failure is the one to report.
        }
        throw;
    }
    if (failed)
        return;
    if (FKeepValues)
        AssignParamValues(*oldParams);
    GenerateCode();
    if (list)
        list->Add(this);
}

void TLexical::GenerateCode() {
    if (FHasError)
        return;
    TCompiledObjectList *list = CompiledObjects();
    if (list)
        list->Enter();
    ++FGenerateDepth;
    struct TRelease {
        TLexical &Self;
        TCompiledObjectList *List;
        ~TRelease() {
            --Self.FGenerateDepth;
            if (List)
                List->Leave();
        }
    } release{*this, list};
    FGenerateError.clear();
    // A generation can fail on values the user just chose (a parameter that makes an array too
    // large, say). That must not escape into the caller's change handling nor leave half-built
    // routines behind, and the next change has to be able to generate again: so the failure is
    // recorded here and HasError, which blocks regeneration, stays clear.
    try {
        if (FNoSource)
            GenerateEmpty();
        else
            Generate();
    } catch (const ECompileError &error) {
        RecordGenerateError(error.Code, error.Position(), error.Message());
    } catch (const std::exception &error) {
        RecordGenerateError(ceUnknown, TCompilePosition{}, error.what());
    }
}

void TLexical::RecordGenerateError(std::uint8_t Code, const TCompilePosition &Position,
                                   const std::string &Text) {
    FGenerateError = Text.empty() ? std::string("Code generation failed") : Text;
    try {
        ResetCode();
    } catch (...) {
        // The failure being recorded is the one to report; the routines are emptied by the
        // next generation.
    }
    try {
        if (TErrorManager *messages = ErrorManager())
            messages->AddError(this, Code, Position, FGenerateError + ".");
    } catch (...) {
        // Without memory for the message the failure stays in GetGenerateError only.
    }
}

void TLexical::Assign(const TLexical &Source) {
    // The storage list keeps this object's own precision and digits.
    std::uint8_t precision = Storage->Precision;
    std::int32_t digits = Storage->Digits;
    Storage->Assign(*Source.Storage);
    Storage->Precision = precision;
    Storage->Digits = digits;
    Expressions->Assign(*Source.Expressions);
    Expressions->RemapStorage(*Source.Storage, *Storage);
    Params->Assign(*Source.Params);
    Settings->Assign(*Source.Settings);
    FSourceText = Source.FSourceText;
    FEntryTitle = Source.FEntryTitle;
    FSourceEnd = Source.FSourceEnd;
}

void TLexical::GenerateEmpty() {
    Params->Clear();
}

void TLexical::AssignParamValues(const TParamList &OldParams) {
    for (int i = 0; i < Params->GetCount(); ++i) {
        TParam *param = Params->GetItem(i);
        bool function = param->Type == vtFunction || param->Type == vtColorFunction;
        int index = OldParams.IndexOfName(param->GetName(), function ? pkFunction : pkOrdinary);
        if (index < 0)
            continue;
        const TParam *old = OldParams.GetItem(index);
        if (old->Type == param->Type)
            param->AssignValue(*old);
    }
}

void TLexical::Warning(std::uint8_t Code, const TCompilePosition &Position) {
    if (!WarningsEnabled())
        return;
    FHasWarnings = true;
    if (TErrorManager *messages = ErrorManager())
        messages->AddWarning(this, Code, GetWarningText(Code), Position);
}
