#pragma once
// Ready-made session configurations for clients. Each call returns a new configuration.

#include "zel/transport/URLSessionConfiguration.h"

namespace zel {

/// The default configuration without a response cache, cookies kept.
[[nodiscard]] URLSessionConfiguration zelnetworking_defaultSessionConfiguration();

/// For image downloads: the ephemeral configuration without a response cache, ignoring locally
/// cached data, and at least 8 connections per host.
[[nodiscard]] URLSessionConfiguration zelnetworking_remoteImageSessionConfiguration();
/// The same changes applied to the given starting configuration.
[[nodiscard]] URLSessionConfiguration zelnetworking_remoteImageSessionConfiguration(
    URLSessionConfiguration ephemeralConfiguration);

/// The default configuration, unchanged.
[[nodiscard]] URLSessionConfiguration zelnetworking_vanillaSessionConfiguration();

}  // namespace zel
