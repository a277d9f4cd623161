#include "FormAbout.h"

#include "GenProgram.h"
#include "GenSetup.h"
#include "GenUtils.h"

TAboutForm *SplashForm = nullptr;
uint32_t SplashStartTime = 0;

namespace {

constexpr int AboutWidth = 560;
constexpr int AboutHeight = 280;

// Handles what is queued until the wait from SplashStartTime is over.
void WaitFromSplashStart(uint32_t Duration) {
    for (;;) {
        const uint32_t now = GetTickCount();
        Application->ProcessMessages();
        if (SplashWaitOver(SplashStartTime, now, Duration))
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

} // namespace

bool SplashWaitOver(uint32_t Start, uint32_t Now, uint32_t Duration) {
    return Now < Start || Now - Start > Duration;
}

TAboutForm::TAboutForm(TComponent *AOwner) : TForm(AOwner) {
    SetName("AboutForm");
    SetBorderStyle(bsNone);
    SetPosition(poScreenCenter);
    SetClientSize(AboutWidth, AboutHeight);
    SetKeyPreview(true);
    SetColor(clWhite);
    OnShortCut = MakeEvent<&TAboutForm::FormShortCut>(this);
    try {
        auto picture = std::make_unique<TBitmap>();
        picture->LoadFromResourceName(GetModuleHandleA(nullptr), "ABOUT");
        FPicture = std::move(picture);
    } catch (const Exception &) {
        // A program without the picture shows the texts on white.
    }
    VersionLabel = AddLabel(196, taRightJustify);
    BuildLabel = AddLabel(214, taRightJustify);
    CopyrightLabel = AddLabel(232, taRightJustify);
    ContactLabel = AddLabel(232, taLeftJustify);
    WebLabel = AddLabel(250, taLeftJustify);
    ContactLabel->SetCaption("Questions and bug reports:");
    WebLabel->SetCaption("see Help, Support");
    FormCreate();
}

TAboutForm::~TAboutForm() {
    if (SplashForm == this)
        SplashForm = nullptr;
}

TLabel *TAboutForm::AddLabel(int Top, TAlignment Alignment) {
    auto *label = new TLabel(this);
    label->SetParent(this);
    label->SetTransparent(true);
    label->SetAutoSize(false);
    label->SetAlignment(Alignment);
    label->SetBounds(Alignment == taRightJustify ? AboutWidth - 312 : 12, Top, 300, 17);
    label->OnClick = MakeNotifyEvent<&TAboutForm::CloseClick>(this);
    return label;
}

void TAboutForm::FormCreate() {
    TProgramInformation *info = ProgramInformation();
    if (info) {
        VersionLabel->SetCaption(Format("Version %s", info->Version->GetText()));
        BuildLabel->SetCaption(DateToLongText(info->ReleaseDate));
        CopyrightLabel->SetCaption(info->LegalCopyright);
    }
    if (TConfigManager *config = ConfigManager()) {
        const TFontSetting &font = config->General->Font;
        Font().SetName(font.Name);
        Font().SetSize(font.Size);
        Font().SetStyle(static_cast<TFontStyles>(font.Style));
    }
    Font().SetColor(clBlack);
    for (TLabel *label : {VersionLabel, BuildLabel, CopyrightLabel, ContactLabel, WebLabel}) {
        label->SetParentFont(true);
        label->Font().Assign(Font());
    }
    VersionLabel->Font().SetStyle(VersionLabel->Font().Style() | fsBold);
}

void TAboutForm::Paint() {
    if (FPicture)
        Canvas().Draw(0, 0, *FPicture);
    else {
        Canvas().Brush().SetColor(clWhite);
        Canvas().FillRect(ClientRect());
    }
    TForm::Paint();
}

void TAboutForm::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TForm::MouseDown(Button, Shift, X, Y);
    CloseClick(this);
}

void TAboutForm::CloseClick(TObject *) {
    if (!SplashMode)
        Close();
}

void TAboutForm::FormShortCut(WORD Key, TShiftState Shift, bool &Handled) {
    if (Key == VK_ESCAPE && Shift == 0) {
        Handled = true;
        CloseClick(this);
    }
}

void ShowSplash() {
    SplashForm = new TAboutForm(nullptr);
    SplashForm->SplashMode = true;
    SplashForm->Show();
    Application->ProcessMessages();
    SplashStartTime = GetTickCount();
    WaitFromSplashStart(1000);
}

void CloseSplash() {
    if (!SplashForm)
        return;
    WaitFromSplashStart(2000);
    TAboutForm *splash = SplashForm;
    SplashForm = nullptr;
    splash->Hide();
    splash->Release();
}

void ShowAboutForm() {
    std::unique_ptr<TAboutForm> about = std::make_unique<TAboutForm>(nullptr);
    about->ShowModal();
}
