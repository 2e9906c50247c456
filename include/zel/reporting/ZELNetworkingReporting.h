#pragma once
// ZELNetworkingReporting — the process-wide point through which the library hands measurements
// and failures to the application: two callback slots, installed at start-up, and operations
// that turn metrics and error records into dictionaries and pass them on.
//
//   zel::ZELNetworkingReporting::configureNetworkingReportingBlock(
//       [](auto title, auto metrics, auto dimensions, auto additionalInfo) { /* ... */ });
//   zel::ZELNetworkingReporting::configureErrorReportingBlock([](const auto& error) { /* ... */ });
//
// Callbacks run synchronously on the reporting thread (a background thread for the client's
// reports), possibly concurrently: they must be safe to call from any thread. The slots may be
// set while reports are being made (each report uses the callback it read). Misuse is reported
// through the assertion facility and otherwise ignored.

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <boost/json/object.hpp>

#include "zel/platform/Error.h"
#include "zel/reporting/ZELNetworkError.h"
#include "zel/reporting/ZELNetworkMetrics.h"

namespace zel {

class ZELNetworkingReporting {
 public:
  /// (title, metrics, dimensions, additional information); the last three may be absent.
  using NetworkingReportingBlock = std::function<void(
      const std::optional<std::string>& title, const std::optional<boost::json::object>& metrics,
      const std::optional<boost::json::object>& dimensions,
      const std::optional<boost::json::object>& additionalInfo)>;
  /// The error record's dictionary.
  using ErrorReportingBlock = std::function<void(const boost::json::object& error)>;

  ZELNetworkingReporting() = delete;

  /// Installs the networking block; a second installation is reported ("only once") and
  /// replaces the first; an empty block is reported and clears the slot.
  static void configureNetworkingReportingBlock(NetworkingReportingBlock block);
  /// Installs (or with an empty block clears) the error block, silently.
  static void configureErrorReportingBlock(ErrorReportingBlock block);

  /// Passes a titled event through (an absent title is reported and still passed).
  static void report(const std::optional<std::string>& title,
                     const std::optional<boost::json::object>& metrics,
                     const std::optional<boost::json::object>& dimensions,
                     const std::optional<boost::json::object>& additionalInfo);
  /// ("network_metrics", absent, absent, the record's dictionary).
  static void reportNetworkMetrics(const std::shared_ptr<const ZELNetworkMetrics>& networkMetrics);
  /// The record's dictionary to the error block.
  static void reportNetworkError(const std::shared_ptr<const ZELNetworkError>& networkError);
  /// Builds a metrics record from task metrics (a URLSessionTaskMetrics or CronetMetrics in the
  /// any) and reports it.
  static void reportSessionTaskMetrics(const std::any& taskMetrics,
                                       const std::optional<Error>& error = std::nullopt);

  /// Clears the networking slot; the error slot stays.
  static void reset();
};

}  // namespace zel
