// The credits of a parameter entry: a two-column table with a header row "Author" and "Date" and
// one row per credit, scrolled vertically.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "AdvCtrls.h"

class TCreditsList : public TAdvScrollControl {
public:
    DECLARE_CLASS_NAME(TCreditsList)
    explicit TCreditsList(TComponent *AOwner);
    ~TCreditsList() override;

    // Layout changes inside the bracket wait for its end.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    int Count() const { return FCount; }
    // Cuts both columns from the end, or extends them with empty texts, to N rows.
    void SetCount(int N);
    std::string GetAuthor(int Index) const { return FAuthors->Strings(Index); }
    void SetAuthor(int Index, const std::string &Text);
    std::string GetDate(int Index) const { return FDates->Strings(Index); }
    void SetDate(int Index, const std::string &Text);
    // The height of the header and of each row (17 pixels at the standard screen font).
    static int RowHeight();
    // The width of the date column when painted on the current font and width.
    int DateWidth();

protected:
    void CreateParams(TCreateParams &Params) override;
    void Paint() override;

private:
    void LayoutChanged();
    void SetText(TStringList &List, int Index, const std::string &Text);
    void DrawHeaderCell(TCanvas &Canvas, const RECT &Cell, const std::string &Caption, int TextTop);

    std::unique_ptr<TStringList> FAuthors;
    int FCount = 0;
    std::unique_ptr<TStringList> FDates;
    bool FChangePending = false;
    int FUpdateCount = 0;
};
