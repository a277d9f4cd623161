#include "FileAssociations.h"

#include <windows.h>

#include "GenSetup.h"
#include "Registry.h"

namespace {

constexpr TFileTypeInfo FileTypes[FileTypeCount] = {
    {"ofr", "Fractal Image", -8},
    {"opr", "Fractal Parameters", -2},
    {"ogr", "Fractal Gradients", -3},
    {"oal", "Fractal Gradients", -3},
    {"oxf", "Fractal Transformations", -4},
    {"ofm", "Fractal Formulas", -5},
    {"ocl", "Fractal Coloring Algorithms", -6},
    {"orj", "Fractal Render Job", -9},
};

std::unique_ptr<TFileAssociations> &Instance() {
    static std::unique_ptr<TFileAssociations> instance;
    return instance;
}

std::string RunningProgram() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
}

// The key's default value equals Expected (letter case ignored).
bool KeyHolds(const std::string &Key, const std::string &Expected) {
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_CLASSES_ROOT);
    if (!registry.OpenKeyReadOnly(Key) || !registry.ValueExists(""))
        return false;
    return SameText(registry.ReadString(""), Expected);
}

} // namespace

const TFileTypeInfo &FileType(int Index) {
    return FileTypes[Index];
}

TFileAssociations::TFileAssociations(const std::string &ExeName)
    : FExeName(ExeName.empty() ? RunningProgram() : ExeName) {}

std::string TFileAssociations::ProgId(int Index) {
    return Format("OB_%s_File", FileTypes[Index].Extension);
}

std::string TFileAssociations::DefaultIconValue(int Index) const {
    return Format("%s,%d", FExeName, FileTypes[Index].Icon);
}

std::string TFileAssociations::OpenCommandValue() const {
    // Quoted, so that a program folder with blanks still names one file to the shell.
    return "\"" + FExeName + "\" \"%1\"";
}

bool TFileAssociations::IsRegistered(int Index) const {
    try {
        const std::string progId = ProgId(Index);
        return KeyHolds(Format("\\.%s", FileTypes[Index].Extension), progId) &&
               KeyHolds("\\" + progId, FileTypes[Index].Description) &&
               KeyHolds("\\" + progId + "\\DefaultIcon", DefaultIconValue(Index)) &&
               KeyHolds("\\" + progId + "\\shell\\open\\command", OpenCommandValue());
    } catch (...) {
        return false;
    }
}

bool TFileAssociations::AreAllRegistered() const {
    for (int i = 0; i < FileTypeCount; ++i)
        if (!IsRegistered(i))
            return false;
    return true;
}

void TFileAssociations::Register(int Index) const {
    const std::string progId = ProgId(Index);
    const std::pair<std::string, std::string> keys[] = {
        {Format("\\.%s", FileTypes[Index].Extension), progId},
        {"\\" + progId, FileTypes[Index].Description},
        {"\\" + progId + "\\DefaultIcon", DefaultIconValue(Index)},
        {"\\" + progId + "\\shell\\open\\command", OpenCommandValue()},
    };
    try {
        for (const auto &[key, value] : keys) {
            TRegistry registry;
            registry.SetRootKey(HKEY_CLASSES_ROOT);
            if (!registry.OpenKey(key, true))
                return;
            registry.WriteString("", value);
        }
    } catch (...) {
        // No right to write the registrations: the question comes again at the next start.
    }
}

void TFileAssociations::RegisterAll() const {
    for (int i = 0; i < FileTypeCount; ++i)
        Register(i);
}

TFileAssociations *FileAssociations() {
    if (!Instance())
        Instance() = std::make_unique<TFileAssociations>();
    return Instance().get();
}

void FinalizeFileAssociations() {
    Instance().reset();
}

// =============================================================================================
// TAssociationsForm

TAssociationsForm::TAssociationsForm(TComponent *AOwner) : TForm(AOwner) {
    SetName("AssociationsForm");
    SetCaption("File Type Associations");
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);
    SetClientSize(420, 168);
    if (TConfigManager *config = ConfigManager()) {
        Font().SetName(config->General->Font.Name);
        Font().SetSize(config->General->Font.Size);
    }
    DescriptionLabel = new TLabel(this);
    DescriptionLabel->SetParent(this);
    DescriptionLabel->SetAutoSize(false);
    DescriptionLabel->SetWordWrap(true);
    DescriptionLabel->SetBounds(64, 12, 344, 58);
    DescriptionLabel->SetCaption(
        "Orbisk Vantel is not the default application for some of its native file types. "
        "If you make it the default application, you can open all fractal-related files "
        "simply by double-clicking them.");
    QuestionLabel = new TLabel(this);
    QuestionLabel->SetParent(this);
    QuestionLabel->SetBounds(64, 78, 344, 16);
    QuestionLabel->SetCaption("Do you want to make it the default application?");
    DontAskAgainCheck = new TCheckBox(this);
    DontAskAgainCheck->SetParent(this);
    DontAskAgainCheck->SetBounds(64, 104, 200, 18);
    DontAskAgainCheck->SetCaption("&Don't ask this again");
    YesButton = new TButton(this);
    YesButton->SetParent(this);
    YesButton->SetCaption("&Yes");
    YesButton->SetDefault(true);
    YesButton->SetModalResult(mrYes);
    YesButton->SetBounds(252, 134, 75, 25);
    NoButton = new TButton(this);
    NoButton->SetParent(this);
    NoButton->SetCaption("&No");
    NoButton->SetCancel(true);
    NoButton->SetModalResult(mrNo);
    NoButton->SetBounds(333, 134, 75, 25);
    // With the window made, so that its frame is known and the client area gets this size.
    Handle();
    SetClientSize(420, 168);
}

void TAssociationsForm::Paint() {
    TForm::Paint();
    // The picture: the program's icon.
    if (HICON icon = LoadIconA(GetModuleHandleA(nullptr), "MAINICON"))
        DrawIconEx(Canvas().Handle(), 16, 14, icon, 32, 32, 0, nullptr, DI_NORMAL);
}

void AskFileAssociations() {
    TConfigManager *config = ConfigManager();
    if (!config || !config->General->CheckAssocAtStartup || FileAssociations()->AreAllRegistered())
        return;
    auto form = std::make_unique<TAssociationsForm>(nullptr);
    if (form->ShowModal() == mrYes)
        FileAssociations()->RegisterAll();
    config->General->CheckAssocAtStartup = !form->DontAskAgainCheck->Checked();
}
