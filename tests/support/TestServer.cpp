#include "support/TestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "zel/platform/Json.h"

namespace zel::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr std::size_t kMaxChunkLine = 1024;
// A graceful close waits this long for the client to finish sending, so unread input does not
// turn the close into a reset that could destroy the response before the client reads it.
constexpr std::chrono::milliseconds kLingerTime{500};
constexpr std::size_t kLingerBytes = 1024 * 1024;

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

/// Whether a comma-separated header value lists the token (case-insensitively).
bool hasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const auto comma = list.find(',');
    if (headerNameEquals(trim(list.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

std::string_view lastToken(std::string_view list) {
  const auto comma = list.rfind(',');
  return trim(comma == std::string_view::npos ? list : list.substr(comma + 1));
}

std::optional<std::size_t> parseNumber(std::string_view text, int base) {
  if (text.empty() || text.size() > 16) return std::nullopt;
  std::size_t value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = value * static_cast<std::size_t>(base) + static_cast<std::size_t>(digit);
  }
  return value;
}

std::string hex(std::size_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%zx", value);
  return text;
}

std::string_view reasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 204:
      return "No Content";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 410:
      return "Gone";
    case 413:
      return "Content Too Large";
    case 415:
      return "Unsupported Media Type";
    case 422:
      return "Unprocessable Content";
    case 429:
      return "Too Many Requests";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return "Unknown";
  }
}

bool scriptHas(const ScriptedResponse& response, std::string_view name) {
  for (const auto& field : response.headers) {
    if (headerNameEquals(field.first, name)) return true;
  }
  return false;
}

std::string echoJSON(const ReceivedRequest& request) {
  boost::json::object headers;
  for (const auto& [name, value] : request.headers) headers[name] = value;
  boost::json::object object;
  object["method"] = request.method;
  object["target"] = request.target;
  object["path"] = request.path;
  object["query"] = request.query;
  object["headers"] = std::move(headers);
  object["body"] = request.body;
  object["connectionId"] = static_cast<std::uint64_t>(request.connectionId);
  return jsonString(boost::json::value(std::move(object)));
}

/// Parses the request line and header fields; false when they are malformed.
bool parseHead(std::string_view head, ReceivedRequest& request) {
  auto lineEnd = head.find("\r\n");
  const std::string_view requestLine = head.substr(0, lineEnd);
  const auto firstSpace = requestLine.find(' ');
  const auto secondSpace = requestLine.find(' ', firstSpace + 1);
  if (firstSpace == 0 || firstSpace == std::string_view::npos ||
      secondSpace == std::string_view::npos || secondSpace == firstSpace + 1 ||
      requestLine.find(' ', secondSpace + 1) != std::string_view::npos) {
    return false;
  }
  request.method = requestLine.substr(0, firstSpace);
  request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  request.httpVersion = requestLine.substr(secondSpace + 1);
  if (request.httpVersion != "HTTP/1.0" && request.httpVersion != "HTTP/1.1") return false;
  const auto question = request.target.find('?');
  request.path = request.target.substr(0, question);
  if (question != std::string::npos) request.query = request.target.substr(question + 1);

  while (lineEnd != std::string_view::npos) {
    head.remove_prefix(lineEnd + 2);
    lineEnd = head.find("\r\n");
    const std::string_view line = head.substr(0, lineEnd);
    const auto colon = line.find(':');
    // Folded continuation lines and names with whitespace are refused.
    if (colon == 0 || colon == std::string_view::npos ||
        line.substr(0, colon).find_first_of(" \t") != std::string_view::npos) {
      return false;
    }
    request.headers.add(line.substr(0, colon), trim(line.substr(colon + 1)));
  }
  return true;
}

// The server's state, shared by the accept thread and the connection threads.
class ServerCore {
 public:
  explicit ServerCore(bool ipv6Loopback);
  ~ServerCore() { stop(); }
  ServerCore(const ServerCore&) = delete;
  ServerCore& operator=(const ServerCore&) = delete;

  void stop();
  [[nodiscard]] bool stopping() const { return stopping_.load(); }
  /// Waits until fd is ready for `events`; false on stop or timeout (negative: none).
  bool waitFor(int fd, short events, int timeoutMs = -1) const;
  /// Sleeps unless stopped first; false when stopped.
  bool sleepFor(std::chrono::milliseconds duration) const;
  void record(const ReceivedRequest& request);
  ScriptedResponse respond(const ReceivedRequest& request) const;

  const bool ipv6_;
  std::uint16_t port_ = 0;
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;

  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  // Signalled on every recorded request and on stop.
  mutable std::condition_variable changed_;
  std::map<std::string, std::shared_ptr<const Handler>, std::less<>> routes_;
  std::vector<ReceivedRequest> requests_;
  std::size_t accepted_ = 0;
  struct Connection {
    std::thread thread;
    bool finished = false;
  };
  std::map<std::size_t, Connection> connections_;

 private:
  void acceptLoop();
  void reapFinished();
  void closeDescriptors();

  std::thread acceptThread_;
  std::mutex stopMutex_;
  bool stopped_ = false;
};

/// One client connection, served on its own thread until either side closes it.
class Session {
 public:
  Session(ServerCore& server, int fd, std::size_t id) : server_(server), fd_(fd), id_(id) {}

  void run() {
    Next next = Next::kKeepAlive;
    for (std::size_t index = 0; next == Next::kKeepAlive && !server_.stopping(); ++index) {
      next = serveOne(index);
    }
    if (next == Next::kClose) lingerAndClose();
    if (next == Next::kReset) {
      const linger reset{1, 0};
      ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    ::close(fd_);
  }

 private:
  enum class Next { kKeepAlive, kClose, kReset, kGone };
  enum class Read { kOk, kClosed, kTooLarge, kMalformed };

  Next serveOne(std::size_t index) {
    std::string head;
    if (const Read status = readHead(head); status != Read::kOk) {
      return status == Read::kTooLarge ? sendError(431) : Next::kGone;
    }
    ReceivedRequest request;
    if (!parseHead(head, request)) return sendError(400);
    request.connectionId = id_;
    request.indexOnConnection = index;

    bool chunked = false;
    std::size_t length = 0;
    if (const auto* encoding = request.headers.find("Transfer-Encoding")) {
      if (!headerNameEquals(lastToken(*encoding), "chunked")) return sendError(501);
      chunked = true;
    } else if (const auto* contentLength = request.headers.find("Content-Length")) {
      const auto parsed = parseNumber(trim(*contentLength), 10);
      if (!parsed) return sendError(400);
      if (*parsed > TestServer::kMaxBodyBytes) return sendError(413);
      length = *parsed;
    }
    const auto* expect = request.headers.find("Expect");
    if ((chunked || length > 0) && expect && headerNameEquals(*expect, "100-continue") &&
        request.httpVersion == "HTTP/1.1" && !writeAll(kContinue)) {
      return Next::kGone;
    }
    if (chunked) {
      const Read status = readChunkedBody(request.body);
      if (status == Read::kTooLarge) return sendError(413);
      if (status == Read::kMalformed) return sendError(400);
      if (status == Read::kClosed) return Next::kGone;
    } else if (!readExact(length, request.body)) {
      return Next::kGone;
    }

    const auto* connection = request.headers.find("Connection");
    const bool keepAlive = request.httpVersion == "HTTP/1.1"
                               ? !(connection && hasToken(*connection, "close"))
                               : (connection && hasToken(*connection, "keep-alive"));
    server_.record(request);
    return writeResponse(request, server_.respond(request), keepAlive);
  }

  Next writeResponse(const ReceivedRequest& request, const ScriptedResponse& response,
                     bool keepAlive) {
    if (!server_.sleepFor(response.delayBeforeHead)) return Next::kGone;
    if (response.closeWithoutResponse) return Next::kReset;
    const bool close = response.closeConnection || !keepAlive;
    if (response.rawBytes) {
      if (!writeAll(*response.rawBytes)) return Next::kGone;
      return close ? Next::kClose : Next::kKeepAlive;
    }

    std::vector<std::string_view> pieces;
    if (!response.bodyPieces.empty()) {
      pieces.assign(response.bodyPieces.begin(), response.bodyPieces.end());
    } else if (!response.body.empty()) {
      pieces.push_back(response.body);
    }
    std::size_t total = 0;
    for (const auto piece : pieces) total += piece.size();
    const int status = response.status;
    const bool bodyAllowed = status / 100 != 1 && status != 204 && status != 304;

    std::string head = "HTTP/1.1 " + std::to_string(status) + " ";
    head += response.reason.empty() ? reasonPhrase(status) : response.reason;
    head += "\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    if (bodyAllowed && !scriptHas(response, "Content-Length") &&
        !scriptHas(response, "Transfer-Encoding")) {
      head += response.chunked ? "Transfer-Encoding: chunked\r\n"
                               : "Content-Length: " + std::to_string(total) + "\r\n";
    }
    if (!scriptHas(response, "Connection")) {
      if (close) head += "Connection: close\r\n";
      if (!close && request.httpVersion == "HTTP/1.0") head += "Connection: keep-alive\r\n";
    }
    head += "\r\n";
    if (!writeAll(head)) return Next::kGone;
    if (!bodyAllowed || request.method == "HEAD") return close ? Next::kClose : Next::kKeepAlive;

    std::size_t budget = response.truncateAfter.value_or(total);
    for (const auto piece : pieces) {
      if (!response.bodyPieces.empty() && !server_.sleepFor(response.delayBetweenPieces)) {
        return Next::kGone;
      }
      if (piece.empty()) continue;
      if (budget == 0) return Next::kClose;
      const bool cut = piece.size() > budget;
      const std::string_view sent = piece.substr(0, budget);
      std::string out = response.chunked ? hex(piece.size()) + "\r\n" : std::string();
      out += sent;
      if (response.chunked && !cut) out += "\r\n";
      budget -= sent.size();
      if (!writeAll(out)) return Next::kGone;
      if (cut) return Next::kClose;
    }
    if (response.chunked && !writeAll("0\r\n\r\n")) return Next::kGone;
    return close ? Next::kClose : Next::kKeepAlive;
  }

  /// Answers a request the server refuses, then closes.
  Next sendError(int status) {
    const std::string text = "HTTP/1.1 " + std::to_string(status) + " " +
                             std::string(reasonPhrase(status)) +
                             "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    return writeAll(text) ? Next::kClose : Next::kGone;
  }

  /// Appends whatever the socket holds to buffer_; false on end of stream, error or stop.
  bool fill() {
    char chunk[16384];
    for (;;) {
      if (server_.stopping()) return false;
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
      }
      if (n == 0) return false;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
      if (!server_.waitFor(fd_, POLLIN)) return false;
    }
  }

  Read readHead(std::string& head) {
    std::size_t searchFrom = 0;
    for (;;) {
      // Empty lines before a request line are tolerated.
      buffer_.erase(0, buffer_.find_first_not_of("\r\n"));
      const auto end = buffer_.find("\r\n\r\n", searchFrom);
      if (end != std::string::npos) {
        if (end + 4 > TestServer::kMaxHeadBytes) return Read::kTooLarge;
        head = buffer_.substr(0, end);
        buffer_.erase(0, end + 4);
        return Read::kOk;
      }
      if (buffer_.size() > TestServer::kMaxHeadBytes) return Read::kTooLarge;
      searchFrom = buffer_.size() < 3 ? 0 : buffer_.size() - 3;
      if (!fill()) return Read::kClosed;
    }
  }

  Read readLine(std::string& line, std::size_t maxLength) {
    std::size_t searchFrom = 0;
    for (;;) {
      const auto end = buffer_.find("\r\n", searchFrom);
      if (end != std::string::npos) {
        if (end > maxLength) return Read::kMalformed;
        line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return Read::kOk;
      }
      if (buffer_.size() > maxLength) return Read::kMalformed;
      searchFrom = buffer_.empty() ? 0 : buffer_.size() - 1;
      if (!fill()) return Read::kClosed;
    }
  }

  bool readExact(std::size_t count, std::string& out) {
    out.reserve(out.size() + count);
    while (count > 0) {
      if (buffer_.empty() && !fill()) return false;
      const std::size_t take = std::min(count, buffer_.size());
      out.append(buffer_, 0, take);
      buffer_.erase(0, take);
      count -= take;
    }
    return true;
  }

  Read readChunkedBody(std::string& body) {
    std::string line;
    for (;;) {
      if (const Read status = readLine(line, kMaxChunkLine); status != Read::kOk) return status;
      const auto size = parseNumber(trim(std::string_view(line).substr(0, line.find(';'))), 16);
      if (!size) return Read::kMalformed;
      if (*size == 0) break;
      if (*size > TestServer::kMaxBodyBytes - body.size()) return Read::kTooLarge;
      std::string crlf;
      if (!readExact(*size, body) || !readExact(2, crlf)) return Read::kClosed;
      if (crlf != "\r\n") return Read::kMalformed;
    }
    // Trailer fields are read and dropped.
    std::size_t trailerBytes = 0;
    do {
      if (const Read status = readLine(line, TestServer::kMaxHeadBytes); status != Read::kOk) {
        return status;
      }
      trailerBytes += line.size() + 2;
      if (trailerBytes > TestServer::kMaxHeadBytes) return Read::kMalformed;
    } while (!line.empty());
    return Read::kOk;
  }

  bool writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
      if (server_.stopping()) return false;
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!server_.waitFor(fd_, POLLOUT)) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  /// Sends end of stream, then drains the client's input for a bounded time.
  void lingerAndClose() {
    ::shutdown(fd_, SHUT_WR);
    const auto deadline = Clock::now() + kLingerTime;
    std::size_t drained = 0;
    char sink[4096];
    while (drained < kLingerBytes) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || !server_.waitFor(fd_, POLLIN, static_cast<int>(left))) return;
      const ssize_t n = ::recv(fd_, sink, sizeof sink, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return;
      if (n > 0) drained += static_cast<std::size_t>(n);
    }
  }

  ServerCore& server_;
  const int fd_;
  const std::size_t id_;
  std::string buffer_;  // received and not yet consumed
};

ServerCore::ServerCore(bool ipv6Loopback) : ipv6_(ipv6Loopback) {
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "TestServer: pipe");
  }
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];

  const auto fail = [this](const char* what) {
    const int error = errno;
    closeDescriptors();
    throw std::system_error(error, std::generic_category(), what);
  };
  listenFd_ = ::socket(ipv6_ ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0) fail("TestServer: socket");
  const int on = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  int bound = -1;
  if (ipv6_) {
    ::setsockopt(listenFd_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    bound = ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bound = ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  if (bound != 0) fail("TestServer: bind");
  if (::listen(listenFd_, 512) != 0) fail("TestServer: listen");
  sockaddr_storage local{};
  socklen_t localLength = sizeof local;
  if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) {
    fail("TestServer: getsockname");
  }
  port_ = ntohs(ipv6_ ? reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port
                      : reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

void ServerCore::closeDescriptors() {
  for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void ServerCore::stop() {
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

bool ServerCore::waitFor(int fd, short events, int timeoutMs) const {
  pollfd fds[2] = {{fd, events, 0}, {wakeRead_, POLLIN, 0}};
  for (;;) {
    if (stopping()) return false;
    const int ready = ::poll(fds, 2, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && fds[0].revents != 0 && !stopping();
  }
}

bool ServerCore::sleepFor(std::chrono::milliseconds duration) const {
  if (duration.count() <= 0) return !stopping();
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, duration, [this] { return stopping(); });
}

void ServerCore::record(const ReceivedRequest& request) {
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  changed_.notify_all();
}

ScriptedResponse ServerCore::respond(const ReceivedRequest& request) const {
  std::shared_ptr<const Handler> handler;
  {
    std::lock_guard lock(mutex_);
    if (const auto found = routes_.find(request.path); found != routes_.end()) {
      handler = found->second;
    }
  }
  ScriptedResponse response;
  if (!handler) {
    response.status = 404;
    return response;
  }
  try {
    response = (*handler)(request);
  } catch (const std::exception& error) {
    response = ScriptedResponse{.status = 500, .body = error.what()};
  } catch (...) {
    response = ScriptedResponse{.status = 500};
  }
  if (response.echoRequest) {
    response.body = echoJSON(request);
    response.bodyPieces.clear();
    if (!scriptHas(response, "Content-Type")) {
      response.headers.emplace_back("Content-Type", "application/json");
    }
  }
  return response;
}

void ServerCore::acceptLoop() {
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
    if (stopping() || connections_.size() >= TestServer::kMaxConnections) {
      ::close(fd);
      continue;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const std::size_t id = ++accepted_;
    try {
      connections_[id].thread = std::thread([this, fd, id] {
        Session(*this, fd, id).run();
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

void ServerCore::reapFinished() {
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

}  // namespace

class TestServer::Impl : public ServerCore {
 public:
  using ServerCore::ServerCore;
};

TestServer::TestServer() : TestServer(false) {}

TestServer::TestServer(bool ipv6Loopback) : impl_(std::make_unique<Impl>(ipv6Loopback)) {}

TestServer::~TestServer() = default;

std::uint16_t TestServer::port() const {
  return impl_->port_;
}

std::string TestServer::baseURL() const {
  return std::string(impl_->ipv6_ ? "http://[::1]:" : "http://127.0.0.1:") +
         std::to_string(impl_->port_);
}

std::string TestServer::url(std::string_view pathAndQuery) const {
  std::string result = baseURL();
  if (pathAndQuery.empty() || pathAndQuery.front() != '/') result += '/';
  result += pathAndQuery;
  return result;
}

void TestServer::route(std::string path, ScriptedResponse response) {
  route(std::move(path),
        Handler([response = std::move(response)](const ReceivedRequest&) { return response; }));
}

void TestServer::route(std::string path, Handler handler) {
  auto shared = std::make_shared<const Handler>(std::move(handler));
  std::lock_guard lock(impl_->mutex_);
  impl_->routes_.insert_or_assign(std::move(path), std::move(shared));
}

std::vector<ReceivedRequest> TestServer::requests() const {
  std::lock_guard lock(impl_->mutex_);
  return impl_->requests_;
}

std::size_t TestServer::connectionCount() const {
  std::lock_guard lock(impl_->mutex_);
  return impl_->accepted_;
}

bool TestServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex_);
  impl_->changed_.wait_for(lock, timeout,
                           [&] { return impl_->requests_.size() >= count || impl_->stopping(); });
  return impl_->requests_.size() >= count;
}

void TestServer::stop() {
  impl_->stop();
}

}  // namespace zel::test
