#include "support/AssertionCapture.h"

#include <algorithm>

namespace zel::test {

class AssertionCapture::Sink final : public ZELFoundationDevLoggerRemote {
 public:
  void logErrorWithMessage(const std::string& message, bool skipLogOnProduction,
                           int additionalFramesToTrim, const std::string& method,
                           const std::function<std::string()>& fileID, std::uint32_t line,
                           const std::string& filePath) override {
    CapturedReport report{message,
                          skipLogOnProduction,
                          additionalFramesToTrim,
                          method,
                          fileID ? fileID() : std::string(),
                          line,
                          filePath};
    std::lock_guard lock(mutex);
    reports.push_back(std::move(report));
  }

  mutable std::mutex mutex;
  std::vector<CapturedReport> reports;
};

AssertionCapture::AssertionCapture()
    : sink_(std::make_shared<Sink>()),
      previousEnabled_(ZELFoundationDevLogger::isFoundationAssertsLoggingEnabled()) {
  previous_ = ZELFoundationDevLogger::sharedInstance().setRemote(sink_);
  ZELFoundationDevLogger::setFoundationAssertsLoggingEnabled(true);
}

AssertionCapture::~AssertionCapture() {
  ZELFoundationDevLogger::sharedInstance().setRemote(previous_);
  ZELFoundationDevLogger::setFoundationAssertsLoggingEnabled(previousEnabled_);
}

std::vector<CapturedReport> AssertionCapture::reports() const {
  std::lock_guard lock(sink_->mutex);
  return sink_->reports;
}

std::vector<std::string> AssertionCapture::messages() const {
  std::vector<std::string> out;
  for (const auto& report : reports()) out.push_back(report.message);
  return out;
}

std::size_t AssertionCapture::count() const {
  std::lock_guard lock(sink_->mutex);
  return sink_->reports.size();
}

std::size_t AssertionCapture::count(const std::string& message) const {
  std::lock_guard lock(sink_->mutex);
  return static_cast<std::size_t>(
      std::count_if(sink_->reports.begin(), sink_->reports.end(),
                    [&](const auto& r) { return r.message == message; }));
}

void AssertionCapture::clear() {
  std::lock_guard lock(sink_->mutex);
  sink_->reports.clear();
}

}  // namespace zel::test
