#include "zel/transport/URLSessionConfiguration.h"

namespace zel {

URLSessionConfiguration URLSessionConfiguration::defaultSessionConfiguration() {
  return {};
}

URLSessionConfiguration URLSessionConfiguration::ephemeralSessionConfiguration() {
  URLSessionConfiguration configuration;
  configuration.urlCache =
      URLCache{.memoryCapacity = 512 * 1024, .diskCapacity = 0, .diskPath = {}};
  return configuration;
}

}  // namespace zel
