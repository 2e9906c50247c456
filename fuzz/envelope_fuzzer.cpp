// Response bodies as a server might send them: JSON reading, the envelope, the acceptance rule
// and the error built for a refused envelope.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "zel/client/ZELNetworkingClient.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zel::fuzz::quietReports();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zel;
  // A client without a session: parsing needs none.
  static const auto client =
      ZELNetworkingClient::initWithBaseURL(URL::URLWithString("https://api.zelvo.test/"), nullptr,
                                           nullptr, nullptr, false, false, {}, nullptr);
  const auto body = Data::copy(fuzz::textOf(data, size));
  const auto outcome = client->parseData(body, 200).peek();
  fuzz::check(outcome.has_value(), "parsing completes at once");
  if (outcome->ok()) {
    const auto& response = outcome->value();
    fuzz::check(response && response->success && response->serviceCode == 0,
                "only a successful envelope with code 0 is accepted");
    fuzz::check(response->data && *response->data == body, "the body is kept");
    (void)response->description();
  } else {
    (void)outcome->error().localizedDescription();
    (void)outcome->error().description();
  }
  return 0;
}
