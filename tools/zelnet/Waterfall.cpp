#include "Waterfall.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "zel/platform/URLResponse.h"

namespace zelnet {
namespace {

using zel::Date;

struct Phase {
  const char* name;
  std::optional<Date> start;
  std::optional<Date> end;
};

double milliseconds(Date from, Date to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

std::string headline(const zel::URLSessionTaskTransactionMetrics& transaction) {
  std::string line = transaction.request.httpMethod() + " " +
                     (transaction.request.url() ? transaction.request.url()->absoluteString() : "");
  if (const auto* http = dynamic_cast<const zel::HTTPURLResponse*>(transaction.response.get())) {
    line += "  " + std::to_string(http->statusCode());
  }
  line += "  (" + transaction.networkProtocolName.value_or("?") + ", " +
          (transaction.isReusedConnection ? "reused connection" : "new connection") + ")\n";
  return line;
}

}  // namespace

std::string drawWaterfall(const zel::URLSessionTaskMetrics& metrics, int width) {
  if (metrics.transactionMetrics.empty()) return "  no timings\n";
  std::string out;
  for (const auto& t : metrics.transactionMetrics) {
    out += headline(t);
    // TLS is drawn inside connect, as it happens; connect ends where the TLS handshake ends.
    const std::vector<Phase> phases = {
        {"DNS", t.domainLookupStartDate, t.domainLookupEndDate},
        {"connect", t.connectStartDate,
         t.secureConnectionStartDate ? t.secureConnectionStartDate : t.connectEndDate},
        {"TLS", t.secureConnectionStartDate, t.secureConnectionEndDate},
        {"request", t.requestStartDate, t.requestEndDate},
        {"waiting", t.requestEndDate, t.responseStartDate},
        {"download", t.responseStartDate, t.responseEndDate},
    };
    const std::optional<Date> origin = t.fetchStartDate;
    const std::optional<Date> finish = t.responseEndDate;
    if (!origin || !finish || *finish <= *origin) {
      out += "  no timings\n";
      continue;
    }
    const double total = milliseconds(*origin, *finish);
    for (const auto& phase : phases) {
      char row[160];
      if (!phase.start || !phase.end || *phase.end < *phase.start) {
        std::snprintf(row, sizeof row, "  %-9s |%s|        -\n", phase.name,
                      std::string(static_cast<std::size_t>(width), ' ').c_str());
        out += row;
        continue;
      }
      const double from = milliseconds(*origin, *phase.start);
      const double length = milliseconds(*phase.start, *phase.end);
      const int first = std::clamp(static_cast<int>(from / total * width), 0, width - 1);
      const int count =
          std::clamp(static_cast<int>(length / total * width + 0.5), 1, width - first);
      const std::string bar = std::string(static_cast<std::size_t>(first), ' ') +
                              std::string(static_cast<std::size_t>(count), '#') +
                              std::string(static_cast<std::size_t>(width - first - count), ' ');
      std::snprintf(row, sizeof row, "  %-9s |%s| %8.1f ms\n", phase.name, bar.c_str(), length);
      out += row;
    }
    char totalRow[96];
    std::snprintf(totalRow, sizeof totalRow, "  %-9s  %*s  %8.1f ms\n", "total", width, "", total);
    out += totalRow;
  }
  return out;
}

}  // namespace zelnet
