#pragma once
// Wall-clock timestamps in nanoseconds since 1970-01-01 00:00:00 UTC.

#include <chrono>
#include <cstdint>

namespace zel {

/// Nanoseconds since 1970 for the date, exact to the clock's resolution (earlier dates are
/// negative). One second after 1970 gives 1000000000. Where the clock counts in units coarser
/// than nanoseconds, a date too far from 1970 for 64 bits of nanoseconds saturates.
[[nodiscard]] std::int64_t zel_timestamp(std::chrono::system_clock::time_point date) noexcept;

/// zel_timestamp() of now.
[[nodiscard]] std::int64_t zel_currentTimestamp() noexcept;

}  // namespace zel
