#include "zel/foundation/ZELAssertion.h"

#include <dlfcn.h>

#include <array>
#include <vector>

#include "zel/foundation/ZELFoundationDevLogger.h"

namespace zel {
namespace {

std::vector<std::string_view> splitPath(std::string_view path) {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  for (;;) {
    const auto slash = path.find('/', start);
    components.push_back(
        path.substr(start, slash == std::string_view::npos ? slash : slash - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return components;
}

std::string_view lastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void report(std::string_view message, std::string_view method, bool inClassMethod,
            const ZELSourceLocation& location) {
  if (!ZELFoundationDevLogger::isFoundationAssertsLoggingEnabled()) return;
  const std::string filePath = location.fileName;
  auto fileID = [filePath, inClassMethod] {
    return inClassMethod ? ZELFileIDForClassMethodAtPath(filePath) : ZELFileIDForFilePath(filePath);
  };
  ZELFoundationDevLogger::sharedInstance().remote()->logErrorWithMessage(
      std::string(message), true, 1, std::string(method), fileID, location.line, filePath);
}

}  // namespace

void ZELAssertionFailure(std::string_view message, std::string_view method,
                         ZELSourceLocation location) {
  report(message, method, true, location);
}

void ZELCAssertionFailure(std::string_view message, ZELSourceLocation location) {
  report(message, location.functionName, false, location);
}

std::string ZELModuleNameForFilePath(std::string_view filePath) {
  static constexpr std::array<std::string_view, 4> kMarkers = {"Platform", "Library",
                                                               "FeatureLibrary", "Feature"};
  const auto components = splitPath(filePath);
  std::string module = "unknown";
  for (std::size_t i = 0; i < components.size(); ++i) {
    bool isMarker = false;
    for (auto marker : kMarkers) isMarker = isMarker || components[i] == marker;
    if (!isMarker) continue;
    if (i + 2 >= components.size()) break;
    const auto name = components[i + 1];
    const auto next = components[i + 2];
    if (next == "Sources") {
      module = std::string(name);
    } else if (next == "Tests") {
      module = std::string(name) + "Tests";
    } else {
      module = std::string(name) + std::string(next);
    }
  }
  return module;
}

std::string ZELFileIDForFilePath(std::string_view filePath) {
  return ZELModuleNameForFilePath(filePath) + "/" + std::string(lastPathComponent(filePath));
}

std::string ZELFileIDForClassMethodAtPath(std::string_view filePath) {
  std::string module = ZELModuleNameForFilePath(filePath);
  if (module == "unknown" || module.find('.') != std::string::npos) module = ZELLibraryBinaryName();
  return module + "/" + std::string(lastPathComponent(filePath));
}

std::string ZELLibraryBinaryName() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&ZELLibraryBinaryName), &info) != 0 &&
      info.dli_fname != nullptr) {
    return std::string(lastPathComponent(info.dli_fname));
  }
  return "unknown";
}

}  // namespace zel
