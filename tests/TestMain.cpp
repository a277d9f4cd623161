// Entry of every test program: GoogleTest with crash handling that can never wait for a person.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

namespace {

// An unexpected crash ends the test program with a failure instead of opening a debugger.
LONG WINAPI ReportUnhandledException(EXCEPTION_POINTERS *info) {
    const EXCEPTION_RECORD *record = info->ExceptionRecord;
    std::fprintf(stderr, "\nFATAL: unhandled exception 0x%08lx at %p\n", record->ExceptionCode,
                 record->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

int main(int argc, char **argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(ReportUnhandledException);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
