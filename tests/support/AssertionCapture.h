#pragma once
// Captures assertion reports for the lifetime of the object, so a test can say
// "exactly one report with this text". Enables asserts-logging while alive and restores
// the previous endpoint and switch afterwards.

#include <cstdint>
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
  AssertionCapture();
  ~AssertionCapture();
  AssertionCapture(const AssertionCapture&) = delete;
  AssertionCapture& operator=(const AssertionCapture&) = delete;

  [[nodiscard]] std::vector<CapturedReport> reports() const;
  [[nodiscard]] std::vector<std::string> messages() const;
  [[nodiscard]] std::size_t count() const;
  /// How many reports carry exactly this message.
  [[nodiscard]] std::size_t count(const std::string& message) const;
  void clear();

 private:
  class Sink;
  std::shared_ptr<Sink> sink_;
  std::shared_ptr<ZELFoundationDevLoggerRemote> previous_;
  bool previousEnabled_;
};

}  // namespace zel::test
