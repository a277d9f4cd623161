#include "vexCrypt.h"

#include <cstring>

namespace {

const std::uint32_t PiWords[18 + 4 * 256] = {
#include "vexCryptPi.inc"
};

struct TBlowfish {
    std::uint32_t P[18];
    std::uint32_t S[4][256];

    std::uint32_t F(std::uint32_t x) const {
        return ((S[0][x >> 24] + S[1][(x >> 16) & 0xFF]) ^ S[2][(x >> 8) & 0xFF]) + S[3][x & 0xFF];
    }

    void Encipher(std::uint32_t &left, std::uint32_t &right) const {
        std::uint32_t l = left, r = right;
        for (int i = 0; i < 16; i += 2) {
            l ^= P[i];
            r ^= F(l);
            r ^= P[i + 1];
            l ^= F(r);
        }
        l ^= P[16];
        r ^= P[17];
        left = r;
        right = l;
    }

    void Decipher(std::uint32_t &left, std::uint32_t &right) const {
        std::uint32_t l = left, r = right;
        for (int i = 17; i > 1; i -= 2) {
            l ^= P[i];
            r ^= F(l);
            r ^= P[i - 1];
            l ^= F(r);
        }
        l ^= P[1];
        r ^= P[0];
        left = r;
        right = l;
    }

    explicit TBlowfish(const std::string &key) {
        std::memcpy(P, PiWords, sizeof P);
        std::memcpy(S, PiWords + 18, sizeof S);
        std::size_t at = 0;
        for (std::uint32_t &word : P) {
            std::uint32_t data = 0;
            for (int k = 0; k < 4; ++k) {
                data = (data << 8) | static_cast<unsigned char>(key[at]);
                at = (at + 1) % key.size();
            }
            word ^= data;
        }
        std::uint32_t l = 0, r = 0;
        for (int i = 0; i < 18; i += 2) {
            Encipher(l, r);
            P[i] = l;
            P[i + 1] = r;
        }
        for (auto &box : S)
            for (int i = 0; i < 256; i += 2) {
                Encipher(l, r);
                box[i] = l;
                box[i + 1] = r;
            }
    }
};

std::uint32_t ReadBig(const std::uint8_t *p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}
std::uint32_t ReadLittle(const std::uint8_t *p) {
    return (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
}
void WriteBig(std::uint8_t *p, std::uint32_t v) {
    for (int i = 3; i >= 0; --i, v >>= 8)
        p[i] = static_cast<std::uint8_t>(v);
}
void WriteLittle(std::uint8_t *p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i, v >>= 8)
        p[i] = static_cast<std::uint8_t>(v);
}

void ProcessBlock(const TBlowfish &cipher, std::uint8_t *block, bool encipher, bool swapped) {
    std::uint32_t left = swapped ? ReadLittle(block + 4) : ReadBig(block);
    std::uint32_t right = swapped ? ReadLittle(block) : ReadBig(block + 4);
    if (encipher)
        cipher.Encipher(left, right);
    else
        cipher.Decipher(left, right);
    if (swapped) {
        WriteLittle(block + 4, left);
        WriteLittle(block, right);
    } else {
        WriteBig(block, left);
        WriteBig(block + 4, right);
    }
}

} // namespace

bool BlowfishCrypt(void *Buffer, std::size_t Length, bool Encipher, bool SwappedWords, std::uint32_t Counter0,
                   std::uint32_t Counter1, const std::string &Key) {
    if (Key.empty())
        return false;
    const TBlowfish cipher(Key);
    auto *bytes = static_cast<std::uint8_t *>(Buffer);
    const bool counterMode = Counter0 != 0 || Counter1 != 0;
    std::uint8_t counter[8];
    WriteLittle(counter, Counter0);
    WriteLittle(counter + 4, Counter1);
    for (std::size_t block = 0; block < Length / 8; ++block) {
        std::uint8_t *at = bytes + block * 8;
        if (!counterMode) {
            ProcessBlock(cipher, at, Encipher, SwappedWords);
            continue;
        }
        for (int i = 7; i >= 0 && ++counter[i] == 0; --i) {
        }
        std::uint8_t stream[8];
        std::memcpy(stream, counter, 8);
        ProcessBlock(cipher, stream, Encipher, false);
        for (int i = 0; i < 8; ++i)
            at[i] ^= stream[i];
    }
    return true;
}

void DecipherText(std::string &Text, const std::string &Key, std::uint32_t Counter0, std::uint32_t Counter1) {
    if (Text.empty() || Key.empty())
        return;
    const bool counterMode = Counter0 != 0 || Counter1 != 0;
    BlowfishCrypt(Text.data(), Text.size(), counterMode, false, Counter0, Counter1, Key);
    const unsigned char last = static_cast<unsigned char>(Text.back());
    if (last < 1 || last > 8 || last > Text.size())
        return;
    for (std::size_t i = Text.size() - last; i < Text.size(); ++i)
        if (static_cast<unsigned char>(Text[i]) != last)
            return;
    Text.resize(Text.size() - last);
}

void EncipherBlocks(std::string &Text, const std::string &Key) {
    BlowfishCrypt(Text.data(), Text.size(), true, true, 0, 0, Key);
}

void DecipherBlocks(std::string &Text, const std::string &Key) {
    BlowfishCrypt(Text.data(), Text.size(), false, true, 0, 0, Key);
}

std::string Base64Encode(const void *Bytes, std::size_t Count) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto *bytes = static_cast<const std::uint8_t *>(Bytes);
    std::string text;
    text.reserve((Count + 2) / 3 * 4);
    for (std::size_t i = 0; i < Count; i += 3) {
        const std::size_t left = Count - i;
        const std::uint32_t group = (std::uint32_t(bytes[i]) << 16) |
                                    (left > 1 ? std::uint32_t(bytes[i + 1]) << 8 : 0) |
                                    (left > 2 ? bytes[i + 2] : 0);
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += left > 1 ? alphabet[(group >> 6) & 63] : '=';
        text += left > 2 ? alphabet[group & 63] : '=';
    }
    return text;
}

std::string Base64EncodeText(const std::string &Text) {
    return Base64Encode(Text.data(), Text.size());
}
