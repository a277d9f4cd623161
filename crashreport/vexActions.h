// What can be done with a finished bug report: append it to the report file, print it, copy it to
// the clipboard, or mail it (SMTP through a server or to each recipient's own mail server, the
// system's MAPI client, or a "mailto:" command for the registered mail program).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The program file's name without folder and extension ("%appname%" in the settings' texts).
std::string ProgramBaseName();
// The report file's full name: the setting with "%appname%" replaced, in the program's folder when
// it names no folder.
std::string ReportFilePath();
bool SaveBugReport(const std::string &Report, HWND Owner, bool Unattended);
bool SaveBugReportAs(const std::string &Report, HWND Owner);
bool AutoSaveBugReport(const std::string &Report);
// Appends Report and CR LF CR LF to the file and keeps it below Limit bytes (0: only this report),
// cutting only where a report starts.
bool AppendReportToFile(const std::string &FileName, const std::string &Report, std::uint32_t Limit);
// Where a file's text of more than Limit bytes is cut: the first report start behind which less
// than three quarters of Limit remain, else the last report's start; 0 when there is none.
std::size_t ReportTrimPoint(const std::string &Text, std::uint32_t Limit);

bool PrintBugReport(const std::string &Report, HWND Owner);

// Puts Text on the clipboard as CF_TEXT; leaves the clipboard as it was when it cannot.
void CopyToClipboard(const std::string &Text);

enum class TMailResult { NotSent = 0, Sent = 1, Cancelled = 2 };
TMailResult MailBugReport(const std::string &Report, const std::string &Screenshot, HWND Owner,
                          bool Unattended);
bool IsInternetConnected();

// "mailto:" + recipients + "?subject=" + subject + "&body=" + body, each part percent-encoded
// (every octet but the unreserved characters, CR LF as "%0D%0A").
std::string MailtoAddress(const std::string &Recipients, const std::string &Subject, const std::string &Body);
std::string PercentEncode(const std::string &Text, bool KeepAddressCharacters);
// The mail program's command with the address put in for "%1" (or appended), cut below 32767
// characters without splitting an escape.
std::string MailtoCommand(const std::string &Command, const std::string &Address);

// The pieces of an SMTP mail, for the conversation and its tests.
// Every line that starts with '.' gets a second one.
std::string DotStuffed(const std::string &Body);
// "=?ISO-8859-1?Q?" + every character but ASCII letters and digits as "=XX" + "?=".
std::string EncodedSubject(const std::string &Subject);
// "Fri, 11 Dec 2026 08:30:00 UT" style date of the mail header: "11 Dec 2026 08:30:00 UT".
std::string MailDateText(const SYSTEMTIME &Time);
// "<a@b>" from "Name <a@b>" or "a@b".
std::string AngleAddress(const std::string &Address);
std::vector<std::string> SplitRecipients(const std::string &Recipients);

// Name-server look-up of a domain's mail exchanger (UDP, no recursion wanted): the name servers of
// the domain's last three labels are found from the root servers down, then asked for the mail
// exchanger. Port is 53 but for tests.
struct TDnsRecord {
    std::string Name;
    std::uint16_t Type = 0;
    std::string Data; // a host name (NS, MX, CNAME) or a dotted address (A)
};
struct TDnsReply {
    std::vector<TDnsRecord> Answers, Authority, Additional;
};
inline constexpr std::uint16_t DnsTypeA = 1, DnsTypeNS = 2, DnsTypeMX = 15;
std::string DnsQuery(const std::string &Name, std::uint16_t Type);
// False for a message that is cut short, malformed or not a good answer (a non-zero response code).
bool ParseDnsReply(const std::string &Message, TDnsReply &Reply);
std::string MailExchangerOf(const std::string &Domain, const std::vector<std::string> &RootServers,
                            std::uint16_t Port = 53);

struct TSmtpMail {
    std::string Recipients; // separated by ',' or ';'
    std::string Sender;
    std::string Subject;
    std::string Body;
    std::string Attachments; // separated by '|'
};
// One conversation through Server (a name or a dotted address) at Port; with an account or a
// password, the server must offer AUTH LOGIN. Without a server, one conversation per recipient with
// its domain's mail exchanger. True when the server accepted the mail.
bool SendSmtpMail(const TSmtpMail &Mail, const std::string &Server, std::uint16_t Port,
                  const std::string &Account, const std::string &Password);
