#pragma once
// ZELNetworkingSessionDelegateProtocol — what a client needs of its session's delegate: a map
// from each session task to the client task that runs the request, and the mode its requests
// run in.
//
// A client looks at its session's delegate once, when it is made: a delegate that implements
// this interface becomes the client's sessionDelegate; any other delegate is reported.

#include <memory>

#include "zel/transport/URLSessionDelegate.h"

namespace zel {

class ZELNetworkingClientTask;
class URLSessionTask;

class ZELNetworkingSessionDelegateProtocol : public URLSessionDelegate {
 public:
  /// Registers clientTask for sessionTask (replacing an earlier one); nullptr removes the entry.
  virtual void setClientTask(std::shared_ptr<ZELNetworkingClientTask> clientTask,
                             const std::shared_ptr<URLSessionTask>& sessionTask) = 0;
  /// The client task registered for sessionTask, or nullptr.
  [[nodiscard]] virtual std::shared_ptr<ZELNetworkingClientTask> clientTaskForSessionTask(
      const std::shared_ptr<URLSessionTask>& sessionTask) const = 0;
  /// True: requests run as plain data tasks whose events arrive here. False: they run with
  /// completion handlers and only redirects, upload progress and metrics arrive here.
  [[nodiscard]] virtual bool streamingEnabled() const = 0;
};

}  // namespace zel
