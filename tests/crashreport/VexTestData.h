// Fixture reading for the crash library's tests: whitespace-separated lines and hexadecimal bytes.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
