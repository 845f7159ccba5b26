// HMAC against the RFC 4231 (SHA-2) and RFC 2202 (SHA-1) test cases.
#include <gtest/gtest.h>

#include <string>

#include "hash/chmac.h"

namespace {

std::string hex(const unsigned char* p, size_t n) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}

std::string bytes(int value, size_t n) { return std::string(n, (char)value); }

std::string oneToTwentyFive() {
    std::string s;
    for (int i = 1; i <= 25; i++) s += (char)i;
    return s;
}

struct Case {
    std::string key, data;
    const char* sha224;
    const char* sha256;
    const char* sha384;
    const char* sha512;
};

// Case 5 of RFC 4231 publishes only the first 128 bits; we compare that prefix.
TEST(HMAC, MatchesRfc4231) {
    const Case cases[] = {
        {bytes(0x0b, 20), "Hi There", "896fb1128abbdf196832107cd49df33f47b4b1169912ba4f53684b22",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
         "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6",
         "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854"},
        {"Jefe", "what do ya want for nothing?", "a30e01098bc6dbbf45690f3a7e9e6d0f8bbea2a39e6148008fd05e44",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
         "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649",
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737"},
        {bytes(0xaa, 20), bytes(0xdd, 50), "7fb3cb3588c6c1f6ffa9694d7d6ad2649365b0c1f65d69d1ec8333ea",
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe",
         "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27",
         "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807b946a337bee8942674278859e13292fb"},
        {oneToTwentyFive(), bytes(0xcd, 50), "6c11506874013cac6a2abc1bb382627cec6a90d86efc012de7afec5a",
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b",
         "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb",
         "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc5788063a5f19741120c4f2de2adebeb10a298dd"},
        {bytes(0x0c, 20), "Test With Truncation", "0e2aea68a90c8d37c988bcdb9fca6fa8",
         "a3b6167473100ee06e0c796c2955552b", "3abf34c3503b2a23a46efc619baef897",
         "415fad6271580a531d4179bc891d87a6"},
        {bytes(0xaa, 131), "Test Using Larger Than Block-Size Key - Hash Key First",
         "95e9a0db962095adaebe9b2d6f0dbce2d499f112f2d2b7273fa6870e",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952",
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"},
        {bytes(0xaa, 131),
         "This is a test using a larger than block-size key and a larger than block-size data. The key needs to "
         "be hashed before being used by the HMAC algorithm.",
         "3a854166ac5d9f023f54d517d0b39dbd946770db9c2b95c9f6f565d1",
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2",
         "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e",
         "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15134676fb6de0446065c97440fa8c6a58"},
    };
    int n = 0;
    for (const Case& c : cases) {
        n++;
        const std::pair<cHash::eKind, const char*> want[] = {
            {cHash::eSHA224, c.sha224}, {cHash::eSHA256, c.sha256}, {cHash::eSHA384, c.sha384}, {cHash::eSHA512, c.sha512}};
        for (const auto& w : want) {
            unsigned char out[cHash::kMaxDigest];
            cHMAC::mac(w.first, c.key.data(), c.key.size(), c.data.data(), c.data.size(), out);
            std::string expect = w.second;
            EXPECT_EQ(expect, hex(out, expect.size() / 2)) << "case " << n << " kind " << w.first;
        }
    }
}

TEST(HMAC, MatchesRfc2202ForSha1) {
    const std::pair<std::string, std::string> inputs[] = {
        {bytes(0x0b, 20), "Hi There"},
        {"Jefe", "what do ya want for nothing?"},
        {bytes(0xaa, 20), bytes(0xdd, 50)},
        {oneToTwentyFive(), bytes(0xcd, 50)},
        {bytes(0x0c, 20), "Test With Truncation"},
        {bytes(0xaa, 80), "Test Using Larger Than Block-Size Key - Hash Key First"},
        {bytes(0xaa, 80), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"},
    };
    const char* const want[] = {"b617318655057264e28bc0b6fb378c8ef146be00", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79",
                                "125d7342b9ac11cd91a39af48aa17b4f63f175d3", "4c9007f4026250c6bc8414f9bf50c86c2d7235da",
                                "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04", "aa4ae5e15272d00e95705637ce8a3b55ed402112",
                                "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"};
    for (size_t i = 0; i < 7; i++) {
        // Fed one byte at a time: the incremental path must equal the published value.
        cHMAC h(cHash::eSHA1, inputs[i].first.data(), inputs[i].first.size());
        for (char ch : inputs[i].second) h.update(&ch, 1);
        unsigned char out[20];
        h.finish(out);
        EXPECT_EQ(want[i], hex(out, 20)) << "case " << i + 1;
    }
}

}  // namespace
