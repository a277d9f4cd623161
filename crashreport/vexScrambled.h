// Names that the crash library keeps scrambled in the image (system modules and routines it looks up
// at run time). The scrambling happens at compile time; Unscramble turns them back just before use.
#pragma once

#include <array>
#include <cstddef>
#include <string>

inline constexpr unsigned char ScrambleByte = 0xA7;

template <std::size_t N> struct TScrambledName {
    std::array<char, N> Bytes{};
    constexpr TScrambledName(const char (&text)[N]) {
        for (std::size_t i = 0; i < N; ++i)
            Bytes[i] = static_cast<char>(static_cast<unsigned char>(text[i]) ^ ScrambleByte);
    }
    // The scrambled bytes without the terminator, as kept in the image.
    std::string Text() const { return std::string(Bytes.data(), N - 1); }
};
