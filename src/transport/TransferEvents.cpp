// What a running transfer hands out on its way: redirects for the delegate to decide on, body
// pieces (paused while the delegate is behind) and upload progress.

#include "RedirectProposal.h"
#include "RequestValidation.h"
#include "SessionCore.h"
#include "SessionIO.h"
#include "TaskEngineKey.h"

namespace zel::detail {
namespace {

const TaskEngineKey kKey{};

}  // namespace

void IOState::followRedirect(Transfer& t) {
  auto proposal =
      proposeRedirect(t.request(), static_cast<const HTTPURLResponse&>(*t.response), t.hops);
  if (auto* error = std::get_if<Error>(&proposal)) {
    finish(t, std::move(*error));
    return;
  }
  t.moveTo(Transfer::Phase::AwaitingRedirect);
  core.deliverRedirect(t.task, std::static_pointer_cast<const HTTPURLResponse>(t.response),
                       std::get<URLRequest>(std::move(proposal)));
}

void IOState::redirectDecided(const std::shared_ptr<URLSessionTask>& task,
                              std::optional<URLRequest> request) {
  const auto it = transfers.find(task->taskIdentifier());
  if (it == transfers.end() || it->second->phase != Transfer::Phase::AwaitingRedirect) return;
  Transfer& t = *it->second;
  if (!request) {
    // The delegate stopped: the 3xx response and its body are the task's outcome.
    task->setResponse(kKey, t.response);
    t.body = std::move(t.redirectBody);
    t.decodedBodyBytes = static_cast<std::int64_t>(t.body.size());
    if (t.streaming) core.deliverResponse(task, t.response);
    finish(t, std::nullopt);
    return;
  }
  ++t.hops;
  t.freshConnection = false;
  t.url = {};  // viewed the previous request
  t.redirectedRequest = std::make_unique<URLRequest>(std::move(*request));
  task->setCurrentRequest(kKey, t.request());
  if (auto invalid = validateRequest(t.request(), core.configurationProblem())) {
    finish(t, std::move(*invalid));
    return;
  }
  queueForHost(t);
}

void IOState::resumeAfterBacklog(const std::shared_ptr<URLSessionTask>& task) {
  const auto it = transfers.find(task->taskIdentifier());
  if (it == transfers.end() || !it->second->paused) return;
  Transfer& t = *it->second;
  t.paused = false;
  t.lastActivity = SteadyClock::now();
  // libcurl hands the held bytes to the write callback from inside this call; when the callback
  // stops the transfer there, libcurl only says so here.
  const CURLcode resumed = curl_easy_pause(t.easy.get(), CURLPAUSE_CONT);
  if (resumed != CURLE_OK) transferDone(t, resumed);
}

void IOState::deliverBodyPiece(Transfer& t) {
  t.bodyPending = false;
  if (t.body.empty()) return;
  const auto size = static_cast<std::int64_t>(t.body.size());
  t.backlog->bytes.fetch_add(size);
  t.task->addBytesReceived(kKey, size);
  core.deliverData(t.task, Data(std::move(t.body)), t.backlog);
  t.body = std::string();
}

void IOState::markBodyPending(Transfer& t) {
  if (t.bodyPending) return;
  t.bodyPending = true;
  pendingBodies.push_back(t.task->taskIdentifier());
}

void IOState::flushPendingBodies() {
  for (const auto id : pendingBodies) {
    const auto it = transfers.find(id);
    if (it != transfers.end() && it->second->bodyPending) deliverBodyPiece(*it->second);
  }
  pendingBodies.clear();
}

void IOState::uploadProgressed(Transfer& t, std::int64_t sent, std::int64_t total,
                               std::int64_t expected) {
  t.task->setBytesSent(kKey, total);
  core.deliverUploadProgress(t.task, sent, total, expected);
}

}  // namespace zel::detail
