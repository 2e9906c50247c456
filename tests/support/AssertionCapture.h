#pragma once
// Captures assertion reports for the lifetime of the object, so a test can say
// "exactly one report with this text". Enables asserts-logging while alive and restores
// the previous endpoint and switch afterwards.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "zel/foundation/ZELFoundationDevLogger.h"

namespace zel::test {

struct CapturedReport {
  std::string message;
  bool skipLogOnProduction = false;
  int additionalFramesToTrim = 0;
  std::string method;
  std::string fileID;
  std::uint32_t line = 0;
  std::string filePath;
};

class AssertionCapture {
 public:
  AssertionCapture()
      : sink_(std::make_shared<Sink>()),
        previousEnabled_(ZELFoundationDevLogger::isFoundationAssertsLoggingEnabled()),
        previous_(ZELFoundationDevLogger::sharedInstance().setRemote(sink_)) {
    ZELFoundationDevLogger::setFoundationAssertsLoggingEnabled(true);
  }
  ~AssertionCapture() {
    ZELFoundationDevLogger::sharedInstance().setRemote(previous_);
    ZELFoundationDevLogger::setFoundationAssertsLoggingEnabled(previousEnabled_);
  }
  AssertionCapture(const AssertionCapture&) = delete;
  AssertionCapture& operator=(const AssertionCapture&) = delete;

  [[nodiscard]] std::vector<CapturedReport> reports() const {
    std::lock_guard lock(sink_->mutex);
    return sink_->reports;
  }
  [[nodiscard]] std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& report : reports()) out.push_back(report.message);
    return out;
  }
  [[nodiscard]] std::size_t count() const { return reports().size(); }
  /// How many reports carry exactly this message.
  [[nodiscard]] std::size_t count(const std::string& message) const {
    const auto all = messages();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), message));
  }
  void clear() {
    std::lock_guard lock(sink_->mutex);
    sink_->reports.clear();
  }

 private:
  struct Sink final : ZELFoundationDevLoggerRemote {
    void logErrorWithMessage(const std::string& message, bool skipLogOnProduction,
                             int additionalFramesToTrim, const std::string& method,
                             const std::function<std::string()>& fileID, std::uint32_t line,
                             const std::string& filePath) override {
      std::string id = fileID ? fileID() : std::string();
      std::lock_guard lock(mutex);
      reports.push_back({message, skipLogOnProduction, additionalFramesToTrim, method,
                         std::move(id), line, filePath});
    }
    std::mutex mutex;
    std::vector<CapturedReport> reports;
  };

  std::shared_ptr<Sink> sink_;
  bool previousEnabled_;
  std::shared_ptr<ZELFoundationDevLoggerRemote> previous_;
};

}  // namespace zel::test
