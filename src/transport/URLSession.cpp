#include "zel/transport/URLSession.h"

#include "SessionCore.h"

namespace zel {

std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(
    URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate) {
  auto core = std::make_shared<detail::SessionCore>(std::move(configuration), std::move(delegate));
  core->start();
  auto session = std::make_shared<URLSession>(ConstructionKey{}, core);
  core->attachFacade(session.get());
  return session;
}

URLSession::URLSession(ConstructionKey, std::shared_ptr<detail::SessionCore> core)
    : core_(std::move(core)) {}

URLSession::~URLSession() {
  if (!standIn_) core_->shutdownFromFacade();
}

std::unique_ptr<URLSession> URLSession::makeStandIn(std::shared_ptr<detail::SessionCore> core) {
  auto session = std::make_unique<URLSession>(ConstructionKey{}, std::move(core));
  session->standIn_ = true;
  return session;
}

const URLSessionConfiguration& URLSession::configuration() const noexcept {
  return core_->configuration();
}

std::shared_ptr<URLSessionDelegate> URLSession::delegate() const {
  return core_->delegate();
}

std::shared_ptr<ZELExecutor> URLSession::delegateQueue() const {
  return core_->delegateQueue();
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTaskWithRequest(URLRequest request) {
  return core_->makeTask<URLSessionDataTask>(std::move(request), nullptr);
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTaskWithRequest(
    URLRequest request, URLSessionTask::CompletionHandler completionHandler) {
  return core_->makeTask<URLSessionDataTask>(std::move(request), std::move(completionHandler));
}

std::shared_ptr<URLSessionUploadTask> URLSession::uploadTaskWithRequest(
    URLRequest request, Data body, URLSessionTask::CompletionHandler completionHandler) {
  request.setHTTPBody(std::move(body));
  return core_->makeTask<URLSessionUploadTask>(std::move(request), std::move(completionHandler));
}

void URLSession::getTasksWithCompletionHandler(
    std::function<void(std::vector<std::shared_ptr<URLSessionDataTask>>,
                       std::vector<std::shared_ptr<URLSessionUploadTask>>,
                       std::vector<std::shared_ptr<URLSessionTask>>)>
        completionHandler) {
  core_->getTasks(std::move(completionHandler));
}

void URLSession::finishTasksAndInvalidate() {
  core_->invalidate(false);
}

void URLSession::invalidateAndCancel() {
  core_->invalidate(true);
}

}  // namespace zel
