#include "ProgressBar.h"

#include <unistd.h>

#include <algorithm>
#include <string>

namespace zelnet {

ProgressBar::ProgressBar(std::FILE* stream, bool force)
    : stream_(stream), enabled_(force || ::isatty(::fileno(stream)) == 1) {}

void ProgressBar::update(std::int64_t sent, std::int64_t total) {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  constexpr int kWidth = 30;
  if (total > 0) {
    const int percent = static_cast<int>(std::clamp<std::int64_t>(sent * 100 / total, 0, 100));
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    const int filled = percent * kWidth / 100;
    std::fprintf(stream_, "\r  upload [%s%s] %3d%%  %lld/%lld bytes",
                 std::string(static_cast<std::size_t>(filled), '=').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(), percent,
                 static_cast<long long>(sent), static_cast<long long>(total));
  } else {
    std::fprintf(stream_, "\r  upload %lld bytes", static_cast<long long>(sent));
  }
  std::fflush(stream_);
  drew_ = true;
}

void ProgressBar::finish() {
  std::lock_guard lock(mutex_);
  if (drew_) std::fputc('\n', stream_);
  drew_ = false;
  lastPercent_ = -1;
}

}  // namespace zelnet
