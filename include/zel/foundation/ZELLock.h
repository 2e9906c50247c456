#pragma once
// ZELLock — a named plain mutex.
//
//   zel::ZELLock lock("com.zelvo.ZELNetworkingClient.propertyLock");
//   auto url = lock.lockWithBlock([&] { return baseURL_; });
//
// Hold it for one field or one map operation; never call out (a delegate, a block, an observer)
// while holding it. Not recursive.

#include <mutex>
#include <string>
#include <type_traits>
#include <utility>

namespace zel {

class ZELLock {
 public:
  /// initWithName: — the reverse-DNS label shows in diagnostics only.
  explicit ZELLock(std::string name = {}) : name_(std::move(name)) {}
  ZELLock(const ZELLock&) = delete;
  ZELLock& operator=(const ZELLock&) = delete;

  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  [[nodiscard]] bool try_lock() { return mutex_.try_lock(); }

  /// Runs the block once, synchronously, while holding the lock; returns the block's result.
  template <class Block>
  decltype(auto) lockWithBlock(Block&& block) {
    std::lock_guard guard(mutex_);
    return std::forward<Block>(block)();
  }

  [[nodiscard]] const std::string& name() const noexcept { return name_; }

 private:
  std::mutex mutex_;
  const std::string name_;
};

}  // namespace zel
