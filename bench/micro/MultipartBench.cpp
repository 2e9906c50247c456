// Multipart body of a typical upload: ten form fields and one 1 MiB file, built from scratch
// (appends and serialization) each iteration.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "zel/multipart/ZELMultipartFormData.h"

namespace {

zel::Data makeFile(std::size_t size) {
  std::mt19937 rng(1);
  std::vector<std::uint8_t> bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(rng());
  return zel::Data(std::move(bytes));
}

void BM_MultipartTenFieldsAndOneMiBFile(benchmark::State& state) {
  const auto file = makeFile(1 << 20);
  std::vector<std::pair<std::string, zel::Data>> fields;
  for (int i = 0; i < 10; ++i) {
    fields.emplace_back("field_" + std::to_string(i),
                        zel::Data::copy("value " + std::to_string(i)));
  }
  std::size_t size = 0;
  for (auto _ : state) {
    zel::ZELMultipartFormData form;
    for (const auto& [name, value] : fields) form.appendPartWithFormData(value, name);
    form.appendPartWithFileData(file, "photo", "photo.jpg", "image/jpeg", std::nullopt);
    auto body = form.bodyData();
    size = body->size();
    benchmark::DoNotOptimize(body);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}
BENCHMARK(BM_MultipartTenFieldsAndOneMiBFile)->Unit(benchmark::kMicrosecond);

}  // namespace
