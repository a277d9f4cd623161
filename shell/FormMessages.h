// The "Compiler Messages" tool window: the messages of the formula object the interface thread
// follows (errors, warnings, a status row, the output of running formulas), with the way from a
// message to its source line and to its help page.
#pragma once

#include <string>
#include <vector>

#include "AdvBars.h"
#include "CompMessages.h"

class TListView;
class TButton;
class TMenuItem;
class TPopupMenu;
class TTimer;

// Row icons.
enum class TMessageIcon { Error = 0, Warning = 1, Output = 2, Compiled = 3, NotCompiled = 4 };

struct TMessageRow {
    std::string Text;
    TMessageIcon Icon = TMessageIcon::Compiled;
    int MessageIndex = -1; // -1 for the status row and "No messages."
    bool IsMessage() const { return Icon < TMessageIcon::Compiled; }
};

// The rows of the list for the calling thread's messages, read under the manager's lock.
struct TMessageRows {
    std::vector<TMessageRow> Rows;
    int Status = 0; // 0 none, 1 compiled, 2 not compiled
    int WarningsAndErrors = 0;
    bool HasOutput = false;
    int LastErrorRow = -1;
};
// RunTimeMessagePosition: output rows name their entry, file and position.
TMessageRows MakeMessageRows(TErrorManager &Manager, bool RunTimeMessagePosition);

// The help page of a message ("Html/writing/reference/errors/NoStartLabel.html"), or empty for
// print output.
std::string MessageHelpPage(const TCompilerMessage &Message);

class TMessagesToolForm : public TToolForm {
public:
    DECLARE_CLASS_NAME(TMessagesToolForm)
    explicit TMessagesToolForm(TToolPanel *APanel);
    ~TMessagesToolForm() override;

    TListView *List = nullptr;
    TButton *TraceButton = nullptr;
    TButton *HelpButton = nullptr;
    TButton *ClearButton = nullptr;
    TPopupMenu *PopupMenu = nullptr;
    TMenuItem *TraceItem = nullptr, *HelpItem = nullptr, *CopyItem = nullptr, *ClearItem = nullptr;

    void FillList();
    // Go to Source for the selected row: opens the file in the text editor at the position.
    void TraceItemClick(TObject *Sender);
    void HelpItemClick(TObject *Sender);
    void ClearItemClick(TObject *Sender);
    // Copy Run-Time Messages: the output rows' texts go to the clipboard as text.
    void CopyItemClick(TObject *Sender);
    // The texts of the output rows, each followed by CR LF.
    std::string RunTimeMessagesText();

    void WndProc(TMessage &Message) override;

private:
    void MessagesChanged(TObject *Sender);
    void TimerTimer(TObject *Sender);
    void ListChange(TObject *Sender);
    bool SelectedMessage(TCompilerMessage &Message, std::string &FileName);

    TTimer *FTimer = nullptr;
    TMessageRows FRows;
    bool FClearing = false;
    DWORD FThread = 0;
};
