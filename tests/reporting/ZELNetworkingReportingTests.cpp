// The reporting hub's slots and operations, and the error record's rules.
#include <gtest/gtest.h>

#include <boost/json/serialize.hpp>

#include "support/AssertionCapture.h"
#include "zel/reporting/ZELNetworkingReporting.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

struct Captured {
  std::vector<std::string> titles;
  std::vector<std::string> additional;  // serialized additional information
  std::vector<std::string> errors;
};

class ReportingHub : public ::testing::Test {
 protected:
  void TearDown() override {
    ZELNetworkingReporting::reset();
    ZELNetworkingReporting::configureErrorReportingBlock(nullptr);
  }
  ZELNetworkingReporting::NetworkingReportingBlock networkingInto(Captured& captured) {
    return [&captured](const auto& title, const auto&, const auto&, const auto& additional) {
      captured.titles.push_back(title.value_or("<absent>"));
      captured.additional.push_back(additional ? boost::json::serialize(*additional) : "<absent>");
    };
  }
  test::AssertionCapture reports;
};

TEST_F(ReportingHub, SlotsAndOperationsFollowTheirRules) {
  URLSessionTaskMetrics metrics;
  metrics.taskInterval.duration = 5ms;
  // Nothing installed: reports are dropped after one report each.
  ZELNetworkingReporting::reportSessionTaskMetrics(metrics);
  ZELNetworkingReporting::reportNetworkError(
      std::make_shared<const ZELNetworkError>(Error("d", 1), URLRequest(), std::nullopt));
  EXPECT_EQ(reports.count("configureNetworkingReportingBlock is not set up yet!"), 1u);
  EXPECT_EQ(reports.count("configureNetworkingErrorReportingBlock is not set up yet!"), 1u);

  Captured first, second, errors;
  ZELNetworkingReporting::configureNetworkingReportingBlock(networkingInto(first));
  ZELNetworkingReporting::reportSessionTaskMetrics(metrics);
  ASSERT_EQ(first.titles, std::vector<std::string>{"network_metrics"});
  EXPECT_EQ(first.additional[0],
            R"({"metrics":{"transport":"NSURLSession"},"dimensions":{"task_duration":5E0}})");

  // A second installation is reported and replaces the first; after reset, none is reported.
  ZELNetworkingReporting::configureNetworkingReportingBlock(networkingInto(second));
  EXPECT_EQ(reports.count("Can configureNetworkingReportingBlock only once!"), 1u);
  ZELNetworkingReporting::report(std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  EXPECT_EQ(second.titles, std::vector<std::string>{"<absent>"});
  EXPECT_EQ(reports.count("Invalid parameter not satisfying: title"), 1u);
  ZELNetworkingReporting::reset();
  ZELNetworkingReporting::configureNetworkingReportingBlock(networkingInto(second));
  EXPECT_EQ(reports.count("Can configureNetworkingReportingBlock only once!"), 1u);

  // The error slot survives reset.
  ZELNetworkingReporting::configureErrorReportingBlock([&errors](const boost::json::object& error) {
    errors.errors.push_back(boost::json::serialize(error));
  });
  ZELNetworkingReporting::reset();
  ZELNetworkingReporting::reportNetworkError(std::make_shared<const ZELNetworkError>(
      Error("NSURLErrorDomain", -1001), URLRequest(), URLSessionTaskMetrics{}));
  EXPECT_EQ(
      errors.errors,
      std::vector<std::string>{
          R"({"dimensions":{"remote_ip":"","host":"","path":""},"errors":{"domain":"NSURLErrorDomain","code":-1001,"status_code":0}})"});

  // Unknown metrics: reported by the record, nothing sent.
  ZELNetworkingReporting::configureNetworkingReportingBlock(networkingInto(second));
  ZELNetworkingReporting::reportSessionTaskMetrics(std::string("other"));
  EXPECT_EQ(second.titles.size(), 1u);
}

TEST(ZELNetworkError, AddressesComeFromTheLastTransaction) {
  const std::vector<std::pair<std::string, std::string>> paths = {
      {"http://h.test/api/users/me", "/api/users/me/"},
      {"http://h.test/i/abc.jpg", "/i/abc.jpg"},
      {"http://h.test/", "//"},
  };
  for (const auto& [url, path] : paths) {
    EXPECT_EQ(ZELNetworkError::rawPathFromRequest(URLRequest(*URL::URLWithString(url))), path);
  }
  URLSessionTaskTransactionMetrics last;
  last.request = URLRequest(*URL::URLWithString("http://request.test/x"));
  last.response = std::make_shared<const URLResponse>(URL::URLWithString("http://other.test/"),
                                                      std::nullopt, -1, std::nullopt);
  last.remoteAddress = "10.1.2.3";
  URLSessionTaskMetrics metrics;
  metrics.transactionMetrics = {last};
  const ZELNetworkError record(std::nullopt, URLRequest(), metrics);
  // Not an HTTP response: no status, the host from the request.
  EXPECT_EQ(
      boost::json::serialize(record.toJSONDictionary()),
      R"({"dimensions":{"remote_ip":"10.1.2.3","host":"request.test","path":"/x/"},"errors":{"domain":"","code":0,"status_code":0}})");
}

}  // namespace
}  // namespace zel
