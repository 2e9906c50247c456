#pragma once
// A scripted HTTP/1.1 server on the loopback interface for transport and end-to-end tests.
//
// Raw sockets and one thread per connection, so a test can script faults byte by byte:
// delays, bodies written in pieces, truncated bodies, garbage on the wire, abrupt resets.
// Every wait watches a stop flag, so stop() and the destructor return promptly even while a
// client holds a connection open or a delayed response is pending.

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

namespace zel::test {

struct ReceivedRequest {
  std::string method;
  std::string target;  // as on the request line
  std::string path;    // target without "?query"
  std::string query;   // after the first '?', without it
  std::string httpVersion;
  zel::HTTPHeaders headers;           // repeated fields joined with ", "
  std::string body;                   // de-chunked when the request used chunked transfer encoding
  std::size_t connectionId = 0;       // 1, 2, ... in accept order: shows keep-alive reuse
  std::size_t indexOnConnection = 0;  // 0 for the first request on its connection
};

struct ScriptedResponse {
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

using Handler = std::function<ScriptedResponse(const ReceivedRequest&)>;

class TestServer {
 public:
  /// Binds 127.0.0.1 on an ephemeral port and starts accepting. Throws std::system_error
  /// when the socket cannot be set up.
  TestServer();
  /// Binds ::1 instead when ipv6Loopback is true.
  explicit TestServer(bool ipv6Loopback);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  [[nodiscard]] std::uint16_t port() const;
  /// "http://127.0.0.1:<port>" or "http://[::1]:<port>".
  [[nodiscard]] std::string baseURL() const;
  /// baseURL() followed by pathAndQuery (a leading '/' is added when missing).
  [[nodiscard]] std::string url(std::string_view pathAndQuery) const;

  /// Exact match on the path; replaces an earlier route for the same path.
  void route(std::string path, ScriptedResponse response);
  /// The handler may be called concurrently from connection threads. If it throws, the
  /// client gets a 500 whose body is the exception's text.
  void route(std::string path, Handler handler);

  /// Every request read so far (before its handler ran), in arrival order.
  [[nodiscard]] std::vector<ReceivedRequest> requests() const;
  /// Connections accepted and served so far (refused ones over the limit are not counted).
  [[nodiscard]] std::size_t connectionCount() const;
  /// True as soon as at least `count` requests have arrived; false after the timeout or stop.
  [[nodiscard]] bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

  /// Closes the listener and every connection and joins every thread. Idempotent.
  void stop();

  static constexpr std::size_t kMaxConnections = 256;
  static constexpr std::size_t kMaxHeadBytes = 64 * 1024;
  static constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zel::test
