#include "CurlHandles.h"

namespace zel::detail {

bool appendLine(CurlSlist& list, const char* line) {
  curl_slist* longer = curl_slist_append(list.get(), line);
  if (longer == nullptr) return false;
  (void)list.release();  // the first node stays the head; the list now owns the new one too
  list.reset(longer);
  return true;
}

EasyHandlePool::Handle EasyHandlePool::take(bool cookies) {
  auto& prepared = cookies ? withCookies_ : withoutCookies_;
  if (!prepared.empty()) {
    Handle handle = std::move(prepared.back());
    prepared.pop_back();
    return handle;
  }
  Handle handle;
  if (!reset_.empty()) {
    handle.easy = std::move(reset_.back());
    reset_.pop_back();
  } else {
    handle.easy.reset(curl_easy_init());
  }
  if (handle.easy && prepare_(handle.easy.get(), cookies, context_) != CURLE_OK) {
    handle.easy.reset();
  }
  if (handle.easy) handle.errorBuffer = std::make_unique<char[]>(CURL_ERROR_SIZE);
  return handle;
}

void EasyHandlePool::give(Handle handle, bool cookies, bool mayHaveRetried) {
  if (!handle.easy) return;
  if (!mayHaveRetried && ++handle.transfersSinceReset < kTransfersBetweenResets) {
    (cookies ? withCookies_ : withoutCookies_).push_back(std::move(handle));
    return;
  }
  // A reset keeps the cookie files named for a transfer that never started (and leaks them);
  // naming none frees them.
  curl_easy_setopt(handle.easy.get(), CURLOPT_COOKIEFILE, static_cast<const char*>(nullptr));
  curl_easy_reset(handle.easy.get());
  reset_.push_back(std::move(handle.easy));
}

}  // namespace zel::detail
