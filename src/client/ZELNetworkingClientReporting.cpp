// The reporting seam of request execution: every request passes here when it starts, when its
// task ends, and when its refined outcome is known. The request notifications, the network
// recorder and the metrics and error reports hook in here; until they do, nothing is posted.

#include "zel/client/ZELNetworkingClient.h"

namespace zel {

void ZELNetworkingClient::reportWillStart(const RequestReport&) const {}

void ZELNetworkingClient::reportDidFinish(const RequestReport&,
                                          const ZELNSURLSessionDataTaskResult&) const {}

// Called on the main queue for a success only while metrics are reported (the switch was on
// when the request started).
void ZELNetworkingClient::reportSuccess(const RequestReport&) const {}

void ZELNetworkingClient::reportFailure(const RequestReport&, const Error&) const {}

}  // namespace zel
