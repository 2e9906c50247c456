// The session against hostile or merely ordinary peers: heads cut short, oversized heads and
// bodies, compression bombs, framing fields smuggled by the caller, text that would inject
// header lines, slow delegates, servers that drop idle connections, redirects to other origins,
// and sessions dropped while their delegate tasks run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <thread>

#include "support/RecordingDelegate.h"
#include "zel/testing/MockServer.h"
#include "zel/foundation/ZELDataAdditions.h"
#include "zel/transport/URLError.h"

namespace zel {
namespace {

using namespace std::chrono_literals;
using test::OutcomeWaiter;
using test::requestFor;
using test::run;

std::string describe(const std::optional<test::Outcome>& outcome) {
  if (!outcome) return "no outcome";
  if (!outcome->error) return "success";
  return std::to_string(outcome->error->code()) + " " + outcome->error->localizedDescription();
}

std::string gzipOfZeros(std::size_t size) {
  return std::string(zel_gzippedData(Data(std::string(size, '\0')))->stringView());
}

TEST(HostilePeers, EveryBadResponseEndsWithItsOwnError) {
  MockServer server;
  const std::string fiveMiB(5 << 20, 'b');
  struct Case {
    const char* path;
    MockResponse response;
    std::int64_t code;
    const char* description;  // a part of the error's description
  };
  const std::vector<Case> cases = {
      {"/status-line-only",
       {.rawBytes = "HTTP/1.1 200 OK\r\n", .closeConnection = true},
       NSURLErrorNetworkConnectionLost,
       "before the response head was complete"},
      {"/fields-then-close",
       {.rawBytes = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n", .closeConnection = true},
       NSURLErrorNetworkConnectionLost,
       "before the response head was complete"},
      {"/malformed-field",
       {.rawBytes = "HTTP/1.1 200 OK\r\nno colon\r\n\r\n", .closeConnection = true},
       NSURLErrorCannotParseResponse,
       "cannot parse"},
      {"/ten-megabyte-line",
       {.rawBytes = "HTTP/1.1 200 OK\r\nX-Big: " + std::string(10 << 20, 'h') + "\r\n\r\n",
        .closeConnection = true},
       NSURLErrorBadServerResponse,
       "bad response"},
      {"/many-lines",
       {.headers = std::vector<std::pair<std::string, std::string>>(
            3000, {"X-Line", std::string(100, 'l')}),
        .body = "x"},
       NSURLErrorBadServerResponse,
       "bad response"},
      {"/gzip-bomb",
       {.headers = {{"Content-Encoding", "gzip"}}, .body = gzipOfZeros(8 << 20)},
       NSURLErrorDataLengthExceedsMaximum,
       "expands more than 256 times"},
      {"/announced-too-long",
       {.body = fiveMiB},
       NSURLErrorDataLengthExceedsMaximum,
       "(5242880 bytes) is larger than the session's limit of 4194304 bytes"},
      {"/chunked-too-long",
       {.body = fiveMiB, .chunked = true},
       NSURLErrorDataLengthExceedsMaximum,
       "larger than the session's limit of 4194304 bytes"},
      {"/truncated-body",
       {.body = std::string(1000, 't'), .truncateAfter = 10},
       NSURLErrorNetworkConnectionLost,
       "connection was lost"},
  };
  auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
  config.maximumResponseBodyBytes = 4 << 20;
  auto session = URLSession::sessionWithConfiguration(config);
  for (const auto& c : cases) {
    server.route(c.path, c.response);
    const auto outcome = run(*session, requestFor(server.url(c.path)));
    ASSERT_TRUE(outcome && outcome->error) << c.path << ": " << describe(outcome);
    EXPECT_EQ(outcome->error->code(), c.code) << c.path << ": " << describe(outcome);
    EXPECT_NE(outcome->error->localizedDescription().find(c.description), std::string::npos)
        << c.path << ": " << describe(outcome);
  }
  // Within the limits, the same session still reads a compressed body.
  server.route("/fine", MockResponse{.headers = {{"Content-Encoding", "gzip"}},
                                         .body = gzipOfZeros(1 << 20)});
  const auto fine = run(*session, requestFor(server.url("/fine")));
  ASSERT_EQ(describe(fine), "success");
  EXPECT_EQ(fine->data->size(), 1u << 20);
}

TEST(HostilePeers, TextThatWouldInjectLinesIsRefusedAndFramingIsTheSessionsOwn) {
  MockServer server;
  server.route("/echo", MockResponse{.echoRequest = true});
  auto refusedWith = [&](URLSessionConfiguration config, URLRequest request) {
    auto session = URLSession::sessionWithConfiguration(std::move(config));
    const auto outcome = run(*session, std::move(request));
    return outcome && outcome->error ? outcome->error->code() : 0;
  };
  auto nulMethod = requestFor(server.url("/echo"));
  nulMethod.setHTTPMethod(std::string("GE\0T", 4));
  EXPECT_EQ(refusedWith({}, nulMethod), NSURLErrorBadURL);
  auto headWithBody = requestFor(server.url("/echo"));
  headWithBody.setHTTPMethod("HEAD");
  headWithBody.setHTTPBody(Data::copy(std::string_view("body")));
  EXPECT_EQ(refusedWith({}, headWithBody), NSURLErrorBadURL);
  URLSessionConfiguration badAgent;
  badAgent.userAgent = "agent\r\nX-Injected: 1";
  EXPECT_EQ(refusedWith(badAgent, requestFor(server.url("/echo"))), NSURLErrorBadURL);
  URLSessionConfiguration badExtra;
  badExtra.HTTPAdditionalHeaders.set("X-Extra", std::string("a\0b", 3));
  EXPECT_EQ(refusedWith(badExtra, requestFor(server.url("/echo"))), NSURLErrorBadURL);
  EXPECT_TRUE(server.requests().empty());

  // Framing fields from the caller are never sent: the body arrives whole, as one request.
  URLSessionConfiguration config;
  config.HTTPAdditionalHeaders.set("Connection", "close");
  auto session = URLSession::sessionWithConfiguration(config);
  for (const char* method : {"POST", "GET"}) {
    auto request = requestFor(server.url("/echo"));
    request.setHTTPMethod(method);
    request.setValue("0", "Content-Length");
    request.setValue("chunked", "Transfer-Encoding");
    request.setValue("evil.test", "Host");
    request.setHTTPBody(Data::copy(std::string_view("GET /smuggled HTTP/1.1\r\n\r\n")));
    ASSERT_EQ(describe(run(*session, request)), "success") << method;
  }
  const auto received = server.requests();
  ASSERT_EQ(received.size(), 2u) << "a second request was smuggled";
  for (const auto& r : received) {
    EXPECT_EQ(r.body, "GET /smuggled HTTP/1.1\r\n\r\n") << r.method;
    EXPECT_EQ(r.headers.value("Content-Length"), "26") << r.method;
    EXPECT_FALSE(r.headers.contains("Transfer-Encoding"));
    EXPECT_EQ(r.headers.value("Host"), "127.0.0.1:" + std::to_string(server.port()));
  }
  EXPECT_EQ(received[1].method, "GET");
  EXPECT_EQ(received[0].connectionId, received[1].connectionId) << "Connection: close was sent";
}

// Counts the endings of every task and takes body pieces slowly, measuring what waits for it.
class SlowCountingDelegate : public URLSessionDelegate {
 public:
  std::function<void()> onResponse;
  std::chrono::milliseconds delayPerPiece{0};

  void didReceiveResponse(URLSession&, const std::shared_ptr<URLSessionDataTask>&,
                          const std::shared_ptr<const URLResponse>&,
                          std::function<void(URLSessionResponseDisposition)> handler) override {
    if (onResponse) onResponse();
    handler(URLSessionResponseDisposition::Allow);
  }
  void didReceiveData(URLSession&, const std::shared_ptr<URLSessionDataTask>& task,
                      const Data& data) override {
    std::this_thread::sleep_for(delayPerPiece);
    std::lock_guard lock(mutex_);
    consumed_ += static_cast<std::int64_t>(data.size());
    largestPiece_ = std::max(largestPiece_, data.size());
    largestBacklog_ = std::max(largestBacklog_, task->countOfBytesReceived() - consumed_);
  }
  void didCompleteWithError(URLSession&, const std::shared_ptr<URLSessionTask>& task,
                            const std::optional<Error>& error) override {
    std::lock_guard lock(mutex_);
    endings_[task->taskIdentifier()].push_back(error ? error->code() : 0);
    changed_.notify_all();
  }

  std::map<std::uint64_t, std::vector<std::int64_t>> waitForEndings(std::size_t tasks) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 10s, [&] { return endings_.size() >= tasks; });
    std::this_thread::sleep_for(50ms);  // a second ending would arrive now
    return endings_;
  }
  std::size_t largestPiece() {
    std::lock_guard lock(mutex_);
    return largestPiece_;
  }
  std::int64_t largestBacklog() {
    std::lock_guard lock(mutex_);
    return largestBacklog_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::uint64_t, std::vector<std::int64_t>> endings_;
  std::int64_t consumed_ = 0;
  std::size_t largestPiece_ = 0;
  std::int64_t largestBacklog_ = 0;
};

TEST(HostilePeers, ASlowDelegateGetsBoundedPiecesAndPausesTheTransfer) {
  MockServer server;
  server.route("/big", MockResponse{.body = std::string(24 << 20, 'z')});
  server.route("/bomb", MockResponse{.headers = {{"Content-Encoding", "gzip"}},
                                         .body = gzipOfZeros(64 << 20)});
  auto delegate = std::make_shared<SlowCountingDelegate>();
  delegate->delayPerPiece = 3ms;
  auto session = URLSession::sessionWithConfiguration({}, delegate);
  auto big = session->dataTaskWithRequest(requestFor(server.url("/big")));
  big->resume();
  auto bomb = session->dataTaskWithRequest(requestFor(server.url("/bomb")));
  bomb->resume();
  const auto endings = delegate->waitForEndings(2);
  ASSERT_EQ(endings.size(), 2u);
  EXPECT_EQ(endings.at(big->taskIdentifier()), std::vector<std::int64_t>{0});
  EXPECT_EQ(endings.at(bomb->taskIdentifier()),
            std::vector<std::int64_t>{NSURLErrorDataLengthExceedsMaximum});
  EXPECT_EQ(big->countOfBytesReceived(), 24 << 20);
  EXPECT_LE(delegate->largestPiece(), 1u << 20);
  EXPECT_LE(delegate->largestBacklog(), 6 << 20) << "the transfer did not pause for the delegate";
}

TEST(HostilePeers, EveryDelegateTaskEndsOnceWhenTheLastReferenceGoes) {
  MockServer server;
  server.route("/slow", MockResponse{.body = "late", .delayBeforeHead = 5s});
  server.route("/fast", MockResponse{.body = "now"});
  enum class Drop { WhileRunning, AfterFinishTasksAndInvalidate, InsideACallback };
  for (const auto drop :
       {Drop::WhileRunning, Drop::AfterFinishTasksAndInvalidate, Drop::InsideACallback}) {
    auto delegate = std::make_shared<SlowCountingDelegate>();
    auto session = URLSession::sessionWithConfiguration({}, delegate);
    auto slow = session->dataTaskWithRequest(requestFor(server.url("/slow")));
    const auto sent = server.requests().size();
    slow->resume();
    ASSERT_TRUE(server.waitForRequests(sent + 1, 5s));
    std::size_t tasks = 1;
    if (drop == Drop::InsideACallback) {
      delegate->onResponse = [&session] { session.reset(); };
      session->dataTaskWithRequest(requestFor(server.url("/fast")))->resume();
      tasks = 2;
    } else {
      if (drop == Drop::AfterFinishTasksAndInvalidate) session->finishTasksAndInvalidate();
      session.reset();
    }
    const auto endings = delegate->waitForEndings(tasks);
    ASSERT_EQ(endings.size(), tasks) << static_cast<int>(drop);
    EXPECT_EQ(endings.at(slow->taskIdentifier()), std::vector<std::int64_t>{NSURLErrorCancelled})
        << static_cast<int>(drop);
    EXPECT_EQ(slow->state(), URLSessionTaskState::Completed);
  }
}

TEST(HostilePeers, ServersThatDropIdleConnectionsFailNoRequest) {
  // Each connection serves two requests; the third is dropped unanswered, as when a server
  // closes an idle connection just as the client reuses it.
  MockServer server;
  server.route("/r", [](const MockRequest& request) {
    if (request.indexOnConnection == 2) return MockResponse{.closeWithoutResponse = true};
    return MockResponse{.body = "ok"};
  });
  auto session = URLSession::sessionWithConfiguration({});
  int failures = 0;
  std::string firstFailure;
  for (int i = 0; i < 1000; ++i) {
    const auto outcome = run(*session, requestFor(server.url("/r")));
    if (describe(outcome) != "success" && failures++ == 0) firstFailure = describe(outcome);
  }
  EXPECT_EQ(failures, 0) << "first: " << firstFailure;
}

TEST(HostilePeers, RedirectToAnotherOriginDropsCredentialsWithoutADelegate) {
  MockServer target;
  target.route("/landing", MockResponse{.body = "landed"});
  MockServer origin;
  origin.route("/go",
               MockResponse{.status = 302, .headers = {{"Location", target.url("/landing")}}});
  auto session = URLSession::sessionWithConfiguration({});
  auto request = requestFor(origin.url("/go"));
  request.setValue("Bearer secret", "Authorization");
  request.setValue("session=secret", "Cookie");
  request.setValue("Basic secret", "Proxy-Authorization");
  request.setValue("kept", "X-Other");
  ASSERT_EQ(describe(run(*session, request)), "success");
  ASSERT_EQ(origin.requests().at(0).headers.value("Authorization"), "Bearer secret");
  const auto landed = target.requests().at(0);
  for (const char* field : {"Authorization", "Cookie", "Proxy-Authorization"}) {
    EXPECT_FALSE(landed.headers.contains(field)) << field;
  }
  EXPECT_EQ(landed.headers.value("X-Other"), "kept");
}

}  // namespace
}  // namespace zel
