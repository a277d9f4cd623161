#include "vexActions.h"

#include <commdlg.h>
#include <mapi.h>
#include <winsock2.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "SysUtils.h"
#include "vexCrypt.h"
#include "vexSettings.h"
#include "vexStrings.h"
#include "vexThreads.h"
#include "vexTools.h"

namespace {

constexpr const char *CRLF = "\r\n";
// The first header label of every report, as it stands at a line start.
constexpr const char *ReportStartLabel = "date/time         : ";
constexpr const char *Boundary = "vexcrashreport SMTP Boundary";
constexpr DWORD ReplyWaitMs = 7000;
constexpr std::size_t SendPiece = 1024;
constexpr std::size_t MaxCommandLength = 32766;

class THandle {
public:
    explicit THandle(HANDLE Handle) : FHandle(Handle) {}
    ~THandle() {
        if (FHandle && FHandle != INVALID_HANDLE_VALUE)
            CloseHandle(FHandle);
    }
    THandle(const THandle &) = delete;
    THandle &operator=(const THandle &) = delete;
    HANDLE Get() const { return FHandle; }
    bool Valid() const { return FHandle && FHandle != INVALID_HANDLE_VALUE; }

private:
    HANDLE FHandle;
};

std::string ProgramPath() {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string Replaced(std::string Text, const std::string &What, const std::string &With) {
    ReplaceSubstring(Text, What, With, true);
    return Text;
}

std::string Trimmed(const std::string &Text) {
    const std::size_t first = Text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return Text.substr(first, Text.find_last_not_of(' ') - first + 1);
}

bool WriteAll(HANDLE File, const std::string &Text) {
    std::size_t done = 0;
    while (done < Text.size()) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(Text.size() - done, 1 << 20));
        if (!WriteFile(File, Text.data() + done, piece, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// --- SMTP ----------------------------------------------------------------------------------

class TSmtpConnection {
public:
    ~TSmtpConnection() {
        if (FSocket != INVALID_SOCKET)
            closesocket(FSocket);
    }
    bool Connect(const std::string &Server, std::uint16_t Port) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(Port);
        address.sin_addr.s_addr = inet_addr(Server.c_str());
        if (address.sin_addr.s_addr == INADDR_NONE) {
            const hostent *host = gethostbyname(Server.c_str());
            if (!host || host->h_addrtype != AF_INET || !host->h_addr_list[0])
                return false;
            std::memcpy(&address.sin_addr, host->h_addr_list[0], 4);
        }
        FSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        return FSocket != INVALID_SOCKET &&
               connect(FSocket, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0;
    }
    bool Send(const std::string &Text) {
        for (std::size_t done = 0; done < Text.size();) {
            const int piece = static_cast<int>(std::min(Text.size() - done, SendPiece));
            const int sent = send(FSocket, Text.data() + done, piece, 0);
            if (sent <= 0)
                return false;
            done += static_cast<std::size_t>(sent);
        }
        return true;
    }
    bool SendLine(const std::string &Line) { return Send(Line + CRLF); }
    // Reads one reply (all its lines) and checks its code; each read waits at most 7 s.
    bool Expect(const char *Code, std::vector<std::string> *Lines = nullptr) {
        for (;;) {
            std::string line;
            if (!ReadLine(line))
                return false;
            if (Lines)
                Lines->push_back(line);
            if (line.compare(0, 3, Code) != 0)
                return false;
            if (line.size() < 4 || line[3] != '-')
                return true;
        }
    }

private:
    bool ReadLine(std::string &Line) {
        for (;;) {
            const std::size_t end = FBuffer.find("\r\n");
            if (end != std::string::npos) {
                Line = FBuffer.substr(0, end);
                FBuffer.erase(0, end + 2);
                return true;
            }
            if (FBuffer.size() > 65536)
                return false;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(FSocket, &readable);
            timeval wait = {static_cast<long>(ReplyWaitMs / 1000), 0};
            if (select(0, &readable, nullptr, nullptr, &wait) != 1)
                return false;
            char buffer[512];
            const int got = recv(FSocket, buffer, sizeof(buffer), 0);
            if (got <= 0)
                return false;
            FBuffer.append(buffer, static_cast<std::size_t>(got));
        }
    }
    SOCKET FSocket = INVALID_SOCKET;
    std::string FBuffer;
};

// A reply line of EHLO that offers LOGIN: "250-AUTH LOGIN PLAIN" or "250-AUTH=LOGIN".
bool OffersLogin(const std::string &Line) {
    if (Line.size() < 4)
        return false;
    std::string text = Line.substr(4);
    if (text.compare(0, 5, "AUTH ") != 0 && text.compare(0, 5, "AUTH=") != 0)
        return false;
    std::replace(text.begin(), text.end(), '=', ' ');
    return (text + " ").find(" LOGIN ") != std::string::npos;
}

std::string AttachmentPart(const std::string &Path) {
    THandle file(
        CreateFileA(Path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.Valid())
        return "";
    const std::string name = FileNameOfPath(Path);
    const bool png = name.size() >= 4 && EqualIgnoreCase(name.substr(name.size() - 4), ".png");
    std::string part = std::string("--") + Boundary + CRLF +
                       "Content-Type: " + (png ? "image/png" : "application/octet-stream") + "; name=\"" +
                       name + "\"" + CRLF + "Content-Transfer-Encoding: base64" + CRLF +
                       "Content-Disposition: attachment; filename=\"" + name + "\"" + CRLF + CRLF;
    for (;;) {
        char piece[57];
        DWORD got = 0;
        if (!ReadFile(file.Get(), piece, sizeof(piece), &got, nullptr))
            return part + CRLF; // a read error gives the attachment up
        if (got == 0)
            break;
        part += Base64Encode(piece, got) + CRLF;
    }
    return part;
}

bool Conversation(const TSmtpMail &Mail, const std::vector<std::string> &Recipients,
                  const std::string &Server, std::uint16_t Port, const std::string &Account,
                  const std::string &Password) {
    TSmtpConnection smtp;
    if (Server.empty() || !smtp.Connect(Server, Port) || !smtp.Expect("220"))
        return false;
    const std::string computer = ComputerName();
    std::vector<std::string> lines;
    bool loginOffered = false;
    if (smtp.SendLine("EHLO " + computer) && smtp.Expect("250", &lines)) {
        loginOffered = std::any_of(lines.begin(), lines.end(), OffersLogin);
    } else if (!smtp.SendLine("HELO " + computer) || !smtp.Expect("250")) {
        return false;
    }
    const std::string sender = Mail.Sender.empty() ? Mail.Recipients : Mail.Sender;
    if (!Account.empty() || !Password.empty()) {
        if (!loginOffered || !smtp.SendLine("AUTH LOGIN") || !smtp.Expect("334") ||
            !smtp.SendLine(Base64EncodeText(Account)) || !smtp.Expect("334") ||
            !smtp.SendLine(Base64EncodeText(Password)) || !smtp.Expect("235"))
            return false;
    }
    if (!smtp.SendLine("MAIL FROM:" + AngleAddress(sender)) || !smtp.Expect("250"))
        return false;
    int accepted = 0;
    for (const std::string &recipient : Recipients) {
        if (!smtp.SendLine("RCPT TO:" + AngleAddress(recipient)))
            return false;
        if (smtp.Expect("250"))
            ++accepted;
    }
    if (accepted == 0 || (Mail.Subject.empty() && Mail.Body.empty()))
        return false;
    if (!smtp.SendLine("DATA") || !smtp.Expect("354"))
        return false;
    SYSTEMTIME now;
    GetSystemTime(&now);
    std::string data = "DATE: " + MailDateText(now) + CRLF + "TO: " + Mail.Recipients + CRLF +
                       "FROM: " + sender + CRLF + "SUBJECT: " + EncodedSubject(Mail.Subject) + CRLF;
    data += std::string("MIME-Version: 1.0") + CRLF + "Content-Type: multipart/mixed; boundary=\"" +
            Boundary + "\"" + CRLF + CRLF + "This is a multi-part message in MIME format." + CRLF + CRLF +
            "--" + Boundary + CRLF + "Content-Type: text/plain; charset=\"iso-8859-1\"" + CRLF +
            "Content-Transfer-Encoding: 8bit" + CRLF + CRLF;
    data += DotStuffed(Mail.Body) + CRLF;
    std::size_t start = 0;
    while (start <= Mail.Attachments.size() && !Mail.Attachments.empty()) {
        const std::size_t end = std::min(Mail.Attachments.find('|', start), Mail.Attachments.size());
        if (end > start)
            data += AttachmentPart(Mail.Attachments.substr(start, end - start));
        start = end + 1;
    }
    data += std::string("--") + Boundary + "--" + CRLF + CRLF;
    if (!smtp.Send(data) || !smtp.Send(std::string(CRLF) + "." + CRLF) || !smtp.Expect("250"))
        return false;
    if (smtp.SendLine("RSET"))
        smtp.Expect("250");
    if (smtp.SendLine("QUIT"))
        smtp.Expect("221");
    return true;
}

// --- Name servers ---------------------------------------------------------------------------

constexpr DWORD DnsWaitMs = 5000;
// Two of the public root name servers.
const std::vector<std::string> RootServers = {"a.root-servers.net", "b.root-servers.net"};

bool ResolveHost(const std::string &Host, in_addr &Address) {
    Address.s_addr = inet_addr(Host.c_str());
    if (Address.s_addr != INADDR_NONE)
        return true;
    const hostent *host = gethostbyname(Host.c_str());
    if (!host || host->h_addrtype != AF_INET || !host->h_addr_list[0])
        return false;
    std::memcpy(&Address, host->h_addr_list[0], 4);
    return true;
}

// Reads the 16-bit big-endian value at At, when it lies inside Message.
bool ReadWord(const std::string &Message, std::size_t At, std::uint16_t &Value) {
    if (At + 2 > Message.size())
        return false;
    Value = static_cast<std::uint16_t>(static_cast<unsigned char>(Message[At]) << 8 |
                                       static_cast<unsigned char>(Message[At + 1]));
    return true;
}

// A name of length-prefixed labels at At, following compression pointers (at most 32 of them, so that
// a loop of pointers ends). End receives the position behind the name where it first stood.
bool ReadName(const std::string &Message, std::size_t At, std::string &Name, std::size_t &End) {
    Name.clear();
    bool jumped = false;
    for (int hops = 0; hops < 32;) {
        if (At >= Message.size())
            return false;
        const unsigned length = static_cast<unsigned char>(Message[At]);
        if ((length & 0xC0) == 0xC0) {
            std::uint16_t pointer = 0;
            if (!ReadWord(Message, At, pointer))
                return false;
            if (!jumped)
                End = At + 2;
            jumped = true;
            At = pointer & 0x3FFF;
            ++hops;
            continue;
        }
        if (length & 0xC0)
            return false;
        if (length == 0) {
            if (!jumped)
                End = At + 1;
            return true;
        }
        if (At + 1 + length > Message.size() || Name.size() + length + 1 > 255)
            return false;
        Name += (Name.empty() ? "" : ".") + Message.substr(At + 1, length);
        At += 1 + length;
    }
    return false;
}

bool ReadRecords(const std::string &Message, std::size_t &At, unsigned Count,
                 std::vector<TDnsRecord> &Records) {
    for (unsigned i = 0; i < Count; ++i) {
        TDnsRecord record;
        std::uint16_t type = 0, length = 0;
        if (!ReadName(Message, At, record.Name, At) || !ReadWord(Message, At, type) ||
            !ReadWord(Message, At + 8, length) || At + 10 + length > Message.size())
            return false;
        record.Type = type;
        const std::size_t data = At + 10;
        std::size_t end = 0;
        if (type == DnsTypeA && length == 4) {
            record.Data = std::to_string(static_cast<unsigned char>(Message[data])) + "." +
                          std::to_string(static_cast<unsigned char>(Message[data + 1])) + "." +
                          std::to_string(static_cast<unsigned char>(Message[data + 2])) + "." +
                          std::to_string(static_cast<unsigned char>(Message[data + 3]));
        } else if (type == DnsTypeMX && length > 2) {
            if (!ReadName(Message, data + 2, record.Data, end)) // behind the preference
                return false;
        } else if (type == DnsTypeNS || type == 5) {
            if (!ReadName(Message, data, record.Data, end))
                return false;
        }
        Records.push_back(record);
        At = data + length;
    }
    return true;
}

// Sends the question to every server and takes the first good reply within 5 s.
bool AskServers(const std::vector<std::string> &Servers, const std::string &Name, std::uint16_t Type,
                std::uint16_t Port, TDnsReply &Reply) {
    SOCKET udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (udp == INVALID_SOCKET)
        return false;
    sockaddr_in any = {};
    any.sin_family = AF_INET;
    bind(udp, reinterpret_cast<const sockaddr *>(&any), sizeof(any));
    const std::string query = DnsQuery(Name, Type);
    for (const std::string &server : Servers) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(Port);
        if (ResolveHost(server, address.sin_addr))
            sendto(udp, query.data(), static_cast<int>(query.size()), 0,
                   reinterpret_cast<const sockaddr *>(&address), sizeof(address));
    }
    bool answered = false;
    const DWORD start = GetTickCount();
    while (!answered) {
        const DWORD spent = TicksSince(start);
        if (spent >= DnsWaitMs)
            break;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(udp, &readable);
        const DWORD left = DnsWaitMs - spent;
        timeval wait = {static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) != 1)
            break;
        char buffer[4096];
        const int got = recv(udp, buffer, sizeof(buffer), 0);
        if (got <= 0)
            break;
        Reply = TDnsReply();
        answered = ParseDnsReply(std::string(buffer, static_cast<std::size_t>(got)), Reply);
    }
    closesocket(udp);
    return answered;
}

std::vector<std::string> ServersOf(const TDnsReply &Reply, bool PreferAddresses) {
    std::vector<std::string> servers;
    if (PreferAddresses)
        for (const TDnsRecord &record : Reply.Additional)
            if (record.Type == DnsTypeA)
                servers.push_back(record.Data);
    if (servers.empty()) {
        // Name servers answer a question for a zone below theirs with a referral, whose name
        // servers stand in the authority section instead of the answers.
        const std::vector<TDnsRecord> &records = Reply.Answers.empty() ? Reply.Authority : Reply.Answers;
        for (const TDnsRecord &record : records)
            if (record.Type == DnsTypeNS && !record.Data.empty())
                servers.push_back(record.Data);
    }
    return servers;
}

std::string FirstExchanger(const std::vector<std::string> &Servers, const std::string &Domain,
                           std::uint16_t Port) {
    TDnsReply reply;
    if (!AskServers(Servers, Domain, DnsTypeMX, Port, reply))
        return "";
    for (const TDnsRecord &record : reply.Answers)
        if (record.Type == DnsTypeMX && !record.Data.empty())
            return record.Data;
    return "";
}

class TWinsock {
public:
    TWinsock() { FStarted = WSAStartup(MAKEWORD(1, 1), &FData) == 0; }
    ~TWinsock() {
        if (FStarted)
            WSACleanup();
    }
    bool Started() const { return FStarted; }

private:
    WSADATA FData;
    bool FStarted;
};

// --- MAPI and mailto -----------------------------------------------------------------------

TMailResult SendMapi(const std::string &Recipients, const std::string &Subject, const std::string &Body,
                     const std::string &Attachments, HWND Owner, bool Unattended) {
    if (IsSystemLockHeld())
        return TMailResult::NotSent;
    HMODULE mapi = LoadLibraryA("mapi32.dll");
    if (!mapi)
        return TMailResult::NotSent;
    auto send =
        reinterpret_cast<LPMAPISENDMAIL>(reinterpret_cast<void *>(GetProcAddress(mapi, "MAPISendMail")));
    TMailResult result = TMailResult::NotSent;
    if (send) {
        std::vector<std::string> names = SplitRecipients(Recipients);
        std::vector<MapiRecipDesc> recipients(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            recipients[i] = {};
            recipients[i].ulRecipClass = MAPI_TO;
            recipients[i].lpszName = names[i].data();
        }
        std::vector<std::string> files;
        for (std::size_t start = 0; start < Attachments.size();) {
            const std::size_t end = std::min(Attachments.find('|', start), Attachments.size());
            if (end > start)
                files.push_back(Attachments.substr(start, end - start));
            start = end + 1;
        }
        std::vector<MapiFileDesc> fileDescs(files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            fileDescs[i] = {};
            fileDescs[i].nPosition = 0xFFFFFFFF;
            fileDescs[i].lpszPathName = files[i].data();
        }
        std::string subject = Subject, body = Body;
        MapiMessage message = {};
        message.lpszSubject = subject.data();
        message.lpszNoteText = body.data();
        message.nRecipCount = static_cast<ULONG>(recipients.size());
        message.lpRecips = recipients.empty() ? nullptr : recipients.data();
        message.nFileCount = static_cast<ULONG>(fileDescs.size());
        message.lpFiles = fileDescs.empty() ? nullptr : fileDescs.data();
        const FLAGS flags = Unattended && !names.empty() ? 0 : (MAPI_LOGON_UI | MAPI_DIALOG);
        const bool topMost = Owner && (GetWindowLongA(Owner, GWL_EXSTYLE) & WS_EX_TOPMOST);
        if (topMost)
            SetWindowPos(Owner, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        // Mail clients start threads of their own and may need the program's windows.
        SuspendOtherThreads(false, false);
        const ULONG answer = send(0, reinterpret_cast<ULONG_PTR>(Owner), &message, flags, 0);
        SuspendOtherThreads(true, false);
        if (topMost)
            SetWindowPos(Owner, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (answer == SUCCESS_SUCCESS)
            result = TMailResult::Sent;
        else if (answer == MAPI_USER_ABORT)
            result = TMailResult::Cancelled;
    }
    FreeLibrary(mapi);
    return result;
}

bool StartMailto(const std::string &Address) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char value[4096] = {};
    DWORD size = sizeof(value) - 1, type = 0;
    const bool read = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(value),
                                       &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!read)
        return false;
    char expanded[8192] = {};
    if (!ExpandEnvironmentStringsA(value, expanded, sizeof(expanded)))
        return false;
    std::string command = MailtoCommand(expanded, Address);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

std::string ProgramFolder() {
    return FolderOfPath(ProgramPath());
}

} // namespace

std::string ProgramBaseName() {
    std::string program = FileNameOfPath(ProgramPath());
    if (const std::size_t dot = program.rfind('.'); dot != std::string::npos)
        program.erase(dot);
    return program;
}

std::string ReportFilePath() {
    std::string name = Replaced(ExceptSettings().ReportFileName, "%appname%", ProgramBaseName());
    const bool hasFolder = name.size() > 2 && (name[0] == '\\' || name[1] == ':');
    return hasFolder ? name : ProgramFolder() + name;
}

std::size_t ReportTrimPoint(const std::string &Text, std::uint32_t Limit) {
    std::size_t last = 0;
    bool any = false;
    const std::size_t keep = static_cast<std::size_t>(Limit) * 3 / 4;
    for (std::size_t at = Text.find(ReportStartLabel); at != std::string::npos;
         at = Text.find(ReportStartLabel, at + 1)) {
        if (at != 0 && Text[at - 1] != '\n')
            continue; // the label inside a report's text is no report start
        if (Text.size() - at < keep)
            return at;
        last = at;
        any = true;
    }
    return any ? last : 0;
}

bool AppendReportToFile(const std::string &FileName, const std::string &Report, std::uint32_t Limit) {
    THandle file(CreateFileA(FileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return false;
    if (Limit == 0)
        SetEndOfFile(file.Get());
    if (SetFilePointer(file.Get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER ||
        !WriteAll(file.Get(), Report + CRLF + CRLF))
        return false;
    const DWORD size = GetFileSize(file.Get(), nullptr);
    if (Limit > 0 && size != INVALID_FILE_SIZE && size > Limit) {
        std::string text(size, '\0');
        DWORD got = 0;
        SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
        if (!ReadFile(file.Get(), text.data(), size, &got, nullptr) || got != size)
            return true; // the report is written; the file stays long
        if (const std::size_t cut = ReportTrimPoint(text, Limit); cut > 0) {
            SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
            if (WriteAll(file.Get(), text.substr(cut)))
                SetEndOfFile(file.Get());
        }
    }
    return true;
}

bool SaveBugReport(const std::string &Report, HWND Owner, bool Unattended) {
    std::string path = ReportFilePath();
    const std::string name = ExceptSettings().ReportFileName;
    const bool hasFolder = name.size() > 2 && (name[0] == '\\' || name[1] == ':');
    if (!hasFolder && !Unattended) {
        if (IsSystemLockHeld()) {
            MessageBeep(0);
            return false;
        }
        char chosen[MAX_PATH + 1] = {};
        std::strncpy(chosen, FileNameOfPath(path).c_str(), MAX_PATH);
        const std::string folder = ProgramFolder();
        const std::string title = ExceptSettings().SaveCaption;
        OPENFILENAMEA dialog = {};
        dialog.lStructSize = sizeof(dialog);
        dialog.hwndOwner = Owner;
        dialog.lpstrFilter = "*.txt\0*.txt\0";
        dialog.lpstrFile = chosen;
        dialog.nMaxFile = MAX_PATH;
        dialog.lpstrInitialDir = folder.c_str();
        dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
        dialog.Flags = OFN_HIDEREADONLY | OFN_NOREADONLYRETURN;
        if (!GetSaveFileNameA(&dialog))
            return false;
        path = chosen;
    }
    return AppendReportToFile(path, Report, ExceptSettings().ReportFileLimit);
}

bool SaveBugReportAs(const std::string &Report, HWND Owner) {
    return SaveBugReport(Report, Owner, false);
}

bool AutoSaveBugReport(const std::string &Report) {
    return SaveBugReport(Report, nullptr, true);
}

bool PrintBugReport(const std::string &Report, HWND Owner) {
    if (IsSystemLockHeld()) {
        MessageBeep(0);
        return false;
    }
    PRINTDLGA dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = Owner;
    dialog.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION | PD_USEDEVMODECOPIESANDCOLLATE |
                   PD_DISABLEPRINTTOFILE | PD_HIDEPRINTTOFILE | PD_NONETWORKBUTTON;
    if (!PrintDlgA(&dialog) || !dialog.hDC)
        return false;
    HDC dc = dialog.hDC;
    const int dpiX = GetDeviceCaps(dc, LOGPIXELSX), dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    const int offsetX = GetDeviceCaps(dc, PHYSICALOFFSETX), offsetY = GetDeviceCaps(dc, PHYSICALOFFSETY);
    const int width = GetDeviceCaps(dc, PHYSICALWIDTH), height = GetDeviceCaps(dc, PHYSICALHEIGHT);
    auto mm = [](int millimetres, int dpi) { return MulDiv(millimetres, dpi * 10, 254); };
    RECT page = {mm(20, dpiX) - offsetX, mm(10, dpiY) - offsetY, width - mm(10, dpiX) - offsetX,
                 height - mm(10, dpiY) - offsetY};
    HFONT font = CreateFontA(-MulDiv(8, dpiY, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0,
                             FIXED_PITCH, "Courier New");
    HGDIOBJ oldFont = SelectObject(dc, font);
    const std::string title =
        ExceptSettings().PrintCaption.empty() ? "bug report" : ExceptSettings().PrintCaption;
    DOCINFOA document = {};
    document.cbSize = sizeof(document);
    document.lpszDocName = title.c_str();
    bool printed = StartDocA(dc, &document) > 0 && StartPage(dc) > 0;
    int y = page.top;
    for (std::size_t start = 0; printed && start <= Report.size();) {
        std::size_t end = Report.find(CRLF, start);
        if (end == std::string::npos)
            end = Report.size();
        std::string line = Report.substr(start, end - start);
        if (line.empty())
            line = " ";
        RECT box = {page.left, 0, page.right, 0};
        DrawTextA(dc, line.c_str(), static_cast<int>(line.size()), &box,
                  DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        const int lineHeight = box.bottom - box.top;
        if (y + lineHeight > page.bottom && y > page.top) {
            printed = EndPage(dc) > 0 && StartPage(dc) > 0;
            y = page.top;
        }
        box = {page.left, y, page.right, y + lineHeight};
        DrawTextA(dc, line.c_str(), static_cast<int>(line.size()), &box, DT_WORDBREAK | DT_NOPREFIX);
        y += lineHeight;
        start = end + 2;
    }
    if (printed) {
        EndPage(dc);
        EndDoc(dc);
    } else {
        AbortDoc(dc);
    }
    SelectObject(dc, oldFont);
    DeleteObject(font);
    DeleteDC(dc);
    if (dialog.hDevMode)
        GlobalFree(dialog.hDevMode);
    if (dialog.hDevNames)
        GlobalFree(dialog.hDevNames);
    return printed;
}

void CopyToClipboard(const std::string &Text) {
    // The memory first: when it cannot be had, the clipboard stays as it was.
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, Text.size() + 1);
    if (!memory)
        return;
    if (void *bytes = GlobalLock(memory)) {
        std::memcpy(bytes, Text.c_str(), Text.size() + 1);
        GlobalUnlock(memory);
    }
    if (!OpenClipboard(nullptr)) {
        GlobalFree(memory);
        return;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_TEXT, memory))
        GlobalFree(memory);
    CloseClipboard();
}

bool IsInternetConnected() {
    HMODULE wininet = LoadLibraryA("wininet.dll");
    if (!wininet)
        return false;
    using TGetState = BOOL(WINAPI *)(DWORD *, DWORD);
    auto getState = reinterpret_cast<TGetState>(
        reinterpret_cast<void *>(GetProcAddress(wininet, "InternetGetConnectedState")));
    DWORD flags = 0;
    const bool connected = getState && getState(&flags, 0);
    FreeLibrary(wininet);
    return connected;
}

std::string PercentEncode(const std::string &Text, bool KeepAddressCharacters) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : Text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved || (KeepAddressCharacters && (c == '@' || c == ',')))
            out.push_back(static_cast<char>(c));
        else
            out += {'%', digits[c >> 4], digits[c & 15]};
    }
    return out;
}

std::string MailtoAddress(const std::string &Recipients, const std::string &Subject,
                          const std::string &Body) {
    // A mailto "to" holds bare addresses, separated by commas.
    std::string to;
    for (const std::string &recipient : SplitRecipients(Recipients)) {
        const std::string angle = AngleAddress(recipient);
        to += (to.empty() ? "" : ",") + PercentEncode(angle.substr(1, angle.size() - 2), true);
    }
    return "mailto:" + to + "?subject=" + PercentEncode(Subject, false) +
           "&body=" + PercentEncode(Body, false);
}

std::string MailtoCommand(const std::string &Command, const std::string &Address) {
    std::string command = Command;
    if (command.find("%1") != std::string::npos)
        command = Replaced(command, "%1", Address);
    else
        command += (command.empty() || command.back() == ' ' ? "" : " ") + Address;
    if (command.size() > MaxCommandLength) {
        std::size_t cut = MaxCommandLength;
        if (command[cut - 1] == '%')
            cut -= 1;
        else if (command[cut - 2] == '%')
            cut -= 2;
        command.resize(cut);
    }
    return command;
}

std::string DnsQuery(const std::string &Name, std::uint16_t Type) {
    // Id 1, no flags (no recursion wanted), one question.
    std::string query("\x00\x01\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12);
    for (std::size_t start = 0; start < Name.size();) {
        const std::size_t end = std::min(Name.find('.', start), Name.size());
        const std::size_t length = std::min<std::size_t>(end - start, 63);
        query.push_back(static_cast<char>(length));
        query += Name.substr(start, length);
        start = end + 1;
    }
    query.push_back('\0');
    query += {static_cast<char>(Type >> 8), static_cast<char>(Type & 0xFF), '\0', '\1'};
    return query;
}

bool ParseDnsReply(const std::string &Message, TDnsReply &Reply) {
    std::uint16_t flags = 0, questions = 0, answers = 0, authority = 0, additional = 0;
    if (!ReadWord(Message, 2, flags) || !ReadWord(Message, 4, questions) || !ReadWord(Message, 6, answers) ||
        !ReadWord(Message, 8, authority) || !ReadWord(Message, 10, additional))
        return false;
    if (!(flags & 0x8000) || (flags & 0x000F) != 0)
        return false; // no reply, or an error
    std::size_t at = 12;
    for (unsigned i = 0; i < questions; ++i) {
        std::string name;
        if (!ReadName(Message, at, name, at) || at + 4 > Message.size())
            return false;
        at += 4;
    }
    return ReadRecords(Message, at, answers, Reply.Answers) &&
           ReadRecords(Message, at, authority, Reply.Authority) &&
           ReadRecords(Message, at, additional, Reply.Additional);
}

std::string MailExchangerOf(const std::string &Domain, const std::vector<std::string> &RootServers,
                            std::uint16_t Port) {
    std::string domain = Domain;
    if (!domain.empty() && domain.back() == '>')
        domain.pop_back();
    std::string base = domain;
    if (std::count(domain.begin(), domain.end(), '.') >= 3) {
        std::size_t at = domain.size();
        for (int dots = 0; dots < 3; ++dots)
            at = domain.rfind('.', at - 1);
        base = domain.substr(at + 1);
    }
    TDnsReply reply;
    if (!AskServers(RootServers, base, DnsTypeNS, Port, reply))
        return "";
    for (int more = 0; more < 10 && reply.Additional.empty(); ++more) {
        const std::vector<std::string> servers = ServersOf(reply, false);
        TDnsReply next;
        if (servers.empty() || !AskServers(servers, base, DnsTypeNS, Port, next))
            break;
        reply = next;
    }
    const std::vector<std::string> servers = ServersOf(reply, true);
    if (servers.empty())
        return "";
    std::string exchanger = FirstExchanger(servers, domain, Port);
    if (exchanger.empty() && domain != base)
        exchanger = FirstExchanger(servers, base, Port);
    return exchanger;
}

std::string DotStuffed(const std::string &Body) {
    std::string out;
    out.reserve(Body.size() + 16);
    bool lineStart = true;
    for (char c : Body) {
        if (lineStart && c == '.')
            out.push_back('.');
        out.push_back(c);
        lineStart = c == '\n';
    }
    return out;
}

std::string EncodedSubject(const std::string &Subject) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "=?ISO-8859-1?Q?";
    for (unsigned char c : Subject) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            out.push_back(static_cast<char>(c));
        else
            out += {'=', digits[c >> 4], digits[c & 15]};
    }
    return out + "?=";
}

std::string MailDateText(const SYSTEMTIME &Time) {
    static const char *const months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int month = std::clamp<int>(Time.wMonth, 1, 12) - 1;
    return IntegerText(static_cast<std::uint32_t>(Time.wDay)) + " " + months[month] + " " +
           IntegerText(static_cast<std::uint32_t>(Time.wYear)) + " " +
           IntegerText(static_cast<std::uint32_t>(Time.wHour), 2, '0') + ":" +
           IntegerText(static_cast<std::uint32_t>(Time.wMinute), 2, '0') + ":" +
           IntegerText(static_cast<std::uint32_t>(Time.wSecond), 2, '0') + " UT";
}

std::string AngleAddress(const std::string &Address) {
    const std::string text = Trimmed(Address);
    const std::size_t open = text.find('<');
    if (open != std::string::npos) {
        const std::size_t close = text.find('>', open);
        return text.substr(open, close == std::string::npos ? std::string::npos : close - open + 1);
    }
    return "<" + text + ">";
}

std::vector<std::string> SplitRecipients(const std::string &Recipients) {
    std::vector<std::string> parts;
    std::string text = Recipients;
    std::replace(text.begin(), text.end(), ';', ',');
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        if (std::string part = Trimmed(text.substr(start, end - start)); !part.empty())
            parts.push_back(part);
        start = end + 1;
    }
    return parts;
}

bool SendSmtpMail(const TSmtpMail &Mail, const std::string &Server, std::uint16_t Port,
                  const std::string &Account, const std::string &Password) {
    TWinsock winsock;
    if (!winsock.Started())
        return false;
    const std::vector<std::string> recipients = SplitRecipients(Mail.Recipients);
    if (recipients.empty())
        return false;
    if (!Server.empty())
        return Conversation(Mail, recipients, Server, Port, Account, Password);
    // One conversation per recipient, with the mail exchanger of its domain.
    bool sent = false;
    for (const std::string &recipient : recipients) {
        const std::string address = AngleAddress(recipient);
        const std::size_t at = address.find('@');
        if (at == std::string::npos)
            continue;
        const std::string exchanger = MailExchangerOf(address.substr(at + 1), RootServers);
        if (!exchanger.empty() && Conversation(Mail, {recipient}, exchanger, Port, Account, Password))
            sent = true;
    }
    return sent;
}

TMailResult MailBugReport(const std::string &Report, const std::string &Screenshot, HWND Owner,
                          bool Unattended) {
    const TExceptSettings &settings = ExceptSettings();
    std::string recipients = settings.MailRecipient;
    std::replace(recipients.begin(), recipients.end(), ';', ',');
    const std::vector<std::string> list = SplitRecipients(recipients);
    const std::string recipient = list.empty() ? "" : "vexExcept " + AngleAddress(list.front());
    std::string attachments;
    if (settings.AttachReportFile && GetFileAttributesA(ReportFilePath().c_str()) != INVALID_FILE_ATTRIBUTES)
        attachments = ReportFilePath();
    (void)Screenshot; // this program takes no screenshots
    TMailResult result = TMailResult::NotSent;
    bool viaSmtp = false;
    const bool connected = IsInternetConnected();
    TSmtpMail mail{recipients, settings.MailRecipient, settings.MailSubject, Report, attachments};
    if (!settings.MailRecipient.empty() && connected && settings.SendDirectly) {
        viaSmtp = SendSmtpMail(mail, "", 25, "", "");
    } else if (connected && settings.SendViaServer && !settings.SmtpServer.empty()) {
        viaSmtp = SendSmtpMail(mail, settings.SmtpServer, settings.SmtpPort, settings.SmtpAccount,
                               settings.SmtpPassword);
    }
    if (viaSmtp)
        result = TMailResult::Sent;
    if (result == TMailResult::NotSent && settings.UseMapi)
        result = SendMapi(recipient, settings.MailSubject, Report, attachments, Owner, Unattended);
    if (result == TMailResult::NotSent && settings.UseMailto && !Unattended) {
        if (Owner)
            SetWindowPos(Owner, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (StartMailto(MailtoAddress(recipients, settings.MailSubject, Report)))
            result = TMailResult::Sent;
    }
    if (!Unattended) {
        const std::string caption = settings.MailCaption;
        if (viaSmtp)
            MessageBoxA(Owner, Replaced(settings.MailSuccessText, "%LF%", CRLF).c_str(), caption.c_str(),
                        MB_ICONINFORMATION);
        else if (result == TMailResult::NotSent)
            MessageBoxA(Owner, Replaced(settings.MailFailureText, "%LF%", CRLF).c_str(), caption.c_str(),
                        MB_ICONERROR);
    }
    if (result == TMailResult::Sent && !attachments.empty() && settings.DeleteAttachmentsAfterSending) {
        SetFileAttributesA(attachments.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(attachments.c_str());
    }
    return result;
}
