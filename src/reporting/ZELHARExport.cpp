#include "zel/reporting/ZELHARExport.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include <boost/json/array.hpp>

#include "../url/PercentEncoding.h"

namespace zel {
namespace {

bool isCredential(std::string_view name) {
  return headerNameEquals(name, "Authorization") || headerNameEquals(name, "Proxy-Authorization") ||
         headerNameEquals(name, "Cookie") || headerNameEquals(name, "Set-Cookie");
}

boost::json::array headersOf(const HTTPHeaders& headers, const ZELHAROptions& options) {
  boost::json::array list;
  for (const auto& [name, value] : headers) {
    const bool redact = !options.includeCredentials && isCredential(name);
    list.push_back(boost::json::object{{"name", name}, {"value", redact ? "[redacted]" : value}});
  }
  return list;
}

// "2026-12-06T16:30:27.123Z"
std::string iso8601(Date date) {
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis % 1000));
  return text;
}

// Milliseconds from a to b, or -1 when either is unknown.
double span(const std::optional<Date>& a, const std::optional<Date>& b) {
  if (!a || !b || *b < *a) return -1;
  return std::chrono::duration<double, std::milli>(*b - *a).count();
}

std::string httpVersionOf(const URLSessionTaskTransactionMetrics& t,
                          const std::shared_ptr<const HTTPURLResponse>& response) {
  if (response) return response->httpVersion();
  if (t.networkProtocolName == "h2") return "HTTP/2";
  return t.networkProtocolName ? "HTTP/1.1" : "";
}

boost::json::object contentOf(const std::optional<Data>& body, std::int64_t size,
                              const std::string& mimeType) {
  boost::json::object content{{"size", size}, {"mimeType", mimeType}};
  if (body && detail::isValidUTF8(body->stringView())) content["text"] = body->stringView();
  return content;
}

boost::json::object entryOf(const URLSessionTaskTransactionMetrics& t, const ZELHARTask& task,
                            bool last, const ZELHAROptions& options) {
  const auto response = std::dynamic_pointer_cast<const HTTPURLResponse>(t.response);
  const std::string version = httpVersionOf(t, response);

  // Request.
  const URLRequest& request = t.request;
  boost::json::array query;
  if (request.url() && request.url()->query()) {
    std::string_view rest = *request.url()->query();
    while (!rest.empty()) {
      const auto amp = rest.find('&');
      const auto pair = rest.substr(0, amp);
      const auto eq = pair.find('=');
      query.push_back(boost::json::object{
          {"name", pair.substr(0, eq)},
          {"value", eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1)}});
      rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    }
  }
  boost::json::object requestObject{
      {"method", request.httpMethod()},
      {"url", request.url() ? request.url()->absoluteString() : std::string()},
      {"httpVersion", version},
      {"cookies", boost::json::array()},
      {"headers", headersOf(request.allHTTPHeaderFields(), options)},
      {"queryString", std::move(query)},
      {"headersSize", t.countOfRequestHeaderBytesSent > 0 ? t.countOfRequestHeaderBytesSent : -1},
      {"bodySize", t.countOfRequestBodyBytesSent}};
  if (const auto& body = request.httpBody()) {
    boost::json::object postData{
        {"mimeType", request.valueForHTTPHeaderField("Content-Type").value_or("")}};
    postData["text"] =
        detail::isValidUTF8(body->stringView()) ? std::string(body->stringView()) : std::string();
    requestObject["postData"] = std::move(postData);
  }

  // Response.
  const std::string mimeType =
      response ? response->valueForHTTPHeaderField("Content-Type").value_or("") : "";
  boost::json::object responseObject{
      {"status", response ? response->statusCode() : 0},
      {"statusText", ""},
      {"httpVersion", version},
      {"cookies", boost::json::array()},
      {"headers",
       response ? headersOf(response->allHeaderFields(), options) : boost::json::array()},
      {"content", contentOf(last ? task.result.data : std::nullopt,
                            t.countOfResponseBodyBytesAfterDecoding, mimeType)},
      {"redirectURL", response ? response->valueForHTTPHeaderField("Location").value_or("") : ""},
      {"headersSize",
       t.countOfResponseHeaderBytesReceived > 0 ? t.countOfResponseHeaderBytesReceived : -1},
      {"bodySize", t.countOfResponseBodyBytesReceived}};

  // Timings: blocked until the lookup (or the request) starts, then each phase in turn.
  const auto& start = t.fetchStartDate;
  const auto& firstPhase = t.domainLookupStartDate ? t.domainLookupStartDate
                           : t.connectStartDate    ? t.connectStartDate
                                                   : t.requestStartDate;
  const double blocked = span(start, firstPhase);
  const double dns = span(t.domainLookupStartDate, t.domainLookupEndDate);
  const double connect = span(t.connectStartDate, t.connectEndDate);
  const double ssl = span(t.secureConnectionStartDate, t.secureConnectionEndDate);
  const double send = std::max(0.0, span(t.requestStartDate, t.requestEndDate));
  const double wait = std::max(0.0, span(t.requestEndDate, t.responseStartDate));
  const double receive = std::max(0.0, span(t.responseStartDate, t.responseEndDate));
  double time = send + wait + receive;
  for (const double phase : {blocked, dns, connect}) time += std::max(0.0, phase);

  boost::json::object entry{
      {"startedDateTime", iso8601(start.value_or(task.metrics.taskInterval.start))},
      {"time", time},
      {"request", std::move(requestObject)},
      {"response", std::move(responseObject)},
      {"cache", boost::json::object()},
      {"timings", boost::json::object{{"blocked", blocked},
                                      {"dns", dns},
                                      {"connect", connect},
                                      {"ssl", ssl},
                                      {"send", send},
                                      {"wait", wait},
                                      {"receive", receive}}}};
  if (t.remoteAddress) entry["serverIPAddress"] = *t.remoteAddress;
  if (t.localPort) entry["connection"] = std::to_string(*t.localPort);
  return entry;
}

}  // namespace

boost::json::object ZELHARLogForTasks(const std::vector<ZELHARTask>& tasks,
                                      const ZELHAROptions& options) {
  boost::json::array entries;
  for (const auto& task : tasks) {
    const auto& transactions = task.metrics.transactionMetrics;
    for (std::size_t i = 0; i < transactions.size(); ++i) {
      entries.push_back(entryOf(transactions[i], task, i + 1 == transactions.size(), options));
    }
  }
  return boost::json::object{
      {"log",
       boost::json::object{{"version", "1.2"},
                           {"creator", boost::json::object{{"name", options.creatorName},
                                                           {"version", options.creatorVersion}}},
                           {"entries", std::move(entries)}}}};
}

boost::json::object ZELHARLogForRecordedTransactions(
    const std::vector<ZELRecordedHTTPTransaction>& transactions, const ZELHAROptions& options) {
  std::vector<ZELHARTask> tasks;
  tasks.reserve(transactions.size());
  for (const auto& transaction : transactions) {
    if (!transaction.metrics) continue;
    const auto metrics = transaction.metrics->peek();
    if (!metrics || !metrics->ok() || !metrics->value()) continue;
    tasks.push_back({*metrics->value(), transaction.result});
  }
  return ZELHARLogForTasks(tasks, options);
}

}  // namespace zel
