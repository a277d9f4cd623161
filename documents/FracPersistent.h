// The fractal document as the user edits, saves and exchanges it: the calculated fractal with an
// undo history whose steps hold the whole document as parameter text plus the calculated image of
// every layer, a modified flag, free comments (with "$CALCTIME" for the calculation time), the
// credits of who worked on it and when, the print resolution and the gamma of the image.
//
// Undo steps: each step keeps the state text (write flags 14) and, in its data list, one stream per
// layer. A layer's stream shares the previous step's data until it is written, so that an image
// that no change touched is stored once. Before a change alters a layer's pixels (a new size, a
// rewrite of the view, a run that replaces the image) the image that belongs to the state before the
// change is secured in the previous step; when a step is left, the layers' current images go into it.
//
// Threads: everything runs on the interface thread; calculation is stopped or paused before an
// image is written to or read from a step.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CompValues.h"
#include "FracHistory.h"
#include "FracMain.h"

class TEntryCollection;
class TFormulaBase;

// One person credited: who, when the credit was last brought up to date, and the document's text
// (write flags 32) at that moment; State is empty for credits read from a file.
class TFractalCredit : public TObject {
public:
    TFractalCredit(const std::string &AName, TDateTime ADate) : Name(AName), Date(ADate) {}
    DECLARE_CLASS_NAME(TFractalCredit)

    std::string Name;
    TDateTime Date = 0;
    std::string State;
};

class TPersistentFractal : public TFractal {
public:
    // Write flags (with those of TCustomFractal): 1 clears Modified; 32 leaves the credits out.
    static constexpr std::uint32_t wfClearModified = 1;
    static constexpr std::uint32_t wfNoCredits = 32;
    // Read flags: take the entry's resolution, its gamma.
    static constexpr std::uint32_t rfResolution = 2;
    static constexpr std::uint32_t rfGamma = 4;
    // The flag sets of the callers.
    static constexpr std::uint32_t UndoWriteFlags = 14;
    static constexpr std::uint32_t FileWriteFlags = 16;
    static constexpr std::uint32_t SaveParametersFlags = 17;
    static constexpr std::uint32_t CreditWriteFlags = 32;
    static constexpr std::uint32_t NormalReadFlags = 7;
    static constexpr std::uint32_t PreviewReadFlags = 8;

    static constexpr int HistorySteps = 32;
    static constexpr const char *DefaultResolution = "300";
    static constexpr const char *DefaultGamma = "2.5";

    // Manager nil: the global calculation manager; HistoryManager nil: the global history data
    // manager, which must exist then.
    explicit TPersistentFractal(TCalculateManager *AManager = nullptr,
                                THistoryDataManager *AHistoryManager = nullptr);
    ~TPersistentFractal() override;
    DECLARE_CLASS_NAME(TPersistentFractal)

    // --- Credits and information ---
    TFractalCredit &GetCredit(int Index) const { return *FCredits.at(static_cast<std::size_t>(Index)); }
    int GetCreditCount() const { return static_cast<int>(FCredits.size()); }
    // "name;date;name;...;date", dates as month/day/year.
    std::string GetCreditsText() const;
    void ClearCredits() { FCredits.clear(); }
    void SetAuthor(const std::string &Name);
    // Text: a long date ("August 19, 2004"); a text that is no date is ignored.
    void SetCreated(const std::string &Text);
    void SetCreditsText(const std::string &Text);
    void ResetCredits();
    // Flags rfResolution and rfGamma reset those values; the credits restart with the owner.
    void ResetInfo(std::uint32_t Flags);

    const std::string &GetComments() const { return FComments; }
    void SetComments(const std::string &Text);
    void ResetComments();
    // Every "$CALCTIME" (letter case ignored) replaced by the calculation time.
    std::string ExpandCalcTime(const std::string &Line);

    TFloatValue &GetResolution() const { return *FResolution; }
    TFloatValue &GetGamma() const { return *FGamma; }

    // --- Undo history ---
    THistoryList &GetHistory() const { return *FHistory; }
    // The step that was current after the last recorded change.
    THistoryItem *GetCurrentStep() const { return FCurrentStep; }
    bool IsRestoring() const { return FRestoring; }
    // Keeps only the current step; a change of kind 0 (nothing to undo, but Modified).
    void ClearHistory();

    bool GetModified() const { return FModified; }
    void SetModified(bool Value) { FModified = Value; }
    // Set by the window while it reads a parameter set, so that reading is not taken for an edit.
    bool TrackCredits = false;

    // --- Formula entries of a parameter set ---
    // Every formula that the layers use, as an entry "file:entry" of EntryFile (see below).
    void WriteFormulaEntries(TEntryCollection &EntryFile, bool Compress);
    // Skipped for a formula without file or entry and for the files named "Standard"; the entry
    // is named after the file (blanks as '_'), ':' and the formula's entry name, and replaces one
    // of that name.
    void WriteFormulaEntry(TEntryCollection &EntryFile, TFormulaBase &Formula, bool Compress);

    // --- Files ---
    // Reads a fractal image file (.ofr) with its calculated layers as one undoable change; the
    // title becomes the file's name and Modified is cleared. A file that cannot be used raises
    // and leaves the document as it was.
    void LoadFromFile(const std::string &FileName);
    // Writes a fractal image file; an existing file is replaced only by a complete one.
    void SaveToFile(const std::string &FileName);
    // SaveToFile, then (only when it succeeded) title and Modified follow the new file.
    void SaveAs(const std::string &FileName);
    // Writes the image (merged, or layer by layer) in export format Format (0 to 5).
    void ExportImage(const std::string &FileName, int Format, bool Layers, bool Transparency, int Quality);

    // The document as parameter text with the given write flags.
    std::string StateText(std::uint32_t Flags);

    void Change(std::uint8_t Kind, const std::string &Caption) override;

protected:
    void SetSize(std::int32_t AWidth, std::int32_t AHeight) override;
    void Changed(std::uint8_t Kind, const std::string &Caption) override;
    void CalculationStarted(TObject *Sender, bool Continued, bool NewUndoStep) override;
    void ReadEntryInfo(TParReader &Reader, std::uint32_t Flags) override;
    void ReadKey(TParReader &Reader, std::uint32_t Flags, const std::string &Key) override;
    void WriteComments(TParWriter &Writer) override;
    void WriteKeys(TParWriter &Writer, std::uint32_t Flags) override;

    // Adds the step that the change being recorded goes into, once per change; the step being
    // left keeps the calculation time and a picture of the view.
    void BeginUndoStep();
    // Secures the images of the layers whose HistoryStored flag is clear (only the editable ones
    // with EditableOnly), then sets the flag.
    void StoreLayerImages(bool EditableOnly = false);

private:
    void HistoryChanged(TObject *Sender);
    // Puts the images into the step being left, then reads the current step into the document.
    void RestoreStep();
    void InfoValueChanged(TObject *Sender);
    void ValidateInfoValue(TObject *Sender, const std::string &Text, bool &Accept);
    void LayerInserted(TObject *Sender, int Index);
    void LayerDeleted(TObject *Sender, int Index);
    void LayerMoved(TObject *Sender, int From, int To);
    void StoreRedrawLayerImages(TObject *Sender);
    void UpdateCredits();
    // Puts layer Index's image into the step before the current one when that step does not
    // hold it already.
    void SecureLayerImage(int Index);
    // The step's stream of layer Index, or nil.
    THistoryDataStream *StepStream(THistoryItem *Step, int Index) const;
    // The view at this moment, drawn into the step's bitmap, and the calculation time.
    void KeepStepView(THistoryItem &Step);

    std::string FComments;
    std::vector<std::unique_ptr<TFractalCredit>> FCredits;
    THistoryItem *FCurrentStep = nullptr;
    std::unique_ptr<TFloatValue> FGamma;
    std::unique_ptr<THistoryList> FHistory;
    bool FRestoring = false;
    bool FStepStarted = false;
    bool FModified = false;
    std::unique_ptr<TFloatValue> FResolution;
};
