#include "zel/reporting/ZELNetworkingReporting.h"

#include <atomic>

#include "zel/foundation/ZELAssertion.h"

namespace zel {
namespace {

// The two process-wide slots. Atomic, so installing a callback while reports are being made is
// not a data race; a report uses the callback it read.
using NetworkingSlot = std::shared_ptr<const ZELNetworkingReporting::NetworkingReportingBlock>;
using ErrorSlot = std::shared_ptr<const ZELNetworkingReporting::ErrorReportingBlock>;

std::atomic<NetworkingSlot>& networkingSlot() {
  static auto* slot = new std::atomic<NetworkingSlot>();  // never destroyed: reports may come late
  return *slot;
}

std::atomic<ErrorSlot>& errorSlot() {
  static auto* slot = new std::atomic<ErrorSlot>();
  return *slot;
}

constexpr const char* kNotSetUp = "configureNetworkingReportingBlock is not set up yet!";

}  // namespace

void ZELNetworkingReporting::configureNetworkingReportingBlock(NetworkingReportingBlock block) {
  if (networkingSlot().load()) {
    ZELAssertionFailure("Can configureNetworkingReportingBlock only once!",
                        "+[ZELNetworkingReporting configureNetworkingReportingBlock:]");
  }
  if (!block) {
    ZELAssertionFailure("No reason to set to nil as it defaults to nil",
                        "+[ZELNetworkingReporting configureNetworkingReportingBlock:]");
    networkingSlot().store(nullptr);
    return;
  }
  networkingSlot().store(std::make_shared<const NetworkingReportingBlock>(std::move(block)));
}

void ZELNetworkingReporting::configureErrorReportingBlock(ErrorReportingBlock block) {
  errorSlot().store(block ? std::make_shared<const ErrorReportingBlock>(std::move(block))
                          : nullptr);
}

void ZELNetworkingReporting::report(const std::optional<std::string>& title,
                                    const std::optional<boost::json::object>& metrics,
                                    const std::optional<boost::json::object>& dimensions,
                                    const std::optional<boost::json::object>& additionalInfo) {
  constexpr const char* kMethod =
      "+[ZELNetworkingReporting report:withMetrics:dimensions:additionalInfo:]";
  if (!title) ZELAssertionFailure("Invalid parameter not satisfying: title", kMethod);
  auto block = networkingSlot().load();
  if (!block) {
    ZELAssertionFailure(kNotSetUp, kMethod);
    block = networkingSlot().load();
    if (!block) return;
  }
  (*block)(title, metrics, dimensions, additionalInfo);
}

void ZELNetworkingReporting::reportNetworkMetrics(
    const std::shared_ptr<const ZELNetworkMetrics>& networkMetrics) {
  constexpr const char* kMethod = "+[ZELNetworkingReporting reportNetworkMetrics:]";
  if (!networkMetrics) {
    ZELAssertionFailure("Invalid parameter not satisfying: networkMetrics", kMethod);
  }
  const auto block = networkingSlot().load();
  if (!block) ZELAssertionFailure(kNotSetUp, kMethod);
  if (!networkMetrics || !block) return;
  (*block)(std::string("network_metrics"), std::nullopt, std::nullopt,
           networkMetrics->toJSONDictionary());
}

void ZELNetworkingReporting::reportNetworkError(
    const std::shared_ptr<const ZELNetworkError>& networkError) {
  constexpr const char* kMethod = "+[ZELNetworkingReporting reportNetworkError:]";
  if (!networkError) {
    ZELAssertionFailure("Invalid parameter not satisfying: networkError", kMethod);
  }
  const auto block = errorSlot().load();
  if (!block)
    ZELAssertionFailure("configureNetworkingErrorReportingBlock is not set up yet!", kMethod);
  if (!networkError || !block) return;
  (*block)(networkError->toJSONDictionary());
}

void ZELNetworkingReporting::reportSessionTaskMetrics(const std::any& taskMetrics,
                                                      const std::optional<Error>& error) {
  if (!taskMetrics.has_value()) {
    ZELAssertionFailure("Invalid parameter not satisfying: taskMetrics",
                        "+[ZELNetworkingReporting reportSessionTaskMetrics:error:]");
  }
  if (auto record = ZELNetworkMetrics::networkMetricsWithSessionTaskMetrics(taskMetrics, error)) {
    reportNetworkMetrics(record);
  }
}

void ZELNetworkingReporting::reset() {
  networkingSlot().store(nullptr);
}

}  // namespace zel
