#include "AdvDlgs.h"

#include <algorithm>

namespace {

struct TTypeText {
    const char *Caption;
    const char *Icon;
};
const TTypeText TypeTexts[] = {
    {"Warning", "MSG_WARNING"},           {"Error", "MSG_ERROR"}, {"Information", "MSG_INFORMATION"},
    {"Confirmation", "MSG_CONFIRMATION"}, {nullptr, nullptr}, // the application's title, no icon
};

struct TButtonText {
    const char *Name;
    const char *Caption;
    int ModalResult;
};
// In the order the buttons appear.
const TButtonText ButtonTexts[] = {
    {"Yes", "&Yes", mrYes},
    {"No", "&No", mrNo},
    {"OK", "OK", mrOk},
    {"Cancel", "Cancel", mrCancel},
    {"Abort", "&Abort", mrAbort},
    {"Retry", "&Retry", mrRetry},
    {"Ignore", "&Ignore", mrIgnore},
    {"All", "&All", mrAll},
    {"NoToAll", "N&o to All", mrNoToAll},
    {"YesToAll", "Yes to &All", mrYesToAll},
    {"Help", "&Help", 0},
};

constexpr int IconSize = 32;

// Text measured in a memory device context with the dialog's font.
class TTextMeasure {
public:
    explicit TTextMeasure(TFont &Font) : FBitmap(1, 1) { FBitmap.Canvas().Font().Assign(Font); }
    RECT Calc(const std::string &Text, int Width, UINT Flags) {
        RECT r = {0, 0, Width, 0};
        DrawTextA(FBitmap.Canvas().Handle(), Text.c_str(), static_cast<int>(Text.size()), &r,
                  Flags | DT_CALCRECT);
        return r;
    }
    SIZE Extent(const std::string &Text) { return FBitmap.Canvas().TextExtent(Text); }

private:
    TBitmap FBitmap;
};

} // namespace

TMessageForm::TMessageForm(TComponent *AOwner) : TForm(AOwner) {
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        Font().AssignLogFont(metrics.lfMessageFont);
}

void TMessageForm::HelpButtonClick(TObject *) {
    if (Application) {
        std::string saved = Application->HelpFile();
        if (!FHelpFile.empty())
            Application->SetHelpFile(FHelpFile);
        Application->HelpContext(HelpContext());
        Application->SetHelpFile(saved);
    }
}

TMessageImage::TMessageImage(TComponent *AOwner) : TGraphicControl(AOwner) {
    FWidth = IconSize;
    FHeight = IconSize;
}

void TMessageImage::Paint() {
    if (!FIcon.Empty())
        FIcon.Draw(*FCanvas, RECT{0, 0, IconSize, IconSize});
}

std::unique_ptr<TMessageForm> CreateAdvMessageDialog(const std::string &Message, TMsgDlgType Type,
                                                     TMsgDlgButtons Buttons) {
    auto form = std::make_unique<TMessageForm>(nullptr);
    form->SetBorderStyle(bsDialog);
    form->SetPosition(poScreenCenter);
    TTextMeasure measure(form->Font());
    SIZE letters = measure.Extent("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    int charWidth = letters.cx / 52, charHeight = letters.cy;
    auto horz = [&](int Units) { return MulDiv(Units, charWidth, 4); };
    auto vert = [&](int Units) { return MulDiv(Units, charHeight, 8); };
    int horzMargin = horz(8), vertMargin = vert(8), horzSpacing = horz(10), vertSpacing = vert(10);
    int buttonHeight = vert(14), buttonSpacing = horz(4);
    int buttonWidth = horz(50);
    int buttonCount = 0;
    for (int b = mbYes; b <= mbHelp; ++b)
        if (Buttons.Contains(static_cast<TMsgDlgBtn>(b))) {
            ++buttonCount;
            RECT r = measure.Calc(ButtonTexts[b].Caption, 0, DT_SINGLELINE);
            buttonWidth = std::max(buttonWidth, static_cast<int>(r.right - r.left) + 8);
        }

    RECT text = measure.Calc(Message, Screen ? Screen->Width() / 2 : 320, DT_EXPANDTABS | DT_WORDBREAK);
    int textWidth = text.right - text.left, textHeight = text.bottom - text.top;
    const TTypeText &typeText = TypeTexts[Type];
    int iconTextWidth = textWidth, iconTextHeight = textHeight;
    if (typeText.Icon) {
        iconTextWidth += IconSize + horzSpacing;
        iconTextHeight = std::max(iconTextHeight, IconSize);
    }
    int buttonsWidth = buttonCount * buttonWidth + std::max(buttonCount - 1, 0) * buttonSpacing;
    int clientWidth = std::max(iconTextWidth, buttonsWidth) + 2 * horzMargin;
    int clientHeight = iconTextHeight + buttonHeight + vertSpacing + 2 * vertMargin;
    form->SetClientSize(clientWidth, clientHeight);
    form->SetCaption(typeText.Caption ? typeText.Caption : (Application ? Application->Title() : ""));

    int textLeft = horzMargin;
    if (typeText.Icon) {
        auto *image = new TMessageImage(form.get());
        image->SetName("Image");
        image->SetParent(form.get());
        image->SetBounds(horzMargin, vertMargin, IconSize, IconSize);
        try {
            image->Icon().LoadFromResourceName(GetModuleHandleA(nullptr), typeText.Icon);
        } catch (const EResNotFound &) {
            // A program built without its message icons shows the box without one.
        }
        textLeft += IconSize + horzSpacing;
    }
    auto *label = new TLabel(form.get());
    label->SetName("Message");
    label->SetParent(form.get());
    label->SetWordWrap(true);
    label->SetCaption(Message);
    label->SetBounds(textLeft, vertMargin, textWidth, textHeight);

    TMsgDlgBtn defaultButton = Buttons.Contains(mbOK) ? mbOK : Buttons.Contains(mbYes) ? mbYes : mbRetry;
    TMsgDlgBtn cancelButton = Buttons.Contains(mbCancel) ? mbCancel : Buttons.Contains(mbNo) ? mbNo : mbOK;
    int x = (clientWidth - buttonsWidth) / 2;
    int y = iconTextHeight + vertSpacing + vertMargin;
    for (int b = mbYes; b <= mbHelp; ++b) {
        auto kind = static_cast<TMsgDlgBtn>(b);
        if (!Buttons.Contains(kind))
            continue;
        auto *button = new TButton(form.get());
        button->SetName(ButtonTexts[b].Name);
        button->SetParent(form.get());
        button->SetCaption(ButtonTexts[b].Caption);
        button->SetModalResult(ButtonTexts[b].ModalResult);
        button->SetBounds(x, y, buttonWidth, buttonHeight);
        if (kind == defaultButton) {
            button->SetDefault(true);
            form->SetActiveControl(button);
        }
        if (kind == cancelButton)
            button->SetCancel(true);
        if (kind == mbHelp)
            button->OnClick = MakeNotifyEvent<&TMessageForm::HelpButtonClick>(form.get());
        x += buttonWidth + buttonSpacing;
    }
    return form;
}

int AdvMessageDlgPosHelp(const std::string &Message, TMsgDlgType Type, TMsgDlgButtons Buttons,
                         int HelpContext, int X, int Y, const std::string &HelpFileName) {
    std::unique_ptr<TMessageForm> form = CreateAdvMessageDialog(Message, Type, Buttons);
    form->SetHelpContext(HelpContext);
    form->SetHelpFile(HelpFileName);
    if (X >= 0 || Y >= 0) {
        form->SetPosition(poDesigned);
        if (X >= 0)
            form->SetLeft(X);
        if (Y >= 0)
            form->SetTop(Y);
    }
    return form->ShowModal();
}

int AdvMessageDlg(const std::string &Message, TMsgDlgType Type, TMsgDlgButtons Buttons, int HelpContext) {
    return AdvMessageDlgPosHelp(Message, Type, Buttons, HelpContext, -1, -1, "");
}
