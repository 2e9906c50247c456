// Reporting: the network metrics record (its naming rules as tables, and records read from the
// real session's metrics against the loopback server, beside the HAR export of the same
// requests), the reporting hub's slots and operations, and the error record's rules.
#include <gtest/gtest.h>

#include <sstream>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "support/AssertionCapture.h"
#include "support/RecordingDelegate.h"
#include "zel/reporting/ZELHARExport.h"
#include "zel/reporting/ZELNetworkMetrics.h"
#include "zel/reporting/ZELNetworkingReporting.h"
#include "zel/testing/MockServer.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

// Expects each member of `expected` (JSON text) in `object`, with that value.
void expectMembers(const boost::json::value& object, std::string_view expected) {
  const auto parsed = boost::json::parse(expected);
  for (const auto& [key, value] : parsed.as_object()) {
    EXPECT_EQ(object.at(key), value) << key;
  }
}

class Reporting : public ::testing::Test {
 protected:
  void SetUp() override { reports.clear(); }
  void TearDown() override {
    ZELNetworkingReporting::reset();
    ZELNetworkingReporting::configureErrorReportingBlock(nullptr);
  }
  // Runs a completion-handler task: its outcome, and the metrics the delegate was given.
  ZELHARTask run(URLRequest request) {
    test::OutcomeWaiter waiter;
    auto task = session->dataTaskWithRequest(std::move(request), waiter.handler());
    task->resume();
    auto outcome = waiter.wait();
    EXPECT_TRUE(outcome.has_value() && delegate->waitFor(task->taskIdentifier(), "metrics"));
    if (!outcome) outcome.emplace();
    return {delegate->record(task->taskIdentifier()).metrics.value_or(URLSessionTaskMetrics{}),
            ZELNSURLSessionDataTaskResult::resultWithData(outcome->data, outcome->response,
                                                          outcome->error)};
  }
  // Hands the hub's networking reports to `into`, as title and serialized additional information.
  static void reportNetworkingInto(std::vector<std::string>& into) {
    ZELNetworkingReporting::configureNetworkingReportingBlock(
        [&into](const auto& title, const auto&, const auto&, const auto& additional) {
          into.push_back(title.value_or("<absent>") + " " +
                         (additional ? boost::json::serialize(*additional) : "<absent>"));
        });
  }

  test::AssertionCapture reports;
  MockServer server;
  std::shared_ptr<test::RecordingDelegate> delegate = std::make_shared<test::RecordingDelegate>();
  std::shared_ptr<URLSession> session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::ephemeralSessionConfiguration(), delegate);
};

// ---- the network metrics record -------------------------------------------------------------

TEST_F(Reporting, MetricsPathsTLSNamesFetchTypesAndSources) {
  const std::vector<std::tuple<std::string, std::string, std::string>> paths = {
      // request path, raw_path, path
      {"/api/users/me", "/api/users/me/", "/api/users/me/"},
      {"/", "/", "/"},
      {"", "", ""},
      {"/i/abc.jpg", "/i/abc.jpg", "$.jpg"},
      {"/media/ab/cd.m3u8", "/media/ab/cd.m3u8", "$.m3u8"},
      {"/f/x.JPG", "/f/x.JPG", "/f/x.JPG"},
      {"/a/.profile", "/a/.profile/", "/a/.profile/"},
  };
  for (const auto& [requestPath, raw, aggregated] : paths) {
    const auto withSlash = ZELNetworkMetrics::addTrailingSlashIfApply(requestPath);
    EXPECT_EQ(withSlash, raw) << requestPath;
    EXPECT_EQ(ZELNetworkMetrics::aggregatePath(withSlash), aggregated) << requestPath;
  }
  for (const auto& [version, name] :
       {std::pair{0x0303, "TLSv12"}, std::pair{0x0304, "TLSv13"}, std::pair{0xFEFD, "DTLSv12"}}) {
    EXPECT_EQ(ZELNetworkMetrics::TLSVersionName(version), name);
  }
  EXPECT_EQ(ZELNetworkMetrics::resourceFetchTypeName(3), "local_cache");
  EXPECT_TRUE(reports.messages().empty());
  EXPECT_EQ(ZELNetworkMetrics::TLSVersionName(0x0301), "unknown");
  EXPECT_EQ(ZELNetworkMetrics::resourceFetchTypeName(7), std::nullopt);
  EXPECT_EQ(ZELNetworkMetrics::networkMetricsWithSessionTaskMetrics(std::string("other")), nullptr);
  EXPECT_EQ(reports.count("Apple is adding new TLS?"), 1u);
  EXPECT_EQ(reports.count("Apple is adding new fetch type?"), 1u);
  EXPECT_TRUE(reports.messages().at(2).starts_with("unexpected metric type: "));

  // The source is chosen by its exact type (the platform's: see the hub test). Another stack: the
  // duration spans its transactions, the declared length stands in for an uncounted decoded body.
  URLSessionTaskTransactionMetrics first;
  first.fetchStartDate = Date{} + 1s;
  URLSessionTaskTransactionMetrics last;
  last.request = URLRequest(*URL::URLWithString("https://a.test/x"));
  last.request.setHTTPBody(Data::copy(std::string(120, 'b')));
  last.response =
      std::make_shared<const HTTPURLResponse>(*URL::URLWithString("https://a.test/x"), 200,
                                              "HTTP/2", HTTPHeaders{{"Content-Length", "512"}});
  last.responseEndDate = Date{} + 1500ms;
  last.negotiatedTLSProtocolVersion = 0x0304;
  const auto fromCronet =
      ZELNetworkMetrics::networkMetricsWithSessionTaskMetrics(CronetMetrics{{first, last}});
  ASSERT_TRUE(fromCronet);
  EXPECT_EQ(fromCronet->transport, "Cronet");
  EXPECT_EQ(fromCronet->task_duration, 500.0);
  EXPECT_EQ(fromCronet->response_size, 512);
  EXPECT_EQ(fromCronet->request_size, 120);
  EXPECT_EQ(fromCronet->raw_path, "/x/");
  EXPECT_EQ(fromCronet->tls_version, "TLSv13");
}

// The same real requests read as metrics records and as a HAR log. A redirect gives two HAR
// entries, an upload its post data; every entry has HAR 1.2's required fields and its timings
// add up to its time; credentials are redacted unless asked for.
TEST_F(Reporting, SessionMeasurementsBecomeMetricsRecordsAndHAREntries) {
  server.route("/old", MockResponse{.status = 302, .headers = {{"Location", "/i/abc.jpg?x=1"}}});
  server.route("/i/abc.jpg", MockResponse{.headers = {{"Content-Type", "application/json"}},
                                          .body = R"({"ok":true})"});
  server.route("/upload", MockResponse{.headers = {{"x-zelvo-rid", "rid-1"}, {"x-cdn", "edge"}},
                                       .body = std::string(300, 'r')});
  auto redirected = test::requestFor(server.url("/old"));
  redirected.setValue("Bearer secret", "Authorization");
  redirected.setValue("c=crumb", "Cookie");
  auto upload = test::requestFor(server.url("/upload"));
  upload.setHTTPMethod("POST");
  upload.setValue("text/plain", "Content-Type");
  upload.setValue("gzip", "Content-Encoding");
  upload.setHTTPBody(Data::copy(std::string(200, 'q')));
  const auto fresh = ZELNetworkMetrics(run(upload).metrics).toJSONDictionary();
  const std::vector<ZELHARTask> tasks = {run(redirected), run(upload)};

  EXPECT_EQ(fresh.at("dimensions").as_object().at("reused_connection"), false);
  const auto second = ZELNetworkMetrics(tasks[1].metrics).toJSONDictionary();
  expectMembers(second.at("metrics"),
                R"({"host":"127.0.0.1","raw_path":"/upload/","method":"POST",)"
                R"("network_protocol":"http/1.1","request_id":"rid-1","cdn":"edge",)"
                R"("fetch_from":"network"})");
  expectMembers(second.at("dimensions"),
                R"({"status_code":200,"request_size":200,"request_size_sent":200,)"
                R"("response_size":300,"response_size_received":300,)"
                R"("is_request_body_gzipped":true,"reused_connection":true})");
  EXPECT_FALSE(second.at("metrics").as_object().contains("tls_version"));
  EXPECT_GT(second.at("dimensions").as_object().at("response_headers_size").as_int64(), 0);
  // An image folds into its type's path.
  EXPECT_EQ(ZELNetworkMetrics(tasks[0].metrics).path, "$.jpg");

  const boost::json::value har = ZELHARLogForTasks(tasks);
  EXPECT_EQ(har.at_pointer("/log/version"), "1.2");
  EXPECT_TRUE(har.at_pointer("/log/creator").as_object().contains("name"));
  const auto& entries = har.at_pointer("/log/entries").as_array();
  ASSERT_EQ(entries.size(), 3u);
  // HAR 1.2's required fields, by the object that holds them.
  const std::pair<const char*, const char*> required[] = {
      {"", "startedDateTime time request response cache timings"},
      {"/request", "method url httpVersion cookies headers queryString headersSize bodySize"},
      {"/response",
       "status statusText httpVersion cookies headers content redirectURL headersSize bodySize"},
      {"/response/content", "size mimeType"},
      {"/timings", "ssl blocked dns connect send wait receive"}};
  for (const auto& entry : entries) {
    for (const auto& [part, keys] : required) {
      std::istringstream words(keys);
      for (std::string key; words >> key;) {
        EXPECT_TRUE(entry.at_pointer(part).as_object().contains(key)) << part << "/" << key;
      }
    }
    double sum = 0;
    for (const char* key : {"blocked", "dns", "connect", "send", "wait", "receive"}) {
      sum += std::max(0.0, entry.at_pointer("/timings").at(key).to_number<double>());
    }
    EXPECT_NEAR(sum, entry.at("time").to_number<double>(), 1.0);
  }

  EXPECT_EQ(entries[0].at_pointer("/response/status"), 302);
  EXPECT_EQ(entries[0].at_pointer("/response/redirectURL"), "/i/abc.jpg?x=1");
  EXPECT_EQ(entries[0].at("serverIPAddress"), "127.0.0.1");
  EXPECT_EQ(entries[1].at_pointer("/request/queryString/0/name"), "x");
  EXPECT_EQ(entries[1].at_pointer("/response/content/text"), R"({"ok":true})");
  EXPECT_EQ(entries[2].at_pointer("/request/postData/mimeType"), "text/plain");
  EXPECT_EQ(entries[2].at_pointer("/request/bodySize"), 200);

  // Credentials are redacted unless asked for.
  const auto text = boost::json::serialize(har);
  EXPECT_NE(text.find(R"("[redacted]")"), std::string::npos);
  const auto withCredentials =
      boost::json::serialize(ZELHARLogForTasks({tasks[0]}, {.includeCredentials = true}));
  for (const char* credential : {"Bearer secret", "c=crumb"}) {
    EXPECT_EQ(text.find(credential), std::string::npos) << credential;
    EXPECT_NE(withCredentials.find(credential), std::string::npos) << credential;
  }
}

// ---- the reporting hub and the error record --------------------------------------------------

TEST_F(Reporting, HubSlotsOperationsAndTheErrorRecordFollowTheirRules) {
  URLSessionTaskMetrics metrics;
  metrics.taskInterval.duration = 5ms;
  // Nothing installed: reports are dropped after one report each.
  ZELNetworkingReporting::reportSessionTaskMetrics(metrics);
  ZELNetworkingReporting::reportNetworkError(
      std::make_shared<const ZELNetworkError>(Error("d", 1), URLRequest(), std::nullopt));
  EXPECT_EQ(reports.count("configureNetworkingReportingBlock is not set up yet!"), 1u);
  EXPECT_EQ(reports.count("configureNetworkingErrorReportingBlock is not set up yet!"), 1u);

  std::vector<std::string> first, second, errors;
  reportNetworkingInto(first);
  ZELNetworkingReporting::reportSessionTaskMetrics(metrics, Error("d", -1001));
  EXPECT_EQ(first,
            std::vector<std::string>{R"(network_metrics {"metrics":{"transport":"NSURLSession"},)"
                                     R"("dimensions":{"task_duration":5E0,"error_code":-1001}})"});

  // A second installation is reported and replaces the first; after reset, none is reported.
  reportNetworkingInto(second);
  EXPECT_EQ(reports.count("Can configureNetworkingReportingBlock only once!"), 1u);
  ZELNetworkingReporting::report(std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  EXPECT_EQ(second, std::vector<std::string>{"<absent> <absent>"});
  EXPECT_EQ(reports.count("Invalid parameter not satisfying: title"), 1u);
  ZELNetworkingReporting::reset();
  reportNetworkingInto(second);
  EXPECT_EQ(reports.count("Can configureNetworkingReportingBlock only once!"), 1u);
  // Unknown metrics: reported by the record, nothing sent.
  ZELNetworkingReporting::reportSessionTaskMetrics(std::string("other"));
  EXPECT_EQ(second.size(), 1u);

  // The error record's path gets the trailing "/" unless it has an extension; the root too.
  for (const auto& [url, path] :
       {std::pair{"http://h.test/api/users/me", "/api/users/me/"},
        std::pair{"http://h.test/i/abc.jpg", "/i/abc.jpg"}, std::pair{"http://h.test/", "//"}}) {
    EXPECT_EQ(ZELNetworkError::rawPathFromRequest(URLRequest(*URL::URLWithString(url))), path);
  }
  // The error slot survives reset. The record's addresses come from the last transaction; not
  // an HTTP response: no status, the host from the request.
  ZELNetworkingReporting::configureErrorReportingBlock([&errors](const boost::json::object& error) {
    errors.push_back(boost::json::serialize(error));
  });
  ZELNetworkingReporting::reset();
  URLSessionTaskTransactionMetrics last;
  last.request = URLRequest(*URL::URLWithString("http://request.test/x"));
  last.response = std::make_shared<const URLResponse>(URL::URLWithString("http://other.test/"),
                                                      std::nullopt, -1, std::nullopt);
  last.remoteAddress = "10.1.2.3";
  metrics.transactionMetrics = {last};
  ZELNetworkingReporting::reportNetworkError(std::make_shared<const ZELNetworkError>(
      Error("NSURLErrorDomain", -1001), URLRequest(), metrics));
  EXPECT_EQ(
      errors,
      std::vector<std::string>{
          R"({"dimensions":{"remote_ip":"10.1.2.3","host":"request.test","path":"/x/"},"errors":{"domain":"NSURLErrorDomain","code":-1001,"status_code":0}})"});
}

}  // namespace
}  // namespace zel
