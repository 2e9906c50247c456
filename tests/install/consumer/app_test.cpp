// The README's application test: the application's code against the mock server.
#include <chrono>

#include <gtest/gtest.h>
#include <zel/client/URLSessionConfiguration+ZELNetworking.h>
#include <zel/client/ZELNetworkingClient.h>
#include <zel/testing/MockServer.h>
#include <zel/transport/ZELNetworkingSessionDelegate.h>

namespace {

struct Credentials : zel::ZELNetworkingAPIAuthenticationProvider {
  std::string accessToken() override { return "t"; }
  std::string clientID() override { return "app"; }
  std::string clientSecret() override { return "secret"; }
  void accessTokenInvalidWithError(const zel::Error&,
                                   std::shared_ptr<zel::ZELHTTPRequest>) override {}
  void authorizationFailed() override {}
};

// The application's own code under test.
std::string userName(zel::ZELNetworkingClient& client) {
  auto outcome = client.getPath("users/me", {}).future.wait(std::chrono::seconds(5));
  return outcome.ok() ? std::string(outcome.value()->dataObject->at("name").as_string()) : "?";
}

TEST(Profile, ShowsTheSignedInUsersName) {
  zel::MockServer api;
  api.route("/v3/users/me/",
            zel::MockResponse{.body = R"({"status":"success","code":0,"data":{"name":"Ada"}})"});
  auto credentials = std::make_shared<Credentials>();
  auto delegate = zel::ZELNetworkingSessionDelegate::initWithStreamingEnabled(false);
  auto client = zel::ZELNetworkingClient::initWithBaseURL(
      zel::URL::URLWithString(api.url("/v3/")), credentials, nullptr,
      zel::URLSession::sessionWithConfiguration(zel::zelnetworking_defaultSessionConfiguration(),
                                                delegate),
      false, false, {}, nullptr);

  EXPECT_EQ(userName(*client), "Ada");
  ASSERT_EQ(api.requests().size(), 1u);
  EXPECT_EQ(*api.requests()[0].headers.find("Authorization"), "Bearer t");
}

}  // namespace
