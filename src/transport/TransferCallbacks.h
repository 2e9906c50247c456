#pragma once
// The libcurl callbacks of a transfer, run on the I/O thread inside curl_multi_perform: the
// response head line by line, the (decoded) body, upload progress, and each attempt to send the
// request. userdata is the Transfer. The first three may stop the transfer by setting
// Transfer::abortCode and returning a value libcurl takes as an error.

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>

namespace zel::detail {

/// Largest piece of body a streaming delegate receives in one didReceiveData.
inline constexpr std::size_t kMaxBodyPiece = 1 << 20;
/// Decoded bytes a compressed body may reach before its expansion ratio is checked.
inline constexpr std::int64_t kExpansionGraceBytes = 1 << 20;

std::size_t headerCallback(char* buffer, std::size_t size, std::size_t count, void* userdata);
std::size_t writeCallback(char* buffer, std::size_t size, std::size_t count, void* userdata);
int progressCallback(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded);
/// Counts the attempts to send the request: more than one means libcurl retried it on another
/// connection (and counted the retry on the handle).
int attemptCallback(void* userdata, char*, char*, int, int);

}  // namespace zel::detail
