#pragma once
// Runs one item of executor work so that an exception cannot take its thread down: the
// exception is reported through the assertion facility ("Work on <where> threw: <what>").

#include <exception>
#include <string>

#include "zel/foundation/ZELAssertion.h"
#include "zel/futures/ZELExecutor.h"

namespace zel::detail {

inline void runGuarded(ZELExecutor::Work& work, const char* where) noexcept {
  try {
    work();
  } catch (const std::exception& e) {
    ZELCAssertionFailure(std::string("Work on ") + where + " threw: " + e.what());
  } catch (...) {
    ZELCAssertionFailure(std::string("Work on ") + where + " threw an unknown exception");
  }
}

}  // namespace zel::detail
