// Cost of one future hop: resolve a promise and run a map transform on the executor.
#include <benchmark/benchmark.h>

#include <chrono>

#include "zel/futures/ZELFutureMap.h"

namespace {

void BM_FutureHopImmediate(benchmark::State& state) {
  for (auto _ : state) {
    zel::ZELPromise<int> promise;
    auto mapped = zel::ZELFutureMap::map(promise.future(), zel::ZELExecutor::immediate(),
                                         [](const int& v) { return v + 1; });
    promise.resolve(1);
    benchmark::DoNotOptimize(mapped.peek());
  }
}
BENCHMARK(BM_FutureHopImmediate);

// Includes the round trip to a pool thread and back to the waiting caller.
void BM_FutureHopBackground(benchmark::State& state) {
  for (auto _ : state) {
    zel::ZELPromise<int> promise;
    auto mapped = zel::ZELFutureMap::map(promise.future(), zel::ZELExecutor::background(),
                                         [](const int& v) { return v + 1; });
    promise.resolve(1);
    auto result = mapped.wait(std::chrono::seconds(10));
    if (!result.ok()) state.SkipWithError("hop failed");
  }
}
BENCHMARK(BM_FutureHopBackground)->UseRealTime();

// Throughput: a batch of 1000 hops in flight at once on the pool.
void BM_FutureHopBackgroundBatch(benchmark::State& state) {
  constexpr int kBatch = 1000;
  for (auto _ : state) {
    std::vector<zel::ZELFuture<int>> mapped;
    mapped.reserve(kBatch);
    std::vector<zel::ZELPromise<int>> batch(kBatch);
    for (auto& p : batch) {
      mapped.push_back(zel::ZELFutureMap::map(p.future(), zel::ZELExecutor::background(),
                                              [](const int& v) { return v + 1; }));
    }
    for (auto& p : batch) p.resolve(1);
    for (auto& f : mapped) benchmark::DoNotOptimize(f.wait(std::chrono::seconds(10)));
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_FutureHopBackgroundBatch)->UseRealTime();

}  // namespace
