// The README's first program: GET users/me from the API at argv[1] and print its data.
#include <chrono>
#include <cstdio>

#include <zel/client/URLSessionConfiguration+ZELNetworking.h>
#include <zel/client/ZELNetworkingClient.h>
#include <zel/transport/ZELNetworkingSessionDelegate.h>
#include <boost/json/serialize.hpp>

struct Credentials : zel::ZELNetworkingAPIAuthenticationProvider {
  std::string accessToken() override { return "my-token"; }
  std::string clientID() override { return "my-app"; }
  std::string clientSecret() override { return "my-secret"; }
  void accessTokenInvalidWithError(const zel::Error&,
                                   std::shared_ptr<zel::ZELHTTPRequest>) override {}
  void authorizationFailed() override {}
};

int main(int argc, char** argv) {
  auto credentials = std::make_shared<Credentials>();
  auto delegate = zel::ZELNetworkingSessionDelegate::initWithStreamingEnabled(false);
  auto client = zel::ZELNetworkingClient::initWithBaseURL(
      zel::URL::URLWithString(argc > 1 ? argv[1] : "https://api.example.test/v3/"), credentials,
      nullptr,
      zel::URLSession::sessionWithConfiguration(zel::zelnetworking_defaultSessionConfiguration(),
                                                delegate),
      false, false, {}, nullptr);

  auto outcome = client->getPath("users/me", {}).future.wait(std::chrono::seconds(30));
  if (!outcome.ok()) {
    std::fprintf(stderr, "failed: %s\n", outcome.error().localizedDescription().c_str());
    return 1;
  }
  const auto data = outcome.value()->dataObject.value_or(nullptr);
  std::printf("%s\n", boost::json::serialize(data).c_str());
}
