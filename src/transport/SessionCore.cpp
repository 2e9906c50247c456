// The steps of a transfer's life on the I/O thread, from its start command to its finish.

#include "SessionCore.h"

#include <algorithm>
#include <charconv>

#include "RedirectProposal.h"
#include "RequestValidation.h"
#include "RetryPolicy.h"
#include "SessionIO.h"
#include "TaskEngineKey.h"
#include "TransferMetrics.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/transport/URLError.h"

namespace zel::detail {
namespace {

const TaskEngineKey kKey{};

// "scheme://host:port", the unit of connection limits. Called for every hop: one allocation.
std::string hostKeyFor(const URL& url) {
  const std::string& scheme = *url.scheme();
  const std::string& host = *url.host();
  std::string key;
  key.reserve(scheme.size() + host.size() + 10);
  for (const char c : scheme) {
    key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  key.append("://").append(host).push_back(':');
  char digits[8];
  const int port = url.port().value_or(key.starts_with("https") ? 443 : 80);
  key.append(digits, std::to_chars(digits, digits + sizeof digits, port).ptr);
  return key;
}

long longInfo(CURL* easy, CURLINFO info) {
  long value = 0;
  curl_easy_getinfo(easy, info, &value);
  return value;
}

}  // namespace

// ---- the steps --------------------------------------------------------------------------

void IOState::start(const std::shared_ptr<URLSessionTask>& task) {
  auto owned = std::make_unique<Transfer>();
  Transfer& t = *owned;
  t.task = task;
  t.io = this;
  const auto facts = task->startFacts(kKey);
  t.streaming = facts.reportsToDelegate;
  if (t.streaming) t.backlog = std::make_shared<StreamBacklog>();
  // Clock reads are for the metrics; without them the round's time serves the timers.
  const bool metrics = core.collectsMetrics();
  if (metrics) t.taskStartDate = std::chrono::system_clock::now();
  t.taskStartSteady = metrics ? SteadyClock::now() : roundStart;
  const double resource = core.configuration().timeoutIntervalForResource;
  t.resourceDeadline =
      t.taskStartSteady +
      std::chrono::milliseconds(static_cast<std::int64_t>(std::min(resource, 1e9) * 1000));
  transfers.emplace(task->taskIdentifier(), std::move(owned));
  // cancel() may have run between resume() and this command: its command found nothing.
  if (facts.canceling) {
    finish(t, makeURLError(NSURLErrorCancelled, urlText(t.request())));
    return;
  }
  if (auto invalid = validateRequest(t.request(), core.configurationProblem())) {
    finish(t, std::move(*invalid));
    return;
  }
  queueForHost(t);
}

void IOState::queueForHost(Transfer& t) {
  const bool firstHop = t.phase == Transfer::Phase::Created;
  t.moveTo(Transfer::Phase::WaitingForHost);
  if (!firstHop) t.resetHop();  // a new transfer starts clean
  t.url = t.request().url()->absoluteString();
  t.hostKey = hostKeyFor(*t.request().url());
  t.priority = t.task->priority();
  t.lastActivity = roundStart;
  const double requestTimeout = t.request().timeoutInterval() != URLRequest::kDefaultTimeoutInterval
                                    ? t.request().timeoutInterval()
                                    : core.configuration().timeoutIntervalForRequest;
  t.idleTimeout =
      std::chrono::milliseconds(static_cast<std::int64_t>(std::max(0.001, requestTimeout) * 1000));
  admission.enqueue(t.hostKey, &t, t.priority);
  admitWaiting(t.hostKey);
}

void IOState::admitWaiting(const std::string& hostKey) {
  // Transfers refused while being set up end after the admission round, which then runs again
  // for the places they left.
  for (;;) {
    admission.admit(hostKey, [this](Transfer* t) { attach(*t); });
    if (refusedAtSetUp.empty()) return;
    for (auto& [t, error] : std::exchange(refusedAtSetUp, {})) {
      detach(*t);
      finish(*t, std::move(error));
    }
  }
}

void IOState::attach(Transfer& t) {
  t.moveTo(Transfer::Phase::Running);
  if (core.collectsMetrics()) {
    t.fetchStartDate = std::chrono::system_clock::now();
    t.fetchStartSteady = SteadyClock::now();
  } else {
    t.fetchStartSteady = roundStart;
  }
  t.lastActivity = t.fetchStartSteady;
  if (auto failure = setUp(t)) {
    refusedAtSetUp.emplace_back(&t, std::move(*failure));
    return;
  }
  if (t.abortCode) {  // the host resolver knew no address
    refusedAtSetUp.emplace_back(&t, transferError(t, CURLE_COULDNT_RESOLVE_HOST));
    return;
  }
  const CURLMcode added = curl_multi_add_handle(multi, t.easy.get());
  if (added != CURLM_OK) {
    refusedAtSetUp.emplace_back(&t,
                                multiFailure(std::string(t.url), added, "curl_multi_add_handle"));
    return;
  }
  t.addedToMulti = true;
}

void IOState::detach(Transfer& t) {
  admission.release(t.hostKey);  // also for a transfer refused before it had a handle
  if (!t.easy) return;
  if (t.addedToMulti) curl_multi_remove_handle(multi, t.easy.get());
  t.addedToMulti = false;
  handles.give({.url = std::move(t.parsedURL),
                .urlText = std::move(t.parsedURLText),
                .fields = std::move(t.headerList),
                .fieldsText = std::move(t.headerListText),
                .easy = std::move(t.easy),
                .errorBuffer = std::move(t.errorBuffer),
                .transfersSinceReset = t.easyTransfersSinceReset,
                .last = t.easyLast},
               t.cookies, t.easyMayHaveRetried);
  t.resolveList.reset();
}

bool IOState::headReceived(Transfer& t) {
  if (core.collectsMetrics()) captureTLSInfo(t);
  auto head = t.parser.takeHead();
  auto response = std::make_shared<const HTTPURLResponse>(
      *t.request().url(), head.statusCode, std::move(head.httpVersion), std::move(head.headers));
  t.response = response;
  if (isRedirectStatus(response->statusCode()) && response->valueForHTTPHeaderField("Location")) {
    t.redirecting = true;
    return true;
  }
  const auto* coding = response->allHeaderFields().find("Content-Encoding");
  t.contentEncoded =
      coding != nullptr && !coding->empty() && !headerNameEquals(*coding, "identity");
  // A completion handler gets the body in one buffer: make room once when its size is known.
  if (!t.streaming && !t.contentEncoded) {
    const auto length = response->expectedContentLength();
    const auto limit = limits_.maximumResponseBodyBytes;
    if (limit > 0 && length > limit) {
      t.abortCode = NSURLErrorDataLengthExceedsMaximum;
      t.abortReason = "The response body (" + std::to_string(length) +
                      " bytes) is larger than the session's limit of " + std::to_string(limit) +
                      " bytes.";
      return false;
    }
    if (length > 0) t.body.reserve(static_cast<std::size_t>(length));
  }
  t.task->setResponse(kKey, response);
  if (t.streaming) core.deliverResponse(t.task, response);
  return true;
}

void IOState::transferDone(Transfer& t, CURLcode code) {
  // A transfer refused before libcurl ran it has no facts of its own on its (reused) handle.
  if (core.collectsMetrics()) t.transactions.push_back(collectTransactionMetrics(t));
  // libcurl takes a head cut off before its blank line for a complete, empty response.
  if (code == CURLE_OK && !t.abortCode && !t.headDone) {
    t.abortCode = NSURLErrorNetworkConnectionLost;
    t.abortReason = "The connection closed before the response head was complete.";
  }
  const long httpVersion = longInfo(t.easy.get(), CURLINFO_HTTP_VERSION);
  // A transfer libcurl sent more than once retried, and the handle now carries the count.
  t.easyMayHaveRetried = code != CURLE_OK || t.attempts > 1;
  bool retry = false;
  if (code != CURLE_OK && !t.abortCode && !t.retried) {
    retry = shouldRetry(FailedAttempt{
        .code = code,
        .errorText = t.errorText(),
        .method = t.request().httpMethod(),
        .reusedConnection = longInfo(t.easy.get(), CURLINFO_NUM_CONNECTS) == 0,
        .responseStarted = t.parser.sawBytes(),
    });
  }
  std::optional<Error> error;
  if (!retry && (code != CURLE_OK || t.abortCode)) error = transferError(t, code);
  detach(t);
  const std::string hostKey = std::move(t.hostKey);  // t may be gone after the next step
  if (httpVersion == CURL_HTTP_VERSION_2_0) admission.markMultiplexed(hostKey);

  if (retry) {
    t.retried = true;
    t.freshConnection = true;
    t.body.clear();
    queueForHost(t);
  } else if (error) {
    finish(t, std::move(error));
  } else if (t.redirecting) {
    followRedirect(t);
  } else {
    finish(t, std::nullopt);
  }
  admitWaiting(hostKey);
}

void IOState::cancel(const std::shared_ptr<URLSessionTask>& task, std::int64_t code) {
  const auto it = transfers.find(task->taskIdentifier());
  if (it == transfers.end()) return;
  Transfer& t = *it->second;
  const std::string hostKey = t.hostKey;
  switch (t.phase) {
    case Transfer::Phase::Running:
      if (core.collectsMetrics() && t.addedToMulti) {
        t.transactions.push_back(collectTransactionMetrics(t));
      }
      detach(t);
      break;
    case Transfer::Phase::WaitingForHost:
      admission.remove(hostKey, &t);
      break;
    default:
      break;
  }
  std::string description = NSURLErrorLocalizedDescription(code);
  finish(t, makeURLError(code, t.url.empty() ? urlText(t.request()) : std::string(t.url),
                         std::nullopt, std::move(description)));
  admitWaiting(hostKey);
}

void IOState::finish(Transfer& t, std::optional<Error> error) {
  t.moveTo(Transfer::Phase::Finished);
  const auto task = t.task;
  std::optional<Data> body;
  if (t.streaming) {
    deliverBodyPiece(t);
  } else if (!error) {
    t.task->addBytesReceived(kKey, static_cast<std::int64_t>(t.body.size()));
    body = Data(std::move(t.body));
  }
  URLSessionTaskMetrics metrics;
  metrics.transactionMetrics = std::move(t.transactions);
  if (core.collectsMetrics()) {
    metrics.taskInterval = DateInterval{t.taskStartDate, SteadyClock::now() - t.taskStartSteady};
  }
  metrics.redirectCount = t.hops;
  transfers.erase(task->taskIdentifier());  // t is gone from here on
  core.deliverCompletion(task, std::move(body), std::move(error), std::move(metrics));
}

void IOState::checkTimers(SteadyClock::time_point now) {
  std::vector<std::shared_ptr<URLSessionTask>> expired;
  for (const auto& [id, t] : transfers) {
    if (t->phase == Transfer::Phase::AwaitingRedirect) continue;
    // A transfer paused for a slow delegate is not idle on the network's account. Activity is
    // stamped with the round's start, so idleness is measured from there too: bytes that came
    // in during this round's work never count as old.
    const bool idle = !t->paused && roundStart - t->lastActivity >= t->idleTimeout;
    if (now >= t->resourceDeadline || idle) expired.push_back(t->task);
  }
  for (const auto& task : expired) cancel(task, NSURLErrorTimedOut);
}

void IOState::failEverything(const Error& error) {
  std::vector<Transfer*> all;
  for (const auto& [id, t] : transfers) all.push_back(t.get());
  for (Transfer* t : all) {
    if (t->phase == Transfer::Phase::Running) detach(*t);
    if (t->phase == Transfer::Phase::WaitingForHost) admission.remove(t->hostKey, t);
    finish(*t, error);
  }
}

}  // namespace zel::detail
