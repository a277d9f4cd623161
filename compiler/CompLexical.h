// The compile driver: the first class of every compiled formula object. It keeps the source
// reference (file, entry, file date), the parameter, expression and storage lists and the
// tokenizer, batches changes into four change levels, drives a compile through the virtual
// operations of the later stages, reuses the program of an identical object that is compiled
// already, and keeps the global list of compiled objects, whose lock also serialises code
// generation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "CompClasses.h"
#include "CompDefinitions.h"
#include "CompExpressions.h"
#include "CompMessages.h"
#include "CompParams.h"
#include "CompPersistent.h"
#include "CompStorage.h"
#include "CompTokenizer.h"
#include "GenClasses.h"

// Change levels, lowest first.
constexpr std::uint8_t clNoChange = 0;
constexpr std::uint8_t clValue = 1;      // OnChange only
constexpr std::uint8_t clProperty = 2;   // OnModify with the undo caption
constexpr std::uint8_t clRegenerate = 3; // code generated again
constexpr std::uint8_t clCompile = 4;    // full compile

// Undoable changes: (Sender, Caption).
using TModifyEvent = TMethod<void(TObject *Sender, const std::string &Caption)>;

class TLexical : public TPersistentObject, public TSettingOwner {
public:
    TLexical();
    ~TLexical() override;
    TLexical(const TLexical &) = delete;
    TLexical &operator=(const TLexical &) = delete;
    DECLARE_CLASS_NAME(TLexical)

    // --- Operations the later stages implement or refine, in this order ----------------------

    // Semantic check of the parsed program; raises ECompileError on an error.
    virtual void Check() = 0;
    // Makes this object's program a copy of Source's: storage (with the expressions pointed at
    // the copy), expressions, parameters, settings, source text and title.
    virtual void Assign(const TLexical &Source);
    // Emits the code for the current precision.
    virtual void Generate() = 0;
    // Makes the object usable without code; here: clears the parameters.
    virtual void GenerateEmpty();
    // Empties every routine of the object and keeps its program and parameters: what is left
    // after a code generation that failed. Nothing to empty here.
    virtual void ResetCode() {}
    // The section a ':' line switches to; empty: the compact form is refused.
    virtual void GetLoopSection(std::string &Name) {}
    // The section that receives the last statement of the compact form.
    virtual void GetBailoutSection(std::string &Name) {}
    // The section of a text that starts without a label; empty: a label is required.
    virtual void GetDefaultSection(std::string &Name) {}
    // Given the first label found (upper case), a section to begin before it, or empty.
    virtual void GetLeadingSection(const std::string &Label, std::string &Name) {}
    // A predefined symbol of this class of formula (Name in upper case).
    virtual bool FindPredefinedSymbol(const std::string &Name, int &Id) { return false; }
    // Completes the program after parsing and checking, or after Assign; Position is the end of
    // the text.
    virtual void EndParse(const TCompilePosition &Position) = 0;
    // A section label (as written) starts at Position.
    virtual void BeginSection(const std::string &Name, const TCompilePosition &Position) = 0;
    // Resets the parser state before a compile or an Assign.
    virtual void InitCompile() = 0;
    // One statement: the first token of a chain that ends with a TEndToken.
    virtual void ParseStatement(TToken *FirstToken) = 0;
    // One setting whose value is an expression, evaluated when code is generated; empty here.
    void ApplySetting(const std::string &Name, const TConstant &Value) override {}

    // The parameters, for the setting statements that change them.
    TParamList &GetSettingParams() override { return *Params; }

    // --- Source selection ----------------------------------------------------------------

    // Selects entry EntryName of FileName (a full path) and compiles it, unless it is the
    // current source with the file unchanged since it was selected. EEntryError "Could not open
    // '%s' in '%s'" (entry, file) when the file has no such entry; the object is unchanged then.
    void SetSource(const std::string &AFileName, const std::string &AEntryName);
    // Looks for AFileName (a name without folder) holding the entry in each folder of Folders in
    // turn (each ending with a separator), with its subfolders, depth first. EEntryError "Could
    // not open '%s' in '%s'" when no folder has it.
    void FindSource(const TStrings &Folders, const std::string &AFileName, const std::string &AEntryName);
    // Reads and compiles the current entry again; parameters keep the values whose name and
    // type survive.
    void ReloadSource();
    // Drops the source: the object becomes one without formula.
    void ClearSource();

    // --- Change batching -----------------------------------------------------------------

    void ValueChanged();
    void PropertyChanged(const std::string &Caption = std::string());
    void CodeChanged(const std::string &Caption = std::string());
    void SourceChanged(const std::string &Caption = std::string());
    void BeginUpdate();
    void EndUpdate() { EndUpdateWithCaption(std::string()); }
    // A non-empty Caption replaces the pending undo caption.
    void EndUpdateWithCaption(const std::string &Caption);
    // Change handler of the parameter list: code is generated again, except for changes made
    // while code is being generated.
    void ParamChanged(TObject *Sender, const std::string &Caption);
    bool IsGenerating() const { return FGenerateDepth > 0; }
    void ResetParameters();
    void SetPrecision(std::uint8_t APrecision);
    void SetDigits(std::int32_t ADigits);

    // --- Compiling -----------------------------------------------------------------------

    // Applies the pending change level once and clears it.
    void ApplyChanges();
    void Compile();
    // Generates code again (nothing after a failed compile), under the compile lock. A failure
    // of the generation is not passed on: the object is left with empty code (ResetCode), its
    // parameters kept, the failure's text in GetGenerateError and in the message list, and the
    // next regeneration runs as usual.
    void GenerateCode();
    // Each parameter takes the value of the parameter of OldParams with the same name (case
    // ignored) and the same type.
    void AssignParamValues(const TParamList &OldParams);
    // Posts warning Code at Position when warnings are enabled.
    void Warning(std::uint8_t Code, const TCompilePosition &Position);

    // --- State ---------------------------------------------------------------------------

    bool GetHasError() const { return FHasError; }
    bool GetHasWarnings() const { return FHasWarnings; }
    std::int32_t GetFileDate() const { return FFileDate; }
    std::int32_t GetDigits() const { return FDigits; }
    const std::string &GetEntryName() const { return FEntryName; }
    std::int32_t GetErrorLine() const { return FErrorLine; }
    std::int32_t GetErrorColumn() const { return FErrorColumn; }
    // Why the last code generation failed; empty after one that succeeded.
    const std::string &GetGenerateError() const { return FGenerateError; }
    const std::string &GetFileName() const { return FFileName; }
    bool GetKeepValues() const { return FKeepValues; }
    bool GetClearRequested() const { return FClearRequested; }
    std::uint8_t GetPrecision() const { return FPrecision; }
    const std::string &GetSourceText() const { return FSourceText; }
    // The title in the entry's header, as last compiled.
    const std::string &GetEntryTitle() const { return FEntryTitle; }
    const std::string &GetUndoCaption() const { return FUndoCaption; }
    std::uint8_t GetPendingLevel() const { return FPendingLevel; }
    std::int32_t GetUpdateCount() const { return FUpdateCount; }
    // The object has no formula (empty code).
    bool GetNoSource() const { return FNoSource; }
    // The end of the text as last compiled (where blocks still open at the end are reported).
    const TCompilePosition &GetSourceEnd() const { return FSourceEnd; }

    TExpressionList &GetExpressions() const { return *Expressions; }
    TParamList &GetParams() const { return *Params; }
    TStorageList &GetStorage() const { return *Storage; }
    TStringList &GetSettings() const { return *Settings; }
    TTokenizer &GetTokenizer() const { return *Tokenizer; }

    // Level-1 changes.
    TNotifyEvent OnChange;
    // After code generation or a compile.
    TNotifyEvent OnCompiled;
    // Undoable changes (levels 2 to 4).
    TModifyEvent OnModify;
    // Before code generation or a compile.
    TNotifyEvent OnBeforeCompile;

protected:
    // The entry being compiled; only during Compile.
    TEntryStream *Stream = nullptr;
    std::unique_ptr<TExpressionList> Expressions;
    std::unique_ptr<TParamList> Params;
    std::unique_ptr<TStorageList> Storage;
    std::unique_ptr<TStringList> Settings;
    std::unique_ptr<TTokenizer> Tokenizer;

private:
    // Whether FileName's current last-write time is valid and equals FileDate.
    bool FileUnchanged(const std::string &AFileName) const;
    std::unique_ptr<TParamList> NewParamList();
    // Step 6 of a compile: tokenize, parse, check and complete the program from the entry.
    void CompileFromSource();
    // Ends a compile: the error is recorded and the object left with empty code.
    void RecordCompileError(const ECompileError &Error);
    // Ends a failed code generation: empty code, the failure recorded.
    void RecordGenerateError(std::uint8_t Code, const TCompilePosition &Position, const std::string &Text);

    // Tokenizer callbacks.
    void TokenizerLoopSection(std::string &Name) { GetLoopSection(Name); }
    void TokenizerBailoutSection(std::string &Name) { GetBailoutSection(Name); }
    void TokenizerDefaultSection(std::string &Name) { GetDefaultSection(Name); }
    void TokenizerLeadingSection(const std::string &Label, std::string &Name) {
        GetLeadingSection(Label, Name);
    }
    bool TokenizerFindSymbol(const std::string &Name, int &Id) { return FindPredefinedSymbol(Name, Id); }
    void TokenizerSectionFound(const std::string &Name, const TCompilePosition &Position) {
        BeginSection(Name, Position);
    }
    void TokenizerStatement(TToken *FirstToken) { ParseStatement(FirstToken); }

    std::int32_t FGenerateDepth = 0;
    bool FHasError = false;
    bool FHasWarnings = false;
    std::int32_t FFileDate = 0;
    std::int32_t FDigits = 0;
    std::string FEntryName;
    std::int32_t FErrorLine = 0;
    std::int32_t FErrorColumn = 0;
    std::string FGenerateError;
    std::string FFileName;
    bool FKeepValues = false;
    bool FClearRequested = false;
    std::uint8_t FPrecision = pmDouble;
    std::string FSourceText;
    std::string FEntryTitle;
    std::string FUndoCaption;
    std::uint8_t FPendingLevel = clNoChange;
    std::int32_t FUpdateCount = 0;
    bool FNoSource = true;
    // End of the text as last compiled, handed to EndParse after a reuse.
    TCompilePosition FSourceEnd;
};

// The list of compiled objects. Its lock is the compile lock: held while the list is searched
// for a twin and during every code generation; taken before the message manager's lock.
class TCompiledObjectList : public TObject {
public:
    DECLARE_CLASS_NAME(TCompiledObjectList)
    void Enter() { FLock.Enter(); }
    void Leave() { FLock.Leave(); }
    // The following take the lock themselves.
    void Add(TLexical *Object);
    void Remove(TLexical *Object);
    bool Contains(const TLexical *Object);
    int Count();
    // Call under the lock: the first object other than Except of Except's own class, compiled from
    // the same file, entry and file date, else nullptr. The class must match because each class
    // checks a program under its own rules (sections, symbols, functions).
    TLexical *FindTwin(const TLexical *Except);

private:
    TCriticalSection FLock;
    std::vector<TLexical *> FItems;
};

// The global list; nullptr outside InitializeCompLexical .. FinalizeCompLexical. Without it,
// objects still compile, but never reuse a twin and generate code without the lock.
TCompiledObjectList *CompiledObjects();
void InitializeCompLexical();
void FinalizeCompLexical();
