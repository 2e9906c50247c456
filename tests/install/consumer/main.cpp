// A program that uses the installed library: a future hop through the background executor.
#include <chrono>
#include <cstdio>
#include <string>

#include <zel/futures/ZELFutureMap.h>

int main() {
  auto doubled =
      zel::ZELFutureMap::map(zel::ZELFuture<int>::withValue(21), zel::ZELExecutor::background(),
                             [](const int& v) { return std::to_string(v * 2); });
  auto result = doubled.wait(std::chrono::seconds(10));
  if (!result.ok() || result.value() != "42") return 1;
  std::puts("consumer ok");
  return 0;
}
