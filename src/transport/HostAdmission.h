#pragma once
// Per-host admission: at most N transfers run against one host (scheme, host and port); the
// rest wait, the highest priority first, then first come. When one ends, the next is promoted.
// A host found to speak HTTP/2 multiplexes streams, so it admits many per connection.
//
// Not thread-safe: a session's I/O thread owns its admission.

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace zel::detail {

template <class Item>
class HostAdmission {
 public:
  /// Streams libcurl multiplexes on one HTTP/2 connection by default.
  static constexpr int kStreamsPerConnection = 100;

  explicit HostAdmission(int connectionsPerHost) : perHost_(std::max(1, connectionsPerHost)) {}

  /// Queues the item for its host; start it when admit() hands it out.
  void enqueue(const std::string& host, Item item, float priority) {
    auto& queue = hosts_[host];
    queue.waiting.push_back(Waiting{item, priority, ++sequence_});
    std::push_heap(queue.waiting.begin(), queue.waiting.end(), byPriority);
  }

  /// Takes a waiting item out of its queue (it was cancelled); false when it was not waiting.
  bool remove(const std::string& host, const Item& item) {
    const auto it = hosts_.find(host);
    if (it == hosts_.end()) return false;
    auto& waiting = it->second.waiting;
    const auto found = std::find_if(waiting.begin(), waiting.end(),
                                    [&](const Waiting& w) { return w.item == item; });
    if (found == waiting.end()) return false;
    waiting.erase(found);
    std::make_heap(waiting.begin(), waiting.end(), byPriority);
    forgetIfIdle(it);
    return true;
  }

  /// Calls start(item) for every item of the host that may run now, highest priority first.
  template <class Start>
  void admit(const std::string& host, Start&& start) {
    const auto it = hosts_.find(host);
    if (it == hosts_.end()) return;
    auto& queue = it->second;
    while (!queue.waiting.empty() && queue.running < limit(queue)) {
      std::pop_heap(queue.waiting.begin(), queue.waiting.end(), byPriority);
      const Item next = queue.waiting.back().item;
      queue.waiting.pop_back();
      ++queue.running;
      start(next);
    }
    forgetIfIdle(it);
  }

  /// An admitted item of the host ended (or went back to waiting); call admit() after.
  void release(const std::string& host) {
    const auto it = hosts_.find(host);
    if (it == hosts_.end() || it->second.running == 0) return;
    --it->second.running;
    forgetIfIdle(it);
  }

  /// The host answered over HTTP/2: from now on it admits kStreamsPerConnection per connection.
  void markMultiplexed(const std::string& host) { hosts_[host].multiplexed = true; }

  [[nodiscard]] std::size_t runningCount(const std::string& host) const {
    const auto it = hosts_.find(host);
    return it == hosts_.end() ? 0 : static_cast<std::size_t>(it->second.running);
  }
  [[nodiscard]] std::size_t waitingCount(const std::string& host) const {
    const auto it = hosts_.find(host);
    return it == hosts_.end() ? 0 : it->second.waiting.size();
  }

 private:
  struct Waiting {
    Item item;
    float priority;
    std::uint64_t sequence;
  };
  struct Queue {
    int running = 0;
    bool multiplexed = false;
    std::vector<Waiting> waiting;  // a heap: highest priority first, then first come
  };
  using Hosts = std::unordered_map<std::string, Queue>;

  static bool byPriority(const Waiting& a, const Waiting& b) {
    // The heap keeps the "largest" on top: higher priority, then the earlier sequence.
    if (a.priority != b.priority) return a.priority < b.priority;
    return a.sequence > b.sequence;
  }

  [[nodiscard]] int limit(const Queue& queue) const {
    return queue.multiplexed ? perHost_ * kStreamsPerConnection : perHost_;
  }

  // A multiplexed host keeps its entry: what it speaks is worth remembering.
  void forgetIfIdle(typename Hosts::iterator it) {
    const auto& queue = it->second;
    if (queue.running == 0 && queue.waiting.empty() && !queue.multiplexed) hosts_.erase(it);
  }

  const int perHost_;
  std::uint64_t sequence_ = 0;
  Hosts hosts_;
};

}  // namespace zel::detail
