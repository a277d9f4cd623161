// What every compiled formula object shares: its kind and the parameter-text section word of the
// kind, and the allocator of the data blocks that compiled code works on.
#pragma once

#include <cstdint>
#include <string>

#include "CompAssembler.h"
#include "CompCompiler.h"
#include "CompPersistent.h"
#include "SysUtils.h"

// 0 transformation, 1 fractal formula, 2 inside coloring, 3 outside coloring.
enum class TFormulaKind : std::uint8_t { Transform = 0, Formula = 1, Inside = 2, Outside = 3 };

// "transform", "formula", "inside" or "outside".
const char *FormulaSectionWord(TFormulaKind Kind);
// Whether a section headed Word may hold an object of Kind: its own word, and for the two coloring
// kinds either coloring word (case ignored).
bool FormulaSectionAccepted(TFormulaKind Kind, const std::string &Word);
// The pixel-context cell holding the data pointer of an object of Kind.
std::int32_t FormulaDataOffset(TFormulaKind Kind);

// Raised when a help file or topic cannot be passed on safely.
DECLARE_EXCEPTION(EFormulaHelpError, Exception);

// Where a formula's help file is: "http://" addresses and absolute names as they are; a relative
// name in the program's folder, else in the formula file's folder (when it exists there), else in
// the formula help folder.
std::string ResolveHelpFile(const std::string &HelpFile, const std::string &ProgramFolder,
                            const std::string &FormulaFileFolder, const std::string &FormulaHelpFolder);
// How a help file is shown: 0 a web browser ("http://", ".htm", ".html"), 1 the HTML Help viewer
// (".chm"), 2 WinHelp (anything else).
int HelpViewerKind(const std::string &HelpFile);
// The WinHelp macro that jumps to Topic; a topic holding a double quote raises EFormulaHelpError.
std::string WinHelpJumpMacro(const std::string &Topic);

// The three ways of showing a help topic, provided by the program's shell: the formula objects
// decide which help file and viewer kind an entry asks for, the shell opens the viewer. File is
// resolved already; Topic may be empty.
class TFormulaHelpViewer {
public:
    virtual ~TFormulaHelpViewer() = default;
    virtual void ShowBrowserHelpTopic(const std::string &File, const std::string &Topic) = 0;
    virtual void ShowHtmlHelpTopic(const std::string &File, const std::string &Topic) = 0;
    virtual void ShowWinHelpTopic(const std::string &File, const std::string &Topic) = 0;
};

// Installs the viewer that TFormulaBase::ShowHelp calls (nullptr: help shows nothing). The caller
// keeps it alive until it installs another or nullptr. Interface thread only.
void SetFormulaHelpViewer(TFormulaHelpViewer *Viewer);
TFormulaHelpViewer *FormulaHelpViewer();

// The program and the one parameter with which a browser shows a help topic. Command is the
// registered open command of web pages: one that begins with a double quote is cut after its
// closing quote, another before its first blank; the result is trimmed. The parameter is the file
// and the topic joined by "#" (the file alone without a topic) in double quotes. A file or topic
// holding a double quote would break out of its quotes on the command line and raises
// EFormulaHelpError.
struct TBrowserHelpCommand {
    std::string Program;
    std::string Parameter;
};
TBrowserHelpCommand MakeBrowserHelpCommand(const std::string &Command, const std::string &File,
                                           const std::string &Topic);

// Data blocks for compiled formula code. A block carries a header before its data: the tag "FSDA"
// at the block start while it lives (0 once freed), the requested size, and just before the data
// the block start. Data lies on a 16-byte boundary. Blocks up to 65536 bytes come from the heap,
// larger ones are pages of their own. The allocator keeps no state, so any thread may use it.
class TFormulaDataAllocator : public TObject {
public:
    DECLARE_CLASS_NAME(TFormulaDataAllocator)
    static constexpr std::uint64_t HeapLimit = 65536;
    static constexpr std::uint32_t Tag = 0x41445346; // "FSDA" in memory order

    // A new block of Size bytes, not cleared; nil for 0. Sizes are taken in 64 bits: one that the
    // address space cannot hold raises EOutOfMemory, as does a failed allocation.
    void *Alloc(std::uint64_t Size);
    // Frees a block from Alloc; nil is ignored. A block that does not carry the live tag (freed
    // twice, or never from Alloc) raises EInvalidPointer and is left alone.
    void Free(void *Data);

    // The requested size of a live block.
    static std::uint32_t BlockSize(const void *Data);

protected:
    // Gives a block's memory back, after its tag was cleared.
    virtual void ReleaseMemory(void *Start, bool Paged);
};

DECLARE_EXCEPTION(EInvalidPointer, Exception);

// The compiled formula object of one kind: the end of the compiler chain, with the DEFAULT settings
// every kind understands (TITLE, HELPFILE, HELPTOPIC, PRECISION, RENDER), the GLOBAL section, the
// caption, and the parameter-text section of the kind.
class TFormulaBase : public TCompiler {
public:
    explicit TFormulaBase(TFormulaKind AKind);
    ~TFormulaBase() override;
    DECLARE_CLASS_NAME(TFormulaBase)

    // Flags of WriteParameters: write the caption even when it equals the title; write the file
    // name without its folder.
    static constexpr std::uint32_t wpCaption = 1;
    static constexpr std::uint32_t wpShortFileName = 2;

    TFormulaKind GetKind() const { return FKind; }
    // The pixel-context cell holding this object's data pointer.
    std::int32_t GetDataOffset() const { return FormulaDataOffset(FKind); }
    std::int32_t GetDataSize() const { return FDataSize; }
    // Extra decimal digits the entry asks for (DEFAULT PRECISION, never below 0).
    std::int32_t GetExtraDigits() const { return FExtraDigits; }
    bool GetRender() const { return FRender; }
    const std::string &GetCaption() const { return FCaption; }
    const std::string &GetTitle() const { return FTitle; }
    const std::string &GetHelpFile() const { return FHelpFile; }
    const std::string &GetHelpTopic() const { return FHelpTopic; }
    bool HasHelpFile() const { return !FHelpFile.empty(); }
    // Shows the entry's help at its topic through the installed help viewer; nothing without a
    // help file or a viewer.
    void ShowHelp() const;
    const TRoutineAssembler &GetGlobalRoutine() const { return *FGlobalRoutine; }

    // Stores Text and reports a value change when it differs from the caption.
    void SetCaption(const std::string &Text);
    // Runs the GLOBAL routine on a context with a data block; nothing when there is none.
    void ExecuteGlobal(void *Context, void *Data) const;
    // Assembles one section's code into Routine: Variant 0 a routine called on its own (entry and
    // exit), 1 a code block the pixel routine calls (a bare return).
    void EmitSectionRoutine(TRoutineAssembler &Routine, const std::uint8_t *Code, std::int32_t Size,
                            int Variant) const;
    // The section of this object: its word, caption, the kind's settings, file, entry, parameters.
    void WriteParameters(TParWriter &Writer, std::uint32_t Flags) const;
    void SaveToWriter(TParWriter &Writer) const { WriteParameters(Writer, 0); }
    // Reads the object's section: its settings, the entry it names (compiled), the parameter
    // values, the caption. The header may have been read by the caller already; another kind's
    // header raises EInvalidParFile. Without a file or entry name the object drops its source.
    void LoadFromReader(TParReader &Reader);
    // Selects and compiles the entry: a relative file name is looked for in the formula folders,
    // an absolute one taken as it is. When the entry cannot be opened, the reader may name a
    // replacement, for as long as it offers one; then EAbort "Could not find '%s' in '%s'".
    void OpenEntry(TParReader &Reader, const std::string &FileName, const std::string &EntryName);

    // The kind's own keys, settings before a load, and their application.
    virtual void WriteSettings(TParWriter &Writer) const {}
    virtual void ResetSettings() {}
    virtual void ReadSetting(TParReader &Reader, const std::string &Key) {}
    virtual void ApplySettings() {}

    // A reused compile of the same entry: the program and the DEFAULT settings.
    void Assign(const TLexical &Source) override;
    void ResetCode() override;
    void Generate() override;
    void GenerateEmpty() override;
    void InitCompile() override;
    void ApplySetting(const std::string &Name, const TConstant &Value) override;
    void GetSectionKind(const std::string &Label, std::uint8_t &Kind) override;
    int GetSettingType(const std::string &Section, const std::string &Name, std::uint8_t &Type) override;
    int SetConstantSetting(const std::string &Section, const std::string &Name,
                           const TLiteral &Value) override;
    int SetStringSetting(const std::string &Section, const std::string &Name,
                         const std::string &Text) override;
    bool IsPredefinedReadable(const std::string &Section, std::uint8_t SymbolId) override;
    void CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) override;

protected:
    void SetDataSize(std::int32_t Size) { FDataSize = Size; }

    bool FGlobalSeen = false;

private:
    // One "p_" or "f_" key of a section; false when it is neither.
    bool ReadParameter(TParReader &Reader, const std::string &Key);

private:
    std::int32_t FDataSize = 0;
    std::int32_t FExtraDigits = 0;
    TFormulaKind FKind;
    std::unique_ptr<TRoutineAssembler> FGlobalRoutine;
    std::string FHelpFile, FHelpTopic;
    bool FRender = true;
    std::string FCaption, FTitle;
};

// The global allocator; nil outside InitializeFracFormulaBase .. FinalizeFracFormulaBase.
TFormulaDataAllocator *GetFormulaDataAllocator();
void InitializeFracFormulaBase();
void FinalizeFracFormulaBase();
