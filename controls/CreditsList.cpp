#include "CreditsList.h"

#include <algorithm>

#include "GenUtils.h"

TCreditsList::TCreditsList(TComponent *AOwner)
    : TAdvScrollControl(AOwner), FAuthors(std::make_unique<TStringList>()),
      FDates(std::make_unique<TStringList>()) {
    // The range is the table's height, not the children's extent.
    SetAutoScroll(false);
    VertScrollBar().SetTracking(true);
    SetColor(clWindow);
    SetParentColor(false);
}

TCreditsList::~TCreditsList() = default;

void TCreditsList::CreateParams(TCreateParams &Params) {
    TAdvScrollControl::CreateParams(Params);
    Params.ExStyle |= WS_EX_CLIENTEDGE;
    Params.ClassStyle |= CS_HREDRAW | CS_VREDRAW;
}

int TCreditsList::RowHeight() {
    return ScaleForScreenFont(17);
}

void TCreditsList::EndUpdate() {
    if (FUpdateCount > 0)
        --FUpdateCount;
    if (FUpdateCount == 0 && FChangePending)
        LayoutChanged();
}

void TCreditsList::LayoutChanged() {
    if (FUpdateCount > 0) {
        FChangePending = true;
        return;
    }
    FChangePending = false;
    VertScrollBar().SetRange((FCount + 1) * RowHeight());
    Invalidate();
}

void TCreditsList::SetCount(int N) {
    N = std::max(N, 0);
    if (N == FCount)
        return;
    for (TStringList *list : {FAuthors.get(), FDates.get()}) {
        while (list->Count() > N)
            list->Delete(list->Count() - 1);
        while (list->Count() < N)
            list->Add("");
    }
    FCount = N;
    LayoutChanged();
}

void TCreditsList::SetText(TStringList &List, int Index, const std::string &Text) {
    if (List.Strings(Index) != Text) {
        List.SetStrings(Index, Text);
        LayoutChanged();
    }
}

void TCreditsList::SetAuthor(int Index, const std::string &Text) {
    SetText(*FAuthors, Index, Text);
}

void TCreditsList::SetDate(int Index, const std::string &Text) {
    SetText(*FDates, Index, Text);
}

int TCreditsList::DateWidth() {
    TCanvas &canvas = Canvas();
    canvas.Font().Assign(Font());
    int width = canvas.TextWidth("Date") + ScaleForScreenFont(50);
    for (int i = 0; i < FCount; ++i)
        width = std::max(width, canvas.TextWidth(FDates->Strings(i)) + ScaleForScreenFont(8));
    return std::min(width, ClientWidth());
}

void TCreditsList::DrawHeaderCell(TCanvas &Canvas, const RECT &Cell, const std::string &Caption,
                                  int TextTop) {
    RECT face = Cell;
    Canvas.Brush().SetColor(clBtnFace);
    Canvas.FillRect(face);
    Frame3D(Canvas, face, clBtnHighlight, clBtnShadow, 1);
    Canvas.Brush().SetStyle(bsClear);
    Canvas.TextRect(Rect(Cell.left + 4, TextTop, Cell.right, Cell.bottom), Caption,
                    DT_SINGLELINE | DT_NOPREFIX);
    Canvas.Brush().SetStyle(bsSolid);
}

void TCreditsList::Paint() {
    TCanvas &canvas = Canvas();
    int width = ClientWidth(), height = ClientHeight();
    canvas.Brush().SetColor(Color());
    canvas.FillRect(Rect(0, 0, width, height));
    canvas.Font().Assign(Font());
    int dateWidth = DateWidth();
    int rowHeight = RowHeight();
    int textOffset = (rowHeight - canvas.TextHeight("Pg")) / 2;
    int y = -VertScrollBar().Position();
    RECT authorCell = Rect(0, y, width - dateWidth, y + rowHeight);
    RECT dateCell = Rect(width - dateWidth, y, width, y + rowHeight);
    if (dateWidth < width)
        DrawHeaderCell(canvas, authorCell, "Author", y + textOffset);
    DrawHeaderCell(canvas, dateCell, "Date", y + textOffset);
    canvas.Brush().SetStyle(bsClear);
    canvas.Font().SetColor(Font().Color());
    for (int i = 0; i < FCount; ++i) {
        int top = y + (i + 1) * rowHeight;
        if (top >= height)
            break;
        if (top + rowHeight <= 0)
            continue;
        if (dateWidth < width)
            canvas.TextRect(Rect(2, top + textOffset, width - dateWidth, top + rowHeight),
                            FAuthors->Strings(i), DT_SINGLELINE | DT_NOPREFIX);
        canvas.TextRect(Rect(width - dateWidth + 2, top + textOffset, width, top + rowHeight),
                        FDates->Strings(i), DT_SINGLELINE | DT_NOPREFIX);
    }
    canvas.Brush().SetStyle(bsSolid);
}
