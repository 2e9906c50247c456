#include "zel/futures/ZELCancelToken.h"

namespace zel {

ZELCancelToken::ZELCancelToken(std::shared_ptr<ZELExecutor> executor, std::function<void()> block)
    : executor_(executor ? std::move(executor) : ZELExecutor::immediate()),
      block_(std::move(block)) {}

std::shared_ptr<ZELCancelToken> ZELCancelToken::initWithExecutor(
    std::shared_ptr<ZELExecutor> executor, std::function<void()> block) {
  return std::make_shared<ZELCancelToken>(std::move(executor), std::move(block));
}

void ZELCancelToken::cancel() {
  if (cancelled_.exchange(true)) return;
  // Only the first caller gets here, so block_ is moved out exactly once.
  auto block = std::move(block_);
  if (block) executor_->execute(std::move(block));
}

}  // namespace zel
