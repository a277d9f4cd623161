// Small value types shared by the calculation server, its clients and the
// configuration: an IPv4 address, address-range filters and the 16-byte
// digest used by the password challenge.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SysUtils.h"

DECLARE_EXCEPTION(ENetworkError, Exception);

// MD5 (RFC 1321) of a byte buffer.
void ComputeMD5(const void *Data, std::size_t Size, std::uint8_t Digest[16]);

// An IPv4 address as four bytes in network order (byte 0 is the first number
// of the dotted text). A new address is 127.0.0.1.
class TNetworkAddress : public TObject {
public:
    TNetworkAddress() = default;
    DECLARE_CLASS_NAME(TNetworkAddress)

    void Assign(const TNetworkAddress &Other) { FBytes = Other.FBytes; }
    // Byte I (0..3); any other index gives 0.
    std::uint8_t GetOctet(int I) const;
    std::string GetText() const;
    // Parses dotted decimal text; raises ENetworkError and leaves the address
    // unchanged when the text is no address.
    void SetText(const std::string &Text);

private:
    std::array<std::uint8_t, 4> FBytes{127, 0, 0, 1};
};

class TNetworkAddressFilter : public TObject {
public:
    TNetworkAddressFilter();
    DECLARE_CLASS_NAME(TNetworkAddressFilter)

    TNetworkAddress &From() { return *FFrom; }
    const TNetworkAddress &From() const { return *FFrom; }
    TNetworkAddress &To() { return *FTo; }
    const TNetworkAddress &To() const { return *FTo; }

    // True when every octet of Address lies between the same octets of From
    // and To (the comparison is per octet, not on the 32-bit number).
    bool Matches(const TNetworkAddress &Address) const;
    bool IsRange() const;
    std::string GetText() const;
    void Assign(const TNetworkAddressFilter &Other);

private:
    std::unique_ptr<TNetworkAddress> FFrom;
    std::unique_ptr<TNetworkAddress> FTo;
};

class TNetworkAddressFilterList : public TObject {
public:
    DECLARE_CLASS_NAME(TNetworkAddressFilterList)

    bool Matches(const TNetworkAddress &Address) const;
    // Appends a new filter (127.0.0.1 to 127.0.0.1) and returns it.
    TNetworkAddressFilter *Add();
    void Assign(const TNetworkAddressFilterList &Other);
    void Clear() { FItems.clear(); }
    // Index errors raise EListError.
    void Delete(int Index);
    int GetCount() const { return static_cast<int>(FItems.size()); }
    TNetworkAddressFilter *GetItem(int Index) const;

private:
    std::vector<std::unique_ptr<TNetworkAddressFilter>> FItems;
};

using TDigestBytes = std::array<std::uint8_t, 16>;

class TNetworkDigest : public TObject {
public:
    DECLARE_CLASS_NAME(TNetworkDigest)

    const TDigestBytes &GetBytes() const { return FBytes; }
    void SetBytes(const TDigestBytes &Bytes) { FBytes = Bytes; }

    // Fills the bytes from the operating system's cryptographic random
    // source; a challenge must not be predictable from earlier ones.
    void Randomize();
    // Byte i := Password[i mod length]; an empty password changes nothing.
    void FromPassword(const std::string &Password);
    void XorWith(const TDigestBytes &Bytes);
    // Replaces the bytes by the MD5 digest of themselves.
    void Hash();
    // Turns a challenge into its response: MD5(challenge XOR cyclic password).
    void ApplyPassword(const std::string &Password);
    bool Equals(const TDigestBytes &Bytes) const { return FBytes == Bytes; }

private:
    TDigestBytes FBytes{};
};
