#pragma once
// One task's run through the I/O thread: the task, its hops so far, and the state of the current
// hop's libcurl easy handle. Owned and touched only by the session's I/O thread, except
// StreamBacklog, which the delegate queue updates as it hands body pieces over.

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CurlHandles.h"
#include "ResponseHeadParser.h"
#include "zel/transport/URLSessionTask.h"
#include "zel/transport/URLSessionTaskMetrics.h"

namespace zel::detail {

using SteadyClock = std::chrono::steady_clock;
struct IOState;

/// Body bytes handed to the delegate queue but not yet taken by the delegate. The I/O thread
/// pauses a streaming transfer while it is above kPauseAbove; the delegate queue asks for the
/// transfer to go on once it drops below kResumeBelow.
struct StreamBacklog {
  static constexpr std::int64_t kPauseAbove = 4 << 20;
  static constexpr std::int64_t kResumeBelow = 1 << 20;
  std::atomic<std::int64_t> bytes{0};
  std::atomic<bool> pauseRequested{false};
};

struct Transfer {
  // The life of a transfer; every change goes through moveTo(), which checks it.
  enum class Phase {
    Created,           // made by a start command
    WaitingForHost,    // queued for the host's admission
    Running,           // its easy handle is in the multi handle
    AwaitingRedirect,  // the delegate decides on a redirect
    Finished,          // its outcome went to the session core
  };

  std::shared_ptr<URLSessionTask> task;
  IOState* io = nullptr;
  Phase phase = Phase::Created;
  bool streaming =
      false;  // no completion handler: response, data and completion go to the delegate
  std::shared_ptr<StreamBacklog> backlog;  // streaming only

  // Across hops.
  std::size_t hops = 0;
  bool retried = false;  // a retry on a fresh connection was spent
  std::vector<URLSessionTaskTransactionMetrics> transactions;
  Date taskStartDate;
  SteadyClock::time_point taskStartSteady;
  SteadyClock::time_point resourceDeadline;
  std::string body;          // the whole body (completion handler) or the piece not yet delivered
  bool bodyPending = false;  // streaming: a piece waits in body for this round's flush

  // The current hop.
  // The hop's request once a redirect was followed. Held apart, like the error buffer: the
  // transfer stays under the allocator's large-block size (1008 bytes), which costs a
  // consolidation pass for every new transfer.
  std::unique_ptr<URLRequest> redirectedRequest;
  std::string_view url;  // the hop request's absolute URL (a NUL-terminated string it owns)
  std::string hostKey;
  float priority = 0.5f;
  CurlEasy easy;
  int easyTransfersSinceReset = 0;
  EasyHandlePool::LastOptions easyLast;  // what the handle was last given, back to the pool with it
  bool easyMayHaveRetried = true;        // cleared once libcurl reports a clean transfer
  int attempts = 0;                      // of this hop, as libcurl made them
  bool cookies = false;                  // the handle shares the session's cookie store
  bool addedToMulti = false;
  bool freshConnection = false;  // this hop must not reuse a pooled connection
  CurlUrl parsedURL;          // the hop's URL handed to libcurl in parts, so it is not parsed again
  std::string parsedURLText;  // the URL parsedURL holds, while it holds one
  CurlSlist headerList;       // the hop's own header fields, unless a shared list serves
  std::string headerListText;  // its lines, each ending in a NUL
  CurlSlist resolveList;
  std::optional<Data> uploadBody;
  ResponseHeadParser parser;
  bool headDone = false;
  bool contentEncoded = false;  // the response names a content coding libcurl decodes
  std::shared_ptr<const HTTPURLResponse> response;
  bool redirecting = false;
  std::string redirectBody;
  std::int64_t decodedBodyBytes = 0;
  bool paused = false;  // libcurl's write pause, while the delegate is behind
  curl_off_t lastUploadNow = 0;
  std::optional<SteadyClock::time_point> uploadDoneAt;
  SteadyClock::time_point lastActivity;
  std::chrono::milliseconds idleTimeout{60000};
  Date fetchStartDate;
  SteadyClock::time_point fetchStartSteady;
  std::optional<std::int64_t> abortCode;  // why one of our callbacks stopped the transfer
  std::optional<std::string> abortReason;
  std::optional<std::uint16_t> tlsVersion;
  std::optional<std::string> tlsCipher;
  std::unique_ptr<char[]> errorBuffer;  // the handle's, while the transfer holds one

  /// libcurl's error text for the current hop, empty when there is none.
  [[nodiscard]] std::string_view errorText() const noexcept {
    return errorBuffer ? std::string_view(errorBuffer.get()) : std::string_view();
  }

  /// The current hop's request: the task's own until a redirect is followed.
  [[nodiscard]] const URLRequest& request() const noexcept {
    return redirectedRequest ? *redirectedRequest : task->originalRequest();
  }

  /// Changes phase; an unexpected change is reported (it is a bug in the engine).
  void moveTo(Phase next);
  /// Clears the per-hop state before the next hop (or retry) starts.
  void resetHop();
};

}  // namespace zel::detail
