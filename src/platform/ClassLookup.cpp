#include "zel/platform/ClassLookup.h"

#include <functional>
#include <map>
#include <mutex>
#include <shared_mutex>

namespace zel {
namespace {

struct Registry {
  std::shared_mutex mutex;
  std::map<std::string, std::type_index, std::less<>> types;
};

Registry& registry() {
  static auto* shared = new Registry();
  return *shared;
}

}  // namespace

void registerClass(std::string name, std::type_index type) {
  auto& r = registry();
  std::unique_lock lock(r.mutex);
  r.types.insert_or_assign(std::move(name), type);
}

std::optional<std::type_index> classFromString(std::string_view name) {
  auto& r = registry();
  std::shared_lock lock(r.mutex);
  const auto found = r.types.find(name);
  if (found == r.types.end()) return std::nullopt;
  return found->second;
}

}  // namespace zel
