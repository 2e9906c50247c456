#pragma once
// ZELFutureAndCancelToken — a request's future paired with the token that cancels it.

#include <memory>

#include "zel/futures/ZELCancelToken.h"
#include "zel/futures/ZELFuture.h"

namespace zel {

template <class T>
struct ZELFutureAndCancelToken {
  std::shared_ptr<ZELCancelToken> cancelToken;
  ZELFuture<T> future;

  /// newWithCancelToken:future:
  [[nodiscard]] static ZELFutureAndCancelToken newWithCancelToken(
      std::shared_ptr<ZELCancelToken> token, ZELFuture<T> future) {
    return ZELFutureAndCancelToken{std::move(token), std::move(future)};
  }
};

}  // namespace zel
