#pragma once
// Per-task metrics: the task's interval and one record per request/response transaction
// (each redirect hop is a transaction of its own).

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zel/platform/URLRequest.h"
#include "zel/platform/URLResponse.h"

namespace zel {

using Date = std::chrono::system_clock::time_point;

struct DateInterval {
  Date start;
  std::chrono::nanoseconds duration{0};
  [[nodiscard]] Date end() const {
    return start + std::chrono::duration_cast<Date::duration>(duration);
  }
};

enum class URLSessionTaskMetricsResourceFetchType { Unknown, NetworkLoad, ServerPush, LocalCache };

struct URLSessionTaskTransactionMetrics {
  URLRequest request;
  std::shared_ptr<const URLResponse> response;  // absent when no response head arrived

  std::optional<Date> fetchStartDate;
  std::optional<Date> domainLookupStartDate;
  std::optional<Date> domainLookupEndDate;
  std::optional<Date> connectStartDate;
  std::optional<Date> secureConnectionStartDate;
  std::optional<Date> secureConnectionEndDate;
  std::optional<Date> connectEndDate;
  std::optional<Date> requestStartDate;
  std::optional<Date> requestEndDate;
  std::optional<Date> responseStartDate;
  std::optional<Date> responseEndDate;

  /// "http/1.1", "h2", "http/1.0"; absent when no connection was made.
  std::optional<std::string> networkProtocolName;
  bool isProxyConnection = false;
  bool isReusedConnection = false;
  URLSessionTaskMetricsResourceFetchType resourceFetchType =
      URLSessionTaskMetricsResourceFetchType::NetworkLoad;

  std::int64_t countOfRequestHeaderBytesSent = 0;
  std::int64_t countOfRequestBodyBytesSent = 0;
  std::int64_t countOfRequestBodyBytesBeforeEncoding = 0;
  std::int64_t countOfResponseHeaderBytesReceived = 0;
  std::int64_t countOfResponseBodyBytesReceived = 0;
  std::int64_t countOfResponseBodyBytesAfterDecoding = 0;

  std::optional<std::string> localAddress;
  std::optional<int> localPort;
  std::optional<std::string> remoteAddress;
  std::optional<int> remotePort;
  /// 0x0303 for TLS 1.2, 0x0304 for TLS 1.3; absent without TLS.
  std::optional<std::uint16_t> negotiatedTLSProtocolVersion;
  std::optional<std::string> negotiatedTLSCipherSuite;

  bool isCellular = false;
  bool isExpensive = false;
  bool isConstrained = false;
  bool isMultipath = false;

  /// "network" for a load from the network (the only kind this session makes).
  [[nodiscard]] std::string resourceFetchTypeName() const;
};

struct URLSessionTaskMetrics {
  std::vector<URLSessionTaskTransactionMetrics> transactionMetrics;
  DateInterval taskInterval;
  std::size_t redirectCount = 0;
};

}  // namespace zel
