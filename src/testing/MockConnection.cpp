#include "MockConnection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "HTTPWire.h"

namespace zel::mockserver {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr std::size_t kMaxChunkLine = 1024;
// A graceful close waits this long for the client to finish sending, so unread input does not
// turn the close into a reset that could destroy the response before the client reads it.
constexpr std::chrono::milliseconds kLingerTime{500};
constexpr std::size_t kLingerBytes = 1024 * 1024;

/// One client connection, served on its own thread until either side closes it.
class Connection {
 public:
  Connection(MockServer::Impl& server, int fd, std::size_t id)
      : server_(server), fd_(fd), id_(id) {}

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
    MockRequest request;
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
      if (*parsed > MockServer::kMaxBodyBytes) return sendError(413);
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

  Next writeResponse(const MockRequest& request, const MockResponse& response, bool keepAlive) {
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
        if (end + 4 > MockServer::kMaxHeadBytes) return Read::kTooLarge;
        head = buffer_.substr(0, end);
        buffer_.erase(0, end + 4);
        return Read::kOk;
      }
      if (buffer_.size() > MockServer::kMaxHeadBytes) return Read::kTooLarge;
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
      if (*size > MockServer::kMaxBodyBytes - body.size()) return Read::kTooLarge;
      std::string crlf;
      if (!readExact(*size, body) || !readExact(2, crlf)) return Read::kClosed;
      if (crlf != "\r\n") return Read::kMalformed;
    }
    // Trailer fields are read and dropped.
    std::size_t trailerBytes = 0;
    do {
      if (const Read status = readLine(line, MockServer::kMaxHeadBytes); status != Read::kOk) {
        return status;
      }
      trailerBytes += line.size() + 2;
      if (trailerBytes > MockServer::kMaxHeadBytes) return Read::kMalformed;
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

  MockServer::Impl& server_;
  const int fd_;
  const std::size_t id_;
  std::string buffer_;  // received and not yet consumed
};

}  // namespace

void serveConnection(MockServer::Impl& server, int fd, std::size_t id) {
  Connection(server, fd, id).run();
}

}  // namespace zel::mockserver
