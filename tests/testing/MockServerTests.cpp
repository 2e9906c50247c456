#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "zel/platform/Json.h"
#include "zel/testing/MockServer.h"

namespace zel::test {
namespace {

using namespace std::chrono_literals;

// A deliberately dumb client, so the tests see exactly the bytes the server wrote.
class RawClient {
 public:
  explicit RawClient(std::uint16_t port, bool ipv6 = false) {
    fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int connected = -1;
    if (ipv6) {
      sockaddr_in6 address{};
      address.sin6_family = AF_INET6;
      address.sin6_port = htons(port);
      address.sin6_addr = in6addr_loopback;
      connected = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } else {
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(port);
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      connected = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    EXPECT_EQ(connected, 0) << "connect to port " << port;
  }
  ~RawClient() { ::close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  void send(std::string_view bytes) {
    EXPECT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }

  /// Reads until `marker` has arrived (everything when empty) or the peer closes. A server
  /// that neither answers nor closes within 2 s ends the read with what arrived.
  std::string readUntil(std::string_view marker = {}) {
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (marker.empty() || received_.find(marker) == std::string::npos) {
      pollfd fds{fd_, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || ::poll(&fds, 1, static_cast<int>(left.count())) <= 0) break;
      char chunk[4096];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) {
        closed_ = true;
        break;
      }
      received_.append(chunk, static_cast<std::size_t>(n));
    }
    const auto end = marker.empty() ? std::string::npos : received_.find(marker);
    const auto taken = end == std::string::npos ? received_.size() : end + marker.size();
    std::string out = received_.substr(0, taken);
    received_.erase(0, taken);
    return out;
  }
  std::string readToEnd() { return readUntil(); }
  /// True once a read saw end of stream or a reset.
  [[nodiscard]] bool closed() const { return closed_; }

 private:
  int fd_ = -1;
  std::string received_;
  bool closed_ = false;
};

std::string get(std::string_view target, std::string_view extra = {}) {
  return "GET " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + std::string(extra) +
         "\r\n";
}

TEST(MockServer, KeepAliveServesSeveralRequestsOnOneConnection) {
  MockServer server;
  server.route("/a", MockResponse{.body = "one"});
  const std::string expected = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\none";
  {
    RawClient client(server.port());
    client.send(get("/a"));
    EXPECT_EQ(client.readUntil("one"), expected);
    client.send(get("/a?second"));
    EXPECT_EQ(client.readUntil("one"), expected);
    RawClient other(server.port());
    other.send(get("/missing"));
    EXPECT_EQ(other.readUntil("\r\n\r\n"), "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  }
  ASSERT_TRUE(server.waitForRequests(3, 2s));
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].connectionId, 1u);
  EXPECT_EQ(requests[1].connectionId, 1u);
  EXPECT_EQ(requests[0].indexOnConnection, 0u);
  EXPECT_EQ(requests[1].indexOnConnection, 1u);
  EXPECT_EQ(requests[1].path, "/a");
  EXPECT_EQ(requests[1].query, "second");
  EXPECT_EQ(requests[2].connectionId, 2u);
  EXPECT_EQ(requests[2].indexOnConnection, 0u);
  EXPECT_EQ(server.connectionCount(), 2u);
  EXPECT_FALSE(server.waitForRequests(4, 10ms));
  EXPECT_EQ(server.url("x?y"), server.baseURL() + "/x?y");
  EXPECT_EQ(server.baseURL(), "http://127.0.0.1:" + std::to_string(server.port()));
}

TEST(MockServer, QueueAnswersFirstThenRoutesThenTheFallbackOverIPv6) {
  MockServer server(MockServer::Loopback::IPv6);
  EXPECT_EQ(server.baseURL(), "http://[::1]:" + std::to_string(server.port()));
  server.route("/a", MockResponse{.body = "route"});
  server.fallback([](const MockRequest& request) { return MockResponse{.body = request.path}; });
  server.enqueue(MockResponse{.status = 503});
  server.enqueue(MockResponse{.body = "second"});
  RawClient client(server.port(), /*ipv6=*/true);
  const auto answer = [&](const std::string& path, std::string_view end) {
    client.send(get(path));
    return client.readUntil(end);
  };
  EXPECT_EQ(answer("/a", "\r\n\r\n"),
            "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(answer("/other", "second"), "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond");
  EXPECT_EQ(answer("/a", "route"), "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nroute");
  EXPECT_EQ(answer("/b", "/b"), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n/b");
}

TEST(MockServer, EchoDescribesTheRequestAsJSON) {
  MockServer server;
  server.route("/echo", MockResponse{.echoRequest = true});
  RawClient client(server.port());
  client.send(
      "POST /echo?x=1&y=2 HTTP/1.1\r\nHost: h\r\nX-Test:  a b \r\nContent-Length: 5\r\n"
      "Connection: close\r\n\r\nhello");
  const std::string response = client.readToEnd();
  const auto split = response.find("\r\n\r\n");
  ASSERT_NE(split, std::string::npos) << response;
  EXPECT_NE(response.substr(0, split).find("\r\nContent-Type: application/json\r\n"),
            std::string::npos);
  EXPECT_NE(response.substr(0, split).find("\r\nConnection: close"), std::string::npos);
  const auto json = jsonObjectWithData(response.substr(split + 4));
  ASSERT_TRUE(json.ok()) << response;
  const auto& object = json.value().as_object();
  EXPECT_EQ(object.at("method"), "POST");
  EXPECT_EQ(object.at("target"), "/echo?x=1&y=2");
  EXPECT_EQ(object.at("path"), "/echo");
  EXPECT_EQ(object.at("query"), "x=1&y=2");
  EXPECT_EQ(object.at("headers").at("X-Test"), "a b");
  EXPECT_EQ(object.at("body"), "hello");
  EXPECT_EQ(object.at("connectionId"), 1);
  EXPECT_TRUE(client.closed());
}

// Each script as bytes on the wire, and whether the server closed afterwards.
TEST(MockServer, ScriptsAreExactOnTheWire) {
  struct Case {
    const char* path;
    MockResponse script;
    std::string wire;
  };
  const std::vector<Case> cases = {
      {"/chunked",
       {.headers = {{"X-A", "1"}},
        .bodyPieces = {"Hello, ", "", "world!"},
        .delayBetweenPieces = 5ms,
        .chunked = true,
        .closeConnection = true},
       "HTTP/1.1 200 OK\r\nX-A: 1\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
       "7\r\nHello, \r\n6\r\nworld!\r\n0\r\n\r\n"},
      {"/short",
       {.body = "0123456789", .truncateAfter = 4},
       "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123"},
      {"/short-chunked",
       {.bodyPieces = {"abc", "defg"}, .chunked = true, .truncateAfter = 5},
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n4\r\nde"},
      {"/raw", {.rawBytes = "HTTP/9 what\r\n\r\n", .closeConnection = true}, "HTTP/9 what\r\n\r\n"},
      {"/reset", {.closeWithoutResponse = true}, ""},
  };
  MockServer server;
  for (const auto& c : cases) server.route(c.path, c.script);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    RawClient client(server.port());
    client.send(get(c.path));
    EXPECT_EQ(client.readToEnd(), c.wire);
    EXPECT_TRUE(client.closed());
  }
  EXPECT_EQ(server.requests().size(), cases.size());
}

TEST(MockServer, StopReturnsQuicklyWithIdleAndPendingConnections) {
  MockServer server;
  server.route("/slow", MockResponse{.body = "late", .delayBeforeHead = 30s});
  RawClient idle(server.port());
  RawClient waiting(server.port());
  waiting.send(get("/slow"));
  ASSERT_TRUE(server.waitForRequests(1, 2s));
  const auto start = std::chrono::steady_clock::now();
  server.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(waiting.readToEnd(), "");
  EXPECT_TRUE(waiting.closed());
  EXPECT_EQ(idle.readToEnd(), "");
  EXPECT_TRUE(idle.closed());
  EXPECT_EQ(server.connectionCount(), 2u);
  server.stop();
}

}  // namespace
}  // namespace zel::test
