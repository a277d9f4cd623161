#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "VexTestData.h"
#include "vexActions.h"
#include "vexThreads.h"

namespace {

void WriteFileText(const std::string &Name, const std::string &Text) {
    std::ofstream out(Name, std::ios::binary | std::ios::trunc);
    out << Text;
}

// A report of exactly Size bytes with the separator that saving appends: its header label, its
// number, a line that carries the label in mid-line (no report start), and filling.
std::string NumberedReport(int Number, std::size_t Size) {
    std::string text = "date/time         : report " + std::to_string(Number) +
                       "\r\nquoted: date/time         : not a start\r\n";
    text.resize(Size - 4, 'x');
    return text;
}

struct TTrimCase {
    const char *Name;
    std::vector<std::size_t> Existing; // sizes of the reports already in the file
    std::size_t Added;
    std::vector<int> Kept; // numbers of the reports left (the added one is the last number)
};

// The file keeps less than three quarters of its 50,000-byte limit, cut only where a report starts.
TEST(vexActionsReportFile, AFileOverItsLimitIsCutAtAReportStart) {
    const TTrimCase cases[] = {
        // 55,000 bytes and 5,000 more: 60,000; the fifth report leaves 35,000 (< 37,500).
        {"eleven and one", std::vector<std::size_t>(11, 5000), 5000, {6, 7, 8, 9, 10, 11, 12}},
        {"below the limit", {20000, 20000}, 5000, {1, 2, 3}},
        // No start leaves less than 37,500: the last report stays whole.
        {"one big report", {10000}, 45000, {2}},
    };
    const std::string file = VexTempFile("vexTrim");
    for (const TTrimCase &c : cases) {
        std::string existing;
        int number = 0;
        for (std::size_t size : c.Existing)
            existing += NumberedReport(++number, size) + "\r\n\r\n";
        WriteFileText(file, existing);
        const std::string added = NumberedReport(++number, c.Added);
        ASSERT_TRUE(AppendReportToFile(file, added, 50000)) << c.Name;
        std::string expected;
        for (int kept : c.Kept) {
            const std::size_t size =
                kept <= static_cast<int>(c.Existing.size()) ? c.Existing[kept - 1] : c.Added;
            expected += NumberedReport(kept, size) + "\r\n\r\n";
        }
        const std::string text = ReadWholeFile(file);
        EXPECT_EQ(text.size(), expected.size()) << c.Name;
        EXPECT_TRUE(text == expected) << c.Name;
    }
    // A limit of 0 keeps only the newest report.
    WriteFileText(file, NumberedReport(1, 100) + "\r\n\r\n");
    ASSERT_TRUE(AppendReportToFile(file, NumberedReport(2, 100), 0));
    EXPECT_EQ(ReadWholeFile(file), NumberedReport(2, 100) + "\r\n\r\n");
    DeleteFileA(file.c_str());
}

// RFC 6068's own example of a body (section 6.1), and the characters that must not stand bare.
TEST(vexActionsMailto, BodiesArePercentEncodedAsTheMailtoSchemeAsks) {
    EXPECT_EQ(PercentEncode("send current-issue\r\nsend index", false),
              "send%20current-issue%0D%0Asend%20index");
    EXPECT_EQ(PercentEncode("a%b#c&d=e?f+g<h>i\"j'k~l_m.n", false),
              "a%25b%23c%26d%3De%3Ff%2Bg%3Ch%3Ei%22j%27k~l_m.n");
    EXPECT_EQ(PercentEncode("\xE9", false), "%E9");
    EXPECT_EQ(
        MailtoAddress("Support <infobot@example.com>; other@example.org", "Bug report",
                      "send current-issue\r\nsend index"),
        "mailto:infobot@example.com,other@example.org?subject=Bug%20report&body=send%20current-issue%0D%"
        "0Asend%20index");
}

struct TCommandCase {
    std::string Command, Address, Expected;
};

TEST(vexActionsMailto, TheAddressGoesIntoTheMailProgramsCommand) {
    const TCommandCase cases[] = {
        {"\"C:\\mail.exe\" /m \"%1\"", "mailto:a", "\"C:\\mail.exe\" /m \"mailto:a\""},
        {"mail.exe %1 %1", "mailto:a", "mail.exe mailto:a mailto:a"},
        {"mail.exe", "mailto:a", "mail.exe mailto:a"},
        {"mail.exe ", "mailto:a", "mail.exe mailto:a"},
    };
    for (const TCommandCase &c : cases)
        EXPECT_EQ(MailtoCommand(c.Command, c.Address), c.Expected) << c.Command;
    // Too long: cut below 32,767 characters, never inside an escape.
    const std::string prefix = "m ";
    for (std::size_t shift = 0; shift < 3; ++shift) {
        const std::string address =
            std::string(32764 - prefix.size() - shift, 'a') + "%0D%0A" + std::string(50, 'b');
        const std::string command = MailtoCommand("m", address);
        EXPECT_LE(command.size(), 32766u);
        const std::size_t percent = command.rfind('%');
        if (percent != std::string::npos) {
            EXPECT_LE(percent + 3, command.size()) << "an escape was split at shift " << shift;
        }
        EXPECT_GE(command.size(), 32764u);
    }
}

// RFC 5321 section 4.5.2: a line that starts with a period gets one more.
TEST(vexActionsSmtp, LinesThatStartWithAPeriodAreDoubled) {
    EXPECT_EQ(DotStuffed(".\r\n"), "..\r\n");
    EXPECT_EQ(DotStuffed("a\r\n.\r\nb"), "a\r\n..\r\nb");
    EXPECT_EQ(DotStuffed("a\r\n.b.\r\n..c"), "a\r\n..b.\r\n...c");
    EXPECT_EQ(DotStuffed("a.b"), "a.b");
    EXPECT_EQ(EncodedSubject("Bug report"), "=?ISO-8859-1?Q?Bug=20report?=");
    EXPECT_EQ(EncodedSubject("a_b=c\xE4"), "=?ISO-8859-1?Q?a=5Fb=3Dc=E4?=");
    SYSTEMTIME time = {};
    time.wYear = 2026, time.wMonth = 12, time.wDay = 1, time.wHour = 8, time.wMinute = 5, time.wSecond = 9;
    EXPECT_EQ(MailDateText(time), "1 Dec 2026 08:05:09 UT");
    EXPECT_EQ(AngleAddress(" Support <a@b.example> "), "<a@b.example>");
    EXPECT_EQ(AngleAddress("a@b.example"), "<a@b.example>");
}

// A socket of the given type bound to a free port of the loopback interface (servers of the tests
// listen on nothing else).
SOCKET BindLoopback(int Type, int Protocol, std::uint16_t &Port) {
    SOCKET bound = socket(AF_INET, Type, Protocol);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(bound, reinterpret_cast<sockaddr *>(&address), sizeof(address));
    int length = sizeof(address);
    getsockname(bound, reinterpret_cast<sockaddr *>(&address), &length);
    Port = ntohs(address.sin_port);
    return bound;
}

// A fake mail server on the loopback interface: it answers like a server that offers login with an
// equals sign ("AUTH=LOGIN") and records every line it receives.
class TFakeSmtpServer {
public:
    TFakeSmtpServer() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        FListener = BindLoopback(SOCK_STREAM, IPPROTO_TCP, FPort);
        listen(FListener, 1);
        FThread = std::thread([this] { Serve(); });
    }
    ~TFakeSmtpServer() {
        closesocket(FListener);
        if (FThread.joinable())
            FThread.join();
        WSACleanup();
    }
    std::uint16_t Port() const { return FPort; }
    // What the server received, line by line; complete once the client has quit.
    std::vector<std::string> Transcript() {
        if (FThread.joinable())
            FThread.join();
        return FLines;
    }

private:
    bool ReadLine(SOCKET Client, std::string &Line) {
        for (;;) {
            const std::size_t end = FBuffer.find("\r\n");
            if (end != std::string::npos) {
                Line = FBuffer.substr(0, end);
                FBuffer.erase(0, end + 2);
                FLines.push_back(Line);
                return true;
            }
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(Client, &readable);
            timeval wait = {60, 0}; // generous: the client runs under emulation
            if (select(0, &readable, nullptr, nullptr, &wait) != 1)
                return false;
            char buffer[1024];
            const int got = recv(Client, buffer, sizeof(buffer), 0);
            if (got <= 0)
                return false;
            FBuffer.append(buffer, static_cast<std::size_t>(got));
        }
    }
    void Answer(SOCKET Client, const std::string &Text) {
        send(Client, Text.data(), static_cast<int>(Text.size()), 0);
    }
    void Serve() {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(FListener, &readable);
        timeval wait = {120, 0};
        if (select(0, &readable, nullptr, nullptr, &wait) != 1)
            return;
        SOCKET client = accept(FListener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return;
        Answer(client, "220 fake.example ESMTP\r\n");
        std::string line;
        int authStep = 0;
        while (ReadLine(client, line)) {
            if (authStep == 1) {
                authStep = 2;
                Answer(client, "334 UGFzc3dvcmQ6\r\n");
            } else if (authStep == 2) {
                authStep = 3;
                Answer(client, "235 2.7.0 Authentication successful\r\n");
            } else if (line.rfind("EHLO ", 0) == 0) {
                Answer(client, "250-fake.example\r\n250-AUTH=LOGIN PLAIN\r\n250 8BITMIME\r\n");
            } else if (line == "AUTH LOGIN") {
                authStep = 1;
                Answer(client, "334 VXNlcm5hbWU6\r\n");
            } else if (line == "DATA") {
                Answer(client, "354 End data with <CR><LF>.<CR><LF>\r\n");
                while (ReadLine(client, line) && line != ".") {
                }
                Answer(client, "250 2.0.0 Ok: queued\r\n");
            } else if (line == "QUIT") {
                Answer(client, "221 2.0.0 Bye\r\n");
                break;
            } else {
                Answer(client, "250 2.1.0 Ok\r\n");
            }
        }
        closesocket(client);
    }
    SOCKET FListener = INVALID_SOCKET;
    std::uint16_t FPort = 0;
    std::thread FThread;
    std::string FBuffer;
    std::vector<std::string> FLines;
};

TEST(vexActionsSmtp, AMailThroughAServerFollowsTheConversation) {
    TFakeSmtpServer server;
    TSmtpMail mail;
    mail.Recipients = "first@example.org, Second <second@example.org>";
    mail.Sender = "Orbisk Vantel <reports@example.com>";
    mail.Subject = "Bug report";
    mail.Body = "line one\r\n.\r\n.hidden\r\nlast";
    // Base64 of "user" and "secret" (RFC 4648 alphabet).
    ASSERT_TRUE(SendSmtpMail(mail, "127.0.0.1", server.Port(), "user", "secret"));
    const std::vector<std::string> lines = server.Transcript();
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines[0], "EHLO " + ComputerName());
    EXPECT_EQ(lines[1], "AUTH LOGIN");
    EXPECT_EQ(lines[2], "dXNlcg==");
    EXPECT_EQ(lines[3], "c2VjcmV0");
    EXPECT_EQ(lines[4], "MAIL FROM:<reports@example.com>");
    EXPECT_EQ(lines[5], "RCPT TO:<first@example.org>");
    EXPECT_EQ(lines[6], "RCPT TO:<second@example.org>");
    EXPECT_EQ(lines[7], "DATA");
    EXPECT_EQ(lines[8].rfind("DATE: ", 0), 0u);
    EXPECT_EQ(lines[9], "TO: first@example.org, Second <second@example.org>");
    EXPECT_EQ(lines[10], "FROM: Orbisk Vantel <reports@example.com>");
    EXPECT_EQ(lines[11], "SUBJECT: =?ISO-8859-1?Q?Bug=20report?=");
    const std::vector<std::string> mime = {
        "MIME-Version: 1.0",
        "Content-Type: multipart/mixed; boundary=\"vexcrashreport SMTP Boundary\"",
        "",
        "This is a multi-part message in MIME format.",
        "",
        "--vexcrashreport SMTP Boundary",
        "Content-Type: text/plain; charset=\"iso-8859-1\"",
        "Content-Transfer-Encoding: 8bit",
        "",
        "line one",
        "..",
        "..hidden",
        "last",
        "--vexcrashreport SMTP Boundary--",
        "",
        "",
        ".",
        "RSET",
        "QUIT"};
    ASSERT_EQ(lines.size(), 12 + mime.size());
    for (std::size_t i = 0; i < mime.size(); ++i)
        EXPECT_EQ(lines[12 + i], mime[i]) << i;
}

// RFC 1035's message format: id 1, no flags, one question of type MX and class IN.
TEST(vexActionsDns, QueriesAndRepliesInTheNameServersFormat) {
    EXPECT_EQ(DnsQuery("example.org", DnsTypeMX),
              std::string("\x00\x01\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00"
                          "\x07"
                          "example\x03org\x00\x00\x0f\x00\x01",
                          29));
    // A reply to it with a mail exchanger whose name ends in a pointer to the question's name.
    const std::string question = DnsQuery("example.org", DnsTypeMX).substr(12);
    std::string reply =
        std::string("\x00\x01\x81\x80\x00\x01\x00\x01\x00\x00\x00\x00", 12) + question +
        std::string("\xc0\x0c\x00\x0f\x00\x01\x00\x00\x0e\x10\x00\x07\x00\x0a\x02mx\xc0\x0c", 19);
    TDnsReply parsed;
    ASSERT_TRUE(ParseDnsReply(reply, parsed));
    ASSERT_EQ(parsed.Answers.size(), 1u);
    EXPECT_EQ(parsed.Answers[0].Name, "example.org");
    EXPECT_EQ(parsed.Answers[0].Data, "mx.example.org");
    // Cut short, an error code, a pointer that points at itself: refused.
    TDnsReply refused;
    EXPECT_FALSE(ParseDnsReply(reply.substr(0, reply.size() - 1), refused));
    std::string failed = reply;
    failed[3] = '\x83'; // name error
    EXPECT_FALSE(ParseDnsReply(failed, refused));
    std::string looping = reply;
    looping[reply.size() - 2] = '\xc0';
    looping[reply.size() - 1] = static_cast<char>(reply.size() - 2);
    EXPECT_FALSE(ParseDnsReply(looping, refused));
}

// A fake name server on the loopback interface that plays the root, the domain's name server and
// its mail exchanger's records; it records the questions it was asked.
class TFakeNameServer {
public:
    TFakeNameServer() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        FSocket = BindLoopback(SOCK_DGRAM, IPPROTO_UDP, FPort);
        FThread = std::thread([this] { Serve(); });
    }
    ~TFakeNameServer() {
        closesocket(FSocket);
        if (FThread.joinable())
            FThread.join();
        WSACleanup();
    }
    std::uint16_t Port() const { return FPort; }
    std::vector<std::string> Questions() {
        closesocket(FSocket);
        FSocket = INVALID_SOCKET;
        if (FThread.joinable())
            FThread.join();
        return FQuestions;
    }

private:
    static std::string Labels(const std::string &Name) {
        std::string out;
        for (std::size_t start = 0; start < Name.size();) {
            const std::size_t end = std::min(Name.find('.', start), Name.size());
            out += static_cast<char>(end - start) + Name.substr(start, end - start);
            start = end + 1;
        }
        return out + '\0';
    }
    static std::string Record(const std::string &Name, int Type, const std::string &Data) {
        return Labels(Name) +
               std::string{0, static_cast<char>(Type), 0, 1, 0, 0, 0, 60, 0, static_cast<char>(Data.size())} +
               Data;
    }
    // The reply to Query: the referral first (no addresses), then the name servers with an address,
    // no exchanger for the full name, one for the base domain.
    std::string Reply(const std::string &Query, const std::string &Name, int Type) {
        std::string answers, authority, additional;
        int counts[3] = {0, 0, 0};
        if (Type == 2 && FNsQuestions++ == 0) {
            authority = Record(Name, 2, Labels("127.0.0.1"));
            counts[1] = 1;
        } else if (Type == 2) {
            answers = Record(Name, 2, Labels("ns.b.example.org"));
            additional = Record("ns.b.example.org", 1, std::string("\x7f\x00\x00\x01", 4));
            counts[0] = counts[2] = 1;
        } else if (Type == 15 && Name == "b.example.org") {
            answers = Record(Name, 15, std::string("\x00\x0a", 2) + Labels("mx.b.example.org"));
            counts[0] = 1;
        }
        std::string header = Query.substr(0, 12);
        header[2] = '\x80';
        header[3] = '\x00';
        header[7] = static_cast<char>(counts[0]);
        header[9] = static_cast<char>(counts[1]);
        header[11] = static_cast<char>(counts[2]);
        return header + Query.substr(12) + answers + authority + additional;
    }
    void Serve() {
        for (;;) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(FSocket, &readable);
            timeval wait = {60, 0};
            if (select(0, &readable, nullptr, nullptr, &wait) != 1)
                return;
            char buffer[512];
            sockaddr_in from = {};
            int fromLength = sizeof(from);
            const int got = recvfrom(FSocket, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr *>(&from),
                                     &fromLength);
            if (got <= 12)
                return;
            const std::string query(buffer, static_cast<std::size_t>(got));
            std::string name;
            std::size_t at = 12;
            while (at < query.size() && query[at] != 0) {
                const std::size_t length = static_cast<unsigned char>(query[at]);
                name += (name.empty() ? "" : ".") + query.substr(at + 1, length);
                at += 1 + length;
            }
            const int type = at + 2 < query.size() ? static_cast<unsigned char>(query[at + 2]) : 0;
            FQuestions.push_back((type == 2 ? "NS " : type == 15 ? "MX " : "? ") + name);
            const std::string reply = Reply(query, name, type);
            sendto(FSocket, reply.data(), static_cast<int>(reply.size()), 0,
                   reinterpret_cast<sockaddr *>(&from), fromLength);
        }
    }
    SOCKET FSocket = INVALID_SOCKET;
    std::uint16_t FPort = 0;
    std::thread FThread;
    int FNsQuestions = 0;
    std::vector<std::string> FQuestions;
};

// From the root down: a referral, the name servers with their address, then the exchanger of the
// base domain when the full name has none.
TEST(vexActionsDns, TheMailExchangerIsFoundFromTheRootDown) {
    TFakeNameServer server;
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    EXPECT_EQ(MailExchangerOf("a.b.example.org>", {"127.0.0.1"}, server.Port()), "mx.b.example.org");
    WSACleanup();
    EXPECT_EQ(server.Questions(), (std::vector<std::string>{"NS b.example.org", "NS b.example.org",
                                                            "MX a.b.example.org", "MX b.example.org"}));
}

TEST(vexActionsClipboard, TheReportIsPutOnTheClipboardAsText) {
    const std::string text = "report\r\nline two";
    CopyToClipboard(text);
    EXPECT_EQ(ClipboardText(), text);
}

} // namespace
