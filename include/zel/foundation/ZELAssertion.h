#pragma once
// The assertion facility: how programming errors and refused inputs are reported.
//
// A report never stops the program: the caller goes on with its documented default. While
// ZELFoundationDevLogger's asserts-logging is enabled, each report reaches the logger's remote
// endpoint with the message, the method text, a file ID "<module>/<file name>", the line and
// the full source path.
//
//   ZELAssertionFailure("Invalid parameter not satisfying: description",
//                       "+[NSError zel_errorWithUnderlyingError:...]");   // in a class method
//   ZELCAssertionFailure("Work on an executor threw");                   // in a plain function

#include <cstdint>
#include <string>
#include <string_view>
#if __has_include(<source_location>)
#include <source_location>
#endif

namespace zel {

/// Where a report was made. The same type for every compiler, so the library and its users
/// agree on it; current() fills it in at the caller's call site (the function's full signature
/// where the standard library offers std::source_location, its plain name otherwise).
struct ZELSourceLocation {
  const char* fileName = "";
  const char* functionName = "";
  std::uint32_t line = 0;

#if defined(__cpp_lib_source_location)
  [[nodiscard]] static constexpr ZELSourceLocation current(
      std::source_location location = std::source_location::current()) noexcept {
    return {location.file_name(), location.function_name(), location.line()};
  }
#else
  [[nodiscard]] static constexpr ZELSourceLocation current(
      const char* fileName = __builtin_FILE(), const char* functionName = __builtin_FUNCTION(),
      std::uint32_t line = __builtin_LINE()) noexcept {
    return {fileName, functionName, line};
  }
#endif
};

/// Reports from a method of a class. A module name of "unknown", or one holding ".", is replaced
/// by the file name of the binary (library or executable) that holds the class.
void ZELAssertionFailure(std::string_view message, std::string_view method,
                         ZELSourceLocation location = ZELSourceLocation::current());

/// Reports from a plain function; the method text is the function's signature.
void ZELCAssertionFailure(std::string_view message,
                          ZELSourceLocation location = ZELSourceLocation::current());

/// The module name of a source path: split at "/", start from "unknown"; at each component i
/// that is "Platform", "Library", "FeatureLibrary" or "Feature", with i+2 inside the path,
/// component i+2 decides: "Sources" gives component i+1, "Tests" gives component i+1 + "Tests",
/// anything else components i+1 and i+2 joined. A later match wins.
[[nodiscard]] std::string ZELModuleNameForFilePath(std::string_view filePath);

/// "<module>/<last path component>" for plain functions (no fallback).
[[nodiscard]] std::string ZELFileIDForFilePath(std::string_view filePath);

/// The file ID of a report made in a class method, with the binary-name fallback.
[[nodiscard]] std::string ZELFileIDForClassMethodAtPath(std::string_view filePath);

/// The file name of the binary that holds the library's code (for example
/// "libzelnetworking.so.1" or the executable's name when linked statically).
[[nodiscard]] std::string ZELLibraryBinaryName();

}  // namespace zel
