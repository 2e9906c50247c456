#include "zel/futures/ZELFuture.h"

#include <stdexcept>
#include <string>

#include "BackgroundWakeBatch.h"
#include "zel/foundation/ZELAssertion.h"

namespace zel::detail {

Error errorFromCurrentException() {
  std::string text = "A future's block threw an exception";
  try {
    throw;
  } catch (const std::exception& e) {
    text += ": ";
    text += e.what();
  } catch (...) {
  }
  ErrorUserInfo info;
  info.set(NSLocalizedDescriptionKey, text);
  return Error(ZELFutureErrorDomain, ZELFutureErrorCodeThrew, std::move(info));
}

Error waitError(std::int64_t code, const char* text) {
  ErrorUserInfo info;
  info.set(NSLocalizedDescriptionKey, std::string(text));
  return Error(ZELFutureErrorDomain, code, std::move(info));
}

void reportListenerException() noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    ZELCAssertionFailure(std::string("A future's listener threw: ") + e.what());
  } catch (...) {
    ZELCAssertionFailure("A future's listener threw an unknown exception");
  }
}

void prepareToBlock() noexcept {
  BackgroundWakeBatch::wakeBeforeBlocking();
}

bool waitingWouldBlockMainQueue() {
  if (!isMainThread()) return false;
  ZELCAssertionFailure(
      "Blocking wait on the main queue for an incomplete future: refused, it could never finish");
  return true;
}

}  // namespace zel::detail
