// Reading response heads: a typical API head, and heads of many fields, whose cost per field
// must stay flat (a quadratic reader stalls every transfer of its session on a hostile head).
#include <benchmark/benchmark.h>

#include <string>

#include "ResponseHeadParser.h"

namespace {

std::string headWithFields(int count) {
  std::string head = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < count; ++i) head += "X-Field-" + std::to_string(i) + ": value\r\n";
  return head + "\r\n";
}

// Fed line by line, as libcurl hands a head over.
void feedLines(zel::detail::ResponseHeadParser& parser, std::string_view head) {
  while (!head.empty()) {
    const auto end = head.find('\n') + 1;
    parser.feed(head.substr(0, end));
    head.remove_prefix(end);
  }
}

void BM_TypicalApiHead(benchmark::State& state) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nServer: nginx\r\nDate: Sun, 06 Dec 2026 16:30:27 GMT\r\n"
      "Content-Type: application/json\r\nContent-Length: 73\r\nConnection: keep-alive\r\n\r\n";
  for (auto _ : state) {
    zel::detail::ResponseHeadParser parser;
    feedLines(parser, head);
    benchmark::DoNotOptimize(parser.takeHead());
  }
}
BENCHMARK(BM_TypicalApiHead);

void BM_HeadOfManyFields(benchmark::State& state) {
  const std::string head = headWithFields(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    zel::detail::ResponseHeadParser parser;
    feedLines(parser, head);
    benchmark::DoNotOptimize(parser.takeHead());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));  // items/s: fields per second
}
BENCHMARK(BM_HeadOfManyFields)->Arg(100)->Arg(1000)->Arg(10000);

}  // namespace
