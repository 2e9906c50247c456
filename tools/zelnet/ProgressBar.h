#pragma once
// An upload progress bar on a terminal: one line, redrawn in place.

#include <cstdint>
#include <cstdio>
#include <mutex>

namespace zelnet {

class ProgressBar {
 public:
  /// Draws on `stream` only when it is a terminal, unless `force`.
  explicit ProgressBar(std::FILE* stream, bool force = false);
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  /// Thread-safe; a total below 1 draws the byte count alone.
  void update(std::int64_t sent, std::int64_t total);
  /// Ends the line, if one was drawn.
  void finish();

 private:
  std::FILE* const stream_;
  const bool enabled_;
  std::mutex mutex_;
  bool drew_ = false;
  int lastPercent_ = -1;
};

}  // namespace zelnet
