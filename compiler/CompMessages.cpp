#include "CompMessages.h"

#include <windows.h>

#include <algorithm>

#include "GenSetup.h"

namespace {

const char *const ErrorTexts[] = {
    "",
    "Initial label expected",
    "Label only consisting of a colon is not allowed",
    "Syntax error in literal number",
    "Invalid character encountered",
    "Literal out of range",
    "Unterminated string (\" expected)",
    "Invalid predefined symbol",
    "Expression expected",
    "')' expected",
    "Invalid complex literal format",
    "Literal expected",
    "Operator expected",
    "'|' expected",
    "Keyword not allowed here",
    "Variable expected",
    "Left side cannot be assigned to",
    "',' or end of line expected",
    "Invalid label encountered",
    "Incompatible types",
    "Label or '}' expected",
    "Duplicate variable declaration",
    "ELSEIF before IF is not allowed",
    "ELSE or ELSEIF after ELSE is not allowed",
    "ELSE before IF is not allowed",
    "ENDIF before IF is not allowed",
    "ENDIF expected after IF",
    "Invalid parameter",
    "Setting identifier expected",
    "Invalid setting",
    "'=' expected",
    "Nesting of PARAM is not allowed",
    "Identifier expected",
    "ENDPARAM before PARAM is not allowed",
    "ENDPARAM expected after PARAM",
    "MIN value is larger than MAX value",
    "Invalid function",
    "Nesting of FUNC is not allowed",
    "ENDFUNC before FUNC is not allowed",
    "ENDFUNC expected after FUNC",
    "ENDWHILE before WHILE is not allowed",
    "ENDWHILE expected after WHILE",
    "UNTIL before REPEAT is not allowed",
    "UNTIL expected after REPEAT",
    "String value expected",
    "Predefined symbol is not readable",
    "Predefined symbol is not writeable",
    "Function expected",
    "']' expected",
    "Invalid array reference",
    "Constant expression expected",
    "Global variables are read-only here",
    "Parameters are read-only in global sections",
    "PARAM expected after type keyword",
    "Enumerated parameter expected",
    "Invalid value for this enumerated parameter",
    "Invalid number of function arguments",
    "Nesting of HEADING is not allowed",
    "ENDHEADING before HEADING is not allowed",
    "ENDHEADING expected after HEADING",
    "Invalid compiler directive",
    "$ELSE without $IFDEF is not allowed",
    "$ELSE after $ELSE is not allowed",
    "$ENDIF without $IFDEF is not allowed",
    "$ENDIF expected after $IFDEF",
    "Parameters are not allowed here",
};
static_assert(sizeof(ErrorTexts) / sizeof(ErrorTexts[0]) == ceUnknown, "one text per compile error");

const char *const WarningTexts[] = {
    "",
    "Result of expression is ignored.",
    "Variable has not been declared.",
    "Variable is declared but never used.",
    "Variable is written to but never read back.",
    "Implicit conversion from boolean expression.",
    "Implicit conversion to boolean expression.",
    "Parameters should not be written to.",
    "Imaginary part of complex numbers is ignored.",
    "Variable might not have been initialized.",
    "Function oldz is deprecated.",
};
static_assert(sizeof(WarningTexts) / sizeof(WarningTexts[0]) == cwUnknown, "one text per warning");

const char *const RuntimeErrorTexts[] = {"", "Array index out of bounds.", "Arrays are not compatible."};
static_assert(sizeof(RuntimeErrorTexts) / sizeof(RuntimeErrorTexts[0]) == reUnknown,
              "one text per run-time error");

template <std::size_t N> std::string TextOf(const char *const (&Table)[N], int Code) {
    if (Code < 1 || Code >= static_cast<int>(N))
        return std::string();
    return Table[Code];
}

constexpr int DefaultMessageLimit = 100;

TErrorManager *GlobalErrorManager = nullptr;

} // namespace

std::string GetErrorText(int Code) {
    return TextOf(ErrorTexts, Code);
}

std::string GetWarningText(int Code) {
    return TextOf(WarningTexts, Code);
}

std::string GetRuntimeErrorText(int Code) {
    return TextOf(RuntimeErrorTexts, Code);
}

// ---------------------------------------------------------------------------------------------
// ECompileError

ECompileError::ECompileError(std::uint8_t ACode, const std::string &Detail, const TCompilePosition &APosition)
    : Exception(Detail.empty() ? GetErrorText(ACode) : GetErrorText(ACode) + ": " + Detail), Code(ACode),
      Line(APosition.Line), Column(APosition.Column) {}

// ---------------------------------------------------------------------------------------------
// TCompilerMessage

std::unique_ptr<TCompilerMessage> TCompilerMessage::CreateError(std::uint8_t Code, const std::string &Text,
                                                                const TCompilePosition &Position) {
    auto message = std::make_unique<TCompilerMessage>();
    message->Kind = mkError;
    message->ErrorCode = Code;
    message->Text = Text;
    message->Line = Position.Line;
    message->Column = Position.Column;
    return message;
}

std::unique_ptr<TCompilerMessage> TCompilerMessage::CreateWarning(std::uint8_t Code, const std::string &Text,
                                                                  const TCompilePosition &Position) {
    auto message = std::make_unique<TCompilerMessage>();
    message->Kind = mkWarning;
    message->WarningCode = Code;
    message->Text = Text;
    message->Line = Position.Line;
    message->Column = Position.Column;
    return message;
}

std::unique_ptr<TCompilerMessage> TCompilerMessage::CreateOutput(const TCompilePosition &Position,
                                                                 std::uint8_t OutputKind,
                                                                 const std::string &EntryName,
                                                                 const std::string &FileName,
                                                                 const std::string &Text) {
    auto message = std::make_unique<TCompilerMessage>();
    message->Kind = mkOutput;
    message->OutputKind = OutputKind;
    message->EntryName = EntryName;
    message->FileName = FileName;
    message->Text = Text;
    message->Line = Position.Line;
    message->Column = Position.Column;
    return message;
}

// ---------------------------------------------------------------------------------------------
// TErrorManager

int TErrorManager::MessageLimit() {
    TConfigManager *config = ConfigManager();
    if (!config || !config->General)
        return DefaultMessageLimit;
    return config->General->RunTimeMessageCount;
}

TErrorManager::TFollower *TErrorManager::Own() {
    const std::uint32_t thread = GetCurrentThreadId();
    for (const std::unique_ptr<TFollower> &follower : FFollowers)
        if (follower->Thread == thread)
            return follower.get();
    return nullptr;
}

template <class TAction> bool TErrorManager::ForFollowers(const TObject *F, TAction Action) {
    bool any = false;
    if (!F)
        return false;
    for (const std::unique_ptr<TFollower> &follower : FFollowers)
        if (follower->Formula == F) {
            Action(*follower);
            any = true;
        }
    return any;
}

const TObject *TErrorManager::GetFormula() {
    TScopeLock<TNotificationManager> lock(*this);
    const TFollower *own = Own();
    return own ? own->Formula : nullptr;
}

void TErrorManager::SetFormula(const TObject *F) {
    {
        TScopeLock<TNotificationManager> lock(*this);
        TFollower *own = Own();
        if (F == (own ? own->Formula : nullptr))
            return;
        if (!F) {
            FFollowers.erase(
                std::find_if(FFollowers.begin(), FFollowers.end(),
                             [own](const std::unique_ptr<TFollower> &f) { return f.get() == own; }));
        } else if (own) {
            own->Formula = F;
            own->Messages.Clear();
            own->OutputCount = 0;
        } else {
            auto follower = std::make_unique<TFollower>();
            follower->Thread = GetCurrentThreadId();
            follower->Formula = F;
            FFollowers.push_back(std::move(follower));
        }
    }
    Notify();
}

bool TErrorManager::IsFollowed(const TObject *F) {
    TScopeLock<TNotificationManager> lock(*this);
    return ForFollowers(F, [](TFollower &) {});
}

void TErrorManager::Forget(const TObject *F) {
    {
        TScopeLock<TNotificationManager> lock(*this);
        const auto followers =
            std::remove_if(FFollowers.begin(), FFollowers.end(),
                           [F](const std::unique_ptr<TFollower> &f) { return f->Formula == F; });
        if (followers == FFollowers.end())
            return;
        FFollowers.erase(followers, FFollowers.end());
    }
    Notify();
}

void TErrorManager::Clear() {
    TScopeLock<TNotificationManager> lock(*this);
    if (TFollower *own = Own()) {
        own->Messages.Clear();
        own->OutputCount = 0;
    }
}

void TErrorManager::ClearOutput() {
    {
        TScopeLock<TNotificationManager> lock(*this);
        if (TFollower *own = Own()) {
            for (int i = own->Messages.Count() - 1; i >= 0; --i)
                if (own->Messages[i]->Kind == mkOutput)
                    own->Messages.Delete(i);
            own->OutputCount = 0;
        }
    }
    Notify();
}

int TErrorManager::GetCount() {
    TScopeLock<TNotificationManager> lock(*this);
    const TFollower *own = Own();
    return own ? own->Messages.Count() : 0;
}

#pragma push_macro("GetMessage")
#undef GetMessage
TCompilerMessage TErrorManager::GetMessage(int I) {
    TScopeLock<TNotificationManager> lock(*this);
    const TFollower *own = Own();
    if (!own)
        RaiseListIndexError(I);
    return *own->Messages[I];
}
#pragma pop_macro("GetMessage")

int TErrorManager::GetOutputCount() {
    TScopeLock<TNotificationManager> lock(*this);
    const TFollower *own = Own();
    return own ? own->OutputCount : 0;
}

void TErrorManager::BeginCompile(const TObject *F) {
    TScopeLock<TNotificationManager> lock(*this);
    ForFollowers(F, [](TFollower &Follower) {
        Follower.Messages.Clear();
        Follower.OutputCount = 0;
    });
}

void TErrorManager::EndCompile(const TObject *F) {
    if (IsFollowed(F))
        Notify();
}

void TErrorManager::AddError(const TObject *F, std::uint8_t Code, const TCompilePosition &Position,
                             const std::string &Text) {
    bool added;
    {
        TScopeLock<TNotificationManager> lock(*this);
        added = ForFollowers(F, [&](TFollower &Follower) {
            Follower.Messages.Add(TCompilerMessage::CreateError(Code, Text, Position));
        });
    }
    if (added)
        Notify();
}

void TErrorManager::AddWarning(const TObject *F, std::uint8_t Code, const std::string &Text,
                               const TCompilePosition &Position) {
    TScopeLock<TNotificationManager> lock(*this);
    ForFollowers(F, [&](TFollower &Follower) {
        int index = 0;
        for (; index < Follower.Messages.Count(); ++index) {
            const TCompilerMessage *message = Follower.Messages[index];
            if (message->Line > Position.Line ||
                (message->Line == Position.Line && message->Column >= Position.Column))
                break;
        }
        Follower.Messages.Insert(index, TCompilerMessage::CreateWarning(Code, Text, Position));
    });
}

void TErrorManager::AddOutput(const TObject *F, const TCompilePosition &Position, std::uint8_t OutputKind,
                              const std::string &Text, const std::string &EntryName,
                              const std::string &FileName) {
    const int limit = MessageLimit();
    bool added = false;
    {
        TScopeLock<TNotificationManager> lock(*this);
        ForFollowers(F, [&](TFollower &Follower) {
            if (Follower.OutputCount == -1)
                return;
            if (Follower.OutputCount <= limit) {
                Follower.Messages.Add(
                    TCompilerMessage::CreateOutput(Position, OutputKind, EntryName, FileName, Text));
                ++Follower.OutputCount;
            } else {
                Follower.Messages.Add(TCompilerMessage::CreateOutput(Position, okPrint, EntryName, FileName,
                                                                     "Too many messages."));
                Follower.OutputCount = -1;
            }
            added = true;
        });
    }
    if (added)
        Notify();
}

// ---------------------------------------------------------------------------------------------
// The global list

TErrorManager *ErrorManager() {
    return GlobalErrorManager;
}

void InitializeCompMessages() {
    if (!GlobalErrorManager)
        GlobalErrorManager = new TErrorManager();
}

void FinalizeCompMessages() {
    delete GlobalErrorManager;
    GlobalErrorManager = nullptr;
}
