// Load benchmark: N GET requests at concurrency C through one or more lanes, in one process.
//
//   zel_load --url URL --requests N --concurrency C --lane raw|session|client|client-report ...
//            [--http2] [--cacert FILE] [--memory-tasks N]
//
// Lane "raw" is a plain libcurl multi loop on one thread with reused easy handles (the floor of
// the transport); lane "session" runs URLSession data tasks with completion handlers; lane
// "client" runs the whole client: a Bearer-token getPath whose envelope is parsed into a
// ZELAPIResponse (reporting switches off; lane "client-report" with both on). Each lane prints
// one RESULT line; with several lanes
// a last line gives each lane's ratio to the raw lane. Without --url the benchmark serves a
// 73-byte JSON envelope itself on loopback.
//
// --memory-tasks N resumes N tasks at once against a server that does not answer and reports
// the heap they add.

#include <curl/curl.h>
#include <httplib.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "zel/client/ZELNetworkingClient.h"
#include "zel/client/ZELNetworkingClientNotifications.h"
#include "zel/platform/NotificationCenter.h"
#include "zel/reporting/ZELNetworkingReporting.h"
#include "zel/transport/URLSession.h"
#include "zel/transport/ZELNetworkingSessionDelegate.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kEnvelope =
    R"({"status":"success","code":0,"message":"ok","data":{"id":1},"bookmark":"x"})";

struct Options {
  std::string url;
  long requests = 20000;
  long concurrency = 8;
  std::vector<std::string> lanes;
  bool http2 = false;
  std::string cacert;
  long memoryTasks = 0;
  long repeat = 1;
};

struct LaneResult {
  std::string lane;
  long ok = 0;
  double seconds = 0;
  std::vector<long> latenciesMicros;
  long rssKb = 0;
  double cpuSeconds = 0;  // the whole process's, server included when it runs in-process
  [[nodiscard]] double rps() const { return seconds > 0 ? static_cast<double>(ok) / seconds : 0; }
};

// User and system time of every thread of the process so far.
double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long rssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

long percentile(std::vector<long> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
  return values[index];
}

size_t discardBody(char*, size_t size, size_t count, void* userdata) {
  *static_cast<size_t*>(userdata) += size * count;
  return size * count;
}

LaneResult runRaw(const Options& o) {
  LaneResult result;
  result.lane = "raw";
  CURLM* multi = curl_multi_init();
  if (o.http2) curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  struct Slot {
    CURL* easy;
    Clock::time_point started;
    size_t bytes = 0;
  };
  std::vector<Slot> slots(static_cast<std::size_t>(o.concurrency));
  long issued = 0;
  auto launch = [&](Slot& slot) {
    slot.started = Clock::now();
    slot.bytes = 0;
    curl_multi_add_handle(multi, slot.easy);
    ++issued;
  };
  for (auto& slot : slots) {
    slot.easy = curl_easy_init();
    curl_easy_setopt(slot.easy, CURLOPT_URL, o.url.c_str());
    curl_easy_setopt(slot.easy, CURLOPT_WRITEFUNCTION, discardBody);
    curl_easy_setopt(slot.easy, CURLOPT_WRITEDATA, &slot.bytes);
    curl_easy_setopt(slot.easy, CURLOPT_PRIVATE, &slot);
    curl_easy_setopt(slot.easy, CURLOPT_NOSIGNAL, 1L);
    if (o.http2) {
      curl_easy_setopt(slot.easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
      curl_easy_setopt(slot.easy, CURLOPT_PIPEWAIT, 1L);
    }
    if (!o.cacert.empty()) curl_easy_setopt(slot.easy, CURLOPT_CAINFO, o.cacert.c_str());
    // The same default fields the session sends (libcurl adds "Accept: */*" to both), so the
    // lanes compare like for like.
    curl_easy_setopt(slot.easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(slot.easy, CURLOPT_USERAGENT, "ZELNetworking/1.0");
  }
  result.latenciesMicros.reserve(static_cast<std::size_t>(o.requests));
  const auto start = Clock::now();
  for (auto& slot : slots) {
    if (issued < o.requests) launch(slot);
  }
  long done = 0;
  while (done < issued) {
    int running = 0;
    curl_multi_perform(multi, &running);
    int pending = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &pending)) {
      if (message->msg != CURLMSG_DONE) continue;
      Slot* slot = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &slot);
      long status = 0;
      curl_easy_getinfo(message->easy_handle, CURLINFO_RESPONSE_CODE, &status);
      if (message->data.result == CURLE_OK && status == 200 && slot->bytes > 0) ++result.ok;
      result.latenciesMicros.push_back(
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - slot->started)
              .count());
      curl_multi_remove_handle(multi, slot->easy);
      ++done;
      if (issued < o.requests) launch(*slot);
    }
    if (done < issued) curl_multi_poll(multi, nullptr, 0, 100, nullptr);
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (auto& slot : slots) curl_easy_cleanup(slot.easy);
  curl_multi_cleanup(multi);
  result.rssKb = rssKb();
  return result;
}

zel::URLSessionConfiguration sessionConfiguration(const Options& o) {
  auto config = zel::URLSessionConfiguration::defaultSessionConfiguration();
  config.HTTPShouldSetCookies = false;
  // As many connections as the raw lane opens (HTTP/2 multiplexes them onto one anyway).
  config.HTTPMaximumConnectionsPerHost = static_cast<int>(std::max(6L, o.concurrency));
  if (!o.cacert.empty()) config.trustedCAFile = o.cacert;
  return config;
}

// Keeps C chains of requests going until N have ended: startOne(done) starts one request and
// calls done(ok) when it ends, on whatever thread ends it.
LaneResult runChains(const Options& o, std::string lane,
                     const std::function<void(std::function<void(bool)>)>& startOne) {
  LaneResult result;
  result.lane = std::move(lane);
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<long> issued{0};
  long done = 0;
  result.latenciesMicros.reserve(static_cast<std::size_t>(o.requests));

  std::function<void()> launch = [&] {
    ++issued;
    const auto started = Clock::now();
    startOne([&, started](bool ok) {
      const long micros =
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started).count();
      bool more = false;
      {
        std::lock_guard lock(mutex);
        if (ok) ++result.ok;
        result.latenciesMicros.push_back(micros);
        ++done;
        more = issued.load() < o.requests;
        if (done == o.requests) finished.notify_all();
      }
      if (more) launch();
    });
  };
  const auto start = Clock::now();
  for (long i = 0; i < o.concurrency && i < o.requests; ++i) launch();
  {
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return done >= o.requests; });
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.rssKb = rssKb();
  return result;
}

LaneResult runSession(const Options& o) {
  auto session = zel::URLSession::sessionWithConfiguration(sessionConfiguration(o));
  const auto url = zel::URL::URLWithString(o.url);
  if (!url) {
    std::cerr << "invalid --url\n";
    std::exit(2);
  }
  const zel::URLRequest request(*url);
  // Completion handlers run on the session's delegate queue, one at a time.
  return runChains(o, "session", [&](std::function<void(bool)> done) {
    session
        ->dataTaskWithRequest(
            request,
            [done = std::move(done)](std::optional<zel::Data> data,
                                     std::shared_ptr<const zel::URLResponse> response,
                                     std::optional<zel::Error> error) {
              const auto* http = dynamic_cast<const zel::HTTPURLResponse*>(response.get());
              done(!error && http && http->statusCode() == 200 && data && !data->empty());
            })
        ->resume();
  });
}

class BearerToken : public zel::ZELNetworkingAPIAuthenticationProvider {
 public:
  std::string accessToken() override { return "load-test-token"; }
  std::string clientID() override { return "load"; }
  std::string clientSecret() override { return "secret"; }
  void accessTokenInvalidWithError(const zel::Error&,
                                   std::shared_ptr<zel::ZELHTTPRequest>) override {}
  void authorizationFailed() override {}
};

// reporting: both switches on, so every request is also measured and reported (to callbacks
// that drop the reports), and the three request notifications observed, as an application that
// logs its network metrics and watches its requests would run.
LaneResult runClient(const Options& o, bool reporting) {
  const auto url = zel::URL::URLWithString(o.url);
  if (!url || !url->host()) {
    std::cerr << "invalid --url\n";
    std::exit(2);
  }
  auto delegate = zel::ZELNetworkingSessionDelegate::initWithStreamingEnabled(false);
  auto session = zel::URLSession::sessionWithConfiguration(sessionConfiguration(o), delegate);
  auto provider = std::make_shared<BearerToken>();
  // The path goes as it is (no trailing "/" added), so the raw lane's URL is requested.
  const std::string path = url->percentEncodedPath();
  auto client = zel::ZELNetworkingClient::initWithBaseURL(url, provider, nullptr, session, false,
                                                          false, {}, nullptr);
  const zel::ParameterDictionary noParameters;
  zel::ZELNetworkingClient::setShouldLogNetworkMetrics(reporting);
  zel::ZELNetworkingClient::setShouldLogNetworkErrors(reporting);
  std::vector<zel::ObserverToken> observers;
  for (const char* name : {zel::ZELNetworkingClientRequestWillStartNotification,
                           zel::ZELNetworkingClientRequestDidFinishNotification,
                           zel::ZELNetworkingClientRequestDidCollectMetricsNotification}) {
    if (reporting) {
      observers.push_back(zel::NotificationCenter::defaultCenter().addObserverForName(
          name, client.get(), [](const zel::Notification&) {}));
    }
  }
  const auto removeObservers = [&observers] {
    for (const auto& token : observers)
      zel::NotificationCenter::defaultCenter().removeObserver(token);
  };
  auto result =
      runChains(o, reporting ? "client-report" : "client", [&](std::function<void(bool)> done) {
        client->getPath(path, noParameters, false, zel::ZELAPIClientRequestPriority::Default)
            .future.onComplete([done = std::move(done)](
                                   const zel::Result<std::shared_ptr<zel::ZELAPIResponse>>& r) {
              done(r.ok() && r.value() && r.value()->success);
            });
      });
  removeObservers();
  return result;
}

void runMemory(const Options& o) {
  auto session = zel::URLSession::sessionWithConfiguration(sessionConfiguration(o));
  const zel::URLRequest request(*zel::URL::URLWithString(o.url));
  std::vector<std::shared_ptr<zel::URLSessionDataTask>> tasks;
  tasks.reserve(static_cast<std::size_t>(o.memoryTasks));
  std::atomic<long> completed{0};
  // Warm up the session's threads and a connection first.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  malloc_trim(0);
  const auto before = mallinfo2().uordblks;
  for (long i = 0; i < o.memoryTasks; ++i) {
    auto task = session->dataTaskWithRequest(
        request, [&](std::optional<zel::Data>, std::shared_ptr<const zel::URLResponse>,
                     std::optional<zel::Error>) { ++completed; });
    task->resume();
    tasks.push_back(std::move(task));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let the I/O thread take them all
  const auto after = mallinfo2().uordblks;
  const double perTask = static_cast<double>(after - before) / static_cast<double>(o.memoryTasks);
  std::printf("MEMORY tasks=%ld heap_delta_kb=%.0f per_task_bytes=%.0f\n", o.memoryTasks,
              static_cast<double>(after - before) / 1024.0, perTask);
  session->invalidateAndCancel();
  for (int i = 0; i < 200 && completed.load() < o.memoryTasks; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

void printResult(const Options& o, const LaneResult& r) {
  std::printf(
      "RESULT lane=%s n=%ld c=%ld ok=%ld secs=%.3f rps=%.0f p50_us=%ld p99_us=%ld rss_kb=%ld "
      "cpu_us=%.1f\n",
      r.lane.c_str(), o.requests, o.concurrency, r.ok, r.seconds, r.rps(),
      percentile(r.latenciesMicros, 0.50), percentile(r.latenciesMicros, 0.99), r.rssKb,
      r.ok > 0 ? r.cpuSeconds * 1e6 / static_cast<double>(r.ok) : 0.0);
  std::fflush(stdout);
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "missing value for " << arg << "\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--url")
      o.url = next();
    else if (arg == "--requests")
      o.requests = std::stol(next());
    else if (arg == "--concurrency")
      o.concurrency = std::stol(next());
    else if (arg == "--lane")
      o.lanes.push_back(next());
    else if (arg == "--http2")
      o.http2 = true;
    else if (arg == "--cacert")
      o.cacert = next();
    else if (arg == "--memory-tasks")
      o.memoryTasks = std::stol(next());
    else if (arg == "--repeat")
      o.repeat = std::max(1L, std::stol(next()));
    else {
      std::cerr << "usage: zel_load [--url URL] [--requests N] [--concurrency C] "
                   "[--lane raw|session|client|client-report]... [--http2] [--cacert FILE] "
                   "[--memory-tasks N] "
                   "[--repeat K]\n";
      std::exit(2);
    }
  }
  if (o.lanes.empty()) o.lanes = {"raw", "session"};
  for (const auto& lane : o.lanes) {
    if (lane != "raw" && lane != "session" && lane != "client" && lane != "client-report") {
      std::cerr << "unknown lane " << lane << "\n";
      std::exit(2);
    }
  }
  if (o.requests < 1 || o.concurrency < 1) {
    std::cerr << "--requests and --concurrency must be positive\n";
    std::exit(2);
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse(argc, argv);
  curl_global_init(CURL_GLOBAL_DEFAULT);

  // Without --url, serve the envelope (and a route that never answers in time) on loopback.
  httplib::Server server;
  std::thread serverThread;
  if (options.url.empty()) {
    server.set_tcp_nodelay(true);  // small responses go out at once, not after a delayed ACK
    server.Get("/envelope", [](const httplib::Request&, httplib::Response& res) {
      // Served as opaque bytes so the server does not spend its time compressing the body.
      res.set_content(kEnvelope, "application/octet-stream");
    });
    server.Get("/slow", [&server](const httplib::Request&, httplib::Response& res) {
      for (int i = 0; i < 100 && server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      res.set_content("late", "text/plain");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    serverThread = std::thread([&] { server.listen_after_bind(); });
    options.url = "http://127.0.0.1:" + std::to_string(port) +
                  (options.memoryTasks > 0 ? "/slow" : "/envelope");
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  zel::ZELNetworkingReporting::configureNetworkingReportingBlock(
      [](const auto&, const auto&, const auto&, const auto&) {});
  zel::ZELNetworkingReporting::configureErrorReportingBlock([](const auto&) {});
  if (options.memoryTasks > 0) {
    runMemory(options);
  } else {
    // Lanes run in turn, K rounds; each lane's median round is reported (this machine is noisy).
    std::map<std::string, std::vector<LaneResult>> rounds;
    for (long round = 0; round < options.repeat; ++round) {
      for (const auto& lane : options.lanes) {
        const double cpuBefore = processCpuSeconds();
        auto result = lane == "raw"       ? runRaw(options)
                      : lane == "session" ? runSession(options)
                                          : runClient(options, lane == "client-report");
        result.cpuSeconds = processCpuSeconds() - cpuBefore;
        rounds[lane].push_back(std::move(result));
      }
    }
    std::map<std::string, double> medianRps;
    for (const auto& lane : options.lanes) {
      auto& results = rounds[lane];
      std::sort(results.begin(), results.end(),
                [](const LaneResult& a, const LaneResult& b) { return a.rps() < b.rps(); });
      const auto& median = results[results.size() / 2];
      printResult(options, median);
      medianRps[lane] = median.rps();
    }
    if (medianRps.count("raw") && medianRps["raw"] > 0 && medianRps.size() > 1) {
      std::string line;
      for (const char* lane : {"session", "client", "client-report"}) {
        if (!medianRps.count(lane)) continue;
        char ratio[64];
        std::snprintf(ratio, sizeof ratio, "%s%s/raw=%.2f", line.empty() ? "ratio " : " ", lane,
                      medianRps[lane] / medianRps["raw"]);
        line += ratio;
      }
      std::printf("%s\n", line.c_str());
    }
  }

  if (serverThread.joinable()) {
    server.stop();
    serverThread.join();
  }
  return 0;
}
