#pragma once
// Reads a finished (or abandoned) hop's timings, byte counts and connection facts off its
// easy handle into a transaction record.

#include "Transfer.h"

namespace zel::detail {

[[nodiscard]] URLSessionTaskTransactionMetrics collectTransactionMetrics(Transfer& transfer);

/// The negotiated TLS version and cipher of the hop's connection, when it uses TLS.
void captureTLSInfo(Transfer& transfer);

}  // namespace zel::detail
