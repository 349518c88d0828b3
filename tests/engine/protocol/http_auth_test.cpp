#include <gtest/gtest.h>

#include "engine/protocol/cookies.h"
#include "engine/protocol/crypto_util.h"
#include "engine/protocol/http_auth.h"

namespace corvane::protocol {
namespace {

// The response="..." value of an Authorization header.
std::string responseOf(const std::string& header)
{
    const size_t at = header.find("response=\"");
    if (at == std::string::npos)
        return {};
    const size_t start = at + 10;
    return header.substr(start, header.find('"', start) - start);
}

TEST(HttpAuth, BasicFollowsTheRfcExample)
{
    EXPECT_EQ(basicAuthorization("Aladdin", "open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

TEST(HttpAuth, DigestMatchesTheRfc2617Example)
{
    const auto challenges = parseAuthChallenges(
        "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
        "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
    ASSERT_EQ(challenges.size(), 1u);
    const std::string h = digestAuthorization(challenges[0], "Mufasa", "Circle Of Life", "GET", "/dir/index.html",
                                              "0a4f113b", 1);
    EXPECT_EQ(responseOf(h), "6629fae49393a05397450978507c4ef1");
    EXPECT_EQ(h.rfind("Digest ", 0), 0u);
    EXPECT_NE(h.find("nc=00000001"), std::string::npos);
    EXPECT_NE(h.find("qop=auth,"), std::string::npos);
    EXPECT_NE(h.find("opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""), std::string::npos);
    EXPECT_NE(h.find("uri=\"/dir/index.html\""), std::string::npos);
}

TEST(HttpAuth, DigestMatchesTheRfc7616Examples)
{
    const std::string common = "realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
                               "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
                               "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"";
    const auto challenges
        = parseAuthChallenges("Digest " + common + ", algorithm=SHA-256, Digest " + common + ", algorithm=MD5");
    ASSERT_EQ(challenges.size(), 2u);
    const char* cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
    EXPECT_EQ(responseOf(digestAuthorization(challenges[0], "Mufasa", "Circle of Life", "GET", "/dir/index.html",
                                             cnonce, 1)),
              "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1");
    EXPECT_EQ(responseOf(digestAuthorization(challenges[1], "Mufasa", "Circle of Life", "GET", "/dir/index.html",
                                             cnonce, 1)),
              "8ca523f5e9506fed4657c9700eebdbec");
}

TEST(HttpAuth, DigestRefusesWhatItCannotDo)
{
    AuthChallenge c{"Digest", {{"realm", "r"}, {"nonce", "n"}, {"qop", "auth-int"}}};
    EXPECT_EQ(digestAuthorization(c, "u", "p", "GET", "/", "c", 1), "");
    c.params["qop"] = "auth";
    c.params["algorithm"] = "SHA-512-256";
    EXPECT_EQ(digestAuthorization(c, "u", "p", "GET", "/", "c", 1), "");
    // Without qop (RFC 2069 style) there is no nc or cnonce, and the session variant changes the answer.
    c.params.erase("qop");
    c.params["algorithm"] = "MD5";
    const std::string legacy = digestAuthorization(c, "u\"x", "p", "GET", "/", "c", 1);
    EXPECT_EQ(legacy.find("nc="), std::string::npos);
    EXPECT_NE(legacy.find("username=\"u\\\"x\""), std::string::npos) << "quotes in the user name are escaped";
    c.params["algorithm"] = "MD5-sess";
    EXPECT_NE(responseOf(digestAuthorization(c, "u", "p", "GET", "/", "c", 1)), responseOf(legacy));
    EXPECT_EQ(responseOf(legacy).size(), 32u);
}

TEST(HttpAuth, ParsesSeveralChallengesInOneHeader)
{
    const auto c = parseAuthChallenges(
        "Newauth realm=\"apps\", type=1, title=\"Login to \\\"apps\\\"\", Basic realm=\"simple\", "
        "Negotiate YIIB+w==, NTLM");
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].scheme, "Newauth");
    EXPECT_EQ(c[0].params.at("realm"), "apps");
    EXPECT_EQ(c[0].params.at("type"), "1");
    EXPECT_EQ(c[0].params.at("title"), "Login to \"apps\"");
    EXPECT_EQ(c[1].scheme, "Basic");
    EXPECT_EQ(c[1].params.at("realm"), "simple");
    EXPECT_EQ(c[2].params.at("token68"), "YIIB+w==");
    EXPECT_EQ(c[3].scheme, "NTLM");
    EXPECT_TRUE(c[3].params.empty());
    ASSERT_NE(findChallenge(c, "basic"), nullptr);
    EXPECT_EQ(findChallenge(c, "Digest"), nullptr);

    const auto upper = parseAuthChallenges("Digest REALM = \"r\" , Nonce=abc");
    ASSERT_EQ(upper.size(), 1u);
    EXPECT_EQ(upper[0].params.at("realm"), "r");
    EXPECT_EQ(upper[0].params.at("nonce"), "abc");

    EXPECT_EQ(parseAuthChallenges("Digest realm=\"unterminated").size(), 1u);
    EXPECT_TRUE(parseAuthChallenges("").empty());
}

TEST(Cookies, ParsesSetCookieAttributes)
{
    auto c = parseSetCookie("SID=31d4d96e407aad42; Path=/; Domain=example.com; Secure; HttpOnly; "
                            "Expires=Wed, 09 Jun 2021 10:18:14 GMT; Max-Age=60; Unknown=1");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->name, "SID");
    EXPECT_EQ(c->value, "31d4d96e407aad42");
    EXPECT_EQ(c->path, "/");
    EXPECT_EQ(c->domain, "example.com");
    EXPECT_TRUE(c->secure);
    EXPECT_TRUE(c->httpOnly);
    EXPECT_EQ(c->expires, "Wed, 09 Jun 2021 10:18:14 GMT");
    EXPECT_EQ(c->maxAge, "60");

    c = parseSetCookie(" lang = en-US ;path=/a;PATH=/b");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->name, "lang");
    EXPECT_EQ(c->value, "en-US");
    EXPECT_EQ(c->path, "/b") << "the last attribute wins";
    EXPECT_FALSE(c->secure);

    EXPECT_EQ(parseSetCookie("empty=")->value, "");
    EXPECT_EQ(parseSetCookie("q=\"quoted\"")->value, "\"quoted\"");
    EXPECT_FALSE(parseSetCookie("novalue"));
    EXPECT_FALSE(parseSetCookie("=orphan"));
    EXPECT_FALSE(parseSetCookie("bad name=1"));
}

TEST(Base64, RoundTripsAndRejectsJunk)
{
    for (size_t n = 0; n < 40; ++n) {
        std::string bytes;
        for (size_t i = 0; i < n; ++i)
            bytes.push_back(static_cast<char>(i * 37 + 5));
        const std::string text = base64Encode(bytes);
        EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
        EXPECT_EQ(base64Decode(text).value_or("<none>"), bytes) << n;
    }
    for (const char* bad : {"abc", "ab=c", "a*cd", "QQ==QQ=="})
        EXPECT_FALSE(base64Decode(bad)) << bad;
}

} // namespace
} // namespace corvane::protocol
