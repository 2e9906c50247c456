#include "zel/reporting/ZELNetworkMetrics.h"

#include <array>
#include <typeinfo>

#include "PathExtension.h"
#include "zel/foundation/ZELAssertion.h"

namespace zel {
namespace {

constexpr const char* kRecordMethod =
    "-[ZELNetworkMetrics networkMetricsWithSessionTaskMetrics:error:]";

std::optional<std::string> headerOf(const std::shared_ptr<const HTTPURLResponse>& response,
                                    std::string_view name) {
  if (!response) return std::nullopt;
  const auto* value = response->allHeaderFields().find(name);
  return value ? std::optional(*value) : std::nullopt;
}

double milliseconds(std::chrono::nanoseconds duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

}  // namespace

std::shared_ptr<ZELNetworkMetrics> ZELNetworkMetrics::networkMetricsWithSessionTaskMetrics(
    const std::any& metrics, const std::optional<Error>& error) {
  if (const auto* cronet = std::any_cast<CronetMetrics>(&metrics)) {
    return std::make_shared<ZELNetworkMetrics>(*cronet, error);
  }
  if (const auto* platform = std::any_cast<URLSessionTaskMetrics>(&metrics)) {
    return std::make_shared<ZELNetworkMetrics>(*platform, error);
  }
  const std::string type = metrics.has_value() ? metrics.type().name() : "(null)";
  ZELAssertionFailure("unexpected metric type: " + type, kRecordMethod);
  return nullptr;
}

ZELNetworkMetrics::ZELNetworkMetrics(const URLSessionTaskMetrics& metrics,
                                     const std::optional<Error>& error) {
  task_duration = milliseconds(metrics.taskInterval.duration);
  if (!metrics.transactionMetrics.empty()) readTransaction(metrics.transactionMetrics.back());
  readError(error);
  transport = "NSURLSession";
}

ZELNetworkMetrics::ZELNetworkMetrics(const CronetMetrics& metrics,
                                     const std::optional<Error>& error) {
  if (!metrics.transactionMetrics.empty()) {
    const auto& first = metrics.transactionMetrics.front();
    const auto& last = metrics.transactionMetrics.back();
    if (first.fetchStartDate && last.responseEndDate) {
      task_duration = milliseconds(*last.responseEndDate - *first.fetchStartDate);
    }
    readTransaction(last);
    // Another stack may not count decoded bytes: the declared length stands in for them.
    const auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(last.response);
    if (response_size == 0 && http &&
        http->expectedContentLength() != URLResponse::kUnknownLength) {
      response_size = http->expectedContentLength();
    }
  }
  readError(error);
  transport = "Cronet";
}

void ZELNetworkMetrics::readTransaction(const URLSessionTaskTransactionMetrics& last) {
  const URLRequest& request = last.request;
  const auto response = std::dynamic_pointer_cast<const HTTPURLResponse>(last.response);
  const std::optional<std::string> responseHost =
      response && response->url() ? response->url()->host() : std::nullopt;
  if (responseHost && !responseHost->empty()) {
    host = responseHost;
  } else if (request.url()) {
    host = request.url()->host();
  }
  if (request.url()) {
    raw_path = addTrailingSlashIfApply(request.url()->path());
    path = aggregatePath(*raw_path);
  }
  method = request.httpMethod();
  status_code = response ? response->statusCode() : 0;
  request_id = headerOf(response, "x-zelvo-rid");

  request_size = last.countOfRequestBodyBytesBeforeEncoding;
  request_size_sent = last.countOfRequestBodyBytesSent;
  response_size_received = last.countOfResponseBodyBytesReceived;
  response_size = last.countOfResponseBodyBytesAfterDecoding;
  request_headers_size = last.countOfRequestHeaderBytesSent;
  response_headers_size = last.countOfResponseHeaderBytesReceived;

  if (last.negotiatedTLSProtocolVersion) {
    tls_version = TLSVersionName(*last.negotiatedTLSProtocolVersion);
  }
  on_cellular = last.isCellular;
  network_protocol = last.networkProtocolName;
  reused_connection = last.isReusedConnection;
  fetch_from = resourceFetchTypeName(static_cast<std::int64_t>(last.resourceFetchType));
  is_request_body_gzipped = request.valueForHTTPHeaderField("Content-Encoding") == "gzip";
  if (request_size == 0 && request.httpBody()) {
    request_size = static_cast<std::int64_t>(request.httpBody()->size());
  }
  cdn = headerOf(response, "x-cdn");
}

void ZELNetworkMetrics::readError(const std::optional<Error>& error) {
  if (error) error_code = error->code();
}

boost::json::object ZELNetworkMetrics::toJSONDictionary() const {
  boost::json::object metrics;
  boost::json::object dimensions;
  auto put = [](boost::json::object& into, const char* key, const auto& value) {
    if (value) into[key] = *value;
  };
  put(metrics, "host", host);
  put(metrics, "path", path);
  put(metrics, "raw_path", raw_path);
  put(metrics, "method", method);
  put(metrics, "network_protocol", network_protocol);
  put(metrics, "tls_version", tls_version);
  put(metrics, "fetch_from", fetch_from);
  put(metrics, "request_id", request_id);
  put(metrics, "transport", transport);
  put(metrics, "cdn", cdn);
  put(dimensions, "task_duration", task_duration);
  put(dimensions, "status_code", status_code);
  put(dimensions, "error_code", error_code);
  put(dimensions, "request_size", request_size);
  put(dimensions, "request_size_sent", request_size_sent);
  put(dimensions, "response_size_received", response_size_received);
  put(dimensions, "response_size", response_size);
  put(dimensions, "request_headers_size", request_headers_size);
  put(dimensions, "response_headers_size", response_headers_size);
  put(dimensions, "reused_connection", reused_connection);
  put(dimensions, "on_cellular", on_cellular);
  put(dimensions, "is_request_body_gzipped", is_request_body_gzipped);
  return boost::json::object{{"metrics", std::move(metrics)},
                             {"dimensions", std::move(dimensions)}};
}

std::string ZELNetworkMetrics::TLSVersionName(std::uint16_t protocol) {
  switch (protocol) {
    case 0x0303:
      return "TLSv12";
    case 0x0304:
      return "TLSv13";
    case 0xFEFD:
      return "DTLSv12";
    default:
      ZELAssertionFailure("Apple is adding new TLS?", "-[ZELNetworkMetrics __TLSVersion:]");
      return "unknown";
  }
}

std::optional<std::string> ZELNetworkMetrics::resourceFetchTypeName(std::int64_t fetchType) {
  switch (fetchType) {
    case 0:
      return "unknown";
    case 1:
      return "network";
    case 2:
      return "push";
    case 3:
      return "local_cache";
    default:
      ZELAssertionFailure("Apple is adding new fetch type?",
                          "-[ZELNetworkMetrics __resourceFetchType:]");
      return std::nullopt;
  }
}

std::string ZELNetworkMetrics::aggregatePath(const std::string& path) {
  // Built once; read only afterwards.
  static constexpr std::array<std::string_view, 10> kAggregated = {
      "jpg", "gif", "png", "mp4", "mpd", "m3u8", "cmfa", "cmfv", "ts", "vtt"};
  const std::string extension = detail::pathExtension(path);
  for (const auto candidate : kAggregated) {
    if (extension == candidate) return "$." + extension;
  }
  return path;
}

std::string ZELNetworkMetrics::addTrailingSlashIfApply(const std::string& path) {
  if (path.empty() || !detail::pathExtension(path).empty() || path.back() == '/') return path;
  return path + "/";
}

}  // namespace zel
