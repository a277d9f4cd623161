#include "FormTemplates.h"

#include <algorithm>

#include "EditorSnippets.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "SysUtils.h"

namespace {

constexpr const char *FormName = "TemplatesForm";

} // namespace

TTemplatesForm::TTemplatesForm(TComponent *AOwner) : TForm(AOwner) {
    SetName(FormName);
    SetCaption("Matching Templates");
    SetPosition(poScreenCenter);
    SetClientSize(ScaleForScreenFont(420), ScaleForScreenFont(300));

    int patternWidth = 100, descriptionWidth = 200, bottomHeight = 100;
    if (TConfigManager *config = ConfigManager()) {
        patternWidth = config->ReadFormInteger(FormName, "PatternWidth", patternWidth);
        descriptionWidth = config->ReadFormInteger(FormName, "DescriptionWidth", descriptionWidth);
        bottomHeight = config->ReadFormInteger(FormName, "BottomHeight", bottomHeight);
    }

    LowerPanel = new TPanel(this);
    LowerPanel->SetParent(this);
    LowerPanel->SetAlign(alBottom);
    LowerPanel->SetBevelOuter(bvNone);
    LowerPanel->SetHeight(std::max(bottomHeight, 20));
    Splitter = new TSplitter(this);
    Splitter->SetParent(this);
    Splitter->SetAlign(alBottom);
    UpperPanel = new TPanel(this);
    UpperPanel->SetParent(this);
    UpperPanel->SetAlign(alClient);
    UpperPanel->SetBevelOuter(bvNone);

    List = new TListView(this);
    List->SetParent(UpperPanel);
    List->SetViewStyle(vsReport);
    List->SetReadOnly(true);
    List->SetRowSelect(true);
    List->SetHideSelection(false);
    List->AddColumn("Pattern", patternWidth);
    List->AddColumn("Description", descriptionWidth);
    List->OnChange = MakeNotifyEvent<&TTemplatesForm::ListChange>(this);
    List->OnDblClick = MakeNotifyEvent<&TTemplatesForm::ListDblClick>(this);
    List->OnColumnClick = MakeEvent<&TTemplatesForm::ListColumnClick>(this);

    OKButton = new TButton(this);
    OKButton->SetParent(UpperPanel);
    OKButton->SetCaption("OK");
    OKButton->SetDefault(true);
    OKButton->SetModalResult(mrOk);
    CancelButton = new TButton(this);
    CancelButton->SetParent(UpperPanel);
    CancelButton->SetCaption("Cancel");
    CancelButton->SetCancel(true);
    CancelButton->SetModalResult(mrCancel);

    Memo = new TMemo(this);
    Memo->SetParent(LowerPanel);
    Memo->SetReadOnly(true);
    Memo->SetWordWrap(false);
    Memo->SetScrollBars(ssBoth);
    Memo->Font().SetName("Courier New");
    Memo->Font().SetSize(10);
    Splitter->OnMoved = MakeNotifyEvent<&TTemplatesForm::SplitterMoved>(this);

    if (TConfigManager *config = ConfigManager())
        config->LoadWindowPlacement(Handle(), FormName, true);
    LayOut();
}

TTemplatesForm::~TTemplatesForm() {
    if (TConfigManager *config = ConfigManager()) {
        config->WriteFormInteger(FormName, "PatternWidth", List->Columns(0).Width);
        config->WriteFormInteger(FormName, "DescriptionWidth", List->Columns(1).Width);
        config->WriteFormInteger(FormName, "BottomHeight", LowerPanel->Height());
        if (HandleAllocated())
            config->SaveWindowPlacement(Handle(), FormName, true);
    }
}

void TTemplatesForm::Resize() {
    TForm::Resize();
    LayOut();
}

void TTemplatesForm::LayOut() {
    if (!List || !Memo)
        return;
    const int width = UpperPanel->Width(), height = UpperPanel->Height();
    OKButton->SetBounds(width - ScaleForScreenFont(79), ScaleForScreenFont(4), ScaleForScreenFont(75),
                        ScaleForScreenFont(25));
    CancelButton->SetBounds(width - ScaleForScreenFont(79), ScaleForScreenFont(33), ScaleForScreenFont(75),
                            ScaleForScreenFont(25));
    List->SetBounds(ScaleForScreenFont(4), ScaleForScreenFont(4),
                    std::max(width - ScaleForScreenFont(89), 10),
                    std::max(height - ScaleForScreenFont(4), 10));
    Memo->SetBounds(ScaleForScreenFont(4), 0, List->Width(),
                    std::max(LowerPanel->Height() - ScaleForScreenFont(4), 10));
}

void TTemplatesForm::SetPattern(const std::string &APattern, const TEditorTemplateList &Templates) {
    if (FFilled && APattern == FPattern)
        return;
    FFilled = true;
    FPattern = APattern;
    SetCaption("Templates Matching '" + APattern + "'");
    FRows.clear();
    for (int i = 0; i < Templates.GetCount(); ++i) {
        const TEditorTemplate &entry = *Templates.GetTemplate(i);
        if (StartsWithText(entry.Pattern, APattern))
            FRows.push_back({entry.Pattern, entry.Description, entry.Template});
    }
    FillList();
}

void TTemplatesForm::SortBy(int Column) {
    if (Column == FSortColumn) {
        FSortAscending = !FSortAscending;
    } else {
        FSortColumn = Column;
        FSortAscending = true;
    }
    FillList();
}

void TTemplatesForm::FillList() {
    // Keeps the selected row selected across a new order.
    const std::string selected = FSelectedTemplate;
    std::stable_sort(FRows.begin(), FRows.end(), [this](const TRow &a, const TRow &b) {
        const int order =
            FSortColumn == 0 ? CompareText(a.Pattern, b.Pattern) : CompareText(a.Description, b.Description);
        return FSortAscending ? order < 0 : order > 0;
    });
    List->BeginUpdate();
    List->ClearItems();
    int selectedRow = -1;
    for (std::size_t i = 0; i < FRows.size(); ++i) {
        TListItem *item = List->AddItem();
        item->SetCaption(FRows[i].Pattern);
        item->SubItems().Add(FRows[i].Description);
        item->SetData(&FRows[i]);
        if (!selected.empty() && FRows[i].Template == selected && selectedRow < 0)
            selectedRow = static_cast<int>(i);
    }
    List->EndUpdate();
    if (selectedRow >= 0)
        List->SetItemIndex(selectedRow);
    else if (List->ItemCount() > 0)
        List->Items(0)->SetFocused(true); // the focus rectangle only: the preview stays empty
    ListChange(nullptr);
}

void TTemplatesForm::ListChange(TObject *) {
    TListItem *item = List->Selected();
    FSelectedTemplate = item && item->Data() ? static_cast<const TRow *>(item->Data())->Template : "";
    // The preview shows the template as it will be inserted: its CRs as line breaks.
    std::string preview;
    for (char c : FSelectedTemplate) {
        if (c == '\n')
            continue;
        preview += c == '\r' ? std::string("\r\n") : std::string(1, c);
    }
    if (Memo->Text() != preview)
        Memo->SetText(preview);
}

void TTemplatesForm::SplitterMoved(TObject *) {
    LayOut();
}

void TTemplatesForm::ListDblClick(TObject *) {
    if (List->Selected())
        SetModalResult(mrOk);
}

void TTemplatesForm::ListColumnClick(TObject *, int Column) {
    SortBy(Column);
}
