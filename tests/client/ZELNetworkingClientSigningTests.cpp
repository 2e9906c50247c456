#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <gtest/gtest.h>

#include "client/ClientTestSupport.h"
#include "support/AssertionCapture.h"

namespace zel {
namespace {

std::string hmacHex(std::string_view key, std::string_view message) {
  unsigned char digest[32];
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &length);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < length; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

std::string lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class SigningTests : public ::testing::Test {
 protected:
  std::shared_ptr<ZELNetworkingClient> clientWith(bool metrics) {
    return ZELNetworkingClient::initWithBaseURL(URL::URLWithString("https://api.zelvo.test/v3/"),
                                                auth, nullptr, nullptr, metrics, false, {},
                                                nullptr);
  }
  std::string timestampOf(const ZELSignedParameters& s) {
    return s.parameters.find("timestamp")->description();
  }

  test::AssertionCapture capture;  // the clients have no session
  std::shared_ptr<test::SettableAuthenticationProvider> auth =
      std::make_shared<test::SettableAuthenticationProvider>("", "app id", "s3cret");
};

TEST_F(SigningTests, GetCarriesTheSignatureOverSortedEncodedParameters) {
  auto client = clientWith(false);
  const auto result = client->signParameters({{"b", 2}, {"A", "x y"}}, client->baseURL(),
                                             "users/me/", ZELHTTPMethod::GET, "");
  EXPECT_EQ(result.path, "users/me/");
  const std::string ts = timestampOf(result);
  // Whole seconds, in decimal.
  EXPECT_NEAR(std::stoll(ts), std::time(nullptr), 5);

  const std::string base =
      "GET&https%3A%2F%2Fapi.zelvo.test%2Fv3%2Fusers%2Fme%2F&A=x%20y&b=2"
      "&client_id=app%20id&timestamp=" +
      ts;
  EXPECT_EQ(lower(result.parameters.find("oauth_signature")->description()),
            hmacHex("s3cret", base));
  std::vector<std::string> names;
  for (const auto& [name, value] : result.parameters) names.push_back(name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"b", "A", "client_id", "timestamp", "oauth_signature"}));
}

TEST_F(SigningTests, PostAndPutPutTheSignatureInThePathQuery) {
  auto client = clientWith(false);
  for (const auto method : {ZELHTTPMethod::POST, ZELHTTPMethod::PUT}) {
    const auto result = client->signParameters({{"q", 1}}, client->baseURL(), "items/", method, "");
    const std::string ts = timestampOf(result);
    const std::string methodText(*ZELStringForHTTPMethod(method));
    const std::string signature =
        hmacHex("s3cret", methodText +
                              "&https%3A%2F%2Fapi.zelvo.test%2Fv3%2Fitems%2F&client_id=app%20id&q=1"
                              "&timestamp=" +
                              ts);
    // The ID goes into the path as it is, unencoded.
    EXPECT_EQ(lower(result.path),
              "items/?client_id=app id&timestamp=" + ts + "&oauth_signature=" + signature);
    EXPECT_TRUE(result.parameters.contains("client_id"));
    EXPECT_TRUE(result.parameters.contains("timestamp"));
    EXPECT_FALSE(result.parameters.contains("oauth_signature"));
  }
}

TEST_F(SigningTests, UserTokenSkipsSigningUnlessMetrics) {
  auto ordinary = clientWith(false);
  const ParameterDictionary given{{"a", 1}};
  const auto untouched =
      ordinary->signParameters(given, ordinary->baseURL(), "p/", ZELHTTPMethod::GET, "tok");
  EXPECT_EQ(untouched.parameters, given);
  EXPECT_EQ(untouched.path, "p/");

  // A metrics client signs anyway, over client_id and timestamp only.
  auto metrics = clientWith(true);
  const auto one =
      metrics->signParameters({{"a", 1}}, metrics->baseURL(), "p/", ZELHTTPMethod::GET, "tok");
  const std::string ts = timestampOf(one);
  EXPECT_EQ(lower(one.parameters.find("oauth_signature")->description()),
            hmacHex("s3cret",
                    "GET&https%3A%2F%2Fapi.zelvo.test%2Fv3%2Fp%2F&client_id=app%20id"
                    "&timestamp=" +
                        ts));
  EXPECT_EQ(one.parameters.find("a")->description(), "1");
}

TEST_F(SigningTests, CallerValuesForSigningNamesAreReplaced) {
  auto client = clientWith(false);
  const auto result = client->signParameters({{"client_id", "forged"}, {"timestamp", 1}},
                                             client->baseURL(), "", ZELHTTPMethod::DELETE, "");
  EXPECT_EQ(result.parameters.find("client_id")->description(), "app id");
  EXPECT_NE(result.parameters.find("timestamp")->description(), "1");
  EXPECT_EQ(result.parameters.size(), 3u);
}

TEST_F(SigningTests, NamesSortWithoutRegardToCase) {
  const ParameterDictionary set{{"c", 3}, {"B", 2}, {"a", 1}, {"a_b", 5}, {"ab", 4}, {"A", 0}};
  // "A" and "a" are equal ignoring case; the tie goes to the byte order, whatever the insertion.
  const std::string expected = "GET&u&A=0&a=1&a_b=5&ab=4&B=2&c=3";
  EXPECT_EQ(lower(ZELNetworkingClient::signatureForURL("u", set, "k", ZELHTTPMethod::GET)),
            hmacHex("k", expected));
  // Capitals beyond A–Z lower as Unicode says: "Éb" sorts after "éa". Values that are not
  // UTF-8 are signed as the query sends them, byte for byte.
  const ParameterDictionary accented{{"\xC3\x89"
                                      "b",
                                      2},
                                     {"\xC3\xA9"
                                      "a",
                                      1},
                                     {"v", "\xFF"}};
  EXPECT_EQ(lower(ZELNetworkingClient::signatureForURL("u", accented, "k", ZELHTTPMethod::GET)),
            hmacHex("k", "GET&u&v=%FF&%C3%A9a=1&%C3%89b=2"));
}

TEST_F(SigningTests, PostToAPathWithAQueryJoinsItsQuery) {
  auto client = clientWith(false);
  for (const std::string path : {"p/?x=1", "p/"}) {
    const auto result =
        client->signParameters({}, client->baseURL(), path, ZELHTTPMethod::POST, "");
    EXPECT_EQ(result.path.substr(0, path.size() + 11),
              path + (path.find('?') == std::string::npos ? "?" : "&") + "client_id=")
        << path;
    EXPECT_EQ(std::count(result.path.begin(), result.path.end(), '?'), 1) << result.path;
  }
}

TEST_F(SigningTests, SecretEndsAtItsFirstNul) {
  const ParameterDictionary none;
  EXPECT_EQ(ZELNetworkingClient::signatureForURL("u", none, std::string_view("key\0tail", 8),
                                                 ZELHTTPMethod::GET),
            ZELNetworkingClient::signatureForURL("u", none, "key", ZELHTTPMethod::GET));
}

}  // namespace
}  // namespace zel
