#include "NetCommon.h"

#include <windows.h>
#include <ntsecapi.h>

#include <cstring>

namespace {

// --- MD5 (RFC 1321) ---------------------------------------------------------

struct TMD5State {
    std::uint32_t A = 0x67452301, B = 0xefcdab89, C = 0x98badcfe, D = 0x10325476;
};

inline std::uint32_t RotateLeft(std::uint32_t X, int N) {
    return (X << N) | (X >> (32 - N));
}

inline std::uint32_t LoadLE32(const std::uint8_t *P) {
    return std::uint32_t(P[0]) | (std::uint32_t(P[1]) << 8) | (std::uint32_t(P[2]) << 16) |
           (std::uint32_t(P[3]) << 24);
}

inline void StoreLE32(std::uint8_t *P, std::uint32_t V) {
    P[0] = std::uint8_t(V);
    P[1] = std::uint8_t(V >> 8);
    P[2] = std::uint8_t(V >> 16);
    P[3] = std::uint8_t(V >> 24);
}

constexpr int kShifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                             5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                             4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                             6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

// floor(abs(sin(i + 1)) * 2^32), the constant table of the algorithm.
constexpr std::uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

void MD5Block(TMD5State &State, const std::uint8_t *Block) {
    std::uint32_t M[16];
    for (int i = 0; i < 16; ++i)
        M[i] = LoadLE32(Block + 4 * i);
    std::uint32_t A = State.A, B = State.B, C = State.C, D = State.D;
    for (int i = 0; i < 64; ++i) {
        std::uint32_t F;
        int G;
        if (i < 16) {
            F = (B & C) | (~B & D);
            G = i;
        } else if (i < 32) {
            F = (D & B) | (~D & C);
            G = (5 * i + 1) % 16;
        } else if (i < 48) {
            F = B ^ C ^ D;
            G = (3 * i + 5) % 16;
        } else {
            F = C ^ (B | ~D);
            G = (7 * i) % 16;
        }
        const std::uint32_t Next = D;
        D = C;
        C = B;
        B = B + RotateLeft(A + F + kSines[i] + M[G], kShifts[i]);
        A = Next;
    }
    State.A += A;
    State.B += B;
    State.C += C;
    State.D += D;
}

// Strict dotted-quad parser: four decimal numbers 0..255 separated by dots,
// nothing else. Every address, 255.255.255.255 included, is accepted.
bool ParseDottedQuad(const std::string &Text, std::array<std::uint8_t, 4> &Bytes) {
    std::array<std::uint8_t, 4> Result{};
    std::size_t Pos = 0;
    for (int Part = 0; Part < 4; ++Part) {
        if (Part > 0) {
            if (Pos >= Text.size() || Text[Pos] != '.')
                return false;
            ++Pos;
        }
        int Value = 0, Digits = 0;
        while (Pos < Text.size() && Text[Pos] >= '0' && Text[Pos] <= '9') {
            Value = Value * 10 + (Text[Pos] - '0');
            ++Pos;
            if (++Digits > 3)
                return false;
        }
        if (Digits == 0 || Value > 255)
            return false;
        Result[Part] = std::uint8_t(Value);
    }
    if (Pos != Text.size())
        return false;
    Bytes = Result;
    return true;
}

} // namespace

void ComputeMD5(const void *Data, std::size_t Size, std::uint8_t Digest[16]) {
    TMD5State State;
    const auto *Bytes = static_cast<const std::uint8_t *>(Data);
    std::size_t Remaining = Size;
    while (Remaining >= 64) {
        MD5Block(State, Bytes);
        Bytes += 64;
        Remaining -= 64;
    }
    // Padding: a 1 bit, zeros, then the message length in bits (64-bit LE).
    std::uint8_t Tail[128] = {};
    if (Remaining > 0)
        std::memcpy(Tail, Bytes, Remaining);
    Tail[Remaining] = 0x80;
    const std::size_t TailSize = Remaining < 56 ? 64 : 128;
    const std::uint64_t Bits = std::uint64_t(Size) * 8;
    for (int i = 0; i < 8; ++i)
        Tail[TailSize - 8 + i] = std::uint8_t(Bits >> (8 * i));
    MD5Block(State, Tail);
    if (TailSize == 128)
        MD5Block(State, Tail + 64);
    StoreLE32(Digest, State.A);
    StoreLE32(Digest + 4, State.B);
    StoreLE32(Digest + 8, State.C);
    StoreLE32(Digest + 12, State.D);
}

// --- TNetworkAddress -----------------------------------------------------------

std::uint8_t TNetworkAddress::GetOctet(int I) const {
    return (I >= 0 && I < 4) ? FBytes[I] : 0;
}

std::string TNetworkAddress::GetText() const {
    return Format("%d.%d.%d.%d", FBytes[0], FBytes[1], FBytes[2], FBytes[3]);
}

void TNetworkAddress::SetText(const std::string &Text) {
    if (!ParseDottedQuad(Text, FBytes))
        throw ENetworkError("'%s' is not a valid IP address.", Text);
}

// --- TNetworkAddressFilter -----------------------------------------------------

TNetworkAddressFilter::TNetworkAddressFilter()
    : FFrom(std::make_unique<TNetworkAddress>()), FTo(std::make_unique<TNetworkAddress>()) {}

bool TNetworkAddressFilter::Matches(const TNetworkAddress &Address) const {
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t Octet = Address.GetOctet(i);
        if (Octet < FFrom->GetOctet(i) || Octet > FTo->GetOctet(i))
            return false;
    }
    return true;
}

bool TNetworkAddressFilter::IsRange() const {
    for (int i = 0; i < 4; ++i)
        if (FFrom->GetOctet(i) < FTo->GetOctet(i))
            return true;
    return false;
}

std::string TNetworkAddressFilter::GetText() const {
    if (IsRange())
        return Format("%s - %s", FFrom->GetText(), FTo->GetText());
    return FFrom->GetText();
}

void TNetworkAddressFilter::Assign(const TNetworkAddressFilter &Other) {
    FFrom->Assign(*Other.FFrom);
    FTo->Assign(*Other.FTo);
}

// --- TNetworkAddressFilterList -------------------------------------------------

bool TNetworkAddressFilterList::Matches(const TNetworkAddress &Address) const {
    for (const auto &Filter : FItems)
        if (Filter->Matches(Address))
            return true;
    return false;
}

TNetworkAddressFilter *TNetworkAddressFilterList::Add() {
    FItems.push_back(std::make_unique<TNetworkAddressFilter>());
    return FItems.back().get();
}

void TNetworkAddressFilterList::Assign(const TNetworkAddressFilterList &Other) {
    if (&Other == this)
        return;
    Clear();
    for (const auto &Filter : Other.FItems)
        Add()->Assign(*Filter);
}

void TNetworkAddressFilterList::Delete(int Index) {
    if (Index < 0 || Index >= GetCount())
        throw EListError("List index out of bounds (%d)", Index);
    FItems.erase(FItems.begin() + Index);
}

TNetworkAddressFilter *TNetworkAddressFilterList::GetItem(int Index) const {
    if (Index < 0 || Index >= GetCount())
        throw EListError("List index out of bounds (%d)", Index);
    return FItems[Index].get();
}

// --- TNetworkDigest ------------------------------------------------------------

void TNetworkDigest::Randomize() {
    TDigestBytes Bytes;
    if (!RtlGenRandom(Bytes.data(), ULONG(Bytes.size())))
        throw ENetworkError("Could not create a random challenge.");
    FBytes = Bytes;
}

void TNetworkDigest::FromPassword(const std::string &Password) {
    if (Password.empty())
        return;
    for (std::size_t i = 0; i < FBytes.size(); ++i)
        FBytes[i] = std::uint8_t(Password[i % Password.size()]);
}

void TNetworkDigest::XorWith(const TDigestBytes &Bytes) {
    for (std::size_t i = 0; i < FBytes.size(); ++i)
        FBytes[i] ^= Bytes[i];
}

void TNetworkDigest::Hash() {
    TDigestBytes Digest;
    ComputeMD5(FBytes.data(), FBytes.size(), Digest.data());
    FBytes = Digest;
}

void TNetworkDigest::ApplyPassword(const std::string &Password) {
    TNetworkDigest PasswordBytes;
    PasswordBytes.FromPassword(Password);
    XorWith(PasswordBytes.GetBytes());
    Hash();
}
