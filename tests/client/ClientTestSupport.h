#pragma once
// An authentication provider with settable answers that records the calls it is given; a call
// made off the main queue says so.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "zel/client/ZELNetworkingClient.h"

namespace zel::test {

struct TestAuthenticationProvider : ZELNetworkingAPIAuthenticationProvider {
  std::string accessToken() override {
    std::lock_guard lock(mutex_);
    return token_;
  }
  std::string clientID() override { return id_; }
  std::string clientSecret() override { return secret_; }
  void accessTokenInvalidWithError(const Error& error,
                                   std::shared_ptr<ZELHTTPRequest> request) override {
    record("invalid " + std::to_string(error.code()) + (request ? " task" : " none"));
  }
  void authorizationFailed() override { record("failed"); }

  void setToken(std::string token) {
    std::lock_guard lock(mutex_);
    token_ = std::move(token);
  }
  void record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call) + (isMainThread() ? "" : " off the main queue"));
    changed_.notify_all();
  }
  // Waits (ten seconds at most) until that many calls arrived, and takes them.
  std::vector<std::string> waitForCalls(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return calls_.size() >= count; });
    return std::exchange(calls_, {});
  }

  std::string id_ = "app", secret_ = "s3cret", token_ = "tok";
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> calls_;
};

}  // namespace zel::test
