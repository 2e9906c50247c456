// HAR export of real requests: a redirect gives two entries, an upload its post data; every
// entry has HAR 1.2's required fields, its timings add up to its time, credentials are redacted.
#include <gtest/gtest.h>

#include "support/RecordingDelegate.h"
#include "zel/testing/MockServer.h"
#include "zel/reporting/ZELHARExport.h"

namespace zel {
namespace {


ZELHARTask run(URLSession& session, test::RecordingDelegate& delegate, URLRequest request) {
  test::OutcomeWaiter waiter;
  auto task = session.dataTaskWithRequest(std::move(request), waiter.handler());
  task->resume();
  const auto outcome = waiter.wait();
  EXPECT_TRUE(outcome.has_value());
  EXPECT_TRUE(delegate.waitFor(task->taskIdentifier(), "metrics"));
  return ZELHARTask{*delegate.record(task->taskIdentifier()).metrics,
                    ZELNSURLSessionDataTaskResult::resultWithData(outcome->data, outcome->response,
                                                                  outcome->error)};
}

void expectRequiredFields(const boost::json::object& entry) {
  for (const char* key : {"startedDateTime", "time", "request", "response", "cache", "timings"}) {
    EXPECT_TRUE(entry.contains(key)) << key;
  }
  const auto& request = entry.at("request").as_object();
  for (const char* key : {"method", "url", "httpVersion", "cookies", "headers", "queryString",
                          "headersSize", "bodySize"}) {
    EXPECT_TRUE(request.contains(key)) << "request." << key;
  }
  const auto& response = entry.at("response").as_object();
  for (const char* key : {"status", "statusText", "httpVersion", "cookies", "headers", "content",
                          "redirectURL", "headersSize", "bodySize"}) {
    EXPECT_TRUE(response.contains(key)) << "response." << key;
  }
  EXPECT_TRUE(response.at("content").as_object().contains("size"));
  EXPECT_TRUE(response.at("content").as_object().contains("mimeType"));
  const auto& timings = entry.at("timings").as_object();
  double sum = 0;
  for (const char* key : {"blocked", "dns", "connect", "send", "wait", "receive"}) {
    ASSERT_TRUE(timings.contains(key)) << key;
    sum += std::max(0.0, timings.at(key).to_number<double>());
  }
  EXPECT_TRUE(timings.contains("ssl"));
  EXPECT_NEAR(sum, entry.at("time").to_number<double>(), 1.0);
}

TEST(ZELHARExport, RedirectsAndUploadsBecomeCompleteEntries) {
  MockServer server;
  server.route("/old", MockResponse{.status = 302, .headers = {{"Location", "/new?x=1"}}});
  server.route("/new", MockResponse{.headers = {{"Content-Type", "application/json"}},
                                        .body = R"({"ok":true})"});
  server.route("/upload", MockResponse{.body = "stored"});
  auto delegate = std::make_shared<test::RecordingDelegate>();
  auto session = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::ephemeralSessionConfiguration(), delegate);

  auto redirected = test::requestFor(server.url("/old"));
  redirected.setValue("Bearer secret", "Authorization");
  auto upload = test::requestFor(server.url("/upload"));
  upload.setHTTPMethod("POST");
  upload.setValue("multipart/form-data; boundary=b", "Content-Type");
  const std::string body =
      "--b\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nv\r\n--b--\r\n";
  upload.setHTTPBody(Data::copy(std::string_view(body)));
  const std::vector<ZELHARTask> tasks = {run(*session, *delegate, redirected),
                                         run(*session, *delegate, upload)};

  const auto har = ZELHARLogForTasks(tasks);
  const auto& log = har.at("log").as_object();
  EXPECT_EQ(log.at("version"), "1.2");
  EXPECT_TRUE(log.at("creator").as_object().contains("name"));
  const auto& entries = log.at("entries").as_array();
  ASSERT_EQ(entries.size(), 3u);
  for (const auto& entry : entries) expectRequiredFields(entry.as_object());

  const auto& hop = entries[0].as_object();
  EXPECT_EQ(hop.at("response").as_object().at("status"), 302);
  EXPECT_EQ(hop.at("response").as_object().at("redirectURL"), "/new?x=1");
  EXPECT_EQ(hop.at("serverIPAddress"), "127.0.0.1");
  const auto& landed = entries[1].as_object();
  EXPECT_EQ(
      landed.at("request").as_object().at("queryString").as_array().at(0).as_object().at("name"),
      "x");
  EXPECT_EQ(landed.at("response").as_object().at("content").as_object().at("text"),
            R"({"ok":true})");
  for (const auto& header : hop.at("request").as_object().at("headers").as_array()) {
    if (header.as_object().at("name") == "Authorization") {
      EXPECT_EQ(header.as_object().at("value"), "[redacted]");
    }
  }
  const auto& posted = entries[2].as_object().at("request").as_object();
  EXPECT_EQ(posted.at("postData").as_object().at("mimeType"), "multipart/form-data; boundary=b");
  EXPECT_EQ(posted.at("bodySize"), static_cast<std::int64_t>(body.size()));

  // Credentials stay when asked for.
  const auto withCredentials =
      ZELHARLogForTasks({tasks[0]}, ZELHAROptions{.includeCredentials = true});
  bool found = false;
  for (const auto& header : withCredentials.at("log")
                                .as_object()
                                .at("entries")
                                .as_array()[0]
                                .as_object()
                                .at("request")
                                .as_object()
                                .at("headers")
                                .as_array()) {
    found = found || header.as_object().at("value") == "Bearer secret";
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace zel
