// The dialog that lets the user choose among the code templates whose pattern starts with the
// word typed before the caret, with a preview of the chosen template.
#pragma once

#include <string>
#include <vector>

#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

class TEditorTemplateList;

class TTemplatesForm : public TForm {
public:
    DECLARE_CLASS_NAME(TTemplatesForm)
    // Restores the placement, the column widths and the preview's height.
    explicit TTemplatesForm(TComponent *AOwner);
    // Stores them.
    ~TTemplatesForm() override;

    // Fills the list with the templates whose pattern starts with Pattern (case ignored), sorted;
    // nothing happens when the dialog holds that pattern already.
    void SetPattern(const std::string &APattern, const TEditorTemplateList &Templates);
    const std::string &Pattern() const { return FPattern; }
    // Sorts by a column (0 pattern, 1 description): the sorted column again reverses the order,
    // another column starts ascending.
    void SortBy(int Column);
    int SortColumn() const { return FSortColumn; }
    bool SortAscending() const { return FSortAscending; }
    // The template of the selected row; empty while none is selected.
    const std::string &SelectedTemplate() const { return FSelectedTemplate; }

    TPanel *UpperPanel, *LowerPanel;
    TListView *List;
    TSplitter *Splitter;
    TMemo *Memo;
    TButton *OKButton, *CancelButton;

protected:
    void Resize() override;

private:
    struct TRow {
        std::string Pattern, Description, Template;
    };
    void FillList();
    void ListChange(TObject *Sender);
    void ListDblClick(TObject *Sender);
    void ListColumnClick(TObject *Sender, int Column);
    void SplitterMoved(TObject *Sender);
    void LayOut();

    std::string FPattern;
    bool FFilled = false;
    int FSortColumn = 0;
    bool FSortAscending = true;
    std::string FSelectedTemplate;
    std::vector<TRow> FRows;
};
