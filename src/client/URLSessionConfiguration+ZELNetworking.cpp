#include "zel/client/URLSessionConfiguration+ZELNetworking.h"

#include <algorithm>

namespace zel {

URLSessionConfiguration zelnetworking_defaultSessionConfiguration() {
  auto configuration = URLSessionConfiguration::defaultSessionConfiguration();
  configuration.urlCache.reset();
  configuration.HTTPShouldSetCookies = true;
  return configuration;
}

URLSessionConfiguration zelnetworking_remoteImageSessionConfiguration() {
  return zelnetworking_remoteImageSessionConfiguration(
      URLSessionConfiguration::ephemeralSessionConfiguration());
}

URLSessionConfiguration zelnetworking_remoteImageSessionConfiguration(
    URLSessionConfiguration ephemeralConfiguration) {
  auto configuration = std::move(ephemeralConfiguration);
  configuration.urlCache.reset();
  configuration.requestCachePolicy = URLRequestCachePolicy::ReloadIgnoringLocalCacheData;
  configuration.HTTPMaximumConnectionsPerHost =
      std::max(configuration.HTTPMaximumConnectionsPerHost, 8);
  return configuration;
}

URLSessionConfiguration zelnetworking_vanillaSessionConfiguration() {
  return URLSessionConfiguration::defaultSessionConfiguration();
}

}  // namespace zel
