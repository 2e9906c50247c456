// The session core's I/O thread: its start, the commands other threads send it, and its loop
// (commands, libcurl, finished transfers, timers, this round's delegate events, then a poll).

#include <openssl/crypto.h>

#include <algorithm>
#include <cstdlib>

#include "RequestValidation.h"
#include "SessionCore.h"
#include "SessionIO.h"
#include "zel/transport/URLError.h"

namespace zel::detail {
namespace {

constexpr auto kTimerCadence = std::chrono::milliseconds(50);

thread_local const SessionCore* tlsIOThreadOf = nullptr;

// I/O threads whose session asked them to stop and that have not yet ended. They are detached,
// so nothing else orders their last libcurl and OpenSSL calls (closing pooled TLS connections
// among them) before the process exits; the process waits for them, briefly, at exit.
struct StoppingThreads {
  std::mutex mutex;
  std::condition_variable ended;
  int count = 0;
};

StoppingThreads& stoppingThreads() {
  static auto* threads = new StoppingThreads;  // leaked: used while the process exits
  return *threads;
}

void waitForStoppingThreads() {
  if (tlsIOThreadOf != nullptr) return;  // exit() from an I/O thread: it cannot wait for itself
  auto& threads = stoppingThreads();
  std::unique_lock lock(threads.mutex);
  threads.ended.wait_for(lock, std::chrono::seconds(2), [&] { return threads.count == 0; });
}

void ensureCurlGlobalInit() {
  static const bool initialized = [] {
    const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    // Registered after the TLS library registered its own exit-time cleanup, so it runs first.
    std::atexit(waitForStoppingThreads);
    return ok;
  }();
  (void)initialized;
}

CURLM* makeMulti() {
  ensureCurlGlobalInit();
  return curl_multi_init();
}

}  // namespace

SessionCore::SessionCore(URLSessionConfiguration configuration,
                         std::shared_ptr<URLSessionDelegate> delegate)
    : configuration_(std::move(configuration)),
      configurationProblem_(detail::configurationProblem(configuration_)),
      delegateQueue_(std::make_shared<ZELSerialQueue>("com.zelvo.URLSession.delegateQueue")),
      collectsMetrics_(delegate != nullptr),
      multi_(makeMulti()),
      delegate_(std::move(delegate)) {}

SessionCore::~SessionCore() = default;

void SessionCore::start() {
  std::thread([self = shared_from_this()]() mutable {
    self->ioThreadMain();
    // The session may end with this reference and close its pooled connections here.
    self.reset();
    // libcurl's TLS left per-thread OpenSSL state here (random generators, the error queue).
    // Freed now, before the process may exit, not by the thread's exit handlers after it.
    OPENSSL_thread_stop();
    auto& threads = stoppingThreads();
    {
      std::lock_guard lock(threads.mutex);
      --threads.count;
    }
    threads.ended.notify_all();
  }).detach();
}

void SessionCore::requestStop() {
  if (stopRequested_) return;
  stopRequested_ = true;
  // Counted before the thread can see the request (no thread ends before one): it uncounts
  // itself as its last act.
  {
    std::lock_guard lock(stoppingThreads().mutex);
    ++stoppingThreads().count;
  }
  ioSleeping_ = false;
  curl_multi_wakeup(multi_.get());
}

std::shared_ptr<URLSessionDelegate> SessionCore::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void SessionCore::sendCommand(Command command) {
  std::lock_guard lock(mutex_);
  if (ioExited_) return;  // only stale decisions for finished tasks can arrive this late
  commands_.push_back(std::move(command));
  // Only a sleeping I/O thread needs the wake-up (a syscall); a busy one looks before it polls.
  if (ioSleeping_) {
    ioSleeping_ = false;
    curl_multi_wakeup(multi_.get());
  }
}

bool SessionCore::isIOThread() const noexcept {
  return tlsIOThreadOf == this;
}

void SessionCore::ioThreadMain() {
  tlsIOThreadOf = this;
  std::optional<IOState> state;
  if (multi_) state.emplace(*this, multi_.get());
  std::vector<Command> batch;
  for (;;) {
    bool stop = false;
    {
      std::lock_guard lock(mutex_);
      batch.swap(commands_);
      stop = stopRequested_;
    }
    if (!state) {
      // Without a multi handle nothing can run: every task ends at once.
      for (auto& command : batch) {
        if (auto* start = std::get_if<StartCommand>(&command)) {
          deliverCompletion(start->task, std::nullopt,
                            multiFailure(urlText(start->task->originalRequest()),
                                         CURLM_OUT_OF_MEMORY, "curl_multi_init"),
                            URLSessionTaskMetrics{});
        }
      }
      batch.clear();
      if (stop) break;
      std::unique_lock lock(mutex_);
      ioExitedChanged_.wait_for(lock, kTimerCadence);
      continue;
    }
    IOState& io = *state;
    io.roundStart = SteadyClock::now();
    for (auto& command : batch) {
      std::visit(
          [&](auto& c) {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, StartCommand>) {
              io.start(c.task);
            } else if constexpr (std::is_same_v<T, CancelCommand>) {
              io.cancel(c.task, NSURLErrorCancelled);
            } else if constexpr (std::is_same_v<T, RedirectCommand>) {
              io.redirectDecided(c.task, std::move(c.request));
            } else {
              io.resumeAfterBacklog(c.task);
            }
          },
          command);
    }
    batch.clear();
    if (stop && io.transfers.empty()) break;

    int running = 0;
    if (const CURLMcode performed = curl_multi_perform(io.multi, &running); performed != CURLM_OK) {
      io.failEverything(multiFailure(std::nullopt, performed, "curl_multi_perform"));
    }
    int pending = 0;
    while (CURLMsg* message = curl_multi_info_read(io.multi, &pending)) {
      if (message->msg != CURLMSG_DONE) continue;
      Transfer* transfer = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
      const CURLcode result = message->data.result;  // message is invalid after removal
      if (transfer != nullptr) io.transferDone(*transfer, result);
    }
    io.flushPendingBodies();

    const auto now = SteadyClock::now();
    if (now >= io.nextTimerCheck) {
      io.checkTimers(now);
      io.nextTimerCheck = now + kTimerCadence;
    }
    long timeout = 1000;
    if (!io.transfers.empty()) {
      long curlTimeout = -1;
      curl_multi_timeout(io.multi, &curlTimeout);
      timeout = kTimerCadence.count();
      if (curlTimeout >= 0) timeout = std::min(timeout, curlTimeout);
    }
    runRoundDelegateEvents();
    {
      std::lock_guard lock(mutex_);
      if (!commands_.empty() || stopRequested_) continue;
      ioSleeping_ = true;
    }
    const CURLMcode polled =
        curl_multi_poll(io.multi, nullptr, 0, static_cast<int>(timeout), nullptr);
    {
      std::lock_guard lock(mutex_);
      ioSleeping_ = false;
    }
    if (polled != CURLM_OK)
      io.failEverything(multiFailure(std::nullopt, polled, "curl_multi_poll"));
  }

  state.reset();                       // every easy handle goes before the multi handle
  delegateQueue_->runPendingInline();  // hands anything left to the delegate queue's thread
  bool shutDownQueue = false;
  {
    std::lock_guard lock(mutex_);
    ioExited_ = true;
    shutDownQueue = shutDownQueueOnExit_;
  }
  if (shutDownQueue) delegateQueue_->shutdown();
  ioExitedChanged_.notify_all();
}

}  // namespace zel::detail
