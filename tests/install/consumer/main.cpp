// A program that uses the installed library: a future hop through the background executor, and a
// client that builds a request with a multipart body.
#include <chrono>
#include <cstdio>
#include <string>

#include <zel/client/URLSessionConfiguration+ZELNetworking.h>
#include <zel/client/ZELNetworkingClient.h>
#include <zel/futures/ZELFutureMap.h>

namespace {

class Credentials : public zel::ZELNetworkingAPIAuthenticationProvider {
 public:
  std::string accessToken() override { return "token"; }
  std::string clientID() override { return "id"; }
  std::string clientSecret() override { return "secret"; }
  void accessTokenInvalidWithError(const zel::Error&,
                                   std::shared_ptr<zel::ZELHTTPRequest>) override {}
  void authorizationFailed() override {}
};

}  // namespace

int main() {
  auto doubled =
      zel::ZELFutureMap::map(zel::ZELFuture<int>::withValue(21), zel::ZELExecutor::background(),
                             [](const int& v) { return std::to_string(v * 2); });
  auto result = doubled.wait(std::chrono::seconds(10));
  if (!result.ok() || result.value() != "42") return 1;

  auto credentials = std::make_shared<Credentials>();
  auto client = zel::ZELNetworkingClient::initWithBaseURL(
      zel::URL::URLWithString("https://api.example.test/v3/"), credentials, nullptr,
      zel::URLSession::sessionWithConfiguration(zel::zelnetworking_defaultSessionConfiguration()),
      false, false, {}, nullptr);
  auto request = client->requestForPath(
      "photos/", zel::ZELHTTPMethod::POST, {{"caption", "hello"}},
      [] {
        return std::vector<std::shared_ptr<const zel::ZELMultipartFormChunk>>{
            std::make_shared<zel::ZELMultipartFormChunkFile>(
                zel::Data::copy(std::string_view("bytes")), "photo", "p.jpg", "image/jpeg")};
      },
      false);
  if (!request) return 2;
  auto built = request->wait(std::chrono::seconds(10));
  if (!built.ok() || !built.value().httpBody() ||
      built.value().valueForHTTPHeaderField("Authorization") != "Bearer token") {
    return 3;
  }
  std::puts("consumer ok");
  return 0;
}
