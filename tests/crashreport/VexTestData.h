// Fixture reading for the crash library's tests: whitespace-separated lines and hexadecimal bytes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "vexStrings.h"

inline std::string VexDataPath(const std::string &name) {
    return std::string(TEST_DATA_DIR) + "crashreport\\data\\" + name;
}

inline std::vector<std::vector<std::string>> ReadFixtureLines(const std::string &name) {
    std::ifstream in(VexDataPath(name));
    std::vector<std::vector<std::string>> lines;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> row;
        for (std::string field; fields >> field;)
            row.push_back(field);
        if (!row.empty())
            lines.push_back(row);
    }
    return lines;
}

// "-" stands for no bytes.
inline std::string FromHex(const std::string &hex) {
    std::string bytes;
    if (hex == "-")
        return bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// A hand-made routine in executable memory of its own (so that a walk's range is that memory),
// filled with int3 behind the given bytes.
struct TRoutine {
    std::uint8_t *Code;
    explicit TRoutine(std::initializer_list<int> bytes) {
        Code = static_cast<std::uint8_t *>(
            VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
        std::memset(Code, 0xCC, 4096);
        std::size_t at = 0;
        for (int b : bytes)
            Code[at++] = static_cast<std::uint8_t>(b);
    }
    ~TRoutine() { VirtualFree(Code, 0, MEM_RELEASE); }
    TRoutine(const TRoutine &) = delete;
    TRoutine &operator=(const TRoutine &) = delete;
    void PutWord(std::size_t at, std::uint32_t value) { std::memcpy(Code + at, &value, 4); }
    std::uintptr_t At(std::size_t offset) const { return reinterpret_cast<std::uintptr_t>(Code + offset); }
    // The address as a listing writes it at the start of a line, and as a label number.
    std::string Address(std::size_t offset) const {
        return HexText(static_cast<std::uint32_t>(At(offset)), 8, '0').substr(1);
    }
    std::string Label(std::size_t offset) const {
        return HexText(static_cast<std::uint32_t>(At(offset)), 1, '0').substr(1);
    }
};

// A file of the test in the temporary folder, unique to this process.
inline std::string VexTempFile(const std::string &name) {
    char folder[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "vexTest" + std::to_string(GetCurrentProcessId()) + name;
}

inline std::string ReadWholeFile(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The clipboard's plain text; empty when there is none.
inline std::string ClipboardText() {
    std::string text;
    if (!OpenClipboard(nullptr))
        return text;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char *bytes = static_cast<const char *>(GlobalLock(data)))
            text = bytes;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}
