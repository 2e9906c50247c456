#pragma once
// Wall-clock timestamps in nanoseconds since 1970-01-01 00:00:00 UTC.
//
// Computed as the platform does: seconds since 1970 as a double, times 1e9, truncated toward
// zero. Present-day values therefore step by a few hundred nanoseconds; servers and stored
// values compare equal to the platform's. Values beyond the int64 range saturate.

#include <chrono>
#include <cstdint>

namespace zel {

/// Nanoseconds since 1970 for the date (earlier dates are negative). One second after 1970
/// gives 1000000000.
[[nodiscard]] std::int64_t zel_timestamp(std::chrono::system_clock::time_point date) noexcept;

/// The timestamp of now, taken as absolute time since 2001 plus 978307200 seconds.
[[nodiscard]] std::int64_t zel_currentTimestamp() noexcept;

}  // namespace zel
