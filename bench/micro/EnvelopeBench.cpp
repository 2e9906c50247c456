// A response body through the client's parser (JSON, envelope, acceptance rule) next to
// Boost.JSON's own parse of the same bytes: the envelope layer should add little.
#include <benchmark/benchmark.h>

#include <string>

#include <boost/json/parse.hpp>

#include "zel/client/ZELNetworkingClient.h"

namespace {

// A successful envelope of about `size` bytes: a list of small records under "data".
std::string makeEnvelope(std::size_t size) {
  std::string items;
  for (int i = 0; items.size() + 160 < size; ++i) {
    if (!items.empty()) items += ',';
    items += R"({"id":)" + std::to_string(100000 + i) + R"(,"name":"photo )" + std::to_string(i) +
             R"(.jpg","width":1024,"height":768,"liked":true,"score":4.75,"tags":["a","b"]})";
  }
  return R"({"status":"success","code":0,"message":"OK","data":{"items":[)" + items +
         R"(]},"bookmark":"b-000123","generated_at":"2026-12-06T10:00:00Z"})";
}

const std::shared_ptr<zel::ZELNetworkingClient>& client() {
  static const auto instance = zel::ZELNetworkingClient::initWithBaseURL(
      zel::URL::URLWithString("https://api.example.test/"), nullptr, nullptr,
      zel::URLSession::sessionWithConfiguration(
          zel::URLSessionConfiguration::defaultSessionConfiguration()),
      false, false, {}, nullptr);
  return instance;
}

void BM_EnvelopeParseData(benchmark::State& state) {
  const auto body = zel::Data(makeEnvelope(static_cast<std::size_t>(state.range(0))));
  const auto& parser = client();
  for (auto _ : state) {
    auto future = parser->parseData(body, 200);
    if (!future.peek()->ok()) state.SkipWithError("envelope refused");
    benchmark::DoNotOptimize(future);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}
BENCHMARK(BM_EnvelopeParseData)->Arg(1024)->Arg(100 * 1024);

void BM_BoostJsonParse(benchmark::State& state) {
  const auto body = makeEnvelope(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    boost::system::error_code ec;
    auto value = boost::json::parse(body, ec);
    if (ec) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}
BENCHMARK(BM_BoostJsonParse)->Arg(1024)->Arg(100 * 1024);

}  // namespace
