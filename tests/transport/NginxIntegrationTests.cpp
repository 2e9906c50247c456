// The session against a real nginx on loopback: TLS with a CA made at test time, HTTP/2 over
// ALPN with multiplexing, certificate verification failures and plain HTTP/1.1 keep-alive.

#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
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

constexpr std::int64_t kCurlPeerFailedVerification = 60;  // CURLE_PEER_FAILED_VERIFICATION

using test::requestFor;

/// What one completion-handler task produced, with the metrics its delegate received.
struct Fetched {
  std::optional<test::Outcome> outcome;
  std::optional<URLSessionTaskMetrics> metrics;

  [[nodiscard]] std::string body() const {
    return outcome && outcome->data ? std::string(outcome->data->stringView()) : std::string();
  }
  [[nodiscard]] const URLSessionTaskTransactionMetrics& transaction() const {
    return metrics->transactionMetrics.at(0);
  }
};

class NginxIntegration : public ::testing::Test {
 protected:
  // One nginx for the suite; each test opens its own sessions, so its connections are fresh.
  static void SetUpTestSuite() {
    if (!NginxServer::available()) return;
    try {
      server_ = std::make_unique<NginxServer>(
          NginxServer::Options{.plainHTTPListener = true, .tls12Listener = true});
    } catch (const std::exception& e) {
      startError_ = e.what();
    }
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    if (!NginxServer::available()) {
      GTEST_SKIP() << "nginx or openssl is not installed (scripts/bootstrap installs them)";
    }
    ASSERT_NE(server_, nullptr) << "nginx did not start: " << startError_;
  }

  static NginxServer& server() { return *server_; }

  std::shared_ptr<URLSession> makeSession(std::optional<std::filesystem::path> trustedCA) {
    auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
    config.trustedCAFile = std::move(trustedCA);
    return URLSession::sessionWithConfiguration(std::move(config), delegate);
  }

  std::shared_ptr<URLSession> makeSession(URLSessionConfiguration config) {
    return URLSession::sessionWithConfiguration(std::move(config), delegate);
  }

  /// Resumes every request at once, then waits for each outcome and its metrics.
  std::vector<Fetched> fetchAll(URLSession& session, const std::vector<std::string>& urls) {
    std::vector<OutcomeWaiter> waiters(urls.size());
    std::vector<std::shared_ptr<URLSessionDataTask>> tasks;
    for (std::size_t i = 0; i < urls.size(); ++i) {
      tasks.push_back(session.dataTaskWithRequest(requestFor(urls[i]), waiters[i].handler()));
    }
    for (auto& task : tasks) task->resume();
    std::vector<Fetched> fetched(urls.size());
    for (std::size_t i = 0; i < urls.size(); ++i) {
      fetched[i].outcome = waiters[i].wait();
      if (delegate->waitFor(tasks[i]->taskIdentifier(), "metrics")) {
        fetched[i].metrics = delegate->record(tasks[i]->taskIdentifier()).metrics;
      }
    }
    return fetched;
  }

  Fetched fetch(URLSession& session, const std::string& url) {
    return std::move(fetchAll(session, {url}).front());
  }

  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();

  static inline std::unique_ptr<NginxServer> server_;
  static inline std::string startError_;
};

/// Fails the test unless the task succeeded with status 200 and reported one transaction.
void expectSucceeded(const Fetched& f) {
  ASSERT_TRUE(f.outcome.has_value()) << "no outcome";
  ASSERT_FALSE(f.outcome->error.has_value()) << f.outcome->error->description();
  const auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(f.outcome->response);
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->statusCode(), 200);
  ASSERT_TRUE(f.metrics.has_value()) << "no metrics";
  ASSERT_EQ(f.metrics->transactionMetrics.size(), 1u);
}

TEST_F(NginxIntegration, ServesTheEnvelopeOverHTTP2AndTLS13WithTheTestCATrusted) {
  auto session = makeSession(server().caFile());
  const auto f = fetch(*session, server().httpsURL("/envelope"));
  ASSERT_NO_FATAL_FAILURE(expectSucceeded(f));
  EXPECT_EQ(f.body(), NginxServer::kEnvelope);
  EXPECT_EQ(f.body().size(), 73u);
  const auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(f.outcome->response);
  EXPECT_EQ(http->valueForHTTPHeaderField("Content-Type"), "application/json");

  const auto& m = f.transaction();
  EXPECT_EQ(m.networkProtocolName, "h2");
  EXPECT_EQ(m.negotiatedTLSProtocolVersion, std::optional<std::uint16_t>(0x0304));
  EXPECT_TRUE(m.negotiatedTLSCipherSuite.has_value());
  EXPECT_EQ(m.remoteAddress, "127.0.0.1");
  EXPECT_EQ(m.remotePort, server().httpsPort());
  EXPECT_FALSE(m.isReusedConnection);
  EXPECT_TRUE(m.secureConnectionStartDate && m.secureConnectionEndDate);
  EXPECT_EQ(m.countOfResponseBodyBytesAfterDecoding, 73);
  EXPECT_EQ(m.resourceFetchTypeName(), "network");
}

TEST_F(NginxIntegration, ListenerLimitedToTLS12NegotiatesTLS12) {
  auto session = makeSession(server().caFile());
  const auto f = fetch(*session, server().tls12URL("/envelope"));
  ASSERT_NO_FATAL_FAILURE(expectSucceeded(f));
  EXPECT_EQ(f.body(), NginxServer::kEnvelope);
  const auto& m = f.transaction();
  EXPECT_EQ(m.networkProtocolName, "h2");
  EXPECT_EQ(m.negotiatedTLSProtocolVersion, std::optional<std::uint16_t>(0x0303));
  EXPECT_EQ(m.remotePort, server().tls12Port());
}

TEST_F(NginxIntegration, ConcurrentRequestsMultiplexOverOneConnection) {
  auto session = makeSession(server().caFile());
  const std::vector<std::string> urls(20, server().httpsURL("/connection"));
  const auto fetched = fetchAll(*session, urls);

  std::set<std::string> serverConnections;  // nginx's serial number of each request's connection
  std::set<int> localPorts;
  int fresh = 0;
  for (const auto& f : fetched) {
    ASSERT_NO_FATAL_FAILURE(expectSucceeded(f));
    serverConnections.insert(f.body());
    const auto& m = f.transaction();
    EXPECT_EQ(m.networkProtocolName, "h2");
    if (m.localPort) localPorts.insert(*m.localPort);
    if (!m.isReusedConnection) ++fresh;
  }
  EXPECT_EQ(serverConnections.size(), 1u) << "requests were spread over several connections";
  EXPECT_EQ(localPorts.size(), 1u);
  EXPECT_EQ(fresh, 1) << "exactly the transaction that opened the connection is not reused";
}

TEST_F(NginxIntegration, CertificateFromAnUntrustedCAFailsVerification) {
  // Trusting only an unrelated CA, and the system store (which lacks the test CA), both fail.
  for (const auto& trusted : {std::optional<std::filesystem::path>(server().untrustedCAFile()),
                              std::optional<std::filesystem::path>()}) {
    SCOPED_TRACE(trusted ? "untrusted CA" : "system store");
    auto session = makeSession(trusted);
    const auto url = server().httpsURL("/envelope");
    const auto f = fetch(*session, url);
    ASSERT_TRUE(f.outcome && f.outcome->error);
    const auto& error = *f.outcome->error;
    EXPECT_EQ(error.domain(), NSURLErrorDomain);
    EXPECT_EQ(error.code(), NSURLErrorServerCertificateUntrusted) << error.description();
    EXPECT_FALSE(f.outcome->data.has_value() && !f.outcome->data->empty());
    ASSERT_TRUE(error.userInfo().has_value());
    EXPECT_EQ(error.userInfo()->string(NSURLErrorFailingURLStringErrorKey), url);
    const auto underlying = error.underlyingError();
    ASSERT_TRUE(underlying.has_value());
    EXPECT_EQ(underlying->domain(), CURLErrorDomain);
    EXPECT_EQ(underlying->code(), kCurlPeerFailedVerification) << underlying->description();
  }
}

TEST_F(NginxIntegration, CertificateNamesMustMatchTheHost) {
  // Names are mapped to loopback by the session's resolver; nothing leaves 127.0.0.1.
  auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
  config.trustedCAFile = server().caFile();
  config.hostResolver = [](const std::string&) {
    return std::optional<std::vector<std::string>>(std::vector<std::string>{"127.0.0.1"});
  };
  auto session = makeSession(std::move(config));
  const auto port = std::to_string(server().httpsPort());

  const auto named = fetch(*session, "https://localhost:" + port + "/envelope");
  ASSERT_NO_FATAL_FAILURE(expectSucceeded(named));
  EXPECT_EQ(named.body(), NginxServer::kEnvelope);
  EXPECT_EQ(named.transaction().remoteAddress, "127.0.0.1");

  const auto other = fetch(*session, "https://not-in-the-certificate.test:" + port + "/envelope");
  ASSERT_TRUE(other.outcome && other.outcome->error);
  EXPECT_EQ(other.outcome->error->code(), NSURLErrorServerCertificateUntrusted)
      << other.outcome->error->description();
}

TEST_F(NginxIntegration, PlainHTTPListenerKeepsTheConnectionAlive) {
  auto session = makeSession(std::nullopt);
  std::vector<Fetched> fetched;
  for (int i = 0; i < 3; ++i) fetched.push_back(fetch(*session, server().httpURL("/connection")));

  std::set<std::string> serverConnections;
  std::set<int> localPorts;
  for (std::size_t i = 0; i < fetched.size(); ++i) {
    SCOPED_TRACE("request " + std::to_string(i));
    ASSERT_NO_FATAL_FAILURE(expectSucceeded(fetched[i]));
    serverConnections.insert(fetched[i].body());
    const auto& m = fetched[i].transaction();
    EXPECT_EQ(m.networkProtocolName, "http/1.1");
    EXPECT_EQ(m.isReusedConnection, i > 0);
    EXPECT_FALSE(m.negotiatedTLSProtocolVersion.has_value());
    EXPECT_EQ(m.remoteAddress, "127.0.0.1");
    EXPECT_EQ(m.remotePort, server().httpPort());
    if (m.localPort) localPorts.insert(*m.localPort);
  }
  EXPECT_EQ(serverConnections.size(), 1u);
  EXPECT_EQ(localPorts.size(), 1u);

  const auto envelope = fetch(*session, server().httpURL("/envelope"));
  ASSERT_NO_FATAL_FAILURE(expectSucceeded(envelope));
  EXPECT_EQ(envelope.body(), NginxServer::kEnvelope);
}

TEST_F(NginxIntegration, ServerIsStoppedByPidAndItsDirectoryRemoved) {
  pid_t pid = -1;
  std::filesystem::path directory;
  std::uint16_t port = 0;
  {
    NginxServer own(NginxServer::Options{.plainHTTPListener = false});
    pid = own.pid();
    directory = own.directory();
    port = own.httpsPort();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::kill(pid, 0), 0);
    EXPECT_TRUE(std::filesystem::exists(own.caFile()));
    EXPECT_THROW((void)own.httpURL("/"), std::logic_error);
    auto session = makeSession(own.caFile());
    expectSucceeded(fetch(*session, own.httpsURL("/")));
  }
  // Reaped, so the PID no longer names a process (barring immediate reuse).
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_FALSE(std::filesystem::exists(directory));
  auto session = makeSession(server().caFile());
  const auto refused = fetch(*session, "https://127.0.0.1:" + std::to_string(port) + "/");
  ASSERT_TRUE(refused.outcome && refused.outcome->error);
  EXPECT_EQ(refused.outcome->error->code(), NSURLErrorCannotConnectToHost);
}

}  // namespace
}  // namespace zel

namespace zel {
namespace {

// Pinning: the session accepts the server only when its public key is the pinned one.
TEST_F(NginxIntegration, PinnedPublicKeyMustMatchTheServersKey) {
  const auto dir = server().directory();
  const auto pinned = dir / "pinned.pem";
  const auto other = dir / "other.pem";
  const std::string makePinned = "openssl pkey -in '" + (dir / "server.key").string() +
                                 "' -pubout -out '" + pinned.string() + "' 2>/dev/null";
  const std::string makeOther =
      "openssl ecparam -name prime256v1 -genkey -noout 2>/dev/null | "
      "openssl pkey -pubout -out '" +
      other.string() + "' 2>/dev/null";
  ASSERT_EQ(std::system(makePinned.c_str()), 0);
  ASSERT_EQ(std::system(makeOther.c_str()), 0);

  auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
  config.trustedCAFile = server().caFile();
  config.pinnedPublicKeys = pinned.string();
  auto pinnedSession = makeSession(config);
  expectSucceeded(fetch(*pinnedSession, server().httpsURL("/envelope")));

  config.pinnedPublicKeys = other.string();
  auto wrongSession = makeSession(config);
  const auto refused = fetch(*wrongSession, server().httpsURL("/envelope"));
  ASSERT_TRUE(refused.outcome && refused.outcome->error);
  EXPECT_EQ(refused.outcome->error->code(), NSURLErrorServerCertificateUntrusted);
}

}  // namespace
}  // namespace zel

namespace zel {
namespace {

// Servers of their own: a certificate out of its dates, connections retired every 3 requests.
std::unique_ptr<NginxServer> startNginx(NginxServer::Options options) {
  if (!NginxServer::available()) return nullptr;
  return std::make_unique<NginxServer>(options);
}

TEST(NginxServers, CertificatesOutOfTheirDatesGiveTheirOwnCodes) {
  using Validity = NginxServer::CertificateValidity;
  for (const auto& [validity, code] :
       {std::pair{Validity::Expired, NSURLErrorServerCertificateHasBadDate},
        std::pair{Validity::NotYetValid, NSURLErrorServerCertificateNotYetValid}}) {
    const auto server = startNginx({.plainHTTPListener = false, .serverCertificate = validity});
    if (!server) GTEST_SKIP() << "nginx or openssl is not installed";
    auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
    config.trustedCAFile = server->caFile();
    auto session = URLSession::sessionWithConfiguration(config);
    OutcomeWaiter waiter;
    session->dataTaskWithRequest(requestFor(server->httpsURL("/envelope")), waiter.handler())
        ->resume();
    const auto outcome = waiter.wait();
    ASSERT_TRUE(outcome && outcome->error);
    EXPECT_EQ(outcome->error->code(), code) << outcome->error->description();
  }
}

TEST(NginxServers, ConnectionsRetiredByGoawayFailNoRequest) {
  const auto server = startNginx({.plainHTTPListener = false, .keepaliveRequests = 3});
  if (!server) GTEST_SKIP() << "nginx or openssl is not installed";
  auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
  config.trustedCAFile = server->caFile();
  auto session = URLSession::sessionWithConfiguration(config);
  int failures = 0;
  std::string firstFailure;
  for (int round = 0; round < 10; ++round) {
    std::vector<OutcomeWaiter> waiters(30);
    for (auto& waiter : waiters) {
      session->dataTaskWithRequest(requestFor(server->httpsURL("/envelope")), waiter.handler())
          ->resume();
    }
    for (auto& waiter : waiters) {
      const auto outcome = waiter.wait();
      const bool ok = outcome && !outcome->error && outcome->data &&
                      outcome->data->stringView() == NginxServer::kEnvelope;
      if (!ok && failures++ == 0) {
        firstFailure = outcome && outcome->error ? outcome->error->description() : "no outcome";
      }
    }
  }
  EXPECT_EQ(failures, 0) << "first: " << firstFailure;
}

}  // namespace
}  // namespace zel
