#pragma once
// ZELNetworkingAPIAuthenticationProvider — where a client gets its credentials, and whom it tells
// when the API refuses them. The application implements it and keeps it alive: the client holds
// it weakly.

#include <memory>
#include <string>

#include "zel/platform/Error.h"

namespace zel {

class ZELHTTPRequest;

class ZELNetworkingAPIAuthenticationProvider {
 public:
  virtual ~ZELNetworkingAPIAuthenticationProvider() = default;

  /// The signed-in user's token; empty when no user is signed in. Read once per request.
  [[nodiscard]] virtual std::string accessToken() = 0;
  /// The application's credentials, read when a request is signed and for the token-refresh
  /// authorization header.
  [[nodiscard]] virtual std::string clientID() = 0;
  [[nodiscard]] virtual std::string clientSecret() = 0;

  /// A request failed with an error of code 2 (the token was refused). Called on the main thread.
  virtual void accessTokenInvalidWithError(const Error& error,
                                           std::shared_ptr<ZELHTTPRequest> request) = 0;
  /// A request failed with an error of code 3. Called on the main thread.
  virtual void authorizationFailed() = 0;
};

}  // namespace zel
