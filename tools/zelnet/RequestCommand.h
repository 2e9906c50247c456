#pragma once
// `zelnet VERB PATH [options]`: one request through ZELNetworkingClient, printed as a readable
// summary or as one JSON object.

#include <cstdio>

#include "ClientKit.h"
#include "RequestOptions.h"
#include "zel/client/ZELNetworkingClientProtocol.h"

namespace zelnet {

/// The body chunks of --form and --file (files are read now); an empty block when there are
/// none. Throws UsageError naming a file that cannot be read.
[[nodiscard]] zel::ZELBodyChunksBlock bodyChunksFor(const RequestOptions& options);

/// Starts the request with the verb form its options call for.
[[nodiscard]] zel::ZELAPIResponseFutureAndCancelToken startRequest(
    zel::ZELNetworkingClient& client, const RequestOptions& options,
    const zel::ZELBodyChunksBlock& chunks, zel::ZELUploadProgressBlock progress);

/// Runs the request, waits for its reports, prints; 0 when the request succeeded, 1 when it
/// failed. Throws UsageError for options that turn out unusable (a file, the base URL).
int runRequestCommand(const RequestOptions& options, std::FILE* out, std::FILE* err);

}  // namespace zelnet
