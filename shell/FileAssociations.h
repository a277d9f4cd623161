// The shell registrations of the program's eight document types under HKEY_CLASSES_ROOT, and the
// start-up question that offers to make the program their default application.
#pragma once

#include <memory>
#include <string>

#include "Forms.h"
#include "StdCtrls.h"

struct TFileTypeInfo {
    const char *Extension; // without the dot
    const char *Description;
    int Icon; // negative: the program's icon resource with that identifier
};

constexpr int FileTypeCount = 8;
const TFileTypeInfo &FileType(int Index);

class TFileAssociations : public TObject {
public:
    // ExeName: the program's full path (the running program's when empty).
    explicit TFileAssociations(const std::string &ExeName = std::string());
    DECLARE_CLASS_NAME(TFileAssociations)

    // "OB_<ext>_File".
    static std::string ProgId(int Index);
    // The values the four keys of a type hold for this program.
    std::string DefaultIconValue(int Index) const;
    // The program path in quotes, then the quoted placeholder: "C:\x\prog.exe" "%1".
    std::string OpenCommandValue() const;

    // All four keys exist and hold these values (letter case ignored); any error counts as not
    // registered.
    bool IsRegistered(int Index) const;
    bool AreAllRegistered() const;
    // A registry error skips the rest of that type silently (for example without the right to
    // write HKEY_CLASSES_ROOT).
    void Register(int Index) const;
    void RegisterAll() const;

    const std::string &ExeName() const { return FExeName; }

private:
    std::string FExeName;
};

// The one instance, made on first use, freed by FinalizeFileAssociations.
TFileAssociations *FileAssociations();
void FinalizeFileAssociations();

class TAssociationsForm : public TForm {
public:
    DECLARE_CLASS_NAME(TAssociationsForm)
    explicit TAssociationsForm(TComponent *AOwner);

    TLabel *DescriptionLabel;
    TLabel *QuestionLabel;
    TButton *YesButton;
    TButton *NoButton;
    TCheckBox *DontAskAgainCheck;

protected:
    void Paint() override;
};

// The start-up question: only when the General option CheckAssocAtStartup is set and a type is
// not registered to this program. Yes registers all eight; whatever the answer, the option
// becomes the opposite of "Don't ask this again".
void AskFileAssociations();
