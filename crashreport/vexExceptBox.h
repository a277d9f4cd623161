// The exception box: the window the user sees after an unhandled exception or a freeze, with the
// message, the report actions (mail, show the report) and the ways to go on (continue, restart,
// close). It is a plain window of the handler thread with a message loop of its own, so that it
// works while every other thread is held; in a console program its text goes to standard output.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

inline constexpr const char *ExceptionBoxClass = "vexExceptWndClass";

// Shows the box and returns when it is gone: continue returns, restart and close end the process.
void ShowExceptionBox(bool Frozen, const std::exception_ptr &ExceptObject, void *ExceptAddr, bool CanContinue,
                      const std::string &Screenshot, const std::string &Report);
// The frozen or the error text with "%exceptMsg%" and "%LF%" put in.
std::string ExceptionBoxMessage(bool Frozen, const std::string &ExceptionMessage);
bool IsConsoleProgram();
