// The dialog of a new formula, coloring or transformation entry: its title, the symmetry of a
// fractal formula or the usage of a coloring algorithm, and whether comments and a global section
// go into the skeleton.
#pragma once

#include <string>

#include "EditorEntries.h"
#include "Forms.h"
#include "StdCtrls.h"

class TNewFormulaForm : public TForm {
public:
    DECLARE_CLASS_NAME(TNewFormulaForm)
    // The check boxes come from the window's settings (both on when none are stored).
    explicit TNewFormulaForm(TComponent *AOwner);
    // Stores the check boxes, whether the dialog was confirmed or not.
    ~TNewFormulaForm() override;

    // Enables the usage buttons for a coloring algorithm only and the symmetry list for a fractal
    // formula only.
    void SetKind(TEditorKind AKind);
    TEditorKind Kind() const { return FKind; }
    // Takes the controls' values (what OK does before the dialog closes).
    void OkButtonClick(TObject *Sender);
    // The dialog's result after OK.
    const TNewEntryOptions &Options() const { return FOptions; }

    TEdit *TitleInput;
    TComboBox *SymmetryInput;
    TGroupBox *UsageGroup;
    TRadioButton *InsideRadio, *OutsideRadio, *BothRadio;
    TCheckBox *GlobalCheck, *CommentsCheck;
    TButton *OKButton, *CancelButton;

private:
    void FormCloseQuery(TObject *Sender, bool &CanClose);
    void UpdateControls();

    TEditorKind FKind = TEditorKind::Text;
    TNewEntryOptions FOptions;
};

// The message of OK with an empty title; the dialog stays open.
extern const char *const EnterTitleMessage;
