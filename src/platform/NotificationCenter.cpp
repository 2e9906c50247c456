#include "zel/platform/NotificationCenter.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <vector>

#include "zel/foundation/ZELAssertion.h"

namespace zel {
namespace {

// Ids are unique across centres, so a token never removes another centre's observer.
std::atomic<std::uint64_t> gNextObserverID{1};

struct Observer {
  std::uint64_t id = 0;
  std::optional<std::string> name;
  const void* object = nullptr;
  std::function<void(const Notification&)> block;
  std::atomic<bool> removed{false};

  bool matches(std::string_view notificationName, const void* sender) const noexcept {
    return (!name || *name == notificationName) && (object == nullptr || object == sender);
  }
  bool matches(const Notification& notification) const noexcept {
    return matches(notification.name, notification.object);
  }
};

void callBlock(const Observer& observer, const Notification& notification) {
  try {
    observer.block(notification);
  } catch (const std::exception& e) {
    ZELCAssertionFailure(std::string("A notification observer threw: ") + e.what());
  } catch (...) {
    ZELCAssertionFailure("A notification observer threw an unknown exception");
  }
}

}  // namespace

struct NotificationCenter::State {
  std::mutex mutex;
  // In registration order, which is also ascending id order.
  std::vector<std::shared_ptr<Observer>> observers;
};

NotificationCenter::NotificationCenter() : state_(std::make_unique<State>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
  static auto* center = new NotificationCenter();
  return *center;
}

ObserverToken NotificationCenter::addObserverForName(
    std::optional<std::string> name, const void* object,
    std::function<void(const Notification&)> block) {
  if (!block) return {};
  auto observer = std::make_shared<Observer>();
  observer->name = std::move(name);
  observer->object = object;
  observer->block = std::move(block);

  std::lock_guard lock(state_->mutex);
  observer->id = gNextObserverID.fetch_add(1, std::memory_order_relaxed);
  state_->observers.push_back(observer);
  return ObserverToken{observer->id};
}

void NotificationCenter::removeObserver(const ObserverToken& token) {
  if (!token.isValid()) return;
  std::shared_ptr<Observer> removed;
  {
    std::lock_guard lock(state_->mutex);
    auto& observers = state_->observers;
    const auto found = std::lower_bound(
        observers.begin(), observers.end(), token.id,
        [](const std::shared_ptr<Observer>& o, std::uint64_t id) { return o->id < id; });
    if (found == observers.end() || (*found)->id != token.id) return;
    (*found)->removed.store(true, std::memory_order_release);
    removed = std::move(*found);
    observers.erase(found);
  }
  // The block (and what it captured) is released here, outside the lock, unless a running post
  // still holds it.
}

void NotificationCenter::postNotification(Notification notification) {
  std::vector<std::shared_ptr<Observer>> matching;
  {
    std::lock_guard lock(state_->mutex);
    for (const auto& observer : state_->observers) {
      if (observer->matches(notification)) matching.push_back(observer);
    }
  }
  for (const auto& observer : matching) {
    if (observer->removed.load(std::memory_order_acquire)) continue;
    callBlock(*observer, notification);
  }
}

bool NotificationCenter::hasObserversForName(std::string_view name, const void* object) const {
  std::lock_guard lock(state_->mutex);
  for (const auto& observer : state_->observers) {
    if (observer->matches(name, object) && !observer->removed.load(std::memory_order_acquire)) {
      return true;
    }
  }
  return false;
}

void NotificationCenter::postNotificationName(std::string name, const void* object,
                                              std::map<std::string, std::any> userInfo) {
  postNotification(Notification{std::move(name), object, std::move(userInfo)});
}

}  // namespace zel
