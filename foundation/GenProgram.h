// Program information: version, release date, product name, window title and whether the
// program runs as a calculation server.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "SysUtils.h"

DECLARE_EXCEPTION(EProgramVersionError, Exception);

class TProgramVersion : public TObject {
public:
    DECLARE_CLASS_NAME(TProgramVersion)

    int Beta = 0; // 0 for a release
    int Major = 0;
    int Minor = 0;
    int Release = 0;

    bool IsBeta() const { return Beta > 0; }
    // "3.02", or "3.02 beta 5" for a beta.
    std::string GetText() const;
    // Reads a text such as "3.02" or "3.02 beta 5"; raises EProgramVersionError and leaves the
    // object unchanged when the text holds no major and minor number.
    void Parse(const std::string &Text);
};

class TProgramInformation : public TObject {
public:
    // Reads the version resource of the program file and takes the server flag from the
    // process's command line.
    TProgramInformation();
    // The same with the command line given (program path first, as the system passes it).
    explicit TProgramInformation(const std::string &CommandLine);
    DECLARE_CLASS_NAME(TProgramInformation)

    TDateTime ReleaseDate = 0;
    std::string LegalCopyright;
    bool ServerMode = false;
    std::string ProductName;
    std::string Title;
    std::unique_ptr<TProgramVersion> Version;
};

// Splits a command line into its arguments the way the run-time library does for argv:
// blanks separate arguments, double quotes group blanks into an argument and are removed.
// The first element is the program path.
std::vector<std::string> SplitCommandLine(const std::string &CommandLine);
// True when the command line has a first argument equal to "/server" (letter case ignored).
bool IsServerCommandLine(const std::string &CommandLine);

// The global instance; nullptr outside InitializeGenProgram .. FinalizeGenProgram.
TProgramInformation *ProgramInformation();
void InitializeGenProgram();
void FinalizeGenProgram();
