#include "zel/testing/MockServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "HTTPWire.h"
#include "MockConnection.h"
#include "MockServerImpl.h"

namespace zel {

MockServer::Impl::Impl(Loopback loopback, std::uint16_t port) : ipv6_(loopback == Loopback::IPv6) {
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "MockServer: pipe");
  }
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];

  const auto fail = [this](const char* what) {
    const int error = errno;
    closeDescriptors();
    throw std::system_error(error, std::generic_category(), what);
  };
  listenFd_ = ::socket(ipv6_ ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0) fail("MockServer: socket");
  const int on = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  int bound = -1;
  if (ipv6_) {
    ::setsockopt(listenFd_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(port);
    bound = ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    bound = ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  if (bound != 0) fail("MockServer: bind");
  if (::listen(listenFd_, 512) != 0) fail("MockServer: listen");
  sockaddr_storage local{};
  socklen_t localLength = sizeof local;
  if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) {
    fail("MockServer: getsockname");
  }
  port_ = ntohs(ipv6_ ? reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port
                      : reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

void MockServer::Impl::closeDescriptors() {
  for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void MockServer::Impl::stop() {
  std::lock_guard stopLock(stopMutex_);
  if (stopped_) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  // The pipe stays readable from now on, so every poll() in every thread returns at once.
  [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, "x", 1);
  if (acceptThread_.joinable()) acceptThread_.join();
  std::map<std::size_t, Connection> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& [id, connection] : connections) {
    if (connection.thread.joinable()) connection.thread.join();
  }
  closeDescriptors();
  stopped_ = true;
}

bool MockServer::Impl::waitFor(int fd, short events, int timeoutMs) const {
  pollfd fds[2] = {{fd, events, 0}, {wakeRead_, POLLIN, 0}};
  for (;;) {
    if (stopping()) return false;
    const int ready = ::poll(fds, 2, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && fds[0].revents != 0 && !stopping();
  }
}

bool MockServer::Impl::sleepFor(std::chrono::milliseconds duration) const {
  if (duration.count() <= 0) return !stopping();
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, duration, [this] { return stopping(); });
}

void MockServer::Impl::record(const MockRequest& request) {
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  changed_.notify_all();
}

MockResponse MockServer::Impl::respond(const MockRequest& request) {
  std::shared_ptr<const Handler> handler;
  {
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
      MockResponse queued = std::move(queue_.front());
      queue_.pop_front();
      return finish(request, std::move(queued));
    }
    const auto found = routes_.find(request.path);
    handler = found != routes_.end() ? found->second : fallback_;
  }
  if (!handler) return MockResponse{.status = 404};
  try {
    return finish(request, (*handler)(request));
  } catch (const std::exception& error) {
    return MockResponse{.status = 500, .body = error.what()};
  } catch (...) {
    return MockResponse{.status = 500};
  }
}

MockResponse MockServer::Impl::finish(const MockRequest& request, MockResponse response) {
  if (response.echoRequest) {
    response.body = mockserver::echoJSON(request);
    response.bodyPieces.clear();
    if (!mockserver::scriptHas(response, "Content-Type")) {
      response.headers.emplace_back("Content-Type", "application/json");
    }
  }
  return response;
}

void MockServer::Impl::acceptLoop() {
  while (waitFor(listenFd_, POLLIN)) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: back off instead of spinning on a ready listener.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        sleepFor(std::chrono::milliseconds(10));
      }
      continue;
    }
    reapFinished();
    std::lock_guard lock(mutex_);
    if (stopping() || connections_.size() >= MockServer::kMaxConnections) {
      ::close(fd);
      continue;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const std::size_t id = ++accepted_;
    try {
      connections_[id].thread = std::thread([this, fd, id] {
        mockserver::serveConnection(*this, fd, id);
        std::lock_guard finishedLock(mutex_);
        if (const auto found = connections_.find(id); found != connections_.end()) {
          found->second.finished = true;
        }
      });
    } catch (const std::system_error&) {
      connections_.erase(id);
      --accepted_;
      ::close(fd);
    }
  }
}

void MockServer::Impl::reapFinished() {
  std::vector<std::thread> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (it->second.finished) {
        finished.push_back(std::move(it->second.thread));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& thread : finished) thread.join();
}

MockServer::MockServer(Loopback loopback) : MockServer(loopback, 0) {}

MockServer::MockServer(Loopback loopback, std::uint16_t port)
    : impl_(std::make_unique<Impl>(loopback, port)) {}

MockServer::~MockServer() = default;

std::uint16_t MockServer::port() const {
  return impl_->port_;
}

std::string MockServer::baseURL() const {
  return std::string(impl_->ipv6_ ? "http://[::1]:" : "http://127.0.0.1:") +
         std::to_string(impl_->port_);
}

std::string MockServer::url(std::string_view pathAndQuery) const {
  std::string result = baseURL();
  if (pathAndQuery.empty() || pathAndQuery.front() != '/') result += '/';
  result += pathAndQuery;
  return result;
}

void MockServer::route(std::string path, MockResponse response) {
  route(std::move(path),
        Handler([response = std::move(response)](const MockRequest&) { return response; }));
}

void MockServer::route(std::string path, Handler handler) {
  auto shared = std::make_shared<const Handler>(std::move(handler));
  std::lock_guard lock(impl_->mutex_);
  impl_->routes_.insert_or_assign(std::move(path), std::move(shared));
}

void MockServer::fallback(Handler handler) {
  auto shared = std::make_shared<const Handler>(std::move(handler));
  std::lock_guard lock(impl_->mutex_);
  impl_->fallback_ = std::move(shared);
}

void MockServer::enqueue(MockResponse response) {
  std::lock_guard lock(impl_->mutex_);
  impl_->queue_.push_back(std::move(response));
}

std::vector<MockRequest> MockServer::requests() const {
  std::lock_guard lock(impl_->mutex_);
  return impl_->requests_;
}

std::size_t MockServer::connectionCount() const {
  std::lock_guard lock(impl_->mutex_);
  return impl_->accepted_;
}

bool MockServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex_);
  impl_->changed_.wait_for(lock, timeout,
                           [&] { return impl_->requests_.size() >= count || impl_->stopping(); });
  return impl_->requests_.size() >= count;
}

void MockServer::stop() {
  impl_->stop();
}

}  // namespace zel
