#pragma once
// One client connection of the mock server: requests read and answered in turn until either
// side closes it.

#include <cstddef>

#include "MockServerImpl.h"

namespace zel::mockserver {

/// Serves the connected socket `fd` on the calling thread, then closes it.
void serveConnection(MockServer::Impl& server, int fd, std::size_t id);

}  // namespace zel::mockserver
