#include "NetCommon.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>

namespace {

std::string ToHex(const std::uint8_t *Bytes, std::size_t Count) {
    std::string Text;
    char Buffer[3];
    for (std::size_t i = 0; i < Count; ++i) {
        std::snprintf(Buffer, sizeof(Buffer), "%02x", Bytes[i]);
        Text += Buffer;
    }
    return Text;
}

TNetworkAddress Address(const char *Text) {
    TNetworkAddress Result;
    Result.SetText(Text);
    return Result;
}

// Test suite of RFC 1321 (appendix A.5) plus lengths around the padding
// boundaries; digests computed once with Python's hashlib.
struct TMD5Case {
    std::string Input;
    const char *Digest;
};

const TMD5Case MD5Cases[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
    {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
    {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
    {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
};

TEST(MD5, MatchesReferenceDigests) {
    for (const auto &Case : MD5Cases) {
        std::uint8_t Digest[16];
        ComputeMD5(Case.Input.data(), Case.Input.size(), Digest);
        EXPECT_EQ(ToHex(Digest, 16), Case.Digest) << "input length " << Case.Input.size();
    }
}

// --- addresses -----------------------------------------------------------------

TEST(NetworkAddress, NewAddressIsLoopback) {
    TNetworkAddress A;
    EXPECT_EQ(A.GetText(), "127.0.0.1");
    EXPECT_EQ(A.GetOctet(0), 127);
    EXPECT_EQ(A.GetOctet(3), 1);
}

TEST(NetworkAddress, SetTextStoresOctetsInTextOrder) {
    const struct {
        const char *Text;
        std::uint8_t Octets[4];
    } Cases[] = {
        {"10.1.2.3", {10, 1, 2, 3}},
        {"0.0.0.0", {0, 0, 0, 0}},
        {"255.255.255.255", {255, 255, 255, 255}},
        {"192.168.001.020", {192, 168, 1, 20}},
    };
    for (const auto &Case : Cases) {
        TNetworkAddress A;
        ASSERT_NO_THROW(A.SetText(Case.Text)) << Case.Text;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(A.GetOctet(i), Case.Octets[i]) << Case.Text << " octet " << i;
    }
    EXPECT_EQ(Address("255.255.255.255").GetText(), "255.255.255.255");
}

TEST(NetworkAddress, InvalidTextRaisesAndLeavesAddressUnchanged) {
    const char *Cases[] = {"300.1.1.1", "",         "1.2.3",      "1.2.3.4.5", "a.b.c.d", "1..2.3",
                           "1.2.3.4 ",  "-1.2.3.4", "1.2.3.0004", "1.2.3.",    " 1.2.3.4"};
    for (const char *Text : Cases) {
        TNetworkAddress A = Address("10.20.30.40");
        try {
            A.SetText(Text);
            ADD_FAILURE() << "no error for '" << Text << "'";
        } catch (const ENetworkError &E) {
            EXPECT_EQ(E.Message(), std::string("'") + Text + "' is not a valid IP address.");
        }
        EXPECT_EQ(A.GetText(), "10.20.30.40") << Text;
    }
}

TEST(NetworkAddress, AssignCopiesAllOctets) {
    TNetworkAddress A, B = Address("1.2.3.4");
    A.Assign(B);
    EXPECT_EQ(A.GetText(), "1.2.3.4");
}

// --- filters -------------------------------------------------------------------

TNetworkAddressFilter MakeFilter(const char *From, const char *To) {
    TNetworkAddressFilter F;
    F.From().SetText(From);
    F.To().SetText(To);
    return F;
}

TEST(NetworkAddressFilter, MatchesPerOctet) {
    const struct {
        const char *From, *To, *Address;
        bool Matches;
    } Cases[] = {
        {"192.168.1.10", "192.168.1.20", "192.168.1.15", true},
        {"192.168.1.10", "192.168.1.20", "192.168.1.10", true},
        {"192.168.1.10", "192.168.1.20", "192.168.1.20", true},
        {"192.168.1.10", "192.168.1.20", "192.168.2.15", false},
        {"192.168.1.10", "192.168.1.20", "192.168.1.21", false},
        {"192.168.1.10", "192.168.1.20", "192.168.1.9", false},
        // Per-octet ranges: the last octet must lie between 5 and 3, so nothing matches.
        {"10.0.0.5", "10.0.1.3", "10.0.0.200", false},
        {"10.0.0.5", "10.0.1.3", "10.0.1.0", false},
        {"192.168.0.0", "192.168.255.255", "192.168.77.1", true},
        {"192.168.0.0", "192.168.255.255", "192.169.0.0", false},
        {"7.7.7.7", "7.7.7.7", "7.7.7.7", true},
        {"7.7.7.7", "7.7.7.7", "7.7.7.8", false},
        {"0.0.0.0", "255.255.255.255", "255.255.255.255", true},
    };
    for (const auto &Case : Cases) {
        const TNetworkAddressFilter F = MakeFilter(Case.From, Case.To);
        EXPECT_EQ(F.Matches(Address(Case.Address)), Case.Matches)
            << Case.From << " - " << Case.To << " against " << Case.Address;
    }
}

TEST(NetworkAddressFilter, RangeAndText) {
    const struct {
        const char *From, *To;
        bool IsRange;
        const char *Text;
    } Cases[] = {
        {"192.168.1.10", "192.168.1.20", true, "192.168.1.10 - 192.168.1.20"},
        {"10.0.0.5", "9.0.0.6", true, "10.0.0.5 - 9.0.0.6"},
        {"10.0.0.5", "10.0.0.5", false, "10.0.0.5"},
        {"10.0.0.5", "9.0.0.4", false, "10.0.0.5"},
    };
    for (const auto &Case : Cases) {
        const TNetworkAddressFilter F = MakeFilter(Case.From, Case.To);
        EXPECT_EQ(F.IsRange(), Case.IsRange) << Case.From << " - " << Case.To;
        EXPECT_EQ(F.GetText(), Case.Text);
    }
}

TEST(NetworkAddressFilter, NewFilterIsLoopbackOnly) {
    TNetworkAddressFilter F;
    EXPECT_TRUE(F.Matches(TNetworkAddress()));
    EXPECT_FALSE(F.IsRange());
    EXPECT_EQ(F.GetText(), "127.0.0.1");
}

TEST(NetworkAddressFilterList, MatchesAnyFilterAndCopiesDeeply) {
    TNetworkAddressFilterList List;
    EXPECT_FALSE(List.Matches(TNetworkAddress()));

    TNetworkAddressFilter *First = List.Add();
    EXPECT_EQ(First->GetText(), "127.0.0.1");
    First->From().SetText("10.0.0.1");
    First->To().SetText("10.0.0.9");
    TNetworkAddressFilter *Second = List.Add();
    Second->From().SetText("172.16.0.0");
    Second->To().SetText("172.16.0.255");
    EXPECT_TRUE(List.Matches(Address("10.0.0.4")));
    EXPECT_TRUE(List.Matches(Address("172.16.0.99")));
    EXPECT_FALSE(List.Matches(Address("127.0.0.1")));

    TNetworkAddressFilterList Copy;
    Copy.Add(); // replaced by Assign
    Copy.Assign(List);
    ASSERT_EQ(Copy.GetCount(), 2);
    EXPECT_NE(Copy.GetItem(0), List.GetItem(0));
    List.GetItem(0)->From().SetText("10.0.0.5");
    EXPECT_EQ(Copy.GetItem(0)->GetText(), "10.0.0.1 - 10.0.0.9");

    Copy.Delete(0);
    ASSERT_EQ(Copy.GetCount(), 1);
    EXPECT_EQ(Copy.GetItem(0)->GetText(), "172.16.0.0 - 172.16.0.255");
    EXPECT_THROW(Copy.Delete(1), EListError);
    EXPECT_THROW(Copy.GetItem(-1), EListError);
    Copy.Clear();
    EXPECT_EQ(Copy.GetCount(), 0);
}

// --- digest --------------------------------------------------------------------

TDigestBytes Counting() {
    TDigestBytes Bytes;
    for (int i = 0; i < 16; ++i)
        Bytes[i] = std::uint8_t(i);
    return Bytes;
}

TEST(NetworkDigest, FromPasswordRepeatsCharactersCyclically) {
    TNetworkDigest D;
    EXPECT_EQ(D.GetBytes(), TDigestBytes{});
    D.FromPassword("xyz");
    EXPECT_EQ(std::string(D.GetBytes().begin(), D.GetBytes().end()), "xyzxyzxyzxyzxyzx");

    D.SetBytes(Counting());
    D.FromPassword("");
    EXPECT_EQ(D.GetBytes(), Counting());
}

// Responses computed once with Python: md5(challenge XOR cyclic password)
// for the challenge 00 01 .. 0f.
TEST(NetworkDigest, ApplyPasswordGivesReferenceResponse) {
    const struct {
        const char *Password;
        const char *Response;
    } Cases[] = {
        {"", "1ac1ef01e96caf1be0d329331a4fc2a8"},
        {"abc", "3610cb34c3c5fae376dc6a565e2c837b"},
        {"secret password!!", "6e29acb86bd630ec27121248497ffb7e"},
    };
    for (const auto &Case : Cases) {
        TNetworkDigest D;
        D.SetBytes(Counting());
        D.ApplyPassword(Case.Password);
        EXPECT_EQ(ToHex(D.GetBytes().data(), 16), Case.Response) << "password '" << Case.Password << "'";
    }
}

TEST(NetworkDigest, ChallengeAndResponseRoundTrip) {
    TNetworkDigest Server;
    Server.Randomize();
    TNetworkDigest Client;
    Client.SetBytes(Server.GetBytes()); // the challenge on the wire
    Client.ApplyPassword("pa55word");

    TNetworkDigest Check;
    Check.SetBytes(Server.GetBytes());
    Check.ApplyPassword("pa55word");
    EXPECT_TRUE(Check.Equals(Client.GetBytes()));

    TNetworkDigest Wrong;
    Wrong.SetBytes(Server.GetBytes());
    Wrong.ApplyPassword("pa55wore");
    EXPECT_FALSE(Wrong.Equals(Client.GetBytes()));

    TNetworkDigest Other;
    Other.SetBytes(Server.GetBytes());
    Other.XorWith(TDigestBytes{1}); // a different challenge
    Other.ApplyPassword("pa55word");
    EXPECT_FALSE(Other.Equals(Client.GetBytes()));
}

// A challenge that is left zero or repeats would let a recorded response be
// replayed.
TEST(NetworkDigest, RandomChallengesDiffer) {
    std::set<TDigestBytes> Seen;
    for (int i = 0; i < 64; ++i) {
        TNetworkDigest D;
        D.Randomize();
        EXPECT_TRUE(Seen.insert(D.GetBytes()).second) << "challenge repeated after " << i;
    }
}

} // namespace
