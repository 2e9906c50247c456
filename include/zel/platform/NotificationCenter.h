#pragma once
// zel::NotificationCenter — broadcasts named notifications to the blocks observing them.
//
// Delivery is synchronous: postNotification() calls each matching block on the posting thread,
// in the order the observers were added, and returns when the last one has returned. No lock is
// held while a block runs, so a block may post, add observers or remove any observer (itself
// included). Observers are matched against the set in place when the post begins; one removed
// before the post reaches it is not called.
//
//   zel::ScopedObserver observer(zel::NotificationCenter::defaultCenter().addObserverForName(
//       "ZELNetworkingClientDidFinishRequest", client.get(),
//       [](const zel::Notification& note) { /* ... */ }));

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zel {

struct Notification {
  std::string name;
  /// The sender's identity, compared by address only; may be null.
  const void* object = nullptr;
  /// Whatever the poster documents for this notification name.
  std::map<std::string, std::any> userInfo;
};

/// Identifies one observer; the default value identifies none.
struct ObserverToken {
  std::uint64_t id = 0;

  [[nodiscard]] bool isValid() const noexcept { return id != 0; }
  friend bool operator==(const ObserverToken&, const ObserverToken&) = default;
};

class NotificationCenter {
 public:
  /// The process-wide centre, never destroyed.
  [[nodiscard]] static NotificationCenter& defaultCenter();

  /// A centre of its own, independent of the default one.
  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  /// Calls block for each notification whose name equals name (absent: every name) and whose
  /// object equals object (null: every sender). A block that throws is reported through the
  /// assertion facility and delivery goes on. An empty block adds nothing (default token).
  [[nodiscard]] ObserverToken addObserverForName(std::optional<std::string> name,
                                                 const void* object,
                                                 std::function<void(const Notification&)> block);

  /// Stops delivery to the observer. Unknown, already removed or default tokens are ignored.
  /// A call made while another thread is running the observer's block does not wait for it.
  void removeObserver(const ObserverToken& token);

  void postNotification(Notification notification);
  /// Whether a notification of this name from this sender would reach any observer now: lets a
  /// poster skip building user information nobody reads.
  [[nodiscard]] bool hasObserversForName(std::string_view name, const void* object) const;
  void postNotificationName(std::string name, const void* object,
                            std::map<std::string, std::any> userInfo = {});

 private:
  struct State;
  std::unique_ptr<State> state_;
};

/// Owns an observer: removes it when destroyed or reset. Movable, not copyable.
class ScopedObserver {
 public:
  ScopedObserver() = default;
  /// Adopts token, which was added to defaultCenter().
  explicit ScopedObserver(ObserverToken token)
      : ScopedObserver(NotificationCenter::defaultCenter(), token) {}
  /// Adopts token, which was added to center.
  ScopedObserver(NotificationCenter& center, ObserverToken token)
      : center_(&center), token_(token) {}
  ~ScopedObserver() { reset(); }

  ScopedObserver(ScopedObserver&& other) noexcept
      : center_(std::exchange(other.center_, nullptr)), token_(std::exchange(other.token_, {})) {}
  ScopedObserver& operator=(ScopedObserver&& other) noexcept {
    if (this != &other) {
      reset();
      center_ = std::exchange(other.center_, nullptr);
      token_ = std::exchange(other.token_, {});
    }
    return *this;
  }
  ScopedObserver(const ScopedObserver&) = delete;
  ScopedObserver& operator=(const ScopedObserver&) = delete;

  [[nodiscard]] ObserverToken token() const noexcept { return token_; }
  /// Removes the observer now (if any).
  void reset() noexcept {
    if (center_ != nullptr) center_->removeObserver(token_);
    center_ = nullptr;
    token_ = {};
  }

 private:
  NotificationCenter* center_ = nullptr;
  ObserverToken token_;
};

}  // namespace zel
