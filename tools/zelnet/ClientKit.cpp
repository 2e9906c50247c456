#include "ClientKit.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "zel/client/URLSessionConfiguration+ZELNetworking.h"
#include "zel/client/ZELNetworkRequestStateProvider.h"

namespace zelnet {
namespace {

constexpr const char* kSystemCABundle = "/etc/ssl/certs/ca-certificates.crt";

class RequestState : public zel::ZELNetworkRequestStateProvider {
 public:
  explicit RequestState(std::optional<std::string> appState) : appState_(std::move(appState)) {}
  std::optional<std::string> applicationState() override { return appState_; }
  std::optional<zel::HTTPHeaders> additionalHeadersForURL(const zel::URL&) override {
    return std::nullopt;
  }

 private:
  const std::optional<std::string> appState_;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// The system's authorities followed by the caller's, in a file of their own: the session
/// trusts exactly one file.
TemporaryFile combinedCABundle(const std::filesystem::path& extra) {
  const std::string added = readFile(extra);
  if (added.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    throw std::runtime_error(extra.string() + " holds no PEM certificate");
  }
  std::string bundle;
  if (std::filesystem::exists(kSystemCABundle)) bundle = readFile(kSystemCABundle) + "\n";
  bundle += added;
  std::string pattern = (std::filesystem::temp_directory_path() / "zelnet-ca-XXXXXX").string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "mkstemp");
  ::close(fd);
  TemporaryFile file(pattern);
  std::ofstream(pattern, std::ios::binary | std::ios::trunc) << bundle;
  return file;
}

}  // namespace

Credentials::Credentials(std::string token, std::string clientID, std::string clientSecret)
    : token_(std::move(token)),
      clientID_(std::move(clientID)),
      clientSecret_(std::move(clientSecret)) {}

std::string Credentials::accessToken() {
  std::lock_guard lock(mutex_);
  return token_;
}

void Credentials::setAccessToken(std::string token) {
  std::lock_guard lock(mutex_);
  token_ = std::move(token);
}

void Credentials::accessTokenInvalidWithError(const zel::Error&,
                                              std::shared_ptr<zel::ZELHTTPRequest>) {
  ++tokenInvalid_;
}

void Credentials::authorizationFailed() {
  ++authorizationFailed_;
}

ClientKit::~ClientKit() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (client && client.use_count() > 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  client.reset();  // the session goes with it and waits for its I/O thread
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    TemporaryFile gone(std::move(*this));
    path_ = std::exchange(other.path_, {});
  }
  return *this;
}

TemporaryFile::~TemporaryFile() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

ClientKit makeClient(const ClientSettings& settings) {
  const auto baseURL = zel::URL::URLWithString(settings.baseURL);
  if (!baseURL || !baseURL->scheme() || !baseURL->host()) {
    throw std::runtime_error("not an absolute URL: " + settings.baseURL);
  }
  ClientKit kit;
  kit.credentials =
      std::make_shared<Credentials>(settings.token, settings.clientID, settings.clientSecret);
  kit.delegate = zel::ZELNetworkingSessionDelegate::initWithStreamingEnabled(settings.streaming);
  auto configuration = zel::zelnetworking_defaultSessionConfiguration();
  if (settings.timeoutSeconds) configuration.timeoutIntervalForRequest = *settings.timeoutSeconds;
  if (settings.caCertFile) {
    kit.caBundle = combinedCABundle(*settings.caCertFile);
    configuration.trustedCAFile = kit.caBundle.path();
  }
  if (settings.record) {
    kit.recorder = zel::ZELNetworkRecorder::create();
    kit.recorder->setCapturing(true);
  }
  zel::HTTPHeaders headers;
  for (const auto& [name, value] : settings.headers) headers.set(name, value);
  kit.client = zel::ZELNetworkingClient::initWithBaseURL(
      baseURL, kit.credentials, std::make_shared<RequestState>(settings.appState),
      zel::URLSession::sessionWithConfiguration(configuration, kit.delegate),
      settings.metricsClient, /*assumeRequestsHTTP3Capable=*/false, std::move(headers),
      kit.recorder);
  return kit;
}

}  // namespace zelnet
