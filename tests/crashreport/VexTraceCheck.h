// Reading stack-trace lines back and comparing them with addr2line's answers (written by the
// build for the traced routines of a program).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vextrace {

struct TTraceLine {
    std::uintptr_t Address = 0;
    std::string Module, Unit;
    std::uint32_t Line = 0;
    std::string Function;
};

// "address module [unit] [line] function": a unit is a word followed by a line number.
inline std::vector<TTraceLine> ParseTrace(const std::string &trace) {
    std::vector<TTraceLine> lines;
    std::istringstream in(trace);
    auto digits = [](const std::string &t) {
        return !t.empty() && t.find_first_not_of("0123456789") == std::string::npos;
    };
    for (std::string text; std::getline(in, text);) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        std::istringstream fields(text);
        std::vector<std::string> tokens;
        for (std::string token; fields >> token;)
            tokens.push_back(token);
        if (tokens.size() < 2)
            continue;
        TTraceLine line;
        line.Address = std::stoul(tokens[0], nullptr, 16);
        line.Module = tokens[1];
        std::size_t next = 2;
        if (next + 1 < tokens.size() && !digits(tokens[next]) && digits(tokens[next + 1]))
            line.Unit = tokens[next++];
        if (next < tokens.size() && digits(tokens[next]))
            line.Line = std::stoul(tokens[next++]);
        for (std::size_t i = next; i < tokens.size(); ++i)
            line.Function += (i > next ? " " : "") + tokens[i];
        lines.push_back(line);
    }
    return lines;
}

struct TReference {
    std::uint32_t Line;
    std::string Function;
};

// addr2line's answers for every instruction of the traced routines (written by the build).
inline std::map<std::uintptr_t, TReference> ReadReference(const std::string &FileName) {
    std::map<std::uintptr_t, TReference> reference;
    std::ifstream in(FileName);
    std::string address, function;
    std::uint32_t line = 0;
    while (in >> address >> line >> function)
        reference[std::stoul(address, nullptr, 16)] = {line, function};
    return reference;
}

inline std::string RoutineOf(const std::string &function) {
    return function.substr(0, function.find('('));
}

inline void ExpectAgreesWithAddr2line(const TTraceLine &line,
                                      const std::map<std::uintptr_t, TReference> &reference) {
    const auto found = reference.find(line.Address);
    ASSERT_NE(found, reference.end()) << std::hex << line.Address << " is no instruction of a traced routine";
    EXPECT_EQ(line.Line, found->second.Line) << std::hex << line.Address;
    EXPECT_EQ(RoutineOf(line.Function), found->second.Function) << std::hex << line.Address;
}

} // namespace vextrace
