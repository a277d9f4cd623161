// Second start for the single-instance tests: runs the program's own start-up of the program
// information and the instance guard. A start that hands its command line over ends inside the
// guard with exit code 0; otherwise the exit code tells how it went on: 10 started normally as
// an interactive instance, 11 the running instance did not take the command line, 12 started as
// a server instance, 2 the start-up failed.
#include <windows.h>

#include "GenInstance.h"
#include "GenProgram.h"

int main() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    try {
        InitializeGenProgram();
        InitializeGenInstance();
        const int Code = InstanceCheckResult() == irHandOverFailed ? 11
                         : ProgramInformation()->ServerMode        ? 12
                                                                   : 10;
        FinalizeGenInstance();
        FinalizeGenProgram();
        return Code;
    } catch (...) {
        return 2;
    }
}
