// Compiler messages: the compile error exception, the texts of every error, warning and run-time
// error, and the global manager of the messages of the formula objects that threads follow.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "CompDefinitions.h"
#include "GenClasses.h"
#include "SysUtils.h"

// Compile error codes; the names without their prefix name the help pages of the messages.
enum TCompileError : std::uint8_t {
    ceNone,
    ceNoStartLabel,
    ceColonLabel,
    ceInvalidLiteral,
    ceInvalidChar,
    ceLiteralOutOfRange,
    ceUnterminatedString,
    ceInvalidPredefined,
    ceExprExpected,
    ceCloseParExpected,
    ceFirstImagLiteral,
    ceLiteralExpected,
    ceOperatorExpected,
    cePipeExpected,
    ceKeywordMisplaced,
    ceVariableExpected,
    ceCannotAssign,
    ceCommaExpected,
    ceInvalidLabel,
    ceTypeError,
    ceLabelExpected,
    ceAlreadyDeclared,
    ceElseIfMisplaced,
    ceElseAfterElse,
    ceElseMisplaced,
    ceEndIfMisplaced,
    ceEndIfExpected,
    ceInvalidParameter,
    ceSettingExpected,
    ceInvalidSetting,
    ceAssignExpected,
    ceParamNested,
    ceIdentifierExpected,
    ceEndParamMisplaced,
    ceEndParamExpected,
    ceMinExceedsMax,
    ceInvalidFunction,
    ceFuncNested,
    ceEndFuncMisplaced,
    ceEndFuncExpected,
    ceEndWhileMisplaced,
    ceEndWhileExpected,
    ceUntilMisplaced,
    ceUntilExpected,
    ceStringExpected,
    ceReadPredefined,
    ceWritePredefined,
    ceFunctionExpected,
    ceCloseBracketExpected,
    ceInvalidArrayReference,
    ceConstantExpected,
    ceLocalWriteToGlobal,
    ceGlobalWriteToParameter,
    ceParamKeywordExpected,
    ceEnumParamExpected,
    ceInvalidEnumValue,
    ceInvalidArguments,
    ceHeadingNested,
    ceEndHeadingMisplaced,
    ceEndHeadingExpected,
    ceInvalidDirective,
    ceDirectiveElseMisplaced,
    ceDirectiveElseAfterElse,
    ceDirectiveEndIfMisplaced,
    ceDirectiveEndIfExpected,
    ceParameterNotAllowed,
    ceUnknown
};

enum TCompileWarning : std::uint8_t {
    cwNone,
    cwResultIgnored,
    cwUndeclaredVariable,
    cwVariableNeverUsed,
    cwVariableNeverRead,
    cwBoolConversion,
    cwConvertToBool,
    cwWriteToParameter,
    cwComplexCompare,
    cwUninitializedVariable,
    cwOldZDeprecated,
    cwUnknown
};

enum TRunTimeError : std::uint8_t { reNone, reArrayIndexOutOfBounds, reIncompatibleArrays, reUnknown };

// Texts by code; an empty text for a code without one.
std::string GetErrorText(int Code);
std::string GetWarningText(int Code);
std::string GetRuntimeErrorText(int Code);

// A compile error: the text of Code, and ": " with Detail when a detail is given.
class ECompileError : public Exception {
public:
    ECompileError(std::uint8_t ACode, const std::string &Detail, const TCompilePosition &APosition);
    ECompileError(std::uint8_t ACode, const TCompilePosition &APosition)
        : ECompileError(ACode, "", APosition) {}
    DECLARE_CLASS_NAME(ECompileError)

    std::uint8_t Code;
    std::int32_t Line;
    std::int32_t Column;
    TCompilePosition Position() const { return {Line, Column}; }
};

// Message kinds and output kinds.
constexpr std::uint8_t mkWarning = 0;
constexpr std::uint8_t mkError = 1;
constexpr std::uint8_t mkOutput = 2;
constexpr std::uint8_t okArrayIndexOutOfBounds = 1;
constexpr std::uint8_t okIncompatibleArrays = 2;
constexpr std::uint8_t okPrint = 3;

class TCompilerMessage : public TObject {
public:
    DECLARE_CLASS_NAME(TCompilerMessage)
    static std::unique_ptr<TCompilerMessage> CreateError(std::uint8_t Code, const std::string &Text,
                                                         const TCompilePosition &Position);
    static std::unique_ptr<TCompilerMessage> CreateWarning(std::uint8_t Code, const std::string &Text,
                                                           const TCompilePosition &Position);
    static std::unique_ptr<TCompilerMessage>
    CreateOutput(const TCompilePosition &Position, std::uint8_t OutputKind, const std::string &EntryName,
                 const std::string &FileName, const std::string &Text);

    std::string EntryName;      // output messages only
    std::uint8_t ErrorCode = 0; // errors only
    std::string FileName;       // output messages only
    std::int32_t Line = 0;
    std::int32_t Column = 0;
    std::uint8_t Kind = mkWarning;
    std::uint8_t OutputKind = 0; // output messages only
    std::string Text;
    std::uint8_t WarningCode = 0; // warnings only
};

// The messages of compiled objects, kept for the threads that ask for them. Each thread follows
// at most one object (SetFormula) and sees the messages of that object only (GetCount,
// GetMessage, Clear and ClearOutput act on the calling thread's list). The interface thread
// follows the formula the user looks at; a render job, a preview or a server thread that compiles
// formulas of its own follows those, so no thread's compile empties, fills or redirects the list
// of another. A message of an object goes to the list of every thread that follows it, whichever
// thread reports it: output of a running formula arrives from the calculation threads. Messages
// of an object that no thread follows are dropped.
//
// Every access to the lists goes through the manager's lock, which observers also take
// (Lock/Unlock) while they read a list with GetCount and GetMessage; observers are called on the
// thread that changed a list, after the change is complete, and read their own thread's list.
//
// A formula is only compared, never used: any object identifies a formula. A thread that follows
// an object stops (ClearFormula) before it ends, and a formula object is forgotten (Forget) when
// it is freed, so a list never outlives both.
class TErrorManager : public TMultiThreadedNotificationManager {
public:
    TErrorManager() = default;
    DECLARE_CLASS_NAME(TErrorManager)

    // The object the calling thread follows; nullptr when none.
    const TObject *GetFormula();
    // The calling thread follows F from now on: its list is emptied and observers are notified,
    // unless F is the one it follows already. nullptr stops following.
    void SetFormula(const TObject *F);
    void ClearFormula() { SetFormula(nullptr); }
    // Whether any thread follows F.
    bool IsFollowed(const TObject *F);
    // No thread follows F any more (F is being freed); observers are notified when one did.
    void Forget(const TObject *F);
    // Empties the calling thread's list without notification.
    void Clear();
    // Removes the output messages from the calling thread's list and notifies.
    void ClearOutput();

    int GetCount();
    // A copy of message I of the calling thread's list: it stays valid whatever a later compile
    // does to the list. Raises EListError for an index outside the list.
    // <windows.h> maps GetMessage to GetMessageA; both spellings reach the same member.
#pragma push_macro("GetMessage")
#undef GetMessage
    TCompilerMessage GetMessage(int I);
    TCompilerMessage GetMessageA(int I) {
        return GetMessage(I);
    }
#pragma pop_macro("GetMessage")

    // The calls below reach the list of every thread that follows F, and nothing else.

    // A compile of F starts: its old messages go (no notification).
    void BeginCompile(const TObject *F);
    // A compile of F ended: observers are notified.
    void EndCompile(const TObject *F);
    // Appends a compile error of F and notifies.
    void AddError(const TObject *F, std::uint8_t Code, const TCompilePosition &Position,
                  const std::string &Text);
    // Inserts a warning of F in position order: before the first message that lies after it or
    // at the same place. No notification (EndCompile notifies).
    void AddWarning(const TObject *F, std::uint8_t Code, const std::string &Text,
                    const TCompilePosition &Position);
    // Output of F's running code (print text, run-time errors), with F's entry and file name.
    // At most RunTimeMessageCount + 1 messages are kept in a list; the next one is "Too many
    // messages." and later output is dropped until the list is cleared.
    void AddOutput(const TObject *F, const TCompilePosition &Position, std::uint8_t OutputKind,
                   const std::string &Text, const std::string &EntryName, const std::string &FileName);

    // The calling thread's output count; -1 once its output limit was reached.
    int GetOutputCount();

private:
    // The list of one thread and the object it follows (never nullptr).
    struct TFollower {
        std::uint32_t Thread = 0;
        const TObject *Formula = nullptr;
        TObjectList<TCompilerMessage> Messages;
        int OutputCount = 0;
    };

    // The configured RunTimeMessageCount (its default without a configuration).
    static int MessageLimit();
    // The calling thread's follower, nullptr when it follows nothing. Under the lock.
    TFollower *Own();
    // Calls Action for every follower of F; returns whether there was one. Under the lock.
    template <class TAction> bool ForFollowers(const TObject *F, TAction Action);

    std::vector<std::unique_ptr<TFollower>> FFollowers;
};

// The global message list; nullptr outside InitializeCompMessages .. FinalizeCompMessages.
TErrorManager *ErrorManager();
void InitializeCompMessages();
void FinalizeCompMessages();
