// What the session does with bad requests, refused connections and misbehaving servers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include "support/RecordingDelegate.h"
#include "zel/testing/MockServer.h"
#include "zel/transport/URLError.h"

namespace zel {
namespace {

using namespace std::chrono_literals;
using test::OutcomeWaiter;

using test::requestFor;

std::optional<test::Outcome> run(const std::shared_ptr<URLSession>& session, URLRequest request) {
  return test::run(*session, std::move(request));
}

std::int64_t errorCode(const std::optional<test::Outcome>& outcome) {
  if (!outcome) return 0;
  return outcome->error ? outcome->error->code() : 0;
}

// A loopback port nobody listens on: bound, then closed.
int unusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

TEST(URLSessionFaults, BadRequestsAreNeverSent) {
  MockServer server;
  auto session = URLSession::sessionWithConfiguration({});

  EXPECT_EQ(errorCode(run(session, URLRequest())), NSURLErrorBadURL);
  EXPECT_EQ(errorCode(run(session, requestFor("ftp://127.0.0.1/file"))), NSURLErrorUnsupportedURL);
  EXPECT_EQ(errorCode(run(session, requestFor("relative/path"))), NSURLErrorUnsupportedURL);

  for (const std::string& value :
       std::vector<std::string>{"a\r\nX-Injected: 1", "a\nb", std::string("a\0b", 3)}) {
    auto request = requestFor(server.url("/x"));
    request.setValue(value, "X-Value");
    const auto outcome = run(session, request);
    ASSERT_EQ(errorCode(outcome), NSURLErrorBadURL);
    EXPECT_NE(outcome->error->localizedDescription().find("X-Value"), std::string::npos);
  }
  auto badName = requestFor(server.url("/x"));
  badName.setValue(std::string("v"), "X Bad:Name");
  EXPECT_EQ(errorCode(run(session, badName)), NSURLErrorBadURL);
  auto badMethod = requestFor(server.url("/x"));
  badMethod.setHTTPMethod("GET /evil HTTP/1.1\r\n");
  EXPECT_EQ(errorCode(run(session, badMethod)), NSURLErrorBadURL);
  EXPECT_TRUE(server.requests().empty());
}

TEST(URLSessionFaults, RefusedConnectionAndUnknownHost) {
  auto session = URLSession::sessionWithConfiguration({});
  const auto refused =
      run(session, requestFor("http://127.0.0.1:" + std::to_string(unusedPort()) + "/"));
  ASSERT_EQ(errorCode(refused), NSURLErrorCannotConnectToHost);
  EXPECT_EQ(refused->error->localizedDescription(), "Could not connect to the server.");
  const auto underlying = refused->error->underlyingError();
  ASSERT_TRUE(underlying.has_value());
  EXPECT_EQ(underlying->domain(), CURLErrorDomain);
  EXPECT_TRUE(refused->error->userInfo()->string(NSURLErrorFailingURLStringErrorKey).has_value());

  // Names resolve through the configuration's resolver, so nothing leaves the machine.
  URLSessionConfiguration config;
  config.hostResolver = [](const std::string& host) -> std::optional<std::vector<std::string>> {
    if (host == "api.test") return std::vector<std::string>{"127.0.0.1"};
    return std::nullopt;
  };
  MockServer server;
  server.route("/ok", MockResponse{.body = "resolved"});
  auto resolving = URLSession::sessionWithConfiguration(config);
  const auto unknown = run(resolving, requestFor("http://nowhere.test/"));
  ASSERT_EQ(errorCode(unknown), NSURLErrorCannotFindHost);
  EXPECT_EQ(unknown->error->localizedDescription(),
            "A server with the specified hostname could not be found.");
  const auto found =
      run(resolving, requestFor("http://api.test:" + std::to_string(server.port()) + "/ok"));
  ASSERT_TRUE(found && !found->error) << found->error->description();
  EXPECT_EQ(found->data->stringView(), "resolved");
  EXPECT_EQ(server.requests().at(0).headers.value("Host"),
            "api.test:" + std::to_string(server.port()));
}

TEST(URLSessionFaults, MisbehavingServersNeverCrashOrHang) {
  MockServer server;
  server.route("/truncated", MockResponse{.body = std::string(1000, 't'), .truncateAfter = 10});
  server.route("/reset", MockResponse{.closeWithoutResponse = true});
  server.route("/garbage", MockResponse{.rawBytes = std::string("SPDY/9 banana\r\n\r\n"),
                                            .closeConnection = true});
  server.route("/huge", MockResponse{.headers = {{"X-Huge", std::string(300 * 1024, 'h')}},
                                         .body = "x"});
  server.route("/fine", MockResponse{.body = "still fine"});
  auto session = URLSession::sessionWithConfiguration({});

  EXPECT_EQ(errorCode(run(session, requestFor(server.url("/truncated")))),
            NSURLErrorNetworkConnectionLost);
  EXPECT_EQ(errorCode(run(session, requestFor(server.url("/reset")))),
            NSURLErrorNetworkConnectionLost);
  const auto garbage = errorCode(run(session, requestFor(server.url("/garbage"))));
  EXPECT_TRUE(garbage == NSURLErrorCannotParseResponse || garbage == NSURLErrorBadServerResponse)
      << garbage;
  const auto huge = errorCode(run(session, requestFor(server.url("/huge"))));
  EXPECT_NE(huge, 0);
  // The session is unharmed.
  const auto fine = run(session, requestFor(server.url("/fine")));
  ASSERT_TRUE(fine && !fine->error)
      << (fine && fine->error ? fine->error->description() + " / " +
                                    fine->error->underlyingError()->localizedDescription()
                              : "");
  EXPECT_EQ(fine->data->stringView(), "still fine");
}

TEST(URLSessionErrors, CurlResultsMapToPlatformCodes) {
  EXPECT_EQ(NSURLErrorCodeForCurlCode(CURLE_COULDNT_RESOLVE_HOST), NSURLErrorCannotFindHost);
  EXPECT_EQ(NSURLErrorCodeForCurlCode(CURLE_COULDNT_CONNECT), NSURLErrorCannotConnectToHost);
  EXPECT_EQ(NSURLErrorCodeForCurlCode(CURLE_COULDNT_CONNECT, ENETUNREACH),
            NSURLErrorNotConnectedToInternet);
  EXPECT_EQ(NSURLErrorCodeForCurlCode(CURLE_OPERATION_TIMEDOUT), NSURLErrorTimedOut);
  EXPECT_EQ(NSURLErrorCodeForCurlCode(CURLE_PEER_FAILED_VERIFICATION),
            NSURLErrorServerCertificateUntrusted);
  EXPECT_EQ(NSURLErrorCodeForCurlCode(CURLE_SSL_CONNECT_ERROR), NSURLErrorSecureConnectionFailed);
  EXPECT_EQ(NSURLErrorCodeForCurlCode(CURLE_RECV_ERROR), NSURLErrorNetworkConnectionLost);
  EXPECT_EQ(makeURLError(NSURLErrorCancelled, "http://a/").localizedDescription(), "cancelled");
}

}  // namespace
}  // namespace zel
