#pragma once
// ZELFutureMap — transforms of a future's value.
//
//   map(f, executor, v -> u)             on success, the transform's result is the value
//   flatMap(f, executor, v -> future<u>) on success, the result takes the returned future's outcome
//   flatMap(f, v -> future<u>)           flatMap on the background executor
//
// An error passes through unchanged (without a hop to the executor).

#include <type_traits>

#include "zel/futures/ZELFuture.h"

namespace zel {

namespace detail {
template <class F>
struct IsZELFuture : std::false_type {};
template <class U>
struct IsZELFuture<ZELFuture<U>> : std::true_type {};
}  // namespace detail

struct ZELFutureMap {
  template <class T, class F, class U = std::invoke_result_t<F&, const T&>>
  [[nodiscard]] static ZELFuture<U> map(const ZELFuture<T>& future,
                                        const std::shared_ptr<ZELExecutor>& executor, F transform) {
    static_assert(!detail::IsZELFuture<U>::value, "map's transform returns a future: use flatMap");
    ZELFuture<U> next;
    future.state_->subscribe([executor, transform = std::move(transform),
                              state = next.state_](const Result<T>& result) mutable {
      if (!result.ok()) {
        state->complete(Result<U>(result.error()));
        return;
      }
      detail::dispatch(executor, result,
                       [transform = std::move(transform), state](const Result<T>& r) mutable {
                         try {
                           state->complete(Result<U>(transform(r.value())));
                         } catch (...) {
                           state->complete(Result<U>(detail::errorFromCurrentException()));
                         }
                       });
    });
    return next;
  }

  template <class T, class F, class R = std::invoke_result_t<F&, const T&>>
  [[nodiscard]] static R flatMap(const ZELFuture<T>& future,
                                 const std::shared_ptr<ZELExecutor>& executor, F transform) {
    static_assert(detail::IsZELFuture<R>::value, "flatMap's transform must return a ZELFuture");
    using U = typename R::Value;
    R next;
    future.state_->subscribe([executor, transform = std::move(transform),
                              state = next.state_](const Result<T>& result) mutable {
      if (!result.ok()) {
        state->complete(Result<U>(result.error()));
        return;
      }
      detail::dispatch(executor, result,
                       [transform = std::move(transform), state](const Result<T>& r) mutable {
                         try {
                           transform(r.value()).forwardTo(state);
                         } catch (...) {
                           state->complete(Result<U>(detail::errorFromCurrentException()));
                         }
                       });
    });
    return next;
  }

  /// flatMap:executeOnBackgroundTransform:
  template <class T, class F>
  [[nodiscard]] static auto flatMap(const ZELFuture<T>& future, F transform) {
    return flatMap(future, ZELExecutor::background(), std::move(transform));
  }
};

}  // namespace zel
