#include "CurlHandles.h"

namespace zel::detail {

bool appendLine(CurlSlist& list, const char* line) {
  curl_slist* longer = curl_slist_append(list.get(), line);
  if (longer == nullptr) return false;
  (void)list.release();  // the first node stays the head; the list now owns the new one too
  list.reset(longer);
  return true;
}

CurlEasy EasyHandlePool::take(bool cookies) {
  CurlEasy easy;
  if (!spare_.empty()) {
    easy = std::move(spare_.back());
    spare_.pop_back();
  } else {
    easy.reset(curl_easy_init());
  }
  if (easy && prepare_(easy.get(), cookies, context_) != CURLE_OK) easy.reset();
  return easy;
}

void EasyHandlePool::give(CurlEasy easy) {
  if (!easy) return;
  // A reset keeps the cookie files named for a transfer that never started (and leaks them);
  // naming none frees them.
  curl_easy_setopt(easy.get(), CURLOPT_COOKIEFILE, static_cast<const char*>(nullptr));
  curl_easy_reset(easy.get());
  spare_.push_back(std::move(easy));
}

}  // namespace zel::detail
