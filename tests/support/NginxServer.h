#pragma once
// A real nginx on 127.0.0.1 for integration tests and benchmarks: HTTPS with HTTP/2 (ALPN),
// optionally plain HTTP/1.1 and an HTTPS listener limited to TLS 1.2.
//
// Each instance runs its own nginx (master + one worker, `daemon off`) as a child process in a
// fresh directory under /tmp holding the generated config, a test PKI made with the openssl
// tool, logs and temp paths. The destructor stops nginx by PID and removes the directory.
// Free of test-framework code: setup failures throw std::runtime_error (with nginx's error log
// when it did not come up).
//
// Every listener serves:
//   /envelope    200, application/json, kEnvelope (73 bytes)
//   /connection  200, text/plain, nginx's serial number of the connection ("$connection"),
//                so a client can tell how many connections its requests used
//   anything     200, "ok"
//
// The process gets SIGTERM when the thread that made the server exits, so an aborted test run
// leaves no nginx behind: create it on a thread that outlives it (the main thread is fine).

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace zel::test {

class NginxServer {
 public:
  /// A fixed JSON envelope of exactly 73 bytes, served at /envelope.
  static constexpr std::string_view kEnvelope =
      R"({"status":"success","code":0,"message":"ok","data":{"n":1},"bookmark":""})";
  static_assert(kEnvelope.size() == 73);

  /// The server certificate's dates: valid for three days from now, expired a day ago, or
  /// valid only from 2030.
  enum class CertificateValidity { Valid, Expired, NotYetValid };

  struct Options {
    /// Also serve plain HTTP/1.1 (keep-alive) on httpPort().
    bool plainHTTPListener = true;
    /// Also serve HTTPS + HTTP/2 limited to TLS 1.2 on tls12Port().
    bool tls12Listener = false;
    CertificateValidity serverCertificate = CertificateValidity::Valid;
    /// nginx's keepalive_requests: after this many requests a connection is retired (HTTP/2:
    /// with a GOAWAY).
    int keepaliveRequests = 100000;
    /// How long start-up may take before it counts as failed.
    std::chrono::milliseconds startTimeout{10000};
  };

  /// Files of a test PKI made in one directory.
  struct TestPKI {
    std::filesystem::path caCertificate;           // self-signed CA (PEM)
    std::filesystem::path serverCertificate;       // signed by the CA for localhost, 127.0.0.1
    std::filesystem::path serverKey;               // EC P-256, unencrypted
    std::filesystem::path untrustedCACertificate;  // an unrelated self-signed CA
  };

  /// Whether the nginx and openssl executables are present.
  [[nodiscard]] static bool available();
  /// Makes a test PKI in `directory` (which must exist) with the openssl tool: a CA, a server
  /// certificate it signs (subjectAltName DNS:localhost, IP:127.0.0.1) and an unrelated CA.
  /// Throws std::runtime_error when a step fails or takes too long.
  static TestPKI makeTestPKI(const std::filesystem::path& directory,
                             CertificateValidity validity = CertificateValidity::Valid);

  /// Starts nginx and waits until every listener accepts connections.
  NginxServer();
  explicit NginxServer(Options options);
  /// stop(), then removes the directory.
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  [[nodiscard]] std::uint16_t httpsPort() const noexcept { return httpsPort_; }
  /// 0 without the plain HTTP listener.
  [[nodiscard]] std::uint16_t httpPort() const noexcept { return httpPort_; }
  /// 0 without the TLS 1.2 listener.
  [[nodiscard]] std::uint16_t tls12Port() const noexcept { return tls12Port_; }

  /// "https://127.0.0.1:<httpsPort>" followed by path (a leading '/' is added when missing).
  [[nodiscard]] std::string httpsURL(std::string_view path = "/") const;
  /// "http://127.0.0.1:<httpPort>..."; throws std::logic_error without the plain listener.
  [[nodiscard]] std::string httpURL(std::string_view path = "/") const;
  /// "https://127.0.0.1:<tls12Port>..."; throws std::logic_error without the TLS 1.2 listener.
  [[nodiscard]] std::string tls12URL(std::string_view path = "/") const;

  /// The CA that signed the server certificate (PEM); trust it to reach the server.
  [[nodiscard]] const std::filesystem::path& caFile() const noexcept { return pki_.caCertificate; }
  /// A CA that did not sign the server certificate (PEM).
  [[nodiscard]] const std::filesystem::path& untrustedCAFile() const noexcept {
    return pki_.untrustedCACertificate;
  }
  [[nodiscard]] const std::filesystem::path& directory() const noexcept { return directory_; }
  /// The nginx master process; -1 once stopped.
  [[nodiscard]] pid_t pid() const noexcept { return pid_; }
  /// nginx's error log so far (empty when there is none).
  [[nodiscard]] std::string errorLog() const;

  /// Stops nginx: SIGQUIT (graceful), then SIGTERM and SIGKILL after bounded waits; reaps it.
  /// Idempotent; the directory stays until destruction.
  void stop() noexcept;

 private:
  void writeConfig() const;
  void launch();
  void waitUntilListening();

  Options options_;
  std::filesystem::path directory_;
  TestPKI pki_;
  std::uint16_t httpsPort_ = 0;
  std::uint16_t httpPort_ = 0;
  std::uint16_t tls12Port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace zel::test
