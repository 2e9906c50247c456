#pragma once
// The key that unlocks URLSessionTask's engine members. Only the session engine includes this.

namespace zel::detail {

struct TaskEngineKey {
  explicit TaskEngineKey() = default;
};

}  // namespace zel::detail
