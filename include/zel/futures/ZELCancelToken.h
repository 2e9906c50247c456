#pragma once
// ZELCancelToken — lets the holder of a request cancel it.
//
// The token's block runs once, on the token's executor, at the first cancel(); later cancels do
// nothing. The library never cancels a token itself: holders do.

#include <atomic>
#include <functional>
#include <memory>

#include "zel/futures/ZELExecutor.h"

namespace zel {

class ZELCancelToken {
 public:
  /// initWithExecutor:andBlock:
  ZELCancelToken(std::shared_ptr<ZELExecutor> executor, std::function<void()> block);
  [[nodiscard]] static std::shared_ptr<ZELCancelToken> initWithExecutor(
      std::shared_ptr<ZELExecutor> executor, std::function<void()> block);

  /// Runs the block on the executor, the first time only.
  void cancel();
  [[nodiscard]] bool isCancelled() const noexcept { return cancelled_.load(); }

 private:
  std::shared_ptr<ZELExecutor> executor_;
  std::function<void()> block_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace zel
