// The crash library's settings record: what it intercepts, how a report is handled, shown, saved
// and mailed. The program runs with the values below; only test programs change the record, and
// only before the library is installed.
#pragma once

#include <cstdint>
#include <string>

struct TExceptSettings {
    // Interception
    bool CatchExceptions = true;
    bool HookRunTime = true;
    std::int32_t FreezeTimeout = 0; // milliseconds; 0: no freeze watchdog
    bool WebExtensionMode = false;
    bool ResetFpuAfterReport = false;

    // Handling
    bool ShowBox = true;
    bool PauseThreads = true;
    bool AutoSave = false;
    bool AutoMail = false;
    std::uint32_t AutoRestart = 0;
    std::uint32_t AutoClose = 0;
    bool ConsoleOutput = true;
    std::uint32_t ScreenshotMode = 0;

    // Exception box
    std::string BoxTitle = "Orbisk Vantel";
    std::string ErrorText = "An error occured in the application.";
    std::string FrozenText = "The application seems to be frozen.";
    std::string MailCaption = "mail bug report";
    std::string SaveCaption;
    std::string PrintCaption;
    std::string ShowCaption = "show bug report";
    std::string ContinueCaption = "continue application";
    std::string RestartCaption = "restart application";
    std::string CloseCaption = "close application";
    int DefaultButton = 4;
    bool AutoShowDetails = false;
    bool CopyReportOnShow = true;
    bool AutoContinue = false;
    std::uint32_t AutoActionSeconds = 60;
    bool OwnerDrawnButtons = true;

    // Report actions
    std::string MailRecipient = "Orbisk Vantel support <support@orbisk-vantel.example>";
    std::string MailSubject = "Bug report";
    bool AttachReportFile = false;
    bool DeleteAttachmentsAfterSending = false;
    bool SendDirectly = false;
    bool SendViaServer = false;
    bool UseMapi = true;
    bool UseMailto = true;
    std::string SmtpServer;
    std::uint16_t SmtpPort = 25;
    std::string SmtpAccount;
    std::string SmtpPassword; // enciphered; deciphered once at installation
    std::string MailSuccessText = "The mail was sent successfully.";
    std::string MailFailureText = "Sorry, sending the mail didn't work.";
    std::string ReportFileName = "bugreport.txt";
    std::uint32_t ReportFileLimit = 50000;
};

TExceptSettings &ExceptSettings();
