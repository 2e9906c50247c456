// gzip of a 1 MiB body (mixed text, compressible like a JSON or multipart body).
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "zel/foundation/ZELDataAdditions.h"

namespace {

zel::Data makeBody(std::size_t size) {
  std::mt19937 rng(1);
  static const char* words[] = {"\"id\":",   "\"name\":\"", "zelvo", ",",
                                "{",         "}",           "12345", "\"status\":\"success\"",
                                "photo.jpg", "\r\n"};
  std::string body;
  body.reserve(size);
  while (body.size() < size) body += words[rng() % 10];
  body.resize(size);
  return zel::Data(std::move(body));
}

void BM_Gzip1MiB(benchmark::State& state) {
  const auto body = makeBody(1 << 20);
  std::size_t compressed = 0;
  for (auto _ : state) {
    auto gz = zel::zel_gzippedData(body);
    compressed = gz->size();
    benchmark::DoNotOptimize(gz);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(body.size()));
  state.counters["ratio"] = static_cast<double>(compressed) / static_cast<double>(body.size());
}
BENCHMARK(BM_Gzip1MiB)->Unit(benchmark::kMillisecond);

void BM_HexString(benchmark::State& state) {
  const auto body = makeBody(4096);
  for (auto _ : state) benchmark::DoNotOptimize(zel::zel_hexString(body));
  state.SetBytesProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_HexString);

}  // namespace
