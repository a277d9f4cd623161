// The crash library's own exception class. The library raises it for its own failures only; its
// entry points catch everything, so it never leaves the library.
#pragma once

#include <string>

#include "SysUtils.h"

class VexException : public Exception {
public:
    explicit VexException(std::string message) : Exception(std::move(message)) {}
    DECLARE_CLASS_NAME(VexException)
};
