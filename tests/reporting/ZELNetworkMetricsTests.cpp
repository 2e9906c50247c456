// The network metrics record: its naming rules as tables, and records read from the real
// session's metrics for requests against the loopback server.
#include <gtest/gtest.h>

#include <boost/json/serialize.hpp>

#include "support/AssertionCapture.h"
#include "support/NginxServer.h"
#include "support/RecordingDelegate.h"
#include "zel/testing/MockServer.h"
#include "zel/reporting/ZELNetworkMetrics.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

TEST(ZELNetworkMetrics, PathsTLSNamesAndFetchTypes) {
  test::AssertionCapture reports;
  const std::vector<std::tuple<std::string, std::string, std::string>> paths = {
      // request path, raw_path, path
      {"/api/users/me", "/api/users/me/", "/api/users/me/"},
      {"/", "/", "/"},
      {"", "", ""},
      {"/i/abc.jpg", "/i/abc.jpg", "$.jpg"},
      {"/media/ab/cd.m3u8", "/media/ab/cd.m3u8", "$.m3u8"},
      {"/f/x.JPG", "/f/x.JPG", "/f/x.JPG"},
      {"/doc.pdf", "/doc.pdf", "/doc.pdf"},
      {"/a/.profile", "/a/.profile/", "/a/.profile/"},
  };
  for (const auto& [requestPath, raw, aggregated] : paths) {
    const auto withSlash = ZELNetworkMetrics::addTrailingSlashIfApply(requestPath);
    EXPECT_EQ(withSlash, raw) << requestPath;
    EXPECT_EQ(ZELNetworkMetrics::aggregatePath(withSlash), aggregated) << requestPath;
  }
  EXPECT_EQ(ZELNetworkMetrics::TLSVersionName(0x0303), "TLSv12");
  EXPECT_EQ(ZELNetworkMetrics::TLSVersionName(0x0304), "TLSv13");
  EXPECT_EQ(ZELNetworkMetrics::TLSVersionName(0xFEFD), "DTLSv12");
  EXPECT_EQ(ZELNetworkMetrics::resourceFetchTypeName(3), "local_cache");
  EXPECT_TRUE(reports.messages().empty());
  EXPECT_EQ(ZELNetworkMetrics::TLSVersionName(0x0301), "unknown");
  EXPECT_EQ(ZELNetworkMetrics::resourceFetchTypeName(7), std::nullopt);
  EXPECT_EQ(reports.count("Apple is adding new TLS?"), 1u);
  EXPECT_EQ(reports.count("Apple is adding new fetch type?"), 1u);
}

TEST(ZELNetworkMetrics, SourcesAreChosenByExactType) {
  test::AssertionCapture reports;
  URLSessionTaskMetrics platform;
  platform.taskInterval.duration = 250ms;
  const auto fromPlatform =
      ZELNetworkMetrics::networkMetricsWithSessionTaskMetrics(platform, Error("d", -1001));
  ASSERT_TRUE(fromPlatform);
  EXPECT_EQ(
      boost::json::serialize(fromPlatform->toJSONDictionary()),
      R"({"metrics":{"transport":"NSURLSession"},"dimensions":{"task_duration":2.5E2,"error_code":-1001}})");

  // Another stack: the duration spans its transactions, the declared length stands in for an
  // uncounted decoded body.
  CronetMetrics cronet;
  URLSessionTaskTransactionMetrics first;
  first.fetchStartDate = Date{} + 1s;
  URLSessionTaskTransactionMetrics last;
  last.request = URLRequest(*URL::URLWithString("https://a.test/x"));
  last.request.setHTTPBody(Data::copy(std::string(120, 'b')));
  last.response =
      std::make_shared<const HTTPURLResponse>(*URL::URLWithString("https://a.test/x"), 200,
                                              "HTTP/2", HTTPHeaders{{"Content-Length", "512"}});
  last.responseEndDate = Date{} + 1500ms;
  cronet.transactionMetrics = {first, last};
  const auto fromCronet = ZELNetworkMetrics::networkMetricsWithSessionTaskMetrics(cronet);
  ASSERT_TRUE(fromCronet);
  EXPECT_EQ(fromCronet->transport, "Cronet");
  EXPECT_EQ(fromCronet->task_duration, 500.0);
  EXPECT_EQ(fromCronet->response_size, 512);
  EXPECT_EQ(fromCronet->request_size, 120);
  EXPECT_EQ(fromCronet->raw_path, "/x/");

  EXPECT_EQ(ZELNetworkMetrics::networkMetricsWithSessionTaskMetrics(std::string("other")), nullptr);
  EXPECT_EQ(reports.count(), 1u);
  EXPECT_TRUE(reports.messages().at(0).starts_with("unexpected metric type: "));
}

TEST(ZELNetworkMetrics, ReadsWhatTheSessionMeasuredForRealRequests) {
  MockServer server;
  server.route("/api/items",
               MockResponse{.headers = {{"x-zelvo-rid", "rid-1"}, {"x-cdn", "edge"}},
                                .body = std::string(300, 'r')});
  auto delegate = std::make_shared<test::RecordingDelegate>();
  auto session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::ephemeralSessionConfiguration(), delegate);
  std::vector<boost::json::object> records;
  for (int i = 0; i < 2; ++i) {
    auto request = test::requestFor(server.url("/api/items"));
    request.setHTTPMethod("POST");
    request.setValue("gzip", "Content-Encoding");
    request.setHTTPBody(Data::copy(std::string(200, 'q')));
    test::OutcomeWaiter waiter;
    auto task = session->dataTaskWithRequest(request, waiter.handler());
    task->resume();
    ASSERT_TRUE(waiter.wait().has_value());
    ASSERT_TRUE(delegate->waitFor(task->taskIdentifier(), "metrics"));
    const auto metrics = delegate->record(task->taskIdentifier()).metrics;
    records.push_back(ZELNetworkMetrics(*metrics).toJSONDictionary());
  }
  const auto& m = records[1].at("metrics").as_object();
  const auto& d = records[1].at("dimensions").as_object();
  EXPECT_EQ(m.at("host"), "127.0.0.1");
  EXPECT_EQ(m.at("raw_path"), "/api/items/");
  EXPECT_EQ(m.at("method"), "POST");
  EXPECT_EQ(m.at("network_protocol"), "http/1.1");
  EXPECT_EQ(m.at("request_id"), "rid-1");
  EXPECT_EQ(m.at("cdn"), "edge");
  EXPECT_EQ(m.at("fetch_from"), "network");
  EXPECT_FALSE(m.contains("tls_version"));
  EXPECT_EQ(d.at("status_code"), 200);
  EXPECT_EQ(d.at("request_size"), 200);
  EXPECT_EQ(d.at("request_size_sent"), 200);
  EXPECT_EQ(d.at("response_size"), 300);
  EXPECT_EQ(d.at("response_size_received"), 300);
  EXPECT_GT(d.at("response_headers_size").as_int64(), 0);
  EXPECT_EQ(d.at("is_request_body_gzipped"), true);
  EXPECT_EQ(records[0].at("dimensions").as_object().at("reused_connection"), false);
  EXPECT_EQ(d.at("reused_connection"), true);

  // An image folds into its type's path; a refused connection carries its error's code.
  server.route("/i/abc.jpg", MockResponse{.body = "img"});
  const struct {
    std::string url;
    std::string path;
    std::int64_t errorCode;
  } cases[] = {{server.url("/i/abc.jpg"), "$.jpg", 0},
               {"http://127.0.0.1:1/api/x", "/api/x/", -1004}};
  for (const auto& c : cases) {
    test::OutcomeWaiter waiter;
    auto task = session->dataTaskWithRequest(test::requestFor(c.url), waiter.handler());
    task->resume();
    const auto outcome = waiter.wait();
    ASSERT_TRUE(outcome.has_value());
    ASSERT_TRUE(delegate->waitFor(task->taskIdentifier(), "metrics"));
    const auto record =
        ZELNetworkMetrics(*delegate->record(task->taskIdentifier()).metrics, outcome->error)
            .toJSONDictionary();
    EXPECT_EQ(record.at("metrics").as_object().at("path").as_string(), c.path) << c.url;
    const auto& dimensions = record.at("dimensions").as_object();
    EXPECT_EQ(dimensions.contains("error_code") ? dimensions.at("error_code").as_int64() : 0,
              c.errorCode)
        << c.url;
  }
}

TEST(ZELNetworkMetrics, NamesTheNegotiatedProtocolAndTLSVersionOverHTTPS) {
  if (!test::NginxServer::available()) GTEST_SKIP() << "nginx or openssl is not installed";
  test::NginxServer server(test::NginxServer::Options{.plainHTTPListener = false});
  auto delegate = std::make_shared<test::RecordingDelegate>();
  auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
  config.trustedCAFile = server.caFile();
  auto session = URLSession::sessionWithConfiguration(config, delegate);
  test::OutcomeWaiter waiter;
  auto task = session->dataTaskWithRequest(test::requestFor(server.httpsURL("/envelope")),
                                           waiter.handler());
  task->resume();
  ASSERT_TRUE(waiter.wait().has_value());
  ASSERT_TRUE(delegate->waitFor(task->taskIdentifier(), "metrics"));
  const auto record = ZELNetworkMetrics(*delegate->record(task->taskIdentifier()).metrics);
  EXPECT_EQ(record.network_protocol, "h2");
  EXPECT_TRUE(record.tls_version == "TLSv13" || record.tls_version == "TLSv12")
      << record.tls_version.value_or("<absent>");
  EXPECT_EQ(record.status_code, 200);
}

}  // namespace
}  // namespace zel
