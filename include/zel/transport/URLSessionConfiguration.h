#pragma once
// URLSessionConfiguration — the settings a URLSession is made with (copied at creation).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "zel/platform/HTTPHeaders.h"
#include "zel/platform/URLRequest.h"

namespace zel {

/// A response cache's size settings. The session itself keeps no response cache; the field is
/// carried for configurations that say whether one is wanted.
struct URLCache {
  std::size_t memoryCapacity = 512 * 1024;
  std::size_t diskCapacity = 10 * 1024 * 1024;
  std::optional<std::filesystem::path> diskPath;

  friend bool operator==(const URLCache&, const URLCache&) = default;
};

struct URLSessionConfiguration {
  /// Connections the session opens to one host at most (HTTP/1.1); transfers beyond wait, the
  /// higher priority first. HTTP/2 hosts multiplex streams over one connection instead.
  int HTTPMaximumConnectionsPerHost = 6;
  /// Idle timeout in seconds: a transfer with no bytes sent or received for this long fails with
  /// NSURLErrorTimedOut. A request's own timeoutInterval, when it differs from the default, wins.
  double timeoutIntervalForRequest = 60;
  /// Longest a task may take in all, in seconds (7 days by default).
  double timeoutIntervalForResource = 7 * 24 * 3600;
  /// Store cookies that responses set and send them back (in memory, per session).
  bool HTTPShouldSetCookies = true;
  URLRequestCachePolicy requestCachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy;
  std::optional<URLCache> urlCache = URLCache{};
  /// Sent with every request unless the request sets the same field.
  HTTPHeaders HTTPAdditionalHeaders;
  /// PEM file of trusted certificate authorities; the system store when absent.
  std::optional<std::filesystem::path> trustedCAFile;
  /// Pinned server public keys: "sha256//<base64>" entries joined by ";", or a PEM/DER file path.
  std::optional<std::string> pinnedPublicKeys;
  /// Resolves host names instead of the system resolver: addresses for the host, or absent when
  /// the name cannot be resolved (the task then fails with NSURLErrorCannotFindHost). Called on
  /// the session's I/O thread, so it must answer at once (a table, not a network lookup).
  std::function<std::optional<std::vector<std::string>>(const std::string& host)> hostResolver;
  /// Sent when neither the request nor HTTPAdditionalHeaders sets "User-Agent"; empty sends none.
  std::string userAgent = "ZELNetworking/1.0";
  /// Largest decoded body a task with a completion handler collects, in bytes (0: no limit).
  /// API responses are small; 64 MiB leaves room for large images and stops a hostile server
  /// from filling memory. Crossing it ends the task with NSURLErrorDataLengthExceedsMaximum;
  /// a Content-Length above it is refused before the body is read. Delegates that stream the
  /// body are not limited by it.
  std::int64_t maximumResponseBodyBytes = 64 << 20;
  /// How many times its received size a compressed body may expand to once past its first MiB
  /// (0: no limit). Ordinary JSON compresses 5–20 times and rarely beyond 100; a "zip bomb"
  /// expands about a thousand times. Crossing it ends the task with
  /// NSURLErrorDataLengthExceedsMaximum.
  double maximumContentExpansionRatio = 256;

  /// The default configuration: cookies kept, a response cache described.
  [[nodiscard]] static URLSessionConfiguration defaultSessionConfiguration();
  /// Nothing outlives the session: in-memory cookies only, a memory-only cache description.
  [[nodiscard]] static URLSessionConfiguration ephemeralSessionConfiguration();
};

}  // namespace zel
