#pragma once
// A ZELNetworkingClient set up the way zelnet's options ask, together with everything the
// client holds weakly (credentials, session delegate) so they live exactly as long as it.

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zel/client/ZELNetworkingAPIAuthenticationProvider.h"
#include "zel/client/ZELNetworkingClient.h"
#include "zel/foundation/ZELNetworkRecorder.h"
#include "zel/transport/ZELNetworkingSessionDelegate.h"

namespace zelnet {

/// Credentials from the command line; counts what the client tells it.
class Credentials : public zel::ZELNetworkingAPIAuthenticationProvider {
 public:
  Credentials(std::string token, std::string clientID, std::string clientSecret);

  std::string accessToken() override;
  std::string clientID() override { return clientID_; }
  std::string clientSecret() override { return clientSecret_; }
  void accessTokenInvalidWithError(const zel::Error& error,
                                   std::shared_ptr<zel::ZELHTTPRequest> request) override;
  void authorizationFailed() override;

  void setAccessToken(std::string token);
  [[nodiscard]] int accessTokenInvalidCalls() const { return tokenInvalid_.load(); }
  [[nodiscard]] int authorizationFailedCalls() const { return authorizationFailed_.load(); }

 private:
  mutable std::mutex mutex_;
  std::string token_;
  const std::string clientID_;
  const std::string clientSecret_;
  std::atomic<int> tokenInvalid_{0};
  std::atomic<int> authorizationFailed_{0};
};

struct ClientSettings {
  std::string baseURL{};
  std::string token{};
  std::string clientID{};
  std::string clientSecret{};
  bool metricsClient = false;
  std::optional<std::string> appState{};
  std::vector<std::pair<std::string, std::string>> headers{};
  bool streaming = false;
  std::optional<std::filesystem::path> caCertFile{};  // trusted besides the system store
  std::optional<double> timeoutSeconds{};
  bool record = false;  // give the client a capturing network recorder
};

/// A file that is removed when the value goes away.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
  TemporaryFile(TemporaryFile&& other) noexcept : path_(std::exchange(other.path_, {})) {}
  TemporaryFile& operator=(TemporaryFile&& other) noexcept;
  ~TemporaryFile();
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct ClientKit {
  ClientKit() = default;
  ClientKit(ClientKit&&) = default;
  ClientKit& operator=(ClientKit&&) = default;
  /// Lets the client go last, on this thread, once the library's background steps of finished
  /// requests have released it (for at most two seconds), so that its session's I/O thread has
  /// ended before the process exits. OpenSSL's exit-time cleanup must not run under a thread
  /// that still holds TLS state.
  ~ClientKit();

  std::shared_ptr<Credentials> credentials;
  std::shared_ptr<zel::ZELNetworkingSessionDelegate> delegate;
  std::shared_ptr<zel::ZELNetworkRecorder> recorder;  // when settings.record
  TemporaryFile caBundle;
  std::shared_ptr<zel::ZELNetworkingClient> client;
};

/// Throws std::runtime_error when the base URL does not parse or the CA file cannot be read.
[[nodiscard]] ClientKit makeClient(const ClientSettings& settings);

}  // namespace zelnet
