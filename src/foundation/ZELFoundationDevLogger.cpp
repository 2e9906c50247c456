#include "zel/foundation/ZELFoundationDevLogger.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace zel {
namespace {

std::atomic<bool> gAssertsLoggingEnabled{true};

class StandardErrorRemote final : public ZELFoundationDevLoggerRemote {
 public:
  void logErrorWithMessage(const std::string& message, bool, int, const std::string& method,
                           const std::function<std::string()>& fileID, std::uint32_t line,
                           const std::string&) override {
    const std::string text = "[ZELNetworking] " + (fileID ? fileID() : std::string()) + ":" +
                             std::to_string(line) + " " + method + ": " + message + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
  }
};

}  // namespace

struct ZELFoundationDevLogger::State {
  mutable std::mutex mutex;
  std::shared_ptr<ZELFoundationDevLoggerRemote> standardError =
      std::make_shared<StandardErrorRemote>();
  std::shared_ptr<ZELFoundationDevLoggerRemote> remote = standardError;
};

ZELFoundationDevLogger::ZELFoundationDevLogger() : state_(new State) {}

bool ZELFoundationDevLogger::isFoundationAssertsLoggingEnabled() noexcept {
  return gAssertsLoggingEnabled.load(std::memory_order_relaxed);
}

void ZELFoundationDevLogger::setFoundationAssertsLoggingEnabled(bool enabled) noexcept {
  gAssertsLoggingEnabled.store(enabled, std::memory_order_relaxed);
}

ZELFoundationDevLogger& ZELFoundationDevLogger::sharedInstance() {
  static auto* logger = new ZELFoundationDevLogger();
  return *logger;
}

std::shared_ptr<ZELFoundationDevLoggerRemote> ZELFoundationDevLogger::remote() const {
  std::lock_guard lock(state_->mutex);
  return state_->remote;
}

std::shared_ptr<ZELFoundationDevLoggerRemote> ZELFoundationDevLogger::setRemote(
    std::shared_ptr<ZELFoundationDevLoggerRemote> remote) {
  std::lock_guard lock(state_->mutex);
  auto previous = std::move(state_->remote);
  state_->remote = remote ? std::move(remote) : state_->standardError;
  return previous;
}

}  // namespace zel
