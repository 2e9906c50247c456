#pragma once
// HAR 1.2 export: finished tasks as the JSON that browser developer tools and HTTP debugging
// proxies open. One entry per transaction (a redirect adds one), with its timings taken from
// the transaction metrics.
//
//   std::ofstream("session.har") << boost::json::serialize(zel::ZELHARLogForTasks(tasks));
//   … or, from a capturing ZELNetworkRecorder:
//   zel::ZELHARLogForRecordedTransactions(recorder->transactions())
//
// Credentials stay out of the file unless asked for: the values of "Authorization",
// "Proxy-Authorization", "Cookie" and "Set-Cookie" are written as "[redacted]".

#include <string>
#include <vector>

#include <boost/json/object.hpp>

#include "zel/foundation/ZELNetworkRecorder.h"
#include "zel/futures/ZELNSURLSessionDataTaskResult.h"
#include "zel/transport/URLSessionTaskMetrics.h"

namespace zel {

/// One finished task: its metrics (one transaction per request and response) and its outcome.
struct ZELHARTask {
  URLSessionTaskMetrics metrics;
  ZELNSURLSessionDataTaskResult result;  // the final response's body goes into the last entry
};

struct ZELHAROptions {
  /// Write credential header values as they are.
  bool includeCredentials = false;
  std::string creatorName = "ZELNetworking";
  std::string creatorVersion = ZEL_NETWORKING_VERSION_STRING;
};

/// {"log": {"version": "1.2", "creator": {...}, "entries": [...]}}. Timings not measured are -1;
/// an entry's "time" is the sum of its measured timings (ssl is part of connect, as HAR counts).
[[nodiscard]] boost::json::object ZELHARLogForTasks(const std::vector<ZELHARTask>& tasks,
                                                    const ZELHAROptions& options = {});

/// What a recorder captured (`recorder->transactions()`), oldest first. A transaction enters
/// once its metrics have arrived (they carry the request and the timings); one recorded without
/// metrics, or whose metrics have not arrived yet, is left out.
[[nodiscard]] boost::json::object ZELHARLogForRecordedTransactions(
    const std::vector<ZELRecordedHTTPTransaction>& transactions, const ZELHAROptions& options = {});

}  // namespace zel
