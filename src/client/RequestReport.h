#pragma once
// The side channels of one running request: what will-start, did-finish, did-collect-metrics and
// the reports need, shared by the execution and reporting steps.

#include <atomic>
#include <memory>

#include "zel/client/ZELNetworkingClient.h"
#include "zel/platform/URLRequest.h"
#include "zel/transport/ZELNetworkingClientTask.h"

namespace zel {
namespace detail {

// Who posts did-collect-metrics: the result step, when the metrics arrived before it (no extra
// hop to the background executor), else the metrics' own listener.
struct MetricsHandoff {
  static constexpr int kPending = 0, kMetricsArrived = 1, kResultStepPassed = 2;
  std::atomic<int> state{kPending};
  MetricsHandoff() = default;
  MetricsHandoff(const MetricsHandoff& other) : state(other.state.load()) {}
};

}  // namespace detail

struct ZELNetworkingClient::RequestReport {
  URLRequest request;
  std::shared_ptr<URLSessionDataTask> task;
  std::shared_ptr<ZELNetworkingClientTask> clientTask;
  bool logNetworkMetrics = false;  // the process-wide switches, read when the request started
  bool logNetworkErrors = false;
  mutable detail::MetricsHandoff metricsHandoff{};
};

}  // namespace zel
