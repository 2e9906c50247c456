// Percent-encoding of request parameters: runs for every name and value of every request.
#include <benchmark/benchmark.h>

#include <string>

#include "zel/platform/ParameterDictionary.h"
#include "zel/url/NSDictionary+ZELNetworkingAdditions.h"
#include "zel/url/NSString+ZELNetworkingAdditions.h"

namespace {

// 100 bytes like a typical parameter value: words, spaces, punctuation and a few accented letters.
std::string mixedValue() {
  std::string text =
      "Caf\xC3\xA9 photo/2024 by zelvo_user ~ 50% off! a+b=c & d?e #tag r\xC3\xA9sum\xC3\xA9 ";
  while (text.size() < 100) text += "token-";
  text.resize(100);
  return text;
}

void BM_UrlEncodeMixed100(benchmark::State& state) {
  const std::string text = mixedValue();
  for (auto _ : state) benchmark::DoNotOptimize(zel::zel_urlEncodedString(text));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_UrlEncodeMixed100);

// Already safe text (identifiers, tokens): the copy-through path.
void BM_UrlEncodeUnreserved100(benchmark::State& state) {
  const std::string text(100, 'a');
  for (auto _ : state) benchmark::DoNotOptimize(zel::zel_urlEncodedString(text));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_UrlEncodeUnreserved100);

void BM_QueryStringValue10(benchmark::State& state) {
  zel::ParameterDictionary params;
  std::int64_t inputBytes = 0;
  for (int i = 0; i < 10; ++i) {
    const std::string name = "param_" + std::to_string(i);
    const std::string value = mixedValue().substr(0, 30);
    inputBytes += static_cast<std::int64_t>(name.size() + value.size());
    params.set(name, value);
  }
  for (auto _ : state) benchmark::DoNotOptimize(zel::queryStringValue(params));
  // Throughput over the names and values written.
  state.SetBytesProcessed(state.iterations() * inputBytes);
}
BENCHMARK(BM_QueryStringValue10);

}  // namespace
