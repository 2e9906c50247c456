// Request execution: a future of a built request becomes a future of the parsed response. The
// journey, in order: the full member (guard, mode, cancel token), the start step of the mode,
// the triple member (result step, refinement, main-queue callbacks), the result step that
// judges status and body, and the failure step that tells the authentication provider.

#include "RequestReport.h"
#include "zel/client/ZELNetworkingClient.h"
#include "zel/foundation/ZELAPIResponseLinkHeader.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/futures/ZELCancelToken.h"
#include "zel/futures/ZELFutureMap.h"
#include "zel/platform/ClassLookup.h"
#include "zel/response/NSError+ZELNetworkingAdditions.h"
#include "zel/transport/ZELNetworkingClientTask.h"

namespace zel {
namespace {

constexpr const char* kExecuteMethod =
    "-[ZELNetworkingClient executeDataTaskWithRequest:priority:uploadProgressBlock:"
    "responseHeaderBlock:customResponseCreationBlock:]";
constexpr const char* kFailureMethod =
    "-[ZELNetworkingClient executeDataTaskWithRequestWithTriple:priority:uploadProgressBlock:"
    "responseHeaderBlock:customResponseCreationBlock:]_block_invoke";

const std::shared_ptr<ZELExecutor>& immediate() {
  static const auto executor = ZELExecutor::immediate();
  return executor;
}

}  // namespace

std::optional<std::string> ZELSignpostNameForRequest(const URLRequest&) {
  return std::nullopt;
}

// ---- the public forms -----------------------------------------------------------------------

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::executeDataTaskWithRequest(
    std::optional<ZELFuture<URLRequest>> reqFuture, ZELAPIClientRequestPriority priority,
    ZELUploadProgressBlock uploadProgressBlock) {
  return executeDataTaskWithRequest(std::move(reqFuture), priority, std::move(uploadProgressBlock),
                                    nullptr, nullptr);
}

ZELAPIResponseFutureAndCancelToken
ZELNetworkingClient::executeDataTaskWithCustomResponseCreationBlock(
    std::optional<ZELFuture<URLRequest>> reqFuture, ZELAPIClientRequestPriority priority,
    ZELCustomResponseCreationBlock customResponseCreationBlock) {
  return executeDataTaskWithRequest(std::move(reqFuture), priority, nullptr, nullptr,
                                    std::move(customResponseCreationBlock));
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::executeDataTaskWithRequest(
    std::optional<ZELFuture<URLRequest>> reqFuture, ZELAPIClientRequestPriority priority,
    ZELUploadProgressBlock uploadProgressBlock, ZELResponseHeaderBlock responseHeaderBlock) {
  return executeDataTaskWithRequest(std::move(reqFuture), priority, std::move(uploadProgressBlock),
                                    std::move(responseHeaderBlock), nullptr);
}

ZELAPIResponseFutureAndCancelToken ZELNetworkingClient::executeDataTaskWithRequest(
    std::optional<ZELFuture<URLRequest>> reqFuture, ZELAPIClientRequestPriority priority,
    ZELUploadProgressBlock uploadProgressBlock, ZELResponseHeaderBlock responseHeaderBlock,
    ZELCustomResponseCreationBlock customResponseCreationBlock) {
  // The request is still made: the report is what a test run should notice.
  if (classFromString("TZLZelvoApplicationTests")) {
    ZELAssertionFailure("Unit tests should not make networking requests.", kExecuteMethod);
  }
  if (!reqFuture) {
    ZELAssertionFailure("The following expression must not evaluate to nil: reqFuture",
                        kExecuteMethod);
    return ZELAPIResponseFutureAndCancelToken::newWithCancelToken(
        ZELCancelToken::initWithExecutor(immediate(), [] {}),
        ZELAPIResponseFuture::withValue(ZELAPIResponse::emptyResponse()));
  }

  auto self = shared_from_this();
  const bool streaming = streamingEnabled();
  auto start = [self, streaming, priority, uploadProgressBlock,
                responseHeaderBlock](const URLRequest& request) {
    return self->startTask(request, streaming, priority, uploadProgressBlock, responseHeaderBlock);
  };
  // The mode is read again when the task has started, as the two members are chosen.
  auto run = [self, priority, uploadProgressBlock = std::move(uploadProgressBlock),
              responseHeaderBlock = std::move(responseHeaderBlock),
              customBlock = std::move(customResponseCreationBlock)](
                 const ZELRequestTaskResultTriple& triple) {
    return self->streamingEnabled()
               ? self->executeDataTaskWithRequestWithTripleV2(triple, priority, uploadProgressBlock,
                                                              responseHeaderBlock, customBlock)
               : self->executeDataTaskWithRequestWithTriple(triple, priority, uploadProgressBlock,
                                                            responseHeaderBlock, customBlock);
  };

  // Request building usually hands over a request future already resolved: the steps that would
  // run inline on the immediate executor then run here directly, without futures between them.
  // Cancelling before the request future completes takes effect once the task has started.
  std::optional<ZELAPIResponseFuture> outcome;
  std::function<void()> cancel = [] {};
  if (const auto built = reqFuture->peek(); built && built->ok()) {
    try {
      auto triple = start(built->value());
      cancel = [task = triple.task] { task->cancel(); };
      outcome = run(triple);
    } catch (...) {
      outcome = ZELAPIResponseFuture::withError(detail::errorFromCurrentException());
    }
  } else {
    auto tripleFuture = ZELFutureMap::map(*reqFuture, immediate(), std::move(start));
    outcome = ZELFutureMap::flatMap(tripleFuture, immediate(), std::move(run));
    cancel = [tripleFuture] {
      tripleFuture.executor(
          immediate(), [](const ZELRequestTaskResultTriple& triple) { triple.task->cancel(); },
          nullptr);
    };
  }
  auto token = ZELCancelToken::initWithExecutor(immediate(), std::move(cancel));
  return ZELAPIResponseFutureAndCancelToken::newWithCancelToken(std::move(token),
                                                                std::move(*outcome));
}

ZELAPIResponseFuture ZELNetworkingClient::executeDataTaskWithRequestWithTriple(
    const ZELRequestTaskResultTriple& triple, ZELAPIClientRequestPriority,
    ZELUploadProgressBlock uploadProgressBlock, ZELResponseHeaderBlock responseHeaderBlock,
    ZELCustomResponseCreationBlock customResponseCreationBlock) {
  return runTriple(triple, false, std::move(uploadProgressBlock), std::move(responseHeaderBlock),
                   std::move(customResponseCreationBlock));
}

ZELAPIResponseFuture ZELNetworkingClient::executeDataTaskWithRequestWithTripleV2(
    const ZELRequestTaskResultTriple& triple, ZELAPIClientRequestPriority,
    ZELUploadProgressBlock uploadProgressBlock, ZELResponseHeaderBlock responseHeaderBlock,
    ZELCustomResponseCreationBlock customResponseCreationBlock) {
  return runTriple(triple, true, std::move(uploadProgressBlock), std::move(responseHeaderBlock),
                   std::move(customResponseCreationBlock));
}

// ---- the steps --------------------------------------------------------------------------------

bool ZELNetworkingClient::streamingEnabled() const {
  const auto delegate = sessionDelegate();
  return delegate && delegate->streamingEnabled();
}

ZELRequestTaskResultTriple ZELNetworkingClient::startTask(
    const URLRequest& request, bool streaming, ZELAPIClientRequestPriority priority,
    const ZELUploadProgressBlock& uploadProgressBlock,
    const ZELResponseHeaderBlock& responseHeaderBlock) {
  // In both modes the client task is registered, its blocks set, before the task starts, so no
  // event of it (upload progress above all) is missed.
  std::shared_ptr<URLSessionDataTask> task;
  std::optional<ZELFuture<ZELNSURLSessionDataTaskResult>> resultFuture;
  if (streaming) {
    task = session_->dataTaskWithRequest(request);
  } else {
    // The outcome arrives through the task's completion handler, as a result record.
    ZELPromise<ZELNSURLSessionDataTaskResult> outcome;
    resultFuture = outcome.future();
    task = session_->dataTaskWithRequest(
        request, [outcome](std::optional<Data> data, std::shared_ptr<const URLResponse> response,
                           std::optional<Error> error) {
          outcome.resolve(ZELNSURLSessionDataTaskResult::resultWithData(
              std::move(data), std::move(response), std::move(error)));
        });
  }
  auto clientTask = ZELNetworkingClientTask::initWithURLSessionTask(task);
  // In completion-handler mode the result step calls the header block, with the whole outcome.
  if (streaming) clientTask->setHeaderBlock(responseHeaderBlock);
  clientTask->setUploadProgressBlock(uploadProgressBlock);
  if (const auto delegate = sessionDelegate()) delegate->setClientTask(clientTask, task);
  task->setPriority(mapAPIClientRequestPriorityToNSURLSessionTaskPriority(priority));
  task->resume();
  return ZELRequestTaskResultTriple::newWithrequest(
      request, std::move(task), resultFuture ? *resultFuture : clientTask->resultFuture());
}

ZELAPIResponseFuture ZELNetworkingClient::runTriple(const ZELRequestTaskResultTriple& triple,
                                                    bool streaming,
                                                    ZELUploadProgressBlock uploadProgressBlock,
                                                    ZELResponseHeaderBlock responseHeaderBlock,
                                                    ZELCustomResponseCreationBlock customBlock) {
  auto self = shared_from_this();
  const auto provider = authenticationProvider();
  const std::string accessToken = provider ? provider->accessToken() : std::string();

  // The client task the start step registered (absent if the client lost its delegate). A
  // triple started elsewhere in completion-handler mode gets one here.
  const auto delegate = sessionDelegate();
  std::shared_ptr<ZELNetworkingClientTask> clientTask =
      delegate ? delegate->clientTaskForSessionTask(triple.task) : nullptr;
  if (!clientTask && !streaming && delegate) {
    clientTask = ZELNetworkingClientTask::initWithURLSessionTask(triple.task);
    delegate->setClientTask(clientTask, triple.task);
    if (uploadProgressBlock) clientTask->setUploadProgressBlock(uploadProgressBlock);
  }

  const auto report = std::make_shared<const RequestReport>(
      RequestReport{triple.request, triple.task, clientTask, shouldLogNetworkMetrics(),
                    shouldLogNetworkErrors()});
  // Will-start goes out before the result step is attached: the task may already have ended, and
  // did-finish, which the result step posts on another thread, must never come first.
  reportWillStart(report);
  auto judged = ZELFutureMap::flatMap(
      triple.resultFuture, ZELExecutor::background(),
      [self, streaming, report, responseHeaderBlock = std::move(responseHeaderBlock),
       customBlock = std::move(customBlock)](const ZELNSURLSessionDataTaskResult& result) {
        self->reportDidFinish(*report, result);
        return self->judgeResult(result, report->task, streaming, responseHeaderBlock, customBlock);
      });

  auto refined = judged.flatMapError(ZELExecutor::background(), [report](const Error& error) {
    return ZELAPIResponseFuture::withError(zel_errorWithUpdatedCode(
        zel_errorLocalizedAndContextAddedForRequest(error, report->request)));
  });
  // Beside the caller's own callbacks: they neither delay nor change the outcome. A failure goes
  // to the main queue for the provider calls. A success only starts the metrics report, which
  // waits for the metrics on the background executor anyway, so it takes no main-queue hop.
  if (report->logNetworkMetrics) {
    refined.onComplete([self, report](const Result<std::shared_ptr<ZELAPIResponse>>& r) {
      if (r.ok()) self->reportSuccess(*report);
    });
  }
  refined.onComplete([self, report, accessToken](const Result<std::shared_ptr<ZELAPIResponse>>& r) {
    if (r.ok()) return;
    ZELExecutor::main()->execute([self, report, accessToken, error = r.error()] {
      self->requestFailed(error, report->request, accessToken, report->clientTask);
      self->reportFailure(*report, error);
    });
  });
  return refined;
}

ZELAPIResponseFuture ZELNetworkingClient::judgeResult(
    const ZELNSURLSessionDataTaskResult& result, const std::shared_ptr<URLSessionDataTask>& task,
    bool streaming, const ZELResponseHeaderBlock& responseHeaderBlock,
    const ZELCustomResponseCreationBlock& customBlock) {
  if (const auto delegate = sessionDelegate()) delegate->setClientTask(nullptr, task);
  if (result.error) return ZELAPIResponseFuture::withError(*result.error);

  const auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(result.response);
  const Data body = result.data.value_or(Data());
  if (!streaming && !body.empty() && http && responseHeaderBlock) {
    if (const auto links =
            ZELAPIResponseLinkHeader::initWithHeaderFields(http->allHeaderFields())) {
      responseHeaderBlock(*links);
    }
  }
  if (body.empty()) {
    if (http && http->statusCode() < 400) {
      return ZELAPIResponseFuture::withValue(ZELAPIResponse::emptyResponse());
    }
    return ZELAPIResponseFuture::withError(
        zelvoHTTPErrorWithHTTPStatusCode(http ? http->statusCode() : 0));
  }
  if (customBlock) return ZELAPIResponseFuture::withValue(customBlock(http, body));
  return parseData(body, http ? http->statusCode() : 0);
}

void ZELNetworkingClient::requestFailed(
    const Error& error, const URLRequest& request, const std::string& accessTokenAtStart,
    const std::shared_ptr<ZELNetworkingClientTask>& clientTask) const {
  const auto provider = authenticationProvider();
  if (error.code() == 3 && provider) provider->authorizationFailed();
  if (error.code() == 2) {
    if (accessTokenAtStart.empty()) {
      const std::string url = request.url() ? request.url()->absoluteString() : "(no URL)";
      ZELAssertionFailure(
          "Authorization error response and no access token.  Probably called an auth-only "
          "endpoint when unauth.  Request: " +
              url,
          kFailureMethod);
    }
    if (provider) provider->accessTokenInvalidWithError(error, clientTask);
  }
}

}  // namespace zel
