#include "FormMessages.h"

#include <windows.h>

#include "Clipbrd.h"
#include "ComCtrls.h"
#include "CompLexical.h"
#include "ExtCtrls.h"
#include "FormEditor.h"
#include "Forms.h"
#include "FracClipboard.h"
#include "GenSetup.h"
#include "Menus.h"
#include "StdCtrls.h"
#include "SysUtils.h"

namespace {

// The names of the compiler's codes without their two-letter prefix, in code order: they name
// the messages' help pages.
const char *const kErrorNames[] = {"None",
                                   "NoStartLabel",
                                   "ColonLabel",
                                   "InvalidLiteral",
                                   "InvalidChar",
                                   "LiteralOutOfRange",
                                   "UnterminatedString",
                                   "InvalidPredefined",
                                   "ExprExpected",
                                   "CloseParExpected",
                                   "FirstImagLiteral",
                                   "LiteralExpected",
                                   "OperatorExpected",
                                   "PipeExpected",
                                   "KeywordMisplaced",
                                   "VariableExpected",
                                   "CannotAssign",
                                   "CommaExpected",
                                   "InvalidLabel",
                                   "TypeError",
                                   "LabelExpected",
                                   "AlreadyDeclared",
                                   "ElseIfMisplaced",
                                   "ElseAfterElse",
                                   "ElseMisplaced",
                                   "EndIfMisplaced",
                                   "EndIfExpected",
                                   "InvalidParameter",
                                   "SettingExpected",
                                   "InvalidSetting",
                                   "AssignExpected",
                                   "ParamNested",
                                   "IdentifierExpected",
                                   "EndParamMisplaced",
                                   "EndParamExpected",
                                   "MinExceedsMax",
                                   "InvalidFunction",
                                   "FuncNested",
                                   "EndFuncMisplaced",
                                   "EndFuncExpected",
                                   "EndWhileMisplaced",
                                   "EndWhileExpected",
                                   "UntilMisplaced",
                                   "UntilExpected",
                                   "StringExpected",
                                   "ReadPredefined",
                                   "WritePredefined",
                                   "FunctionExpected",
                                   "CloseBracketExpected",
                                   "InvalidArrayReference",
                                   "ConstantExpected",
                                   "LocalWriteToGlobal",
                                   "GlobalWriteToParameter",
                                   "ParamKeywordExpected",
                                   "EnumParamExpected",
                                   "InvalidEnumValue",
                                   "InvalidArguments",
                                   "HeadingNested",
                                   "EndHeadingMisplaced",
                                   "EndHeadingExpected",
                                   "InvalidDirective",
                                   "DirectiveElseMisplaced",
                                   "DirectiveElseAfterElse",
                                   "DirectiveEndIfMisplaced",
                                   "DirectiveEndIfExpected",
                                   "ParameterNotAllowed",
                                   "Unknown"};
const char *const kWarningNames[] = {
    "None",           "ResultIgnored", "UndeclaredVariable", "VariableNeverUsed", "VariableNeverRead",
    "BoolConversion", "ConvertToBool", "WriteToParameter",   "ComplexCompare",    "UninitializedVariable",
    "OldZDeprecated", "Unknown"};
static_assert(std::size(kErrorNames) == ceUnknown + 1);
static_assert(std::size(kWarningNames) == cwUnknown + 1);
const char *const kRunTimeNames[] = {"None", "ArrayIndexOutOfBounds", "IncompatibleArrays", "Unknown"};
static_assert(std::size(kRunTimeNames) == reUnknown + 1);

// The message the posted notification of a calculation thread brings to the window.
constexpr UINT MessagesChangedMessage = WM_USER;

struct TFollowed {
    bool Present = false;
    std::string EntryName, FileName; // the file without its folder
};

TFollowed FollowedObject(TErrorManager &Manager) {
    TFollowed out;
    const TObject *formula = Manager.GetFormula();
    if (!formula)
        return out;
    out.Present = true;
    if (const auto *lexical = dynamic_cast<const TLexical *>(formula)) {
        out.EntryName = lexical->GetEntryName();
        out.FileName = ExtractFileName(lexical->GetFileName());
    }
    return out;
}

// Holds the message list's lock for a whole pass.
class TErrorManagerLock {
public:
    explicit TErrorManagerLock(TErrorManager &Manager) : FManager(Manager) { FManager.Lock(); }
    ~TErrorManagerLock() { FManager.Unlock(); }
    TErrorManagerLock(const TErrorManagerLock &) = delete;
    TErrorManagerLock &operator=(const TErrorManagerLock &) = delete;

private:
    TErrorManager &FManager;
};

bool RunTimeMessagePosition() {
    return !ConfigManager() || ConfigManager()->General->RunTimeMessagePosition;
}

} // namespace

TMessageRows MakeMessageRows(TErrorManager &Manager, bool RunTimeMessagePosition) {
    TErrorManagerLock lock(Manager);
    TMessageRows out;
    out.Status = 1;
    const TFollowed followed = FollowedObject(Manager);
    bool statusWritten = false;
    auto addStatus = [&] {
        if (!followed.Present || statusWritten)
            return;
        statusWritten = true;
        const bool compiled = out.Status == 1;
        std::string text =
            compiled ? Format("Successfully compiled '%s' in '%s'.", followed.EntryName, followed.FileName)
                     : Format("Unable to compile '%s' in '%s'.", followed.EntryName, followed.FileName);
        out.Rows.push_back({text, compiled ? TMessageIcon::Compiled : TMessageIcon::NotCompiled, -1});
    };
    const int count = Manager.GetCount();
    for (int i = 0; i < count; ++i) {
        const TCompilerMessage m = Manager.GetMessage(i);
        if (m.Kind == mkOutput) {
            addStatus();
            const std::string text =
                RunTimeMessagePosition ? Format("Message: %s in %s (%d:%d): %s", m.EntryName,
                                                ExtractFileName(m.FileName), m.Line + 1, m.Column + 1, m.Text)
                                       : "Message: " + m.Text;
            out.Rows.push_back({text, TMessageIcon::Output, i});
            out.HasOutput = true;
            continue;
        }
        const bool error = m.Kind == mkError;
        if (error) {
            out.Status = 2;
            out.LastErrorRow = static_cast<int>(out.Rows.size());
        }
        out.Rows.push_back({Format("%s: %s (%d:%d): %s", error ? "Error" : "Warning", followed.FileName,
                                   m.Line + 1, m.Column + 1, m.Text),
                            error ? TMessageIcon::Error : TMessageIcon::Warning, i});
        ++out.WarningsAndErrors;
    }
    addStatus();
    if (!followed.Present && out.Rows.empty()) {
        out.Status = 0;
        out.Rows.push_back({"No messages.", TMessageIcon::Compiled, -1});
    }
    return out;
}

std::string MessageHelpPage(const TCompilerMessage &Message) {
    if (Message.Kind == mkWarning && Message.WarningCode <= cwUnknown)
        return Format("Html/writing/reference/warnings/%s.html", kWarningNames[Message.WarningCode]);
    if (Message.Kind == mkError && Message.ErrorCode <= ceUnknown)
        return Format("Html/writing/reference/errors/%s.html", kErrorNames[Message.ErrorCode]);
    if (Message.Kind == mkOutput &&
        (Message.OutputKind == okArrayIndexOutOfBounds || Message.OutputKind == okIncompatibleArrays))
        return Format("Html/writing/reference/errors/%s.html", kRunTimeNames[Message.OutputKind]);
    return "";
}

// ---------------------------------------------------------------------------------------------

TMessagesToolForm::TMessagesToolForm(TToolPanel *APanel) : TToolForm(APanel), FThread(GetCurrentThreadId()) {
    SetCaption("Compiler Messages");
    auto *buttons = new TPanel(this);
    buttons->SetParent(this);
    buttons->SetAlign(alBottom);
    buttons->SetHeight(30);
    auto makeButton = [&](const char *caption, int left, TNotifyEvent click) {
        auto *button = new TButton(this);
        button->SetParent(buttons);
        button->SetBounds(left, 3, 110, 24);
        button->SetCaption(caption);
        button->OnClick = click;
        return button;
    };
    TraceButton = makeButton("Go to Source", 4, MakeNotifyEvent<&TMessagesToolForm::TraceItemClick>(this));
    HelpButton = makeButton("Help on Error", 118, MakeNotifyEvent<&TMessagesToolForm::HelpItemClick>(this));
    ClearButton =
        makeButton("Clear Run-Time Messages", 232, MakeNotifyEvent<&TMessagesToolForm::ClearItemClick>(this));
    ClearButton->SetWidth(150);
    List = new TListView(this);
    List->SetParent(this);
    List->SetAlign(alClient);
    List->SetViewStyle(vsReport);
    List->SetReadOnly(true);
    List->SetRowSelect(true);
    List->AddColumn("", 400);
    List->OnChange = MakeNotifyEvent<&TMessagesToolForm::ListChange>(this);
    List->OnDblClick = MakeNotifyEvent<&TMessagesToolForm::TraceItemClick>(this);
    PopupMenu = new TPopupMenu(this);
    auto addItem = [&](const char *caption, const char *hint, TNotifyEvent click) {
        auto *item = new TMenuItem(nullptr);
        item->SetCaption(caption);
        item->SetHint(hint);
        item->OnClick = click;
        PopupMenu->Items().Add(item);
        return item;
    };
    TraceItem =
        addItem("&Go to Source",
                "Opens the formula in the formula editor at the location of the selected error message.",
                MakeNotifyEvent<&TMessagesToolForm::TraceItemClick>(this));
    TraceItem->SetDefault(true);
    HelpItem = addItem("&Help on Error", "Shows help on the selected error message.",
                       MakeNotifyEvent<&TMessagesToolForm::HelpItemClick>(this));
    auto *line = new TMenuItem(nullptr);
    line->SetCaption("-");
    PopupMenu->Items().Add(line);
    CopyItem = addItem("&Copy Run-Time Messages", "Copies all run-time messages to the Clipboard.",
                       MakeNotifyEvent<&TMessagesToolForm::CopyItemClick>(this));
    ClearItem = addItem("&Clear Run-Time Messages", "Removes all run-time messages from the list.",
                        MakeNotifyEvent<&TMessagesToolForm::ClearItemClick>(this));
    List->SetPopupMenu(PopupMenu);
    FTimer = new TTimer(this);
    FTimer->SetEnabled(false);
    FTimer->SetInterval(250);
    FTimer->SetOnTimer(MakeNotifyEvent<&TMessagesToolForm::TimerTimer>(this));
    if (ErrorManager())
        ErrorManager()->AddHandler(MakeNotifyEvent<&TMessagesToolForm::MessagesChanged>(this));
    FillList();
}

TMessagesToolForm::~TMessagesToolForm() {
    if (ErrorManager())
        ErrorManager()->RemoveHandler(MakeNotifyEvent<&TMessagesToolForm::MessagesChanged>(this));
}

void TMessagesToolForm::FillList() {
    if (ErrorManager()) {
        FRows = MakeMessageRows(*ErrorManager(), RunTimeMessagePosition());
    } else {
        FRows = {};
        FRows.Rows.push_back({"No messages.", TMessageIcon::Compiled, -1});
    }
    const int count = static_cast<int>(FRows.Rows.size());
    for (int i = 0; i < count; ++i) {
        TListItem *item = i < List->ItemCount() ? List->Items(i) : List->AddItem();
        item->SetCaption(FRows.Rows[static_cast<std::size_t>(i)].Text);
        item->SetImageIndex(static_cast<int>(FRows.Rows[static_cast<std::size_t>(i)].Icon));
    }
    while (List->ItemCount() > count)
        List->DeleteItem(List->ItemCount() - 1);
    if (count > 1) {
        List->SetItemIndex(FRows.LastErrorRow >= 0 ? FRows.LastErrorRow : 0);
        if (!(Application && IsIconic(Application->Handle())) && Panel())
            Panel()->ShowTool();
    }
    ClearButton->SetEnabled(FRows.HasOutput);
    ClearItem->SetEnabled(FRows.HasOutput);
    CopyItem->SetEnabled(FRows.HasOutput);
    ListChange(nullptr);
}

void TMessagesToolForm::MessagesChanged(TObject *) {
    if (GetCurrentThreadId() != FThread) {
        // Output of a calculation thread: the interface thread takes it up at its next tick.
        if (HandleAllocated())
            PostMessageA(Handle(), MessagesChangedMessage, 0, 0);
        return;
    }
    FillList();
    if (FRows.WarningsAndErrors == 0 && !FClearing && ConfigManager() &&
        ConfigManager()->General->HideMsgUponSuccess && Panel())
        Panel()->HideTool();
}

void TMessagesToolForm::TimerTimer(TObject *) {
    FTimer->SetEnabled(false);
    FillList();
}

void TMessagesToolForm::WndProc(TMessage &Message) {
    if (Message.Msg == MessagesChangedMessage) {
        FTimer->SetEnabled(true);
        return;
    }
    TToolForm::WndProc(Message);
}

void TMessagesToolForm::ListChange(TObject *) {
    const int index = List->ItemIndex();
    const bool message = index >= 0 && index < static_cast<int>(FRows.Rows.size()) &&
                         FRows.Rows[static_cast<std::size_t>(index)].IsMessage();
    TraceButton->SetEnabled(message);
    HelpButton->SetEnabled(message);
    TraceItem->SetEnabled(message);
    HelpItem->SetEnabled(message);
}

bool TMessagesToolForm::SelectedMessage(TCompilerMessage &Message, std::string &FileName) {
    const int index = List->ItemIndex();
    if (!ErrorManager() || index < 0 || index >= static_cast<int>(FRows.Rows.size()))
        return false;
    const TMessageRow &row = FRows.Rows[static_cast<std::size_t>(index)];
    if (!row.IsMessage())
        return false;
    TErrorManagerLock lock(*ErrorManager());
    if (row.MessageIndex >= ErrorManager()->GetCount())
        return false;
    Message = ErrorManager()->GetMessage(row.MessageIndex);
    if (Message.Kind == mkOutput) {
        FileName = Message.FileName;
    } else if (const auto *lexical = dynamic_cast<const TLexical *>(ErrorManager()->GetFormula())) {
        FileName = lexical->GetFileName();
    }
    return true;
}

void TMessagesToolForm::TraceItemClick(TObject *) {
    TCompilerMessage message;
    std::string fileName;
    if (!SelectedMessage(message, fileName) || fileName.empty())
        return;
    TEditForm *editor = OpenEditorWindow(fileName);
    editor->GoToPosition(message.Line, message.Column);
}

void TMessagesToolForm::HelpItemClick(TObject *) {
    TCompilerMessage message;
    std::string fileName;
    if (!SelectedMessage(message, fileName))
        return;
    const std::string page = MessageHelpPage(message);
    if (!page.empty() && Application)
        Application->HelpCommand(HELP_KEY, reinterpret_cast<intptr_t>(page.c_str()));
}

std::string TMessagesToolForm::RunTimeMessagesText() {
    std::string text;
    for (const TMessageRow &row : FRows.Rows)
        if (row.Icon == TMessageIcon::Output)
            text += row.Text + "\r\n";
    return text;
}

void TMessagesToolForm::CopyItemClick(TObject *) {
    const std::string text = RunTimeMessagesText();
    if (!text.empty() && ClipboardManager())
        ClipboardManager()->SetText(text, 1);
}

void TMessagesToolForm::ClearItemClick(TObject *) {
    if (!ErrorManager())
        return;
    FClearing = true;
    try {
        ErrorManager()->ClearOutput();
    } catch (...) {
        FClearing = false;
        throw;
    }
    FClearing = false;
}
