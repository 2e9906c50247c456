#pragma once
// A request's timings drawn as text, one row per phase of each transaction:
//
//   GET http://127.0.0.1:8080/v3/users/me/  200  (http/1.1, new connection)
//     DNS        |#                                       |   0.1 ms
//     connect    | ##                                     |   0.3 ms
//     ...

#include <string>

#include "zel/transport/URLSessionTaskMetrics.h"

namespace zelnet {

/// Rows for every transaction of the task; "no timings" when it has none. `width` is the bar's.
[[nodiscard]] std::string drawWaterfall(const zel::URLSessionTaskMetrics& metrics, int width = 40);

}  // namespace zelnet
