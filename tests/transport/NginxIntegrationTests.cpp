// The session against a real nginx on loopback: TLS with a CA made at test time, HTTP/2 over
// ALPN with multiplexing, certificate verification failures, pinning and connections retired
// with a GOAWAY.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/NginxServer.h"
#include "support/RecordingDelegate.h"
#include "zel/transport/URLError.h"

namespace zel {
namespace {

using test::NginxServer;
using test::OutcomeWaiter;
using test::RecordingDelegate;
using test::requestFor;

constexpr std::int64_t kCurlPeerFailedVerification = 60;  // CURLE_PEER_FAILED_VERIFICATION

URLSessionConfiguration trusting(std::optional<std::filesystem::path> ca) {
  auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
  config.trustedCAFile = std::move(ca);
  return config;
}

/// Fails the test unless the task succeeded with status 200 and reported one transaction, over
/// HTTP/2 to loopback.
void expectSucceeded(const RecordingDelegate::Fetched& f) {
  ASSERT_EQ(test::describe(f.outcome), "success");
  const auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(f.outcome->response);
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->statusCode(), 200);
  ASSERT_TRUE(f.record.metrics.has_value()) << "no metrics";
  ASSERT_EQ(f.record.metrics->transactionMetrics.size(), 1u);
  EXPECT_EQ(f.transaction().networkProtocolName, "h2");
  EXPECT_EQ(f.transaction().remoteAddress, "127.0.0.1");
}

class NginxIntegration : public ::testing::Test {
 protected:
  // Each test starts the servers it needs.
  void SetUp() override {
    if (!NginxServer::available()) {
      GTEST_SKIP() << "nginx or openssl is not installed (scripts/bootstrap installs them)";
    }
  }

  std::shared_ptr<URLSession> makeSession(URLSessionConfiguration config) {
    return URLSession::sessionWithConfiguration(std::move(config), delegate);
  }

  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

TEST_F(NginxIntegration, ServesTheEnvelopeOverHTTP2WithTheNegotiatedTLSVersion) {
  const NginxServer server({.plainHTTPListener = false, .tls12Listener = true});
  // The URL, the TLS version it negotiates, its port.
  using Case = std::tuple<std::string, std::uint16_t, std::uint16_t>;
  for (const auto& [url, tlsVersion, port] :
       {Case{server.httpsURL("/envelope"), 0x0304, server.httpsPort()},
        Case{server.tls12URL("/envelope"), 0x0303, server.tls12Port()}}) {
    SCOPED_TRACE(url);
    const auto f = delegate->fetch(*makeSession(trusting(server.caFile())), requestFor(url));
    ASSERT_NO_FATAL_FAILURE(expectSucceeded(f));
    EXPECT_EQ(f.outcome->data->stringView(), NginxServer::kEnvelope);
    const auto& m = f.transaction();
    EXPECT_EQ(m.negotiatedTLSProtocolVersion, std::optional<std::uint16_t>(tlsVersion));
    EXPECT_TRUE(m.negotiatedTLSCipherSuite.has_value());
    EXPECT_EQ(m.remotePort, port);
    EXPECT_TRUE(m.secureConnectionStartDate && m.secureConnectionEndDate);
    EXPECT_EQ(m.countOfResponseBodyBytesAfterDecoding, 73);
  }
}

TEST_F(NginxIntegration, ConcurrentRequestsMultiplexOverOneConnection) {
  const NginxServer server({.plainHTTPListener = false});
  const auto fetched =
      delegate->fetchAll(*makeSession(trusting(server.caFile())),
                         std::vector<URLRequest>(20, requestFor(server.httpsURL("/connection"))));
  std::set<std::string> serverConnections;  // nginx's serial number of each request's connection
  std::set<int> localPorts;
  int fresh = 0;
  for (const auto& f : fetched) {
    ASSERT_NO_FATAL_FAILURE(expectSucceeded(f));
    serverConnections.insert(std::string(f.outcome->data->stringView()));
    if (f.transaction().localPort) localPorts.insert(*f.transaction().localPort);
    if (!f.transaction().isReusedConnection) ++fresh;
  }
  EXPECT_EQ(serverConnections.size(), 1u) << "requests were spread over several connections";
  EXPECT_EQ(localPorts.size(), 1u);
  EXPECT_EQ(fresh, 1) << "exactly the transaction that opened the connection is not reused";
}

// The server is accepted only with a trusted CA, a name in its certificate and, when pinned,
// its own public key; each refusal says why.
TEST_F(NginxIntegration, CertificatesAreVerified) {
  const NginxServer server({.plainHTTPListener = false});
  const auto dir = server.directory();
  const auto pinned = (dir / "pinned.pem").string();
  ASSERT_EQ(std::system(("openssl pkey -in '" + (dir / "server.key").string() + "' -pubout -out '" +
                         pinned + "' 2>/dev/null")
                            .c_str()),
            0);
  const auto url = server.httpsURL("/");
  const auto port = std::to_string(server.httpsPort());
  const auto named = [&](const std::string& host) { return "https://" + host + ":" + port + "/"; };
  struct Case {
    std::optional<std::filesystem::path> ca;  // absent: the system store
    std::string url;
    std::optional<std::string> pin = {};
    std::int64_t curlCode = 0;  // 0: accepted; -1: refused for a reason of its own
  };
  const std::vector<Case> cases = {
      {server.untrustedCAFile(), url, {}, kCurlPeerFailedVerification},
      {std::nullopt, url, {}, kCurlPeerFailedVerification},
      {server.caFile(), named("localhost")},
      {server.caFile(), named("not-in-the-certificate.test"), {}, -1},
      {server.caFile(), url, pinned},
      {server.caFile(), url, "sha256//" + std::string(43, 'A') + "=", -1},  // another key
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i));
    auto config = trusting(c.ca);
    config.pinnedPublicKeys = c.pin;
    // Names are mapped to loopback by the session's resolver; nothing leaves 127.0.0.1.
    config.hostResolver = [](const std::string&) {
      return std::optional<std::vector<std::string>>(std::vector<std::string>{"127.0.0.1"});
    };
    const auto f = delegate->fetch(*makeSession(config), requestFor(c.url));
    if (c.curlCode == 0) {
      ASSERT_NO_FATAL_FAILURE(expectSucceeded(f));
      EXPECT_EQ(f.outcome->data->stringView(), "ok");
      continue;
    }
    ASSERT_TRUE(f.outcome && f.outcome->error);
    const auto& error = *f.outcome->error;
    EXPECT_EQ(error.code(), NSURLErrorServerCertificateUntrusted) << error.description();
    if (c.curlCode < 0) continue;
    EXPECT_EQ(error.underlyingError().value().code(), c.curlCode);
  }
}

// Servers of their own: certificates out of their dates give their own codes; connections
// retired by a GOAWAY every 3 requests fail no request.
TEST_F(NginxIntegration, CertificatesOutOfTheirDatesAndConnectionsRetiredByGoaway) {
  using Validity = NginxServer::CertificateValidity;
  for (const auto& [validity, code] :
       {std::pair{Validity::Expired, NSURLErrorServerCertificateHasBadDate},
        std::pair{Validity::NotYetValid, NSURLErrorServerCertificateNotYetValid}}) {
    NginxServer dated({.plainHTTPListener = false, .serverCertificate = validity});
    const auto outcome = test::run(*URLSession::sessionWithConfiguration(trusting(dated.caFile())),
                                   requestFor(dated.httpsURL("/envelope")));
    ASSERT_TRUE(outcome && outcome->error);
    EXPECT_EQ(outcome->error->code(), code) << outcome->error->description();
  }

  NginxServer server({.plainHTTPListener = false, .keepaliveRequests = 3});
  auto session = URLSession::sessionWithConfiguration(trusting(server.caFile()));
  for (int round = 0; round < 10; ++round) {
    std::vector<OutcomeWaiter> waiters(30);
    for (auto& waiter : waiters) {
      session->dataTaskWithRequest(requestFor(server.httpsURL("/envelope")), waiter.handler())
          ->resume();
    }
    for (auto& waiter : waiters) {
      const auto outcome = waiter.wait();
      ASSERT_EQ(test::describe(outcome), "success") << "round " << round;
      EXPECT_EQ(outcome->data.value().stringView(), NginxServer::kEnvelope);
    }
  }
}

}  // namespace
}  // namespace zel
