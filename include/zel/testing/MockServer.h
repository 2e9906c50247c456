#pragma once
// MockServer — a scripted HTTP/1.1 server on the loopback interface, for testing code that talks
// to an API. Link ZELNetworking::testing (pkg-config: zelnetworking-testing).
//
//   zel::MockServer server;
//   server.route("/v3/users/me/", zel::MockResponse{.body = R"({"status":"success"})"});
//   server.enqueue(zel::MockResponse{.status = 503});   // answers the next request, any path
//   … point the client at server.url("/v3/") and run the code under test …
//   ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(5)));
//   EXPECT_EQ(server.requests()[0].headers.valueFor("Authorization"), "Bearer t");
//
// Raw sockets and one thread per connection, so a test can script faults byte by byte: delays,
// bodies written in pieces, truncated bodies, garbage on the wire, lying lengths, resets.
// Connections are kept alive as HTTP/1.1 says. Every wait watches a stop flag, so stop() and the
// destructor return promptly even while a client holds a connection open or a delayed response
// is pending.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zel/platform/HTTPHeaders.h"

namespace zel {

/// One request as the server read it.
struct MockRequest {
  std::string method;
  std::string target;  // as on the request line
  std::string path;    // target without "?query"
  std::string query;   // after the first '?', without it
  std::string httpVersion;
  HTTPHeaders headers;                // repeated fields joined with ", "
  std::string body;                   // de-chunked when the request used chunked transfer encoding
  std::size_t connectionId = 0;       // 1, 2, ... in accept order: shows keep-alive reuse
  std::size_t indexOnConnection = 0;  // 0 for the first request on its connection
};

/// What the server answers. The defaults make "200 OK" with an empty body.
struct MockResponse {
  int status = 200;
  std::string reason{};  // empty: the standard reason phrase
  // Sent first, in order. A Content-Length or Transfer-Encoding given here replaces the one
  // the server would add (to script a lying length); the body framing still follows `chunked`.
  std::vector<std::pair<std::string, std::string>> headers{};
  std::string body{};
  std::chrono::milliseconds delayBeforeHead{0};  // wait before writing anything
  // If non-empty, used instead of body and written one by one.
  std::vector<std::string> bodyPieces{};
  std::chrono::milliseconds delayBetweenPieces{0};  // wait before each piece
  bool chunked = false;  // Transfer-Encoding: chunked, else Content-Length of the full body
  // Announce the full body but close after this many body bytes.
  std::optional<std::size_t> truncateAfter{};
  // Written verbatim instead of a formatted response (garbage status line, huge headers, ...).
  std::optional<std::string> rawBytes{};
  bool closeConnection = false;       // close afterwards (adds "Connection: close" unless raw)
  bool closeWithoutResponse = false;  // read the request, then reset the connection
  // Body becomes {"method","target","path","query","headers":{name:value},"body",
  // "connectionId"} with Content-Type application/json.
  bool echoRequest = false;
};

class MockServer {
 public:
  /// Called on the connection's thread, possibly on several at once. If it throws, the client
  /// gets a 500 whose body is the exception's text.
  using Handler = std::function<MockResponse(const MockRequest&)>;

  enum class Loopback { IPv4, IPv6 };

  /// Binds 127.0.0.1 (or ::1) on an ephemeral port and starts accepting. Throws
  /// std::system_error when the socket cannot be set up.
  explicit MockServer(Loopback loopback = Loopback::IPv4);
  /// Binds the given port (0: an ephemeral one).
  MockServer(Loopback loopback, std::uint16_t port);
  ~MockServer();
  MockServer(const MockServer&) = delete;
  MockServer& operator=(const MockServer&) = delete;

  [[nodiscard]] std::uint16_t port() const;
  /// "http://127.0.0.1:<port>" or "http://[::1]:<port>".
  [[nodiscard]] std::string baseURL() const;
  /// baseURL() followed by pathAndQuery (a leading '/' is added when missing).
  [[nodiscard]] std::string url(std::string_view pathAndQuery) const;

  /// Exact match on the path; replaces an earlier route for the same path.
  void route(std::string path, MockResponse response);
  void route(std::string path, Handler handler);
  /// Answers requests whose path has no route (without one they get 404).
  void fallback(Handler handler);
  /// Queued responses answer the next requests in order, whatever their path, before routes.
  void enqueue(MockResponse response);

  /// Every request read so far (before it was answered), in arrival order.
  [[nodiscard]] std::vector<MockRequest> requests() const;
  /// Connections accepted and served so far (refused ones over the limit are not counted).
  [[nodiscard]] std::size_t connectionCount() const;
  /// True as soon as at least `count` requests have arrived; false after the timeout or stop.
  [[nodiscard]] bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

  /// Closes the listener and every connection and joins every thread. Idempotent.
  void stop();

  static constexpr std::size_t kMaxConnections = 256;
  static constexpr std::size_t kMaxHeadBytes = 64 * 1024;
  static constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace zel
