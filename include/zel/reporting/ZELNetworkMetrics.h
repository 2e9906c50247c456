#pragma once
// ZELNetworkMetrics — one finished request's metrics as a flat record of named values, and its
// JSON form: {"metrics": {the strings}, "dimensions": {the numbers and Booleans}}.
//
//   if (auto record = zel::ZELNetworkMetrics::networkMetricsWithSessionTaskMetrics(
//           std::any(taskMetrics), error)) {
//     report(record->toJSONDictionary());
//   }
//
// Two sources: the session layer's URLSessionTaskMetrics ("NSURLSession" transport) and
// CronetMetrics, which an application with another network stack fills ("Cronet"). The record
// reads the last transaction (and, for Cronet, the first) and keeps copies of the values only.
// Every field may be absent; absent fields are left out of the JSON.

#include <any>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/json/object.hpp>

#include "zel/platform/Error.h"
#include "zel/transport/URLSessionTaskMetrics.h"

namespace zel {

/// The metrics of a request run by another network stack: its transactions, in order, with the
/// same accessors as the session layer's.
struct CronetMetrics {
  std::vector<URLSessionTaskTransactionMetrics> transactionMetrics;
};

class ZELNetworkMetrics {
 public:
  /// A record from `metrics`, which holds a URLSessionTaskMetrics or a CronetMetrics (exactly
  /// those types); anything else is reported ("unexpected metric type: <type>") and gives none.
  [[nodiscard]] static std::shared_ptr<ZELNetworkMetrics> networkMetricsWithSessionTaskMetrics(
      const std::any& metrics, const std::optional<Error>& error = std::nullopt);

  explicit ZELNetworkMetrics(const URLSessionTaskMetrics& metrics,
                             const std::optional<Error>& error = std::nullopt);
  explicit ZELNetworkMetrics(const CronetMetrics& metrics,
                             const std::optional<Error>& error = std::nullopt);

  /// {"metrics": {...}, "dimensions": {...}}, each holding the present fields by name.
  [[nodiscard]] boost::json::object toJSONDictionary() const;

  // ---- "metrics": strings
  std::optional<std::string> host;      // of the final response's URL, else the request's
  std::optional<std::string> path;      // raw_path, with media paths folded to "$.<extension>"
  std::optional<std::string> raw_path;  // the final request's path, "/" added to paths without
                                        // an extension
  std::optional<std::string> method;
  std::optional<std::string> network_protocol;
  std::optional<std::string> tls_version;  // "TLSv12", "TLSv13", "DTLSv12" or "unknown"
  std::optional<std::string> fetch_from;   // "unknown", "network", "push" or "local_cache"
  std::optional<std::string> request_id;   // the response's "x-zelvo-rid"
  std::optional<std::string> transport;    // "NSURLSession" or "Cronet"
  std::optional<std::string> cdn;          // the response's "x-cdn"

  // ---- "dimensions": numbers and Booleans
  std::optional<double> task_duration;  // milliseconds
  std::optional<std::int64_t> status_code;
  std::optional<std::int64_t> error_code;
  std::optional<std::int64_t> request_size;
  std::optional<std::int64_t> request_size_sent;
  std::optional<std::int64_t> response_size_received;
  std::optional<std::int64_t> response_size;
  std::optional<std::int64_t> request_headers_size;
  std::optional<std::int64_t> response_headers_size;
  std::optional<bool> reused_connection;
  std::optional<bool> on_cellular;
  std::optional<bool> is_request_body_gzipped;

  /// The TLS name of a protocol number; "unknown" (reported) for any but 1.2, 1.3 and DTLS 1.2.
  [[nodiscard]] static std::string TLSVersionName(std::uint16_t protocol);
  /// The name of a fetch type (0–3); absent (reported) for any other value.
  [[nodiscard]] static std::optional<std::string> resourceFetchTypeName(std::int64_t fetchType);
  /// "$.<extension>" for jpg, gif, png, mp4, mpd, m3u8, cmfa, cmfv, ts and vtt (exact case);
  /// otherwise the path itself.
  [[nodiscard]] static std::string aggregatePath(const std::string& path);
  /// The path with "/" appended when it is not empty, has no extension and lacks one.
  [[nodiscard]] static std::string addTrailingSlashIfApply(const std::string& path);

 private:
  void readTransaction(const URLSessionTaskTransactionMetrics& last);
  void readError(const std::optional<Error>& error);
};

}  // namespace zel
