// Request building costs: signing, a 10 MiB multipart body, and its gzip.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "zel/client/ZELNetworkingClient.h"
#include "zel/foundation/ZELDataAdditions.h"
#include "zel/multipart/ZELMultipartFormData.h"

namespace {

class BenchAuthenticationProvider : public zel::ZELNetworkingAPIAuthenticationProvider {
 public:
  std::string accessToken() override { return {}; }
  std::string clientID() override { return "bench-client"; }
  std::string clientSecret() override { return "bench-secret-0123456789"; }
  void accessTokenInvalidWithError(const zel::Error&,
                                   std::shared_ptr<zel::ZELHTTPRequest>) override {}
  void authorizationFailed() override {}
};

// Mixed text, compressible like a JSON or CSV upload.
zel::Data makeFile(std::size_t size) {
  std::mt19937 rng(7);
  static const char* words[] = {"\"id\":", "12345", ",", "zelvo", "photo.jpg", "\n", "{", "}"};
  std::string text;
  text.reserve(size);
  while (text.size() < size) text += words[rng() % 8];
  text.resize(size);
  return zel::Data(std::move(text));
}

void BM_SignTenParameters(benchmark::State& state) {
  auto auth = std::make_shared<BenchAuthenticationProvider>();
  auto client = zel::ZELNetworkingClient::initWithBaseURL(
      zel::URL::URLWithString("https://api.example.test/v3/"), auth, nullptr,
      zel::URLSession::sessionWithConfiguration(
          zel::URLSessionConfiguration::defaultSessionConfiguration()),
      false, false, {}, nullptr);
  zel::ParameterDictionary parameters;
  for (int i = 0; i < 10; ++i) {
    parameters.set("param_" + std::to_string(i), "value " + std::to_string(i * 7919));
  }
  const auto base = client->baseURL();
  for (auto _ : state) {
    auto signedParameters =
        client->signParameters(parameters, base, "users/me/photos/", zel::ZELHTTPMethod::GET, "");
    benchmark::DoNotOptimize(signedParameters);
  }
}
BENCHMARK(BM_SignTenParameters)->Unit(benchmark::kMicrosecond);

void BM_MultipartBodyOf10MiBFile(benchmark::State& state) {
  const auto file = makeFile(10 << 20);
  zel::ZELMultipartFormData form;
  form.appendPartWithFileData(file, "upload", "data.json", "application/json", std::nullopt);
  for (auto _ : state) {
    auto body = form.bodyData();
    benchmark::DoNotOptimize(body);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(BM_MultipartBodyOf10MiBFile)->Unit(benchmark::kMillisecond);

void BM_GzipOf10MiBMultipartBody(benchmark::State& state) {
  zel::ZELMultipartFormData form;
  form.appendPartWithFileData(makeFile(10 << 20), "upload", "data.json", "application/json",
                              std::nullopt);
  const auto body = *form.bodyData();
  std::size_t compressed = 0;
  for (auto _ : state) {
    auto gz = zel::zel_gzippedData(body);
    compressed = gz->size();
    benchmark::DoNotOptimize(gz);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
  state.counters["ratio"] = static_cast<double>(compressed) / static_cast<double>(body.size());
}
BENCHMARK(BM_GzipOf10MiBMultipartBody)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
