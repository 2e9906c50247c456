#include "TransferCallbacks.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "SessionIO.h"
#include "Transfer.h"
#include "zel/transport/URLError.h"

namespace zel::detail {
namespace {

// Pauses a streaming transfer while the delegate is behind. The flag is raised before the
// backlog is read again, so a delegate queue that drains it meanwhile sees the flag and asks
// for the transfer to go on (or this side sees the drained backlog and does not pause).
bool shouldPauseForBacklog(StreamBacklog& backlog) {
  if (backlog.bytes.load() < StreamBacklog::kPauseAbove) return false;
  backlog.pauseRequested.store(true);
  if (backlog.bytes.load() >= StreamBacklog::kResumeBelow) return true;
  backlog.pauseRequested.store(false);
  return false;
}

std::size_t refuseBody(Transfer& t, std::string reason) {
  t.abortCode = NSURLErrorDataLengthExceedsMaximum;
  t.abortReason = std::move(reason);
  return 0;
}

}  // namespace

std::size_t headerCallback(char* buffer, std::size_t size, std::size_t count, void* userdata) {
  auto& t = *static_cast<Transfer*>(userdata);
  const std::size_t length = size * count;
  t.lastActivity = t.io->roundStart;
  if (t.headDone) return length;  // trailers
  switch (t.parser.feed(std::string_view(buffer, length))) {
    case ResponseHeadParser::Outcome::NeedMore:
      return length;
    case ResponseHeadParser::Outcome::HeadComplete:
      t.headDone = true;
      return t.io->headReceived(t) ? length : 0;
    case ResponseHeadParser::Outcome::Malformed:
      t.abortCode = NSURLErrorCannotParseResponse;
      return 0;
    case ResponseHeadParser::Outcome::TooLarge:
      t.abortCode = NSURLErrorBadServerResponse;
      return 0;
  }
  return 0;
}

std::size_t writeCallback(char* buffer, std::size_t size, std::size_t count, void* userdata) {
  auto& t = *static_cast<Transfer*>(userdata);
  const std::size_t length = size * count;
  t.lastActivity = t.io->roundStart;
  if (t.redirecting) {
    // Kept in case the delegate declines the redirect; bounded, the rest is dropped.
    const std::size_t room = kMaxBodyPiece - std::min(kMaxBodyPiece, t.redirectBody.size());
    t.redirectBody.append(buffer, std::min(room, length));
    return length;
  }
  if (t.streaming && shouldPauseForBacklog(*t.backlog)) {
    t.paused = true;  // libcurl hands these bytes over again once the transfer goes on
    return CURL_WRITEFUNC_PAUSE;
  }

  const std::int64_t decoded = t.decodedBodyBytes + static_cast<std::int64_t>(length);
  const auto& limits = t.io->limits();
  if (!t.streaming && limits.maximumResponseBodyBytes > 0 &&
      decoded > limits.maximumResponseBodyBytes) {
    return refuseBody(t, "The response body is larger than the session's limit of " +
                             std::to_string(limits.maximumResponseBodyBytes) + " bytes.");
  }
  if (t.contentEncoded && limits.maximumContentExpansionRatio > 0 &&
      decoded > kExpansionGraceBytes) {
    curl_off_t received = 0;
    curl_easy_getinfo(t.easy.get(), CURLINFO_SIZE_DOWNLOAD_T, &received);
    if (static_cast<double>(decoded) >
        static_cast<double>(received) * limits.maximumContentExpansionRatio) {
      char ratio[32];
      std::snprintf(ratio, sizeof ratio, "%g", limits.maximumContentExpansionRatio);
      return refuseBody(t, std::string("The compressed response body expands more than ") + ratio +
                               " times; it was not decoded further.");
    }
  }
  t.decodedBodyBytes = decoded;

  if (!t.streaming) {
    t.body.append(buffer, length);
    return length;
  }
  std::string_view rest(buffer, length);
  while (!rest.empty()) {
    const std::size_t take = std::min(kMaxBodyPiece - t.body.size(), rest.size());
    t.body.append(rest.substr(0, take));
    rest.remove_prefix(take);
    if (t.body.size() == kMaxBodyPiece) t.io->deliverBodyPiece(t);
  }
  if (!t.body.empty()) t.io->markBodyPending(t);
  return length;
}

int attemptCallback(void* userdata, char*, char*, int, int) {
  ++static_cast<Transfer*>(userdata)->attempts;
  return CURL_PREREQFUNC_OK;
}

int progressCallback(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
  auto& t = *static_cast<Transfer*>(userdata);
  if (uploaded <= t.lastUploadNow || !t.uploadBody) return 0;
  const auto now = SteadyClock::now();
  const curl_off_t delta = uploaded - t.lastUploadNow;
  t.lastUploadNow = uploaded;
  t.lastActivity = now;
  const auto expected = static_cast<std::int64_t>(t.uploadBody->size());
  if (uploaded >= expected) t.uploadDoneAt = now;
  t.io->uploadProgressed(t, delta, uploaded, expected);
  return 0;
}

}  // namespace zel::detail
