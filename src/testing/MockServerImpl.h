#pragma once
// The mock server's state, shared by the accept thread and the connection threads.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zel/testing/MockServer.h"

namespace zel {

class MockServer::Impl {
 public:
  Impl(Loopback loopback, std::uint16_t port);
  ~Impl() { stop(); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  void stop();
  [[nodiscard]] bool stopping() const { return stopping_.load(); }
  /// Waits until fd is ready for `events`; false on stop or timeout (negative: none).
  [[nodiscard]] bool waitFor(int fd, short events, int timeoutMs = -1) const;
  /// Sleeps unless stopped first; false when stopped.
  bool sleepFor(std::chrono::milliseconds duration) const;
  void record(const MockRequest& request);
  /// The queued response, else the route's, else the fallback's, else 404.
  [[nodiscard]] MockResponse respond(const MockRequest& request);

  const bool ipv6_;
  std::uint16_t port_ = 0;

  mutable std::mutex mutex_;
  // Signalled on every recorded request and on stop.
  mutable std::condition_variable changed_;
  std::map<std::string, std::shared_ptr<const Handler>, std::less<>> routes_;
  std::shared_ptr<const Handler> fallback_;
  std::deque<MockResponse> queue_;
  std::vector<MockRequest> requests_;
  std::size_t accepted_ = 0;

 private:
  struct Connection {
    std::thread thread;
    bool finished = false;
  };

  /// Fills in an echo body.
  static MockResponse finish(const MockRequest& request, MockResponse response);
  void acceptLoop();
  void reapFinished();
  void closeDescriptors();

  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::atomic<bool> stopping_{false};
  std::map<std::size_t, Connection> connections_;
  std::thread acceptThread_;
  std::mutex stopMutex_;
  bool stopped_ = false;
};

}  // namespace zel
