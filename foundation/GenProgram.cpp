#include "GenProgram.h"

#include <windows.h>

#include "GenUtils.h"

namespace {

std::unique_ptr<TProgramInformation> GProgramInformation;

// Indices of GetVersionInfoString.
constexpr int kLegalCopyright = 3;
constexpr int kProductName = 4;
constexpr int kProductVersion = 5;

int DigitOrDefault(const std::string &Text, std::size_t Pos, int Default) {
    if (Pos < Text.size() && Text[Pos] >= '0' && Text[Pos] <= '9')
        return Text[Pos] - '0';
    return Default;
}

} // namespace

std::string TProgramVersion::GetText() const {
    std::string Text = Format("%d.%d%d", Major, Minor, Release);
    if (IsBeta())
        Text = Format("%s beta %d", Text, Beta);
    return Text;
}

void TProgramVersion::Parse(const std::string &Text) {
    int NewMajor, NewMinor, NewRelease = 0, NewBeta = 0;
    const std::size_t Dot = Text.find('.');
    if (Dot == std::string::npos) {
        NewMajor = StrToIntDef(Text, -1);
        NewMinor = 0;
    } else {
        NewMajor = StrToIntDef(Text.substr(0, Dot), -1);
        NewMinor = DigitOrDefault(Text, Dot + 1, -1);
        NewRelease = DigitOrDefault(Text, Dot + 2, 0);
    }
    const std::size_t BetaPos = Text.find("beta ");
    if (BetaPos != std::string::npos)
        NewBeta = StrToIntDef(Text.substr(BetaPos + 5, 2), 0);
    if (NewMajor < 0 || NewMinor < 0)
        throw EProgramVersionError("'%s' is not a valid version number", Text);
    Major = NewMajor;
    Minor = NewMinor;
    Release = NewRelease;
    Beta = NewBeta;
}

TProgramInformation::TProgramInformation() : TProgramInformation(GetCommandLineA()) {}

TProgramInformation::TProgramInformation(const std::string &CommandLine)
    : Version(std::make_unique<TProgramVersion>()) {
    Version->Parse(GetVersionInfoString(kProductVersion, ""));
    ReleaseDate = EncodeDate(2004, 8, 19);
    LegalCopyright = GetVersionInfoString(kLegalCopyright, "");
    ProductName = GetVersionInfoString(kProductName, "");
    Title = Format("%s %s", ProductName, Version->GetText());
    ServerMode = IsServerCommandLine(CommandLine);
}

std::vector<std::string> SplitCommandLine(const std::string &CommandLine) {
    std::vector<std::string> Arguments;
    std::size_t Pos = 0;
    const std::size_t Size = CommandLine.size();
    for (;;) {
        while (Pos < Size && static_cast<unsigned char>(CommandLine[Pos]) <= ' ')
            ++Pos;
        if (Pos >= Size)
            break;
        std::string Argument;
        bool Quoted = false;
        while (Pos < Size && (Quoted || static_cast<unsigned char>(CommandLine[Pos]) > ' ')) {
            if (CommandLine[Pos] == '"')
                Quoted = !Quoted;
            else
                Argument += CommandLine[Pos];
            ++Pos;
        }
        Arguments.push_back(std::move(Argument));
    }
    return Arguments;
}

bool IsServerCommandLine(const std::string &CommandLine) {
    const std::vector<std::string> Arguments = SplitCommandLine(CommandLine);
    return Arguments.size() >= 2 && SameText(Arguments[1], "/server");
}

TProgramInformation *ProgramInformation() {
    return GProgramInformation.get();
}

void InitializeGenProgram() {
    if (!GProgramInformation)
        GProgramInformation = std::make_unique<TProgramInformation>();
}

void FinalizeGenProgram() {
    GProgramInformation.reset();
}
