#pragma once
// ZELFoundationDevLogger — where assertion reports go.
//
// Reports reach the shared instance's remote endpoint only while asserts-logging is enabled
// (the default). The default endpoint writes one line per report to standard error; an
// application (or a test) installs its own endpoint with setRemote().

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zel {

/// The endpoint that takes each report.
class ZELFoundationDevLoggerRemote {
 public:
  virtual ~ZELFoundationDevLoggerRemote() = default;

  /// message: the formatted text; method: the reporting method's signature text (such as
  /// "-[ZELNetworkingClient urlSanityCheckForPath:]"); fileID: computes "<module>/<file name>";
  /// line and filePath: where the report was made.
  virtual void logErrorWithMessage(const std::string& message, bool skipLogOnProduction,
                                   int additionalFramesToTrim, const std::string& method,
                                   const std::function<std::string()>& fileID, std::uint32_t line,
                                   const std::string& filePath) = 0;
};

class ZELFoundationDevLogger {
 public:
  [[nodiscard]] static bool isFoundationAssertsLoggingEnabled() noexcept;
  static void setFoundationAssertsLoggingEnabled(bool enabled) noexcept;

  [[nodiscard]] static ZELFoundationDevLogger& sharedInstance();

  /// The current endpoint (never null).
  [[nodiscard]] std::shared_ptr<ZELFoundationDevLoggerRemote> remote() const;
  /// Installs an endpoint; nullptr restores the standard-error endpoint. Returns the previous one.
  std::shared_ptr<ZELFoundationDevLoggerRemote> setRemote(
      std::shared_ptr<ZELFoundationDevLoggerRemote> remote);

  ZELFoundationDevLogger(const ZELFoundationDevLogger&) = delete;
  ZELFoundationDevLogger& operator=(const ZELFoundationDevLogger&) = delete;

 private:
  ZELFoundationDevLogger();
  struct State;
  State* state_;  // never destroyed
};

}  // namespace zel
