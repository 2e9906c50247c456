#pragma once
// Providers with settable answers, for client tests.

#include <mutex>
#include <optional>
#include <string>

#include "zel/client/ZELNetworkingClient.h"

namespace zel::test {

class SettableAuthenticationProvider : public ZELNetworkingAPIAuthenticationProvider {
 public:
  SettableAuthenticationProvider(std::string token, std::string id, std::string secret)
      : token_(std::move(token)), id_(std::move(id)), secret_(std::move(secret)) {}

  std::string accessToken() override { return token_; }
  std::string clientID() override { return id_; }
  std::string clientSecret() override { return secret_; }
  void accessTokenInvalidWithError(const Error&, std::shared_ptr<ZELHTTPRequest>) override {}
  void authorizationFailed() override {}

  std::string token_, id_, secret_;
};

class SettableRequestStateProvider : public ZELNetworkRequestStateProvider {
 public:
  std::optional<std::string> applicationState() override { return state; }
  std::optional<HTTPHeaders> additionalHeadersForURL(const URL& url) override {
    std::lock_guard lock(mutex);
    lastURL = url.absoluteString();
    return headers;
  }

  std::optional<std::string> state;
  std::optional<HTTPHeaders> headers;
  std::mutex mutex;
  std::string lastURL;
};

}  // namespace zel::test
