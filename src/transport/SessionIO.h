#pragma once
// What the session's I/O thread owns: the libcurl multi handle, the handle pool, per-host
// admission and every running transfer. Touched only on that thread.
//
// A transfer's life, one step each (SessionCore.cpp unless named otherwise):
//   start          a start command arrives: the request is checked, the transfer made
//   queueForHost   it waits for its host's admission (HostAdmission.h)
//   attach         admitted: its easy handle is set up (TransferSetup.cpp) and added
//   headReceived   the response head arrived (from TransferCallbacks.cpp)
//   transferDone   libcurl finished the hop: a retry, a redirect, or the end
//   finish         the transfer ends; the session core delivers the outcome (DelegateDelivery.cpp)

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "CurlHandles.h"
#include "HostAdmission.h"
#include "Transfer.h"
#include "TransferErrors.h"

namespace zel::detail {

class SessionCore;

struct IOLimits {
  std::int64_t maximumResponseBodyBytes = 0;
  double maximumContentExpansionRatio = 0;
};

struct IOState {
  IOState(SessionCore& core, CURLM* multi);
  ~IOState();
  IOState(const IOState&) = delete;
  IOState& operator=(const IOState&) = delete;

  SessionCore& core;
  CURLM* const multi;  // owned by the core: other threads wake it
  // Declared so that handles go before the lists and the share they use.
  CurlShare share;
  CurlSlist defaultFields;  // for requests without header fields of their own
  CurlSlist defaultFieldsForBodies;
  EasyHandlePool handles;
  HostAdmission<Transfer*> admission;
  std::unordered_map<std::uint64_t, std::unique_ptr<Transfer>> transfers;
  std::vector<std::uint64_t> pendingBodies;  // streaming transfers with a piece to flush
  // Admitted but never added to libcurl; they end after the admission round.
  std::vector<std::pair<Transfer*, Error>> refusedAtSetUp;
  SteadyClock::time_point nextTimerCheck;
  // When the loop last woke. Callbacks stamp activity with it: a head's many lines then cost no
  // clock reads, and the idle timers only need to know the round a byte came in.
  SteadyClock::time_point roundStart;
  // Whether the environment names a proxy, read once when the session starts: libcurl would
  // read it again for every transfer.
  const bool proxyFromEnvironment;

  [[nodiscard]] const IOLimits& limits() const noexcept { return limits_; }

  // The steps, in order.
  void start(const std::shared_ptr<URLSessionTask>& task);
  void queueForHost(Transfer& t);
  void attach(Transfer& t);
  [[nodiscard]] bool headReceived(Transfer& t);
  void transferDone(Transfer& t, CURLcode code);
  void finish(Transfer& t, std::optional<Error> error);

  // Around them.
  void redirectDecided(const std::shared_ptr<URLSessionTask>& task,
                       std::optional<URLRequest> request);
  void cancel(const std::shared_ptr<URLSessionTask>& task, std::int64_t code);
  void resumeAfterBacklog(const std::shared_ptr<URLSessionTask>& task);
  void deliverBodyPiece(Transfer& t);
  void markBodyPending(Transfer& t);
  void flushPendingBodies();
  void uploadProgressed(Transfer& t, std::int64_t sent, std::int64_t total, std::int64_t expected);
  void checkTimers(SteadyClock::time_point now);
  /// libcurl's multi handle failed: every transfer ends with the error.
  void failEverything(const Error& error);

 private:
  [[nodiscard]] std::optional<Error> setUp(Transfer& t);  // TransferSetup.cpp
  void detach(Transfer& t);
  void followRedirect(Transfer& t);
  void admitWaiting(const std::string& hostKey);
  [[nodiscard]] Error transferError(Transfer& t, CURLcode code);  // TransferErrors.cpp

  IOLimits limits_;
};

}  // namespace zel::detail
