#pragma once
// One task's run through the I/O thread: the task, its redirect hops so far, and the state of
// the current hop's libcurl easy handle. Owned and touched only by the session's I/O thread.

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ResponseHeadParser.h"
#include "zel/transport/URLSessionTask.h"
#include "zel/transport/URLSessionTaskMetrics.h"

namespace zel::detail {

using SteadyClock = std::chrono::steady_clock;
struct IOState;

struct Transfer {
  enum class Phase { Waiting, Active, AwaitingRedirect };

  std::shared_ptr<URLSessionTask> task;
  IOState* io = nullptr;
  bool streaming =
      false;  // no completion handler: response, data and completion go to the delegate
  Phase phase = Phase::Waiting;

  // Across hops.
  std::size_t hops = 0;
  std::vector<URLSessionTaskTransactionMetrics> transactions;
  Date taskStartDate;
  SteadyClock::time_point taskStartSteady;
  SteadyClock::time_point resourceDeadline;
  std::string body;  // the whole body (completion handler) or the chunk not yet delivered
  bool dirty = false;

  // The current hop.
  URLRequest request;
  std::string_view url;  // the hop request's absolute URL (stable while the hop runs)
  std::string hostKey;
  float priority = 0.5f;
  std::uint64_t sequence = 0;
  CURL* easy = nullptr;
  bool addedToMulti = false;
  bool cookies = false;  // the handle shares the session's cookie store
  curl_slist* headerList = nullptr;
  curl_slist* resolveList = nullptr;
  std::optional<Data> uploadBody;
  ResponseHeadParser parser;
  bool headDone = false;
  std::shared_ptr<const HTTPURLResponse> response;
  bool redirecting = false;
  std::string redirectBody;
  std::int64_t decodedBodyBytes = 0;
  curl_off_t lastUploadNow = 0;
  std::optional<SteadyClock::time_point> uploadDoneAt;
  SteadyClock::time_point lastActivity;
  std::chrono::milliseconds idleTimeout{60000};
  Date fetchStartDate;
  SteadyClock::time_point fetchStartSteady;
  std::optional<std::int64_t> abortCode;  // why one of our callbacks stopped the transfer
  std::optional<std::uint16_t> tlsVersion;
  std::optional<std::string> tlsCipher;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  /// Clears the per-hop state before the next hop starts.
  void resetHop();
};

}  // namespace zel::detail
